#include "compo/mp3info.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "compo/streamreader.h"
#include "id3/mp3id.h"
#include "platform/bytes.h"
#include "platform/textcodec.h"

namespace morvik {

namespace {

constexpr std::int64_t MacBinaryHeaderSize = 128;
constexpr std::int64_t Id3v1Size = 128;
constexpr std::int64_t Id3v2HeaderSize = 10;
constexpr std::int64_t Id3v2FooterSize = 10;
constexpr std::int64_t LyricsEndSize = 9;       // "LYRICSEND" or "LYRICS200"
constexpr std::int64_t Lyrics1Window = 5100;     // the longest version 1 block
constexpr std::int64_t LyricsBeginSize = 11;     // "LYRICSBEGIN"
constexpr std::int64_t Lyrics2SizeDigits = 6;
constexpr std::int64_t Lyrics2FieldHeader = 8;   // 3-letter name and 5 digits

bool startsWith(const std::uint8_t* p, const char* text)
{
    return std::memcmp(p, text, std::strlen(text)) == 0;
}

// Bytes up to the first 0x00 (or all of them).
std::string upToNul(const std::uint8_t* p, std::int64_t length)
{
    if (length <= 0)
        return {};
    const auto* end = p + length;
    return std::string(reinterpret_cast<const char*>(p), reinterpret_cast<const char*>(std::find(p, end, 0)));
}

// Removes trailing spaces and control bytes (everything up to 0x20).
std::string trimRight(std::string s)
{
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 0x20)
        s.pop_back();
    return s;
}

std::string fixedField(const std::uint8_t* record, int first, int last)
{
    return trimRight(upToNul(record + first, last - first + 1));
}

// `units` UTF-16 code units after the encoding byte of a text frame. A byte
// order mark decides the byte order (little-endian without one); the text
// ends at the first U+0000.
std::string utf16FrameText(const std::uint8_t* p, std::int64_t units)
{
    bool bigEndianText = false;
    if (units > 0 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF))) {
        bigEndianText = p[0] == 0xFE;
        p += 2;
        --units;
    }
    std::int64_t length = 0;
    while (length < units && (p[2 * length] != 0 || p[2 * length + 1] != 0))
        ++length;
    return utf16ToCp932(std::string_view(reinterpret_cast<const char*>(p), static_cast<std::size_t>(2 * length)),
                        bigEndianText);
}

// COMM and WXXX: the text after the description, which ends at the last 0x00
// among body bytes 1 to size - 2.
std::string textAfterDescription(const std::uint8_t* body, std::int64_t size)
{
    std::int64_t start = 1;
    for (std::int64_t i = size - 2; i >= 1; --i) {
        if (body[i] == 0) {
            start = i + 1;
            break;
        }
    }
    return trimRight(upToNul(body + start, size - start));
}

bool parseDigits(const std::string& text, std::int64_t* value)
{
    if (text.empty())
        return false;
    std::int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    *value = v;
    return true;
}

std::int64_t roundUpEven(std::int64_t n) { return n + (n & 1); }

} // namespace

TMP3Info::TMP3Info() = default;

void TMP3Info::SetReader(TMPStreamReader* reader)
{
    if (reader)
        Reset();
    m_reader = reader;
}

void TMP3Info::Reset()
{
    m_reader = nullptr;
    m_infoTypes = {};
    m_audioStart = 0;
    m_audioLength = UnknownLength;
    m_macDataStart = m_macDataLength = m_macDataEnd = m_macResourceLength = 0;
    m_riffDataStart = 0;
    m_riffDataSize = UnknownLength;
    m_id3v1Position = 0;
    m_lyricsPosition = 0;
    m_riffInfoList.clear();
    m_id3v1List.clear();
    m_id3v2List.clear();
    m_lyricsList.clear();
}

bool TMP3Info::needBytes(std::int64_t n)
{
    return n >= 0 && n <= m_reader->Capacity() && m_reader->Need(static_cast<std::int32_t>(n));
}

bool TMP3Info::ReadLeading()
{
    MP_ASSERT(m_reader != nullptr);
    if (readMacBinary())
        m_infoTypes.Include(mitMacBin);
    if (readRiff())
        m_infoTypes.Include(mitRiff);
    if (readId3v2())
        m_infoTypes.Include(mitID3V2);
    return needBytes(1);
}

bool TMP3Info::readMacBinary()
{
    if (!needBytes(MacBinaryHeaderSize))
        return false;
    const std::uint8_t* d = m_reader->Data();
    if (d[0] != 0 || d[74] != 0 || d[82] != 0 || d[1] < 1 || d[1] > 31)
        return false;
    const std::int32_t dataLength = static_cast<std::int32_t>(bytes::bigEndian32(d + 83));
    const std::int32_t resourceLength = static_cast<std::int32_t>(bytes::bigEndian32(d + 87));
    if (dataLength < 0 || resourceLength < 0)
        return false;
    m_reader->Skip(MacBinaryHeaderSize);
    m_macDataStart = m_reader->Position();
    m_macDataLength = dataLength;
    m_macDataEnd = m_macDataStart + dataLength;
    m_macResourceLength = resourceLength;
    m_audioStart = m_macDataStart;
    m_audioLength = dataLength;
    return true;
}

// Walks the chunks from the reader's position until one named `id` (and,
// when `formType` is given, with that type in its first 4 data bytes). On
// success the reader stands at that chunk's header.
bool TMP3Info::findChunk(const char* id, const char* formType, std::int32_t* size)
{
    for (;;) {
        if (!needBytes(8))
            return false;
        const std::uint8_t* d = m_reader->Data();
        const std::int32_t chunkSize = static_cast<std::int32_t>(bytes::littleEndian32(d + 4));
        if (chunkSize < 1)
            return false;
        if (startsWith(d, id)) {
            if (!formType) {
                *size = chunkSize;
                return true;
            }
            if (!needBytes(12))
                return false;
            if (startsWith(m_reader->Data() + 8, formType)) {
                *size = chunkSize;
                return true;
            }
        }
        if (!m_reader->Skip(8 + roundUpEven(chunkSize)))
            return false;
    }
}

bool TMP3Info::readRiff()
{
    if (!needBytes(12) || !startsWith(m_reader->Data(), "RIFF"))
        return false;
    m_reader->Skip(12);
    std::int32_t size = 0;
    if (!findChunk("data", nullptr, &size))
        return false;
    m_reader->Skip(8);
    m_riffDataStart = m_reader->Position();
    m_riffDataSize = size;
    m_audioStart = m_riffDataStart;
    m_audioLength = size;
    return true;
}

bool TMP3Info::readId3v2()
{
    if (!needBytes(Id3v2HeaderSize) || !startsWith(m_reader->Data(), "ID3"))
        return false;
    const std::uint8_t* d = m_reader->Data();
    if (!bytes::isSyncSafe(d + 6)) {
        // Size bytes with a high bit set are no size (FF FF FF FF would even
        // read as a frame sync); the audio is looked for after the header.
        if (!m_reader->Skip(Id3v2HeaderSize))
            return false;
        m_audioStart = m_reader->Position();
        if (m_audioLength != UnknownLength)
            m_audioLength = std::max<std::int64_t>(m_audioLength - Id3v2HeaderSize, 0);
        return false;
    }
    const std::int64_t tagSize = bytes::syncSafe28(d + 6);
    if (tagSize <= 0)
        return false;
    const std::uint8_t majorVersion = d[3];
    const std::uint8_t flags = d[5];
    // The size counts neither the header nor the footer that a version 2.4
    // tag with flag bit 4 carries after its frames.
    const std::int64_t footerSize = majorVersion == 4 && (flags & 0x10) ? Id3v2FooterSize : 0;
    const std::int64_t wholeTag = Id3v2HeaderSize + tagSize + footerSize;
    const std::int64_t tagEnd = m_reader->Position() + wholeTag;
    if (majorVersion != 3 || (flags & 0x80)) {
        // Other versions and unsynchronised tags are passed over unread.
        if (!m_reader->Skip(wholeTag))
            return false;
    } else {
        std::int64_t framesOffset = Id3v2HeaderSize;
        if (flags & 0x40) {
            if (!needBytes(Id3v2HeaderSize + 4))
                return false;
            const std::int32_t extendedSize = static_cast<std::int32_t>(bytes::bigEndian32(m_reader->Data() + 10));
            if (extendedSize < 0 || extendedSize + std::int64_t{4} > tagSize)
                return false;
            framesOffset = Id3v2HeaderSize + 4 + extendedSize;
        }
        if (!m_reader->Skip(framesOffset) || !readId3v2Frames(tagEnd))
            return false;
    }
    if (m_reader->Position() != tagEnd)
        return false;
    m_audioStart = tagEnd;
    if (m_audioLength != UnknownLength)
        m_audioLength = std::max<std::int64_t>(m_audioLength - wholeTag, 0);
    return true;
}

bool TMP3Info::readId3v2Frames(std::int64_t tagEnd)
{
    while (tagEnd - m_reader->Position() >= Id3v2HeaderSize) {
        if (!needBytes(Id3v2HeaderSize))
            return false;
        const std::int32_t bodySize = static_cast<std::int32_t>(bytes::bigEndian32(m_reader->Data() + 4));
        if (bodySize <= 0) // padding
            return m_reader->Skip(tagEnd - m_reader->Position());
        const std::int64_t frameSize = Id3v2HeaderSize + bodySize;
        if (frameSize <= m_reader->Capacity()) {
            if (!needBytes(frameSize))
                return false;
            addId3v2Frame(bodySize);
        }
        if (m_reader->Position() + frameSize > tagEnd || !m_reader->Skip(frameSize))
            return false;
    }
    return m_reader->Position() == tagEnd;
}

void TMP3Info::addId3v2Frame(std::int32_t bodySize)
{
    const std::uint8_t* d = m_reader->Data();
    const std::string id = upToNul(d, 4);
    const std::uint8_t* body = d + Id3v2HeaderSize;
    std::string value;
    if (!id.empty() && id[0] == 'T' && body[0] == 1)
        value = utf16FrameText(body + 1, (bodySize - 1) / 2);
    else if (id == "COMM" || id == "WXXX")
        value = textAfterDescription(body, bodySize);
    else
        value = trimRight(upToNul(body + 1, bodySize - 1));
    m_id3v2List.push_back(id + "=" + value);
}

bool TMP3Info::ReadTrailing()
{
    MP_ASSERT(m_reader != nullptr);
    if (!m_reader->Seekable())
        return false;
    if (m_audioLength == UnknownLength)
        m_audioLength = m_reader->Size() - m_audioStart;
    if (m_infoTypes.Has(mitRiff)) {
        try {
            readRiffInfo();
        } catch (const std::exception&) {
            // The INFO texts are a nicety; a damaged chunk must not stop playback.
        }
    }
    if (readId3v1())
        m_infoTypes.Include(mitID3V1);
    if (readLyrics())
        m_infoTypes.Include(mitLyrics);
    return true;
}

void TMP3Info::readRiffInfo()
{
    m_reader->Seek(m_riffDataStart + roundUpEven(m_riffDataSize), soFromBeginning);
    std::int32_t listSize = 0;
    if (!findChunk("LIST", "INFO", &listSize))
        return;
    const std::int64_t listEnd = m_reader->Position() + listSize + 8;
    m_reader->Skip(12);
    while (m_reader->Position() < listEnd) {
        if (!needBytes(8))
            return;
        const std::uint8_t* d = m_reader->Data();
        const std::string id = trimRight(std::string(reinterpret_cast<const char*>(d), 4));
        const std::int32_t size = static_cast<std::int32_t>(bytes::littleEndian32(d + 4));
        if (size < 0)
            return;
        m_reader->Skip(8);
        if (id == "IID3")
            return;
        if (!needBytes(size))
            return;
        const std::string text = trimRight(upToNul(m_reader->Data(), size));
        if (!id.empty() && !text.empty())
            m_riffInfoList.push_back(id + "=" + text);
        if (!m_reader->Skip(roundUpEven(size)))
            return;
    }
}

bool TMP3Info::readId3v1()
{
    const std::int64_t base = m_infoTypes.Has(mitMacBin) ? m_macDataEnd : m_reader->Size();
    const std::int64_t offset = base - Id3v1Size;
    if (offset < 0)
        return false;
    m_reader->Seek(offset, soFromBeginning);
    if (!needBytes(Id3v1Size) || !startsWith(m_reader->Data(), "TAG"))
        return false;
    const std::uint8_t* r = m_reader->Data();
    m_id3v1List.push_back("TITLE=" + fixedField(r, 3, 32));
    m_id3v1List.push_back("ARTIST=" + fixedField(r, 33, 62));
    m_id3v1List.push_back("ALBUM=" + fixedField(r, 63, 92));
    m_id3v1List.push_back("YEAR=" + fixedField(r, 93, 96));
    m_id3v1List.push_back("COMMENT=" + fixedField(r, 97, 126));
    m_id3v1List.push_back("GENRE=" + std::string(GenreTable()[r[127]]));
    m_id3v1List.push_back("GENREIDX=" + std::to_string(r[127]));
    if (r[125] == 0)
        m_id3v1List.push_back("TRACK=" + std::to_string(r[126]));
    m_id3v1Position = offset;
    m_reader->Skip(Id3v1Size);
    return true;
}

bool TMP3Info::readLyrics()
{
    std::int64_t base = m_reader->Size();
    if (m_infoTypes.Has(mitID3V1))
        base = m_id3v1Position;
    else if (m_infoTypes.Has(mitMacBin))
        base = m_macDataEnd;
    const std::int64_t end = base - LyricsEndSize;
    if (end < 0 || end > m_reader->Size())
        return false;
    m_reader->Seek(end, soFromBeginning);
    if (!needBytes(LyricsEndSize))
        return false;
    const std::uint8_t* d = m_reader->Data();
    if (startsWith(d, "LYRICSEND"))
        return readLyrics1(end);
    if (startsWith(d, "LYRICS200"))
        return readLyrics2(end);
    return false;
}

bool TMP3Info::readLyrics1(std::int64_t end)
{
    const std::int64_t from = std::max<std::int64_t>(end - Lyrics1Window, 0);
    std::string block;
    if (!readRange(from, end - from, &block))
        return false;
    const auto begin = block.find("LYRICSBEGIN");
    if (begin == std::string::npos)
        return false;
    m_lyricsList.push_back("LYRICS=" + block.substr(begin + LyricsBeginSize));
    m_lyricsPosition = from + static_cast<std::int64_t>(begin);
    return true;
}

bool TMP3Info::readLyrics2(std::int64_t end)
{
    std::string text;
    std::int64_t blockLength = 0;
    if (end < Lyrics2SizeDigits || !readRange(end - Lyrics2SizeDigits, Lyrics2SizeDigits, &text) ||
        !parseDigits(text, &blockLength) || blockLength <= 0)
        return false;
    const std::int64_t fieldsEnd = end - Lyrics2SizeDigits;
    const std::int64_t start = fieldsEnd - blockLength;
    if (start < 0 || !readRange(start, LyricsBeginSize, &text) || text != "LYRICSBEGIN")
        return false;
    TMPStringList fields;
    std::int64_t pos = start + LyricsBeginSize;
    while (pos < fieldsEnd) {
        std::int64_t length = 0;
        if (fieldsEnd - pos < Lyrics2FieldHeader || !readRange(pos, Lyrics2FieldHeader, &text) ||
            !parseDigits(text.substr(3), &length) || length <= 0 ||
            length > fieldsEnd - pos - Lyrics2FieldHeader)
            return false;
        std::string value;
        if (!readRange(pos + Lyrics2FieldHeader, length, &value))
            return false;
        fields.push_back(text.substr(0, 3) + "=" + value);
        pos += Lyrics2FieldHeader + length;
    }
    m_lyricsList.insert(m_lyricsList.end(), fields.begin(), fields.end());
    m_lyricsPosition = start;
    return true;
}

// Reads `length` bytes at `from` in pieces no larger than the reader.
bool TMP3Info::readRange(std::int64_t from, std::int64_t length, std::string* out)
{
    out->clear();
    m_reader->Seek(from, soFromBeginning);
    while (length > 0) {
        const std::int64_t piece = std::min<std::int64_t>(length, m_reader->Capacity());
        if (!needBytes(piece))
            return false;
        out->append(reinterpret_cast<const char*>(m_reader->Data()), static_cast<std::size_t>(piece));
        m_reader->Skip(piece);
        length -= piece;
    }
    return true;
}

} // namespace morvik
