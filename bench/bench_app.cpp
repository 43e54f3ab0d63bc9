// Speed of the editor window on a folder of many MP3 files: the folder load
// into the grid, and the apply of a title change to every row, in the ID3v1
// view and in the ID3v2 view (tags rewritten in place). Prints figures only.
// Usage: bench_app [FILES] (default 5000); runs on Qt's offscreen platform
// unless QT_QPA_PLATFORM says otherwise.
#include "app/Unit1.h"
#include "id3/mp3id.h"

#include <QApplication>
#include <QElapsedTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

using morvik::TMP3id;
using morvik::TTagView;

namespace {

// Four silent MPEG-1 Layer III frames (128 kbit/s, 44.1 kHz): 417 bytes each.
std::string silentMp3()
{
    std::string frame(417, '\0');
    frame[0] = '\xFF';
    frame[1] = '\xFB';
    frame[2] = '\x90';
    frame[3] = '\x00';
    return frame + frame + frame + frame;
}

void writeTag(const std::string& path, TTagView view, const std::string& title)
{
    TMP3id reader(view, false);
    reader.Open(path, 0);
    const bool hasTag = reader.ReadTag();
    reader.Close();
    TMP3id writer(view, false);
    writer.Open(path, 2);
    writer.WriteTag(hasTag, title, "Bench Artist", "Bench Album", "2024", "comment", "7", "Rock", reader.TagPosition());
    writer.Close();
}

std::string titleOf(const std::string& path, TTagView view)
{
    TMP3id tag(view, false);
    tag.Open(path, 0);
    tag.ReadTag();
    tag.Close();
    return tag.Title();
}

double secondsOf(const QElapsedTimer& timer) { return static_cast<double>(timer.nsecsElapsed()) / 1e9; }

void setAllTitles(TForm1& form, const char* prefix)
{
    for (int row = 1; row <= form.Files.Count; ++row)
        form.sg->SetCells(1, row, QStringLiteral("%1 %2").arg(QLatin1String(prefix)).arg(row, 5, 10, QLatin1Char('0')));
}

std::uintmax_t folderBytes(const std::filesystem::path& folder)
{
    std::uintmax_t total = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        total += entry.file_size();
    return total;
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 5000;
    if (!std::getenv("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/morvik-bench-app-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        return 1;
    const std::filesystem::path root = pattern;
    const std::filesystem::path music = root / "music";
    std::filesystem::create_directories(music);
    const std::string audio = silentMp3();
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "track%05d.mp3", i);
        const std::string path = (music / name).string();
        std::ofstream(path, std::ios::binary) << audio;
        writeTag(path, TTagView::ID3v1, "Original title");
        writeTag(path, TTagView::ID3v2, "Original title");
    }
    std::ofstream(root / "tag.ini") << "[women]\ndefdir=" << music.string() << "\ntagv=1\n";

    QElapsedTimer timer;
    timer.start();
    TForm1 form(QString::fromStdString(root.string()));
    form.show();
    QApplication::processEvents();
    const double startup = secondsOf(timer);

    timer.restart();
    form.Refresh1Click();
    QApplication::processEvents();
    const double loadV1 = secondsOf(timer);
    const int rows = form.Files.Count;

    setAllTitles(form, "Title v1");
    timer.restart();
    form.ToolButton2Click();
    const double applyV1 = secondsOf(timer);
    char lastName[32];
    std::snprintf(lastName, sizeof lastName, "track%05d.mp3", count - 1);
    const std::string sample = (music / lastName).string();
    const std::string v1Title = titleOf(sample, TTagView::ID3v1);

    timer.restart();
    form.v2btn->trigger();
    QApplication::processEvents();
    const double loadV2 = secondsOf(timer);

    const std::uintmax_t bytesBefore = folderBytes(music);
    setAllTitles(form, "Title v2");
    timer.restart();
    form.ToolButton2Click();
    const double applyV2 = secondsOf(timer);
    const bool inPlace = folderBytes(music) == bytesBefore;
    const std::string v2Title = titleOf(sample, TTagView::ID3v2);

    std::printf("files in folder:                     %d (rows loaded %d)\n", count, rows);
    std::printf("start-up (window and its loads):     %.3f s\n", startup);
    std::printf("load, ID3v1 view (F5):               %.3f s  (target 2 s)\n", loadV1);
    std::printf("apply title to all rows, ID3v1:      %.3f s  (target 10 s)\n", applyV1);
    std::printf("load, ID3v2 view (button):           %.3f s  (target 2 s)\n", loadV2);
    std::printf("apply title to all rows, ID3v2:      %.3f s  (target 10 s; in place: %s)\n", applyV2,
                inPlace ? "yes" : "no");
    std::printf("last file after the applies:         ID3v1 \"%s\", ID3v2 \"%s\"\n", v1Title.c_str(), v2Title.c_str());
    std::printf("status after apply:                  %s\n", form.PanelText(2).toStdString().c_str());

    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    return 0;
}
