// Sorting rows with their records and fitting columns on a real grid (Qt's
// offscreen platform).
#include "app/gridarrange.h"

#include "ctrlgrid/CtrlGrid.h"
#include "qttestapp.h"

#include <QFontMetrics>
#include <gtest/gtest.h>

namespace {

using morvik::utf8Text;

class GridArrange : public ::testing::Test {
protected:
    GridArrange()
    {
        testApplication();
        grid = std::make_unique<TCtrlGrid>();
        grid->SetColCount(8);
        grid->SetRowCount(8);
    }
    // A loaded row: name (file-system bytes), title and track; the record
    // remembers its path.
    void addRow(const std::string& name, const QString& title, const QString& track)
    {
        const int row = files.Count + 1;
        TFileList record;
        record.Path = "/music/" + name;
        grid->SetCells(0, row, morvik::shownFileName(name));
        grid->SetCells(1, row, title);
        grid->SetCells(6, row, track);
        grid->SetCells(2, row, QStringLiteral("artist of ") + title);
        files.Items.push_back(std::move(record));
        ++files.Count;
    }
    QStringList column(int col) const
    {
        QStringList texts;
        for (int row = 1; row <= files.Count; ++row)
            texts << grid->Cells(col, row);
        return texts;
    }
    QStringList paths() const
    {
        QStringList out;
        for (const TFileList& record : files.Items)
            out << utf8Text(record.Path);
        return out;
    }
    std::unique_ptr<TCtrlGrid> grid;
    TFileListL files;
};

TEST_F(GridArrange, RowsMoveWithTheirRecords)
{
    addRow("b.mp3", "b", "1");
    addRow("a.mp3", "a", "2");
    addRow("d.mp3", "d", "3");
    grid->SetCells(1, 4, QStringLiteral("below the files"));

    EXPECT_FALSE(morvik::sortLoadedRows(*grid, files, 1, true));
    EXPECT_EQ(column(1), (QStringList{"d", "b", "a"}));
    EXPECT_EQ(column(2), (QStringList{"artist of d", "artist of b", "artist of a"}));
    EXPECT_EQ(paths(), (QStringList{"/music/d.mp3", "/music/b.mp3", "/music/a.mp3"}));
    EXPECT_EQ(grid->Cells(1, 4), QStringLiteral("below the files"));

    EXPECT_FALSE(morvik::sortLoadedRows(*grid, files, 6, false));
    EXPECT_EQ(column(0), (QStringList{"b.mp3", "a.mp3", "d.mp3"}));
    EXPECT_EQ(paths(), (QStringList{"/music/b.mp3", "/music/a.mp3", "/music/d.mp3"}));
}

TEST_F(GridArrange, NamesSortByTheFileSystemsBytes)
{
    // "\x80" is no UTF-8 and shows as U+FFFD (bytes EF BF BD), after "é"
    // (C3 A9); its own byte comes first.
    addRow("\xc3\xa9.mp3", "1", "");
    addRow("\x80.mp3", "2", "");
    EXPECT_FALSE(morvik::sortLoadedRows(*grid, files, 0, false));
    EXPECT_EQ(column(1), (QStringList{"2", "1"}));
    // A name typed into the cell sorts by what it shows.
    grid->SetCells(0, 2, QStringLiteral("a.mp3"));
    EXPECT_FALSE(morvik::sortLoadedRows(*grid, files, 0, false));
    EXPECT_EQ(column(1), (QStringList{"1", "2"}));
}

TEST_F(GridArrange, ATrackThatIsNoIntegerIsNamedAndTheExchangesMadeStay)
{
    addRow("1.mp3", "one", "1");
    addRow("5.mp3", "five", "5");
    addRow("x.mp3", "ex", "x1");
    const auto bad = morvik::sortLoadedRows(*grid, files, 6, true);
    ASSERT_TRUE(bad);
    EXPECT_EQ(*bad, QStringLiteral("x1"));
    EXPECT_EQ(column(1), (QStringList{"five", "one", "ex"}));
    EXPECT_EQ(paths(), (QStringList{"/music/5.mp3", "/music/1.mp3", "/music/x.mp3"}));
}

TEST_F(GridArrange, FittingMeasuresDataRowsOfColumnsZeroToSix)
{
    const QFontMetrics metrics(grid->font());
    for (int col = 0; col < 8; ++col)
        grid->SetColWidths(col, 50);
    grid->SetCells(1, 0, QStringLiteral("a very long column title that is not measured"));
    morvik::fitColumns(*grid, metrics, 0); // no files: nothing changes
    for (int col = 0; col < 8; ++col)
        EXPECT_EQ(grid->ColWidths(col), 50) << col;

    addRow("name.mp3", "a much longer title than the others", "");
    addRow("n.mp3", "short", "");
    grid->SetCells(7, 1, QStringLiteral("a genre text that would be wide"));
    morvik::fitColumns(*grid, metrics, files.Count);
    EXPECT_EQ(grid->ColWidths(0), metrics.horizontalAdvance(QStringLiteral("name.mp3")) + 4);
    EXPECT_EQ(grid->ColWidths(1), metrics.horizontalAdvance(QStringLiteral("a much longer title than the others")) + 4);
    EXPECT_EQ(grid->ColWidths(3), 4); // empty texts still fit: 0 + 4
    EXPECT_EQ(grid->ColWidths(7), 50);
}

} // namespace
