#include "id3/id3v2tag.h"

#include "id3/mp3id.h"
#include "platform/bytes.h"
#include "platform/posixfile.h"

#include <algorithm>
#include <cstring>

namespace morvik::id3 {
namespace {

constexpr std::int64_t kHeaderSize = 10;

// Frame flags that change how the body is stored.
constexpr std::uint16_t kV3Compressed = 0x0080;
constexpr std::uint16_t kV3Encrypted = 0x0040;
constexpr std::uint16_t kV3Grouped = 0x0020;
constexpr std::uint16_t kV4Grouped = 0x0040;
constexpr std::uint16_t kV4Compressed = 0x0008;
constexpr std::uint16_t kV4Encrypted = 0x0004;
constexpr std::uint16_t kV4Unsynchronised = 0x0002;
constexpr std::uint16_t kV4DataLength = 0x0001;
constexpr std::uint8_t kTagUnsynchronised = 0x80;
constexpr std::uint8_t kTagExtendedHeader = 0x40;

bool isUtf16(unsigned char encoding) { return encoding == 1 || encoding == 2; }

// The code units of a text: bytes, or 16-bit units read in the order the
// byte-order mark gives (little-endian without one; big-endian for
// encoding 2). `markBytes` receives the length of the mark.
std::vector<std::uint32_t> codeUnits(const TTagField& field, std::size_t* markBytes)
{
    std::vector<std::uint32_t> units;
    const std::string& b = field.bytes;
    *markBytes = 0;
    if (!isUtf16(field.encoding)) {
        for (unsigned char c : b)
            units.push_back(c);
        return units;
    }
    bool bigEndian = field.encoding == 2;
    if (field.encoding == 1 && b.size() >= 2) {
        if (b.compare(0, 2, "\xFE\xFF") == 0) {
            bigEndian = true;
            *markBytes = 2;
        } else if (b.compare(0, 2, "\xFF\xFE") == 0) {
            *markBytes = 2;
        }
    }
    for (std::size_t i = *markBytes; i + 1 < b.size(); i += 2) {
        const auto hi = static_cast<unsigned char>(b[bigEndian ? i : i + 1]);
        const auto lo = static_cast<unsigned char>(b[bigEndian ? i + 1 : i]);
        units.push_back(std::uint32_t{hi} << 8 | lo);
    }
    return units;
}

std::size_t unitBytes(unsigned char encoding) { return isUtf16(encoding) ? 2 : 1; }

// A body's text after the group byte of a grouped frame.
std::string withoutGroupByte(std::string body, int version, std::uint16_t flags)
{
    const bool grouped = (version == 3 && (flags & kV3Grouped)) || (version == 4 && (flags & kV4Grouped));
    if (grouped && !body.empty())
        body.erase(0, 1);
    return body;
}

// The text of a text frame. Encoding 0 ends at the first 0x00; the other
// encodings keep every byte after the encoding byte (terminator, further
// values), so a field left alone is written back as the same frame. An
// encoding byte that is none of the four is taken as 0, so the bytes are
// kept as they stand.
TTagField textOf(const std::string& body)
{
    if (body.empty())
        return {};
    const auto encoding = static_cast<unsigned char>(body[0]);
    const unsigned char used = encoding <= 3 ? encoding : 0;
    std::size_t next = 0;
    return TTagField{used, used == 0 ? stringAt(body, 1, used, &next) : body.substr(1)};
}

// The comment of a COMM body and whether its description is empty.
TTagField commentOf(const std::string& body, bool* emptyDescription)
{
    *emptyDescription = true;
    if (body.size() < 4)
        return {};
    const auto encoding = static_cast<unsigned char>(body[0]);
    const unsigned char used = encoding <= 3 ? encoding : 0;
    std::size_t next = 0;
    const std::string description = stringAt(body, 4, used, &next);
    *emptyDescription = description.empty() || (used == 1 && description.size() == 2 &&
                                                 (description == "\xFF\xFE" || description == "\xFE\xFF"));
    // A description without its terminator: the comment is taken from the
    // fifth byte, as if the description were empty.
    if (used == 0 && next == body.size() && body.find('\0', 4) == std::string::npos)
        return TTagField{0, stringAt(body, std::min<std::size_t>(5, body.size()), 0, &next)};
    return TTagField{used, used == 0 ? stringAt(body, next, used, &next) : body.substr(std::min(next, body.size()))};
}

// The first four characters of a version 2.4 recording time: its year.
TTagField yearOfRecordingTime(const TTagField& recorded)
{
    const TTagField time{recorded.encoding, firstString(recorded)};
    std::size_t mark = 0;
    codeUnits(time, &mark);
    const std::size_t length = mark + 4 * unitBytes(time.encoding);
    return TTagField{time.encoding, time.bytes.substr(0, std::min(length, time.bytes.size()))};
}

} // namespace

std::size_t FileByteSource::readAt(std::int64_t offset, void* out, std::size_t n)
{
    std::size_t got = 0;
    if (n > sizeof m_cache)
        return m_file.readAt(offset, out, n, &got) ? got : 0;
    if (offset < m_start || offset + static_cast<std::int64_t>(n) > m_start + static_cast<std::int64_t>(m_length)) {
        m_length = 0;
        m_start = offset;
        if (!m_file.readAt(offset, m_cache, sizeof m_cache, &got))
            return 0;
        m_length = got;
    }
    const auto from = static_cast<std::size_t>(offset - m_start);
    const std::size_t count = std::min(n, m_length - std::min(from, m_length));
    std::memcpy(out, m_cache + from, count);
    return count;
}

bool isFrameId(const char* id, std::size_t length)
{
    const auto upper = [](char c) { return c >= 'A' && c <= 'Z'; };
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (!upper(id[0]))
        return false;
    for (std::size_t i = 1; i < length; ++i)
        if (!upper(id[i]) && !digit(id[i]))
            return false;
    return true;
}

std::string stringAt(const std::string& bytes, std::size_t start, unsigned char encoding, std::size_t* next)
{
    if (start >= bytes.size()) {
        *next = bytes.size();
        return {};
    }
    if (!isUtf16(encoding)) {
        const std::size_t nul = bytes.find('\0', start);
        *next = nul == std::string::npos ? bytes.size() : nul + 1;
        return bytes.substr(start, (nul == std::string::npos ? bytes.size() : nul) - start);
    }
    for (std::size_t i = start; i + 1 < bytes.size(); i += 2) {
        if (bytes[i] == '\0' && bytes[i + 1] == '\0') {
            *next = i + 2;
            return bytes.substr(start, i - start);
        }
    }
    *next = bytes.size();
    return bytes.substr(start);
}

std::string withoutUnsynchronisation(const std::string& bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        out += bytes[i];
        if (bytes[i] == '\xFF' && i + 1 < bytes.size() && bytes[i + 1] == '\0')
            ++i;
    }
    return out;
}

std::optional<std::string> asciiText(const TTagField& field)
{
    std::size_t mark = 0;
    std::string text;
    for (std::uint32_t u : codeUnits(field, &mark)) {
        if (u >= 0x80)
            return std::nullopt;
        text += static_cast<char>(u);
    }
    return text;
}

std::string firstString(const TTagField& field)
{
    std::size_t next = 0;
    return stringAt(field.bytes, 0, field.encoding, &next);
}

TTagField genreOfTcon(const TTagField& tcon, int version)
{
    const TTagField text{tcon.encoding, firstString(tcon)};
    std::size_t mark = 0;
    const std::vector<std::uint32_t> units = codeUnits(text, &mark);
    const auto isDigit = [](std::uint32_t u) { return u >= '0' && u <= '9'; };
    const auto numberOf = [&](std::size_t from, std::size_t to) {
        long n = 0;
        for (std::size_t k = from; k < to && n < 100000; ++k)
            n = n * 10 + static_cast<long>(units[k] - '0');
        return n;
    };
    // Leading references "(n)", as version 2.3 and older tools write them.
    std::size_t i = 0;
    long first = -1;
    while (i < units.size() && units[i] == '(') {
        std::size_t j = i + 1;
        while (j < units.size() && isDigit(units[j]))
            ++j;
        if (j == i + 1 || j >= units.size() || units[j] != ')')
            break;
        if (first < 0)
            first = numberOf(i + 1, j);
        i = j + 1;
    }
    const auto tableName = [](long n) {
        return TTagField{0, n < 256 ? std::string(GenreTable()[static_cast<std::size_t>(n)]) : std::string()};
    };
    if (i == units.size() && first >= 0)
        return tableName(first);
    if (i == 0 && version == 4 && !units.empty() && units.size() <= 3 &&
        std::all_of(units.begin(), units.end(), isDigit))
        return tableName(numberOf(0, units.size()));
    const std::size_t cut = mark + i * unitBytes(text.encoding);
    return TTagField{text.encoding, text.bytes.substr(0, mark) + text.bytes.substr(std::min(cut, text.bytes.size()))};
}

std::optional<Id3v2Tag> Id3v2Tag::read(ByteSource& source, std::int64_t fileSize)
{
    unsigned char h[kHeaderSize] = {};
    const std::size_t got = source.readAt(0, h, sizeof h);
    if (got < 3 || std::memcmp(h, "ID3", 3) != 0)
        return std::nullopt;
    Id3v2Tag tag(source);
    if (got < sizeof h)
        return tag;
    tag.m_version = h[3];
    tag.m_revision = h[4];
    tag.m_flags = h[5];
    tag.m_declaredEnd = bytes::syncSafe28(h + 6) + kHeaderSize;
    const std::int64_t end = std::min(tag.m_declaredEnd, fileSize);
    if (tag.m_version < 2 || tag.m_version > 4 || (tag.m_version == 2 && (tag.m_flags & kTagExtendedHeader)))
        return tag; // unknown, or a compressed 2.2 tag: no frames can be read
    std::int64_t streamEnd = end;
    if (tag.m_version < 4 && (tag.m_flags & kTagUnsynchronised) && end > kHeaderSize) {
        std::string stored(static_cast<std::size_t>(end - kHeaderSize), '\0');
        stored.resize(source.readAt(kHeaderSize, stored.data(), stored.size()));
        tag.m_stream = withoutUnsynchronisation(stored);
        tag.m_unsynchronised = true;
        streamEnd = kHeaderSize + static_cast<std::int64_t>(tag.m_stream.size());
    }
    std::int64_t from = kHeaderSize;
    if (tag.m_flags & kTagExtendedHeader) {
        unsigned char size[4] = {};
        if (tag.readStream(from, size, 4) != 4) {
            tag.m_damagedAt = from;
            return tag;
        }
        // 2.3 counts the bytes after the size field, 2.4 the whole header.
        const std::int64_t extended = tag.m_version == 3 ? 4 + std::int64_t{bytes::bigEndian32(size)}
                                                         : std::int64_t{bytes::syncSafe28(size)};
        if (extended < 6 || extended > streamEnd - from) {
            tag.m_damagedAt = from;
            return tag;
        }
        from += extended;
    }
    tag.walk(from, streamEnd);
    return tag;
}

std::size_t Id3v2Tag::readStream(std::int64_t offset, void* out, std::size_t n) const
{
    if (!m_unsynchronised)
        return m_source->readAt(offset, out, n);
    const std::int64_t at = offset - kHeaderSize;
    if (at < 0 || static_cast<std::uint64_t>(at) >= m_stream.size())
        return 0;
    const std::size_t count = std::min(n, m_stream.size() - static_cast<std::size_t>(at));
    std::memcpy(out, m_stream.data() + at, count);
    return count;
}

bool Id3v2Tag::frameCanStart(std::int64_t at, std::int64_t end) const
{
    if (at == end)
        return true;
    char id[4] = {};
    const auto length = static_cast<std::size_t>(headerSize() == 6 ? 3 : 4);
    if (at > end || readStream(at, id, length) != length)
        return false;
    return id[0] == '\0' || isFrameId(id, length);
}

std::optional<std::uint32_t> Id3v2Tag::frameSize(const unsigned char* header, std::int64_t at,
                                                 std::int64_t end) const
{
    const std::int64_t room = end - at - headerSize();
    const auto fits = [room](std::int64_t size) { return size >= 0 && size <= room; };
    if (m_version == 2) {
        const std::uint32_t size = bytes::bigEndian24(header + 3);
        return fits(size) ? std::optional(size) : std::nullopt;
    }
    const std::uint32_t plain = bytes::bigEndian32(header + 4);
    if (m_version == 3)
        return fits(plain) ? std::optional(plain) : std::nullopt;
    // Version 2.4 sizes are syncsafe, but some writers stored plain sizes:
    // the one after which the next frame (or padding) starts wins.
    const std::uint32_t safe = bytes::syncSafe28(header + 4);
    const bool safeUsable = bytes::isSyncSafe(header + 4) && fits(safe);
    if (safeUsable && (safe == plain || frameCanStart(at + 10 + safe, end)))
        return safe;
    if (fits(plain) && frameCanStart(at + 10 + plain, end))
        return plain;
    return safeUsable ? std::optional(safe) : std::nullopt;
}

void Id3v2Tag::walk(std::int64_t from, std::int64_t end)
{
    const int size = headerSize();
    const std::size_t idLength = size == 6 ? 3 : 4;
    std::int64_t at = from;
    while (at + size <= end) {
        unsigned char header[10] = {};
        if (readStream(at, header, static_cast<std::size_t>(size)) != static_cast<std::size_t>(size)) {
            m_damagedAt = at;
            break;
        }
        if (header[0] == 0)
            break; // padding
        const auto bodySize = isFrameId(reinterpret_cast<const char*>(header), idLength)
                                  ? frameSize(header, at, end)
                                  : std::nullopt;
        if (!bodySize) {
            m_damagedAt = at;
            break;
        }
        Id3v2Frame frame;
        frame.id.assign(reinterpret_cast<const char*>(header), idLength);
        frame.offset = at;
        frame.size = *bodySize;
        frame.flags = size == 10 ? bytes::bigEndian16(header + 8) : 0;
        m_frames.push_back(std::move(frame));
        at += size + *bodySize;
    }
    m_framesEndInFile = m_unsynchronised ? std::min(m_declaredEnd, end) : at;
}

std::string Id3v2Tag::storedFrame(const Id3v2Frame& frame) const
{
    std::string bytes(static_cast<std::size_t>(headerSize()) + frame.size, '\0');
    bytes.resize(readStream(frame.offset, bytes.data(), bytes.size()));
    return bytes;
}

std::optional<std::string> Id3v2Tag::plainBody(const Id3v2Frame& frame) const
{
    std::string body(frame.size, '\0');
    body.resize(readStream(frame.offset + headerSize(), body.data(), body.size()));
    if (m_version != 4)
        return body;
    if (frame.flags & (kV4Compressed | kV4Encrypted))
        return std::nullopt;
    if ((frame.flags & kV4Unsynchronised) || (m_flags & kTagUnsynchronised))
        body = withoutUnsynchronisation(body);
    if (frame.flags & kV4DataLength) {
        const std::size_t at = (frame.flags & kV4Grouped) ? 1 : 0;
        if (body.size() < at + 4)
            return std::nullopt;
        body.erase(at, 4);
    }
    return body;
}

TTagFields Id3v2Tag::fields(std::array<int, tfCount>* taken) const
{
    static const char* const kV2Ids[tfCount] = {"TT2", "TP1", "TAL", "TYE", "COM", "TRK", "TCO"};
    static const char* const kV3Ids[tfCount] = {"TIT2", "TPE1", "TALB", "TYER", "COMM", "TRCK", "TCON"};
    const char* const* ids = m_version == 2 ? kV2Ids : kV3Ids;
    TTagFields fields;
    std::array<int, tfCount> used;
    used.fill(-1);
    bool commentFinal = false;
    int recordingTime = -1;
    const auto bodyOf = [this](const Id3v2Frame& frame) -> std::optional<std::string> {
        if (m_version == 3 && (frame.flags & (kV3Compressed | kV3Encrypted)))
            return std::nullopt;
        auto body = plainBody(frame);
        if (body)
            *body = withoutGroupByte(std::move(*body), m_version, frame.flags);
        return body;
    };
    for (std::size_t i = 0; i < m_frames.size(); ++i) {
        const Id3v2Frame& frame = m_frames[i];
        if (m_version >= 3 && recordingTime < 0 && frame.id == "TDRC")
            recordingTime = static_cast<int>(i);
        for (int f = 0; f < tfCount; ++f) {
            if (frame.id != ids[f] || (f == tfComment ? commentFinal : used[static_cast<std::size_t>(f)] >= 0))
                continue;
            const auto body = bodyOf(frame);
            if (!body)
                break;
            if (f == tfComment) {
                bool emptyDescription = false;
                TTagField comment = commentOf(*body, &emptyDescription);
                if (emptyDescription || used[tfComment] < 0) {
                    fields[tfComment] = std::move(comment);
                    used[tfComment] = static_cast<int>(i);
                }
                commentFinal = emptyDescription;
            } else {
                fields[static_cast<std::size_t>(f)] = textOf(*body);
                used[static_cast<std::size_t>(f)] = static_cast<int>(i);
            }
            break;
        }
    }
    if (used[tfYear] < 0 && recordingTime >= 0) {
        if (const auto body = bodyOf(m_frames[static_cast<std::size_t>(recordingTime)])) {
            fields[tfYear] = yearOfRecordingTime(textOf(*body));
            used[tfYear] = recordingTime;
        }
    }
    if (used[tfGenre] >= 0)
        fields[tfGenre] = genreOfTcon(fields[tfGenre], m_version);
    if (taken)
        *taken = used;
    return fields;
}

} // namespace morvik::id3
