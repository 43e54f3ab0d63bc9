#include "platform/textcodec.h"

#include <cerrno>
#include <cstdint>
#include <iconv.h>
#include <string>
#include <utility>

namespace morvik {
namespace {

// One conversion descriptor per direction and thread, opened on first use.
class Converter {
public:
    Converter(const char* to, const char* from) : m_cd(::iconv_open(to, from)) {}
    ~Converter()
    {
        if (m_cd != reinterpret_cast<iconv_t>(-1))
            ::iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool usable() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // Converts all of `in`; on an invalid or unconvertible sequence stops
    // and reports how many input bytes were consumed.
    bool convert(std::string_view in, std::string& out, std::size_t* consumed)
    {
        out.clear();
        ::iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        char buffer[1024];
        while (true) {
            char* dst = buffer;
            std::size_t dstLeft = sizeof buffer;
            const std::size_t r = ::iconv(m_cd, srcLeft ? &src : nullptr, &srcLeft, &dst, &dstLeft);
            out.append(buffer, sizeof buffer - dstLeft);
            if (r != static_cast<std::size_t>(-1)) {
                if (srcLeft == 0)
                    break;
                continue;
            }
            if (errno == E2BIG)
                continue;
            *consumed = in.size() - srcLeft;
            return false;
        }
        *consumed = in.size();
        return true;
    }

private:
    iconv_t m_cd;
};

Converter& cp932ToUtf8Converter()
{
    thread_local Converter c("UTF-8", "CP932");
    return c;
}

Converter& utf8ToCp932Converter()
{
    thread_local Converter c("CP932", "UTF-8");
    return c;
}

std::size_t utf8SequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if ((lead & 0xE0) == 0xC0)
        return 2;
    if ((lead & 0xF0) == 0xE0)
        return 3;
    if ((lead & 0xF8) == 0xF0)
        return 4;
    return 1;
}

void appendUtf8(std::string& out, std::uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

constexpr std::uint32_t kReplacementCharacter = 0xFFFD;

// The code point of the UTF-8 sequence at `i`, advancing `i`; an invalid
// sequence (truncated, overlong, a surrogate, beyond U+10FFFF) gives U+FFFD
// and advances by one byte.
std::uint32_t nextUtf8(std::string_view s, std::size_t& i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    const std::size_t length = utf8SequenceLength(lead);
    if (length == 1) {
        ++i;
        return lead < 0x80 ? lead : kReplacementCharacter;
    }
    if (i + length > s.size()) {
        ++i;
        return kReplacementCharacter;
    }
    std::uint32_t cp = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return kReplacementCharacter;
        }
        cp = cp << 6 | (byte(i + k) & 0x3F);
    }
    static const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < smallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return kReplacementCharacter;
    }
    i += length;
    return cp;
}

// Calls `emit` with each code point of UTF-16 code units; an unpaired
// surrogate gives U+FFFD. Returns whether a trailing odd byte was left.
template <class Emit>
bool decodeUtf16(std::string_view bytes, bool bigEndian, Emit&& emit)
{
    const auto unit = [&](std::size_t i) -> std::uint32_t {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? (a << 8 | b) : (b << 8 | a);
    };
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        std::uint32_t cp = unit(i);
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 3 < bytes.size()) {
            const std::uint32_t low = unit(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        emit(cp >= 0xD800 && cp <= 0xDFFF ? kReplacementCharacter : cp);
    }
    return i < bytes.size();
}

// UTF-16 code units to UTF-8; unpaired surrogates and a trailing odd byte
// become U+FFFD.
std::string utf16ToUtf8(std::string_view bytes, bool bigEndian)
{
    std::string out;
    if (decodeUtf16(bytes, bigEndian, [&](std::uint32_t cp) { appendUtf8(out, cp); }))
        appendUtf8(out, kReplacementCharacter);
    return out;
}

void appendUtf16LE(std::string& out, std::uint32_t unit)
{
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
}

} // namespace

std::optional<std::string> cp932ToUtf8(std::string_view bytes)
{
    Converter& c = cp932ToUtf8Converter();
    std::string out;
    std::size_t consumed = 0;
    if (!c.usable() || !c.convert(bytes, out, &consumed))
        return std::nullopt;
    return out;
}

bool isUtf8(std::string_view bytes)
{
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t start = i;
        // U+FFFD stands for an invalid sequence unless the bytes spell it.
        if (nextUtf8(bytes, i) == kReplacementCharacter && bytes.substr(start, 3) != kReplacement)
            return false;
    }
    return true;
}

std::optional<std::string> fileNameToUtf8(std::string_view name)
{
    if (isUtf8(name))
        return std::string(name);
    return cp932ToUtf8(name);
}

std::string cp932ToDisplayText(std::string_view bytes)
{
    static constexpr char kReplacement[] = "\xEF\xBF\xBD"; // U+FFFD
    std::string text;
    if (auto whole = cp932ToUtf8(bytes)) {
        text = std::move(*whole);
    } else {
        for (std::size_t i = 0; i < bytes.size();) {
            const std::size_t length = isCp932LeadByte(static_cast<unsigned char>(bytes[i])) ? 2 : 1;
            const std::string_view character = bytes.substr(i, length);
            const auto piece = cp932ToUtf8(character);
            text += piece ? *piece : std::string(kReplacement);
            i += character.size();
        }
    }
    std::erase(text, '\0');
    return text;
}

Cp932Encoding utf8ToCp932(std::string_view utf8)
{
    Converter& c = utf8ToCp932Converter();
    Cp932Encoding result;
    std::size_t consumed = 0;
    if (!c.usable()) {
        result.badCharacter = utf8.substr(0, 1);
        return result;
    }
    if (c.convert(utf8, result.bytes, &consumed)) {
        result.ok = true;
        return result;
    }
    if (consumed < utf8.size()) {
        const std::size_t left = utf8.size() - consumed;
        const std::size_t length = utf8SequenceLength(static_cast<unsigned char>(utf8[consumed]));
        result.badCharacter.assign(utf8.data() + consumed, length < left ? length : left);
    }
    result.bytes.clear();
    return result;
}

std::string utf16ToCp932(std::string_view bytes, bool bigEndian)
{
    std::string utf8;
    decodeUtf16(bytes, bigEndian, [&](std::uint32_t cp) { appendUtf8(utf8, cp); });
    return utf8ToCp932Lossy(utf8);
}

std::string id3TextToUtf8(unsigned char encoding, std::string_view bytes)
{
    std::string text;
    switch (encoding) {
    case id3Latin:
        return cp932ToDisplayText(bytes);
    case id3Utf16:
        if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFE\xFF")
            text = utf16ToUtf8(bytes.substr(2), true);
        else if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE")
            text = utf16ToUtf8(bytes.substr(2), false);
        else
            text = utf16ToUtf8(bytes, false);
        break;
    case id3Utf16BE:
        text = utf16ToUtf8(bytes, true);
        break;
    case id3Utf8:
        for (std::size_t i = 0; i < bytes.size();)
            appendUtf8(text, nextUtf8(bytes, i));
        break;
    default:
        for (std::size_t i = 0; i < bytes.size(); ++i)
            appendUtf8(text, kReplacementCharacter);
        break;
    }
    std::erase(text, '\0');
    return text;
}

std::string utf8ToUtf16WithBom(std::string_view utf8)
{
    std::string out = "\xFF\xFE";
    for (std::size_t i = 0; i < utf8.size();) {
        const std::uint32_t cp = nextUtf8(utf8, i);
        if (cp >= 0x10000) {
            appendUtf16LE(out, 0xD800 + ((cp - 0x10000) >> 10));
            appendUtf16LE(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            appendUtf16LE(out, cp);
        }
    }
    return out;
}

std::string utf16BEToUtf16WithBom(std::string_view bytes)
{
    std::string out = "\xFF\xFE";
    out.reserve(2 + bytes.size());
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        out += bytes[i + 1];
        out += bytes[i];
    }
    if (bytes.size() % 2)
        out += bytes.back();
    return out;
}

std::string utf8ToCp932Lossy(std::string_view utf8)
{
    if (const Cp932Encoding whole = utf8ToCp932(utf8); whole.ok)
        return whole.bytes;
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t start = i;
        const std::uint32_t cp = nextUtf8(utf8, i);
        const Cp932Encoding one = utf8ToCp932(utf8.substr(start, i - start));
        out += cp != kReplacementCharacter && one.ok ? one.bytes : std::string("?");
    }
    return out;
}

} // namespace morvik
