// Tag library speed: reading the tags of many small files (each view, and
// ten-frame tags behind a 30 KB picture), writing an ID3v2 tag in place
// versus by rewriting a large file, and `morvik-cli set` over many files in
// one process. Prints figures; asserts nothing.
// Usage: bench_mp3id [FOLDER] [FILES] [BIG_MB] [MORVIK_CLI]
#include "id3/mp3id.h"
#include "platform/bytes.h"

#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using morvik::TMP3id;
using morvik::TTagView;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct IoCounters {
    long long readBytes = 0, writtenBytes = 0, readCalls = 0, writeCalls = 0;
};

// The kernel's count of this process's I/O (bytes through read/write calls).
IoCounters ioCounters()
{
    IoCounters c;
    std::ifstream in("/proc/self/io");
    std::string key;
    long long value;
    while (in >> key >> value) {
        if (key == "rchar:") c.readBytes = value;
        else if (key == "wchar:") c.writtenBytes = value;
        else if (key == "syscr:") c.readCalls = value;
        else if (key == "syscw:") c.writeCalls = value;
    }
    return c;
}

std::string smallMp3()
{
    std::string tag = morvik::id3::buildId3v2Tag("Title", "Artist", "Album", "2024", "Comment", "7", "Pop");
    tag.append(200, '\0');
    const std::uint32_t size = static_cast<std::uint32_t>(tag.size() - 10);
    tag[9] = static_cast<char>(size & 0x7F);
    tag[8] = static_cast<char>((size >> 7) & 0x7F);
    std::string audio(3000, '\x55');
    std::string v1 = "TAG" + std::string(122, 'x') + std::string("\0\x07\x0d", 3);
    return tag + audio + v1;
}

void appendFrame(std::string& tag, const char* id, const std::string& body)
{
    char size[4];
    morvik::bytes::putBigEndian32(size, static_cast<std::uint32_t>(body.size()));
    tag += std::string(id, 4) + std::string(size, 4) + std::string(2, '\0') + body;
}

// A tag as current tools write it: a 30 KB picture first, a user text, then
// the eight frames, with room to spare.
std::string pictureMp3()
{
    std::string tag = "ID3" + std::string("\x03\0\0", 3) + std::string(4, '\0');
    appendFrame(tag, "APIC", std::string("\0image/jpeg\0\x03\0", 14) + std::string(30 * 1024, '\x77'));
    appendFrame(tag, "TXXX", std::string("\0MusicBrainz Album Id\0" "0f-12", 27));
    tag += morvik::id3::buildId3v2Tag("Title", "Artist", "Album", "2024", "Comment", "7", "Pop").substr(10);
    tag.append(500, '\0');
    morvik::bytes::putSyncSafe28(tag.data() + 6, static_cast<std::uint32_t>(tag.size() - 10));
    return tag + std::string(3000, '\x55');
}

// Runs `morvik-cli set --v2 title=... -- FILE...` over all the files in one
// process; the seconds it took.
double setAll(const std::string& cli, const std::vector<std::string>& paths, const std::string& title)
{
    std::vector<std::string> args = {cli, "set", "--v2", "title=" + title, "--"};
    args.insert(args.end(), paths.begin(), paths.end());
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const auto start = Clock::now();
    pid_t pid = 0;
    int status = 0;
    if (::posix_spawn(&pid, cli.c_str(), nullptr, nullptr, argv.data(), environ) != 0 || ::waitpid(pid, &status, 0) < 0 ||
        status != 0)
        std::printf("  (morvik-cli set failed, status %d)\n", status);
    return secondsSince(start);
}

void writeFile(const std::string& path, const std::string& data)
{
    std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
}

double readAll(const std::vector<std::string>& paths, TTagView view)
{
    const auto start = Clock::now();
    int found = 0;
    for (const auto& p : paths) {
        TMP3id tag(view, false);
        tag.Open(p, 0);
        found += tag.ReadTag();
        tag.Close();
    }
    const double s = secondsSince(start);
    if (found != static_cast<int>(paths.size()))
        std::printf("  (only %d of %zu files had a tag)\n", found, paths.size());
    return s;
}

void writeBig(const std::string& path, const std::string& title, const char* label, double mb)
{
    const IoCounters before = ioCounters();
    const auto start = Clock::now();
    TMP3id tag(TTagView::ID3v2, false);
    tag.Open(path, 2);
    tag.WriteTag(true, title, "Artist", "Album", "2024", "Comment", "1", "Pop", 0);
    tag.Close();
    const double s = secondsSince(start);
    const IoCounters after = ioCounters();
    std::printf("%-24s %8.4f s (%7.1f MB of file per s)  read %lld B in %lld calls, wrote %lld B in %lld calls\n",
                label, s, mb / s, after.readBytes - before.readBytes, after.readCalls - before.readCalls,
                after.writtenBytes - before.writtenBytes, after.writeCalls - before.writeCalls);
}

} // namespace

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    const fs::path folder = argc > 1 ? argv[1] : fs::temp_directory_path() / "morvik-bench-mp3id";
    const int files = argc > 2 ? std::atoi(argv[2]) : 10000;
    const int bigMb = argc > 3 ? std::atoi(argv[3]) : 50;
    fs::remove_all(folder);
    fs::create_directories(folder);

    const std::string data = smallMp3();
    std::vector<std::string> paths;
    for (int i = 0; i < files; ++i) {
        paths.push_back((folder / ("track" + std::to_string(i) + ".mp3")).string());
        writeFile(paths.back(), data);
    }
    readAll(paths, TTagView::ID3v1); // warm the cache
    for (auto [view, name] : {std::pair{TTagView::ID3v1, "ID3v1"}, std::pair{TTagView::ID3v2, "ID3v2"}}) {
        const double s = readAll(paths, view);
        std::printf("read %s tags of %d files: %.3f s, %.0f files/s\n", name, files, s, files / s);
    }

    const std::string picture = pictureMp3();
    for (const auto& p : paths)
        writeFile(p, picture);
    readAll(paths, TTagView::ID3v2); // warm the cache
    const double pictureSeconds = readAll(paths, TTagView::ID3v2);
    std::printf("read ID3v2 tags of ten frames behind a 30 KB picture, %d files: %.3f s, %.0f files/s\n", files,
                pictureSeconds, files / pictureSeconds);
    if (argc > 4) {
        setAll(argv[4], paths, "Warm");
        const double s = setAll(argv[4], paths, "A new title");
        std::printf("morvik-cli set --v2 title=... over %d files in one process (in place): %.3f s, %.0f files/s\n",
                    files, s, files / s);
    }

    const std::string big = (folder / "big.mp3").string();
    std::string bigData = smallMp3();
    bigData.resize(static_cast<std::size_t>(bigMb) << 20, '\x55');
    writeFile(big, bigData);
    writeBig(big, "A title that fits", "ID3v2 write in place:", bigMb);
    writeBig(big, std::string(3000, 't'), "ID3v2 write by rewrite:", bigMb);
    fs::remove_all(folder);
    return 0;
}
