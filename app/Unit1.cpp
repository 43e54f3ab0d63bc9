#include "app/Unit1.h"

#include "app/Unit3.h"
#include "app/Unit4.h"
#include "app/Unit5.h"
#include "app/applyedits.h"
#include "app/applymessages.h"
#include "app/gridarrange.h"
#include "app/gridcells.h"
#include "app/gridsort.h"
#include "app/specialedit.h"
#include "app/windowplace.h"
#include "compo/mp3plyr.h"
#include "compo/notifyqueue.h"
#include "platform/foldertree.h"
#include "platform/profilefile.h"
#include "platform/qtnotifyqueue.h"
#include "platform/waveout.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QScrollBar>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QUrl>
#include <algorithm>
#include <exception>
#include <limits>

namespace {

const char* const kSection = "women";
// How long the window must keep its place before it is written down.
constexpr int kPlaceSettleMs = 500;
constexpr int kColumns = 8;

// Ideographic space after "エディター".
const QString kCaption = QStringLiteral("MP3 タグエディター\u3000「Morvik」 ver2.03");

const std::array<QString, kColumns> kColumnTitles = {
    QStringLiteral("ファイル名"), QStringLiteral("曲名"),     QStringLiteral("アーティスト名"),
    QStringLiteral("アルバム名"), QStringLiteral("年"),       QStringLiteral("コメント"),
    QStringLiteral("トラック番号"), QStringLiteral("ジャンル")};

using morvik::utf8Bytes;
using morvik::utf8Text;
using morvik::cells::CellPos;
using morvik::cells::CellRect;

QIcon glyphIcon(const QString& glyph, const QFont& font)
{
    QPixmap pixmap(25, 25);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    QFont f = font;
    f.setPixelSize(glyph.size() > 1 ? 11 : 16);
    f.setBold(true);
    painter.setFont(f);
    painter.setPen(QColor(32, 32, 96));
    painter.drawText(pixmap.rect(), Qt::AlignCenter, glyph);
    return QIcon(pixmap);
}

// One toolbar button: its action, hint, image (a glyph drawn in the
// window's font, or a standard icon) and handler.
struct ToolButtonRow {
    QAction* TForm1::*action; // nullptr: a separator
    const char* hint;
    const char* glyph;
    QStyle::StandardPixmap standard;
    bool checkable;
    void (TForm1::*handler)();
};

// One row of the menu bar: a menu title, an item of the menu above it, or a
// separator.
struct MenuRow {
    enum Kind { Menu, Item, Separator } kind;
    QAction* TForm1::*action;
    const char* caption;
    QList<QKeySequence> keys; // the first is the one shown
    void (TForm1::*handler)();
};

MenuRow menu(const char* caption) { return {MenuRow::Menu, nullptr, caption, {}, nullptr}; }
MenuRow separator() { return {MenuRow::Separator, nullptr, nullptr, {}, nullptr}; }
MenuRow item(QAction* TForm1::*action, const char* caption, void (TForm1::*handler)(),
             QList<QKeySequence> keys = {})
{
    return {MenuRow::Item, action, caption, std::move(keys), handler};
}

// One row of the grid's popup menu. `onGrid` shortcuts act while the grid
// has the focus; the others are only shown.
struct PopupRow {
    QAction* TForm1::*action; // nullptr: a separator
    const char* caption;
    QKeySequence keys;
    bool onGrid;
    void (TForm1::*handler)();
};

} // namespace

TForm1::TForm1(const QString& appFolder, QWidget* parent, morvik::waveout::WaveOut* wave) : QMainWindow(parent)
{
    m_appFolder = appFolder.isEmpty() ? QCoreApplication::applicationDirPath() : appFolder;
    buildControls();
    createPlayer(wave);
    FormCreate(m_appFolder);
}

TForm1::~TForm1()
{
    // The player stops and takes its handler off the queue before the queue
    // goes.
    MP3.reset();
    morvik::SetMPExceptionDisplay({});
}

// The player with the settings the form stores for it, its notifications on
// this window's event loop, and its worker threads' errors in the error box.
void TForm1::createPlayer(morvik::waveout::WaveOut* wave)
{
    m_playerWindow = std::make_unique<morvik::QtNotifyQueue>();
    m_playerQueue = std::make_unique<morvik::NotifyQueueOn<morvik::QtNotifyQueue>>(*m_playerWindow);
    MP3 = std::make_unique<morvik::TMP3Player>(*m_playerQueue, wave ? *wave : morvik::waveout::defaultWaveOut());
    MP3->LoadFormValues();
    MP3->OnEndPlay = [this](morvik::TMP3Player*, morvik::TMP3EndPlayReason reason) { MP3EndPlay(reason); };
    morvik::SetMPExceptionDisplay([this](const std::exception& e) { showException(e); });
    O2->setCheckable(true);
    A1->setCheckable(true);
}

// The player shows its errors from the main thread; one that reaches the
// display from a worker thread all the same waits there for the event loop.
void TForm1::showException(const std::exception& e)
{
    const QString text = QString::fromUtf8(e.what());
    if (QThread::currentThread() == thread())
        showError(text);
    else
        QMetaObject::invokeMethod(this, [this, text] { showError(text); }, Qt::QueuedConnection);
}

void TForm1::buildControls()
{
    setWindowTitle(kCaption);
    QFont font;
    font.setFamilies({QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Noto Sans JP"),
                      QStringLiteral("IPAPGothic"), QStringLiteral("sans-serif")});
    font.setPixelSize(12);
    setFont(font);
    resize(597, 423);

    buildToolBar();

    Splitter1 = new QSplitter(Qt::Horizontal, this);
    Splitter1->setHandleWidth(3);
    Splitter1->setChildrenCollapsible(false);
    Panel1 = new QWidget(Splitter1);
    auto* panelLayout = new QHBoxLayout(Panel1);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    dlView = new QTreeView(Panel1);
    panelLayout->addWidget(dlView);
    dl = new morvik::TFolderTree(dlView);
    sg = new TCtrlGrid(Splitter1);
    sg->setContextMenuPolicy(Qt::CustomContextMenu);
    Splitter1->addWidget(Panel1);
    Splitter1->addWidget(sg);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({185, 597 - 185 - 3});
    setCentralWidget(Splitter1);
    buildMenus();
    buildPopupMenu();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    // The genre pick list the grid hosts over column 7. Items sorted without
    // regard to case; any typed text is taken, never added to the items,
    // and a cell's text of any length goes in and comes back whole.
    cmb2 = new QComboBox(this);
    cmb2->setEditable(true);
    cmb2->setInsertPolicy(QComboBox::NoInsert);
    cmb2->lineEdit()->setMaxLength(std::numeric_limits<int>::max());
    cmb2->setContextMenuPolicy(Qt::NoContextMenu);
    cmb2->hide();
    QStringList genres;
    for (int i = 0; i < 148; ++i)
        genres << utf8Text(std::string(morvik::GenreTable()[static_cast<std::size_t>(i)]));
    std::stable_sort(genres.begin(), genres.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    cmb2->addItems(genres);

    buildStatusBar();

    dl->OnChanging = [this](const QString& newPath) { return dlChanging(newPath); };
    dl->OnChange = [this] { dlChange(); };
    connect(Splitter1, &QSplitter::splitterMoved, this, &TForm1::Splitter1Moved);
    connect(sg, &TCtrlGrid::GetEditText, this, &TForm1::sgGetEditText);
    connect(sg, &TCtrlGrid::CellClick, this, &TForm1::sgClick);
    connect(sg, &TCtrlGrid::CellEdited, this, &TForm1::sgCellEdited);
    // The mouse over the titles and the cells is followed for sgDblClick;
    // a double click on a title's border fits the column by our own rule,
    // not by the table's.
    for (QWidget* part : {static_cast<QWidget*>(sg->horizontalHeader()), sg->viewport()}) {
        part->setMouseTracking(true);
        part->installEventFilter(this);
    }
    disconnect(sg->horizontalHeader(), &QHeaderView::sectionHandleDoubleClicked, sg,
               &QTableView::resizeColumnToContents);
    // A right click anywhere in the grid (cells, the cell editor, the genre
    // list, the titles, the scroll bars) opens the grid's own menu. Requests
    // reach the grid from its viewport, the titles from their header.
    connect(sg, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { showPopupMenu(sg->viewport()->mapToGlobal(at)); });
    QHeaderView* titles = sg->horizontalHeader();
    titles->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(titles, &QWidget::customContextMenuRequested, this,
            [this, titles](const QPoint& at) { showPopupMenu(titles->mapToGlobal(at)); });
    for (QScrollBar* bar : {sg->horizontalScrollBar(), sg->verticalScrollBar()})
        bar->setContextMenuPolicy(Qt::NoContextMenu);
}

void TForm1::showPopupMenu(const QPoint& global)
{
    PopupMenu1->popup(global);
}

void TForm1::buildToolBar()
{
    ToolBar1 = addToolBar(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFixedHeight(35);
    ToolBar1->setIconSize(QSize(25, 25));
    ToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);

    const QStyle::StandardPixmap none = QStyle::SP_CustomBase;
    const ToolButtonRow rows[] = {
        {&TForm1::ToolButton2, "編集反映(CTL+S)", "反", none, false, &TForm1::ToolButton2Click},
        {&TForm1::ToolButton1, "戻る", "↑", none, false, &TForm1::ToolButton1Click},
        {&TForm1::ToolButton15, "最新の情報に更新(F5)", "更", none, false, &TForm1::Refresh1Click},
        {nullptr, nullptr, nullptr, none, false, nullptr},
        {&TForm1::ToolButton3, "コピー(CTL+S)", "写", none, false, &TForm1::Copy1Click},
        {&TForm1::ToolButton4, "切り取り(CTL+X)", "切", none, false, &TForm1::Cut1Click},
        {&TForm1::ToolButton7, "貼り付け(CTL+P)", "貼", none, false, &TForm1::Paste1Click},
        {&TForm1::ToolButton16, "削除(CTL+DEL)", "削", none, false, &TForm1::Delete1Click},
        {nullptr, nullptr, nullptr, none, false, nullptr},
        {&TForm1::v1btn, "ID3v1を表示/編集", "v1", none, true, &TForm1::v1btnClick},
        {&TForm1::v2btn, "ID3v2を表示/編集", "v2", none, true, &TForm1::v2btnClick},
        {nullptr, nullptr, nullptr, none, false, nullptr},
        {&TForm1::ToolButton5, "再生", nullptr, QStyle::SP_MediaPlay, false, &TForm1::ToolButton5Click},
        {&TForm1::ToolButton8, "停止", nullptr, QStyle::SP_MediaStop, false, &TForm1::ToolButton8Click},
        {&TForm1::ToolButton9, "一時停止", nullptr, QStyle::SP_MediaPause, false, &TForm1::ToolButton9Click},
        {&TForm1::ToolButton11, "前へ", nullptr, QStyle::SP_MediaSkipBackward, false, &TForm1::ToolButton11Click},
        {&TForm1::ToolButton10, "次へ", nullptr, QStyle::SP_MediaSkipForward, false, &TForm1::ToolButton10Click},
    };
    for (const ToolButtonRow& row : rows) {
        if (!row.action) {
            ToolBar1->addSeparator();
            continue;
        }
        const QString hint = QString::fromUtf8(row.hint);
        const QIcon icon = row.glyph ? glyphIcon(QString::fromUtf8(row.glyph), font()) : style()->standardIcon(row.standard);
        QAction* action = ToolBar1->addAction(icon, hint);
        action->setToolTip(hint);
        action->setCheckable(row.checkable);
        if (QWidget* button = ToolBar1->widgetForAction(action))
            button->setFixedSize(32, 31);
        connect(action, &QAction::triggered, this, row.handler);
        this->*row.action = action;
    }
    v1btn->setChecked(true);
}

void TForm1::buildMenus()
{
    const MenuRow rows[] = {
        menu("編集(&E)"),
        item(&TForm1::Undo1, "元に戻す(&U)", &TForm1::Undo1Click, {Qt::CTRL | Qt::Key_Z}),
        item(&TForm1::Redo1, "やり直し(&R)", &TForm1::Redo1Click,
             {Qt::CTRL | Qt::Key_Y, Qt::CTRL | Qt::SHIFT | Qt::Key_Z}),
        separator(),
        item(&TForm1::Apply1, "編集内容反映(&E)", &TForm1::ToolButton2Click, {Qt::CTRL | Qt::Key_S}),
        separator(),
        item(&TForm1::Copy1, "コピー(&C)", &TForm1::Copy1Click),
        item(&TForm1::Cut1, "切り取り(&X)", &TForm1::Cut1Click),
        item(&TForm1::Paste1, "貼り付け(&V)", &TForm1::Paste1Click),
        item(&TForm1::Delete1, "削除(&D)", &TForm1::Delete1Click, {Qt::CTRL | Qt::Key_Delete}),
        separator(),
        item(&TForm1::N9, "連番挿入(&N)", &TForm1::N9Click),
        item(&TForm1::N2, "特殊編集(&S)", &TForm1::N2Click),

        menu("表示(&V)"),
        item(&TForm1::S2, "並べ替え(&S)", &TForm1::S2Click),
        item(&TForm1::N6, "セル幅調整", &TForm1::N6Click, {Qt::Key_F4}),
        item(&TForm1::Refresh1, "最新の情報に更新", &TForm1::Refresh1Click, {Qt::Key_F5}),
        separator(),
        item(&TForm1::O1, "オプション(&O)", &TForm1::O1Click),

        menu("演奏(&P)"),
        item(&TForm1::Play1, "再生(&P)", &TForm1::ToolButton5Click),
        item(&TForm1::Stop1, "停止(&S)", &TForm1::ToolButton8Click),
        item(&TForm1::Pause1, "一時停止(&I)", &TForm1::ToolButton9Click),
        item(&TForm1::Next1, "次の曲(&N)", &TForm1::ToolButton10Click),
        item(&TForm1::Previous1, "前の曲(&B)", &TForm1::ToolButton11Click),
        separator(),
        item(&TForm1::O2, "単曲リピート(&R)", &TForm1::O2Click),
        item(&TForm1::A1, "全曲リピート(&A)", &TForm1::A1Click),

        menu("ヘルプ(&H)"),
        item(&TForm1::ReadmeR1, "Readme(&R)", &TForm1::ReadmeR1Click),
        item(&TForm1::About1, "バージョン情報(&V)", &TForm1::About1Click),
    };
    QMenu* current = nullptr;
    for (const MenuRow& row : rows) {
        switch (row.kind) {
        case MenuRow::Menu:
            current = menuBar()->addMenu(QString::fromUtf8(row.caption));
            break;
        case MenuRow::Separator:
            current->addSeparator();
            break;
        case MenuRow::Item: {
            QAction* action = current->addAction(QString::fromUtf8(row.caption));
            if (!row.keys.isEmpty())
                action->setShortcuts(row.keys);
            connect(action, &QAction::triggered, this, row.handler);
            this->*row.action = action;
            break;
        }
        }
    }
}

// The grid's popup menu. Its Ctrl+C, Ctrl+X and Ctrl+V act while the grid
// has the focus; its Ctrl+Del is the menu bar's, shown here too.
void TForm1::buildPopupMenu()
{
    const PopupRow rows[] = {
        {&TForm1::PopupCopy, "コピー", QKeySequence(Qt::CTRL | Qt::Key_C), true, &TForm1::Copy1Click},
        {&TForm1::PopupCut, "切り取り", QKeySequence(Qt::CTRL | Qt::Key_X), true, &TForm1::Cut1Click},
        {&TForm1::PopupPaste, "貼り付け", QKeySequence(Qt::CTRL | Qt::Key_V), true, &TForm1::Paste1Click},
        {&TForm1::PopupDelete, "削除", QKeySequence(Qt::CTRL | Qt::Key_Delete), false, &TForm1::Delete1Click},
        {nullptr, nullptr, {}, false, nullptr},
        {&TForm1::PopupSort, "並べ替え", {}, false, &TForm1::S2Click},
        {&TForm1::PopupSerial, "連番挿入", {}, false, &TForm1::N9Click},
    };
    PopupMenu1 = new QMenu(this);
    for (const PopupRow& row : rows) {
        if (!row.action) {
            PopupMenu1->addSeparator();
            continue;
        }
        QAction* action = PopupMenu1->addAction(QString::fromUtf8(row.caption));
        if (!row.keys.isEmpty()) {
            action->setShortcut(row.keys);
            action->setShortcutContext(row.onGrid ? Qt::WidgetWithChildrenShortcut : Qt::WidgetShortcut);
        }
        if (row.onGrid)
            sg->addAction(action);
        connect(action, &QAction::triggered, this, row.handler);
        this->*row.action = action;
    }
}

void TForm1::buildStatusBar()
{
    sb1 = new QStatusBar(this);
    sb1->setSizeGripEnabled(false);
    sb1->setFixedHeight(19);
    setStatusBar(sb1);
    // Panels are placed by FormResize, not by the status bar's own layout.
    const int designWidths[] = {200, 200, 200, 50};
    int left = 0;
    for (std::size_t i = 0; i < sbPanels.size(); ++i) {
        QLabel* panel = new QLabel(sb1);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setGeometry(left, 0, designWidths[i], 19);
        left += designWidths[i];
        sbPanels[i] = panel;
    }
    pb = new QProgressBar(this);
    pb->setRange(0, 100);
    pb->setTextVisible(false);
}

QString TForm1::PanelText(int panel) const
{
    return panel >= 0 && panel < static_cast<int>(sbPanels.size()) ? sbPanels[static_cast<std::size_t>(panel)]->text() : QString();
}

int TForm1::PanelWidth(int panel) const
{
    return panel >= 0 && panel < static_cast<int>(sbPanels.size()) ? sbPanels[static_cast<std::size_t>(panel)]->width() : 0;
}

// A panel is a fifth of the bar: its tip shows a text it cuts off (the
// apply's counts, a long title) whole.
void TForm1::setPanelText(int panel, const QString& text)
{
    if (panel < 0 || panel >= static_cast<int>(sbPanels.size()))
        return;
    QLabel* label = sbPanels[static_cast<std::size_t>(panel)];
    label->setText(text);
    label->setToolTip(text);
}

// The height a line of text takes in the window's font (the same for every
// text, as the font's line height).
int TForm1::textHeight(const QString&) const
{
    return QFontMetrics(font()).height();
}

std::string TForm1::readSetting(const char* key, const std::string& fallback) const
{
    return IniFile->ReadString(kSection, key, fallback);
}

morvik::TTagView TForm1::shownView() const
{
    return v1btn->isChecked() ? morvik::TTagView::ID3v1 : morvik::TTagView::ID3v2;
}

void TForm1::FormCreate(const QString& appFolder)
{
    QPalette bar = pb->palette();
    bar.setColor(QPalette::Highlight, QColor(64, 64, 255));
    pb->setPalette(bar);

    // Lay the hidden window out at its design size so the grid's height is
    // known before it is first shown.
    if (layout())
        layout()->activate();
    Splitter1->refresh();

    sg->SetRowHeights(0, textHeight(QStringLiteral(" ")) + 4);
    sg->SetRowCount(sg->height() / 16 + 1);
    for (int col = 0; col < kColumns; ++col)
        sg->SetCells(col, 0, kColumnTitles[static_cast<std::size_t>(col)]);
    sg->Ctrls().Add(7, -1, QString(), cmb2);
    Files = TFileListL{};

    IniFile = std::make_unique<morvik::TProfileFile>(morvik::settingsFilePath(utf8Bytes(appFolder)));
    restorePlace();

    QString folder = utf8Text(readSetting("defdir", utf8Bytes(appFolder)));
    if (!QFileInfo(folder).isDir())
        folder = appFolder;
    dl->SetDirectory(folder);

    KeepDate = IniFile->ReadBool(kSection, "datechg", false);
    AutoFit = IniFile->ReadBool(kSection, "sellauto", false);
    const bool showV1 = IniFile->ReadInteger(kSection, "tagv", 1) == 1;
    v1btn->setChecked(showV1);
    v2btn->setChecked(!showV1);
    LoadFolder();
    pb->setValue(0);
    fl.SetDirectory(utf8Bytes(dl->Directory()));
    sg->SetCurrentCell(0, 1);
    sg->setFocus();
    m_placeKept = currentPlace();
}

// ---- where the window was left ----------------------------------------------

// The place kept in "tag.ini", moved onto a screen there is now; the
// design size, centred, when none is kept.
void TForm1::restorePlace()
{
    m_placeTimer = new QTimer(this);
    m_placeTimer->setSingleShot(true);
    m_placeTimer->setInterval(kPlaceSettleMs);
    connect(m_placeTimer, &QTimer::timeout, this, &TForm1::placeSettled);

    const std::optional<morvik::TWindowPlace> place = morvik::readWindowPlace(*IniFile, kSection);
    if (!place)
        return;
    const QRect kept(place->frame.left, place->frame.top, place->frame.width, place->frame.height);
    const QScreen* screen = QGuiApplication::screenAt(kept.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    morvik::TScreenArea area;
    if (screen) {
        const QRect available = screen->availableGeometry();
        area = {available.x(), available.y(), available.width(), available.height()};
    }
    const morvik::TScreenArea frame = morvik::fitOnScreen(place->frame, area);
    setGeometry(frame.left, frame.top, frame.width, frame.height);
    Splitter1->setSizes({place->panel, std::max(0, frame.width - place->panel - Splitter1->handleWidth())});
    if (place->maximized)
        setWindowState(windowState() | Qt::WindowMaximized);
}

morvik::TWindowPlace TForm1::currentPlace() const
{
    const QRect frame = isMaximized() || isFullScreen() ? normalGeometry() : geometry();
    return {{frame.x(), frame.y(), frame.width(), frame.height()}, isMaximized(), Splitter1->sizes().value(0)};
}

// Every move, resize, state change and splitter move starts the wait again,
// so a drag writes "tag.ini" once, when it is over.
void TForm1::placeChanged()
{
    if (m_placeTimer)
        m_placeTimer->start();
}

void TForm1::placeSettled()
{
    const morvik::TWindowPlace place = currentPlace();
    if (place != m_placeKept && morvik::writeWindowPlace(*IniFile, kSection, place))
        m_placeKept = place;
}

void TForm1::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    placeChanged();
}

void TForm1::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        placeChanged();
}

// Closing with pending edits asks first, as a folder change does.
void TForm1::closeEvent(QCloseEvent* event)
{
    if (IniFile && IniFile->ReadBool(kSection, "movemsg", false) && Edited &&
        !askYesNo(QStringLiteral("編集内容を破棄しますか？"))) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

// A range of 0 to 0 shows the bar busy; an empty folder leaves it at rest.
void TForm1::setProgressMaximum(int maximum)
{
    pb->setMaximum(std::max(maximum, 1));
}

void TForm1::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    placeChanged();
    // A failure while laying out must never stop the window from resizing.
    try {
        FormResize();
    } catch (...) {
    }
}

void TForm1::FormResize()
{
    if (!sb1 || !sg)
        return;
    const int tenth = sb1->width() / 10;
    int left = 0;
    for (std::size_t i = 0; i < sbPanels.size(); ++i) {
        const int width = i == 3 ? tenth * 4 : tenth * 2;
        sbPanels[i]->setGeometry(left, 0, width, sb1->height());
        left += width;
    }
    ProgResize();
    Splitter1Moved();
    sg->SetRowCount(sg->RowCount() + 1);
    if (AutoFit)
        N6Click();
}

void TForm1::Splitter1Moved()
{
    placeChanged();
    const int width = sg->width();
    sg->SetDefaultColWidth(width / 8);
    sg->SetColWidths(7, width - (sg->DefaultColWidth() * 7 + 27));
    const int minimumRows = sg->height() / 16 + 1;
    if (sg->RowCount() < minimumRows)
        sg->SetRowCount(minimumRows);
}

void TForm1::ProgResize()
{
    if (pb->parentWidget() != sb1) {
        pb->setParent(sb1);
        pb->show();
    }
    const QRect client = sb1->contentsRect();
    const int top = client.top() + 2;
    pb->setGeometry(PanelWidth(0) + PanelWidth(1) + PanelWidth(2) + 3, top, PanelWidth(3) + 3,
                    client.bottom() - top);
    pb->update();
}

template <class D> D& TForm1::dialog(D*& slot)
{
    if (!slot)
        slot = new D(this);
    return *slot;
}

// The special edit over the rows from the anchor to the current cell, one
// step of the history. The mode and the pattern are saved in every mode;
// Cancel changes nothing.
void TForm1::N2Click()
{
    commitEditor();
    TForm4& form = dialog(Form4);
    form.Prepare(IniFile->ReadInteger(kSection, "tokusyu", morvik::special::kDefaultMode),
                 utf8Text(readSetting("tokusyu_str", std::string(morvik::special::kDefaultPattern))));
    if (form.exec() != QDialog::Accepted)
        return;
    const int mode = form.CheckedMode();
    const std::string pattern = utf8Bytes(form.Edit1->text());
    {
        const morvik::BulkEdit bulk(*sg);
        morvik::GridCells cells(*sg);
        record(morvik::special::specialEdit(cells, static_cast<morvik::special::Mode>(mode), pattern,
                                            morvik::special::editRows(AnchorRow, sg->Row(), sg->RowCount())));
    }
    if (mode != 0)
        IniFile->WriteInteger(kSection, "tokusyu", mode);
    IniFile->WriteString(kSection, "tokusyu_str", pattern);
    Edited = true;
}

void TForm1::S2Click()
{
    commitEditor();
    guarded([this] { Grid_Sort(sg->Col()); });
}

// Rows move with their records. The history's steps name cells by place, so
// it is cleared: an undo would put texts into other files' rows. Edited and
// Playing stay as they are.
void TForm1::Grid_Sort(int col)
{
    if (col < 0 || col >= kColumns)
        return;
    bool& descending = SortDesc[static_cast<std::size_t>(col)];
    descending = !descending;
    const std::optional<QString> notInteger = morvik::sortLoadedRows(*sg, Files, col, descending);
    clearHistory();
    sg->RefreshCtrl(sg->Col(), sg->Row());
    if (notInteger)
        showError(QStringLiteral("'%1' は整数ではありません").arg(*notInteger));
}

void TForm1::N6Click()
{
    morvik::fitColumns(*sg, QFontMetrics(font()), Files.Count);
}

void TForm1::sgMouseMove(int x, int y)
{
    MouseX = x;
    MouseY = y;
}

// A double click within 4 pixels of a column's right border in the title
// row fits that column. The borders are where they are drawn: the table
// draws its grid lines inside the cells, and a grid scrolled sideways has
// its borders moved by the scrolled width.
void TForm1::sgDblClick()
{
    if (MouseY > sg->RowHeights(0))
        return;
    std::vector<std::int32_t> widths;
    for (int col = 0; col < morvik::sorting::kFittedColumns; ++col)
        widths.push_back(sg->ColWidths(col));
    if (const auto col = morvik::sorting::borderColumn(widths, MouseX + sg->horizontalHeader()->offset(), 0))
        morvik::fitColumn(*sg, QFontMetrics(font()), *col, Files.Count);
}

// Grid client pixels: the title row on top, the cells below it.
bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    const bool titles = sg && watched == sg->horizontalHeader();
    const bool cells = sg && watched == sg->viewport();
    if ((titles || cells) &&
        (event->type() == QEvent::MouseMove || event->type() == QEvent::MouseButtonDblClick)) {
        const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
        sgMouseMove(at.x(), cells ? at.y() + sg->horizontalHeader()->height() : at.y());
        if (event->type() == QEvent::MouseButtonDblClick)
            sgDblClick();
    }
    return QMainWindow::eventFilter(watched, event);
}

// The dialog keeps its boxes as the user left them; only OK stores them.
void TForm1::O1Click()
{
    TForm5& form = dialog(Form5);
    form.cb1->setChecked(KeepDate);
    form.cb2->setChecked(AutoFit);
    form.cb3->setChecked(IniFile->ReadBool(kSection, "movemsg", false));
    if (form.exec() != QDialog::Accepted)
        return;
    KeepDate = form.cb1->isChecked();
    AutoFit = form.cb2->isChecked();
    IniFile->WriteBool(kSection, "datechg", KeepDate);
    IniFile->WriteBool(kSection, "sellauto", AutoFit);
    IniFile->WriteBool(kSection, "movemsg", form.cb3->isChecked());
}

void TForm1::About1Click() { dialog(version).exec(); }

// "readme.txt" beside the executable, opened by the desktop's program for
// it; a path of any length is passed whole.
void TForm1::ReadmeR1Click()
{
    const QString path = QDir(m_appFolder).filePath(QStringLiteral("readme.txt"));
    if (QFileInfo(path).isFile() && QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        return;
    showError(QStringLiteral("%1 を開けませんでした。ファイルがないか、テキストファイルを開くプログラムが"
                             "設定されていません。")
                  .arg(path));
}

void TForm1::sgGetEditText(int, int)
{
    Edited = true;
}

CellPos TForm1::currentCell() const
{
    return CellPos{sg->Col(), sg->Row()};
}

CellRect TForm1::commandRect() const
{
    return morvik::cells::commandRect(CellPos{AnchorCol, AnchorRow}, currentCell());
}

// A move with Shift held extends the highlighted rectangle from the anchor;
// any other move makes the new current cell the anchor.
void TForm1::sgClick()
{
    const CellPos current = currentCell();
    if (current.row < 1)
        return;
    if (!sg->ClickModifiers().testFlag(Qt::ShiftModifier)) {
        AnchorCol = current.col;
        AnchorRow = current.row;
    }
    const CellRect rect = commandRect();
    const QItemSelection cells(sg->model()->index(rect.top - 1, rect.left),
                               sg->model()->index(rect.bottom - 1, rect.right));
    sg->selectionModel()->select(cells, QItemSelectionModel::ClearAndSelect);
}

// A cell typed into, or a genre taken from the list, is one step of the
// history.
void TForm1::sgCellEdited(int col, int row, const QString& before, const QString& after)
{
    record({morvik::cells::CellChange{row, col, utf8Bytes(before), utf8Bytes(after)}});
    Edited = true;
}

// The text editor open on a cell: the grid's own, or the genre list while
// the user types into it. Copy and paste go there instead of to the cells.
QLineEdit* TForm1::openEditor() const
{
    if (sg->EditorMode())
        return qobject_cast<QLineEdit*>(sg->indexWidget(sg->currentIndex()));
    if (sg->ShownCtrl() == cmb2 && cmb2->hasFocus())
        return cmb2->lineEdit();
    return nullptr;
}

// Puts what is being typed into its cell, so that a command writing cells
// comes after the typed text in the history and never under an open editor.
void TForm1::commitEditor()
{
    if (sg->EditorMode()) {
        if (QWidget* editor = sg->indexWidget(sg->currentIndex())) {
            emit sg->itemDelegate()->commitData(editor);
            emit sg->itemDelegate()->closeEditor(editor, QAbstractItemDelegate::SubmitModelCache);
        }
    } else if (sg->ShownCtrl() == cmb2 && cmb2->hasFocus()) {
        sg->setFocus(Qt::OtherFocusReason);
    }
}

void TForm1::record(morvik::cells::EditStep step)
{
    History.push(std::move(step));
    updateHistoryActions();
}

void TForm1::clearHistory()
{
    History.clear();
    updateHistoryActions();
}

void TForm1::updateHistoryActions()
{
    Undo1->setEnabled(History.canUndo());
    Redo1->setEnabled(History.canRedo());
}

void TForm1::Copy1Click()
{
    if (QLineEdit* editor = openEditor()) {
        editor->copy();
        return;
    }
    const morvik::GridCells cells(*sg);
    QApplication::clipboard()->setText(utf8Text(morvik::cells::copyBlock(cells, commandRect())));
}

void TForm1::Cut1Click()
{
    commitEditor();
    const CellPos at = currentCell();
    if (at.row < 1)
        return;
    QApplication::clipboard()->setText(sg->Cells(at.col, at.row));
    morvik::GridCells cells(*sg);
    record(morvik::cells::writeCell(cells, at, std::string()));
    Edited = true;
}

void TForm1::Paste1Click()
{
    if (QLineEdit* editor = openEditor()) {
        editor->paste();
        return;
    }
    const CellRect rect = commandRect();
    const std::int64_t rows = std::max(0, std::min(rect.bottom, Files.Count) - rect.top + 1);
    const std::int64_t cellCount = rows * (rect.right - rect.left + 1);
    const std::string clip =
        morvik::boundedPasteText(utf8Bytes(QApplication::clipboard()->text()), cellCount);
    {
        const morvik::BulkEdit bulk(*sg);
        morvik::GridCells cells(*sg);
        record(morvik::cells::pasteText(cells, currentCell(), rect, clip, Files.Count));
    }
    Edited = true;
}

void TForm1::Delete1Click()
{
    if (openEditor())
        return;
    const morvik::BulkEdit bulk(*sg);
    morvik::GridCells cells(*sg);
    record(morvik::cells::deleteRect(cells, commandRect()));
}

void TForm1::N9Click()
{
    commitEditor();
    {
        const morvik::BulkEdit bulk(*sg);
        morvik::GridCells cells(*sg);
        record(morvik::cells::serialNumbers(cells, commandRect()));
    }
    Edited = true;
}

void TForm1::Undo1Click()
{
    commitEditor();
    const morvik::BulkEdit bulk(*sg);
    morvik::GridCells cells(*sg);
    if (History.undo(cells) && History.allUndone())
        Edited = false;
    updateHistoryActions();
}

void TForm1::Redo1Click()
{
    commitEditor();
    const morvik::BulkEdit bulk(*sg);
    morvik::GridCells cells(*sg);
    if (History.redo(cells))
        Edited = true;
    updateHistoryActions();
}

template <class F> void TForm1::guarded(F&& body)
{
    try {
        body();
    } catch (const std::exception& e) {
        showError(QString::fromUtf8(e.what()));
    }
}

bool TForm1::askYesNo(const QString& text)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("確認"), text, QMessageBox::NoButton, this);
    QPushButton* yes = box.addButton(QStringLiteral("はい(&Y)"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("いいえ(&N)"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

void TForm1::showError(const QString& text)
{
    QMessageBox::critical(this, QStringLiteral("Morvik"), text);
}

bool TForm1::dlChanging(const QString&)
{
    if (IniFile && IniFile->ReadBool(kSection, "movemsg", false) && Edited)
        return askYesNo(QStringLiteral("編集内容を破棄して移動しますか？"));
    return true;
}

void TForm1::dlChange()
{
    guarded([this] {
        const QString folder = dl->Directory();
        // A selection that is no folder leaves the list on its previous one.
        if (!folder.isEmpty())
            fl.SetDirectory(utf8Bytes(folder));
        else
            fl.Update();
        LoadFolder();
        IniFile->WriteString(kSection, "defdir", utf8Bytes(folder));
        pb->setValue(0);
        Edited = false;
    });
}

void TForm1::ToolButton1Click()
{
    const QString path = dl->Directory();
    if (path.isEmpty())
        return;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return;
    dl->SetDirectory(path.left(slash + 1));
}

void TForm1::Refresh1Click()
{
    guarded([this] { LoadFolder(); });
}

void TForm1::v1btnClick() { switchView(true); }

void TForm1::v2btnClick() { switchView(false); }

void TForm1::switchView(bool toV1)
{
    // The clicked check button has already toggled itself.
    QAction* clicked = toV1 ? v1btn : v2btn;
    const bool clickedWasDown = !clicked->isChecked();
    if (IniFile->ReadBool(kSection, "movemsg", false) && Edited &&
        !askYesNo(QStringLiteral("編集内容を破棄しますか？"))) {
        clicked->setChecked(clickedWasDown);
        return;
    }
    v1btn->setChecked(toV1);
    v2btn->setChecked(!toV1);
    guarded([this, toV1] {
        LoadFolder();
        IniFile->WriteInteger(kSection, "tagv", toV1 ? 1 : 2);
        Edited = false;
    });
}

void TForm1::LoadFolder()
{
    // A load started while this one lets messages through (a reload, another
    // folder) replaces it; this one then stops instead of mixing two lists.
    const std::uint64_t generation = ++m_loadGeneration;
    // The cells are replaced: nothing is left to undo against.
    clearHistory();

    setPanelText(2, QString());
    for (int row = 1; row < sg->RowCount(); ++row) {
        for (int col = 0; col < kColumns; ++col)
            sg->SetCells(col, row, QString());
    }
    fl.Update();
    const std::vector<std::string> names = fl.Items();
    const int count = static_cast<int>(names.size());
    Files.Items.assign(names.size(), TFileList{});
    Files.Count = 0;
    setProgressMaximum(count);
    pb->setValue(0);
    QCoreApplication::processEvents();
    if (generation != m_loadGeneration)
        return;
    if (sg->RowCount() < count + 1)
        sg->SetRowCount(count + 1);

    for (const std::string& name : names) {
        if (morvik::matchesMp3Mask(name))
            readFileIntoRow(name);
        pb->setValue(pb->value() + 1);
        QCoreApplication::processEvents();
        if (generation != m_loadGeneration)
            return;
    }
    pb->setValue(0);
    if (AutoFit)
        N6Click();
}

void TForm1::readFileIntoRow(const std::string& name)
{
    TagIO = std::make_unique<morvik::TMP3id>(shownView(), KeepDate);
    TFileList record = morvik::readFileRecord(*TagIO, fl.PathOf(name));

    const int row = Files.Count + 1;
    if (sg->RowCount() < row + 1)
        sg->SetRowCount(row + 1);
    sg->SetCells(0, row, morvik::shownFileName(name));
    for (int field = 0; field < tcCount; ++field)
        sg->SetCells(field + 1, row, record.Texts[static_cast<std::size_t>(field)].text);
    sg->SetRowHeights(row, textHeight(kColumnTitles[0]) + 4);

    if (static_cast<std::size_t>(Files.Count) >= Files.Items.size())
        Files.Items.resize(static_cast<std::size_t>(Files.Count) + 1);
    Files.Items[static_cast<std::size_t>(Files.Count)] = std::move(record);
    ++Files.Count;
}

// What the cell editor holds is the cell's text already; closing it first
// keeps a later Esc from putting back a text older than the files.
void TForm1::ToolButton2Click()
{
    commitEditor();
    guarded([this] { applyEdits(); });
}

// A row that could not be written or renamed is counted in the status; a
// refusal or a writer error stops the apply with the error box, the bar and
// the status back at rest.
void TForm1::applyEdits()
{
    setProgressMaximum(Files.Count * 100);
    pb->setValue(0);
    setPanelText(2, QStringLiteral("編集内容書込中"));
    if (!TagIO)
        TagIO = std::make_unique<morvik::TMP3id>();
    morvik::GridCells cells(*sg);
    const morvik::TApplyOutcome outcome =
        morvik::applyEdits(Files, cells, *TagIO, shownView(), KeepDate, fl, [this] {
            pb->setValue(pb->value() + 100);
            QCoreApplication::processEvents();
        });
    pb->setValue(0);
    if (outcome.stopped) {
        setPanelText(2, QString());
        showError(*outcome.stopped);
        return;
    }
    Edited = false;
    clearHistory();
    setPanelText(2, morvik::applyStatusText(outcome.writeFailures, outcome.renameFailures));
}

// ---- playback --------------------------------------------------------------

// Plays the file of the current row. The player's Stop posts an end of play;
// letting it through while Switching is set keeps it from starting a repeat.
// A file the player refuses shows the error box and leaves Switching set, so
// no end of play acts until the next successful switch.
void TForm1::ToolButton5Click()
{
    if (!morvik::playback::recordOfRow(sg->Row(), Files.Count))
        return;
    guarded([this] {
        MP3->Stop();
        Switching = true;
        QCoreApplication::processEvents();
        // The messages let through may have moved the row or loaded another
        // folder.
        const std::optional<std::int32_t> k = morvik::playback::recordOfRow(sg->Row(), Files.Count);
        if (!k)
            return;
        playRecord(*k);
        Switching = false;
        setPlaying(*k);
        showPlayingRecord(false);
    });
}

void TForm1::ToolButton8Click()
{
    guarded([this] {
        MP3->Stop();
        MP3->Close();
        Switching = true;
        for (int panel = 0; panel < 3; ++panel)
            setPanelText(panel, QString());
    });
}

void TForm1::ToolButton9Click()
{
    guarded([this] {
        if (MP3->Status() == morvik::mpsPaused)
            MP3->Resume();
        else
            MP3->Pause();
    });
}

void TForm1::ToolButton10Click() { stepPlaying(&morvik::playback::nextIndex); }

void TForm1::ToolButton11Click() { stepPlaying(&morvik::playback::previousIndex); }

// Next and previous act only while a file plays, and swallow every error,
// leaving the state where it happened.
void TForm1::stepPlaying(std::optional<std::int32_t> (*step)(std::int32_t, std::int32_t))
{
    try {
        if (MP3->Status() != morvik::mpsPlaying || !step(Playing.Index, Files.Count))
            return;
        Switching = true;
        MP3->Stop();
        QCoreApplication::processEvents();
        const std::optional<std::int32_t> index = step(Playing.Index, Files.Count);
        if (!index)
            return;
        setPlaying(*index);
        playRecord(*index);
        Switching = false;
        showPlayingRecord(true);
    } catch (...) {
    }
}

void TForm1::setPlaying(std::int32_t index)
{
    Playing.Index = index;
    Playing.Path = utf8Text(Files.Items[static_cast<std::size_t>(index)].Path);
}

// Hands record `index` to the player, which opens and starts it.
void TForm1::playRecord(std::int32_t index)
{
    MP3->SetFileName(Files.Items[static_cast<std::size_t>(index)].Path);
    MP3->Play();
}

// Title, artist and album of the playing file in panels 0 to 2, and its year
// in panel 3 (under the progress bar): the texts of its record, not the
// grid's unsaved edits.
void TForm1::showPlayingRecord(bool withYear)
{
    const TFileList& record = Files.Items[static_cast<std::size_t>(Playing.Index)];
    setPanelText(0, record.Texts[tcTitle].text);
    setPanelText(1, record.Texts[tcArtist].text);
    setPanelText(2, record.Texts[tcAlbum].text);
    if (withYear)
        setPanelText(3, record.Texts[tcYear].text);
}

// The menu has already toggled the clicked item's mark: the marks are set
// again from the mode.
void TForm1::O2Click() { showRepeatMode(morvik::playback::afterRepeatOneClick(RepeatMode)); }

void TForm1::A1Click() { showRepeatMode(morvik::playback::afterRepeatAllClick(RepeatMode)); }

void TForm1::showRepeatMode(morvik::playback::TRepeatMode mode)
{
    RepeatMode = mode;
    O2->setChecked(mode == morvik::playback::TRepeatMode::One);
    A1->setChecked(mode == morvik::playback::TRepeatMode::All);
}

// Starts the next file of a repeat. A file that can no longer be opened
// (deleted or replaced meanwhile) shows the error box and ends playback.
void TForm1::MP3EndPlay(morvik::TMP3EndPlayReason reason)
{
    const std::optional<std::int32_t> index =
        morvik::playback::indexAfterEnd(Switching, RepeatMode, reason, Playing.Index, Files.Count);
    if (!index)
        return;
    guarded([this, next = *index] {
        setPlaying(next);
        playRecord(next);
        showPlayingRecord(true);
    });
}
