#include "id3/mp3id.h"

#include "platform/bytes.h"
#include "platform/posixfile.h"
#include "platform/textcodec.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace morvik {
namespace {

constexpr std::size_t kV1SearchBytes = 200;  // the record is looked for in the last 200 bytes
constexpr std::size_t kV1Buffer = 4096;
constexpr std::size_t kV2Window = 4096;      // file offsets 3 to 4098
constexpr std::size_t kRewritePadding = 2001;
constexpr std::size_t kCopyBuffer = 1 << 20;
// The software text of the TSSE frame. The tag writer and the window are
// versioned apart: the window's title says "ver2.03" while the writer still
// stamps "ver2.01", and both are right. Files already written carry this text.
constexpr char kEncoderText[] = "Morvik ver2.01";

std::string withoutNulBytes(const std::string& s)
{
    std::string out = s;
    out.erase(std::remove(out.begin(), out.end(), '\0'), out.end());
    return out;
}

// The bytes of `window` from `start`, `count` long, cut at the window's end.
std::string takeBytes(const unsigned char* window, std::size_t windowSize, std::int64_t start,
                      std::int64_t count)
{
    if (count <= 0 || start < 0 || start >= static_cast<std::int64_t>(windowSize))
        return {};
    const auto n = std::min<std::int64_t>(count, static_cast<std::int64_t>(windowSize) - start);
    return std::string(reinterpret_cast<const char*>(window + start), static_cast<std::size_t>(n));
}

std::string upToFirstNul(std::string s)
{
    const auto nul = s.find('\0');
    if (nul != std::string::npos)
        s.resize(nul);
    return s;
}

void putBigEndian32(std::string& out, std::uint32_t v)
{
    char word[4];
    bytes::putBigEndian32(word, v);
    out.append(word, sizeof word);
}

void appendFrame(std::string& out, const char* id, const std::string& body)
{
    out.append(id, 4);
    putBigEndian32(out, static_cast<std::uint32_t>(body.size()));
    out.append(2, '\0');
    out += body;
}

void appendTextFrame(std::string& out, const char* id, const std::string& text)
{
    appendFrame(out, id, std::string(1, '\0') + text);
}

// A track text is empty or a decimal number from 0 to 255.
bool parseTrack(const std::string& text, int* value)
{
    *value = 0;
    if (text.empty())
        return true;
    if (text.size() > 3)
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        *value = *value * 10 + (c - '0');
    }
    return *value <= 255;
}

// Index written into the genre byte or the "(n)" prefix: the first table
// entry equal to the name; an empty name finds the first empty entry, 148.
int genreNumber(const std::string& genre, int whenUnknown)
{
    const int index = GenreIndex(genre);
    return index < 0 ? whenUnknown : index;
}

std::string describe(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            static const char hex[] = "0123456789abcdef";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

} // namespace

namespace id3 {

std::string cutShiftJis(std::string_view text, std::size_t width)
{
    if (text.size() <= width)
        return std::string(text);
    // Walk characters from the start: a trail byte can look like a lead byte,
    // so only a walk from the start knows where characters begin.
    std::size_t i = 0;
    while (i < width) {
        const std::size_t length = isCp932LeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1;
        if (i + length > width)
            break;
        i += length;
    }
    return std::string(text.substr(0, i));
}

std::string buildId3v2Tag(const std::string& title, const std::string& artist,
                          const std::string& album, const std::string& year,
                          const std::string& comment, const std::string& track,
                          const std::string& genre)
{
    std::string tag = std::string("ID3\x03\x00\x00", 6) + std::string(4, '\0');
    appendTextFrame(tag, "TPE1", artist);
    appendTextFrame(tag, "TIT2", title);
    appendTextFrame(tag, "TALB", album);
    appendTextFrame(tag, "TRCK", track);
    appendFrame(tag, "COMM", std::string("\0eng\0", 5) + comment);
    appendTextFrame(tag, "TCON", "(" + std::to_string(genreNumber(genre, 256)) + ")" + genre);
    appendTextFrame(tag, "TYER", year);
    appendTextFrame(tag, "TSSE", kEncoderText);
    return tag;
}

} // namespace id3

TMP3id::TMP3id(TTagView view, bool keepDate) : m_view(view), m_keepDate(keepDate) {}

TMP3id::~TMP3id() = default;

void TMP3id::Open(const std::string& path, int mode)
{
    m_fileName = path;
    m_file = std::make_unique<PosixFile>(
        PosixFile::open(path, mode == 2 ? PosixFile::Mode::ReadWrite : PosixFile::Mode::ReadOnly));
    m_openError = m_file->valid() ? 0 : m_file->lastError();
    m_haveSavedTime = false;
    if (m_keepDate && m_file->valid()) {
        if (const auto t = m_file->modificationTime()) {
            m_savedTime = *t;
            m_haveSavedTime = true;
        }
    }
}

void TMP3id::Close()
{
    if (!m_file)
        return;
    if (m_keepDate && m_haveSavedTime)
        m_file->setModificationTime(m_savedTime);
    m_file->close();
}

bool TMP3id::IsOpen() const { return m_file && m_file->valid(); }

bool TMP3id::ReadTag()
{
    switch (m_view) {
    case TTagView::ID3v2:
        return readId3v2();
    case TTagView::ID3v1:
        return readId3v1();
    case TTagView::None:
        break;
    }
    return false;
}

bool TMP3id::readId3v1()
{
    const std::int64_t size = IsOpen() ? m_file->size() : -1;
    const std::int64_t start = size - static_cast<std::int64_t>(kV1SearchBytes);
    m_tagPosition = static_cast<std::int32_t>(start);

    unsigned char buffer[kV1Buffer] = {};
    std::size_t got = 0;
    if (size < 0 || start < 0 || !m_file->readAt(start, buffer, kV1SearchBytes, &got) ||
        got != kV1SearchBytes) {
        m_fields.track = std::string(1, '\0');
        return false;
    }
    const unsigned char* found = nullptr;
    for (std::size_t p = 0; p + 3 <= kV1SearchBytes && !found; ++p)
        if (std::memcmp(buffer + p, "TAG", 3) == 0)
            found = buffer + p;
    if (!found) {
        m_fields.track = std::string(1, '\0');
        return false;
    }
    const std::size_t p = static_cast<std::size_t>(found - buffer);
    m_tagPosition = static_cast<std::int32_t>(start + static_cast<std::int64_t>(p) + 3);
    const auto field = [&](std::size_t offset, std::size_t n) {
        return std::string(reinterpret_cast<const char*>(found + offset), n);
    };
    m_fields.title = field(3, 30);
    m_fields.artist = field(33, 30);
    m_fields.album = field(63, 30);
    m_fields.year = field(93, 4);
    m_fields.comment = field(97, 28);
    if (m_fields.year == std::string(4, '\0'))
        m_fields.year.clear();
    m_fields.track = found[125] == 0x20 ? std::string() : std::to_string(found[126]);
    m_fields.genre = std::string(GenreTable()[found[127]]);
    return true;
}

bool TMP3id::readId3v2()
{
    unsigned char magic[3] = {};
    std::size_t got = 0;
    if (!IsOpen() || !m_file->readAt(0, magic, 3, &got) || got != 3 || std::memcmp(magic, "ID3", 3) != 0)
        return false;
    unsigned char window[kV2Window] = {};
    m_file->read(window, kV2Window);

    struct FrameTarget {
        const char* id;
        std::string Fields::*field;
    };
    static const FrameTarget targets[] = {
        {"TIT2", &Fields::title}, {"TPE1", &Fields::artist}, {"TALB", &Fields::album},
        {"TRCK", &Fields::track}, {"COMM", &Fields::comment}, {"TCON", &Fields::genre},
        {"TYER", &Fields::year},
    };
    const unsigned char* end = window + kV2Window;
    for (const FrameTarget& t : targets) {
        const auto* id = reinterpret_cast<const unsigned char*>(t.id);
        const unsigned char* at = std::search(static_cast<const unsigned char*>(window), end, id, id + 4);
        if (at == end)
            continue;
        const std::int64_t q = at - window;
        unsigned char sizeBytes[4] = {};
        for (int k = 0; k < 4; ++k)
            if (q + 4 + k < static_cast<std::int64_t>(kV2Window))
                sizeBytes[k] = window[q + 4 + k];
        const auto n = static_cast<std::int64_t>(static_cast<std::int32_t>(bytes::bigEndian32(sizeBytes)));
        const bool plainText = q + 10 < static_cast<std::int64_t>(kV2Window) && window[q + 10] == 0;
        const bool isComment = std::strcmp(t.id, "COMM") == 0;

        std::string text;
        if (isComment && plainText) {
            // Encoding 0: the description ends at its 0x00; the comment follows.
            const std::string body = takeBytes(window, kV2Window, q + 14, n - 4);
            const auto nul = body.find('\0');
            text = nul == std::string::npos ? takeBytes(window, kV2Window, q + 15, n - 5)
                                            : body.substr(nul + 1);
        } else if (isComment) {
            text = takeBytes(window, kV2Window, q + 15, n - 5);
        } else {
            text = takeBytes(window, kV2Window, q + 11, n - 1);
        }
        // Version 2.3 allows a terminating 0x00 on single-byte text, and
        // peers write one; the text ends there.
        if (plainText)
            text = upToFirstNul(std::move(text));
        if (std::strcmp(t.id, "TCON") == 0) {
            const auto close = text.find(')');
            if (close != std::string::npos)
                text.erase(0, close + 1);
        }
        m_fields.*(t.field) = std::move(text);
    }
    return true;
}

std::string TMP3id::Title() const { return withoutNulBytes(m_fields.title); }
std::string TMP3id::Artist() const { return withoutNulBytes(m_fields.artist); }
std::string TMP3id::Album() const { return withoutNulBytes(m_fields.album); }
std::string TMP3id::Year() const { return m_fields.year; }
std::string TMP3id::Comment() const { return withoutNulBytes(m_fields.comment); }
std::string TMP3id::Genre() const { return m_fields.genre; }

std::string TMP3id::Track() const
{
    return m_fields.track == std::string(1, '\0') ? std::string() : m_fields.track;
}

void TMP3id::fail(const std::string& what, int err) const
{
    throw TTagWriteError(m_fileName + ": " + what + (err ? ": " + systemErrorText(err) : ""));
}

void TMP3id::WriteTag(bool hasTag, const std::string& title, const std::string& artist,
                      const std::string& album, const std::string& year, const std::string& comment,
                      const std::string& track, const std::string& genre, std::int32_t tagPosition)
{
    int trackNumber = 0;
    if (!parseTrack(track, &trackNumber))
        fail("track \"" + describe(track) + "\" is not a number from 0 to 255", 0);
    // A file that could not be opened is not written.
    if (!IsOpen())
        return;
    const bool positioned = m_file->seek(tagPosition);
    const Fields f{title, artist, album, year, comment, track, genre};
    if (m_view == TTagView::ID3v1) {
        // The record is updated where it was found; if the file no longer
        // has "TAG" there (it changed since it was read, or the position
        // did not fit), writing would overwrite audio.
        if (hasTag && !(positioned && tagBytesBefore(tagPosition)))
            fail("no ID3v1 tag at the position read before", 0);
        m_file->seek(tagPosition);
        writeId3v1(hasTag, f);
    }
    else if (m_view == TTagView::ID3v2)
        writeId3v2(f);
}

bool TMP3id::tagBytesBefore(std::int64_t position)
{
    char magic[3] = {};
    std::size_t got = 0;
    return position >= 3 && m_file->readAt(position - 3, magic, 3, &got) && got == 3 &&
           std::memcmp(magic, "TAG", 3) == 0;
}

void TMP3id::writeId3v1(bool hasTag, const Fields& f)
{
    using id3::cutShiftJis;
    const auto padded = [](const std::string& text, std::size_t width, char pad) {
        std::string s = cutShiftJis(text, width);
        s.resize(width, pad);
        return s;
    };
    std::string record;
    if (!hasTag) {
        if (!m_file->seekToEnd())
            fail("cannot append the ID3v1 tag", m_file->lastError());
        record = "TAG";
    }
    record += padded(f.title, 30, '\0');
    record += padded(f.artist, 30, '\0');
    record += padded(f.album, 30, '\0');
    record += padded(f.year, 4, '\0');
    record += padded(f.comment, 28, ' ');
    int trackNumber = 0;
    parseTrack(f.track, &trackNumber);
    if (f.track.empty()) {
        record += "  ";
    } else {
        record += '\0';
        record += static_cast<char>(trackNumber);
    }
    record += static_cast<char>(genreNumber(f.genre, 0));
    if (!m_file->write(record.data(), record.size()))
        fail("cannot write the ID3v1 tag", m_file->lastError());
}

void TMP3id::writeId3v2(const Fields& f)
{
    std::string tag = id3::buildId3v2Tag(f.title, f.artist, f.album, f.year, f.comment, f.track, f.genre);
    const std::int64_t frames = static_cast<std::int64_t>(tag.size()) - 10;

    unsigned char head[10] = {};
    std::size_t got = 0;
    m_file->readAt(0, head, sizeof head, &got);
    const std::int64_t fileSize = m_file->size();
    std::int64_t oldTagEnd = 0;
    bool cleanVersion3 = false;
    if (got >= 3 && std::memcmp(head, "ID3", 3) == 0) {
        oldTagEnd = (got == 10 ? bytes::syncSafe28(head + 6) : 0) + 10;
        const bool footer = head[3] == 4 && (head[5] & 0x10);
        if (footer)
            oldTagEnd += 10;
        cleanVersion3 = got == 10 && head[3] == 3 && head[5] == 0;
    }

    if (cleanVersion3 && frames + 10 <= oldTagEnd && oldTagEnd <= fileSize) {
        // In place: frames and padding fill the old tag exactly; the header
        // and the audio stay where they are.
        tag.resize(static_cast<std::size_t>(oldTagEnd), '\0');
        if (!m_file->writeAt(10, tag.data() + 10, tag.size() - 10))
            fail("cannot write the ID3v2 tag", m_file->lastError());
        if (m_keepDate && m_haveSavedTime)
            m_file->setModificationTime(m_savedTime);
        if (!m_file->close())
            fail("cannot write the ID3v2 tag", m_file->lastError());
        return;
    }
    tag.append(kRewritePadding, '\0');
    const std::uint64_t size = tag.size() - 10;
    if (size >= (1u << 28))
        fail("the tag is too large", 0);
    bytes::putSyncSafe28(tag.data() + 6, static_cast<std::uint32_t>(size));
    rewriteWithTag(tag, std::min(oldTagEnd, std::max<std::int64_t>(fileSize, 0)));
}

// Writes the new tag and the file's audio from `oldTagEnd` on into a
// temporary file beside it, then puts that file in the original's place with
// one rename. Until the rename the original is untouched.
void TMP3id::rewriteWithTag(const std::string& tag, std::int64_t oldTagEnd)
{
    TempFileBeside temp(m_fileName);
    if (!temp.valid())
        fail("cannot create a temporary file", temp.error());
    PosixFile& out = temp.file();
    if (!out.write(tag.data(), tag.size()))
        fail("cannot write the new file", out.lastError());

    std::vector<char> buffer(kCopyBuffer);
    if (!m_file->seek(oldTagEnd))
        fail("cannot read the file", m_file->lastError());
    while (true) {
        const std::size_t got = m_file->read(buffer.data(), buffer.size());
        if (m_file->lastError() != 0)
            fail("cannot read the file", m_file->lastError());
        if (got == 0)
            break;
        if (!out.write(buffer.data(), got))
            fail("cannot write the new file", out.lastError());
    }
    if (const auto mode = m_file->permissions())
        out.setPermissions(*mode);
    if (m_keepDate && m_haveSavedTime)
        out.setModificationTime(m_savedTime);
    if (!temp.commitTo(m_fileName))
        fail("cannot replace the file", temp.error());
    m_file->close();
}

} // namespace morvik
