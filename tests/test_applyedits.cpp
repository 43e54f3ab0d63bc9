#include "app/applyedits.h"

#include "app/applymessages.h"
#include "app/cellcommands.h"
#include "platform/filelist.h"
#include "readonlymount.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <sys/stat.h>

using namespace testsupport;
using morvik::utf8Bytes;

namespace {

using Names = std::vector<std::string>;

TEST(ApplyEdits, RenameRules)
{
    const std::string latin1 = "\xE9t\xE9.mp3"; // neither UTF-8 nor CP932: shows with U+FFFD
    const std::string shiftJis = "\x8b\xc8.mp3"; // 曲.mp3 from an old Windows volume
    using morvik::TRename;
    struct Case {
        const char* what;
        std::string name;
        QString cell;
        TRename result;
        Names after;
    };
    const Case cases[] = {
        {"unchanged cell", "old.mp3", "old.mp3", TRename::Unchanged, {"old.mp3", "sub", "taken.mp3"}},
        {"new name", "old.mp3", "new.mp3", TRename::Renamed, {"new.mp3", "sub", "taken.mp3"}},
        {"Japanese name as UTF-8", "old.mp3", "新しい.mp3", TRename::Renamed, {"sub", "taken.mp3", "新しい.mp3"}},
        {"existing file never replaced", "old.mp3", "taken.mp3", TRename::Refused, {"old.mp3", "sub", "taken.mp3"}},
        {"empty name", "old.mp3", "", TRename::Refused, {"old.mp3", "sub", "taken.mp3"}},
        {"dot", "old.mp3", ".", TRename::Refused, {"old.mp3", "sub", "taken.mp3"}},
        {"dot dot", "old.mp3", "..", TRename::Refused, {"old.mp3", "sub", "taken.mp3"}},
        {"into another folder", "old.mp3", "sub/x.mp3", TRename::Refused, {"old.mp3", "sub", "taken.mp3"}},
        {"NUL in the name", "old.mp3", QString::fromUtf8("a\0b.mp3", 7), TRename::Refused,
         {"old.mp3", "sub", "taken.mp3"}},
        {"name that is not UTF-8, cell unchanged", latin1, morvik::shownFileName(latin1), TRename::Unchanged,
         {"sub", "taken.mp3", latin1}},
        {"name that is not UTF-8, cell changed", latin1, "fixed.mp3", TRename::Renamed, {"fixed.mp3", "sub", "taken.mp3"}},
        {"Shift-JIS name shown decoded, unchanged", shiftJis, QStringLiteral("曲.mp3"), TRename::Unchanged,
         {"sub", "taken.mp3", shiftJis}},
        {"Shift-JIS name given a UTF-8 one", shiftJis, QStringLiteral("曲2.mp3"), TRename::Renamed,
         {"sub", "taken.mp3", "曲2.mp3"}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        writeFile(dir.file(c.name), "audio");
        writeFile(dir.file("taken.mp3"), "other");
        std::filesystem::create_directory(dir.file("sub"));
        morvik::TFileNameList folder;
        folder.SetDirectory(dir.path());
        TFileList record;
        record.Path = dir.file(c.name);

        EXPECT_EQ(morvik::renameToCell(record, c.cell, folder), c.result) << c.what;
        EXPECT_EQ(listFolder(dir.path()), c.after) << c.what;
        EXPECT_EQ(readFile(record.Path), "audio") << c.what;
        EXPECT_EQ(readFile(dir.file("taken.mp3")), "other") << c.what;
    }
}

TEST(ApplyEdits, NamesAndPathsShowAsUtf8OrCp932)
{
    EXPECT_EQ(morvik::shownFileName("\x8b\xc8\x96\xbc.mp3"), QStringLiteral("曲名.mp3"));
    EXPECT_EQ(morvik::shownFileName("曲名.mp3"), QStringLiteral("曲名.mp3"));
    EXPECT_EQ(morvik::shownFileName("\xE9t\xE9.mp3"), QString::fromUtf8("\xE9t\xE9.mp3"));
    EXPECT_EQ(morvik::shownPath("/音楽/\x8b\xc8.mp3"), QStringLiteral("/音楽/曲.mp3"));
}

TEST(ApplyEdits, UnchangedCellsKeepTheirBytesAndChangedOnesAreEncoded)
{
    TFileList record;
    record.Path = "/music/song.mp3";
    const std::string unreadable = "\xFD\x81";
    for (std::size_t field = 0; field < tcCount; ++field)
        record.Texts[field] = morvik::tagText(field == tcTitle ? unreadable : "x");
    TRowTexts cells;
    for (std::size_t field = 0; field < tcCount; ++field)
        cells[field] = record.Texts[field].text;
    EXPECT_FALSE(morvik::rowChanged(record, cells));

    cells[tcArtist] = QStringLiteral("日本");
    EXPECT_TRUE(morvik::rowChanged(record, cells));
    const morvik::TRowEncoding encoded = morvik::encodeRow(record, cells);
    ASSERT_TRUE(encoded.ok);
    EXPECT_EQ(encoded.bytes[tcTitle].bytes, unreadable);
    EXPECT_EQ(encoded.bytes[tcArtist].bytes, "\x93\xfa\x96\x7b");
    EXPECT_EQ(encoded.bytes[tcGenre].bytes, "x");

    cells[tcComment] = QStringLiteral("5€");
    const morvik::TRowEncoding refused = morvik::encodeRow(record, cells);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.error, QStringLiteral("/music/song.mp3 に書き込めません: 文字「€」は Shift-JIS で表せません。"));
}

// In the ID3v2 view a text Shift-JIS cannot hold is stored as UTF-16; texts
// read in any encoding and left alone keep their encoding and bytes.
TEST(ApplyEdits, Id3v2CellsShiftJisCannotHoldBecomeUtf16)
{
    TFileList record;
    record.View = morvik::TTagView::ID3v2;
    const morvik::id3::TTagField utf16{1, std::string("\xFF\xFE\x55\xD5\x6D\xAD", 6)}; // 한국 ... as read
    const morvik::id3::TTagField utf8{3, "\xF0\x9F\x8E\xB5"};                          // an emoji, version 2.4
    for (std::size_t field = 0; field < tcCount; ++field)
        record.Texts[field] = morvik::tagText(std::string("x"));
    record.Texts[tcTitle] = morvik::tagText(utf16);
    record.Texts[tcAlbum] = morvik::tagText(utf8);
    EXPECT_EQ(record.Texts[tcTitle].text, QString::fromUtf8("\xED\x95\x95\xEA\xB5\xAD"));
    EXPECT_EQ(record.Texts[tcAlbum].text, QString::fromUtf8("\xF0\x9F\x8E\xB5"));

    TRowTexts cells;
    for (std::size_t field = 0; field < tcCount; ++field)
        cells[field] = record.Texts[field].text;
    cells[tcComment] = QStringLiteral("5€");
    cells[tcArtist] = QStringLiteral("日本");
    const morvik::TRowEncoding encoded = morvik::encodeRow(record, cells);
    ASSERT_TRUE(encoded.ok);
    EXPECT_EQ(encoded.bytes[tcTitle], utf16);
    EXPECT_EQ(encoded.bytes[tcAlbum], utf8);
    EXPECT_EQ(encoded.bytes[tcArtist], (morvik::id3::TTagField{0, "\x93\xfa\x96\x7b"}));
    EXPECT_EQ(encoded.bytes[tcComment], (morvik::id3::TTagField{1, std::string("\xFF\xFE" "5\0\xAC\x20", 6)}));

    record.View = morvik::TTagView::ID3v1;
    EXPECT_FALSE(morvik::encodeRow(record, cells).ok);
}

// A changed track cell must be a track number the view can hold; one still
// showing what was read is written back whatever it is.
TEST(ApplyEdits, TrackCellsEachViewTakes)
{
    struct Case {
        morvik::TTagView view;
        const char* read;
        const char* cell;
        bool ok;
        const char* written;
    };
    using morvik::TTagView;
    const Case cases[] = {
        {TTagView::ID3v2, "2/12", "2/12", true, "2/12"},
        {TTagView::ID3v2, "Track 5", "Track 5", true, "Track 5"},
        {TTagView::ID3v2, "1", "3/12", true, "3/12"},
        {TTagView::ID3v2, "1", "300", true, "300"},
        {TTagView::ID3v2, "1", "", true, ""},
        {TTagView::ID3v2, "1", "Track 6", false, nullptr},
        {TTagView::ID3v2, "1", "3/", false, nullptr},
        {TTagView::ID3v1, "1", "2/12", true, "2/12"},
        {TTagView::ID3v1, "1", "300", false, nullptr},
        {TTagView::ID3v1, "1", "x", false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cell);
        TFileList record;
        record.View = c.view;
        record.Path = "/music/\x8b\xc8.mp3";
        TRowTexts cells;
        for (std::size_t field = 0; field < tcCount; ++field) {
            record.Texts[field] = morvik::tagText(std::string(field == tcTrack ? c.read : "x"));
            cells[field] = record.Texts[field].text;
        }
        cells[tcTitle] = QStringLiteral("changed");
        cells[tcTrack] = QString::fromUtf8(c.cell);
        const morvik::TRowEncoding encoded = morvik::encodeRow(record, cells);
        EXPECT_EQ(encoded.ok, c.ok);
        if (c.ok) {
            EXPECT_EQ(encoded.bytes[tcTrack].bytes, c.written);
        } else {
            const QString range = c.view == TTagView::ID3v1 ? QStringLiteral("0 から 255 までの数、または「2/12」の形")
                                                            : QStringLiteral("数字、または「2/12」の形");
            EXPECT_EQ(encoded.error, QStringLiteral("/music/曲.mp3 に書き込めません: トラック番号「%1」は%2ではありません。")
                                         .arg(QString::fromUtf8(c.cell), range));
        }
    }
}

TEST(ApplyEdits, MessagesAreJapanese)
{
    using morvik::TTagWriteError;
    using morvik::TWriteFault;
    struct Case {
        TTagWriteError error;
        QString message;
    };
    const Case cases[] = {
        {TTagWriteError("/m/a.mp3", TWriteFault::WriteId3v2, "", ENOSPC),
         QStringLiteral("/m/a.mp3 に書き込めません: ID3v2 タグを書き換えられません（ディスクに空きがありません）。")},
        {TTagWriteError("/m/\x8b\xc8.mp3", TWriteFault::TempFile, "", EACCES),
         QStringLiteral("/m/曲.mp3 に書き込めません: 一時ファイルを作れません（アクセスが拒否されました）。")},
        {TTagWriteError("/m/a.mp3", TWriteFault::BadTrack, "x", 0),
         QStringLiteral("/m/a.mp3 に書き込めません: トラック番号「x」は書き込めない形です。")},
        {TTagWriteError("/m/a.mp3", TWriteFault::MakeFolder, "/home/u/.cache/morvik/", EROFS),
         QStringLiteral("/m/a.mp3 に書き込めません: フォルダー「/home/u/.cache/morvik/」を作れません"
                        "（読み取り専用のファイルシステムです）。")},
        {TTagWriteError("/m/a.mp3", TWriteFault::CopyPending, "", EIO),
         QStringLiteral("/m/a.mp3 に書き込めません: ファイルを書き換えられません（入出力エラーが起きました）。"
                        "次にこのファイルに書き込むとき、書きかけの内容を書き終えます。")},
        {TTagWriteError("/m/a.mp3", TWriteFault::WriteFile, "", 9999),
         QStringLiteral("/m/a.mp3 に書き込めません: ファイルを書き換えられません（システムエラー 9999）。")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(morvik::writeErrorMessage(c.error), c.message);
    // The command line keeps its English text.
    EXPECT_EQ(std::string(cases[0].error.what()), "/m/a.mp3: cannot write the ID3v2 tag: " + std::string(std::strerror(ENOSPC)));

    EXPECT_EQ(morvik::applyStatusText(0, 0), QStringLiteral("書込終了"));
    EXPECT_EQ(morvik::applyStatusText(1, 2), QStringLiteral("書込終了（書込失敗 1 件・名前変更失敗 2 件）"));
    EXPECT_EQ(morvik::applyStatusText(3, 0), QStringLiteral("書込終了（書込失敗 3 件）"));
    EXPECT_EQ(morvik::applyStatusText(0, 1), QStringLiteral("書込終了（名前変更失敗 1 件）"));
}

// The grid of the apply: row 0 the titles, row i + 1 for record i.
class FakeGrid : public morvik::cells::CellTexts {
public:
    std::int32_t colCount() const override { return 8; }
    std::int32_t rowCount() const override { return static_cast<std::int32_t>(m_rows.size()); }
    std::string text(std::int32_t col, std::int32_t row) const override
    {
        return m_rows.at(static_cast<std::size_t>(row)).at(static_cast<std::size_t>(col));
    }
    void setText(std::int32_t col, std::int32_t row, const std::string& text) override
    {
        m_rows.at(static_cast<std::size_t>(row)).at(static_cast<std::size_t>(col)) = text;
    }
    void addRow() { m_rows.emplace_back(); }

private:
    std::vector<std::array<std::string, 8>> m_rows{1};
};

// A folder loaded as the window loads it, and applied as it applies.
class Folder {
public:
    Folder(const std::string& path, morvik::TTagView view) : view(view)
    {
        list.SetDirectory(path);
        reload();
    }
    void reload()
    {
        files = TFileListL{};
        grid = FakeGrid{};
        for (const std::string& name : list.Items()) {
            morvik::TMP3id reader(view, false);
            files.Items.push_back(morvik::readFileRecord(reader, list.PathOf(name)));
            ++files.Count;
            grid.addRow();
            grid.setText(0, files.Count, utf8Bytes(morvik::shownFileName(name)));
            for (std::size_t field = 0; field < tcCount; ++field)
                grid.setText(static_cast<std::int32_t>(field) + 1, files.Count,
                             utf8Bytes(files.Items.back().Texts[field].text));
        }
    }
    void set(std::int32_t col, std::int32_t row, const std::string& text) { grid.setText(col, row, text); }
    std::string cell(std::int32_t col, std::int32_t row) const { return grid.text(col, row); }
    morvik::TApplyOutcome apply()
    {
        morvik::TMP3id tagIO;
        rowsDone = 0;
        return morvik::applyEdits(files, grid, tagIO, view, false, list, [this] { ++rowsDone; });
    }

    morvik::TTagView view;
    morvik::TFileNameList list;
    TFileListL files;
    FakeGrid grid;
    int rowsDone = 0;
};

// Files that cannot be written or renamed are counted; the apply goes on.
TEST(ApplyEdits, FailuresAreCountedAndTheApplyGoesOn)
{
    TempDir dir;
    for (const char* name : {"a.mp3", "b.mp3", "c.mp3", "d.mp3", "e.mp3", "taken.mp3"})
        writeFile(dir.file(name), toneMp3());
    Folder folder(dir.path(), morvik::TTagView::ID3v1);
    ASSERT_EQ(folder.files.Count, 6);
    // After the load: b.mp3 becomes read-only, c.mp3 a folder, e.mp3 goes.
    testsupport::ReadOnlyBind readOnly(dir.file("b.mp3"));
    if (!readOnly.error().empty())
        GTEST_SKIP() << readOnly.error();
    std::filesystem::remove(dir.file("c.mp3"));
    std::filesystem::create_directory(dir.file("c.mp3"));
    std::filesystem::remove(dir.file("e.mp3"));
    const std::string bBefore = readFile(dir.file("b.mp3"));
    for (std::int32_t row = 1; row <= 5; ++row)
        folder.set(1, row, "new title");
    folder.set(0, 1, "taken.mp3"); // exists: refused
    folder.set(0, 4, "d2.mp3");    // renamed
    folder.set(0, 6, "sub/t.mp3"); // not a name: refused

    const morvik::TApplyOutcome outcome = folder.apply();
    EXPECT_FALSE(outcome.stopped);
    EXPECT_EQ(outcome.writeFailures, 3); // read-only, folder, gone
    EXPECT_EQ(outcome.renameFailures, 2);
    EXPECT_EQ(folder.rowsDone, 6);
    EXPECT_EQ(morvik::applyStatusText(outcome.writeFailures, outcome.renameFailures),
              QStringLiteral("書込終了（書込失敗 3 件・名前変更失敗 2 件）"));
    EXPECT_EQ(readFile(dir.file("b.mp3")), bBefore);
    EXPECT_EQ(folder.files.Items[1].Texts[tcTitle].text, QString()) << "the next apply tries again";
    EXPECT_EQ(folder.cell(1, 2), "new title");
    EXPECT_EQ(folder.files.Items[0].Texts[tcTitle].bytes, "new title");
    EXPECT_EQ(folder.files.Items[0].Path, dir.file("a.mp3"));
    EXPECT_EQ(folder.files.Items[3].Path, dir.file("d2.mp3"));
    EXPECT_EQ(folder.cell(0, 1), "taken.mp3") << "the name cell keeps the new name";
    EXPECT_EQ(listFolder(dir.path()), (Names{"a.mp3", "b.mp3", "c.mp3", "d2.mp3", "taken.mp3"}));
    EXPECT_TRUE(listFolder(dir.file("c.mp3")).empty());
}

struct FileState {
    std::string bytes;
    std::int64_t mtime = 0;
    bool operator==(const FileState&) const = default;
};

FileState stateOf(const std::string& path)
{
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return {readFile(path), static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// A large folder of everything a real one holds: empty files, files nobody
// may read or write, folders, pipes and dangling links named *.mp3, names
// with control characters and in Shift-JIS. The load and the apply run to
// their end, the counts match what failed, and no file that was not edited
// is touched.
TEST(ApplyEdits, ALargeFolderOfOddFilesLoadsAndApplies)
{
    TempDir dir;
    const std::string tone = toneMp3(0.05);
    constexpr int kFiles = 5000;
    for (int i = 0; i < kFiles; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "%04d.mp3", i);
        const std::string path = dir.file(name);
        writeFile(path, i % 7 == 0 ? std::string() : tone);
        if (i % 11 == 0)
            ::chmod(path.c_str(), 0);
    }
    const std::string oddNames[] = {"ctl\x01\x1f.mp3", "tab\tand\nline.mp3", "\x8b\xc8.mp3", "\xE9\xFF.mp3"};
    for (const std::string& name : oddNames)
        writeFile(dir.file(name), tone);
    std::filesystem::create_directory(dir.file("folder.mp3"));
    std::filesystem::create_symlink(dir.file("nowhere"), dir.file("dangling.mp3"));
    ASSERT_EQ(::mkfifo(dir.file("pipe.mp3").c_str(), 0644), 0);

    Folder folder(dir.path(), morvik::TTagView::ID3v1);
    ASSERT_EQ(folder.files.Count, kFiles + 4) << "regular files only";
    std::vector<FileState> before;
    for (std::int32_t i = 0; i < folder.files.Count; ++i)
        before.push_back(stateOf(folder.files.Items[static_cast<std::size_t>(i)].Path));

    // Every 50th row gets a title, odd names included; some of those files
    // go away or turn into folders after the load; every 500th row gets a
    // name another file already has.
    std::set<std::int32_t> edited;
    int gone = 0;
    int taken = 0;
    for (std::int32_t row = 1; row <= folder.files.Count; row += 50) {
        folder.set(1, row, "タイトル " + std::to_string(row));
        edited.insert(row - 1);
        const std::string& path = folder.files.Items[static_cast<std::size_t>(row - 1)].Path;
        if (row % 400 == 1) {
            std::filesystem::remove(path);
            std::filesystem::create_directory(path);
            ++gone;
        }
    }
    for (std::int32_t row = 2; row < kFiles; row += 500) {
        folder.set(0, row, folder.cell(0, row + 1));
        ++taken;
    }
    for (std::int32_t row = kFiles + 1; row <= folder.files.Count; ++row) {
        folder.set(1, row, "odd");
        edited.insert(row - 1);
    }

    const morvik::TApplyOutcome outcome = folder.apply();
    EXPECT_FALSE(outcome.stopped) << outcome.stopped->toStdString();
    EXPECT_EQ(folder.rowsDone, folder.files.Count);
    EXPECT_EQ(outcome.writeFailures, gone);
    EXPECT_EQ(outcome.renameFailures, taken);
    for (std::int32_t i = 0; i < folder.files.Count; ++i) {
        const TFileList& record = folder.files.Items[static_cast<std::size_t>(i)];
        if (edited.count(i) == 0) {
            EXPECT_EQ(stateOf(record.Path), before[static_cast<std::size_t>(i)]) << record.Path;
        } else if (!std::filesystem::is_directory(record.Path)) {
            EXPECT_EQ(folder.cell(1, i + 1), utf8Bytes(record.Texts[tcTitle].text));
            EXPECT_EQ(record.HasTag, 1) << record.Path;
        }
    }
    EXPECT_EQ(readFile(dir.file("\x8b\xc8.mp3")).size(), tone.size() + 128);
    EXPECT_EQ(folder.cell(0, kFiles + 3), "曲.mp3");
    for (const std::string& name : oddNames)
        EXPECT_TRUE(fileExists(dir.file(name))) << "unchanged names are not renamed";
}

} // namespace
