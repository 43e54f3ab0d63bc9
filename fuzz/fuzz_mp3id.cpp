// Arbitrary files through the tag reader in both views, then through the
// writer in both views with the texts just read (on the fuzzer's own copy).
#include "id3/mp3id.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

using morvik::TMP3id;
using morvik::TTagView;
using morvik::TTagWriteError;

namespace {

std::string scratchPath()
{
    static const std::string path = "/tmp/fuzz_mp3id." + std::to_string(::getpid()) + ".mp3";
    return path;
}

bool writeWhole(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

void readThenWrite(const std::string& path, TTagView view)
{
    TMP3id reader(view, false);
    reader.Open(path, 0);
    const bool hasTag = reader.ReadTag();
    reader.Close();

    TMP3id writer(view, true);
    writer.Open(path, 2);
    try {
        writer.WriteTag(hasTag, reader.Title(), reader.Artist(), reader.Album(), reader.Year(),
                        reader.Comment(), reader.Track(), reader.Genre(), reader.TagPosition());
    } catch (const TTagWriteError&) {
        // Refused input (a track that is not 0-255) is an expected answer.
    }
    writer.Close();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = scratchPath();
    if (!writeWhole(path, data, size))
        return 0;
    readThenWrite(path, TTagView::ID3v1);
    readThenWrite(path, TTagView::ID3v2);
    // Whatever was written must read back without trouble.
    TMP3id again(TTagView::ID3v2, false);
    again.Open(path, 0);
    again.ReadTag();
    again.Close();
    ::unlink(path.c_str());
    return 0;
}
