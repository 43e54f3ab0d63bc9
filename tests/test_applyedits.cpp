#include "app/applyedits.h"

#include "platform/filelist.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace testsupport;

namespace {

using Names = std::vector<std::string>;

TEST(ApplyEdits, RenameRules)
{
    const std::string latin1 = "\xE9t\xE9.mp3"; // not UTF-8: shows with U+FFFD
    struct Case {
        const char* what;
        std::string name;
        QString cell;
        bool renamed;
        Names after;
    };
    const Case cases[] = {
        {"unchanged cell", "old.mp3", "old.mp3", false, {"old.mp3", "sub", "taken.mp3"}},
        {"new name", "old.mp3", "new.mp3", true, {"new.mp3", "sub", "taken.mp3"}},
        {"Japanese name as UTF-8", "old.mp3", "新しい.mp3", true, {"sub", "taken.mp3", "新しい.mp3"}},
        {"existing file never replaced", "old.mp3", "taken.mp3", false, {"old.mp3", "sub", "taken.mp3"}},
        {"empty name", "old.mp3", "", false, {"old.mp3", "sub", "taken.mp3"}},
        {"dot", "old.mp3", ".", false, {"old.mp3", "sub", "taken.mp3"}},
        {"dot dot", "old.mp3", "..", false, {"old.mp3", "sub", "taken.mp3"}},
        {"into another folder", "old.mp3", "sub/x.mp3", false, {"old.mp3", "sub", "taken.mp3"}},
        {"NUL in the name", "old.mp3", QString::fromUtf8("a\0b.mp3", 7), false, {"old.mp3", "sub", "taken.mp3"}},
        {"name that is not UTF-8, cell unchanged", latin1, morvik::shownFileName(latin1), false,
         {"sub", "taken.mp3", latin1}},
        {"name that is not UTF-8, cell changed", latin1, "fixed.mp3", true, {"fixed.mp3", "sub", "taken.mp3"}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        writeFile(dir.file(c.name), "audio");
        writeFile(dir.file("taken.mp3"), "other");
        std::filesystem::create_directory(dir.file("sub"));
        morvik::TFileNameList folder;
        folder.SetDirectory(dir.path());
        TFileList record;
        record.Path = dir.file(c.name);

        EXPECT_EQ(morvik::renameToCell(record, c.cell, folder), c.renamed) << c.what;
        EXPECT_EQ(listFolder(dir.path()), c.after) << c.what;
        EXPECT_EQ(readFile(record.Path), "audio") << c.what;
        EXPECT_EQ(readFile(dir.file("taken.mp3")), "other") << c.what;
    }
}

TEST(ApplyEdits, UnchangedCellsKeepTheirBytesAndChangedOnesAreEncoded)
{
    TFileList record;
    record.Path = "/music/song.mp3";
    const std::string unreadable = "\xFD\x81";
    for (std::size_t field = 0; field < tcCount; ++field)
        record.Texts[field] = morvik::tagText(field == tcTitle ? unreadable : "x");
    TRowTexts cells;
    for (std::size_t field = 0; field < tcCount; ++field)
        cells[field] = record.Texts[field].text;
    EXPECT_FALSE(morvik::rowChanged(record, cells));

    cells[tcArtist] = QStringLiteral("日本");
    EXPECT_TRUE(morvik::rowChanged(record, cells));
    const morvik::TRowEncoding encoded = morvik::encodeRow(record, cells);
    ASSERT_TRUE(encoded.ok);
    EXPECT_EQ(encoded.bytes[tcTitle].bytes, unreadable);
    EXPECT_EQ(encoded.bytes[tcArtist].bytes, "\x93\xfa\x96\x7b");
    EXPECT_EQ(encoded.bytes[tcGenre].bytes, "x");

    cells[tcComment] = QStringLiteral("5€");
    const morvik::TRowEncoding refused = morvik::encodeRow(record, cells);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.error, QStringLiteral("/music/song.mp3 に書き込めません: 文字「€」は Shift-JIS で表せません。"));
}

// In the ID3v2 view a text Shift-JIS cannot hold is stored as UTF-16; texts
// read in any encoding and left alone keep their encoding and bytes.
TEST(ApplyEdits, Id3v2CellsShiftJisCannotHoldBecomeUtf16)
{
    TFileList record;
    record.View = morvik::TTagView::ID3v2;
    const morvik::id3::TTagField utf16{1, std::string("\xFF\xFE\x55\xD5\x6D\xAD", 6)}; // 한국 ... as read
    const morvik::id3::TTagField utf8{3, "\xF0\x9F\x8E\xB5"};                          // an emoji, version 2.4
    for (std::size_t field = 0; field < tcCount; ++field)
        record.Texts[field] = morvik::tagText(std::string("x"));
    record.Texts[tcTitle] = morvik::tagText(utf16);
    record.Texts[tcAlbum] = morvik::tagText(utf8);
    EXPECT_EQ(record.Texts[tcTitle].text, QString::fromUtf8("\xED\x95\x95\xEA\xB5\xAD"));
    EXPECT_EQ(record.Texts[tcAlbum].text, QString::fromUtf8("\xF0\x9F\x8E\xB5"));

    TRowTexts cells;
    for (std::size_t field = 0; field < tcCount; ++field)
        cells[field] = record.Texts[field].text;
    cells[tcComment] = QStringLiteral("5€");
    cells[tcArtist] = QStringLiteral("日本");
    const morvik::TRowEncoding encoded = morvik::encodeRow(record, cells);
    ASSERT_TRUE(encoded.ok);
    EXPECT_EQ(encoded.bytes[tcTitle], utf16);
    EXPECT_EQ(encoded.bytes[tcAlbum], utf8);
    EXPECT_EQ(encoded.bytes[tcArtist], (morvik::id3::TTagField{0, "\x93\xfa\x96\x7b"}));
    EXPECT_EQ(encoded.bytes[tcComment], (morvik::id3::TTagField{1, std::string("\xFF\xFE" "5\0\xAC\x20", 6)}));

    record.View = morvik::TTagView::ID3v1;
    EXPECT_FALSE(morvik::encodeRow(record, cells).ok);
}

} // namespace
