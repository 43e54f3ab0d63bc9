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

// Whether the bytes are valid UTF-8 (no overlong forms, surrogates or code
// points beyond U+10FFFF).
bool isUtf8(std::string_view bytes);

// A file name's bytes as UTF-8 text: UTF-8 names as they are; names in
// CP932 (copied from old Windows volumes) decoded; nothing for bytes that
// are neither.
std::optional<std::string> fileNameToUtf8(std::string_view name);

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

// The text encodings of ID3v2 text fields, by their encoding byte.
enum TId3Encoding : unsigned char {
    id3Latin = 0,       // single bytes; on our users' files Shift-JIS
    id3Utf16 = 1,       // UTF-16 with a byte-order mark
    id3Utf16BE = 2,     // UTF-16 big-endian, no mark (version 2.4)
    id3Utf8 = 3,        // UTF-8 (version 2.4)
};

// The bytes of an ID3v2 text field as UTF-8 text to show. Encoding 0 is
// taken as CP932 (as cp932ToDisplayText). For UTF-16 a missing byte-order
// mark means little-endian. Unpaired surrogates, a trailing odd byte and
// invalid UTF-8 show as U+FFFD; 0x00 characters (padding, separators) are
// left out. Any other encoding byte shows every byte as U+FFFD.
std::string id3TextToUtf8(unsigned char encoding, std::string_view bytes);

// UTF-8 text as UTF-16 little-endian behind the mark FF FE (encoding 1).
// Invalid UTF-8 bytes become U+FFFD.
std::string utf8ToUtf16WithBom(std::string_view utf8);

// UTF-16 big-endian (encoding 2) as UTF-16 little-endian behind FF FE: the
// same code units, so nothing is lost, unpaired surrogates included.
std::string utf16BEToUtf16WithBom(std::string_view bytes);

// UTF-8 to CP932 for output in the Shift-JIS world: characters CP932 lacks
// become "?". Invalid UTF-8 bytes become "?" too.
std::string utf8ToCp932Lossy(std::string_view utf8);

} // namespace morvik
