#include "app/specialedit.h"

#include "platform/textcodec.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace morvik::special;
using morvik::cells::CellTexts;
using morvik::cells::EditHistory;
using namespace testsupport;

// Eight columns of texts, title row included.
class FakeGrid : public CellTexts {
public:
    explicit FakeGrid(std::int32_t rows) : m_cells(static_cast<std::size_t>(rows) * 8) {}
    std::int32_t colCount() const override { return 8; }
    std::int32_t rowCount() const override { return static_cast<std::int32_t>(m_cells.size() / 8); }
    std::string text(std::int32_t col, std::int32_t row) const override { return m_cells.at(index(col, row)); }
    void setText(std::int32_t col, std::int32_t row, const std::string& text) override
    {
        m_cells.at(index(col, row)) = text;
    }
    std::vector<std::string> column(std::int32_t col) const
    {
        std::vector<std::string> texts;
        for (std::int32_t row = 0; row < rowCount(); ++row)
            texts.push_back(text(col, row));
        return texts;
    }
    void setRow(std::int32_t row, const std::string& name, const std::string& title, const std::string& artist,
                const std::string& album)
    {
        setText(0, row, name);
        setText(1, row, title);
        setText(2, row, artist);
        setText(3, row, album);
    }

private:
    std::size_t index(std::int32_t col, std::int32_t row) const
    {
        if (col < 0 || col >= 8 || row < 0 || row >= rowCount())
            throw std::out_of_range("cell outside the grid");
        return static_cast<std::size_t>(row) * 8 + static_cast<std::size_t>(col);
    }
    std::vector<std::string> m_cells;
};

std::vector<std::string> patternNames(const std::string& pattern, const std::vector<PatternFields>& rows)
{
    PatternNamer namer(pattern, static_cast<std::int32_t>(rows.size()) - 1);
    std::vector<std::string> names;
    for (const PatternFields& fields : rows)
        names.push_back(namer.nameFor(fields));
    return names;
}

TEST(SpecialEdit, PatternLanguage)
{
    const PatternFields ti{"Ti", "Ar", "Al"};
    struct Case {
        std::string pattern;
        std::vector<PatternFields> rows;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"%N.[%M][%A]%T", {ti, ti, ti}, {"1.[Al][Ar]Ti.mp3", "2.[Al][Ar]Ti.mp3", "3.[Al][Ar]Ti.mp3"}},
        // Another character after "%" is copied with it, and a final "%" stays.
        {"%T - %X%", {ti}, {"Ti - %X%.mp3"}},
        // Placeholders are case-sensitive.
        {"%n%t%a%m", {ti}, {"%n%t%a%m.mp3"}},
        {"%%T", {ti}, {"%%T.mp3"}},
        // The counter runs once per "%N", across the rows.
        {"%N-%N", {ti, ti}, {"1-2.mp3", "3-4.mp3"}},
        // Fields lose their blanks and control characters at both ends,
        // not inside; an ideographic space is no blank.
        {"%T|%A|%M", {{" \tA b\r\n", "\x01x ", "\u3000y"}}, {"A b|x|\u3000y.mp3"}},
        {"", {ti}, {".mp3"}},
        {"%", {ti}, {"%.mp3"}},
        {"[%M]", {{"", "", ""}}, {"[].mp3"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(patternNames(c.pattern, c.rows), c.names) << c.pattern;
}

TEST(SpecialEdit, SerialNumbersTakeLeadingZerosByTheRowsCovered)
{
    struct Case {
        int rows;
        std::string first, tenth, last;
    };
    const Case cases[] = {
        {10, "1.mp3", "10.mp3", "10.mp3"},
        {11, "01.mp3", "10.mp3", "11.mp3"},
        {12, "01.mp3", "10.mp3", "12.mp3"},
        {100, "01.mp3", "10.mp3", "100.mp3"},
        {101, "001.mp3", "010.mp3", "101.mp3"},
    };
    for (const Case& c : cases) {
        const auto names = patternNames("%N", std::vector<PatternFields>(static_cast<std::size_t>(c.rows)));
        EXPECT_EQ(names.front(), c.first) << c.rows;
        EXPECT_EQ(names[9], c.tenth) << c.rows;
        EXPECT_EQ(names.back(), c.last) << c.rows;
    }
}

TEST(SpecialEdit, TitleFromFileNameAndFileNameFromTitle)
{
    const std::pair<std::string, std::string> titles[] = {
        {"Song.Mp3", "Song"},  {"a.mp3.mp3", "a"},        {"b.MP3", "b"},
        {"c.mP3", "c"},        {"x.MP3.mp3", "x.MP3"},    {"none.wav", ""},
        {"", ""},              {".mp3", ""},              {"曲名.mp3", "曲名"},
        {"mp3", ""},
    };
    for (const auto& [name, title] : titles)
        EXPECT_EQ(titleFromFileName(name), title) << name;

    const std::pair<std::string, std::string> names[] = {
        {"  Intro  ", "Intro.mp3"}, {"", ".mp3"}, {"\tA  B\n", "A  B.mp3"}, {"\u3000曲", "\u3000曲.mp3"},
    };
    for (const auto& [title, name] : names)
        EXPECT_EQ(fileNameFromTitle(title), name) << title;
}

TEST(SpecialEdit, RowsCoveredNeverIncludeTheTitleRowOrPassTheGrid)
{
    struct Case {
        std::int32_t anchor, current, rowCount, top, bottom;
    };
    const Case cases[] = {
        {2, 5, 10, 2, 5}, {5, 2, 10, 2, 5}, {0, 3, 10, 1, 3}, {3, 0, 10, 1, 3}, {4, 40, 10, 4, 9}, {1, 1, 1, 1, 0},
    };
    for (const Case& c : cases) {
        const RowRange rows = editRows(c.anchor, c.current, c.rowCount);
        EXPECT_EQ(rows.top, c.top);
        EXPECT_EQ(rows.bottom, c.bottom);
    }
}

TEST(SpecialEdit, ModesOverGridRowsAreOneUndoStep)
{
    FakeGrid grid(6);
    grid.setRow(1, "Song.Mp3", "old", "Ar", "Al");
    grid.setRow(2, "a.mp3.mp3", " Intro ", "Ar", "Al");
    grid.setRow(3, "x.wav", "T3", "Ar", "Al");
    grid.setRow(4, "keep.mp3", "keep", "Ar", "Al");
    const FakeGrid before = grid;

    auto step = specialEdit(grid, Mode::TitleFromName, "", RowRange{1, 3});
    EXPECT_EQ(grid.column(1), (std::vector<std::string>{"", "Song", "a", "", "keep", ""}));
    EXPECT_EQ(step.size(), 3u);

    grid = before;
    specialEdit(grid, Mode::NameFromTitle, "", RowRange{2, 3});
    EXPECT_EQ(grid.column(0), (std::vector<std::string>{"", "Song.Mp3", "Intro.mp3", "T3.mp3", "keep.mp3", ""}));

    // Rows without a loaded file (row 5) are edited too; the counter spans
    // the rows covered.
    grid = before;
    EditHistory history;
    history.push(specialEdit(grid, Mode::NameFromPattern, "%N %T", RowRange{3, 5}));
    EXPECT_EQ(grid.column(0), (std::vector<std::string>{"", "Song.Mp3", "a.mp3.mp3", "1 T3.mp3", "2 keep.mp3", "3 .mp3"}));
    ASSERT_TRUE(history.undo(grid));
    EXPECT_EQ(grid.column(0), before.column(0));
    EXPECT_FALSE(history.canUndo());

    // No mode chosen: nothing changes.
    grid = before;
    EXPECT_TRUE(specialEdit(grid, Mode::None, "%N", RowRange{1, 4}).empty());
    EXPECT_EQ(grid.column(0), before.column(0));
}

// morvik-cli pattern and title-from-name over real files.
class SpecialEditCli : public ::testing::Test {
protected:
    std::string cli() const { return shellQuote(cliPath()); }
    // An MP3 with an ID3v1 tag of the given bytes.
    std::string mp3(const std::string& name, const std::string& title, const std::string& artist,
                    const std::string& album)
    {
        const std::string path = dir.file(name);
        writeFile(path, toneMp3());
        const auto written = run(cli() + " write " + shellQuote(path) + " " + shellQuote(title) + " " +
                                 shellQuote(artist) + " " + shellQuote(album) + " 2001 c 7 Rock");
        EXPECT_EQ(written.status, 0);
        return path;
    }
    CommandResult inDir(const std::string& command) { return run("cd " + shellQuote(dir.path()) + " && " + command); }
    TempDir dir;
};

TEST_F(SpecialEditCli, PatternPrintsNamesAndRenamesWithoutReplacing)
{
    mp3("a.mp3", "Same", "Ar", "Al");
    mp3("b.mp3", "Same", "Ar", "Al");
    mp3("c.mp3", "Other", "Ar", "Al");
    writeFile(dir.file("Other.mp3"), "not to be replaced");
    const std::string bBytes = readFile(dir.file("b.mp3"));

    const auto shown = inDir(cli() + " pattern '%N.[%M][%A]%T' a.mp3 b.mp3 c.mp3");
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(shown.output, "a.mp3\t1.[Al][Ar]Same.mp3\nb.mp3\t2.[Al][Ar]Same.mp3\nc.mp3\t3.[Al][Ar]Other.mp3\n");
    EXPECT_EQ(listFolder(dir.path()), (std::vector<std::string>{"Other.mp3", "a.mp3", "b.mp3", "c.mp3"}));

    // The second file would take the first one's new name; the third an
    // existing file's: both keep their names, and the status says so.
    const auto applied = inDir(cli() + " pattern --apply %T a.mp3 b.mp3 c.mp3");
    EXPECT_EQ(applied.status, 1);
    EXPECT_EQ(listFolder(dir.path()), (std::vector<std::string>{"Other.mp3", "Same.mp3", "b.mp3", "c.mp3"}));
    EXPECT_EQ(readFile(dir.file("b.mp3")), bBytes);
    EXPECT_EQ(readFile(dir.file("Other.mp3")), "not to be replaced");
}

TEST_F(SpecialEditCli, PatternRefusesNamesThatLeaveTheFolder)
{
    mp3("a.mp3", "x/../../y", "Ar", "Al");
    mp3("b.mp3", "", "Ar", "Al");
    run("mkdir " + shellQuote(dir.file("folder")));
    // "%T" of an empty title is ".mp3", a usable name; a folder is never
    // renamed.
    const auto applied = inDir(cli() + " pattern --apply %T a.mp3 folder b.mp3");
    EXPECT_EQ(applied.status, 1);
    EXPECT_EQ(listFolder(dir.path()), (std::vector<std::string>{".mp3", "a.mp3", "folder"}));
}

TEST_F(SpecialEditCli, PatternShowsShiftJisTagsAsText)
{
    // "曲" and "歌" in Shift-JIS.
    mp3("a.mp3", "\x8b\xc8", "\x89\xcc", "Al");
    const auto shown = inDir(cli() + " pattern --v1 --apply '%A-%T' a.mp3");
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(listFolder(dir.path()), (std::vector<std::string>{"歌-曲.mp3"}));
}

TEST_F(SpecialEditCli, TitleFromNameWritesTitlesKeepingOtherFields)
{
    mp3("Song.Mp3", "old", "\x83\x65", "Al");
    mp3("a.mp3.mp3", "a", "Ar", "Al");
    mp3("曲名.mp3", "", "Ar", "Al");
    mp3("\xF0\x9F\x8E\xB5.mp3", "keep", "Ar", "Al"); // a character Shift-JIS lacks
    const std::string unchanged = readFile(dir.file("a.mp3.mp3"));
    const std::string before = inDir(cli() + " read Song.Mp3").output;

    // Titles print as `read` prints fields: Shift-JIS bytes escaped, or
    // UTF-8 text with --utf8.
    const std::string files = " Song.Mp3 a.mp3.mp3 曲名.mp3 \xF0\x9F\x8E\xB5.mp3";
    const auto shown = inDir(cli() + " title-from-name" + files);
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(shown.output, "Song.Mp3\tSong\na.mp3.mp3\ta\n\\xe6\\x9b\\xb2\\xe5\\x90\\x8d.mp3\t"
                            "\\x8b\\xc8\\x96\\xbc\n\\xf0\\x9f\\x8e\\xb5.mp3\t?\n");
    EXPECT_EQ(inDir(cli() + " title-from-name --utf8 曲名.mp3").output, "曲名.mp3\t曲名\n");

    const auto applied = inDir(cli() + " title-from-name --apply" + files);
    EXPECT_EQ(applied.status, 1); // ID3v1 cannot hold the last title
    const std::string after = inDir(cli() + " read Song.Mp3").output;
    EXPECT_EQ(after, std::string(before).replace(before.find("\told\t"), 5, "\tSong\t"));
    EXPECT_EQ(readFile(dir.file("a.mp3.mp3")), unchanged); // its title was "a" already
    EXPECT_NE(inDir(cli() + " read 曲名.mp3").output.find("\t\\x8b\\xc8\\x96\\xbc\t"), std::string::npos);
    EXPECT_NE(inDir(cli() + " read \xF0\x9F\x8E\xB5.mp3").output.find("\tkeep\t"), std::string::npos);

    // ID3v2 holds it as UTF-16, as the window writes it.
    const auto v2 = inDir(cli() + " title-from-name --v2 --apply \xF0\x9F\x8E\xB5.mp3");
    EXPECT_EQ(v2.status, 0);
    EXPECT_NE(inDir(cli() + " read --v2 --utf8 \xF0\x9F\x8E\xB5.mp3").output.find("\t\xF0\x9F\x8E\xB5\t"),
              std::string::npos);
}

TEST_F(SpecialEditCli, UsageErrors)
{
    mp3("a.mp3", "t", "a", "b");
    for (const char* args : {" pattern", " pattern %T", " pattern --bogus %T a.mp3", " pattern --keep-date %T a.mp3",
                             " title-from-name", " title-from-name --apply"})
        EXPECT_EQ(inDir(cli() + args).status, 2) << args;
}

} // namespace
