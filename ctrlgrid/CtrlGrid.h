// The string grid of the main window on QTableWidget. Rows are numbered as
// in a grid with one fixed title row: row 0 is the title row (the table's
// horizontal header) and data row r is table row r - 1. Columns are the
// table's columns. Everything outside the grid is ignored on write and reads
// as an empty text.
//
// The grid can host live controls: a control registered for a column, a row
// or a cell is placed over the current cell when it matches, takes the
// cell's text, and gives its text back to the cell when the current cell
// moves away or the control loses the focus. Check-box cells and push-button
// cells are drawn by the grid in the other rows.
#pragma once

#include <QPointer>
#include <QStringList>
#include <QTableWidget>

#include <cstdint>
#include <functional>
#include <vector>

class TCtrlGrid;
class QPushButton;

// One registration. Column and row match a grid column x when equal to x,
// when -1 (every one), or when -(count - x) - 1 (-2 the last, -3 the one
// before it, …).
struct TCtrlGridItem {
    std::int32_t Col = 0;
    std::int32_t Row = 0;
    QPointer<QWidget> Ctrl;
    // The control's own handlers, run before the grid's: the key (may be set
    // to 0 to consume it) and the loss of focus.
    std::function<void(int& key)> KeyPress;
    std::function<void()> Exit;
    QString DefaultText;
    // Where the control lived before the grid took it into its viewport.
    QPointer<QWidget> FormerParent;
};

// The registered controls, in registration order; the first match wins.
class TCtrlGridCtrls {
public:
    explicit TCtrlGridCtrls(TCtrlGrid* grid) : m_grid(grid) {}
    ~TCtrlGridCtrls();
    TCtrlGridCtrls(const TCtrlGridCtrls&) = delete;
    TCtrlGridCtrls& operator=(const TCtrlGridCtrls&) = delete;

    // Registers `control` (may be null: matched, nothing shown) and fires
    // OnChange. Returns the item's index.
    int Add(std::int32_t col, std::int32_t row, const QString& text, QWidget* control,
            std::function<void(int& key)> keyPress = {}, std::function<void()> exit = {});
    int Count() const { return static_cast<int>(m_items.size()); }
    const TCtrlGridItem& Items(int index) const { return m_items.at(static_cast<std::size_t>(index)); }
    // Forgets every registration; the controls are given back to their
    // former parents, never freed.
    void Clear();
    // The first registration matching the cell, or null.
    const TCtrlGridItem* Find(std::int32_t col, std::int32_t row) const;

    std::function<void()> OnChange;

private:
    TCtrlGrid* m_grid;
    std::vector<TCtrlGridItem> m_items;
};

using TCtrlGridShowEvent = std::function<void(TCtrlGrid* Sender, QWidget* Ctrl, const QString& Text)>;
using TCtrlGridHideEvent =
    std::function<void(TCtrlGrid* Sender, std::int32_t ACol, std::int32_t ARow, QWidget* Ctrl, QString& Text)>;

class TCtrlGrid : public QTableWidget {
    Q_OBJECT
public:
    explicit TCtrlGrid(QWidget* parent = nullptr);
    ~TCtrlGrid() override;

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

    // The texts of row 0 and of column 0.
    QStringList ColTitles() const;
    void SetColTitles(const QStringList& titles);
    QStringList RowTitles() const;
    void SetRowTitles(const QStringList& titles);

    // Hosted controls.
    TCtrlGridCtrls& Ctrls() { return m_ctrls; }
    const TCtrlGridCtrls& Ctrls() const { return m_ctrls; }
    bool ShowControls() const { return m_showControls; }
    void SetShowControls(bool show);
    // In-cell editing: without it neither the grid's editor nor a control
    // opens on a cell.
    bool Editing() const { return m_editing; }
    void SetEditing(bool on);
    // The control active for a cell, or null: registered and not null, with
    // in-cell editing on and ShowControls set.
    QWidget* CtrlAt(int col, int row) const;
    void ShowCtrl(int col, int row);
    void HideCtrl();
    void RefreshCtrl(int col, int row);
    // The control now over a cell (null when none) and that cell.
    QWidget* ShownCtrl() const { return m_shown; }
    int ShownCol() const { return m_shownCol; }
    int ShownRow() const { return m_shownRow; }
    // The cell in viewport coordinates, grid lines excluded; empty outside.
    QRect CellRect(int col, int row) const;
    // Where a control over the cell goes: one pixel beyond the cell on
    // every side, over the grid lines.
    QRect CtrlRect(int col, int row) const;
    bool CellFullyVisible(int col, int row) const;
    // Paints a push-button cell.
    void DrawButtonCell(QPainter& painter, int col, int row, bool pressed, bool framed) const;
    // The keyboard modifiers held for the last CellClick: those of the key
    // or mouse press that moved the current cell, or of the moment for a
    // move made by the program.
    Qt::KeyboardModifiers ClickModifiers() const { return m_clickModifiers; }
    // A button cell being pressed (by the mouse or Space).
    bool ButtonPressed() const { return m_buttonPressed || m_spacePressed; }

    TCtrlGridShowEvent OnControlShow;
    TCtrlGridHideEvent OnControlHide;

signals:
    // The cell editor opened on (col, row) and fetched the cell's text.
    void GetEditText(int col, int row);
    // The current cell changed (by mouse, keyboard or program) or the
    // current cell was clicked. Raised once the grid has handled the key or
    // the mouse press, so its own selection is settled; not raised while a
    // mouse drag moves the current cell.
    void CellClick(int col, int row);
    // A cell's text was changed by the user through the grid's editor (when
    // it closed) or through a hosted control (when it was hidden).
    void CellEdited(int col, int row, const QString& before, const QString& after);

protected:
    bool edit(const QModelIndex& index, QAbstractItemView::EditTrigger trigger, QEvent* event) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class TCtrlGridCtrls;
    bool inGrid(int col, int row) const;
    void refreshCurrent();
    void adopt(TCtrlGridItem& item);
    void giveBack(TCtrlGridItem& item);
    void reloadShown();
    bool controlKey(QObject* watched, QKeyEvent* event);
    void controlExit(QObject* watched);
    void enterOnShown();
    void clickShown();
    void updateCurrentCell();
    void raisePendingClick(bool clicked);
    bool isShownOrInside(const QWidget* widget) const;

    int m_defaultColWidth = 64;
    TCtrlGridCtrls m_ctrls;
    bool m_showControls = true;
    bool m_editing = true;
    QPointer<QWidget> m_shown;
    int m_shownCol = -1;
    int m_shownRow = -1;
    bool m_buttonTracking = false;
    bool m_buttonPressed = false;
    bool m_spacePressed = false;
    // Showing, hiding or tearing down: the refresh points stay quiet.
    bool m_busy = false;
    bool m_destroying = false;
    // Inside a key or mouse handler: a change of the current cell is raised
    // as CellClick when the handler is done.
    bool m_inInput = false;
    bool m_clickPending = false;
    Qt::KeyboardModifiers m_clickModifiers;
    Qt::KeyboardModifiers m_inputModifiers;
    // The cell under the grid's own editor and its text when it opened.
    int m_editCol = -1;
    int m_editRow = -1;
    QString m_editBefore;
};
