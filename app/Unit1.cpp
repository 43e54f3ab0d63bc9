#include "app/Unit1.h"

#include "platform/foldertree.h"
#include "platform/posixfile.h"
#include "platform/profilefile.h"
#include "platform/textcodec.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QTreeView>
#include <algorithm>
#include <exception>

namespace {

const char* const kSection = "women";
constexpr int kColumns = 8;

// Ideographic space after "エディター".
const QString kCaption = QStringLiteral("MP3 タグエディター\u3000「Morvik」 ver2.03");

const std::array<QString, kColumns> kColumnTitles = {
    QStringLiteral("ファイル名"), QStringLiteral("曲名"),     QStringLiteral("アーティスト名"),
    QStringLiteral("アルバム名"), QStringLiteral("年"),       QStringLiteral("コメント"),
    QStringLiteral("トラック番号"), QStringLiteral("ジャンル")};

QString fromBytes(const std::string& utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string toBytes(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    return std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

// Length of the Shift-JIS character starting with `lead`.
std::size_t shiftJisCharLength(unsigned char lead)
{
    return ((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC)) ? 2 : 1;
}

// Tag bytes shown as text. Bytes that are not Shift-JIS show as U+FFFD and
// 0x00 padding (a short year keeps it) is not shown; the record keeps the
// bytes, so such a field is written back unchanged.
QString decodeTagBytes(const std::string& bytes)
{
    if (const auto whole = morvik::cp932ToUtf8(bytes))
        return fromBytes(*whole).remove(QChar(0));
    QString text;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t n = std::min(shiftJisCharLength(static_cast<unsigned char>(bytes[i])), bytes.size() - i);
        const auto piece = morvik::cp932ToUtf8(std::string_view(bytes).substr(i, n));
        text += piece ? fromBytes(*piece) : QString(QChar::ReplacementCharacter);
        i += n;
    }
    return text.remove(QChar(0));
}

TTagText tagText(const std::string& bytes) { return TTagText{bytes, decodeTagBytes(bytes)}; }

std::string baseName(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

QString shownFileName(const std::string& nameBytes) { return fromBytes(nameBytes); }

// ".mp3" in any letter case after the last period, on a non-empty name.
bool acceptedMp3Name(const std::string& name)
{
    const std::size_t dot = name.rfind('.');
    if (name.empty() || dot == std::string::npos || name.size() - dot != 4)
        return false;
    return (name[dot + 1] == 'm' || name[dot + 1] == 'M') && (name[dot + 2] == 'p' || name[dot + 2] == 'P') &&
           name[dot + 3] == '3';
}

// A name that stays in its folder: not empty, not "." or "..", no "/" or NUL.
bool usableFileName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

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

struct ToolButtonSpec {
    QAction* TForm1::*member;
    const char* hint;
    const char* glyph;
    QStyle::StandardPixmap standard;
    bool checkable;
};

} // namespace

TForm1::TForm1(const QString& appFolder, QWidget* parent) : QMainWindow(parent)
{
    m_appFolder = appFolder.isEmpty() ? QCoreApplication::applicationDirPath() : appFolder;
    buildControls();
    FormCreate(m_appFolder);
}

TForm1::~TForm1() = default;

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
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    // The genre pick list; the grid hosts it over column 7 once control
    // hosting exists. Items sorted without regard to case.
    cmb2 = new QComboBox(this);
    cmb2->setEditable(true);
    cmb2->hide();
    QStringList genres;
    for (int i = 0; i < 148; ++i)
        genres << fromBytes(std::string(GenreTable()[static_cast<std::size_t>(i)]));
    std::stable_sort(genres.begin(), genres.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    cmb2->addItems(genres);

    buildStatusBar();

    dl->OnChanging = [this](const QString& newPath) { return dlChanging(newPath); };
    dl->OnChange = [this] { dlChange(); };
    connect(Splitter1, &QSplitter::splitterMoved, this, &TForm1::Splitter1Moved);
    connect(sg, &TCtrlGrid::GetEditText, this, &TForm1::sgGetEditText);
    connect(sg, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupMenu1->popup(sg->viewport()->mapToGlobal(at)); });
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
    const ToolButtonSpec specs[] = {
        {&TForm1::ToolButton2, "編集反映(CTL+S)", "反", none, false},
        {&TForm1::ToolButton1, "戻る", "↑", none, false},
        {&TForm1::ToolButton15, "最新の情報に更新(F5)", "更", none, false},
        {nullptr, nullptr, nullptr, none, false},
        {&TForm1::ToolButton3, "コピー(CTL+S)", "写", none, false},
        {&TForm1::ToolButton4, "切り取り(CTL+X)", "切", none, false},
        {&TForm1::ToolButton7, "貼り付け(CTL+P)", "貼", none, false},
        {&TForm1::ToolButton16, "削除(CTL+DEL)", "削", none, false},
        {nullptr, nullptr, nullptr, none, false},
        {&TForm1::v1btn, "ID3v1を表示/編集", "v1", none, true},
        {&TForm1::v2btn, "ID3v2を表示/編集", "v2", none, true},
        {nullptr, nullptr, nullptr, none, false},
        {&TForm1::ToolButton5, "再生", nullptr, QStyle::SP_MediaPlay, false},
        {&TForm1::ToolButton8, "停止", nullptr, QStyle::SP_MediaStop, false},
        {&TForm1::ToolButton9, "一時停止", nullptr, QStyle::SP_MediaPause, false},
        {&TForm1::ToolButton11, "前へ", nullptr, QStyle::SP_MediaSkipBackward, false},
        {&TForm1::ToolButton10, "次へ", nullptr, QStyle::SP_MediaSkipForward, false},
    };
    for (const ToolButtonSpec& spec : specs) {
        if (!spec.member) {
            ToolBar1->addSeparator();
            continue;
        }
        const QString hint = QString::fromUtf8(spec.hint);
        const QIcon icon = spec.glyph ? glyphIcon(QString::fromUtf8(spec.glyph), font()) : style()->standardIcon(spec.standard);
        QAction* action = ToolBar1->addAction(icon, hint);
        action->setToolTip(hint);
        action->setCheckable(spec.checkable);
        if (QWidget* button = ToolBar1->widgetForAction(action))
            button->setFixedSize(32, 31);
        this->*spec.member = action;
    }
    v1btn->setChecked(true);

    connect(ToolButton2, &QAction::triggered, this, &TForm1::ToolButton2Click);
    connect(ToolButton1, &QAction::triggered, this, &TForm1::ToolButton1Click);
    connect(ToolButton15, &QAction::triggered, this, &TForm1::Refresh1Click);
    connect(v1btn, &QAction::triggered, this, &TForm1::v1btnClick);
    connect(v2btn, &QAction::triggered, this, &TForm1::v2btnClick);
    // Copy, cut, paste, delete and the playback buttons get their handlers
    // with the cell commands and the player.
}

void TForm1::buildMenus()
{
    QMenuBar* bar = menuBar();

    QMenu* edit = bar->addMenu(QStringLiteral("編集(&E)"));
    Apply1 = edit->addAction(QStringLiteral("編集内容反映(&E)"));
    Apply1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    connect(Apply1, &QAction::triggered, this, &TForm1::ToolButton2Click);
    edit->addSeparator();
    edit->addAction(QStringLiteral("コピー(&C)"));
    edit->addAction(QStringLiteral("切り取り(&X)"));
    edit->addAction(QStringLiteral("貼り付け(&V)"));
    edit->addAction(QStringLiteral("削除(&D)"))->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Delete));
    edit->addSeparator();
    edit->addAction(QStringLiteral("連番挿入(&N)"));
    edit->addAction(QStringLiteral("特殊編集(&S)"));

    QMenu* view = bar->addMenu(QStringLiteral("表示(&V)"));
    view->addAction(QStringLiteral("並べ替え(&S)"));
    QAction* fit = view->addAction(QStringLiteral("セル幅調整"));
    fit->setShortcut(QKeySequence(Qt::Key_F4));
    connect(fit, &QAction::triggered, this, &TForm1::N6Click);
    Refresh1 = view->addAction(QStringLiteral("最新の情報に更新"));
    Refresh1->setShortcut(QKeySequence(Qt::Key_F5));
    connect(Refresh1, &QAction::triggered, this, &TForm1::Refresh1Click);
    view->addSeparator();
    view->addAction(QStringLiteral("オプション(&O)"));

    QMenu* play = bar->addMenu(QStringLiteral("演奏(&P)"));
    play->addAction(QStringLiteral("再生(&P)"));
    play->addAction(QStringLiteral("停止(&S)"));
    play->addAction(QStringLiteral("一時停止(&I)"));
    play->addAction(QStringLiteral("次の曲(&N)"));
    play->addAction(QStringLiteral("前の曲(&B)"));
    play->addSeparator();
    play->addAction(QStringLiteral("単曲リピート(&R)"));
    play->addAction(QStringLiteral("全曲リピート(&A)"));

    QMenu* help = bar->addMenu(QStringLiteral("ヘルプ(&H)"));
    help->addAction(QStringLiteral("Readme(&R)"));
    help->addAction(QStringLiteral("バージョン情報(&V)"));

    // The grid's popup menu. Its Ctrl+C, Ctrl+X and Ctrl+V act while the
    // grid has the focus; its Ctrl+Del is the menu bar's, shown here too.
    PopupMenu1 = new QMenu(this);
    const std::pair<const char*, QKeySequence> popupItems[] = {
        {"コピー", QKeySequence(Qt::CTRL | Qt::Key_C)},
        {"切り取り", QKeySequence(Qt::CTRL | Qt::Key_X)},
        {"貼り付け", QKeySequence(Qt::CTRL | Qt::Key_V)},
    };
    for (const auto& [caption, keys] : popupItems) {
        QAction* action = PopupMenu1->addAction(QString::fromUtf8(caption));
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        sg->addAction(action);
    }
    QAction* popupDelete = PopupMenu1->addAction(QStringLiteral("削除"));
    popupDelete->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Delete));
    popupDelete->setShortcutContext(Qt::WidgetShortcut);
    PopupMenu1->addSeparator();
    PopupMenu1->addAction(QStringLiteral("並べ替え"));
    PopupMenu1->addAction(QStringLiteral("連番挿入"));
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

void TForm1::setPanelText(int panel, const QString& text)
{
    if (panel >= 0 && panel < static_cast<int>(sbPanels.size()))
        sbPanels[static_cast<std::size_t>(panel)]->setText(text);
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

TTagView TForm1::shownView() const
{
    return v1btn->isChecked() ? TTagView::ID3v1 : TTagView::ID3v2;
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
    Files = TFileListL{};

    IniFile = std::make_unique<morvik::TProfileFile>(morvik::settingsFilePath(toBytes(appFolder)));

    QString folder = fromBytes(readSetting("defdir", toBytes(appFolder)));
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
    fl.SetDirectory(toBytes(dl->Directory()));
    sg->SetCurrentCell(0, 1);
    sg->setFocus();
}

void TForm1::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
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

void TForm1::N6Click()
{
}

void TForm1::sgGetEditText(int, int)
{
    Edited = true;
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
            fl.SetDirectory(toBytes(folder));
        else
            fl.Update();
        LoadFolder();
        IniFile->WriteString(kSection, "defdir", toBytes(folder));
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
    pb->setMaximum(count);
    pb->setValue(0);
    QCoreApplication::processEvents();
    if (generation != m_loadGeneration)
        return;
    if (sg->RowCount() < count + 1)
        sg->SetRowCount(count + 1);

    for (const std::string& name : names) {
        if (acceptedMp3Name(name))
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
    const std::string path = fl.PathOf(name);
    TagIO = std::make_unique<TMP3id>(shownView(), KeepDate);
    TagIO->Open(path, 0);
    const bool hasTag = TagIO->ReadTag();
    TagIO->Close();

    TFileList record;
    record.HasTag = hasTag ? 1 : 0;
    record.Path = path;
    record.Texts = {tagText(TagIO->Title()),   tagText(TagIO->Artist()), tagText(TagIO->Album()),
                    tagText(TagIO->Year()),    tagText(TagIO->Comment()), tagText(TagIO->Track()),
                    tagText(TagIO->Genre())};
    record.TagPosition = TagIO->TagPosition();

    const int row = Files.Count + 1;
    if (sg->RowCount() < row + 1)
        sg->SetRowCount(row + 1);
    sg->SetCells(0, row, shownFileName(name));
    for (int field = 0; field < tcCount; ++field)
        sg->SetCells(field + 1, row, record.Texts[static_cast<std::size_t>(field)].text);
    sg->SetRowHeights(row, textHeight(kColumnTitles[0]) + 4);

    if (static_cast<std::size_t>(Files.Count) >= Files.Items.size())
        Files.Items.resize(static_cast<std::size_t>(Files.Count) + 1);
    Files.Items[static_cast<std::size_t>(Files.Count)] = std::move(record);
    ++Files.Count;
}

void TForm1::ToolButton2Click()
{
    guarded([this] { applyEdits(); });
}

void TForm1::applyEdits()
{
    pb->setMaximum(Files.Count * 100);
    pb->setValue(0);
    setPanelText(2, QStringLiteral("編集内容書込中"));
    if (!writeChangedTags())
        return;
    renameChangedFiles();
    pb->setValue(0);
    Edited = false;
    setPanelText(2, QStringLiteral("書込終了"));
}

// Writes the tag of every row whose tag cells differ from its record. False
// when the apply has to stop (a cell Shift-JIS cannot hold, a writer error);
// the box has then been shown.
bool TForm1::writeChangedTags()
{
    for (std::int32_t i = 0; i < Files.Count; ++i) {
        TFileList& record = Files.Items[static_cast<std::size_t>(i)];
        TRowTexts cells;
        for (int field = 0; field < tcCount; ++field)
            cells[static_cast<std::size_t>(field)] = sg->Cells(field + 1, i + 1);
        if (rowChanged(record, cells)) {
            TRowBytes bytes;
            if (!encodeRow(record, cells, bytes) || !writeRow(record, cells, bytes))
                return false;
        }
        pb->setValue(pb->value() + 100);
        QCoreApplication::processEvents();
    }
    return true;
}

bool TForm1::rowChanged(const TFileList& record, const TRowTexts& cells) const
{
    for (std::size_t field = 0; field < cells.size(); ++field) {
        if (cells[field] != record.Texts[field].text)
            return true;
    }
    return false;
}

// The bytes to write for a row: a cell still showing what was read gives the
// bytes read, any other cell its Shift-JIS encoding.
bool TForm1::encodeRow(const TFileList& record, const TRowTexts& cells, TRowBytes& bytes)
{
    for (std::size_t field = 0; field < bytes.size(); ++field) {
        if (cells[field] == record.Texts[field].text) {
            bytes[field] = record.Texts[field].bytes;
            continue;
        }
        const morvik::Cp932Encoding encoded = morvik::utf8ToCp932(toBytes(cells[field]));
        if (!encoded.ok) {
            showError(QStringLiteral("%1 に書き込めません: 文字「%2」は Shift-JIS で表せません。")
                          .arg(fromBytes(record.Path), fromBytes(encoded.badCharacter)));
            return false;
        }
        bytes[field] = encoded.bytes;
    }
    return true;
}

bool TForm1::writeRow(TFileList& record, const TRowTexts& cells, const TRowBytes& bytes)
{
    if (!TagIO)
        TagIO = std::make_unique<TMP3id>();
    TagIO->SetView(shownView());
    TagIO->SetKeepDate(KeepDate);
    TagIO->Open(record.Path, 2);
    const bool opened = TagIO->IsOpen();
    try {
        TagIO->WriteTag(record.HasTag != 0, bytes[tcTitle], bytes[tcArtist], bytes[tcAlbum], bytes[tcYear],
                        bytes[tcComment], bytes[tcTrack], bytes[tcGenre], record.TagPosition);
    } catch (const TTagWriteError& e) {
        TagIO->Close();
        showError(QString::fromUtf8(e.what()));
        return false;
    }
    TagIO->Close();

    // A file that could not be opened was not written: its record keeps the
    // old texts so the next apply tries again.
    if (!opened)
        return true;
    for (std::size_t field = 0; field < bytes.size(); ++field)
        record.Texts[field] = TTagText{bytes[field], cells[field]};
    if (!record.HasTag)
        refreshTagPlace(record);
    return true;
}

// The file has a tag of the shown view now: read where it went, so writing
// this row again updates it instead of appending another.
void TForm1::refreshTagPlace(TFileList& record) const
{
    TMP3id reader(shownView(), KeepDate);
    reader.Open(record.Path, 0);
    record.HasTag = reader.ReadTag() ? 1 : 0;
    reader.Close();
    record.TagPosition = reader.TagPosition();
}

void TForm1::renameChangedFiles()
{
    for (std::int32_t i = 0; i < Files.Count; ++i) {
        TFileList& record = Files.Items[static_cast<std::size_t>(i)];
        const std::string oldName = baseName(record.Path);
        const QString cell = sg->Cells(0, i + 1);
        const std::string newName = cell == shownFileName(oldName) ? oldName : toBytes(cell);
        const std::string newPath = fl.PathOf(newName);
        if (newPath == record.Path)
            continue;
        // The name must stay a name in this folder, and an existing file is
        // never replaced; a refused rename keeps the old path for next time.
        if (usableFileName(newName) && morvik::renameNoReplace(record.Path, newPath) == 0)
            record.Path = newPath;
    }
}
