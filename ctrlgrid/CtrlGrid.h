// The string grid of the main window on QTableWidget. Rows are numbered as
// in a grid with one fixed title row: row 0 is the title row (the table's
// horizontal header) and data row r is table row r - 1. Columns are the
// table's columns. Everything outside the grid is ignored on write and reads
// as an empty text.
#pragma once

#include <QTableWidget>

class TCtrlGrid : public QTableWidget {
    Q_OBJECT
public:
    explicit TCtrlGrid(QWidget* parent = nullptr);

    QString Cells(int col, int row) const;
    void SetCells(int col, int row, const QString& text);

    int ColCount() const { return columnCount(); }
    void SetColCount(int count);
    // Title row included: RowCount() == 1 means no data rows.
    int RowCount() const { return rowCount() + 1; }
    void SetRowCount(int count);

    // The current (focused) cell; Row() is 0 while no data cell is current.
    int Col() const;
    int Row() const;
    void SetCurrentCell(int col, int row);

    int ColWidths(int col) const { return columnWidth(col); }
    void SetColWidths(int col, int width);
    int RowHeights(int row) const;
    void SetRowHeights(int row, int height);
    // Setting the default column width resizes every column to it.
    int DefaultColWidth() const { return m_defaultColWidth; }
    void SetDefaultColWidth(int width);
    int DefaultRowHeight() const;
    void SetDefaultRowHeight(int height);

    // The cell editor is open.
    bool EditorMode() const { return state() == QAbstractItemView::EditingState; }

signals:
    // The cell editor opened on (col, row) and fetched the cell's text.
    void GetEditText(int col, int row);

protected:
    bool edit(const QModelIndex& index, QAbstractItemView::EditTrigger trigger, QEvent* event) override;

private:
    bool inGrid(int col, int row) const;
    int m_defaultColWidth = 64;
};
