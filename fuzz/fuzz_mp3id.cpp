// Arbitrary files through the tag reader in both views, then through the
// writer in both views with the texts just read (on the fuzzer's own copy):
// once by its name, once through a symbolic link, once as a file with two
// hard links. After every write the audio (everything from the first frame
// header whose next header confirms it) must be unchanged. The ID3v2 write
// keeps every field as read (any encoding) but the title, which becomes a
// UTF-16 text made of the input's first bytes; the fields must read back as
// written. Texts just read are never refused, and an ID3v1 write leaves one
// record the next read finds (files shorter than 200 bytes included). The
// input is also taken as a file name, which shows as UTF-8 text or not at
// all.
#include "id3/framesync.h"
#include "id3/id3v2write.h"
#include "id3/mp3id.h"
#include "platform/textcodec.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

using morvik::TMP3id;
using morvik::TTagView;
using morvik::TTagWriteError;

namespace {

std::string scratchFolder()
{
    static const std::string folder = [] {
        std::string pattern = "/tmp/fuzz_mp3id.XXXXXX";
        if (!::mkdtemp(pattern.data()))
            std::abort();
        static std::string made = pattern;
        std::atexit([] { ::rmdir(made.c_str()); });
        return pattern + "/";
    }();
    return folder;
}

bool writeWhole(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

std::string readWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Everything from the first MPEG frame that the next frame's header (or the
// end of the data) confirms, looked for after an ID3v2 tag whose size field
// is sound and fits the file; empty when there is none.
std::string audioOf(const std::string& data)
{
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    std::size_t from = 0;
    if (data.size() >= 10 && std::memcmp(p, "ID3", 3) == 0) {
        from = 10;
        if (!((p[6] | p[7] | p[8] | p[9]) & 0x80)) {
            std::size_t declared = (std::size_t{p[6]} << 21 | std::size_t{p[7]} << 14 | std::size_t{p[8]} << 7 | p[9]) + 10;
            if (p[3] == 4 && (p[5] & 0x10))
                declared += 10;
            if (declared <= data.size())
                from = declared;
        }
    }
    const std::size_t end = data.size();
    for (std::size_t i = from; i + 4 <= end; ++i) {
        const std::uint32_t length = morvik::id3::mpegFrameLength(p + i);
        if (length == 0)
            continue;
        const std::size_t next = i + length;
        if (next == end || (next + 3 <= end && std::memcmp(p + next, "TAG", 3) == 0) ||
            (next + 4 <= end && morvik::id3::mpegFrameLength(p + next) && morvik::id3::sameMpegStream(p + i, p + next)))
            return data.substr(i);
    }
    return {};
}

bool endsWith(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string g_title; // a UTF-16 title made of the input's first bytes

std::int64_t sizeOf(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return in ? static_cast<std::int64_t>(in.tellg()) : -1;
}

void readThenWrite(const std::string& path, TTagView view)
{
    TMP3id reader(view, false);
    reader.Open(path, 0);
    const bool hasTag = reader.ReadTag();
    reader.Close();
    const std::int64_t sizeBefore = sizeOf(path);

    TMP3id writer(view, true);
    writer.Open(path, 2);
    bool written = writer.IsOpen();
    morvik::id3::TTagFields fields = reader.Fields();
    try {
        if (view == TTagView::ID3v2) {
            fields[morvik::id3::tfTitle] = {1, g_title};
            writer.WriteTag(hasTag, fields, reader.TagPosition());
        } else {
            writer.WriteTag(hasTag, reader.Title(), reader.Artist(), reader.Album(), reader.Year(),
                            reader.Comment(), reader.Track(), reader.Genre(), reader.TagPosition());
        }
    } catch (const TTagWriteError& e) {
        // Refused input (no audio behind a broken size) is an expected
        // answer, but never a track text that was just read.
        if (e.fault() == morvik::TWriteFault::BadTrack)
            std::abort();
        written = false;
    }
    writer.Close();
    if (view == TTagView::ID3v1 && written) {
        TMP3id again(view, false);
        again.Open(path, 0);
        if (!again.ReadTag() || sizeOf(path) != sizeBefore + (hasTag ? 0 : 128))
            std::abort();
        again.Close();
    }
    if (view != TTagView::ID3v2 || !written)
        return;
    TMP3id again(view, false);
    again.Open(path, 0);
    if (!again.ReadTag())
        std::abort();
    again.Close();
    const morvik::id3::TTagFields back = again.Fields();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (back[i] != morvik::id3::forVersion3(fields[i]))
            std::abort();
    }
}

// Writes through `name` (the file itself, a link to it, or one of two hard
// links). The ID3v1 write changes only the record; the ID3v2 write must keep
// every byte from the first frame on.
void writeAndCheck(const std::string& file, const std::string& name)
{
    readThenWrite(name, TTagView::ID3v1);
    const std::string audio = audioOf(readWhole(file));
    readThenWrite(name, TTagView::ID3v2);
    if (!endsWith(readWhole(file), audio))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string folder = scratchFolder();
    const std::string path = folder + "a.mp3";
    const std::string link = folder + "link.mp3";
    const std::string second = folder + "b.mp3";
    g_title = "\xFF\xFE" + std::string(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 6));
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (const auto name = morvik::fileNameToUtf8(bytes)) {
        if (!morvik::isUtf8(*name) || (morvik::isUtf8(bytes) && *name != bytes))
            std::abort();
    }

    if (writeWhole(path, data, size)) {
        writeAndCheck(path, path);
        // Whatever was written must read back without trouble.
        TMP3id again(TTagView::ID3v2, false);
        again.Open(path, 0);
        again.ReadTag();
        again.Close();
    }
    if (writeWhole(path, data, size) && ::symlink("a.mp3", link.c_str()) == 0) {
        writeAndCheck(path, link);
        ::unlink(link.c_str());
    }
    if (writeWhole(path, data, size) && ::link(path.c_str(), second.c_str()) == 0) {
        writeAndCheck(path, second);
        if (readWhole(path) != readWhole(second))
            std::abort();
        ::unlink(second.c_str());
    }
    ::unlink(path.c_str());
    return 0;
}
