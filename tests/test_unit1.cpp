#include "app/Unit1.h"
#include "app/Unit4.h"
#include "app/Unit5.h"

#include "app/gridcells.h"

#include "compo/mp3plyr.h"
#include "id3/mp3id.h"
#include "platform/foldertree.h"
#include "platform/profilefile.h"
#include "platform/textcodec.h"
#include "platform/waveoutfake.h"
#include "qttestapp.h"
#include "readonlymount.h"
#include "testsupport.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QRadioButton>
#include <QClipboard>
#include <QElapsedTimer>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLabel>
#include <QFileSystemModel>
#include <QTreeView>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fcntl.h>
#include <sys/stat.h>

using morvik::TMP3id;
using morvik::TTagView;
using morvik::utf8Bytes;
using morvik::cells::CellRect;

using namespace testsupport;

namespace {

struct Tag {
    std::string title, artist, album, year, comment, track, genre;
};

Tag readTag(const std::string& path, TTagView view)
{
    TMP3id tag(view, false);
    tag.Open(path, 0);
    tag.ReadTag();
    tag.Close();
    return {tag.Title(), tag.Artist(), tag.Album(), tag.Year(), tag.Comment(), tag.Track(), tag.Genre()};
}

void writeTag(const std::string& path, TTagView view, const Tag& t)
{
    TMP3id reader(view, false);
    reader.Open(path, 0);
    const bool hasTag = reader.ReadTag();
    reader.Close();
    TMP3id writer(view, false);
    writer.Open(path, 2);
    writer.WriteTag(hasTag, t.title, t.artist, t.album, t.year, t.comment, t.track, t.genre, reader.TagPosition());
    writer.Close();
}

Tag simpleTag(const std::string& title) { return {title, "Artist", "Album", "1999", "", "3", "Rock"}; }

QString q(const std::string& utf8) { return QString::fromStdString(utf8); }

std::int64_t modificationTime(const std::string& path)
{
    struct stat st {};
    ::stat(path.c_str(), &st);
    return static_cast<std::int64_t>(st.st_mtim.tv_sec);
}

void setModificationTime(const std::string& path, std::int64_t seconds)
{
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

int activeAnswerers = 0;

// Answers the next modal message box with the button whose text is `answer`
// (the first button when `answer` is empty) and remembers what it showed.
class BoxAnswerer {
public:
    explicit BoxAnswerer(QString answer) : m_answer(std::move(answer))
    {
        ++activeAnswerers;
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start(5);
    }
    ~BoxAnswerer() { --activeAnswerers; }
    BoxAnswerer(const BoxAnswerer&) = delete;
    BoxAnswerer& operator=(const BoxAnswerer&) = delete;
    bool seen = false;
    QString title, text;
    QStringList buttons;

private:
    void poll()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        m_timer.stop();
        seen = true;
        title = box->windowTitle();
        text = box->text();
        QAbstractButton* chosen = nullptr;
        for (QAbstractButton* button : box->buttons()) {
            buttons << button->text();
            if (!chosen && (m_answer.isEmpty() || button->text() == m_answer))
                chosen = button;
        }
        if (chosen)
            chosen->click();
    }
    QString m_answer;
    QTimer m_timer;
};

const QString kYes = QStringLiteral("はい(&Y)");
const QString kNo = QStringLiteral("いいえ(&N)");

class Unit1Test : public ::testing::Test {
protected:
    // A box no test step expects fails the test and is closed, so the test
    // cannot hang in it.
    void SetUp() override
    {
        testApplication();
        QObject::connect(&m_watchdog, &QTimer::timeout, [] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || activeAnswerers > 0)
                return;
            ADD_FAILURE() << "unexpected message box: " << box->text().toStdString();
            box->reject();
        });
        m_watchdog.start(20);
    }
    QTimer m_watchdog;

    std::string mp3(const std::string& name, const Tag* v1 = nullptr, const Tag* v2 = nullptr,
                    const TempDir* dir = nullptr)
    {
        const std::string path = (dir ? *dir : music).file(name);
        writeFile(path, toneMp3(0.1));
        if (v1)
            writeTag(path, TTagView::ID3v1, *v1);
        if (v2)
            writeTag(path, TTagView::ID3v2, *v2);
        return path;
    }

    void writeIni(const std::string& lines)
    {
        writeFile(appDir.file("tag.ini"), "[women]\ndefdir=" + music.path() + "\n" + lines);
    }

    std::string ini() const { return readFile(appDir.file("tag.ini")); }

    TForm1& start()
    {
        form = std::make_unique<TForm1>(q(appDir.path()));
        form->show();
        QApplication::processEvents();
        return *form;
    }

    // Opens the cell editor on a cell and types a text, as the user does.
    void typeInto(int col, int row, const QString& text)
    {
        TCtrlGrid* sg = form->sg;
        sg->SetCurrentCell(col, row);
        sg->editItem(sg->item(row - 1, col));
        auto* editor = sg->findChild<QLineEdit*>();
        ASSERT_NE(editor, nullptr);
        editor->selectAll();
        QTest::keyClicks(editor, text);
        QTest::keyClick(editor, Qt::Key_Return);
    }

    std::vector<QString> column(int col) const
    {
        std::vector<QString> texts;
        for (int row = 1; row <= form->Files.Count; ++row)
            texts.push_back(form->sg->Cells(col, row));
        return texts;
    }

    TempDir appDir;
    TempDir music;
    std::unique_ptr<TForm1> form;
};

TEST_F(Unit1Test, StartsWithoutIniInTheExecutableFolderWithDefaults)
{
    TForm1& f = start();
    EXPECT_EQ(f.windowTitle(), QStringLiteral("MP3 タグエディター\u3000「Morvik」 ver2.03"));
    EXPECT_EQ(f.dl->Directory(), q(appDir.path()));
    EXPECT_TRUE(f.v1btn->isChecked());
    EXPECT_FALSE(f.v2btn->isChecked());
    EXPECT_FALSE(f.KeepDate);
    EXPECT_FALSE(f.AutoFit);
    EXPECT_EQ(f.Files.Count, 0);
    const QString titles[] = {"ファイル名", "曲名", "アーティスト名", "アルバム名", "年", "コメント", "トラック番号", "ジャンル"};
    for (int col = 0; col < 8; ++col)
        EXPECT_EQ(f.sg->Cells(col, 0), titles[col]);
    // The folder selected at start is the first setting written.
    EXPECT_EQ(ini(), "[women]\ndefdir=" + appDir.path() + "\n");

    QStringList hints;
    for (QAction* action : f.ToolBar1->actions()) {
        if (!action->isSeparator())
            hints << action->toolTip();
    }
    EXPECT_EQ(hints, QStringList({"編集反映(CTL+S)", "戻る", "最新の情報に更新(F5)", "コピー(CTL+S)",
                                  "切り取り(CTL+X)", "貼り付け(CTL+P)", "削除(CTL+DEL)", "ID3v1を表示/編集",
                                  "ID3v2を表示/編集", "再生", "停止", "一時停止", "前へ", "次へ"}));
    EXPECT_EQ(f.Apply1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
    EXPECT_EQ(f.Refresh1->shortcut(), QKeySequence(Qt::Key_F5));
    EXPECT_EQ(f.pb->palette().color(QPalette::Highlight), QColor(64, 64, 255));
}

// Every command of the menu bar and the popup menu is a named action with
// its caption and shortcut, in the order shown.
TEST_F(Unit1Test, MenusAreBuiltFromNamedActions)
{
    TForm1& f = start();
    struct Row {
        QAction* action; // nullptr: separator
        const char* caption;
        QKeySequence keys;
    };
    const std::pair<QString, std::vector<Row>> menus[] = {
        {"編集(&E)",
         {{f.Undo1, "元に戻す(&U)", QKeySequence(Qt::CTRL | Qt::Key_Z)},
          {f.Redo1, "やり直し(&R)", QKeySequence(Qt::CTRL | Qt::Key_Y)},
          {nullptr, "", {}},
          {f.Apply1, "編集内容反映(&E)", QKeySequence(Qt::CTRL | Qt::Key_S)},
          {nullptr, "", {}},
          {f.Copy1, "コピー(&C)", {}},
          {f.Cut1, "切り取り(&X)", {}},
          {f.Paste1, "貼り付け(&V)", {}},
          {f.Delete1, "削除(&D)", QKeySequence(Qt::CTRL | Qt::Key_Delete)},
          {nullptr, "", {}},
          {f.N9, "連番挿入(&N)", {}},
          {f.N2, "特殊編集(&S)", {}}}},
        {"表示(&V)",
         {{f.S2, "並べ替え(&S)", {}},
          {f.N6, "セル幅調整", QKeySequence(Qt::Key_F4)},
          {f.Refresh1, "最新の情報に更新", QKeySequence(Qt::Key_F5)},
          {nullptr, "", {}},
          {f.O1, "オプション(&O)", {}}}},
        {"演奏(&P)",
         {{f.Play1, "再生(&P)", {}},
          {f.Stop1, "停止(&S)", {}},
          {f.Pause1, "一時停止(&I)", {}},
          {f.Next1, "次の曲(&N)", {}},
          {f.Previous1, "前の曲(&B)", {}},
          {nullptr, "", {}},
          {f.O2, "単曲リピート(&R)", {}},
          {f.A1, "全曲リピート(&A)", {}}}},
        {"ヘルプ(&H)", {{f.ReadmeR1, "Readme(&R)", {}}, {f.About1, "バージョン情報(&V)", {}}}},
        {"popup",
         {{f.PopupCopy, "コピー", QKeySequence(Qt::CTRL | Qt::Key_C)},
          {f.PopupCut, "切り取り", QKeySequence(Qt::CTRL | Qt::Key_X)},
          {f.PopupPaste, "貼り付け", QKeySequence(Qt::CTRL | Qt::Key_V)},
          {f.PopupDelete, "削除", QKeySequence(Qt::CTRL | Qt::Key_Delete)},
          {nullptr, "", {}},
          {f.PopupSort, "並べ替え", {}},
          {f.PopupSerial, "連番挿入", {}}}},
    };
    const QList<QAction*> bar = f.menuBar()->actions();
    ASSERT_EQ(bar.size(), 4);
    for (std::size_t m = 0; m < std::size(menus); ++m) {
        const auto& [title, rows] = menus[m];
        const QMenu* menu = m < 4 ? bar[static_cast<qsizetype>(m)]->menu() : f.PopupMenu1;
        ASSERT_NE(menu, nullptr) << title.toStdString();
        if (m < 4) {
            EXPECT_EQ(menu->title(), title);
        }
        const QList<QAction*> shown = menu->actions();
        ASSERT_EQ(shown.size(), static_cast<qsizetype>(rows.size())) << title.toStdString();
        for (std::size_t i = 0; i < rows.size(); ++i) {
            QAction* action = shown[static_cast<qsizetype>(i)];
            if (!rows[i].action) {
                EXPECT_TRUE(action->isSeparator()) << title.toStdString() << " " << i;
                continue;
            }
            EXPECT_EQ(action, rows[i].action) << rows[i].caption;
            EXPECT_EQ(action->text(), QString::fromUtf8(rows[i].caption));
            EXPECT_EQ(action->shortcut(), rows[i].keys) << rows[i].caption;
        }
    }
    EXPECT_EQ(f.Redo1->shortcuts(), QList<QKeySequence>({QKeySequence(Qt::CTRL | Qt::Key_Y),
                                                         QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)}));
    // The popup's copy, cut and paste keys act in the grid.
    for (QAction* action : {f.PopupCopy, f.PopupCut, f.PopupPaste})
        EXPECT_TRUE(f.sg->actions().contains(action)) << action->text().toStdString();
}

TEST_F(Unit1Test, TagvOtherThanOneStartsInTheId3v2View)
{
    const Tag v1 = simpleTag("title-v1");
    const Tag v2 = simpleTag("title-v2");
    mp3("both.mp3", &v1, &v2);
    const std::pair<const char*, bool> cases[] = {{"5", false}, {"2", false}, {"abc", false},
                                                  {"1", true},  {" 1 ", true}, {"0", false}};
    for (const auto& [tagv, showsV1] : cases) {
        writeIni(std::string("TagV=") + tagv + "\n");
        TForm1& f = start();
        EXPECT_EQ(f.v1btn->isChecked(), showsV1) << tagv;
        EXPECT_EQ(f.v2btn->isChecked(), !showsV1) << tagv;
        EXPECT_EQ(f.sg->Cells(1, 1), showsV1 ? "title-v1" : "title-v2") << tagv;
    }
}

TEST_F(Unit1Test, LoadListsMaskedFilesInNameOrderAndSurvivesBadFiles)
{
    const Tag tagged = simpleTag("Bee");
    mp3("b.mp3", &tagged);
    mp3("SONG.MP3", &tagged);
    mp3("Song.Mp3");
    mp3("a.mp3x", &tagged);
    mp3("song.mp3.bak", &tagged);
    mp3("songmp3", &tagged);
    mp3("bad\xff.mp3", &tagged);
    writeFile(music.file("empty.mp3"), "");
    mp3("locked.mp3", &tagged);
    ::chmod(music.file("locked.mp3").c_str(), 0);
    std::filesystem::create_directory(music.file("folder.mp3"));
    writeIni("");

    TForm1& f = start();
    EXPECT_EQ(column(0), (std::vector<QString>{"SONG.MP3", "Song.Mp3", "b.mp3", "bad\uFFFD.mp3", "empty.mp3",
                                               "locked.mp3"}));
    ASSERT_EQ(f.Files.Count, 6);
    const std::uint8_t hasTag[] = {1, 0, 1, 1, 0, 1};
    for (int i = 0; i < 6; ++i) {
        const TFileList& record = f.Files.Items[static_cast<std::size_t>(i)];
        EXPECT_EQ(record.HasTag, hasTag[i]) << i;
        EXPECT_EQ(record.Path.rfind(music.path() + "/", 0), 0u) << i;
    }
    EXPECT_EQ(f.Files.Items[3].Path, music.file("bad\xff.mp3"));
    EXPECT_EQ(f.sg->Cells(1, 3), "Bee");
    EXPECT_EQ(f.sg->Cells(2, 3), "Artist");
    EXPECT_EQ(f.sg->Cells(6, 3), "3");
    EXPECT_EQ(f.sg->Cells(7, 3), "Rock");
    for (int col = 1; col < 8; ++col)
        EXPECT_EQ(f.sg->Cells(col, 2), QString()) << col; // untagged
    EXPECT_EQ(f.sg->Cells(0, 7), QString());
    EXPECT_EQ(f.pb->value(), 0);
    EXPECT_EQ(f.sg->RowHeights(1), QFontMetrics(f.font()).height() + 4);
    ::chmod(music.file("locked.mp3").c_str(), 0644);
}

TEST_F(Unit1Test, LargeFolderGrowsTheGridAndAShorterFolderClearsTheRest)
{
    for (int i = 0; i < 40; ++i)
        mp3("f" + std::to_string(100 + i) + ".mp3");
    std::filesystem::create_directory(music.file("small"));
    const Tag t = simpleTag("small one");
    mp3("small/one.mp3", &t);
    writeIni("");

    TForm1& f = start();
    EXPECT_EQ(f.Files.Count, 40);
    const int rows = f.sg->RowCount();
    EXPECT_GE(rows, 41);
    EXPECT_EQ(f.sg->Cells(0, 40), "f139.mp3");

    ASSERT_TRUE(f.dl->SetDirectory(q(music.file("small"))));
    EXPECT_EQ(f.Files.Count, 1);
    EXPECT_EQ(f.sg->Cells(0, 1), "one.mp3");
    EXPECT_EQ(f.sg->Cells(1, 1), "small one");
    EXPECT_EQ(f.sg->Cells(0, 2), QString());
    EXPECT_EQ(f.sg->Cells(0, 40), QString());
    EXPECT_EQ(f.sg->RowCount(), rows); // never reduced by a load
    EXPECT_NE(ini().find("defdir=" + music.file("small") + "\n"), std::string::npos);
}

TEST_F(Unit1Test, AReloadClickedDuringALoadReplacesItInsteadOfDoublingRows)
{
    for (const char* name : {"a.mp3", "b.mp3", "c.mp3"})
        mp3(name);
    writeIni("");
    TForm1& f = start();
    int nestedLoads = 0;
    QTimer::singleShot(0, &f, [&] {
        ++nestedLoads;
        f.Refresh1Click();
    });
    f.Refresh1Click();
    QApplication::processEvents();
    EXPECT_EQ(nestedLoads, 1);
    EXPECT_EQ(f.Files.Count, 3);
    EXPECT_EQ(column(0), (std::vector<QString>{"a.mp3", "b.mp3", "c.mp3"}));
    EXPECT_EQ(f.sg->Cells(0, 4), QString());
}

TEST_F(Unit1Test, MissingDefdirAndGarbageIniStartInTheExecutableFolderAndKeepLines)
{
    const std::string garbage = "\xff\xfe garbage\n[women\nnot a key line\n";
    writeFile(appDir.file("tag.ini"), garbage + "[women]\ndefdir=" + music.file("gone") + "\ntagv=1\n");
    TForm1& f = start();
    EXPECT_EQ(f.dl->Directory(), q(appDir.path()));
    EXPECT_TRUE(f.v1btn->isChecked());
    f.v2btn->trigger();
    EXPECT_EQ(ini(), garbage + "[women]\ndefdir=" + appDir.path() + "\ntagv=2\n");
}

TEST_F(Unit1Test, ViewSwitchAsksBeforeDiscardingEditsWhenMovemsgIsOn)
{
    const Tag v1 = simpleTag("one-v1");
    const Tag v2 = simpleTag("one-v2");
    mp3("one.mp3", &v1, &v2);
    writeIni("movemsg=1\n");
    TForm1& f = start();
    typeInto(1, 1, QStringLiteral("typed"));
    ASSERT_TRUE(f.Edited);

    {
        BoxAnswerer no(kNo);
        f.v2btn->trigger();
        ASSERT_TRUE(no.seen);
        EXPECT_EQ(no.title, QStringLiteral("確認"));
        EXPECT_EQ(no.text, QStringLiteral("編集内容を破棄しますか？"));
        EXPECT_EQ(no.buttons, QStringList({kYes, kNo}));
    }
    EXPECT_TRUE(f.v1btn->isChecked());
    EXPECT_FALSE(f.v2btn->isChecked());
    EXPECT_EQ(f.sg->Cells(1, 1), "typed");
    EXPECT_TRUE(f.Edited);
    EXPECT_EQ(ini().find("tagv"), std::string::npos);

    {
        BoxAnswerer yes(kYes);
        f.v2btn->trigger();
        EXPECT_TRUE(yes.seen);
    }
    EXPECT_FALSE(f.v1btn->isChecked());
    EXPECT_TRUE(f.v2btn->isChecked());
    EXPECT_EQ(f.sg->Cells(1, 1), "one-v2");
    EXPECT_FALSE(f.Edited);
    EXPECT_NE(ini().find("tagv=2\n"), std::string::npos);
}

TEST_F(Unit1Test, ClickingTheShownViewReloadsWithoutAskingWhenMovemsgIsOff)
{
    const Tag v1 = simpleTag("one-v1");
    mp3("one.mp3", &v1);
    writeIni("movemsg=0\n");
    TForm1& f = start();
    typeInto(1, 1, QStringLiteral("typed"));
    BoxAnswerer watcher(kNo);
    f.v1btn->trigger(); // already down: unchecks itself, then the handler puts it back
    EXPECT_FALSE(watcher.seen);
    EXPECT_TRUE(f.v1btn->isChecked());
    EXPECT_FALSE(f.v2btn->isChecked());
    EXPECT_EQ(f.sg->Cells(1, 1), "one-v1");
    EXPECT_FALSE(f.Edited);
    EXPECT_NE(ini().find("tagv=1\n"), std::string::npos);
}

TEST_F(Unit1Test, FolderChangeAsksOnlyWithMovemsgAndPendingEdits)
{
    std::filesystem::create_directory(music.file("a"));
    std::filesystem::create_directory(music.file("b"));
    const Tag ta = simpleTag("in a");
    const Tag tb = simpleTag("in b");
    mp3("a/x.mp3", &ta);
    mp3("b/y.mp3", &tb);
    writeFile(appDir.file("tag.ini"), "[women]\nmovemsg=1\ndefdir=" + music.file("a") + "\n");
    TForm1& f = start();
    ASSERT_EQ(f.sg->Cells(1, 1), "in a");

    // No pending edits: no question.
    {
        BoxAnswerer watcher(kNo);
        ASSERT_TRUE(f.dl->SetDirectory(q(music.file("b"))));
        EXPECT_FALSE(watcher.seen);
        ASSERT_TRUE(f.dl->SetDirectory(q(music.file("a"))));
    }

    typeInto(1, 1, QStringLiteral("edited"));
    {
        BoxAnswerer no(kNo);
        EXPECT_FALSE(f.dl->SetDirectory(q(music.file("b"))));
        ASSERT_TRUE(no.seen);
        EXPECT_EQ(no.title, QStringLiteral("確認"));
        EXPECT_EQ(no.text, QStringLiteral("編集内容を破棄して移動しますか？"));
    }
    EXPECT_EQ(f.dl->Directory(), q(music.file("a")));
    EXPECT_EQ(f.sg->Cells(1, 1), "edited");
    EXPECT_TRUE(f.Edited);

    // A refused click leaves the old folder both current and highlighted.
    {
        auto* model = qobject_cast<QFileSystemModel*>(f.dlView->model());
        ASSERT_NE(model, nullptr);
        const QModelIndex b = model->index(q(music.file("b")));
        const QRect where = f.dlView->visualRect(b);
        ASSERT_FALSE(where.isEmpty());
        BoxAnswerer no(kNo);
        QTest::mouseClick(f.dlView->viewport(), Qt::LeftButton, {}, where.center());
        EXPECT_TRUE(no.seen);
        EXPECT_EQ(f.dl->Directory(), q(music.file("a")));
        const QModelIndexList highlighted = f.dlView->selectionModel()->selectedIndexes();
        ASSERT_EQ(highlighted.size(), 1);
        EXPECT_EQ(model->filePath(highlighted.first()), q(music.file("a")));
        EXPECT_EQ(f.sg->Cells(1, 1), "edited");
    }

    {
        BoxAnswerer yes(kYes);
        EXPECT_TRUE(f.dl->SetDirectory(q(music.file("b"))));
        EXPECT_TRUE(yes.seen);
    }
    EXPECT_EQ(f.sg->Cells(1, 1), "in b");
    EXPECT_FALSE(f.Edited);
    EXPECT_NE(ini().find("defdir=" + music.file("b") + "\n"), std::string::npos);

    // With the confirmation off, pending edits never stop a folder change.
    f.IniFile->WriteBool("women", "movemsg", false);
    typeInto(1, 1, QStringLiteral("edited again"));
    BoxAnswerer watcher(kNo);
    EXPECT_TRUE(f.dl->SetDirectory(q(music.file("a"))));
    EXPECT_FALSE(watcher.seen);
    EXPECT_EQ(f.sg->Cells(1, 1), "in a");
}

TEST_F(Unit1Test, ReloadDiscardsEditsWithoutAskingAndKeepsEdited)
{
    const Tag t = simpleTag("on disk");
    mp3("one.mp3", &t);
    writeIni("movemsg=1\n");
    TForm1& f = start();
    typeInto(1, 1, QStringLiteral("typed"));
    BoxAnswerer watcher(kNo);
    f.Refresh1->trigger();
    EXPECT_FALSE(watcher.seen);
    EXPECT_EQ(f.sg->Cells(1, 1), "on disk");
    EXPECT_TRUE(f.Edited);
}

TEST_F(Unit1Test, ParentFolderButtonGoesUpOneFolderAndStopsAtTheRoot)
{
    std::filesystem::create_directories(music.file("sub/deeper"));
    const Tag t = simpleTag("top");
    mp3("top.mp3", &t);
    writeFile(appDir.file("tag.ini"), "[women]\ndefdir=" + music.file("sub/deeper") + "\n");
    TForm1& f = start();
    ASSERT_EQ(f.dl->Directory(), q(music.file("sub/deeper")));
    f.ToolButton1->trigger();
    EXPECT_EQ(f.dl->Directory(), q(music.file("sub")));
    f.ToolButton1->trigger();
    EXPECT_EQ(f.dl->Directory(), q(music.path()));
    EXPECT_EQ(f.fl.Directory(), music.path());
    EXPECT_EQ(f.sg->Cells(1, 1), "top");
    EXPECT_NE(ini().find("defdir=" + music.path() + "\n"), std::string::npos);

    ASSERT_TRUE(f.dl->SetDirectory(QStringLiteral("/")));
    f.ToolButton1->trigger();
    EXPECT_EQ(f.dl->Directory(), QStringLiteral("/"));
}

TEST_F(Unit1Test, ResizeSetsColumnWidthsAndAddsARowEachTime)
{
    for (const char* name : {"a.mp3", "b.mp3", "c.mp3"})
        mp3(name);
    writeIni("");
    TForm1& f = start();
    const std::pair<int, int> sizes[] = {{800, 600}, {810, 600}, {640, 300}, {1000, 700}};
    for (const auto& [width, height] : sizes) {
        const int rowsBefore = f.sg->RowCount();
        f.resize(width, height);
        QApplication::processEvents();
        const int gridWidth = f.sg->width();
        const int minimumRows = f.sg->height() / 16 + 1;
        for (int col = 0; col < 7; ++col)
            EXPECT_EQ(f.sg->ColWidths(col), gridWidth / 8) << width << " col " << col;
        EXPECT_EQ(f.sg->ColWidths(7), gridWidth - (gridWidth / 8 * 7 + 27)) << width;
        EXPECT_EQ(f.sg->RowCount(), std::max(rowsBefore, minimumRows) + 1) << width;
        const int tenth = f.sb1->width() / 10;
        EXPECT_EQ(f.PanelWidth(0), tenth * 2);
        EXPECT_EQ(f.PanelWidth(2), tenth * 2);
        EXPECT_EQ(f.PanelWidth(3), tenth * 4);
        EXPECT_EQ(f.pb->parentWidget(), f.sb1);
        EXPECT_EQ(f.pb->x(), tenth * 6 + 3);
        EXPECT_EQ(f.pb->width(), tenth * 4 + 3);
        EXPECT_EQ(f.Files.Count, 3);
        EXPECT_EQ(f.sg->Cells(0, 3), "c.mp3");
    }

    // A splitter move sets the widths again but adds no row.
    const int rows = f.sg->RowCount();
    f.Splitter1->setSizes({300, 600});
    f.Splitter1Moved();
    EXPECT_EQ(f.sg->ColWidths(0), f.sg->width() / 8);
    EXPECT_EQ(f.sg->RowCount(), std::max(rows, f.sg->height() / 16 + 1));
}

TEST_F(Unit1Test, ApplyWritesChangedRowsOnlyAndReportsInTheStatusBar)
{
    const Tag ta = simpleTag("abc");
    const std::string a = mp3("a.mp3", &ta);
    const std::string b = mp3("b.mp3", &ta);
    const std::string c = mp3("c.mp3", &ta);
    writeIni("");
    TForm1& f = start();
    const std::string aBefore = readFile(a);
    const std::string cBefore = readFile(c);

    typeInto(1, 2, QStringLiteral("ABC")); // letter case alone is a change
    f.sg->SetCells(4, 3, QStringLiteral("1999"));  // same text: no change
    ASSERT_TRUE(f.Edited);
    QString statusWhileWriting;
    QTimer::singleShot(0, &f, [&] { statusWhileWriting = f.PanelText(2); });
    f.Apply1->trigger();
    EXPECT_EQ(statusWhileWriting, QStringLiteral("編集内容書込中"));
    EXPECT_EQ(f.PanelText(2), QStringLiteral("書込終了"));
    EXPECT_FALSE(f.Edited);
    EXPECT_EQ(f.pb->value(), 0);
    EXPECT_EQ(f.pb->maximum(), 300);
    EXPECT_EQ(readTag(b, TTagView::ID3v1).title, "ABC");
    EXPECT_EQ(readFile(a), aBefore);
    EXPECT_EQ(readFile(c), cBefore);
    EXPECT_EQ(f.Files.Items[1].Texts[tcTitle].bytes, "ABC");

    // A second apply without edits touches nothing.
    const std::string bAfter = readFile(b);
    setModificationTime(b, 1000000000);
    f.ToolButton2->trigger();
    EXPECT_EQ(readFile(b), bAfter);
    EXPECT_EQ(modificationTime(b), 1000000000);
    EXPECT_EQ(testsupport::listFolder(music.path()), (std::vector<std::string>{"a.mp3", "b.mp3", "c.mp3"}));
}

TEST_F(Unit1Test, ApplyRenamesAfterWritingAndKeepsTimesWhenAsked)
{
    const Tag t = simpleTag("old");
    const std::string a = mp3("a.mp3", &t);
    const std::string b = mp3("b.mp3", &t);
    const std::string c = mp3("c.mp3", &t);
    for (const std::string& path : {a, b, c})
        setModificationTime(path, 1000000000);
    writeIni("datechg=1\n");
    TForm1& f = start();
    ASSERT_TRUE(f.KeepDate);
    const std::string aBytes = readFile(a);

    f.sg->SetCells(0, 1, QStringLiteral("renamed.mp3"));   // name only
    f.sg->SetCells(0, 2, QStringLiteral("新しい名前.mp3")); // name and title
    f.sg->SetCells(1, 2, QStringLiteral("新しい曲名"));
    f.sg->SetCells(1, 3, QStringLiteral("title only"));
    f.ToolButton2Click();

    EXPECT_EQ(testsupport::listFolder(music.path()),
              (std::vector<std::string>{"c.mp3", "renamed.mp3", "新しい名前.mp3"}));
    EXPECT_EQ(readFile(music.file("renamed.mp3")), aBytes);
    EXPECT_EQ(modificationTime(music.file("renamed.mp3")), 1000000000);
    EXPECT_EQ(readTag(music.file("新しい名前.mp3"), TTagView::ID3v1).title,
              morvik::utf8ToCp932("新しい曲名").bytes);
    EXPECT_EQ(modificationTime(music.file("新しい名前.mp3")), 1000000000);
    EXPECT_EQ(readTag(c, TTagView::ID3v1).title, "title only");
    EXPECT_EQ(modificationTime(c), 1000000000);
    EXPECT_EQ(f.Files.Items[0].Path, music.file("renamed.mp3"));
    EXPECT_EQ(f.Files.Items[1].Path, music.file("新しい名前.mp3"));

    // Without "datechg" a write moves the time on.
    f.KeepDate = false;
    f.sg->SetCells(1, 3, QStringLiteral("again"));
    f.ToolButton2Click();
    EXPECT_GT(modificationTime(c), 1000000000);
}

TEST_F(Unit1Test, RenamesNeverReplaceFilesNorLeaveTheFolder)
{
    for (const char* name : {"a.mp3", "b.mp3", "c.mp3", "d.mp3", "e.mp3", "f.mp3", "g.mp3"})
        mp3(name);
    writeFile(music.file("other.txt"), "not an mp3");
    std::filesystem::create_directory(music.file("sub"));
    writeIni("");
    TForm1& f = start();
    ASSERT_EQ(f.Files.Count, 7);
    const std::string bBytes = readFile(music.file("b.mp3"));

    const QString names[] = {"same.mp3", "same.mp3", "other.txt", "", "sub/escaped.mp3", "..",
                             QStringLiteral("nul") + QChar(0) + QStringLiteral(".mp3")};
    for (int row = 1; row <= 7; ++row)
        f.sg->SetCells(0, row, names[row - 1]);
    f.ToolButton2Click();

    EXPECT_EQ(testsupport::listFolder(music.path()),
              (std::vector<std::string>{"b.mp3", "c.mp3", "d.mp3", "e.mp3", "f.mp3", "g.mp3", "other.txt",
                                        "same.mp3", "sub"}));
    EXPECT_TRUE(testsupport::listFolder(music.file("sub")).empty());
    EXPECT_EQ(readFile(music.file("other.txt")), "not an mp3");
    EXPECT_EQ(readFile(music.file("b.mp3")), bBytes);
    EXPECT_EQ(f.Files.Items[0].Path, music.file("same.mp3"));
    EXPECT_EQ(f.Files.Items[1].Path, music.file("b.mp3"));
    EXPECT_EQ(f.Files.Items[2].Path, music.file("c.mp3"));
    EXPECT_EQ(f.PanelText(2), QStringLiteral("書込終了（名前変更失敗 6 件）"));
}

TEST_F(Unit1Test, WritingAnUntaggedRowTwiceAppendsOneRecord)
{
    const std::string path = mp3("plain.mp3");
    const std::size_t size = readFile(path).size();
    writeIni("");
    TForm1& f = start();
    ASSERT_EQ(f.Files.Items[0].HasTag, 0);

    f.sg->SetCells(1, 1, QStringLiteral("first"));
    f.ToolButton2Click();
    EXPECT_EQ(readFile(path).size(), size + 128);
    EXPECT_EQ(f.Files.Items[0].HasTag, 1);
    f.sg->SetCells(1, 1, QStringLiteral("second"));
    f.ToolButton2Click();
    EXPECT_EQ(readFile(path).size(), size + 128);
    EXPECT_EQ(readTag(path, TTagView::ID3v1).title, "second");
}

TEST_F(Unit1Test, RowsBelowTheLoadedFilesAreNeverWritten)
{
    const std::string path = mp3("only.mp3");
    writeIni("");
    TForm1& f = start();
    const std::string before = readFile(path);
    for (int col = 0; col < 8; ++col)
        f.sg->SetCells(col, 3, QStringLiteral("x.mp3"));
    f.ToolButton2Click();
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(testsupport::listFolder(music.path()), std::vector<std::string>{"only.mp3"});
}

TEST_F(Unit1Test, ACellShiftJisCannotHoldStopsTheApplyBeforeItsFile)
{
    const Tag t = simpleTag("old");
    const std::string a = mp3("a.mp3", &t);
    const std::string b = mp3("b.mp3", &t);
    mp3("c.mp3", &t);
    writeIni("");
    TForm1& f = start();
    const std::string bBefore = readFile(b);
    f.sg->SetCells(1, 1, QStringLiteral("new a"));
    f.sg->SetCells(1, 2, QStringLiteral("smile \U0001F600"));
    f.sg->SetCells(0, 3, QStringLiteral("c2.mp3"));
    f.Edited = true;

    BoxAnswerer ok(QString{});
    f.ToolButton2Click();
    ASSERT_TRUE(ok.seen);
    EXPECT_EQ(ok.title, QStringLiteral("Morvik"));
    EXPECT_TRUE(ok.text.contains(q(b))) << ok.text.toStdString();
    EXPECT_TRUE(ok.text.contains(QStringLiteral("\U0001F600"))) << ok.text.toStdString();
    EXPECT_EQ(readTag(a, TTagView::ID3v1).title, "new a");
    EXPECT_EQ(readFile(b), bBefore);
    EXPECT_TRUE(fileExists(music.file("c.mp3"))); // the name pass did not run
    EXPECT_TRUE(f.Edited);
    EXPECT_EQ(f.PanelText(2), QString()) << "back at rest";
    EXPECT_EQ(f.pb->value(), 0);
}

// A refused track and a writer error stop the apply with a box in Japanese
// naming the file; the status and the bar return to rest.
TEST_F(Unit1Test, AWriterErrorStopsTheApplyWithTheErrorBox)
{
    struct Case {
        const char* what;
        QString track;
        bool changeFileAfterLoad;
        QString why;
    };
    const Case cases[] = {
        {"a refused track", QStringLiteral("abc"), false,
         QStringLiteral("トラック番号「abc」は0 から 255 までの数、または「2/12」の形ではありません。")},
        {"a record no longer where it was read", QStringLiteral("4"), true,
         QStringLiteral("読み込んだ位置に ID3v1 タグがありません。")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Tag t = simpleTag("old");
        const std::string a = mp3("a.mp3", &t);
        const std::string b = mp3("b.mp3", &t);
        writeIni("");
        TForm1& f = start();
        if (c.changeFileAfterLoad)
            writeFile(a, "moved" + readFile(a));
        const std::string before = readFile(a);
        f.sg->SetCells(6, 1, c.track);
        f.sg->SetCells(1, 2, QStringLiteral("not reached"));
        f.Edited = true;
        BoxAnswerer ok(QString{});
        f.ToolButton2Click();
        ASSERT_TRUE(ok.seen);
        EXPECT_EQ(ok.title, QStringLiteral("Morvik"));
        EXPECT_TRUE(ok.text.startsWith(q(a) + QStringLiteral(" に書き込めません: "))) << ok.text.toStdString();
        EXPECT_TRUE(ok.text.contains(c.why)) << ok.text.toStdString();
        EXPECT_EQ(readFile(a), before);
        EXPECT_EQ(readTag(b, TTagView::ID3v1).title, "old");
        EXPECT_EQ(f.PanelText(2), QString());
        EXPECT_EQ(f.pb->value(), 0);
        EXPECT_TRUE(f.Edited);
        form.reset();
        std::filesystem::remove(a);
        std::filesystem::remove(b);
    }
}

TEST_F(Unit1Test, BytesThatAreNotShiftJisSurviveAnApplyOfAnotherField)
{
    const std::string badTitle = "ok\x82\xff" "end\xa0";
    Tag t = simpleTag(badTitle);
    t.comment = "\x81";
    t.year = "99"; // read back with its 0x00 padding
    // The file name is not UTF-8 either: the unchanged name cell must not
    // rename it.
    const std::string path = mp3("raw\xff.mp3", &t);
    writeIni("");
    TForm1& f = start();
    EXPECT_TRUE(f.sg->Cells(1, 1).startsWith(QStringLiteral("ok")));
    EXPECT_TRUE(f.sg->Cells(1, 1).contains(QChar::ReplacementCharacter));
    EXPECT_EQ(f.sg->Cells(4, 1), QStringLiteral("99"));
    EXPECT_EQ(f.Files.Items[0].Texts[tcYear].bytes, std::string("99\0\0", 4));

    f.sg->SetCells(2, 1, QStringLiteral("新しいアーティスト"));
    f.ToolButton2Click();
    const Tag after = readTag(path, TTagView::ID3v1);
    EXPECT_EQ(after.title, badTitle);
    EXPECT_EQ(after.artist, morvik::utf8ToCp932("新しいアーティスト").bytes);
    EXPECT_EQ(after.comment.substr(0, 1), "\x81");
    EXPECT_EQ(testsupport::listFolder(music.path()), std::vector<std::string>{"raw\xff.mp3"});
    EXPECT_EQ(f.PanelText(2), QStringLiteral("書込終了"));
}

TEST_F(Unit1Test, Id3v2ViewWritesTheId3v2TagAndLeavesId3v1Alone)
{
    const Tag v1 = simpleTag("v1 title");
    const Tag v2 = simpleTag("v2 title");
    const std::string path = mp3("both.mp3", &v1, &v2);
    writeIni("tagv=2\n");
    TForm1& f = start();
    ASSERT_EQ(f.sg->Cells(1, 1), "v2 title");
    f.sg->SetCells(1, 1, QStringLiteral("日本語の曲名"));
    f.sg->SetCells(7, 1, QStringLiteral("Jazz"));
    f.ToolButton2Click();
    const Tag after = readTag(path, TTagView::ID3v2);
    EXPECT_EQ(after.title, morvik::utf8ToCp932("日本語の曲名").bytes);
    EXPECT_EQ(after.genre, "Jazz");
    EXPECT_EQ(readTag(path, TTagView::ID3v1).title, "v1 title");
    f.Refresh1Click();
    EXPECT_EQ(f.sg->Cells(1, 1), QStringLiteral("日本語の曲名"));
}



// ---- applying as a user sees it ---------------------------------------------

std::string ffprobeTrack(const std::string& path)
{
    return run("ffprobe -loglevel error -show_entries format_tags=track -of default=nw=1:nk=1 " + shellQuote(path))
        .output;
}

// ffmpeg writes "track 2 of 12" as "2/12": the row is written as it stands
// and the rename after it is made; in the ID3v1 view "2/12" writes 2.
TEST_F(Unit1Test, TrackNOfMIsWrittenAndTheApplyGoesOnToTheRenames)
{
    writeFile(music.file("tone.mp3"), toneMp3(0.1));
    ASSERT_EQ(run("ffmpeg -nostdin -loglevel error -i " + shellQuote(music.file("tone.mp3")) +
                  " -c copy -metadata title=Sora -metadata track=2/12 " + shellQuote(music.file("a.mp3")))
                  .status,
              0);
    std::filesystem::rename(music.file("tone.mp3"), music.file("b.mp3"));
    writeIni("tagv=2\n");
    TForm1& f = start();
    ASSERT_EQ(f.Files.Count, 2);
    EXPECT_EQ(f.sg->Cells(6, 1), QStringLiteral("2/12"));
    typeInto(1, 1, QStringLiteral("Umi"));
    f.sg->SetCells(0, 2, QStringLiteral("renamed.mp3"));
    f.ToolButton2Click();
    EXPECT_EQ(f.PanelText(2), QStringLiteral("書込終了"));
    EXPECT_FALSE(f.Edited);
    EXPECT_EQ(testsupport::listFolder(music.path()), (std::vector<std::string>{"a.mp3", "renamed.mp3"}));
    EXPECT_EQ(readTag(music.file("a.mp3"), TTagView::ID3v2).title, "Umi");
    EXPECT_EQ(ffprobeTrack(music.file("a.mp3")), "2/12\n");

    f.v1btn->trigger();
    f.sg->SetCells(6, 1, QStringLiteral("2/12"));
    f.ToolButton2Click();
    EXPECT_EQ(f.sg->Cells(6, 1), QStringLiteral("2")) << "the record holds one byte";
    EXPECT_EQ(readTag(music.file("a.mp3"), TTagView::ID3v1).track, "2");
}

// A failed write or rename is counted in the status; the apply goes on and
// the name cell keeps the new name for the next apply.
TEST_F(Unit1Test, TheStatusCountsFilesThatCouldNotBeWrittenOrRenamed)
{
    const Tag t = simpleTag("old");
    for (const char* name : {"a.mp3", "b.mp3", "c.mp3"})
        mp3(name, &t);
    writeIni("");
    TForm1& f = start();
    f.sg->SetCells(0, 1, QStringLiteral("c.mp3"));
    f.ToolButton2Click();
    EXPECT_EQ(f.PanelText(2), QStringLiteral("書込終了（名前変更失敗 1 件）"));
    EXPECT_EQ(f.sg->Cells(0, 1), QStringLiteral("c.mp3"));
    EXPECT_EQ(f.Files.Items[0].Path, music.file("a.mp3"));

    testsupport::ReadOnlyBind readOnly(music.file("b.mp3"));
    if (!readOnly.error().empty())
        GTEST_SKIP() << readOnly.error();
    const std::string bBefore = readFile(music.file("b.mp3"));
    f.sg->SetCells(1, 2, QStringLiteral("cannot"));
    f.sg->SetCells(1, 3, QStringLiteral("can"));
    f.ToolButton2Click();
    EXPECT_EQ(f.PanelText(2), QStringLiteral("書込終了（書込失敗 1 件・名前変更失敗 1 件）"));
    EXPECT_EQ(f.sbPanels[2]->toolTip(), f.PanelText(2)) << "the panel is too narrow for the whole text";
    EXPECT_EQ(readFile(music.file("b.mp3")), bBefore);
    EXPECT_EQ(readTag(music.file("c.mp3"), TTagView::ID3v1).title, "can");
    EXPECT_EQ(f.pb->value(), 0);

    f.sg->SetCells(0, 1, QStringLiteral("a.mp3"));
    f.sg->SetCells(1, 2, QStringLiteral("old"));
    f.ToolButton2Click();
    EXPECT_EQ(f.PanelText(2), QStringLiteral("書込終了"));
}

// In the ID3v1 view the cells show what the record holds after an apply,
// and a second apply writes nothing.
TEST_F(Unit1Test, Id3v1CellsShowTheTextsAsWritten)
{
    const Tag t = simpleTag("old");
    const std::string path = mp3("a.mp3", &t);
    writeIni("");
    TForm1& f = start();
    const QString title40 = QStringLiteral("0123456789012345678901234567890123456789");
    typeInto(1, 1, title40);
    f.sg->SetCells(2, 1, QStringLiteral("アーティストの名前がとても長い曲"));
    f.ToolButton2Click();
    EXPECT_EQ(f.sg->Cells(1, 1), title40.left(30));
    EXPECT_EQ(f.sg->Cells(2, 1), QStringLiteral("アーティストの名前がとても長い")) << "15 of 16 characters fit";
    EXPECT_FALSE(f.Edited);
    const std::string written = readFile(path);
    setModificationTime(path, 1000000000);
    f.ToolButton2Click();
    EXPECT_EQ(readFile(path), written);
    EXPECT_EQ(modificationTime(path), 1000000000);
    f.Refresh1Click();
    EXPECT_EQ(f.sg->Cells(1, 1), title40.left(30));
}

TEST_F(Unit1Test, AnEmptyFileAppliedTwiceHoldsOneRecord)
{
    writeFile(music.file("empty.mp3"), "");
    writeIni("");
    TForm1& f = start();
    f.sg->SetCells(1, 1, QStringLiteral("first"));
    f.ToolButton2Click();
    f.sg->SetCells(1, 1, QStringLiteral("second"));
    f.ToolButton2Click();
    EXPECT_EQ(readFile(music.file("empty.mp3")).size(), 128u);
    f.Refresh1Click();
    EXPECT_EQ(f.sg->Cells(1, 1), QStringLiteral("second"));
}

TEST_F(Unit1Test, ShiftJisFileNamesShowDecodedAndStayAsTheyAre)
{
    const Tag t = simpleTag("old");
    mp3("\x8b\xc8\x96\xbc.mp3", &t); // 曲名.mp3 from an old Windows volume
    writeIni("");
    TForm1& f = start();
    EXPECT_EQ(f.sg->Cells(0, 1), QStringLiteral("曲名.mp3"));
    f.sg->SetCells(1, 1, QStringLiteral("new"));
    f.ToolButton2Click();
    EXPECT_EQ(testsupport::listFolder(music.path()), std::vector<std::string>{"\x8b\xc8\x96\xbc.mp3"});
    EXPECT_EQ(readTag(music.file("\x8b\xc8\x96\xbc.mp3"), TTagView::ID3v1).title, "new");
}

TEST_F(Unit1Test, AnEmptyFolderLeavesTheProgressBarIdle)
{
    writeIni("");
    TForm1& f = start();
    ASSERT_EQ(f.Files.Count, 0);
    EXPECT_GT(f.pb->maximum(), f.pb->minimum()) << "a range of 0 to 0 shows the bar busy";
    EXPECT_EQ(f.pb->value(), 0);
    f.ToolButton2Click();
    EXPECT_GT(f.pb->maximum(), f.pb->minimum());
    EXPECT_EQ(f.pb->value(), 0);
    EXPECT_EQ(f.PanelText(2), QStringLiteral("書込終了"));
}

TEST_F(Unit1Test, ClosingWithPendingEditsAsksWhenMovemsgIsOn)
{
    const Tag t = simpleTag("old");
    mp3("a.mp3", &t);
    for (const bool movemsg : {true, false}) {
        SCOPED_TRACE(movemsg);
        writeIni(movemsg ? "movemsg=1\n" : "");
        TForm1& f = start();
        typeInto(1, 1, QStringLiteral("pending"));
        ASSERT_TRUE(f.Edited);
        if (movemsg) {
            BoxAnswerer no(kNo);
            EXPECT_FALSE(f.close());
            ASSERT_TRUE(no.seen);
            EXPECT_EQ(no.text, QStringLiteral("編集内容を破棄しますか？"));
            EXPECT_EQ(no.buttons, QStringList({kYes, kNo}));
            EXPECT_TRUE(f.isVisible());
            BoxAnswerer yes(kYes);
            EXPECT_TRUE(f.close());
            EXPECT_TRUE(yes.seen);
        } else {
            EXPECT_TRUE(f.close()) << "no box: the watchdog fails one";
        }
        EXPECT_FALSE(f.isVisible());
        form.reset();
    }
    // Without pending edits it never asks.
    writeIni("movemsg=1\n");
    EXPECT_TRUE(start().close());
}

// The window opens where it was left: size, position, maximised state and
// splitter, written once a change has settled.
TEST_F(Unit1Test, TheWindowOpensAsItWasLeft)
{
    writeIni("");
    {
        TForm1& f = start();
        EXPECT_EQ(f.size(), QSize(597, 423)) << "the design size on the first start";
        f.setGeometry(40, 50, 700, 500);
        f.Splitter1->setSizes({250, 447});
        f.Splitter1Moved();
        EXPECT_TRUE(QTest::qWaitFor([&] { return ini().find("splitter=250") != std::string::npos; }, 5000)) << ini();
        EXPECT_NE(ini().find("formwidth=700\n"), std::string::npos) << ini();
        form.reset();
    }
    {
        TForm1& f = start();
        EXPECT_EQ(f.geometry(), QRect(40, 50, 700, 500));
        EXPECT_EQ(f.Splitter1->sizes().value(0), 250);
        f.showMaximized();
        EXPECT_TRUE(QTest::qWaitFor([&] { return ini().find("formmax=1") != std::string::npos; }, 5000)) << ini();
        form.reset();
    }
    TForm1& f = start();
    EXPECT_TRUE(f.isMaximized());
    EXPECT_EQ(f.normalGeometry(), QRect(40, 50, 700, 500));
    EXPECT_EQ(f.Splitter1->sizes().value(0), 250);
}

// The cell commands: a folder of files whose titles and artists are
// t1, a1, t2, a2, …
class CellCommandsTest : public Unit1Test {
protected:
    TForm1& startWith(int files, const std::string& iniLines = "")
    {
        for (int i = 1; i <= files; ++i) {
            Tag t = simpleTag("t" + std::to_string(i));
            t.artist = "a" + std::to_string(i);
            mp3("f" + std::to_string(100 + i) + ".mp3", &t);
        }
        writeIni(iniLines);
        TForm1& f = start();
        f.activateWindow();
        f.sg->setFocus();
        return f;
    }

    void click(int col, int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::mouseClick(form->sg->viewport(), Qt::LeftButton, modifiers, form->sg->CellRect(col, row).center());
    }

    static QString clipboard() { return QApplication::clipboard()->text(); }
    static void setClipboard(const QString& text) { QApplication::clipboard()->setText(text); }

    // The highlighted cells as a rectangle (left, top, right, bottom) in grid
    // numbering, or all -1 when they are not one rectangle.
    CellRect highlighted() const
    {
        const QModelIndexList cells = form->sg->selectionModel()->selectedIndexes();
        if (cells.isEmpty())
            return {-1, -1, -1, -1};
        CellRect r{cells[0].column(), cells[0].row() + 1, cells[0].column(), cells[0].row() + 1};
        for (const QModelIndex& cell : cells) {
            r.left = std::min(r.left, cell.column());
            r.right = std::max(r.right, cell.column());
            r.top = std::min(r.top, cell.row() + 1);
            r.bottom = std::max(r.bottom, cell.row() + 1);
        }
        const qsizetype area = static_cast<qsizetype>(r.right - r.left + 1) * (r.bottom - r.top + 1);
        return area == cells.size() ? r : CellRect{-1, -1, -1, -1};
    }
};

TEST_F(CellCommandsTest, ClicksAndShiftMovesSetTheAnchorAndExtendTheRectangle)
{
    TForm1& f = startWith(5);
    // Before any move the anchor is the first data cell.
    EXPECT_EQ(f.AnchorCol, 0);
    EXPECT_EQ(f.AnchorRow, 1);

    click(1, 2);
    EXPECT_EQ(std::make_pair(f.AnchorCol, f.AnchorRow), std::make_pair(1, 2));
    EXPECT_EQ(highlighted(), (CellRect{1, 2, 1, 2}));
    click(3, 4, Qt::ShiftModifier);
    EXPECT_EQ(std::make_pair(f.AnchorCol, f.AnchorRow), std::make_pair(1, 2));
    EXPECT_EQ(highlighted(), (CellRect{1, 2, 3, 4}));

    // Shift with arrow keys extends from the last cell reached without it,
    // on either side of the anchor.
    QTest::keyClick(f.sg, Qt::Key_Up);
    EXPECT_EQ(std::make_pair(f.AnchorCol, f.AnchorRow), std::make_pair(3, 3));
    QTest::keyClick(f.sg, Qt::Key_Up, Qt::ShiftModifier);
    QTest::keyClick(f.sg, Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClick(f.sg, Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_EQ(std::make_pair(f.AnchorCol, f.AnchorRow), std::make_pair(3, 3));
    EXPECT_EQ(highlighted(), (CellRect{1, 2, 3, 3}));
    QTest::keyClick(f.sg, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(f.sg, Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(highlighted(), (CellRect{1, 3, 3, 4}));
    f.Copy1->trigger();
    EXPECT_EQ(clipboard(), QStringLiteral("t3,a3,Album\r\nt4,a4,Album"));
    QTest::keyClick(f.sg, Qt::Key_Right);
    EXPECT_EQ(std::make_pair(f.AnchorCol, f.AnchorRow), std::make_pair(2, 4));
    EXPECT_EQ(highlighted(), (CellRect{2, 4, 2, 4}));
}

TEST_F(CellCommandsTest, CopyAndPasteBlocksThroughTheClipboardAndUndoThem)
{
    TForm1& f = startWith(4);
    click(1, 1);
    click(2, 2, Qt::ShiftModifier);
    QTest::keyClick(f.sg, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard(), QStringLiteral("t1,a1\r\nt2,a2"));
    EXPECT_FALSE(f.Edited);

    struct Case {
        const char* name;
        QString clip;
        std::vector<std::tuple<int, int, QString>> cells; // col, row, text after
    };
    const Case cases[] = {
        {"block at an offset", "p,q\r\ns", {{2, 3, "p"}, {3, 3, "q"}, {2, 4, "s"}, {3, 4, "Album"}}},
        {"trailing CR LF empties the next row's first cell", "p\r\n", {{2, 3, "p"}, {2, 4, ""}, {3, 3, "Album"}}},
        {"a comma splits a field", "x,y", {{2, 3, "x"}, {3, 3, "y"}, {2, 4, "a4"}}},
        {"lone LF dropped, lone CR kept", "l\nf\rc,z", {{2, 3, "lf\rc"}, {3, 3, "z"}}},
        {"rows below the last file are dropped", "1\r\n2\r\n3\r\n4", {{2, 3, "1"}, {2, 4, "2"}, {2, 5, ""}}},
    };
    for (const Case& c : cases) {
        click(2, 3);
        setClipboard(c.clip);
        QTest::keyClick(f.sg, Qt::Key_V, Qt::ControlModifier);
        for (const auto& [col, row, text] : c.cells)
            EXPECT_EQ(f.sg->Cells(col, row), text) << c.name << " (" << col << "," << row << ")";
        EXPECT_TRUE(f.Edited) << c.name;
        // Undo puts every cell back; the grid is as loaded again.
        f.Undo1->trigger();
        EXPECT_EQ(column(2), (std::vector<QString>{"a1", "a2", "a3", "a4"})) << c.name;
        EXPECT_EQ(column(3), std::vector<QString>(4, "Album")) << c.name;
        EXPECT_FALSE(f.Edited) << c.name;
        // Redo does it again.
        QTest::keyClick(f.sg, Qt::Key_Y, Qt::ControlModifier);
        for (const auto& [col, row, text] : c.cells)
            EXPECT_EQ(f.sg->Cells(col, row), text) << c.name << " redo (" << col << "," << row << ")";
        EXPECT_TRUE(f.Edited) << c.name;
        QTest::keyClick(f.sg, Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(column(2), (std::vector<QString>{"a1", "a2", "a3", "a4"})) << c.name;
    }
    EXPECT_FALSE(f.Redo1->isEnabled() && f.Undo1->isEnabled());

    // A single value fills the rectangle; an empty clipboard empties it.
    click(1, 2);
    click(2, 3, Qt::ShiftModifier);
    setClipboard(QStringLiteral("same"));
    f.PopupPaste->trigger();
    EXPECT_EQ(column(1), (std::vector<QString>{"t1", "same", "same", "t4"}));
    EXPECT_EQ(column(2), (std::vector<QString>{"a1", "same", "same", "a4"}));
    QApplication::clipboard()->clear();
    f.Paste1->trigger();
    EXPECT_EQ(column(1), (std::vector<QString>{"t1", "", "", "t4"}));
    f.Undo1->trigger();
    f.Undo1->trigger();
    EXPECT_EQ(column(1), (std::vector<QString>{"t1", "t2", "t3", "t4"}));
    EXPECT_FALSE(f.Edited);

    // Cut takes the current cell alone, whatever the rectangle.
    f.Cut1->trigger();
    EXPECT_EQ(clipboard(), QStringLiteral("a3"));
    EXPECT_EQ(f.sg->Cells(2, 3), QString());
    EXPECT_EQ(f.sg->Cells(1, 2), QStringLiteral("t2"));
    EXPECT_TRUE(f.Edited);
}

TEST_F(CellCommandsTest, CopyAndPasteGoToTheOpenEditor)
{
    TForm1& f = startWith(2);
    click(1, 1);
    QTest::keyClick(f.sg, Qt::Key_F2);
    auto* editor = qobject_cast<QLineEdit*>(f.sg->indexWidget(f.sg->currentIndex()));
    ASSERT_NE(editor, nullptr);
    editor->setSelection(0, 1);
    f.Copy1->trigger();
    EXPECT_EQ(clipboard(), QStringLiteral("t"));
    setClipboard(QStringLiteral("X,Y"));
    editor->setCursorPosition(2);
    f.Paste1->trigger();
    EXPECT_EQ(editor->text(), QStringLiteral("t1X,Y"));
    EXPECT_EQ(f.sg->Cells(2, 1), QStringLiteral("a1")); // no block was placed
    f.Delete1->trigger();
    EXPECT_EQ(f.sg->Cells(1, 1), QStringLiteral("t1X,Y"));
    QTest::keyClick(editor, Qt::Key_Return);
    QApplication::processEvents(); // the editor closes after its key
    ASSERT_FALSE(f.sg->EditorMode());
    EXPECT_EQ(f.sg->Cells(1, 1), QStringLiteral("t1X,Y"));
    // The typed cell is one step.
    f.Undo1->trigger();
    EXPECT_EQ(f.sg->Cells(1, 1), QStringLiteral("t1"));
    EXPECT_FALSE(f.Edited);
    f.Redo1->trigger();
    EXPECT_EQ(f.sg->Cells(1, 1), QStringLiteral("t1X,Y"));
    EXPECT_TRUE(f.Edited);
}

TEST_F(CellCommandsTest, SerialNumbersFromTheMenusAndTheirUndo)
{
    TForm1& f = startWith(3);
    // A rectangle over two columns and eleven rows: each column counts from 1
    // with one leading zero; rows below the files are numbered too.
    click(6, 1);
    f.sg->scrollTo(f.sg->model()->index(10, 6));
    click(7, 11, Qt::ShiftModifier);
    f.N9->trigger();
    for (int row = 1; row <= 11; ++row) {
        const QString expected = QStringLiteral("%1").arg(row, 2, 10, QLatin1Char('0'));
        EXPECT_EQ(f.sg->Cells(6, row), expected) << row;
        EXPECT_EQ(f.sg->Cells(7, row), expected) << row;
    }
    EXPECT_TRUE(f.Edited);
    f.Undo1->trigger();
    EXPECT_EQ(column(6), std::vector<QString>(3, "3"));
    EXPECT_EQ(column(7), std::vector<QString>(3, "Rock"));
    EXPECT_EQ(f.sg->Cells(6, 11), QString());
    EXPECT_FALSE(f.Edited);

    click(0, 1);
    click(0, 3, Qt::ShiftModifier);
    f.PopupSerial->trigger();
    EXPECT_EQ(column(0), (std::vector<QString>{"1", "2", "3"}));
    f.Undo1->trigger();
    EXPECT_EQ(column(0), (std::vector<QString>{"f101.mp3", "f102.mp3", "f103.mp3"}));
    f.Redo1->trigger();
    EXPECT_EQ(column(0), (std::vector<QString>{"1", "2", "3"}));
}

TEST_F(CellCommandsTest, DeleteLeavesEditedAloneSoAFolderChangeDoesNotAsk)
{
    std::filesystem::create_directory(music.file("other"));
    TForm1& f = startWith(3, "movemsg=1\n");
    click(1, 1);
    click(2, 2, Qt::ShiftModifier);
    QTest::keyClick(f.sg, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(column(1), (std::vector<QString>{"", "", "t3"}));
    EXPECT_EQ(column(2), (std::vector<QString>{"", "", "a3"}));
    EXPECT_FALSE(f.Edited);
    BoxAnswerer watcher(kNo);
    EXPECT_TRUE(f.dl->SetDirectory(q(music.file("other"))));
    EXPECT_FALSE(watcher.seen);
}

TEST_F(CellCommandsTest, GenreListTakesTypedTextOnEnterAndEscRestores)
{
    TForm1& f = startWith(2);
    ASSERT_EQ(f.cmb2->count(), 148);
    EXPECT_EQ(f.cmb2->itemText(0), QStringLiteral("Acapella"));
    EXPECT_EQ(f.cmb2->itemText(147), QStringLiteral("Vocal"));
    for (int i = 1; i < f.cmb2->count(); ++i)
        EXPECT_LE(f.cmb2->itemText(i - 1).compare(f.cmb2->itemText(i), Qt::CaseInsensitive), 0) << i;

    click(7, 1);
    ASSERT_EQ(f.sg->ShownCtrl(), f.cmb2);
    EXPECT_EQ(f.cmb2->currentText(), QStringLiteral("Rock"));
    QTest::keyClick(f.sg, Qt::Key_Return);
    ASSERT_TRUE(f.cmb2->hasFocus());
    f.cmb2->lineEdit()->selectAll();
    QTest::keyClicks(f.cmb2, QStringLiteral("Shoegaze"));
    QTest::keyClick(f.cmb2, Qt::Key_Return);
    EXPECT_EQ(f.sg->Cells(7, 1), QStringLiteral("Shoegaze"));
    EXPECT_EQ(f.cmb2->count(), 148);
    EXPECT_TRUE(f.Edited);

    QTest::keyClick(f.sg, Qt::Key_Return);
    f.cmb2->lineEdit()->selectAll();
    QTest::keyClicks(f.cmb2, QStringLiteral("Polka"));
    QTest::keyClick(f.cmb2, Qt::Key_Escape);
    EXPECT_EQ(f.sg->Cells(7, 1), QStringLiteral("Shoegaze"));
    EXPECT_EQ(f.cmb2->currentText(), QStringLiteral("Shoegaze"));

    // A genre from the list is one step of the history.
    f.Undo1->trigger();
    EXPECT_EQ(f.sg->Cells(7, 1), QStringLiteral("Rock"));
    EXPECT_EQ(f.cmb2->currentText(), QStringLiteral("Rock"));
    EXPECT_FALSE(f.Edited);

    // Texts longer than a line edit's usual limit go in and come back whole.
    const QString longText(40000, QChar(u'g'));
    f.sg->SetCells(7, 2, longText);
    click(7, 2);
    click(6, 2);
    EXPECT_EQ(f.sg->Cells(7, 2), longText);
}

TEST_F(CellCommandsTest, TheApplyAndALoadClearTheHistory)
{
    TForm1& f = startWith(2);
    click(1, 1);
    setClipboard(QStringLiteral("applied,b"));
    f.Paste1->trigger();
    ASSERT_TRUE(f.Undo1->isEnabled());
    f.Apply1->trigger();
    EXPECT_FALSE(f.Edited);
    EXPECT_FALSE(f.Undo1->isEnabled());
    f.Undo1Click();
    EXPECT_EQ(f.sg->Cells(1, 1), QStringLiteral("applied"));
    EXPECT_FALSE(f.Edited);
    EXPECT_EQ(readTag(music.file("f101.mp3"), TTagView::ID3v1).title, "applied");

    // An apply with the editor open takes its text and closes it.
    typeInto(1, 2, QStringLiteral("typed"));
    QTest::keyClick(f.sg, Qt::Key_F2);
    ASSERT_TRUE(f.sg->EditorMode());
    f.Apply1->trigger();
    EXPECT_FALSE(f.sg->EditorMode());
    EXPECT_FALSE(f.Undo1->isEnabled());
    EXPECT_FALSE(f.Edited);

    f.Paste1->trigger();
    ASSERT_TRUE(f.Undo1->isEnabled());
    f.Refresh1->trigger();
    EXPECT_FALSE(f.Undo1->isEnabled());
    EXPECT_FALSE(f.Redo1->isEnabled());
}

TEST_F(CellCommandsTest, RightClicksAnywhereInTheGridOpenItsOwnMenu)
{
    TForm1& f = startWith(2);
    click(1, 1);
    auto rightClick = [&](QWidget* widget, QPoint at) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, widget->mapToGlobal(at));
        QApplication::sendEvent(widget, &event);
        QApplication::processEvents();
        const bool shown = f.PopupMenu1->isVisible();
        // No other menu (the editor's own, Qt's English one) opened.
        int menus = 0;
        for (QWidget* top : QApplication::topLevelWidgets())
            menus += qobject_cast<QMenu*>(top) && top->isVisible() ? 1 : 0;
        f.PopupMenu1->hide();
        return shown && menus == 1;
    };
    EXPECT_TRUE(rightClick(f.sg->viewport(), f.sg->CellRect(1, 1).center())) << "current cell";
    EXPECT_TRUE(rightClick(f.sg->viewport(), f.sg->CellRect(3, 2).center())) << "other cell";
    EXPECT_TRUE(rightClick(f.sg->horizontalHeader()->viewport(), QPoint(5, 5))) << "title row";
    QTest::keyClick(f.sg, Qt::Key_F2);
    auto* editor = qobject_cast<QLineEdit*>(f.sg->indexWidget(f.sg->currentIndex()));
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(rightClick(editor, QPoint(3, 3))) << "cell editor";
    QTest::keyClick(editor, Qt::Key_Escape);
    click(7, 1);
    ASSERT_EQ(f.sg->ShownCtrl(), f.cmb2);
    EXPECT_TRUE(rightClick(f.cmb2->lineEdit(), QPoint(3, 3))) << "genre list";

    // Its commands act as from the main menu.
    click(1, 1);
    f.PopupCopy->trigger();
    EXPECT_EQ(clipboard(), QStringLiteral("t1"));
}

TEST_F(CellCommandsTest, HugeOrBinaryClipboardsStayInsideTheGridAndBounded)
{
    TForm1& f = startWith(3);
    const int rows = f.sg->RowCount();
    struct Case {
        const char* name;
        QString clip;
    };
    QString lines;
    for (int i = 0; i < 50000; ++i)
        lines += QStringLiteral("line %1,x\r\n").arg(i);
    QString binary(1 << 20, Qt::Uninitialized);
    for (qsizetype i = 0; i < binary.size(); ++i)
        binary[i] = QChar(static_cast<char16_t>((i * 7919) % 0xD800));
    const Case cases[] = {
        {"tens of thousands of lines", lines},
        {"binary", binary},
        {"10 MB of one line", QString(10 << 20, QChar(u'y')) + QStringLiteral(",end")},
    };
    for (const Case& c : cases) {
        click(6, 2);
        setClipboard(c.clip);
        f.Paste1->trigger();
        EXPECT_EQ(f.sg->RowCount(), rows) << c.name;
        EXPECT_EQ(f.sg->ColCount(), 8) << c.name;
        for (int col = 0; col < 8; ++col)
            EXPECT_EQ(f.sg->Cells(col, 4), QString()) << c.name << " col " << col;
        EXPECT_EQ(f.sg->Cells(0, 2), QStringLiteral("f102.mp3")) << c.name;
        std::size_t written = 0;
        for (int row = 1; row <= 3; ++row)
            for (int col = 0; col < 8; ++col)
                written += utf8Bytes(f.sg->Cells(col, row)).size();
        EXPECT_LE(written, morvik::kPasteBudget + 1000) << c.name;
        f.Undo1->trigger();
        EXPECT_EQ(column(7), std::vector<QString>(3, "Rock")) << c.name;
    }

    // One huge value over many cells: the budget is shared among them.
    click(0, 1);
    click(7, 3, Qt::ShiftModifier);
    setClipboard(QString(10 << 20, QChar(u'z')));
    f.Paste1->trigger();
    const std::size_t each = morvik::kPasteBudget / 24;
    EXPECT_EQ(f.sg->Cells(0, 1).size(), static_cast<qsizetype>(each));
    EXPECT_EQ(f.sg->Cells(7, 3), f.sg->Cells(0, 1));
    EXPECT_EQ(f.sg->Cells(0, 4), QString());
}

TEST_F(CellCommandsTest, LongCellsAreDrawnFromTheirStartAndEditedWhole)
{
    TForm1& f = startWith(1);
    const QString longText(40000, QChar(u'g'));
    f.sg->SetCells(1, 1, longText);
    f.sg->SetCells(2, 1, QString(10 << 20, QChar(u'g')));
    // Drawing lays out no more than the start of a long text.
    QStyleOptionViewItem option;
    option.initFrom(f.sg);
    QAbstractItemDelegate* delegate = f.sg->itemDelegate();
    EXPECT_EQ(delegate->sizeHint(option, f.sg->model()->index(0, 1)).width(),
              delegate->sizeHint(option, f.sg->model()->index(0, 2)).width());
    // The editor keeps the whole text.
    click(1, 1);
    QTest::keyClick(f.sg, Qt::Key_F2);
    auto* editor = qobject_cast<QLineEdit*>(f.sg->indexWidget(f.sg->currentIndex()));
    ASSERT_NE(editor, nullptr);
    QTest::keyClick(editor, Qt::Key_End);
    QTest::keyClicks(editor, QStringLiteral("!"));
    QTest::keyClick(editor, Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(f.sg->Cells(1, 1), longText + QStringLiteral("!"));
}

// The cut of a paste text falls on a character boundary.
TEST(BoundedPasteText, KeepsBlocksWholeUpToTheBudgetAndSharesItAmongCells)
{
    const std::string kana = "\xE3\x81\x82"; // one three-byte character
    std::string many;
    while (many.size() < morvik::kPasteBudget + 10)
        many += kana;
    struct Case {
        const char* name;
        std::string text;
        std::int64_t cells;
        std::size_t size;
    };
    const Case cases[] = {
        {"short value", "Rock", 5000, 4},
        {"short block", "a,b\r\nc", 40000, 6},
        {"value into one cell", many, 1, morvik::kPasteBudget / 3 * 3},
        {"value into no cell", many, 0, morvik::kPasteBudget / 3 * 3},
        {"block", many + ",", 40000, morvik::kPasteBudget / 3 * 3},
        {"value into many cells", many, 1000, morvik::kPasteBudget / 1000 / 3 * 3},
    };
    for (const Case& c : cases) {
        const std::string cut = morvik::boundedPasteText(c.text, c.cells);
        EXPECT_EQ(cut.size(), c.size) << c.name;
        EXPECT_EQ(cut, c.text.substr(0, cut.size())) << c.name;
    }
}

// ---- playback ---------------------------------------------------------------

// The window's player on the fake wave output, which holds every block until
// the test lets it finish: a file plays until the test releases its blocks.
class PlaybackTest : public Unit1Test {
protected:
    ~PlaybackTest() override { form.reset(); } // the player uses `fake`

    // A lame-made tone of `seconds` tagged (ID3v1) title "T<id>", artist
    // "A<id>", album "B<id>", year "<id>".
    std::string song(const std::string& name, const std::string& id, double seconds = 0.1,
                     const TempDir* dir = nullptr)
    {
        const std::string path = (dir ? *dir : music).file(name);
        writeFile(path, toneMp3(seconds));
        writeTag(path, TTagView::ID3v1, Tag{"T" + id, "A" + id, "B" + id, id, "", "1", "Rock"});
        return path;
    }

    TForm1& startPlayer(const std::string& iniLines = "")
    {
        writeIni(iniLines);
        form = std::make_unique<TForm1>(q(appDir.path()), nullptr, &fake);
        form->show();
        QApplication::processEvents();
        // Every end of play is recorded, then handled by the window.
        form->MP3->OnEndPlay = [this](morvik::TMP3Player*, morvik::TMP3EndPlayReason reason) {
            ends.push_back(reason);
            form->MP3EndPlay(reason);
            indexAfterEnds.push_back(form->Playing.Index);
        };
        return *form;
    }

    // Loads another folder as a selection in the tree does: the file list
    // goes to the folder and the grid is loaded from it. (The tree itself,
    // on folders made under /tmp while the test runs, sometimes keeps its
    // old selection; it has tests of its own.)
    void openFolder(const std::string& path)
    {
        form->fl.SetDirectory(path);
        form->Refresh1Click();
    }

    void playRow(int row)
    {
        form->sg->SetCurrentCell(0, row);
        form->ToolButton5Click();
    }

    // Runs the event loop, letting the fake finish blocks when `release`,
    // until `done` or 20 s have passed.
    bool runUntil(const std::function<bool()>& done, bool release = true)
    {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < 20000) {
            if (release)
                fake.releaseBlock();
            QApplication::processEvents(QEventLoop::AllEvents, 2);
        }
        return done();
    }
    // Lets blocks finish for `ms` milliseconds.
    void runFor(int ms)
    {
        QElapsedTimer timer;
        timer.start();
        runUntil([&] { return timer.elapsed() >= ms; });
    }

    std::vector<QString> panels() const
    {
        return {form->PanelText(0), form->PanelText(1), form->PanelText(2), form->PanelText(3)};
    }
    std::uint8_t status() const { return form->MP3->Status(); }

    morvik::waveout::FakeWaveOut fake;
    std::vector<morvik::TMP3EndPlayReason> ends;
    std::vector<std::int32_t> indexAfterEnds;
};

TEST_F(PlaybackTest, NextOnTheLastPlaysTheFirstAndPreviousOnTheFirstPlaysTheLast)
{
    const std::string paths[] = {song("a.mp3", "1"), song("b.mp3", "2"), song("c.mp3", "3")};
    TForm1& f = startPlayer();
    EXPECT_EQ(f.Playing.Index, 0);
    EXPECT_FALSE(f.Switching);
    // With repeat-all on, the end that each switch's own Stop causes must
    // not move on as well.
    f.A1->trigger();

    playRow(3);
    EXPECT_EQ(status(), morvik::mpsPlaying);
    EXPECT_EQ(f.MP3->FileName(), paths[2]);
    EXPECT_EQ(f.Playing.Index, 2);
    EXPECT_EQ(f.Playing.Path, q(paths[2]));
    EXPECT_FALSE(f.Switching);
    // Play leaves the year panel alone.
    EXPECT_EQ(panels(), (std::vector<QString>{"T3", "A3", "B3", ""}));

    // The panels show the records, not the grid's unsaved edits.
    f.sg->SetCells(1, 1, QStringLiteral("unsaved"));
    enum Step { Next, Previous };
    const std::pair<Step, int> steps[] = {{Next, 0}, {Next, 1}, {Previous, 0}, {Previous, 2}, {Previous, 1}};
    for (const auto& [step, index] : steps) {
        step == Next ? f.ToolButton10Click() : f.ToolButton11Click();
        const std::string id = std::to_string(index + 1);
        EXPECT_EQ(f.Playing.Index, index);
        EXPECT_EQ(f.MP3->FileName(), paths[index]);
        EXPECT_EQ(f.Playing.Path, q(paths[index]));
        EXPECT_EQ(status(), morvik::mpsPlaying);
        EXPECT_FALSE(f.Switching);
        EXPECT_EQ(panels(), (std::vector<QString>{q("T" + id), q("A" + id), q("B" + id), q(id)}));
    }
    // Only the window's own stops ended files; none restarted anything.
    QApplication::processEvents();
    EXPECT_EQ(ends, std::vector<morvik::TMP3EndPlayReason>(5, morvik::meprStop));
}

TEST_F(PlaybackTest, NextAndPreviousDoNothingWhilePausedOrStopped)
{
    const std::string a = song("a.mp3", "1");
    const std::string b = song("b.mp3", "2");
    TForm1& f = startPlayer();
    playRow(1);
    f.ToolButton10Click();
    ASSERT_EQ(f.Playing.Index, 1);

    f.ToolButton9Click();
    EXPECT_EQ(status(), morvik::mpsPaused);
    for (auto handler : {&TForm1::ToolButton10Click, &TForm1::ToolButton11Click}) {
        (f.*handler)();
        EXPECT_EQ(status(), morvik::mpsPaused);
        EXPECT_EQ(f.Playing.Index, 1);
        EXPECT_EQ(f.MP3->FileName(), b);
    }
    f.ToolButton9Click(); // resumes
    EXPECT_EQ(status(), morvik::mpsPlaying);

    f.ToolButton8Click();
    EXPECT_EQ(status(), morvik::mpsStopped);
    EXPECT_FALSE(f.MP3->IsOpen());
    EXPECT_TRUE(f.Switching);
    EXPECT_EQ(panels(), (std::vector<QString>{"", "", "", "2"})); // the year panel stays
    for (auto handler : {&TForm1::ToolButton10Click, &TForm1::ToolButton11Click, &TForm1::ToolButton9Click}) {
        (f.*handler)();
        EXPECT_EQ(status(), morvik::mpsStopped);
        EXPECT_FALSE(f.MP3->IsOpen());
        EXPECT_EQ(f.Playing.Index, 1);
    }
    EXPECT_FALSE(fake.playing());
}

// With neither mark playback stops after the file; "単曲リピート(&R)"
// restarts the same file and "全曲リピート(&A)" moves on round the list.
TEST_F(PlaybackTest, RepeatModesDecideWhatFollowsTheEndOfAFile)
{
    const std::string paths[] = {song("a.mp3", "1"), song("b.mp3", "2"), song("c.mp3", "3")};
    struct Case {
        const char* name;
        QAction* TForm1::*item; // nullptr: no repeat
        std::vector<std::int32_t> indexes; // Playing.Index after each end
    };
    const Case cases[] = {
        {"none", nullptr, {1}},
        {"one", &TForm1::O2, {1, 1, 1}},
        {"all", &TForm1::A1, {2, 0, 1, 2}},
    };
    for (const Case& c : cases) {
        ends.clear();
        indexAfterEnds.clear();
        TForm1& f = startPlayer();
        if (c.item)
            (f.*c.item)->trigger();
        playRow(2);
        ASSERT_TRUE(runUntil([&] { return indexAfterEnds.size() >= c.indexes.size(); })) << c.name;
        indexAfterEnds.resize(c.indexes.size());
        EXPECT_EQ(indexAfterEnds, c.indexes) << c.name;
        EXPECT_EQ(ends, std::vector<morvik::TMP3EndPlayReason>(c.indexes.size(), morvik::meprEndOfFile)) << c.name;
        const std::int32_t last = c.indexes.back();
        EXPECT_EQ(f.MP3->FileName(), paths[last]) << c.name;
        if (!c.item) {
            runFor(200);
            EXPECT_EQ(status(), morvik::mpsStopped) << c.name;
            EXPECT_EQ(ends.size(), 1u) << c.name;
            // The file stays open, the panels keep showing it.
            EXPECT_TRUE(f.MP3->IsOpen()) << c.name;
            EXPECT_EQ(f.PanelText(0), "T2") << c.name;
        } else {
            EXPECT_EQ(f.PanelText(3), q(std::to_string(last + 1))) << c.name;
        }
        form.reset();
    }
}

TEST_F(PlaybackTest, AfterStopNothingStartsByItself)
{
    song("a.mp3", "1");
    song("b.mp3", "2");
    for (QAction* TForm1::*item : {&TForm1::O2, &TForm1::A1}) {
        ends.clear();
        TForm1& f = startPlayer();
        (f.*item)->trigger();
        playRow(1);
        QApplication::processEvents();
        f.ToolButton8Click(); // while the fake holds the file's blocks
        runFor(300);
        EXPECT_EQ(status(), morvik::mpsStopped);
        EXPECT_FALSE(f.MP3->IsOpen());
        EXPECT_FALSE(fake.playing());
        EXPECT_EQ(f.Playing.Index, 0);
        ASSERT_FALSE(ends.empty());
        EXPECT_EQ(ends.back(), morvik::meprStop);
        // Play starts again, and the repeat goes on from there.
        playRow(2);
        EXPECT_FALSE(f.Switching);
        ASSERT_TRUE(runUntil([&] { return !indexAfterEnds.empty() && ends.back() == morvik::meprEndOfFile; }));
        EXPECT_EQ(f.Playing.Index, item == &TForm1::O2 ? 1 : 0);
        form.reset();
        indexAfterEnds.clear();
    }
}

TEST_F(PlaybackTest, RepeatItemsExcludeEachOtherAndToggle)
{
    TForm1& f = startPlayer();
    EXPECT_TRUE(f.O2->isCheckable());
    EXPECT_TRUE(f.A1->isCheckable());
    EXPECT_FALSE(f.O2->isChecked());
    EXPECT_FALSE(f.A1->isChecked());
    enum Click { One, All };
    struct Case {
        std::vector<Click> clicks;
        bool one, all;
    };
    const Case cases[] = {
        {{One}, true, false},           {{All}, false, true},       {{One, One}, false, false},
        {{All, All}, false, false},     {{All, One}, true, false},  {{One, All}, false, true},
        {{One, All, All}, false, false}, {{All, One, One}, false, false},
    };
    // From the menu (where the item toggles its own mark first) and by the
    // handlers themselves.
    for (bool fromMenu : {true, false}) {
        for (const Case& c : cases) {
            if (f.O2->isChecked())
                f.O2Click();
            if (f.A1->isChecked())
                f.A1Click();
            ASSERT_EQ(f.RepeatMode, morvik::playback::TRepeatMode::Off);
            for (Click click : c.clicks) {
                if (fromMenu)
                    (click == One ? f.O2 : f.A1)->trigger();
                else
                    click == One ? f.O2Click() : f.A1Click();
            }
            EXPECT_EQ(f.O2->isChecked(), c.one) << fromMenu << " " << c.clicks.size();
            EXPECT_EQ(f.A1->isChecked(), c.all) << fromMenu << " " << c.clicks.size();
        }
    }
}


TEST_F(PlaybackTest, AFileThatIsNotMpegAudioShowsTheErrorBoxAndKeepsWhatPlayed)
{
    const std::string a = song("a.mp3", "1");
    writeFile(music.file("b.mp3"), repeat('\x12', 5000));
    TForm1& f = startPlayer();
    f.A1->trigger();
    playRow(1);
    f.ToolButton10Click(); // fails to open b: swallowed
    EXPECT_EQ(f.Playing.Index, 1);
    EXPECT_FALSE(f.MP3->IsOpen());

    playRow(1);
    ASSERT_EQ(f.Playing.Index, 0);
    {
        BoxAnswerer box(QString{});
        playRow(2);
        EXPECT_TRUE(box.seen);
        EXPECT_EQ(box.text, "unknown MPEG Audio format.");
    }
    EXPECT_TRUE(f.Switching);
    EXPECT_EQ(f.Playing.Index, 0);
    EXPECT_EQ(f.Playing.Path, q(a));
    EXPECT_EQ(panels(), (std::vector<QString>{"T1", "A1", "B1", ""}));
    EXPECT_EQ(status(), morvik::mpsStopped);
    runFor(100);
    EXPECT_EQ(status(), morvik::mpsStopped);
}

// Nothing loaded, a row below the files, an index left over from a larger
// folder: the commands and the end of play do nothing, without a box.
TEST_F(PlaybackTest, NothingToPlayDoesNothing)
{
    TForm1& f = startPlayer();
    ASSERT_EQ(f.Files.Count, 0);
    f.A1->trigger();
    for (auto handler : {&TForm1::ToolButton5Click, &TForm1::ToolButton10Click, &TForm1::ToolButton11Click,
                         &TForm1::ToolButton9Click, &TForm1::ToolButton8Click}) {
        (f.*handler)();
        EXPECT_EQ(status(), morvik::mpsStopped);
        EXPECT_FALSE(f.MP3->IsOpen());
    }
    f.Switching = false;
    f.MP3EndPlay(morvik::meprEndOfFile);
    EXPECT_FALSE(f.MP3->IsOpen());

    TempDir three;
    const std::string c = song("c.mp3", "3", 0.1, &three);
    song("a.mp3", "1", 0.1, &three);
    song("b.mp3", "2", 0.1, &three);
    openFolder(three.path());
    ASSERT_EQ(f.Files.Count, 3);
    playRow(5); // below the files
    EXPECT_FALSE(f.MP3->IsOpen());
    playRow(3);
    ASSERT_EQ(f.Playing.Index, 2);

    TempDir one;
    song("x.mp3", "9", 0.1, &one);
    openFolder(one.path());
    ASSERT_EQ(f.Files.Count, 1);
    // Still playing the old folder's file; Next and Previous find no file
    // at the old index and leave it playing.
    for (auto handler : {&TForm1::ToolButton10Click, &TForm1::ToolButton11Click}) {
        (f.*handler)();
        EXPECT_EQ(status(), morvik::mpsPlaying);
        EXPECT_EQ(f.MP3->FileName(), c);
        EXPECT_EQ(f.Playing.Index, 2);
    }
    // Its end finds no file to repeat.
    ASSERT_TRUE(runUntil([&] { return !ends.empty(); }));
    runFor(100);
    EXPECT_EQ(ends, std::vector<morvik::TMP3EndPlayReason>{morvik::meprEndOfFile});
    EXPECT_EQ(status(), morvik::mpsStopped);
    EXPECT_EQ(f.MP3->FileName(), c);
}

// Loading another folder neither stops the player nor changes Playing: the
// next step uses the old index in the new list. Sorting moves records, not
// the index.
TEST_F(PlaybackTest, AnotherFolderAndSortingKeepThePlayingIndex)
{
    const std::string b = song("b.mp3", "2");
    song("a.mp3", "1");
    song("c.mp3", "3");
    TempDir other;
    song("p.mp3", "7", 0.1, &other);
    song("q.mp3", "8", 0.1, &other);
    const std::string r = song("r.mp3", "9", 0.1, &other);
    TForm1& f = startPlayer();
    playRow(2);
    ASSERT_EQ(f.MP3->FileName(), b);

    f.S2Click();
    EXPECT_EQ(f.Playing.Index, 1);
    EXPECT_EQ(f.MP3->FileName(), b);

    openFolder(other.path());
    EXPECT_EQ(status(), morvik::mpsPlaying);
    EXPECT_EQ(f.MP3->FileName(), b);
    EXPECT_EQ(f.Playing.Index, 1);
    EXPECT_EQ(f.Playing.Path, q(b));
    f.ToolButton10Click();
    EXPECT_EQ(f.Playing.Index, 2);
    EXPECT_EQ(f.MP3->FileName(), r);
    EXPECT_EQ(f.PanelText(0), "T9");
}


// Files deleted, cut short or replaced while they play, or while they wait
// as the next of a repeat: playback ends or moves on, and the window goes on
// answering.
TEST_F(PlaybackTest, FilesChangedWhilePlayingOrWaitingEndOrMoveOn)
{
    enum Change { Delete, Truncate, ReplaceByRename, OverwriteInPlace };
    const auto change = [](const std::string& path, Change how) {
        switch (how) {
        case Delete:
            std::filesystem::remove(path);
            break;
        case Truncate:
            std::filesystem::resize_file(path, 100);
            break;
        case ReplaceByRename:
            writeFile(path + ".new", repeat('\x12', 70000));
            std::filesystem::rename(path + ".new", path);
            break;
        case OverwriteInPlace: {
            const std::string junk = repeat('\x12', static_cast<std::size_t>(std::filesystem::file_size(path)));
            FILE* file = std::fopen(path.c_str(), "r+b");
            ASSERT_NE(file, nullptr);
            std::fwrite(junk.data(), 1, junk.size(), file);
            std::fclose(file);
            break;
        }
        }
    };
    for (Change how : {Delete, Truncate, ReplaceByRename, OverwriteInPlace}) {
        for (bool playingOne : {true, false}) {
            SCOPED_TRACE(std::to_string(how) + (playingOne ? " playing" : " next"));
            TempDir dir;
            const std::string a = song("a.mp3", "1", playingOne ? 6.0 : 0.2, &dir);
            const std::string b = song("b.mp3", "2", 0.2, &dir);
            ends.clear();
            indexAfterEnds.clear();
            TForm1& f = startPlayer();
            openFolder(dir.path());
            f.A1->trigger();
            playRow(1);
            ASSERT_EQ(status(), morvik::mpsPlaying);
            change(playingOne ? a : b, how);
            BoxAnswerer box(QString{});
            ASSERT_TRUE(runUntil([&] { return !ends.empty(); }));
            runFor(200);
            if (playingOne) {
                // Cut short or overwritten, the file ends early (as an end of
                // file or with an error shown); an end of file moves on.
                if (ends.front() == morvik::meprEndOfFile)
                    EXPECT_EQ(indexAfterEnds.front(), 1);
                else
                    EXPECT_TRUE(box.seen);
            } else {
                // The next file cannot be opened (or is no MPEG audio): its
                // error is shown and playback ends.
                EXPECT_TRUE(box.seen);
                EXPECT_EQ(status(), morvik::mpsStopped);
                EXPECT_FALSE(fake.playing());
                EXPECT_EQ(f.Playing.Index, 1);
            }
            // Still answering.
            f.A1->trigger();
            EXPECT_FALSE(f.A1->isChecked());
            f.ToolButton8Click();
            EXPECT_EQ(status(), morvik::mpsStopped);
            form.reset();
        }
    }
}

// An apply that rewrites the playing file (ID3v2 added in front), writes its
// ID3v1 record in place or appends one: the file is written all the same,
// and playback goes on to the end with the sound of the file as it was
// opened (a rewritten file plays on from the old, unlinked one).
TEST_F(PlaybackTest, ApplyWhilePlayingWritesTheFileAndPlaybackGoesOn)
{
    const std::pair<const char*, bool> cases[] = {{"1", true}, {"1", false}, {"2", true}};
    for (const auto& [tagv, tagged] : cases) {
        SCOPED_TRACE(std::string(tagv) + (tagged ? " tagged" : " untagged"));
        TempDir dir;
        const std::string a = song("a.mp3", "1", 6.0, &dir);
        if (!tagged)
            writeFile(a, toneMp3(6.0));
        writeFile(dir.file("before.mp3"), readFile(a));
        ASSERT_EQ(run(shellQuote(cliPath()) + " decode " + shellQuote(dir.file("before.mp3")) + " " +
                      shellQuote(dir.file("before.pcm")))
                      .status,
                  0);
        // The fake keeps the blocks of every run.
        const std::size_t blocksBefore = fake.writtenBlocks().size();
        ends.clear();
        TForm1& f = startPlayer(std::string("tagv=") + tagv + "\n");
        openFolder(dir.path());
        playRow(1);
        ASSERT_EQ(status(), morvik::mpsPlaying);
        f.sg->SetCells(1, 1, QStringLiteral("Written while playing"));
        f.ToolButton2Click();
        EXPECT_EQ(readTag(a, std::string(tagv) == "1" ? TTagView::ID3v1 : TTagView::ID3v2).title,
                  "Written while playing");
        ASSERT_TRUE(runUntil([&] { return !ends.empty(); }));
        EXPECT_EQ(ends, std::vector<morvik::TMP3EndPlayReason>{morvik::meprEndOfFile});
        std::string played;
        const auto blocks = fake.writtenBlocks();
        for (std::size_t i = blocksBefore; i < blocks.size(); ++i)
            played.append(blocks[i].begin(), blocks[i].end());
        EXPECT_TRUE(played == readFile(dir.file("before.pcm")))
            << played.size() << " bytes played, " << readFile(dir.file("before.pcm")).size() << " decoded";
        form.reset();
    }
}

// The special edit, sorting, column fitting and the options through the
// window's commands.
class ArrangeTest : public CellCommandsTest {
protected:
    // Runs `act` on the modal dialog of type D that `open` shows, and
    // returns whether it showed. A dialog `act` leaves open is rejected
    // after a while, so the test cannot hang in it.
    template <class D> bool withDialog(const std::function<void()>& open, const std::function<void(D&)>& act)
    {
        bool shown = false;
        QTimer poll;
        QElapsedTimer clock;
        clock.start();
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            if (!shown) {
                shown = true;
                act(*dialog);
            } else if (clock.elapsed() > 3000) {
                dialog->reject();
            }
        });
        poll.start(5);
        open();
        return shown;
    }

    bool specialEdit(const std::function<void(TForm4&)>& act)
    {
        return withDialog<TForm4>([this] { form->N2Click(); }, act);
    }

    // A file per (name, title) in this order.
    TForm1& startWithTitles(const std::vector<std::pair<std::string, std::string>>& files,
                            const std::string& iniLines = "")
    {
        for (const auto& [name, title] : files) {
            Tag t = simpleTag(title);
            t.artist = "Ar";
            t.album = "Al";
            mp3(name, &t);
        }
        writeIni(iniLines);
        TForm1& f = start();
        f.activateWindow();
        f.sg->setFocus();
        return f;
    }
};

TEST_F(ArrangeTest, SpecialEditFromTheMenuIsOneUndoStepAndSavesModeAndPattern)
{
    TForm1& f = startWithTitles({{"a.mp3", "Ti"}, {"b.mp3", "Ti"}, {"c.mp3", " Intro "}});
    click(0, 1);
    click(0, 3, Qt::ShiftModifier);

    // Enter confirms the pattern as typed; the counter spans the rows.
    ASSERT_TRUE(specialEdit([](TForm4& d) {
        EXPECT_EQ(d.CheckedMode(), 3); // no "tokusyu": mode 3
        EXPECT_EQ(d.Edit1->text(), QStringLiteral("%N.[%M][%A]%T"));
        d.Edit1->setText(QStringLiteral("%N-%T"));
        QTest::keyClick(d.Edit1, Qt::Key_Return);
    }));
    EXPECT_EQ(column(0), (std::vector<QString>{"1-Ti.mp3", "2-Ti.mp3", "3-Intro.mp3"}));
    EXPECT_TRUE(f.Edited);
    EXPECT_NE(ini().find("tokusyu=3"), std::string::npos);
    EXPECT_NE(ini().find("tokusyu_str=%N-%T"), std::string::npos);
    f.Undo1Click();
    EXPECT_EQ(column(0), (std::vector<QString>{"a.mp3", "b.mp3", "c.mp3"}));
    EXPECT_FALSE(f.Undo1->isEnabled());

    // Cancel (Esc) changes neither the grid nor the settings.
    const std::string before = ini();
    ASSERT_TRUE(specialEdit([](TForm4& d) {
        d.RB1->setChecked(true);
        d.Edit1->setText(QStringLiteral("%A"));
        QTest::keyClick(d.Edit1, Qt::Key_Escape);
    }));
    EXPECT_EQ(column(0), (std::vector<QString>{"a.mp3", "b.mp3", "c.mp3"}));
    EXPECT_EQ(column(1), (std::vector<QString>{"Ti", "Ti", " Intro "}));
    EXPECT_EQ(ini(), before);

    // Mode 2 saves its mode and the pattern too; the next opening shows
    // them.
    ASSERT_TRUE(specialEdit([](TForm4& d) {
        d.RB2->setChecked(true);
        d.Edit1->setText(QStringLiteral("kept"));
        d.Button1->click();
    }));
    EXPECT_EQ(column(0), (std::vector<QString>{"Ti.mp3", "Ti.mp3", "Intro.mp3"}));
    EXPECT_NE(ini().find("tokusyu=2"), std::string::npos);
    EXPECT_NE(ini().find("tokusyu_str=kept"), std::string::npos);
    ASSERT_TRUE(specialEdit([](TForm4& d) {
        EXPECT_EQ(d.CheckedMode(), 2);
        EXPECT_EQ(d.Edit1->text(), QStringLiteral("kept"));
        d.RB1->setChecked(true);
        d.Button1->click();
    }));
    EXPECT_EQ(column(1), (std::vector<QString>{"Ti", "Ti", "Intro"}));

    // The apply renames by the cells: the second "Ti.mp3" is refused and
    // keeps its name.
    f.ToolButton2Click();
    EXPECT_EQ(testsupport::listFolder(music.path()), (std::vector<std::string>{"Intro.mp3", "Ti.mp3", "b.mp3"}));
    EXPECT_EQ(readTag(music.file("Intro.mp3"), TTagView::ID3v1).title, "Intro");
}

TEST_F(ArrangeTest, SpecialEditWithTheAnchorInTheTitleRowStartsAtRowOne)
{
    TForm1& f = startWithTitles({{"a.mp3", "x"}, {"b.mp3", "y"}}, "tokusyu=1\n");
    f.sg->SetCurrentCell(0, 2); // a move without Shift sets the anchor too
    f.AnchorRow = 0;
    ASSERT_TRUE(specialEdit([](TForm4& d) { d.Button1->click(); }));
    EXPECT_EQ(column(1), (std::vector<QString>{"a", "b"}));
    EXPECT_EQ(f.sg->Cells(1, 0), QStringLiteral("曲名"));
}

TEST_F(ArrangeTest, SortFromTheMenusThenApplyWritesEachFileItsOwnRowsTags)
{
    TForm1& f = startWithTitles({{"a.mp3", "b"}, {"b.mp3", "a"}, {"c.mp3", "d"}});
    f.sg->SetCells(2, 1, QStringLiteral("pending")); // a.mp3's artist, not applied yet
    f.sg->SetCurrentCell(1, 1);
    f.N9Click(); // something to undo
    ASSERT_TRUE(f.Undo1->isEnabled());
    f.sg->SetCells(1, 1, QStringLiteral("b"));
    const bool editedBefore = f.Edited;

    f.S2->trigger();
    EXPECT_TRUE(f.SortDesc[1]);
    EXPECT_EQ(column(1), (std::vector<QString>{"d", "b", "a"}));
    EXPECT_EQ(column(0), (std::vector<QString>{"c.mp3", "a.mp3", "b.mp3"}));
    EXPECT_EQ(column(2), (std::vector<QString>{"Ar", "pending", "Ar"}));
    EXPECT_EQ(f.Edited, editedBefore);
    // The history named cells by place; it is gone.
    EXPECT_FALSE(f.Undo1->isEnabled());

    f.PopupSort->trigger();
    EXPECT_FALSE(f.SortDesc[1]);
    EXPECT_EQ(column(1), (std::vector<QString>{"a", "b", "d"}));

    f.sg->SetCells(1, 1, QStringLiteral("was a"));
    f.ToolButton2Click();
    EXPECT_EQ(readTag(music.file("b.mp3"), TTagView::ID3v1).title, "was a");
    EXPECT_EQ(readTag(music.file("a.mp3"), TTagView::ID3v1).title, "b");
    EXPECT_EQ(readTag(music.file("a.mp3"), TTagView::ID3v1).artist, "pending");
    EXPECT_EQ(readTag(music.file("c.mp3"), TTagView::ID3v1).title, "d");
    EXPECT_EQ(readTag(music.file("c.mp3"), TTagView::ID3v1).artist, "Ar");
}

TEST_F(ArrangeTest, ATrackThatIsNoIntegerStopsTheSortWithTheErrorBox)
{
    TForm1& f = startWithTitles({{"a.mp3", "one"}, {"b.mp3", "five"}, {"c.mp3", "ex"}});
    f.sg->SetCells(6, 1, QStringLiteral("1"));
    f.sg->SetCells(6, 2, QStringLiteral("5"));
    f.sg->SetCells(6, 3, QStringLiteral("x1"));
    f.sg->SetCurrentCell(6, 1);
    {
        BoxAnswerer answer{QString()};
        f.S2Click();
        EXPECT_TRUE(answer.seen);
        EXPECT_EQ(answer.text, QStringLiteral("'x1' は整数ではありません"));
    }
    EXPECT_TRUE(f.SortDesc[6]);
    // The exchange of 1 and 5 stands.
    EXPECT_EQ(column(1), (std::vector<QString>{"five", "one", "ex"}));
    EXPECT_EQ(f.Files.Items[0].Path, music.file("b.mp3"));
}

TEST_F(ArrangeTest, WithoutFilesSortFlipsTheDirectionAndFittingChangesNothing)
{
    TForm1& f = startWithTitles({}, "sellauto=1\n");
    f.sg->SetCurrentCell(3, 1);
    std::vector<int> widths;
    for (int col = 0; col < 8; ++col)
        widths.push_back(f.sg->ColWidths(col));
    f.S2Click();
    f.S2Click();
    f.S2Click();
    EXPECT_TRUE(f.SortDesc[3]);
    f.N6->trigger();
    for (int col = 0; col < 8; ++col)
        EXPECT_EQ(f.sg->ColWidths(col), widths[static_cast<std::size_t>(col)]) << col;
}

TEST_F(ArrangeTest, FittingByF4AndAfterLoadsAndResizesWithSellauto)
{
    TForm1& f = startWithTitles({{"a-rather-long-file-name.mp3", "title"}, {"b.mp3", "a much longer title here"}});
    const QFontMetrics metrics(f.font());
    const int nameWidth = metrics.horizontalAdvance(QStringLiteral("a-rather-long-file-name.mp3")) + 4;
    const int titleWidth = metrics.horizontalAdvance(QStringLiteral("a much longer title here")) + 4;
    const int genreWidth = f.sg->ColWidths(7);
    ASSERT_NE(f.sg->ColWidths(0), nameWidth); // "sellauto" is off
    f.N6->trigger();
    EXPECT_EQ(f.sg->ColWidths(0), nameWidth);
    EXPECT_EQ(f.sg->ColWidths(1), titleWidth);
    EXPECT_EQ(f.sg->ColWidths(7), genreWidth);

    // With "sellauto" the load fits, and so does every resize.
    writeIni("sellauto=1\n");
    TForm1& g = start();
    EXPECT_EQ(g.sg->ColWidths(1), titleWidth);
    g.resize(g.width() + 40, g.height());
    QApplication::processEvents();
    EXPECT_EQ(g.sg->ColWidths(1), titleWidth);
}

TEST_F(ArrangeTest, DoubleClickOnATitleBorderFitsThatColumn)
{
    TForm1& f = startWithTitles({{"a.mp3", "a title wider than the column"}});
    QHeaderView* titles = f.sg->horizontalHeader();
    const int fitted = QFontMetrics(f.font()).horizontalAdvance(QStringLiteral("Ar")) + 4;
    const auto reset = [&] {
        for (int col = 0; col < 8; ++col)
            f.sg->SetColWidths(col, 60);
    };
    // Column 2's right border is at 180.
    struct Case {
        int x, y;
        bool fits;
    };
    const Case cases[] = {{176, 2, true}, {175, 2, false}, {184, 2, true}, {185, 2, false},
                          {180, titles->height() + 1, false}};
    for (const Case& c : cases) {
        reset();
        f.MouseX = c.x;
        f.MouseY = c.y;
        f.sgDblClick();
        EXPECT_EQ(f.sg->ColWidths(2), c.fits ? fitted : 60) << c.x << "," << c.y;
        EXPECT_EQ(f.sg->ColWidths(1), 60);
    }

    // The real double click on the titles, and one on the cells.
    reset();
    QTest::mouseMove(titles, QPoint(177, 3));
    QTest::mouseDClick(titles, Qt::LeftButton, Qt::NoModifier, QPoint(177, 3));
    EXPECT_EQ(f.MouseX, 177);
    EXPECT_EQ(f.sg->ColWidths(2), fitted);
    EXPECT_EQ(f.sg->ColWidths(1), 60);
    reset();
    QTest::mouseDClick(f.sg->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(177, 3));
    EXPECT_EQ(f.MouseY, 3 + titles->height());
    EXPECT_EQ(f.sg->ColWidths(2), 60);
}

TEST_F(ArrangeTest, OptionsRoundTripThroughTagIni)
{
    TForm1& f = startWithTitles({{"a.mp3", "a title wider than the column"}}, "datechg=0\nmovemsg=1\n");
    const auto openOptions = [&](const std::function<void(TForm5&)>& act) {
        return withDialog<TForm5>([&] { f.O1Click(); }, act);
    };
    // The dialog shows the window's values and the file's "movemsg".
    f.AutoFit = true;
    ASSERT_TRUE(openOptions([](TForm5& d) {
        EXPECT_FALSE(d.cb1->isChecked());
        EXPECT_TRUE(d.cb2->isChecked());
        EXPECT_TRUE(d.cb3->isChecked());
        d.cb1->setChecked(true);
        d.cb2->setChecked(false);
        d.cb3->setChecked(false);
        d.close(); // the title bar's close box
    }));
    EXPECT_FALSE(f.KeepDate);
    EXPECT_TRUE(f.AutoFit);
    EXPECT_EQ(ini().find("datechg=1"), std::string::npos);
    EXPECT_NE(ini().find("movemsg=1"), std::string::npos);

    const int width = f.sg->ColWidths(1);
    f.AutoFit = false;
    ASSERT_TRUE(openOptions([](TForm5& d) {
        d.cb1->setChecked(true);
        d.cb2->setChecked(true);
        d.cb3->setChecked(false);
        d.Button1->click();
    }));
    EXPECT_TRUE(f.KeepDate);
    EXPECT_TRUE(f.AutoFit);
    EXPECT_NE(ini().find("datechg=1"), std::string::npos);
    EXPECT_NE(ini().find("sellauto=1"), std::string::npos);
    EXPECT_NE(ini().find("movemsg=0"), std::string::npos);
    EXPECT_EQ(f.sg->ColWidths(1), width); // fitting waits for the next load or resize

    // A new window starts with them.
    TForm1& g = start();
    EXPECT_TRUE(g.KeepDate);
    EXPECT_TRUE(g.AutoFit);
}

} // namespace
