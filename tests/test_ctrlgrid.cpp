#include "ctrlgrid/CtrlGrid.h"

#include "qttestapp.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class CtrlGridTest : public ::testing::Test {
protected:
    void SetUp() override { testApplication(); }
};

TEST_F(CtrlGridTest, RowZeroIsTheTitleRowAndDataRowsFollow)
{
    TCtrlGrid sg;
    EXPECT_EQ(sg.ColCount(), 8);
    EXPECT_EQ(sg.RowCount(), 8); // title row and seven data rows
    sg.SetCells(2, 0, QStringLiteral("曲名"));
    sg.SetCells(2, 1, QStringLiteral("first"));
    sg.SetCells(7, 7, QStringLiteral("last"));
    EXPECT_EQ(sg.horizontalHeaderItem(2)->text(), QStringLiteral("曲名"));
    EXPECT_EQ(sg.item(0, 2)->text(), QStringLiteral("first"));
    EXPECT_EQ(sg.item(6, 7)->text(), QStringLiteral("last"));
    EXPECT_EQ(sg.Cells(2, 0), QStringLiteral("曲名"));
    EXPECT_EQ(sg.Cells(2, 1), QStringLiteral("first"));
    EXPECT_EQ(sg.Cells(3, 3), QString());

    // Outside the grid: writes are dropped, reads are empty.
    const std::pair<int, int> outside[] = {{8, 1}, {-1, 1}, {0, 8}, {0, -1}, {100, 100}};
    for (const auto& [col, row] : outside) {
        sg.SetCells(col, row, QStringLiteral("x"));
        EXPECT_EQ(sg.Cells(col, row), QString()) << col << "," << row;
    }
    EXPECT_EQ(sg.RowCount(), 8);
}

TEST_F(CtrlGridTest, RowCountCountsTheTitleRowAndKeepsTexts)
{
    TCtrlGrid sg;
    sg.SetCells(0, 5, QStringLiteral("kept"));
    sg.SetRowCount(5001);
    EXPECT_EQ(sg.RowCount(), 5001);
    EXPECT_EQ(sg.rowCount(), 5000);
    EXPECT_EQ(sg.Cells(0, 5), QStringLiteral("kept"));
    sg.SetCells(1, 5000, QStringLiteral("bottom"));
    EXPECT_EQ(sg.Cells(1, 5000), QStringLiteral("bottom"));
    sg.SetRowCount(1);
    EXPECT_EQ(sg.RowCount(), 1);
    EXPECT_EQ(sg.Cells(0, 5), QString());
}

TEST_F(CtrlGridTest, CurrentCellWidthsAndHeightsUseGridNumbering)
{
    TCtrlGrid sg;
    sg.SetCurrentCell(3, 2);
    EXPECT_EQ(sg.Col(), 3);
    EXPECT_EQ(sg.Row(), 2);
    EXPECT_EQ(sg.currentRow(), 1);
    sg.SetCurrentCell(1, 0); // the title row cannot be current
    EXPECT_EQ(sg.Row(), 2);

    sg.SetColWidths(2, 120);
    sg.SetDefaultColWidth(50); // resets every column
    for (int col = 0; col < sg.ColCount(); ++col)
        EXPECT_EQ(sg.ColWidths(col), 50) << col;
    sg.SetColWidths(7, 33);
    EXPECT_EQ(sg.ColWidths(7), 33);

    EXPECT_EQ(sg.DefaultRowHeight(), 14);
    EXPECT_EQ(sg.RowHeights(4), 14);
    sg.SetRowHeights(4, 21);
    sg.SetRowHeights(0, 19);
    EXPECT_EQ(sg.RowHeights(4), 21);
    EXPECT_EQ(sg.RowHeights(0), 19);
    EXPECT_EQ(sg.RowHeights(3), 14);
}

TEST_F(CtrlGridTest, OpeningTheEditorSignalsAndTypingReachesTheCellAtOnce)
{
    TCtrlGrid sg;
    sg.resize(400, 200);
    sg.show();
    sg.SetCells(1, 2, QStringLiteral("old"));
    QSignalSpy opened(&sg, &TCtrlGrid::GetEditText);
    sg.SetCurrentCell(1, 2);
    sg.editItem(sg.item(1, 1));
    ASSERT_TRUE(sg.EditorMode());
    ASSERT_EQ(opened.count(), 1);
    EXPECT_EQ(opened.at(0).at(0).toInt(), 1);
    EXPECT_EQ(opened.at(0).at(1).toInt(), 2);

    auto* editor = sg.findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("new"));
    // Still editing, yet the cell already holds what was typed.
    EXPECT_TRUE(sg.EditorMode());
    EXPECT_EQ(sg.Cells(1, 2), QStringLiteral("new"));
    EXPECT_EQ(opened.count(), 1);
}

} // namespace
