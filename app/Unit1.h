// The main window: folder tree, tag grid, menus, toolbar and status bar, the
// settings file, the folder load into the grid and the apply of the grid's
// edits to the files.
#pragma once

#include "ctrlgrid/CtrlGrid.h"
#include "id3/mp3id.h"
#include "platform/filelist.h"

#include <QMainWindow>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QProgressBar;
class QSplitter;
class QStatusBar;
class QToolBar;
class QTreeView;

namespace morvik {
class TFolderTree;
class TProfileFile;
}

// One tag text of a file: the bytes the file holds and the text shown for
// them. A cell still showing `text` is written back as exactly `bytes`.
struct TTagText {
    std::string bytes;
    QString text;
};

// Grid columns 1 to 7, in this order.
enum TTagColumn { tcTitle, tcArtist, tcAlbum, tcYear, tcComment, tcTrack, tcGenre, tcCount };

// One loaded MP3 file (record i belongs to grid row i + 1).
struct TFileList {
    std::uint8_t HasTag = 0;
    std::string Path; // folder + "/" + name, the file system's bytes
    std::array<TTagText, tcCount> Texts; // as last read from or written to the file
    std::int32_t TagPosition = 0;
};

using TRowTexts = std::array<QString, tcCount>;
using TRowBytes = std::array<std::string, tcCount>;

struct TFileListL {
    std::int32_t Count = 0;
    std::vector<TFileList> Items;
};

struct Tplay {
    QString Path;
    std::int32_t Index = 0;
};

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    // `appFolder` stands for the executable's folder: the default folder and
    // the place of "tag.ini" when writable. Empty means the real one.
    explicit TForm1(const QString& appFolder = QString(), QWidget* parent = nullptr);
    ~TForm1() override;

    // Controls.
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
    QAction* Apply1 = nullptr;       // 編集内容反映(&E), Ctrl+S
    QAction* Refresh1 = nullptr;     // 最新の情報に更新, F5
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
    std::unique_ptr<TMP3id> TagIO;
    std::int32_t AnchorCol = 0;
    std::int32_t AnchorRow = 0;
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
    // Column fitting arrives with sorting; the load and the resize call it
    // already when "sellauto" is on.
    void N6Click();
    void sgGetEditText(int col, int row);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildControls();
    void buildToolBar();
    void buildMenus();
    void buildStatusBar();
    void FormCreate(const QString& appFolder);
    void LoadFolder();
    void readFileIntoRow(const std::string& name);
    void switchView(bool toV1);
    void applyEdits();
    bool writeChangedTags();
    bool rowChanged(const TFileList& record, const TRowTexts& cells) const;
    bool encodeRow(const TFileList& record, const TRowTexts& cells, TRowBytes& bytes);
    bool writeRow(TFileList& record, const TRowTexts& cells, const TRowBytes& bytes);
    void refreshTagPlace(TFileList& record) const;
    void renameChangedFiles();
    bool askYesNo(const QString& text);
    void showError(const QString& text);
    template <class F> void guarded(F&& body);
    void setPanelText(int panel, const QString& text);
    TTagView shownView() const;
    int textHeight(const QString& text) const;
    std::string readSetting(const char* key, const std::string& fallback) const;

    std::uint64_t m_loadGeneration = 0;
    QString m_appFolder;
};
