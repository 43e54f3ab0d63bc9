#include "ctrlgrid/CtrlGrid.h"

#include "ctrlgrid/CkBoxCel.h"
#include "qttestapp.h"

#include <QComboBox>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class CtrlGridTest : public ::testing::Test {
protected:
    CtrlGridTest() { testApplication(); } // before any widget member is made
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

// A shown grid with a genre-like list over column 7 and a check-box cell
// column, sized so that some rows and columns lie out of view.
class HostedGridTest : public CtrlGridTest {
protected:
    void SetUp() override
    {
        CtrlGridTest::SetUp();
        window.resize(420, 200);
        sg = new TCtrlGrid(&window);
        sg->setGeometry(0, 0, 420, 200);
        sg->SetRowCount(41);
        sg->SetDefaultRowHeight(18);
        for (int row = 1; row < sg->RowCount(); ++row)
            sg->SetRowHeights(row, 18);
        list = new QComboBox(&window);
        list->setEditable(true);
        list->addItems({"Blues", "Jazz", "Rock"});
        box = new TCheckBoxCell(&window);
        other = new QLineEdit(&window);
        other->setGeometry(0, 0, 10, 10);
        other->hide();
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        sg->setFocus();
        QApplication::processEvents();
    }

    void key(QWidget* to, Qt::Key k) { QTest::keyClick(to, k); }

    QWidget window;
    TCtrlGrid* sg = nullptr;
    QComboBox* list = nullptr;
    TCheckBoxCell* box = nullptr;
    QLineEdit* other = nullptr;
};

TEST_F(HostedGridTest, RegistrationsMatchEveryTheLastAndExactIndicesAndTheFirstMatchWins)
{
    QPushButton a, b, c, d;
    TCtrlGridCtrls& ctrls = sg->Ctrls();
    ctrls.Add(7, -1, QString(), &a);  // column 7, every row
    ctrls.Add(-2, 3, QString(), &b);  // the last column (7) in row 3: shadowed by the first
    ctrls.Add(-1, -2, QString(), &c); // every column of the last row
    ctrls.Add(2, 5, QString(), nullptr);
    ctrls.Add(2, 5, QString(), &d); // shadowed by the null control
    ctrls.Add(-3, 4, QString(), &d); // the column before the last: 6
    EXPECT_EQ(ctrls.Count(), 6);
    const int last = sg->RowCount() - 1;
    struct Case {
        int col, row;
        QWidget* expected;
    };
    const Case cases[] = {
        {7, 0, &a},    {7, 1, &a}, {7, 3, &a}, {7, last, &a}, {0, last, &c}, {6, last, &c},
        {2, 5, nullptr}, {6, 4, &d}, {5, 4, nullptr}, {6, 3, nullptr}, {0, 1, nullptr}, {3, last - 1, nullptr},
    };
    for (const Case& c : cases)
        EXPECT_EQ(sg->CtrlAt(c.col, c.row), c.expected) << c.col << "," << c.row;
    // The null registration is found, so it hides the one behind it.
    ASSERT_NE(ctrls.Find(2, 5), nullptr);
    EXPECT_EQ(ctrls.Find(2, 5)->Ctrl, nullptr);
    EXPECT_EQ(ctrls.Items(1).Col, -2);
    EXPECT_EQ(ctrls.Items(1).Row, 3);

    // Showing controls off, or in-cell editing off: nothing is active.
    sg->SetShowControls(false);
    EXPECT_EQ(sg->CtrlAt(7, 1), nullptr);
    sg->SetShowControls(true);
    sg->SetEditing(false);
    EXPECT_EQ(sg->CtrlAt(7, 1), nullptr);
    sg->SetEditing(true);
    EXPECT_EQ(sg->CtrlAt(7, 1), &a);

    // Nothing shows on a null control's cell; the grid's editor opens there.
    sg->SetCurrentCell(2, 5);
    EXPECT_EQ(sg->ShownCtrl(), nullptr);
    QTest::keyClick(sg, Qt::Key_F2);
    EXPECT_TRUE(sg->EditorMode());
    ctrls.Clear();
    EXPECT_EQ(ctrls.Count(), 0);
    EXPECT_EQ(a.parentWidget(), nullptr); // given back, not freed
}

TEST_F(HostedGridTest, ControlCoversTheCellAndHidesWhileTheCellIsNotEntirelyVisible)
{
    sg->Ctrls().Add(7, -1, QString(), list);
    for (int col = 0; col < 7; ++col)
        sg->SetColWidths(col, 40);
    sg->SetColWidths(7, 80);
    for (int row = 1; row < sg->RowCount(); ++row)
        sg->SetRowHeights(row, 17); // no whole number of rows fills the view
    sg->setAutoScroll(false);       // the current cell stays where it is
    sg->SetCurrentCell(0, 1);
    QApplication::processEvents();
    // The first row cut by the bottom edge of the view.
    int half = 1;
    while (sg->CellFullyVisible(7, half))
        ++half;
    ASSERT_LT(half, sg->RowCount() - 1);
    ASSERT_LT(sg->rowViewportPosition(half - 1), sg->viewport()->height()) << "row " << half << " must be half visible";
    sg->SetCells(7, half, QStringLiteral("Jazz"));
    sg->SetCurrentCell(7, half);
    QApplication::processEvents();

    EXPECT_EQ(sg->ShownCtrl(), nullptr);
    EXPECT_FALSE(list->isVisible());
    QTest::keyClick(sg, Qt::Key_A); // nor does the grid's editor open there
    EXPECT_FALSE(sg->EditorMode());

    sg->scrollTo(sg->model()->index(half - 1, 7));
    QApplication::processEvents();
    ASSERT_TRUE(sg->CellFullyVisible(7, half));
    EXPECT_EQ(sg->ShownCtrl(), list);
    EXPECT_TRUE(list->isVisible());
    EXPECT_EQ(list->parentWidget(), sg->viewport());
    const QRect cell = sg->visualRect(sg->model()->index(half - 1, 7));
    EXPECT_EQ(list->geometry(), QRect(cell.left() - 1, cell.top() - 1, cell.width() + 1, cell.height() + 1));
    EXPECT_EQ(list->currentText(), QStringLiteral("Jazz"));
    EXPECT_EQ(list->currentIndex(), 1);

    // Scrolled back, the row is cut again and the control hides; scrolled
    // into view once more, it follows the cell.
    const int value = sg->verticalScrollBar()->value();
    ASSERT_GT(value, 0);
    sg->verticalScrollBar()->setValue(value - 1);
    QApplication::processEvents();
    EXPECT_FALSE(sg->CellFullyVisible(7, half));
    EXPECT_EQ(sg->ShownCtrl(), nullptr);
    EXPECT_FALSE(list->isVisible());
    sg->verticalScrollBar()->setValue(value);
    QApplication::processEvents();
    EXPECT_EQ(sg->ShownCtrl(), list);
    EXPECT_EQ(list->geometry().top(), sg->visualRect(sg->model()->index(half - 1, 7)).top() - 1);

    // A wider column moves the control's edge with it.
    sg->SetColWidths(6, sg->ColWidths(6) - 10);
    const QRect moved = sg->visualRect(sg->model()->index(1, 7));
    EXPECT_EQ(list->geometry().left(), moved.left() - 1);

    // The grid's editor never opens on the control's cell.
    QTest::keyClick(sg, Qt::Key_A);
    QTest::keyClick(sg, Qt::Key_F2);
    EXPECT_FALSE(sg->EditorMode());
    EXPECT_EQ(sg->Cells(7, half), QStringLiteral("Jazz"));
}

TEST_F(HostedGridTest, ListTakesTheFocusOnEnterCommitsTypedTextAndEscRestores)
{
    sg->Ctrls().Add(7, -1, QStringLiteral("Blues"), list);
    sg->SetColWidths(0, 20);
    sg->SetCells(7, 1, QStringLiteral("Rock"));
    int hidden = 0;
    QString shownText;
    sg->OnControlShow = [&](TCtrlGrid*, QWidget*, const QString& text) { shownText = text; };
    sg->OnControlHide = [&](TCtrlGrid*, std::int32_t col, std::int32_t row, QWidget*, QString&) {
        EXPECT_EQ(col, 7);
        EXPECT_GE(row, 1);
        ++hidden;
    };
    QSignalSpy edited(sg, &TCtrlGrid::CellEdited);
    sg->scrollTo(sg->model()->index(0, 7));
    sg->SetCurrentCell(7, 1);
    QApplication::processEvents();
    ASSERT_EQ(sg->ShownCtrl(), list);
    EXPECT_EQ(shownText, QStringLiteral("Rock"));

    // Enter: the list takes the focus; a text that is no item, then Enter,
    // goes into the cell as typed, and the focus is back on the grid.
    key(sg, Qt::Key_Return);
    ASSERT_TRUE(list->hasFocus());
    list->lineEdit()->selectAll();
    QTest::keyClicks(list, QStringLiteral("Shoegaze"));
    key(list, Qt::Key_Return);
    EXPECT_TRUE(sg->hasFocus());
    EXPECT_EQ(sg->Cells(7, 1), QStringLiteral("Shoegaze"));
    EXPECT_EQ(list->count(), 3); // never added to the list
    EXPECT_EQ(sg->ShownCtrl(), list);
    EXPECT_EQ(list->currentText(), QStringLiteral("Shoegaze"));
    ASSERT_EQ(edited.count(), 1);
    EXPECT_EQ(edited.at(0).at(2).toString(), QStringLiteral("Rock"));
    EXPECT_EQ(edited.at(0).at(3).toString(), QStringLiteral("Shoegaze"));
    EXPECT_GE(hidden, 1);

    // Esc: the list shows the cell's text again and the cell is unchanged.
    key(sg, Qt::Key_Return);
    ASSERT_TRUE(list->hasFocus());
    list->lineEdit()->selectAll();
    QTest::keyClicks(list, QStringLiteral("Polka"));
    key(list, Qt::Key_Escape);
    EXPECT_TRUE(sg->hasFocus());
    EXPECT_EQ(sg->Cells(7, 1), QStringLiteral("Shoegaze"));
    EXPECT_EQ(list->currentText(), QStringLiteral("Shoegaze"));
    EXPECT_EQ(edited.count(), 1);

    // An empty cell takes the default text on Enter.
    sg->SetCells(7, 1, QString());
    EXPECT_EQ(list->currentText(), QString()); // the cell's new text reached the list
    key(sg, Qt::Key_Return);
    EXPECT_EQ(list->currentText(), QStringLiteral("Blues"));
    key(list, Qt::Key_Return);
    EXPECT_EQ(sg->Cells(7, 1), QStringLiteral("Blues"));

    // Moving away commits and hides.
    key(sg, Qt::Key_Return);
    list->lineEdit()->selectAll();
    QTest::keyClicks(list, QStringLiteral("Jazz"));
    sg->setFocus();
    sg->SetCurrentCell(6, 1);
    EXPECT_EQ(sg->ShownCtrl(), nullptr);
    EXPECT_FALSE(list->isVisible());
    EXPECT_EQ(sg->Cells(7, 1), QStringLiteral("Jazz"));

    // A list that takes no typed text keeps a cell whose text is no item.
    QComboBox fixed;
    fixed.addItems({"Blues", "Jazz"});
    sg->Ctrls().Clear();
    sg->Ctrls().Add(7, -1, QString(), &fixed);
    sg->SetCells(7, 3, QStringLiteral("Shoegaze"));
    sg->SetCurrentCell(7, 3);
    ASSERT_EQ(sg->ShownCtrl(), &fixed);
    EXPECT_EQ(fixed.currentIndex(), -1);
    sg->SetCurrentCell(6, 3);
    EXPECT_EQ(sg->Cells(7, 3), QStringLiteral("Shoegaze"));
    sg->Ctrls().Clear();
    sg->Ctrls().Add(7, -1, QString(), list);

    // Text of any length moves whole.
    const QString longText(1000, QChar(u'x'));
    sg->SetCells(7, 2, longText);
    sg->SetCurrentCell(7, 2);
    ASSERT_EQ(sg->ShownCtrl(), list);
    EXPECT_EQ(list->currentText(), longText);
    sg->SetCurrentCell(6, 2);
    EXPECT_EQ(sg->Cells(7, 2), longText);
}

TEST_F(HostedGridTest, FocusLeavingForAnotherWidgetCommitsTheControl)
{
    sg->Ctrls().Add(1, -1, QString(), list);
    sg->SetCurrentCell(1, 3);
    ASSERT_EQ(sg->ShownCtrl(), list);
    key(sg, Qt::Key_Return);
    list->lineEdit()->selectAll();
    QTest::keyClicks(list, QStringLiteral("typed"));
    other->show();
    other->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(sg->ShownCtrl(), nullptr);
    EXPECT_EQ(sg->Cells(1, 3), QStringLiteral("typed"));
    // Back in the grid, the control shows again with the committed text.
    sg->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(sg->ShownCtrl(), list);
    EXPECT_EQ(list->currentText(), QStringLiteral("typed"));
}

TEST_F(HostedGridTest, CheckBoxCellsToggleByEnterAndSpaceAndDrawTheMarkOnlyForOne)
{
    sg->Ctrls().Add(2, -1, QString(), box);
    sg->SetColWidths(2, 40);
    sg->SetCells(2, 1, QStringLiteral("1"));
    sg->SetCells(2, 2, QStringLiteral("0"));
    sg->SetCells(2, 3, QStringLiteral("yes"));
    sg->SetCurrentCell(0, 5);
    QApplication::processEvents();

    // Only "1" draws the mark; nothing else of the cell is drawn.
    QImage image(sg->viewport()->size(), QImage::Format_RGB32);
    sg->viewport()->render(&image);
    auto darkPixels = [&](int row) {
        const QRect cell = sg->CellRect(2, row);
        int count = 0;
        for (int y = cell.top(); y <= cell.bottom(); ++y)
            for (int x = cell.left(); x <= cell.right(); ++x)
                count += qGray(image.pixel(x, y)) < 80;
        return count;
    };
    EXPECT_GT(darkPixels(1), 10);
    EXPECT_EQ(darkPixels(2), 0);
    EXPECT_EQ(darkPixels(3), 0);
    const QPolygon mark = TCheckBoxCell::CheckMark(QRect(0, 0, 16, 16));
    EXPECT_EQ(mark, QPolygon({QPoint(4, 6), QPoint(6, 8), QPoint(10, 4), QPoint(11, 5), QPoint(6, 10), QPoint(4, 8)}));

    sg->SetCurrentCell(2, 2);
    ASSERT_EQ(sg->ShownCtrl(), box);
    EXPECT_FALSE(box->Checked());
    key(sg, Qt::Key_Return);
    EXPECT_TRUE(box->Checked());
    EXPECT_TRUE(sg->hasFocus()); // Enter toggles, the focus stays
    key(sg, Qt::Key_Space);
    EXPECT_FALSE(box->Checked());
    key(sg, Qt::Key_Space);
    EXPECT_TRUE(box->Checked());
    sg->SetCurrentCell(2, 1);
    EXPECT_EQ(sg->Cells(2, 2), QStringLiteral("1"));

    // A text other than "1" reads as unchecked and Enter makes it "1".
    sg->SetCurrentCell(2, 3);
    EXPECT_FALSE(box->Checked());
    EXPECT_EQ(box->Text(), QStringLiteral("yes"));
    key(sg, Qt::Key_Return);
    sg->SetCurrentCell(2, 4);
    EXPECT_EQ(sg->Cells(2, 3), QStringLiteral("1"));

    // The box itself: a click and Space toggle; the text mirrors the state.
    TCheckBoxCell alone;
    QSignalSpy clicked(&alone, &TCheckBoxCell::Clicked);
    alone.SetChecked(true);
    EXPECT_EQ(alone.Text(), QStringLiteral("1"));
    alone.SetText(QStringLiteral("0"));
    EXPECT_FALSE(alone.Checked());
    alone.Click();
    EXPECT_TRUE(alone.Checked());
    QTest::keyClick(&alone, Qt::Key_Space);
    EXPECT_FALSE(alone.Checked());
    EXPECT_EQ(clicked.count(), 2);
    EXPECT_EQ(alone.size(), QSize(16, 16));
}

TEST_F(HostedGridTest, ButtonCellsAreDrawnNotShownAndClickByEnterSpaceAndMouse)
{
    QPushButton button(QStringLiteral("…"));
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&] { ++clicks; });
    sg->Ctrls().Add(1, 2, QString(), &button);
    sg->SetCurrentCell(1, 2);
    QApplication::processEvents();
    EXPECT_EQ(sg->ShownCtrl(), &button);
    EXPECT_FALSE(button.isVisible());
    key(sg, Qt::Key_Return);
    EXPECT_EQ(clicks, 1);
    QTest::keyPress(sg, Qt::Key_Space);
    EXPECT_TRUE(sg->ButtonPressed());
    EXPECT_EQ(clicks, 1);
    QTest::keyRelease(sg, Qt::Key_Space);
    EXPECT_FALSE(sg->ButtonPressed());
    EXPECT_EQ(clicks, 2);
    const QPoint centre = sg->CellRect(1, 2).center();
    QTest::mouseClick(sg->viewport(), Qt::LeftButton, Qt::NoModifier, centre);
    EXPECT_EQ(clicks, 3);
    // Pressed, dragged off the cell and released: no click.
    QTest::mousePress(sg->viewport(), Qt::LeftButton, Qt::NoModifier, centre);
    QMouseEvent move(QEvent::MouseMove, QPointF(sg->CellRect(3, 4).center()), sg->viewport()->mapToGlobal(QPointF(sg->CellRect(3, 4).center())),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(sg->viewport(), &move);
    EXPECT_FALSE(sg->ButtonPressed());
    QTest::mouseRelease(sg->viewport(), Qt::LeftButton, Qt::NoModifier, sg->CellRect(3, 4).center());
    EXPECT_EQ(clicks, 3);
    EXPECT_EQ(sg->Cells(1, 2), QString()); // a button never writes its caption
}

TEST_F(HostedGridTest, EscInTheGridsEditorRestoresTheCellAndEnterKeepsTheTypedText)
{
    sg->SetCells(1, 2, QStringLiteral("old"));
    QSignalSpy edited(sg, &TCtrlGrid::CellEdited);
    sg->SetCurrentCell(1, 2);
    sg->editItem(sg->item(1, 1));
    auto* editor = sg->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("typed"));
    EXPECT_EQ(sg->Cells(1, 2), QStringLiteral("typed"));
    QTest::keyClick(editor, Qt::Key_Escape);
    EXPECT_FALSE(sg->EditorMode());
    EXPECT_EQ(sg->Cells(1, 2), QStringLiteral("old"));
    EXPECT_EQ(edited.count(), 0);

    sg->editItem(sg->item(1, 1));
    editor = qobject_cast<QLineEdit*>(sg->indexWidget(sg->currentIndex()));
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("new"));
    QTest::keyClick(editor, Qt::Key_Return);
    QApplication::processEvents(); // the editor closes from the event loop
    EXPECT_FALSE(sg->EditorMode());
    EXPECT_EQ(sg->Cells(1, 2), QStringLiteral("new"));
    ASSERT_EQ(edited.count(), 1);
    EXPECT_EQ(edited.at(0).at(0).toInt(), 1);
    EXPECT_EQ(edited.at(0).at(1).toInt(), 2);
    EXPECT_EQ(edited.at(0).at(2).toString(), QStringLiteral("old"));
    EXPECT_EQ(edited.at(0).at(3).toString(), QStringLiteral("new"));
}

TEST_F(HostedGridTest, ControlsGoBackToTheirOwnersWhenTheGridGoes)
{
    QWidget owner;
    auto* combo = new QComboBox(&owner);
    QPointer<QComboBox> alive(combo);
    {
        TCtrlGrid grid;
        grid.Ctrls().Add(0, -1, QString(), combo);
        EXPECT_EQ(combo->parentWidget(), grid.viewport());
    }
    ASSERT_TRUE(alive);
    EXPECT_EQ(combo->parentWidget(), &owner);
    // A control living in the grid's own window goes with that window.
    auto* parentWindow = new QWidget;
    auto* inner = new TCtrlGrid(parentWindow);
    QPointer<QComboBox> withWindow(new QComboBox(parentWindow));
    inner->Ctrls().Add(0, -1, QString(), withWindow);
    delete parentWindow;
    EXPECT_FALSE(withWindow);
}

TEST_F(HostedGridTest, CellClickFollowsEveryMoveOfTheCurrentCellOnceAndClicksOnIt)
{
    QSignalSpy clicks(sg, &TCtrlGrid::CellClick);
    auto last = [&] { return std::make_pair(clicks.last().at(0).toInt(), clicks.last().at(1).toInt()); };
    sg->SetCurrentCell(1, 1);
    ASSERT_EQ(clicks.count(), 1);
    EXPECT_EQ(last(), std::make_pair(1, 1));
    QTest::keyClick(sg, Qt::Key_Down);
    ASSERT_EQ(clicks.count(), 2);
    EXPECT_EQ(last(), std::make_pair(1, 2));
    EXPECT_EQ(sg->ClickModifiers(), Qt::NoModifier);
    QTest::keyClick(sg, Qt::Key_Right, Qt::ShiftModifier);
    ASSERT_EQ(clicks.count(), 3);
    EXPECT_EQ(last(), std::make_pair(2, 2));
    EXPECT_EQ(sg->ClickModifiers(), Qt::ShiftModifier);
    QTest::mouseClick(sg->viewport(), Qt::LeftButton, Qt::NoModifier, sg->CellRect(2, 2).center());
    ASSERT_EQ(clicks.count(), 4); // a click on the current cell
    EXPECT_EQ(sg->ClickModifiers(), Qt::NoModifier);
    QTest::mouseClick(sg->viewport(), Qt::LeftButton, Qt::ShiftModifier, sg->CellRect(3, 3).center());
    EXPECT_EQ(sg->ClickModifiers(), Qt::ShiftModifier);
    ASSERT_EQ(clicks.count(), 5);
    QTest::mouseClick(sg->viewport(), Qt::LeftButton, Qt::NoModifier, sg->CellRect(2, 2).center());
    ASSERT_EQ(clicks.count(), 6);
    clicks.clear();
    sg->SetCurrentCell(2, 2);
    EXPECT_EQ(clicks.count(), 0); // no move, no click
    QTest::mouseClick(sg->viewport(), Qt::LeftButton, Qt::NoModifier, sg->CellRect(4, 3).center());
    ASSERT_EQ(clicks.count(), 1);
    EXPECT_EQ(last(), std::make_pair(4, 3));
    // A drag moves the current cell without a click.
    QTest::mousePress(sg->viewport(), Qt::LeftButton, Qt::NoModifier, sg->CellRect(1, 1).center());
    ASSERT_EQ(clicks.count(), 2);
    QMouseEvent drag(QEvent::MouseMove, QPointF(sg->CellRect(3, 4).center()),
                     sg->viewport()->mapToGlobal(QPointF(sg->CellRect(3, 4).center())), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(sg->viewport(), &drag);
    QTest::mouseRelease(sg->viewport(), Qt::LeftButton, Qt::NoModifier, sg->CellRect(3, 4).center());
    EXPECT_EQ(clicks.count(), 2);
    EXPECT_EQ(sg->Col(), 3);
    EXPECT_EQ(sg->Row(), 4);

    // The grid's editor leaves right clicks to the grid's own menu.
    sg->SetCurrentCell(1, 2);
    QTest::keyClick(sg, Qt::Key_F2);
    auto* editor = qobject_cast<QLineEdit*>(sg->indexWidget(sg->currentIndex()));
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->contextMenuPolicy(), Qt::NoContextMenu);
}

} // namespace
