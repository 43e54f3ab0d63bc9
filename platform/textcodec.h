// Conversion between the Shift-JIS (code page 932) bytes of tags and the
// UTF-8 text shown on screen. Only the window and the file survey convert;
// the tag code keeps bytes and asks here only how they are classified.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace morvik {

// A byte that starts a double-byte CP932 character. The second byte of such
// a character can have the same value, so only a walk from the start of a
// text tells where characters begin.
constexpr bool isCp932LeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// CP932 bytes to UTF-8; nullopt when the bytes are not valid CP932.
std::optional<std::string> cp932ToUtf8(std::string_view bytes);

// Tag bytes as the text shown for them, for any bytes at all: a character
// that is not CP932 shows as U+FFFD (a lead byte takes the byte after it
// along), and 0x00 bytes (the padding of fixed-width fields) are left out.
std::string cp932ToDisplayText(std::string_view bytes);

struct Cp932Encoding {
    bool ok = false;
    std::string bytes;        // the CP932 bytes when ok
    std::string badCharacter; // when not ok: the first character (UTF-8) CP932 lacks
};

// UTF-8 text to CP932 bytes; fails on the first character outside CP932 or
// on invalid UTF-8.
Cp932Encoding utf8ToCp932(std::string_view utf8);

// UTF-16 bytes (no byte-order mark) to CP932; characters outside CP932 and
// unpaired surrogates become "?". A trailing odd byte is ignored.
std::string utf16ToCp932(std::string_view bytes, bool bigEndian);

} // namespace morvik
