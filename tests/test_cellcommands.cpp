#include "app/cellcommands.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace morvik::cells;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr double kTenMegabyteBound = 5.0; // instrumented builds run several times slower
#else
constexpr double kTenMegabyteBound = 1.0;
#endif

// A grid of texts, title row included, counting every write.
class FakeGrid : public CellTexts {
public:
    FakeGrid(std::int32_t cols, std::int32_t rows) : m_cols(cols), m_cells(static_cast<std::size_t>(cols * rows)) {}
    std::int32_t colCount() const override { return m_cols; }
    std::int32_t rowCount() const override { return static_cast<std::int32_t>(m_cells.size()) / m_cols; }
    std::string text(std::int32_t col, std::int32_t row) const override { return m_cells.at(index(col, row)); }
    void setText(std::int32_t col, std::int32_t row, const std::string& text) override
    {
        m_cells.at(index(col, row)) = text;
        ++writes;
    }
    std::vector<std::string> column(std::int32_t col, std::int32_t top, std::int32_t bottom) const
    {
        std::vector<std::string> texts;
        for (std::int32_t row = top; row <= bottom; ++row)
            texts.push_back(text(col, row));
        return texts;
    }
    void fill(const std::string& prefix)
    {
        for (std::int32_t row = 0; row < rowCount(); ++row)
            for (std::int32_t col = 0; col < m_cols; ++col)
                setText(col, row, prefix + std::to_string(col) + "." + std::to_string(row));
        writes = 0;
    }
    int writes = 0;

private:
    std::size_t index(std::int32_t col, std::int32_t row) const
    {
        if (col < 0 || col >= m_cols || row < 0 || row >= rowCount())
            throw std::out_of_range("cell outside the grid");
        return static_cast<std::size_t>(row * m_cols + col);
    }
    std::int32_t m_cols;
    std::vector<std::string> m_cells;
};

TEST(CellCommands, CommandRectSpansAnchorAndCurrentCellInEitherOrder)
{
    EXPECT_EQ(commandRect({1, 1}, {2, 2}), (CellRect{1, 1, 2, 2}));
    EXPECT_EQ(commandRect({5, 9}, {2, 3}), (CellRect{2, 3, 5, 9}));
    EXPECT_EQ(commandRect({4, 2}, {1, 6}), (CellRect{1, 2, 4, 6}));
    // Before any move: the first data cell, never the title row.
    EXPECT_EQ(commandRect(kInitialAnchor, {0, 1}), (CellRect{0, 1, 0, 1}));
}

TEST(CellCommands, CopyJoinsCellsByCommaAndRowsByCrLfWithoutTrailingBreak)
{
    FakeGrid grid(8, 5);
    grid.setText(1, 1, "t1");
    grid.setText(2, 1, "a1");
    grid.setText(1, 2, "t2");
    grid.setText(2, 2, "a2");
    EXPECT_EQ(copyBlock(grid, commandRect({2, 2}, {1, 1})), "t1,a1\r\nt2,a2");
    EXPECT_EQ(copyBlock(grid, {1, 1, 1, 1}), "t1");
    EXPECT_EQ(copyBlock(grid, {3, 3, 4, 4}), ",\r\n,");
}

struct PasteCase {
    const char* name;
    std::string clip;
    CellPos current;
    CellRect rect;
    std::vector<std::pair<CellPos, std::string>> expected; // cells that must hold these texts
};

TEST(CellCommands, PastePlacesBlocksAndFillsTheRectangleWithSingleValues)
{
    const PasteCase cases[] = {
        {"block at an offset", "p,q\r\ns", {2, 3}, {2, 3, 2, 3}, {{{2, 3}, "p"}, {{3, 3}, "q"}, {{2, 4}, "s"}, {{3, 4}, "c3.4"}}},
        {"trailing CR LF empties the start cell below", "p,q\r\n", {2, 3}, {2, 3, 2, 3},
         {{{2, 3}, "p"}, {{3, 3}, "q"}, {{2, 4}, ""}, {{3, 4}, "c3.4"}}},
        {"a comma inside a field splits it", "Smith, John", {1, 2}, {1, 2, 1, 2}, {{{1, 2}, "Smith"}, {{2, 2}, " John"}}},
        {"empty clipboard empties the rectangle", "", {3, 2}, {2, 1, 3, 2},
         {{{2, 1}, ""}, {{3, 1}, ""}, {{2, 2}, ""}, {{3, 2}, ""}, {{4, 2}, "c4.2"}, {{2, 3}, "c2.3"}}},
        {"single value fills the rectangle", "Rock", {7, 1}, {6, 1, 7, 2},
         {{{6, 1}, "Rock"}, {{7, 1}, "Rock"}, {{6, 2}, "Rock"}, {{7, 2}, "Rock"}, {{5, 1}, "c5.1"}}},
        {"lone LF dropped, lone CR kept", "a\nb\rc,d", {1, 1}, {1, 1, 1, 1}, {{{1, 1}, "ab\rc"}, {{2, 1}, "d"}, {{1, 2}, "c1.2"}}},
        {"a lone LF in a single value stays", "x\ny", {1, 1}, {1, 1, 2, 1}, {{{1, 1}, "x\ny"}, {{2, 1}, "x\ny"}}},
        {"rows restart at the start column", "a,b,c\r\nd\r\ne,f", {5, 1}, {5, 1, 5, 1},
         {{{5, 1}, "a"}, {{6, 1}, "b"}, {{7, 1}, "c"}, {{5, 2}, "d"}, {{6, 2}, "c6.2"}, {{5, 3}, "e"}, {{6, 3}, "f"}}},
        {"CR CR LF keeps the first CR", "a\r\r\nb", {1, 1}, {1, 1, 1, 1}, {{{1, 1}, "a\r"}, {{1, 2}, "b"}}},
        {"multi-byte UTF-8 moves whole", "曲名,アーティスト", {1, 1}, {1, 1, 1, 1}, {{{1, 1}, "曲名"}, {{2, 1}, "アーティスト"}}},
    };
    for (const PasteCase& c : cases) {
        FakeGrid grid(8, 6);
        grid.fill("c");
        pasteText(grid, c.current, c.rect, c.clip, 5);
        for (const auto& [at, text] : c.expected)
            EXPECT_EQ(grid.text(at.col, at.row), text) << c.name << " at " << at.col << "," << at.row;
        for (std::int32_t col = 0; col < 8; ++col)
            EXPECT_EQ(grid.text(col, 0), "c" + std::to_string(col) + ".0") << c.name << ": title row written";
    }
}

TEST(CellCommands, PasteDropsCellsRightOfTheColumnsAndBelowTheLastLoadedRow)
{
    FakeGrid grid(8, 10);
    grid.fill("c");
    // Three loaded rows of nine grid rows; the block overhangs both edges.
    const EditStep step = pasteText(grid, {6, 2}, {6, 2, 6, 2}, "a,b,c\r\nd,e,f\r\ng,h,i\r\nj", 3);
    EXPECT_EQ(grid.text(6, 2), "a");
    EXPECT_EQ(grid.text(7, 2), "b");
    EXPECT_EQ(grid.text(6, 3), "d");
    EXPECT_EQ(grid.text(7, 3), "e");
    EXPECT_EQ(grid.text(6, 4), "c6.4");
    EXPECT_EQ(grid.text(0, 3), "c0.3");
    EXPECT_EQ(step.size(), 4u);
    // A single value fills only loaded rows of the rectangle.
    pasteText(grid, {1, 5}, {1, 2, 1, 5}, "v", 3);
    EXPECT_EQ(grid.column(1, 1, 5), (std::vector<std::string>{"c1.1", "v", "v", "c1.4", "c1.5"}));
}

TEST(CellCommands, PasteOfMegabytesOfBinaryBytesStaysBoundedAndFast)
{
    std::mt19937 random(11);
    std::string clip(10u << 20, '\0');
    for (char& byte : clip)
        byte = static_cast<char>(random());
    // Tens of thousands of lines as well.
    for (std::size_t at = 0; at + 1 < clip.size(); at += 200) {
        clip[at] = '\r';
        clip[at + 1] = '\n';
    }
    FakeGrid grid(8, 5001);
    const auto start = std::chrono::steady_clock::now();
    const EditStep step = pasteText(grid, {3, 1}, {3, 1, 3, 1}, clip, 5000);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, kTenMegabyteBound);
    EXPECT_GT(step.size(), 5000u);
    EXPECT_LE(grid.writes, 5000 * 5);
    for (std::int32_t col = 0; col < 8; ++col)
        EXPECT_EQ(grid.text(col, 0), "");

    // One line far wider than the grid: every field right of column 7 is dropped.
    std::string wide;
    for (int i = 0; i < 200000; ++i)
        wide += "f" + std::to_string(i) + ",";
    FakeGrid small(8, 3);
    pasteText(small, {6, 1}, {6, 1, 6, 1}, wide, 2);
    EXPECT_EQ(small.text(6, 1), "f0");
    EXPECT_EQ(small.text(7, 1), "f1");
    EXPECT_EQ(small.writes, 2);
}

TEST(CellCommands, DeleteEmptiesTheRectangleOnly)
{
    FakeGrid grid(8, 6);
    grid.fill("c");
    const EditStep step = deleteRect(grid, {1, 2, 2, 3});
    EXPECT_EQ(step.size(), 4u);
    EXPECT_EQ(grid.column(1, 1, 4), (std::vector<std::string>{"c1.1", "", "", "c1.4"}));
    EXPECT_EQ(grid.column(3, 2, 3), (std::vector<std::string>{"c3.2", "c3.3"}));
    EXPECT_TRUE(deleteRect(grid, {1, 2, 2, 3}).empty()); // nothing left to change
}

TEST(CellCommands, SerialNumbersTakeLeadingZerosByTheHeightOfTheRun)
{
    struct Run {
        std::int32_t rows;
        std::vector<std::string> expected; // first, second, …, and the last three
    };
    const Run runs[] = {
        {10, {"1", "2", "8", "9", "10"}},
        {11, {"01", "02", "09", "10", "11"}},
        {100, {"01", "02", "98", "99", "100"}},
        {101, {"001", "002", "099", "100", "101"}},
        {1, {"1"}},
    };
    for (const Run& run : runs) {
        FakeGrid grid(8, run.rows + 2);
        serialNumbers(grid, {2, 1, 3, run.rows});
        for (std::int32_t col : {2, 3}) {
            const auto texts = grid.column(col, 1, run.rows);
            std::vector<std::string> ends(texts.begin(), texts.begin() + std::min<std::ptrdiff_t>(2, run.rows));
            if (run.rows > 2)
                ends.insert(ends.end(), texts.end() - 3, texts.end());
            EXPECT_EQ(ends, run.expected) << run.rows << " rows, column " << col;
        }
        EXPECT_EQ(grid.text(2, run.rows + 1), "") << run.rows;
        EXPECT_EQ(grid.text(1, 1), "") << run.rows;
    }
    // The numbering starts at the top of the rectangle, not at row 1.
    FakeGrid grid(8, 20);
    serialNumbers(grid, {0, 5, 0, 7});
    EXPECT_EQ(grid.column(0, 4, 8), (std::vector<std::string>{"", "1", "2", "3", ""}));
}

TEST(CellCommands, UndoAndRedoPutBackAPasteASerialRunAndATypedCell)
{
    FakeGrid grid(8, 12);
    grid.fill("c");
    FakeGrid original = grid;
    EditHistory history;
    EXPECT_FALSE(history.undo(grid));
    EXPECT_TRUE(history.allUndone());

    history.push(pasteText(grid, {1, 2}, {1, 2, 1, 2}, "a,b\r\nc,d", 11));
    FakeGrid afterPaste = grid;
    history.push(serialNumbers(grid, {6, 1, 6, 11}));
    FakeGrid afterSerial = grid;
    history.push(writeCell(grid, {2, 2}, "typed"));
    FakeGrid afterTyped = grid;
    history.push(deleteRect(grid, {5, 5, 5, 4})); // an empty rectangle: no step
    EXPECT_FALSE(history.allUndone());

    const FakeGrid* states[] = {&original, &afterPaste, &afterSerial, &afterTyped};
    auto same = [](const FakeGrid& a, const FakeGrid& b) {
        for (std::int32_t row = 0; row < a.rowCount(); ++row)
            for (std::int32_t col = 0; col < a.colCount(); ++col)
                if (a.text(col, row) != b.text(col, row))
                    return false;
        return true;
    };
    for (int done = 3; done > 0; --done) {
        ASSERT_TRUE(history.undo(grid));
        EXPECT_TRUE(same(grid, *states[done - 1])) << "after undo to " << done - 1;
    }
    EXPECT_TRUE(history.allUndone());
    EXPECT_FALSE(history.undo(grid));
    for (int done = 1; done <= 3; ++done) {
        ASSERT_TRUE(history.redo(grid));
        EXPECT_TRUE(same(grid, *states[done])) << "after redo to " << done;
    }
    EXPECT_FALSE(history.redo(grid));

    // A new step after undoing drops what was undone.
    history.undo(grid);
    history.undo(grid);
    history.push(writeCell(grid, {3, 3}, "other"));
    EXPECT_FALSE(history.canRedo());
    history.undo(grid);
    EXPECT_TRUE(same(grid, afterPaste));

    history.clear();
    EXPECT_FALSE(history.canUndo());
    EXPECT_FALSE(history.canRedo());
    EXPECT_TRUE(history.allUndone());
}

TEST(CellCommands, WriteCellIgnoresTheTitleRowAndCellsOutsideTheGrid)
{
    FakeGrid grid(8, 3);
    const CellPos outside[] = {{1, 0}, {8, 1}, {-1, 1}, {0, 3}};
    for (const CellPos& at : outside)
        EXPECT_TRUE(writeCell(grid, at, "x").empty()) << at.col << "," << at.row;
    EXPECT_EQ(grid.writes, 0);
    const EditStep step = writeCell(grid, {0, 2}, "name");
    EXPECT_EQ(step, (EditStep{CellChange{2, 0, "", "name"}}));
}

} // namespace
