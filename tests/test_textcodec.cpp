#include "platform/textcodec.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using morvik::cp932ToDisplayText;
using morvik::cp932ToUtf8;
using morvik::isCp932LeadByte;
using morvik::utf16ToCp932;
using morvik::utf8ToCp932;

namespace {

const std::string kReplacement = "\xEF\xBF\xBD"; // U+FFFD in UTF-8

TEST(TextCodec, Cp932RoundTrip)
{
    struct Case {
        const char* what;
        std::string utf8;
        std::string cp932;
    };
    const Case cases[] = {
        {"ASCII", "Title 01", "Title 01"},
        {"empty", "", ""},
        {"kanji and kana", "日本語のタイトル", "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x5e\x83\x43\x83\x67\x83\x8b"},
        {"half-width katakana are single bytes", "ｱｲｳ", "\xB1\xB2\xB3"},
        {"trail byte 0x5C, the backslash", "ソ表", "\x83\x5C\x95\x5C"},
        {"trail byte that is also a lead byte", "＝＝", "\x81\x81\x81\x81"},
        {"NEC special characters", "①Ⅱ", "\x87\x40\x87\x55"},
        {"code page 932 forms of the wave dash and the minus", "～－", "\x81\x60\x81\x7C"},
    };
    for (const Case& c : cases) {
        const morvik::Cp932Encoding encoded = utf8ToCp932(c.utf8);
        EXPECT_TRUE(encoded.ok) << c.what;
        EXPECT_EQ(encoded.bytes, c.cp932) << c.what;
        EXPECT_EQ(cp932ToUtf8(c.cp932), c.utf8) << c.what;
        EXPECT_EQ(cp932ToDisplayText(c.cp932), c.utf8) << c.what;
    }
}

TEST(TextCodec, InvalidCp932Bytes)
{
    struct Case {
        const char* what;
        std::string bytes;
        std::string shown;
    };
    const Case cases[] = {
        {"lone lead byte at the end", "ab\x82", "ab" + kReplacement},
        {"lead byte before a byte that cannot trail takes it along", "\x81\x20x", kReplacement + "x"},
        {"unassigned single bytes", "\x80|\xA0|\xFD", kReplacement + "|" + kReplacement + "|" + kReplacement},
        {"unassigned double-byte row", "\x85\x40!", kReplacement + "!"},
        // Walked from the start, 81 81 | 81 81 are two characters; the bad
        // byte after them does not shift where they begin.
        {"trail bytes that look like lead bytes", "\x81\x81\x81\x81\xFD", "＝＝" + kReplacement},
        {"padding of a short field is not shown", std::string("19\0\0", 4), "19"},
        {"padding and a bad byte", std::string("\x82\0a\0", 4), kReplacement + "a"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(cp932ToDisplayText(c.bytes), c.shown) << c.what;
        if (c.bytes.find('\0') == std::string::npos) {
            EXPECT_EQ(cp932ToUtf8(c.bytes), std::nullopt) << c.what;
        }
    }
}

TEST(TextCodec, LeadBytes)
{
    const std::pair<unsigned char, bool> cases[] = {
        {0x00, false}, {0x5C, false}, {0x7F, false}, {0x80, false}, {0x81, true}, {0x9F, true},
        {0xA0, false}, {0xB1, false}, {0xDF, false}, {0xE0, true},  {0xFC, true}, {0xFD, false},
    };
    for (const auto& [byte, lead] : cases)
        EXPECT_EQ(isCp932LeadByte(byte), lead) << int(byte);
}

TEST(TextCodec, Utf8ToCp932NamesTheFirstCharacterItLacks)
{
    struct Case {
        const char* what;
        std::string utf8;
        std::string bad;
    };
    const Case cases[] = {
        {"euro sign", "a€b", "€"},
        {"outside the basic plane", "x😀", "😀"},
        {"Korean", "曲한", "한"},
        {"first of two", "€ü", "€"},
        {"invalid UTF-8", "a\xFF", "\xFF"},
    };
    for (const Case& c : cases) {
        const morvik::Cp932Encoding encoded = utf8ToCp932(c.utf8);
        EXPECT_FALSE(encoded.ok) << c.what;
        EXPECT_EQ(encoded.badCharacter, c.bad) << c.what;
        EXPECT_EQ(encoded.bytes, "") << c.what;
    }
}

TEST(TextCodec, Utf16ToCp932InBothByteOrders)
{
    struct Case {
        const char* what;
        std::string bigEndian; // the same units are tried little-endian too
        std::string cp932;
    };
    const Case cases[] = {
        {"ASCII and kana", std::string("\0A\x30\x42", 4), "A\x82\xA0"},
        {"half-width katakana", "\xFF\x71", "\xB1"},
        {"character outside CP932", "\x20\xAC", "?"},
        {"surrogate pair is one character", "\xD8\x3D\xDE\x00", "?"},
        {"unpaired high surrogate", std::string("\xD8\x3D\0B", 4), "?B"},
        {"unpaired low surrogate", std::string("\xDE\x00\0C", 4), "?C"},
        {"high surrogate at the end", std::string("\0D\xD8\x3D", 4), "D?"},
        {"odd trailing byte ignored", std::string("\0E\x30", 3), "E"},
        {"empty", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(utf16ToCp932(c.bigEndian, true), c.cp932) << c.what;
        std::string little = c.bigEndian;
        for (std::size_t i = 0; i + 1 < little.size(); i += 2)
            std::swap(little[i], little[i + 1]);
        EXPECT_EQ(utf16ToCp932(little, false), c.cp932) << c.what << " (little-endian)";
    }
}

} // namespace

namespace {

// ID3v2 texts of every encoding as shown; bad sequences show as U+FFFD and
// never read past the bytes given.
TEST(TextCodec, Id3TextsOfEveryEncoding)
{
    using morvik::id3TextToUtf8;
    struct Case {
        const char* what;
        unsigned char encoding;
        std::string bytes;
        std::string shown;
    };
    const Case cases[] = {
        {"encoding 0 is CP932", 0, "\x93\xfa\x96\x7b", "日本"},
        {"UTF-16 little-endian mark", 1, std::string("\xFF\xFE\xE5\x65\x2C\x67", 6), "日本"},
        {"UTF-16 big-endian mark", 1, std::string("\xFE\xFF\x65\xE5\x67\x2C", 6), "日本"},
        {"UTF-16 without a mark is little-endian", 1, std::string("A\0", 2), "A"},
        {"surrogate pair", 1, std::string("\xFF\xFE\x3C\xD8\xB5\xDF", 6), "🎵"},
        {"unpaired high surrogate", 1, std::string("\xFF\xFE\x3C\xD8" "A\0", 6), kReplacement + "A"},
        {"lone low surrogate", 1, std::string("\xFF\xFE\xB5\xDF", 4), kReplacement},
        {"odd byte at the end", 1, std::string("\xFF\xFE" "A\0B", 5), "A" + kReplacement},
        {"mark alone", 1, "\xFF\xFE", ""},
        {"terminator and padding left out", 1, std::string("\xFF\xFE" "A\0\0\0", 6), "A"},
        {"UTF-16BE", 2, std::string("\xD5\x5C\xAD\x6D", 4), "한국"},
        {"UTF-8", 3, "\xED\x95\x9C \xF0\x9F\x8E\xB5", "한 🎵"},
        {"invalid UTF-8", 3, "a\xC3(\xE2\x82", "a" + kReplacement + "(" + kReplacement + kReplacement},
        {"overlong UTF-8", 3, "\xC0\xAF", kReplacement + kReplacement},
        {"UTF-8 surrogate", 3, "\xED\xA0\x80", kReplacement + kReplacement + kReplacement},
        {"unknown encoding byte", 9, "ab", kReplacement + kReplacement},
    };
    for (const Case& c : cases)
        EXPECT_EQ(id3TextToUtf8(c.encoding, c.bytes), c.shown) << c.what;
}

TEST(TextCodec, Utf16ForVersion23AndLossyShiftJis)
{
    EXPECT_EQ(morvik::utf8ToUtf16WithBom(""), "\xFF\xFE");
    EXPECT_EQ(morvik::utf8ToUtf16WithBom("A한🎵"), std::string("\xFF\xFE" "A\0\x5C\xD5\x3C\xD8\xB5\xDF", 10));
    EXPECT_EQ(morvik::utf8ToUtf16WithBom("\xFF"), std::string("\xFF\xFE\xFD\xFF", 4));
    EXPECT_EQ(morvik::utf16BEToUtf16WithBom(std::string("\xD5\x5C\0A", 4)), std::string("\xFF\xFE\x5C\xD5" "A\0", 6));
    EXPECT_EQ(morvik::utf16BEToUtf16WithBom(std::string("\xD8\x3C", 2)), std::string("\xFF\xFE\x3C\xD8", 4))
        << "an unpaired surrogate is carried as it is";
    EXPECT_EQ(morvik::utf8ToCp932Lossy("日本"), "\x93\xfa\x96\x7b");
    EXPECT_EQ(morvik::utf8ToCp932Lossy("日한🎵\xFF"), "\x93\xfa???");
}

} // namespace

namespace {

// File names: UTF-8 as it is, CP932 from old Windows volumes decoded, and
// nothing for bytes that are neither.
TEST(TextCodec, FileNames)
{
    struct Case {
        const char* what;
        std::string name;
        bool utf8;
        std::optional<std::string> text;
    };
    const Case cases[] = {
        {"ASCII", "song.mp3", true, "song.mp3"},
        {"Japanese in UTF-8", "曲.mp3", true, "曲.mp3"},
        {"U+FFFD spelt in UTF-8", kReplacement + ".mp3", true, kReplacement + ".mp3"},
        {"control characters", "a\x01\x1f.mp3", true, "a\x01\x1f.mp3"},
        {"Shift-JIS", "\x8b\xc8.mp3", false, "曲.mp3"},
        {"half-width katakana in Shift-JIS", "\xB1\xB2.mp3", false, "ｱｲ.mp3"},
        {"overlong UTF-8 that is CP932 katakana", "\xC0\xAF.mp3", false, "ﾀｯ.mp3"},
        {"neither UTF-8 nor CP932", "\xC0\x80.mp3", false, std::nullopt},
        {"UTF-8 surrogate, not CP932", "\xED\xA0\x80.mp3", false, std::nullopt},
        {"Latin-1, not CP932", "\xE9t\xE9\xFF.mp3", false, std::nullopt},
        {"cut-off UTF-8 that is CP932", "\xE6\x9B.mp3", false, cp932ToUtf8("\xE6\x9B.mp3")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(morvik::isUtf8(c.name), c.utf8) << c.what;
        EXPECT_EQ(morvik::fileNameToUtf8(c.name), c.text) << c.what;
    }
    ASSERT_TRUE(cp932ToUtf8("\xE6\x9B.mp3"));
}

} // namespace
