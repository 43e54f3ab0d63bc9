#include "ctrlgrid/CtrlGrid.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QStyledItemDelegate>

namespace {

// The cell's text follows the editor keystroke by keystroke, as in a classic
// string grid, so a command run while the editor is open (apply, copy) sees
// what has been typed.
class LiveCellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override
    {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (auto* line = qobject_cast<QLineEdit*>(editor)) {
            auto* self = const_cast<LiveCellDelegate*>(this);
            connect(line, &QLineEdit::textEdited, self, [self, line](const QString&) { emit self->commitData(line); });
        }
        return editor;
    }
};

} // namespace

TCtrlGrid::TCtrlGrid(QWidget* parent) : QTableWidget(parent)
{
    setColumnCount(8);
    setRowCount(7);
    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setMinimumSectionSize(1);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setHighlightSections(false);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::AnyKeyPressed | QAbstractItemView::DoubleClicked |
                    QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    setTabKeyNavigation(true);
    setWordWrap(false);
    setShowGrid(true);
    setSortingEnabled(false);
    setItemDelegate(new LiveCellDelegate(this));
    SetDefaultRowHeight(14);
    SetDefaultColWidth(m_defaultColWidth);
}

bool TCtrlGrid::inGrid(int col, int row) const
{
    return col >= 0 && col < columnCount() && row >= 0 && row < RowCount();
}

QString TCtrlGrid::Cells(int col, int row) const
{
    if (!inGrid(col, row))
        return QString();
    const QTableWidgetItem* cell = row == 0 ? horizontalHeaderItem(col) : item(row - 1, col);
    return cell ? cell->text() : QString();
}

void TCtrlGrid::SetCells(int col, int row, const QString& text)
{
    if (!inGrid(col, row))
        return;
    QTableWidgetItem* cell = row == 0 ? horizontalHeaderItem(col) : item(row - 1, col);
    if (cell) {
        if (cell->text() != text)
            cell->setText(text);
        return;
    }
    if (text.isEmpty() && row != 0)
        return;
    if (row == 0)
        setHorizontalHeaderItem(col, new QTableWidgetItem(text));
    else
        setItem(row - 1, col, new QTableWidgetItem(text));
}

void TCtrlGrid::SetColCount(int count)
{
    setColumnCount(count < 1 ? 1 : count);
}

void TCtrlGrid::SetRowCount(int count)
{
    setRowCount(count < 1 ? 0 : count - 1);
}

int TCtrlGrid::Col() const
{
    const int col = currentColumn();
    return col < 0 ? 0 : col;
}

int TCtrlGrid::Row() const
{
    return currentRow() + 1;
}

void TCtrlGrid::SetCurrentCell(int col, int row)
{
    if (inGrid(col, row) && row > 0)
        setCurrentCell(row - 1, col);
}

void TCtrlGrid::SetColWidths(int col, int width)
{
    if (col >= 0 && col < columnCount())
        setColumnWidth(col, width < 0 ? 0 : width);
}

int TCtrlGrid::RowHeights(int row) const
{
    if (row == 0)
        return horizontalHeader()->height();
    return rowHeight(row - 1);
}

void TCtrlGrid::SetRowHeights(int row, int height)
{
    if (!inGrid(0, row))
        return;
    if (row == 0)
        horizontalHeader()->setFixedHeight(height);
    else
        setRowHeight(row - 1, height);
}

void TCtrlGrid::SetDefaultColWidth(int width)
{
    m_defaultColWidth = width < 0 ? 0 : width;
    horizontalHeader()->setDefaultSectionSize(m_defaultColWidth);
    for (int col = 0; col < columnCount(); ++col)
        setColumnWidth(col, m_defaultColWidth);
}

int TCtrlGrid::DefaultRowHeight() const
{
    return verticalHeader()->defaultSectionSize();
}

void TCtrlGrid::SetDefaultRowHeight(int height)
{
    verticalHeader()->setDefaultSectionSize(height);
}

bool TCtrlGrid::edit(const QModelIndex& index, QAbstractItemView::EditTrigger trigger, QEvent* event)
{
    const bool wasEditing = EditorMode();
    const bool opened = QTableWidget::edit(index, trigger, event);
    if (opened && !wasEditing && EditorMode())
        emit GetEditText(index.column(), index.row() + 1);
    return opened;
}
