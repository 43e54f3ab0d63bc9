// The main window: folder tree, tag grid, menus, toolbar and status bar, the
// settings file and the handlers of its commands. The logic of each family
// of commands lives beside it (filerecords for the folder load, applyedits
// for the apply, playback for next, previous and repeat); the handlers read
// the grid, call it and write the grid.
#pragma once

#include "app/cellcommands.h"
#include "app/filerecords.h"
#include "app/playback.h"
#include "app/windowplace.h"
#include "ctrlgrid/CtrlGrid.h"
#include "id3/mp3id.h"
#include "platform/filelist.h"

#include <QMainWindow>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QSplitter;
class QStatusBar;
class QToolBar;
class QTimer;
class QTreeView;
class TForm4;
class TForm5;
class Tversion;

namespace morvik {
class NotifyQueue;
class QtNotifyQueue;
class TFolderTree;
class TMP3Player;
class TProfileFile;
namespace waveout {
class WaveOut;
}
}

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    // `appFolder` stands for the executable's folder: the default folder and
    // the place of "tag.ini" when writable. Empty means the real one.
    // `wave` is the player's sound device (null: the system's); it must
    // outlive the window.
    explicit TForm1(const QString& appFolder = QString(), QWidget* parent = nullptr,
                    morvik::waveout::WaveOut* wave = nullptr);
    ~TForm1() override;

    // Controls. Every command of the toolbar, the menus and the popup menu
    // is a named action.
    QToolBar* ToolBar1 = nullptr;
    QAction* ToolButton2 = nullptr;  // apply
    QAction* ToolButton1 = nullptr;  // parent folder
    QAction* ToolButton15 = nullptr; // reload
    QAction* ToolButton3 = nullptr;  // copy
    QAction* ToolButton4 = nullptr;  // cut
    QAction* ToolButton7 = nullptr;  // paste
    QAction* ToolButton16 = nullptr; // delete
    QAction* v1btn = nullptr;
    QAction* v2btn = nullptr;
    QAction* ToolButton5 = nullptr;  // play
    QAction* ToolButton8 = nullptr;  // stop
    QAction* ToolButton9 = nullptr;  // pause
    QAction* ToolButton11 = nullptr; // previous
    QAction* ToolButton10 = nullptr; // next

    // Menu "編集(&E)".
    QAction* Undo1 = nullptr;    // 元に戻す(&U), Ctrl+Z
    QAction* Redo1 = nullptr;    // やり直し(&R), Ctrl+Y and Ctrl+Shift+Z
    QAction* Apply1 = nullptr;   // 編集内容反映(&E), Ctrl+S
    QAction* Copy1 = nullptr;    // コピー(&C)
    QAction* Cut1 = nullptr;     // 切り取り(&X)
    QAction* Paste1 = nullptr;   // 貼り付け(&V)
    QAction* Delete1 = nullptr;  // 削除(&D), Ctrl+Del
    QAction* N9 = nullptr;       // 連番挿入(&N)
    QAction* N2 = nullptr;       // 特殊編集(&S)
    // Menu "表示(&V)".
    QAction* S2 = nullptr;       // 並べ替え(&S)
    QAction* N6 = nullptr;       // セル幅調整, F4
    QAction* Refresh1 = nullptr; // 最新の情報に更新, F5
    QAction* O1 = nullptr;       // オプション(&O)
    // Menu "演奏(&P)".
    QAction* Play1 = nullptr;     // 再生(&P)
    QAction* Stop1 = nullptr;     // 停止(&S)
    QAction* Pause1 = nullptr;    // 一時停止(&I)
    QAction* Next1 = nullptr;     // 次の曲(&N)
    QAction* Previous1 = nullptr; // 前の曲(&B)
    QAction* O2 = nullptr;        // 単曲リピート(&R)
    QAction* A1 = nullptr;        // 全曲リピート(&A)
    // Menu "ヘルプ(&H)".
    QAction* ReadmeR1 = nullptr; // Readme(&R)
    QAction* About1 = nullptr;   // バージョン情報(&V)
    // The grid's popup menu.
    QAction* PopupCopy = nullptr;   // コピー, Ctrl+C
    QAction* PopupCut = nullptr;    // 切り取り, Ctrl+X
    QAction* PopupPaste = nullptr;  // 貼り付け, Ctrl+V
    QAction* PopupDelete = nullptr; // 削除, Ctrl+Del
    QAction* PopupSort = nullptr;   // 並べ替え
    QAction* PopupSerial = nullptr; // 連番挿入
    QMenu* PopupMenu1 = nullptr;
    QWidget* Panel1 = nullptr;
    QTreeView* dlView = nullptr;
    morvik::TFolderTree* dl = nullptr;
    QSplitter* Splitter1 = nullptr;
    TCtrlGrid* sg = nullptr;
    QComboBox* cmb2 = nullptr;
    QStatusBar* sb1 = nullptr;
    std::array<QLabel*, 4> sbPanels{};
    QProgressBar* pb = nullptr;
    morvik::TFileNameList fl;

    // State.
    std::unique_ptr<morvik::TMP3id> TagIO;
    std::int32_t AnchorCol = morvik::cells::kInitialAnchor.col;
    std::int32_t AnchorRow = morvik::cells::kInitialAnchor.row;
    std::unique_ptr<morvik::TProfileFile> IniFile;
    bool KeepDate = false;
    bool AutoFit = false;
    std::array<bool, 8> SortDesc{};
    std::int32_t MouseX = 0;
    std::int32_t MouseY = 0;
    bool Edited = false;
    bool Switching = false;
    TFileListL Files;
    Tplay Playing;
    // The player and the repeat mode its end of play follows; the marks of
    // O2 and A1 show the mode.
    std::unique_ptr<morvik::TMP3Player> MP3;
    morvik::playback::TRepeatMode RepeatMode = morvik::playback::TRepeatMode::Off;
    // The grid edits since the last load or apply, for undo and redo.
    morvik::cells::EditHistory History;

    QString PanelText(int panel) const;
    int PanelWidth(int panel) const;

public slots:
    void FormResize();
    void Splitter1Moved();
    void ProgResize();
    bool dlChanging(const QString& newPath);
    void dlChange();
    void ToolButton1Click();
    void Refresh1Click();
    void v1btnClick();
    void v2btnClick();
    void ToolButton2Click();
    void sgGetEditText(int col, int row);
    void sgClick();
    void sgCellEdited(int col, int row, const QString& before, const QString& after);
    void Copy1Click();
    void Cut1Click();
    void Paste1Click();
    void Delete1Click();
    void N9Click();
    void Undo1Click();
    void Redo1Click();
    void ToolButton5Click();
    void ToolButton8Click();
    void ToolButton9Click();
    void ToolButton10Click();
    void ToolButton11Click();
    void O2Click();
    void A1Click();
    void MP3EndPlay(morvik::TMP3EndPlayReason reason);

    void N2Click();
    void S2Click();
    void Grid_Sort(int col);
    void N6Click();
    void sgMouseMove(int x, int y);
    void sgDblClick();
    void O1Click();
    void ReadmeR1Click();
    void About1Click();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;
    // With "movemsg" on and edits pending, asks before the window closes.
    void closeEvent(QCloseEvent* event) override;
    // Mouse moves and double clicks over the grid's title row and cells.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void buildToolBar();
    void buildMenus();
    void buildPopupMenu();
    void buildStatusBar();
    void FormCreate(const QString& appFolder);
    void LoadFolder();
    void readFileIntoRow(const std::string& name);
    void switchView(bool toV1);
    void applyEdits();
    void setProgressMaximum(int maximum);
    void restorePlace();
    morvik::TWindowPlace currentPlace() const;
    void placeChanged();
    void placeSettled();
    bool askYesNo(const QString& text);
    void showError(const QString& text);
    template <class F> void guarded(F&& body);
    void setPanelText(int panel, const QString& text);
    morvik::TTagView shownView() const;
    int textHeight(const QString& text) const;
    std::string readSetting(const char* key, const std::string& fallback) const;
    morvik::cells::CellPos currentCell() const;
    morvik::cells::CellRect commandRect() const;
    QLineEdit* openEditor() const;
    void commitEditor();
    void record(morvik::cells::EditStep step);
    void clearHistory();
    void updateHistoryActions();
    void showPopupMenu(const QPoint& global);
    void createPlayer(morvik::waveout::WaveOut* wave);
    void showException(const std::exception& e);
    void setPlaying(std::int32_t index);
    void playRecord(std::int32_t index);
    void stepPlaying(std::optional<std::int32_t> (*step)(std::int32_t, std::int32_t));
    void showPlayingRecord(bool withYear);
    void showRepeatMode(morvik::playback::TRepeatMode mode);

    std::uint64_t m_loadGeneration = 0;
    // The player's notifications reach the main thread through this queue on
    // the window's event loop; it outlives the player.
    std::unique_ptr<morvik::QtNotifyQueue> m_playerWindow;
    std::unique_ptr<morvik::NotifyQueue> m_playerQueue;
    QString m_appFolder;
    // Where the window is written down as being in "tag.ini" (or opened).
    QTimer* m_placeTimer = nullptr;
    morvik::TWindowPlace m_placeKept;

public:
    // The dialogs, created once and kept: by the program entry, or by the
    // window on first use.
    Tversion* version = nullptr;
    TForm4* Form4 = nullptr;
    TForm5* Form5 = nullptr;

private:
    template <class D> D& dialog(D*& slot);
};
