#include "ctrlgrid/CtrlGrid.h"

#include "ctrlgrid/CkBoxCel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStyledItemDelegate>

#include <limits>

namespace {

bool isEnter(int key)
{
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

// -1 matches every index, -2 the last, -3 the one before it, and so on.
bool matches(std::int32_t value, int index, int count)
{
    return value == index || value == -1 || value == -(count - index) - 1;
}

QString controlText(QWidget* control)
{
    if (auto* combo = qobject_cast<QComboBox*>(control))
        return combo->currentText();
    if (auto* box = qobject_cast<TCheckBoxCell*>(control))
        return box->Text();
    if (auto* line = qobject_cast<QLineEdit*>(control))
        return line->text();
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        return button->text();
    return control->property("text").toString();
}

// A drop-down list selects the item spelled exactly as the text; any other
// text is shown as typed text in an editable list, and no item is selected.
void selectInList(QComboBox* combo, const QString& text)
{
    const int index = text.isEmpty() ? -1 : combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    combo->setCurrentIndex(index);
    if (combo->isEditable()) {
        if (index < 0)
            combo->setEditText(text);
        combo->lineEdit()->selectAll();
    }
}

void setControlText(QWidget* control, const QString& text)
{
    if (auto* combo = qobject_cast<QComboBox*>(control))
        selectInList(combo, text);
    else if (qobject_cast<QPushButton*>(control))
        return; // a button keeps its caption
    else if (auto* box = qobject_cast<TCheckBoxCell*>(control))
        box->SetText(text);
    else if (auto* line = qobject_cast<QLineEdit*>(control))
        line->setText(text);
    else if (control->metaObject()->indexOfProperty("text") >= 0)
        control->setProperty("text", text);
}

// The cell's text follows the editor keystroke by keystroke, as in a classic
// string grid, so a command run while the editor is open (apply, copy) sees
// what has been typed. Check-box and push-button cells are drawn here.
class LiveCellDelegate : public QStyledItemDelegate {
public:
    explicit LiveCellDelegate(TCtrlGrid* grid) : QStyledItemDelegate(grid), m_grid(grid) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override
    {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (auto* line = qobject_cast<QLineEdit*>(editor)) {
            // A right click goes to the grid and its menu, not to the
            // editor's own one.
            line->setContextMenuPolicy(Qt::NoContextMenu);
            // A line edit keeps 32,767 characters by default: typing into a
            // longer cell would cut it.
            line->setMaxLength(std::numeric_limits<int>::max());
            auto* self = const_cast<LiveCellDelegate*>(this);
            connect(line, &QLineEdit::textEdited, self, [self, line](const QString&) { emit self->commitData(line); });
        }
        return editor;
    }

    // Laying a text out costs its whole length on every repaint (a 10 MB
    // cell took seconds), and no cell shows more than a few hundred
    // characters: a longer text is drawn from its start, elided as usual.
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        constexpr qsizetype kDrawnChars = 4096;
        if (option->text.size() > kDrawnChars) {
            qsizetype cut = kDrawnChars;
            if (option->text.at(cut - 1).isHighSurrogate())
                --cut;
            option->text.truncate(cut);
        }
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const int col = index.column();
        const int row = index.row() + 1;
        const TCtrlGridItem* item = m_grid->Ctrls().Find(col, row);
        QWidget* control = item ? item->Ctrl.data() : nullptr;
        if (auto* box = qobject_cast<TCheckBoxCell*>(control)) {
            if (index.data(Qt::DisplayRole).toString() == QStringLiteral("1")) {
                painter->save();
                painter->setPen(box->CheckColor());
                painter->setBrush(box->CheckColor());
                painter->drawPolygon(TCheckBoxCell::CheckMark(option.rect));
                painter->restore();
            }
            return;
        }
        if (qobject_cast<QPushButton*>(control)) {
            const bool current = m_grid->currentIndex() == index;
            m_grid->DrawButtonCell(*painter, col, row, current && m_grid->ButtonPressed(),
                                   option.state.testFlag(QStyle::State_HasFocus));
            return;
        }
        QStyledItemDelegate::paint(painter, option, index);
    }

private:
    TCtrlGrid* m_grid;
};

} // namespace

TCtrlGridCtrls::~TCtrlGridCtrls()
{
    m_items.clear();
}

int TCtrlGridCtrls::Add(std::int32_t col, std::int32_t row, const QString& text, QWidget* control,
                        std::function<void(int& key)> keyPress, std::function<void()> exit)
{
    TCtrlGridItem item;
    item.Col = col;
    item.Row = row;
    item.Ctrl = control;
    item.KeyPress = std::move(keyPress);
    item.Exit = std::move(exit);
    item.DefaultText = text;
    m_grid->adopt(item);
    m_items.push_back(std::move(item));
    if (OnChange)
        OnChange();
    return Count() - 1;
}

void TCtrlGridCtrls::Clear()
{
    m_grid->HideCtrl();
    for (TCtrlGridItem& item : m_items)
        m_grid->giveBack(item);
    m_items.clear();
}

const TCtrlGridItem* TCtrlGridCtrls::Find(std::int32_t col, std::int32_t row) const
{
    const int cols = m_grid->ColCount();
    const int rows = m_grid->RowCount();
    for (const TCtrlGridItem& item : m_items)
        if (matches(item.Col, col, cols) && matches(item.Row, row, rows))
            return &item;
    return nullptr;
}

TCtrlGrid::TCtrlGrid(QWidget* parent) : QTableWidget(parent), m_ctrls(this)
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
    SetEditing(true);
    setTabKeyNavigation(true);
    setWordWrap(false);
    setShowGrid(true);
    setSortingEnabled(false);
    setItemDelegate(new LiveCellDelegate(this));
    SetDefaultRowHeight(14);
    SetDefaultColWidth(m_defaultColWidth);

    m_ctrls.OnChange = [this] { refreshCurrent(); };
    // Sizes and counts of columns and rows move the cell under a control.
    // Sections after the current cell's do not move it, which keeps a load
    // that sizes thousands of rows from refreshing the control as often.
    connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this](int col) {
        if (col <= currentColumn())
            refreshCurrent();
    });
    connect(verticalHeader(), &QHeaderView::sectionResized, this, [this](int row) {
        if (row <= currentRow())
            refreshCurrent();
    });
    for (QHeaderView* header : {horizontalHeader(), verticalHeader()})
        connect(header, &QHeaderView::sectionCountChanged, this, [this] { refreshCurrent(); });
    // A text written into the shown control's cell by any path reaches the
    // control, so committing the control never puts back a stale text.
    connect(model(), &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                if (m_shown && !m_busy && m_shownRow - 1 >= topLeft.row() && m_shownRow - 1 <= bottomRight.row() &&
                    m_shownCol >= topLeft.column() && m_shownCol <= bottomRight.column())
                    reloadShown();
            });
}

TCtrlGrid::~TCtrlGrid()
{
    m_destroying = true;
    m_busy = true;
    m_shown = nullptr;
    // A control whose former parent is one of our ancestors is being torn
    // down with that ancestor anyway and goes with the viewport; every other
    // one goes back to where it lived, so that its owner still owns it.
    for (int i = 0; i < m_ctrls.Count(); ++i) {
        QWidget* control = m_ctrls.Items(i).Ctrl;
        QWidget* former = m_ctrls.Items(i).FormerParent;
        if (!control)
            continue;
        control->removeEventFilter(this);
        if (control->parentWidget() == viewport() && !(former && former->isAncestorOf(this))) {
            control->hide();
            control->setParent(former);
        }
    }
    m_ctrls.Clear();
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

QStringList TCtrlGrid::ColTitles() const
{
    QStringList titles;
    for (int col = 0; col < ColCount(); ++col)
        titles << Cells(col, 0);
    return titles;
}

void TCtrlGrid::SetColTitles(const QStringList& titles)
{
    for (int col = 0; col < ColCount(); ++col)
        SetCells(col, 0, col < titles.size() ? titles.at(col) : QString());
}

QStringList TCtrlGrid::RowTitles() const
{
    QStringList titles;
    for (int row = 0; row < RowCount(); ++row)
        titles << Cells(0, row);
    return titles;
}

void TCtrlGrid::SetRowTitles(const QStringList& titles)
{
    for (int row = 0; row < RowCount(); ++row)
        SetCells(0, row, row < titles.size() ? titles.at(row) : QString());
}

void TCtrlGrid::SetShowControls(bool show)
{
    m_showControls = show;
    if (show)
        refreshCurrent();
    else
        HideCtrl();
}

void TCtrlGrid::SetEditing(bool on)
{
    m_editing = on;
    setEditTriggers(on ? QAbstractItemView::AnyKeyPressed | QAbstractItemView::DoubleClicked |
                             QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked
                       : QAbstractItemView::NoEditTriggers);
    if (on)
        refreshCurrent();
    else
        HideCtrl();
}

QWidget* TCtrlGrid::CtrlAt(int col, int row) const
{
    if (!m_editing || !m_showControls)
        return nullptr;
    const TCtrlGridItem* item = m_ctrls.Find(col, row);
    return item ? item->Ctrl.data() : nullptr;
}

QRect TCtrlGrid::CellRect(int col, int row) const
{
    if (!inGrid(col, row) || row < 1)
        return QRect();
    QRect rect = visualRect(model()->index(row - 1, col));
    if (showGrid())
        rect.adjust(0, 0, -1, -1); // the grid line belongs to the cell's right and bottom
    return rect;
}

QRect TCtrlGrid::CtrlRect(int col, int row) const
{
    const QRect cell = CellRect(col, row);
    return cell.isEmpty() ? QRect() : cell.adjusted(-1, -1, 1, 1);
}

bool TCtrlGrid::CellFullyVisible(int col, int row) const
{
    const QRect cell = CellRect(col, row);
    return !cell.isEmpty() && viewport()->rect().contains(cell);
}

void TCtrlGrid::ShowCtrl(int col, int row)
{
    QWidget* control = CtrlAt(col, row);
    if (!control || m_busy || !CellFullyVisible(col, row))
        return;
    HideCtrl();
    m_busy = true;
    if (EditorMode() && m_editRow >= 1)
        if (QWidget* editor = indexWidget(model()->index(m_editRow - 1, m_editCol)))
            closeEditor(editor, QAbstractItemDelegate::SubmitModelCache);
    m_shown = control;
    m_shownCol = col;
    m_shownRow = row;
    if (control->parentWidget() != viewport())
        control->setParent(viewport());
    control->setGeometry(CtrlRect(col, row));
    if (!qobject_cast<QPushButton*>(control)) {
        control->show();
        control->raise();
    }
    setControlText(control, Cells(col, row));
    m_busy = false;
    if (OnControlShow)
        OnControlShow(this, control, controlText(control));
}

void TCtrlGrid::HideCtrl()
{
    if (!m_shown || m_busy)
        return;
    m_busy = true;
    QWidget* control = m_shown;
    const int col = m_shownCol;
    const int row = m_shownRow;
    QString text = controlText(control);
    // A list that cannot show a text outside its items selects none for
    // such a cell; its empty text must not replace the cell's.
    if (auto* combo = qobject_cast<QComboBox*>(control); combo && !combo->isEditable() && combo->currentIndex() < 0)
        text = Cells(col, row);
    if (OnControlHide)
        OnControlHide(this, col, row, control, text);
    // Hiding a focused control would pass the focus on to whatever widget
    // comes next; the grid takes it back instead.
    if (isShownOrInside(QApplication::focusWidget()) && !m_destroying)
        setFocus(Qt::OtherFocusReason);
    control->hide();
    m_shown = nullptr;
    m_shownCol = -1;
    m_shownRow = -1;
    m_buttonTracking = m_buttonPressed = m_spacePressed = false;
    const QString before = Cells(col, row);
    SetCells(col, row, text);
    m_busy = false;
    if (before != text)
        emit CellEdited(col, row, before, text);
}

void TCtrlGrid::RefreshCtrl(int col, int row)
{
    if (m_busy || m_destroying)
        return;
    HideCtrl();
    ShowCtrl(col, row);
}

void TCtrlGrid::refreshCurrent()
{
    if (currentIndex().isValid())
        RefreshCtrl(Col(), Row());
    else
        HideCtrl();
}

void TCtrlGrid::reloadShown()
{
    m_busy = true;
    setControlText(m_shown, Cells(m_shownCol, m_shownRow));
    m_busy = false;
}

void TCtrlGrid::adopt(TCtrlGridItem& item)
{
    QWidget* control = item.Ctrl;
    if (!control)
        return;
    item.FormerParent = control->parentWidget();
    for (int i = 0; i < m_ctrls.Count(); ++i)
        if (m_ctrls.Items(i).Ctrl == control)
            item.FormerParent = m_ctrls.Items(i).FormerParent; // registered before
    control->hide();
    control->setParent(viewport());
    control->hide();
    control->installEventFilter(this);
}

void TCtrlGrid::giveBack(TCtrlGridItem& item)
{
    QWidget* control = item.Ctrl;
    if (!control)
        return;
    control->removeEventFilter(this);
    if (control->parentWidget() == viewport()) {
        control->hide();
        control->setParent(item.FormerParent);
    }
}

void TCtrlGrid::DrawButtonCell(QPainter& painter, int col, int row, bool pressed, bool framed) const
{
    const TCtrlGridItem* item = m_ctrls.Find(col, row);
    auto* button = item ? qobject_cast<QPushButton*>(item->Ctrl.data()) : nullptr;
    QRect rect = CellRect(col, row);
    if (!button || rect.isEmpty())
        return;
    if (framed)
        rect.adjust(1, 1, -1, -1);
    QStyleOptionButton face;
    face.initFrom(button);
    face.rect = rect;
    face.state = QStyle::State_Enabled | (pressed ? QStyle::State_Sunken : QStyle::State_Raised);
    style()->drawControl(QStyle::CE_PushButtonBevel, &face, &painter, button);
    painter.save();
    painter.setFont(button->font());
    painter.setPen(button->palette().color(QPalette::ButtonText));
    painter.drawText(rect, Qt::AlignCenter, button->text());
    painter.restore();
    if (framed) {
        const QColor shadow = palette().color(QPalette::Dark);
        const QColor light = Qt::white;
        const QRect frame = rect.adjusted(-1, -1, 0, 0);
        painter.save();
        painter.setPen(pressed ? shadow : light);
        painter.drawLine(frame.topLeft(), frame.topRight());
        painter.drawLine(frame.topLeft(), frame.bottomLeft());
        painter.setPen(pressed ? light : shadow);
        painter.drawLine(frame.bottomLeft(), frame.bottomRight());
        painter.drawLine(frame.topRight(), frame.bottomRight());
        painter.restore();
    }
}

bool TCtrlGrid::edit(const QModelIndex& index, QAbstractItemView::EditTrigger trigger, QEvent* event)
{
    // The control is the editor of its cells.
    if (index.isValid() && CtrlAt(index.column(), index.row() + 1))
        return false;
    const bool wasEditing = EditorMode();
    const bool opened = QTableWidget::edit(index, trigger, event);
    if (opened && !wasEditing && EditorMode()) {
        m_editCol = index.column();
        m_editRow = index.row() + 1;
        m_editBefore = Cells(m_editCol, m_editRow);
        emit GetEditText(index.column(), index.row() + 1);
    }
    return opened;
}

void TCtrlGrid::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint)
{
    const int col = m_editCol;
    const int row = m_editRow;
    const QString before = m_editBefore;
    m_editCol = m_editRow = -1;
    // Esc: the typed text has already reached the cell, so put back the
    // text the cell held when the editor opened.
    if (hint == QAbstractItemDelegate::RevertModelCache && row >= 1)
        SetCells(col, row, before);
    const QString after = Cells(col, row);
    QTableWidget::closeEditor(editor, hint);
    if (row >= 1 && after != before)
        emit CellEdited(col, row, before, after);
}

void TCtrlGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTableWidget::currentChanged(current, previous);
    if (!current.isValid()) {
        HideCtrl();
        return;
    }
    RefreshCtrl(current.column(), current.row() + 1);
    if (m_inInput) {
        m_clickPending = true;
        return;
    }
    m_clickModifiers = QGuiApplication::keyboardModifiers();
    emit CellClick(current.column(), current.row() + 1);
}

void TCtrlGrid::raisePendingClick(bool clicked)
{
    const bool raise = (m_clickPending || clicked) && currentIndex().isValid();
    m_clickPending = false;
    if (!raise)
        return;
    m_clickModifiers = m_inputModifiers;
    emit CellClick(Col(), Row());
}

void TCtrlGrid::scrollContentsBy(int dx, int dy)
{
    QTableWidget::scrollContentsBy(dx, dy);
    refreshCurrent();
}

void TCtrlGrid::resizeEvent(QResizeEvent* event)
{
    QTableWidget::resizeEvent(event);
    refreshCurrent();
}

void TCtrlGrid::focusInEvent(QFocusEvent* event)
{
    QTableWidget::focusInEvent(event);
    if (event->reason() != Qt::PopupFocusReason)
        refreshCurrent();
}

void TCtrlGrid::focusOutEvent(QFocusEvent* event)
{
    QTableWidget::focusOutEvent(event);
    if (!m_shown || m_busy || event->reason() == Qt::PopupFocusReason)
        return;
    if (isShownOrInside(QApplication::focusWidget())) {
        if (!qobject_cast<TCheckBoxCell*>(m_shown))
            enterOnShown();
        return;
    }
    HideCtrl();
}

bool TCtrlGrid::isShownOrInside(const QWidget* widget) const
{
    return widget && m_shown && (widget == m_shown || m_shown->isAncestorOf(widget));
}

void TCtrlGrid::updateCurrentCell()
{
    viewport()->update(visualRect(currentIndex()));
}

void TCtrlGrid::enterOnShown()
{
    QWidget* control = m_shown;
    const TCtrlGridItem* item = m_ctrls.Find(m_shownCol, m_shownRow);
    const bool empty = Cells(m_shownCol, m_shownRow).isEmpty();
    if (auto* combo = qobject_cast<QComboBox*>(control)) {
        if (empty && item)
            selectInList(combo, item->DefaultText);
        combo->setFocus(Qt::OtherFocusReason);
    } else if (auto* box = qobject_cast<TCheckBoxCell*>(control)) {
        box->SetText(box->Text() == QStringLiteral("1") ? QStringLiteral("0") : QStringLiteral("1"));
    } else if (auto* button = qobject_cast<QPushButton*>(control)) {
        m_buttonPressed = true;
        viewport()->repaint(visualRect(currentIndex()));
        m_buttonPressed = false;
        updateCurrentCell();
        button->click();
    } else {
        if (empty && item)
            setControlText(control, item->DefaultText);
        control->setFocus(Qt::OtherFocusReason);
    }
}

void TCtrlGrid::clickShown()
{
    if (auto* box = qobject_cast<TCheckBoxCell*>(m_shown.data()))
        box->Click();
    else if (auto* button = qobject_cast<QAbstractButton*>(m_shown.data()))
        button->click();
}

void TCtrlGrid::keyPressEvent(QKeyEvent* event)
{
    if (m_shown && !EditorMode()) {
        if (isEnter(event->key())) {
            enterOnShown();
            event->accept();
            return;
        }
        if (event->key() == Qt::Key_Space) {
            if (!event->isAutoRepeat()) {
                m_spacePressed = true;
                updateCurrentCell();
            }
            event->accept();
            return;
        }
    }
    m_inInput = true;
    m_inputModifiers = event->modifiers();
    QTableWidget::keyPressEvent(event);
    m_inInput = false;
    raisePendingClick(false);
}

void TCtrlGrid::keyReleaseEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space && m_spacePressed && !event->isAutoRepeat()) {
        m_spacePressed = false;
        updateCurrentCell();
        clickShown();
        event->accept();
        return;
    }
    QTableWidget::keyReleaseEvent(event);
}

void TCtrlGrid::mousePressEvent(QMouseEvent* event)
{
    m_inInput = true;
    m_inputModifiers = event->modifiers();
    QTableWidget::mousePressEvent(event);
    m_inInput = false;
    const QModelIndex at = indexAt(event->position().toPoint());
    raisePendingClick(at.isValid() && at == currentIndex());
    if (event->button() == Qt::LeftButton && qobject_cast<QPushButton*>(m_shown.data()) &&
        indexAt(event->position().toPoint()) == currentIndex()) {
        m_buttonTracking = m_buttonPressed = true;
        updateCurrentCell();
    }
}

void TCtrlGrid::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_buttonTracking) {
        // A drag moves the current cell with the selection's far corner;
        // the anchor stays where the press was.
        m_inInput = true;
        QTableWidget::mouseMoveEvent(event);
        m_inInput = false;
        m_clickPending = false;
        return;
    }
    const bool over = indexAt(event->position().toPoint()) == currentIndex();
    if (over != m_buttonPressed) {
        m_buttonPressed = over;
        updateCurrentCell();
    }
}

void TCtrlGrid::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_buttonTracking) {
        QTableWidget::mouseReleaseEvent(event);
        return;
    }
    const bool click = m_buttonPressed;
    m_buttonTracking = m_buttonPressed = false;
    updateCurrentCell();
    QTableWidget::mouseReleaseEvent(event);
    if (click)
        if (auto* button = qobject_cast<QPushButton*>(m_shown.data()))
            button->click();
}

bool TCtrlGrid::eventFilter(QObject* watched, QEvent* event)
{
    if (!m_destroying && watched == m_shown.data()) {
        if (event->type() == QEvent::KeyPress)
            return controlKey(watched, static_cast<QKeyEvent*>(event));
        if (event->type() == QEvent::FocusOut) {
            const auto reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason)
                controlExit(watched);
        }
    }
    return QTableWidget::eventFilter(watched, event);
}

bool TCtrlGrid::controlKey(QObject*, QKeyEvent* event)
{
    int key = event->key();
    if (const TCtrlGridItem* item = m_ctrls.Find(Col(), Row()); item && item->KeyPress) {
        item->KeyPress(key);
        if (key == 0)
            return true;
    }
    if (isEnter(key)) {
        setFocus(Qt::OtherFocusReason);
        return true;
    }
    if (key == Qt::Key_Escape) {
        if (m_shown)
            setControlText(m_shown, Cells(m_shownCol, m_shownRow));
        setFocus(Qt::OtherFocusReason);
        return true;
    }
    return false;
}

void TCtrlGrid::controlExit(QObject*)
{
    if (const TCtrlGridItem* item = m_ctrls.Find(m_shownCol, m_shownRow); item && item->Exit)
        item->Exit();
    if (m_shown && !isShownOrInside(QApplication::focusWidget()))
        HideCtrl();
}
