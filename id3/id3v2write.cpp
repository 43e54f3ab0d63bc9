#include "id3/id3v2write.h"

#include "id3/mp3id.h"
#include "platform/bytes.h"
#include "platform/textcodec.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace morvik::id3 {
namespace {

// The software text of the TSSE frame. The tag writer and the window are
// versioned apart: the window's title says "ver2.03" while the writer still
// stamps "ver2.01", and both are right. Files already written carry this text.
constexpr char kEncoderText[] = "Morvik ver2.01";

constexpr std::uint16_t kV3DiscardOnTagChange = 0x8000;
constexpr std::uint16_t kV3Compressed = 0x0080;
constexpr std::uint16_t kV3Encrypted = 0x0040;
constexpr std::uint16_t kV3Grouped = 0x0020;
constexpr std::uint16_t kV4DiscardOnTagChange = 0x4000;
constexpr std::uint16_t kV4FileAlter = 0x2000;
constexpr std::uint16_t kV4ReadOnly = 0x1000;
constexpr std::uint16_t kV4Grouped = 0x0040;
constexpr std::uint16_t kV4Compressed = 0x0008;
constexpr std::uint16_t kV4Encrypted = 0x0004;

void appendFrame(std::string& out, std::string_view id, const std::string& body, std::uint16_t flags = 0)
{
    out.append(id.data(), 4);
    char word[4];
    bytes::putBigEndian32(word, static_cast<std::uint32_t>(body.size()));
    out.append(word, sizeof word);
    out += static_cast<char>(flags >> 8);
    out += static_cast<char>(flags & 0xFF);
    out += body;
}

// ASCII text in the form of `like`: bytes, or UTF-16 units in the order of
// its byte-order mark (little-endian without one).
std::string asciiLike(const TTagField& like, std::string_view ascii)
{
    if (like.encoding != 1)
        return std::string(ascii);
    const bool bigEndian = like.bytes.size() >= 2 && like.bytes.compare(0, 2, "\xFE\xFF") == 0;
    std::string out;
    for (char c : ascii) {
        out += bigEndian ? '\0' : c;
        out += bigEndian ? c : '\0';
    }
    return out;
}

std::size_t markLength(const TTagField& field)
{
    const bool marked = field.encoding == 1 && field.bytes.size() >= 2 &&
                        (field.bytes.compare(0, 2, "\xFF\xFE") == 0 || field.bytes.compare(0, 2, "\xFE\xFF") == 0);
    return marked ? 2 : 0;
}

std::string textBody(const TTagField& field) { return static_cast<char>(field.encoding) + field.bytes; }

// "(n)" before the genre name, n its GenreTable index (256 when it has
// none; an empty name finds 148, the first empty entry).
std::string genreBody(const TTagField& genre)
{
    const auto ascii = asciiText(genre);
    const int index = ascii ? GenreIndex(*ascii) : -1;
    const std::string prefix = "(" + std::to_string(index < 0 ? 256 : index) + ")";
    const std::size_t mark = markLength(genre);
    return static_cast<char>(genre.encoding) + genre.bytes.substr(0, mark) + asciiLike(genre, prefix) +
           genre.bytes.substr(mark);
}

std::string commentBody(const TTagField& comment)
{
    const std::string emptyDescription = comment.encoding == 1 ? std::string("\xFF\xFE\0\0", 4) : std::string(1, '\0');
    return static_cast<char>(comment.encoding) + std::string("eng") + emptyDescription + comment.bytes;
}

// Version 2.2 identifiers and their version 2.3 equivalents. PIC changes
// its body too; identifiers not listed have no equivalent.
constexpr std::pair<std::string_view, std::string_view> kV2Ids[] = {
    {"BUF", "RBUF"}, {"CNT", "PCNT"}, {"COM", "COMM"}, {"CRA", "AENC"}, {"ETC", "ETCO"}, {"EQU", "EQUA"},
    {"GEO", "GEOB"}, {"IPL", "IPLS"}, {"MCI", "MCDI"}, {"MLL", "MLLT"}, {"PIC", "APIC"}, {"POP", "POPM"},
    {"REV", "RVRB"}, {"RVA", "RVAD"}, {"SLT", "SYLT"}, {"STC", "SYTC"}, {"TAL", "TALB"}, {"TBP", "TBPM"},
    {"TCM", "TCOM"}, {"TCO", "TCON"}, {"TCR", "TCOP"}, {"TDA", "TDAT"}, {"TDY", "TDLY"}, {"TEN", "TENC"},
    {"TFT", "TFLT"}, {"TIM", "TIME"}, {"TKE", "TKEY"}, {"TLA", "TLAN"}, {"TLE", "TLEN"}, {"TMT", "TMED"},
    {"TOA", "TOPE"}, {"TOF", "TOFN"}, {"TOL", "TOLY"}, {"TOR", "TORY"}, {"TOT", "TOAL"}, {"TP1", "TPE1"},
    {"TP2", "TPE2"}, {"TP3", "TPE3"}, {"TP4", "TPE4"}, {"TPA", "TPOS"}, {"TPB", "TPUB"}, {"TRC", "TSRC"},
    {"TRD", "TRDA"}, {"TRK", "TRCK"}, {"TSI", "TSIZ"}, {"TSS", "TSSE"}, {"TT1", "TIT1"}, {"TT2", "TIT2"},
    {"TT3", "TIT3"}, {"TXT", "TEXT"}, {"TXX", "TXXX"}, {"TYE", "TYER"}, {"UFI", "UFID"}, {"ULT", "USLT"},
    {"WAF", "WOAF"}, {"WAR", "WOAR"}, {"WAS", "WOAS"}, {"WCM", "WCOM"}, {"WCP", "WCOP"}, {"WPB", "WPUB"},
    {"WXX", "WXXX"},
};

std::string_view version3Id(const std::string& id)
{
    if (id.size() == 4)
        return id;
    for (const auto& [old, now] : kV2Ids)
        if (old == id)
            return now;
    return {};
}

// `count` strings from `at` (all of them up to the end when count < 0),
// encoding 2 or 3, as UTF-16 with byte-order marks; each keeps its
// terminator when it had one.
std::string stringsAsUtf16(const std::string& body, std::size_t& at, unsigned char encoding, int count)
{
    std::string out;
    for (int n = 0; (count < 0 || n < count) && (count >= 0 || at < body.size()); ++n) {
        std::size_t next = 0;
        const std::string s = stringAt(body, at, encoding, &next);
        out += encoding == 3 ? utf8ToUtf16WithBom(s) : utf16BEToUtf16WithBom(s);
        if (next > at + s.size())
            out.append(2, '\0');
        at = next;
    }
    return out;
}

// A single-byte string ending at its 0x00 (a MIME type), terminator
// included.
std::string latinString(const std::string& body, std::size_t& at)
{
    std::size_t next = 0;
    const std::string s = stringAt(body, at, 0, &next);
    const std::string out = body.substr(at, next - at);
    at = next;
    return out;
}

// A version 2.4 body whose text is UTF-8 or UTF-16BE, in encoding 1.
// Nothing when the frame's layout is not known, so its text cannot be
// found.
std::optional<std::string> bodyInUtf16(const std::string& id, const std::string& body)
{
    const auto encoding = static_cast<unsigned char>(body[0]);
    std::string out(1, '\x01');
    std::size_t at = 1;
    if (id[0] == 'T') {
        out += stringsAsUtf16(body, at, encoding, -1);
    } else if (id == "COMM" || id == "USLT" || id == "USER") {
        out += body.substr(1, 3);
        at = std::min<std::size_t>(4, body.size());
        out += stringsAsUtf16(body, at, encoding, -1);
    } else if (id == "APIC") {
        out += latinString(body, at);
        if (at < body.size())
            out += body[at++];
        out += stringsAsUtf16(body, at, encoding, 1);
        out += body.substr(std::min(at, body.size()));
    } else if (id == "WXXX") {
        out += stringsAsUtf16(body, at, encoding, 1);
        out += body.substr(std::min(at, body.size()));
    } else if (id == "GEOB") {
        out += latinString(body, at);
        out += stringsAsUtf16(body, at, encoding, 2);
        out += body.substr(std::min(at, body.size()));
    } else {
        return std::nullopt;
    }
    return out;
}

// Frames whose body begins with a text encoding byte.
bool hasEncodingByte(const std::string& id)
{
    static const std::string_view known[] = {"COMM", "USLT", "USER", "APIC", "WXXX", "GEOB", "SYLT", "COMR", "OWNE"};
    return (id[0] == 'T') || std::find(std::begin(known), std::end(known), id) != std::end(known);
}

// A version 2.2 PIC body (three-letter image format) as an APIC body (MIME
// type).
std::optional<std::string> apicOfPic(const std::string& body)
{
    if (body.size() < 5)
        return std::nullopt;
    std::string format = body.substr(1, 3);
    if (format == "-->")
        return std::nullopt; // a link to a picture elsewhere
    std::transform(format.begin(), format.end(), format.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    const std::string mime = format == "jpg" ? "image/jpeg" : "image/" + format;
    return body.substr(0, 1) + mime + std::string(1, '\0') + body.substr(4);
}

// The date and time a version 2.4 TDRC holds, as the TDAT ("DDMM") and
// TIME ("HHMM") frames of version 2.3.
std::string dateFramesOf(const std::string& body, bool haveDate, bool haveTime)
{
    if (body.empty())
        return {};
    std::size_t next = 0;
    const auto encoding = static_cast<unsigned char>(body[0]);
    const auto text = asciiText(TTagField{encoding, stringAt(body, 1, encoding, &next)});
    if (!text)
        return {};
    const auto digits = [&](std::size_t at, std::size_t n) {
        return text->size() >= at + n &&
               std::all_of(text->begin() + static_cast<long>(at), text->begin() + static_cast<long>(at + n),
                           [](char c) { return c >= '0' && c <= '9'; });
    };
    std::string out;
    if (!haveDate && digits(0, 4) && (*text)[4] == '-' && digits(5, 2) && (*text)[7] == '-' && digits(8, 2))
        appendFrame(out, "TDAT", std::string(1, '\0') + text->substr(8, 2) + text->substr(5, 2));
    if (!haveTime && digits(0, 4) && text->size() >= 16 && (*text)[10] == 'T' && digits(11, 2) && (*text)[13] == ':' &&
        digits(14, 2))
        appendFrame(out, "TIME", std::string(1, '\0') + text->substr(11, 2) + text->substr(14, 2));
    return out;
}

std::uint16_t version3Flags(std::uint16_t v4)
{
    std::uint16_t flags = 0;
    if (v4 & kV4FileAlter)
        flags |= 0x4000;
    if (v4 & kV4ReadOnly)
        flags |= 0x2000;
    if (v4 & kV4Grouped)
        flags |= 0x0020;
    return flags;
}

class FrameCarrier {
public:
    FrameCarrier(const Id3v2Tag& tag, std::vector<std::string>* dropped) : m_tag(tag), m_dropped(dropped)
    {
        for (const Id3v2Frame& f : tag.frames()) {
            m_haveDate = m_haveDate || f.id == "TDAT" || f.id == "TDA";
            m_haveTime = m_haveTime || f.id == "TIME" || f.id == "TIM";
        }
    }

    void carry(const Id3v2Frame& frame, std::string& out)
    {
        if (frame.size == 0)
            return drop(frame, "empty");
        if (m_tag.version() == 3)
            return carryVersion3(frame, out);
        if (m_tag.version() == 2)
            return carryVersion2(frame, out);
        carryVersion4(frame, out);
    }

    void drop(const Id3v2Frame& frame, const char* why)
    {
        if (m_dropped)
            m_dropped->push_back(frame.id + " at byte " + std::to_string(frame.offset) + " (" + why + ")");
    }

private:
    void carryVersion3(const Id3v2Frame& frame, std::string& out)
    {
        if (frame.flags & kV3DiscardOnTagChange)
            return drop(frame, "its flags ask to be discarded when the tag changes");
        std::string stored = m_tag.storedFrame(frame);
        const bool plain = !(frame.flags & (kV3Compressed | kV3Encrypted));
        const std::size_t encodingAt = 10 + ((frame.flags & kV3Grouped) ? 1 : 0);
        if (plain && hasEncodingByte(frame.id) && stored.size() > encodingAt &&
            static_cast<unsigned char>(stored[encodingAt]) > 3)
            return drop(frame, "unknown text encoding");
        out += stored;
    }

    void carryVersion2(const Id3v2Frame& frame, std::string& out)
    {
        const std::string_view id = version3Id(frame.id);
        if (id.empty())
            return drop(frame, "no version 2.3 equivalent");
        auto body = m_tag.plainBody(frame);
        if (body && !body->empty() && hasEncodingByte(std::string(id)) && static_cast<unsigned char>((*body)[0]) > 3)
            return drop(frame, "unknown text encoding");
        if (body && frame.id == "PIC")
            body = apicOfPic(*body);
        if (!body)
            return drop(frame, "a picture link or a cut-off picture");
        appendFrame(out, id, *body);
    }

    void carryVersion4(const Id3v2Frame& frame, std::string& out)
    {
        if (frame.flags & kV4DiscardOnTagChange)
            return drop(frame, "its flags ask to be discarded when the tag changes");
        if (frame.flags & (kV4Compressed | kV4Encrypted))
            return drop(frame, "compressed or encrypted");
        auto body = m_tag.plainBody(frame);
        if (!body || body->empty())
            return drop(frame, "cut off");
        if (frame.id == "TDRC") {
            out += dateFramesOf(*body, m_haveDate, m_haveTime);
            return;
        }
        const std::size_t group = (frame.flags & kV4Grouped) ? 1 : 0;
        std::string id = frame.id;
        if (id == "TDOR")
            id = "TORY";
        const auto encoding = body->size() > group ? static_cast<unsigned char>((*body)[group]) : 0;
        if (hasEncodingByte(id) && encoding >= 2) {
            if (encoding > 3)
                return drop(frame, "unknown text encoding");
            const auto converted = bodyInUtf16(id, body->substr(group));
            if (!converted)
                return drop(frame, "UTF-8 text in a layout version 2.3 cannot carry");
            *body = body->substr(0, group) + *converted;
        }
        appendFrame(out, id, *body, version3Flags(frame.flags));
    }

    const Id3v2Tag& m_tag;
    std::vector<std::string>* m_dropped;
    bool m_haveDate = false;
    bool m_haveTime = false;
};

} // namespace

TTagField forVersion3(const TTagField& field)
{
    if (field.encoding == 3)
        return TTagField{1, utf8ToUtf16WithBom(field.bytes)};
    if (field.encoding == 2)
        return TTagField{1, utf16BEToUtf16WithBom(field.bytes)};
    return field;
}

std::string buildFrames(const TTagFields& given)
{
    TTagFields f;
    std::transform(given.begin(), given.end(), f.begin(), forVersion3);
    std::string out;
    appendFrame(out, "TPE1", textBody(f[tfArtist]));
    appendFrame(out, "TIT2", textBody(f[tfTitle]));
    appendFrame(out, "TALB", textBody(f[tfAlbum]));
    appendFrame(out, "TRCK", textBody(f[tfTrack]));
    appendFrame(out, "COMM", commentBody(f[tfComment]));
    appendFrame(out, "TCON", genreBody(f[tfGenre]));
    appendFrame(out, "TYER", textBody(f[tfYear]));
    appendFrame(out, "TSSE", std::string(1, '\0') + kEncoderText);
    return out;
}

std::string keptFrames(const Id3v2Tag& tag, const std::array<int, tfCount>& taken, std::int64_t keepBefore,
                       std::vector<std::string>* dropped)
{
    std::string out;
    FrameCarrier carrier(tag, dropped);
    bool encoderReplaced = false;
    const auto& frames = tag.frames();
    // Frames lying where the rewrite keeps the file's bytes (a tag whose size
    // field overlaps the audio) stay there and are not copied.
    const bool wholeTagFits = !tag.unsynchronised() || tag.framesEndInFile() <= keepBefore;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const Id3v2Frame& frame = frames[i];
        // A recording time the year was taken from still gives its date and
        // time frames.
        const bool recordingTime = frame.id == "TDRC";
        if (!recordingTime && std::find(taken.begin(), taken.end(), static_cast<int>(i)) != taken.end())
            continue;
        if (!encoderReplaced && version3Id(frame.id) == "TSSE") {
            encoderReplaced = true;
            continue;
        }
        const std::int64_t end = frame.offset + tag.headerSize() + frame.size;
        if (!wholeTagFits || (!tag.unsynchronised() && end > keepBefore)) {
            carrier.drop(frame, "it overlaps the audio");
            continue;
        }
        carrier.carry(frame, out);
    }
    if (tag.damagedAt() >= 0 && dropped)
        dropped->push_back("damaged data at byte " + std::to_string(tag.damagedAt()) + " to the end of the tag");
    return out;
}

} // namespace morvik::id3
