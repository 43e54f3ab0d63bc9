// The user's files under attack from the file system's side: wrong tag
// sizes, links, owners and attributes, signals, full disks, records that are
// not ID3v1, and paths that are not files. Driven through morvik-cli as the
// user would, and through TMP3id as the window does.
#include "id3/mp3id.h"
#include "platform/profilefile.h"
#include "platform/signals.h"

#include "filesafetysupport.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

using namespace testsupport;
using filesafety::titleOf;
using filesafety::writeInterrupted;

namespace {

std::string cli() { return shellQuote(cliPath()); }

// morvik-cli write with the usual texts; returns the exit status.
int cliWrite(const std::string& view, const std::string& path, const std::string& title = "New",
             const std::string& redirect = "2>/dev/null")
{
    return run(cli() + " write " + view + " " + shellQuote(path) + " " + shellQuote(title) +
               " Ar Al 2001 Co 7 Pop " + redirect).status;
}

std::string cliRead(const std::string& view, const std::string& path)
{
    return run(cli() + " read " + view + " " + shellQuote(path)).output;
}

std::string pcmOf(const std::string& path)
{
    return run(cli() + " decode " + shellQuote(path) + " - 2>/dev/null").output;
}

std::string header(const std::string& sizeBytes) { return "ID3" + bytes({3, 0, 0}) + sizeBytes; }

struct stat statOf(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

} // namespace

// A size field past the end of the file, or with high bits set, must not make
// the rewrite drop the audio: the audio the player finds survives, and a file
// with no audio at all is refused and left as it was.
TEST(FileSafety, RewriteKeepsTheAudioWhenTheOldTagSizeIsWrong)
{
    TempDir dir;
    const std::string audio = toneMp3(0.5);
    writeFile(dir.file("plain.mp3"), audio);
    const std::string plainPcm = pcmOf(dir.file("plain.mp3"));
    ::unlink(dir.file("plain.mp3").c_str());
    ASSERT_FALSE(plainPcm.empty());
    const std::string frames = "TIT2" + bytes({0, 0, 0, 4, 0, 0, 0}) + "old";
    struct Case {
        const char* name;
        std::string sizeBytes;
    };
    const Case cases[] = {
        {"size past the end", syncsafe(50'000'000)},
        {"high bits 08 80 00 00", bytes({0x08, 0x80, 0, 0})},
        {"FF FF FF FF", bytes({0xFF, 0xFF, 0xFF, 0xFF})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("a.mp3");
        writeFile(path, header(c.sizeBytes) + frames + audio);
        const std::string pcmBefore = pcmOf(path);
        ASSERT_EQ(cliWrite("--v2", path), 0);
        const std::string data = readFile(path);
        ASSERT_GE(data.size(), audio.size());
        EXPECT_EQ(data.substr(data.size() - audio.size()), audio) << "every audio byte kept";
        EXPECT_EQ(titleOf("--v2", path), "New");
        EXPECT_EQ(pcmOf(path), plainPcm);
        EXPECT_EQ(pcmBefore, plainPcm);
    }
    const std::string path = dir.file("noaudio.mp3");
    const std::string junk = header(bytes({0xFF, 0xFF, 0xFF, 0xFF})) + frames + std::string(5000, 'j');
    writeFile(path, junk);
    EXPECT_EQ(cliWrite("--v2", path), 1);
    EXPECT_EQ(readFile(path), junk);
    EXPECT_EQ(listFolder(dir.path()), (std::vector<std::string>{"a.mp3", "noaudio.mp3"}));
}

// Symbolic and hard links on both write paths (the ID3v1 record in place,
// the ID3v2 rewrite): every name sees the new tag, the link stays a link, the
// link count stays, and no temporary file remains.
TEST(FileSafety, LinksKeepTheirShapeAndEveryNameSeesTheNewTag)
{
    const std::string audio = toneMp3(0.3);
    for (const char* view : {"--v1", "--v2"}) {
        SCOPED_TRACE(view);
        {
            TempDir dir;
            writeFile(dir.file("a.mp3"), audio);
            ASSERT_EQ(::symlink("a.mp3", dir.file("link.mp3").c_str()), 0);
            ASSERT_EQ(cliWrite(view, dir.file("link.mp3")), 0);
            EXPECT_TRUE(S_ISLNK(statOf(dir.file("link.mp3")).st_mode));
            EXPECT_EQ(titleOf(view, dir.file("a.mp3")), "New");
            EXPECT_EQ(titleOf(view, dir.file("link.mp3")), "New");
            EXPECT_EQ(listFolder(dir.path()), (std::vector<std::string>{"a.mp3", "link.mp3"}));
        }
        {
            TempDir dir;
            writeFile(dir.file("a.mp3"), audio);
            ASSERT_EQ(::link(dir.file("a.mp3").c_str(), dir.file("b.mp3").c_str()), 0);
            const ino_t inode = statOf(dir.file("a.mp3")).st_ino;
            ASSERT_EQ(cliWrite(view, dir.file("a.mp3")), 0);
            EXPECT_EQ(titleOf(view, dir.file("b.mp3")), "New");
            EXPECT_EQ(statOf(dir.file("a.mp3")).st_nlink, 2u);
            EXPECT_EQ(statOf(dir.file("b.mp3")).st_ino, inode);
            EXPECT_EQ(listFolder(dir.path()), (std::vector<std::string>{"a.mp3", "b.mp3"}));
            const std::string data = readFile(dir.file("b.mp3"));
            EXPECT_NE(data.find(audio.substr(0, 4096)), std::string::npos);
        }
    }
}

// Owner, group, mode, an extended attribute and an ACL survive the rewrite.
TEST(FileSafety, RewriteKeepsOwnerGroupModeXattrsAndAcl)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give the file to nobody";
    const passwd* nobody = ::getpwnam("nobody");
    const group* nogroup = ::getgrnam("nogroup");
    if (!nobody || !nogroup)
        GTEST_SKIP() << "no user nobody or group nogroup";
    TempDir dir;
    const std::string path = dir.file("a.mp3");
    writeFile(path, toneMp3(0.3));
    ASSERT_EQ(::chown(path.c_str(), nobody->pw_uid, nogroup->gr_gid), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0664), 0);
    if (::setxattr(path.c_str(), "user.rating", "5", 1, 0) != 0)
        GTEST_SKIP() << "no user xattrs on this file system";
    // user::rw-, user:nobody:rw-, group::r--, mask::rw-, other::r--
    const std::string acl = le32(2) + bytes({1, 0, 6, 0}) + le32(0xFFFFFFFF) + bytes({2, 0, 6, 0}) +
                            le32(nobody->pw_uid) + bytes({4, 0, 4, 0}) + le32(0xFFFFFFFF) +
                            bytes({0x10, 0, 6, 0}) + le32(0xFFFFFFFF) + bytes({0x20, 0, 4, 0}) + le32(0xFFFFFFFF);
    const bool haveAcl = ::setxattr(path.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) == 0;
    const mode_t modeBefore = statOf(path).st_mode;

    ASSERT_EQ(cliWrite("--v2", path), 0);
    const struct stat st = statOf(path);
    EXPECT_EQ(st.st_uid, nobody->pw_uid);
    EXPECT_EQ(st.st_gid, nogroup->gr_gid);
    EXPECT_EQ(st.st_mode, modeBefore);
    char value[16] = {};
    EXPECT_EQ(::getxattr(path.c_str(), "user.rating", value, sizeof value), 1);
    EXPECT_EQ(value[0], '5');
    if (haveAcl) {
        std::string got(256, '\0');
        const ssize_t n = ::getxattr(path.c_str(), "system.posix_acl_access", got.data(), got.size());
        ASSERT_GT(n, 0);
        got.resize(static_cast<std::size_t>(n));
        EXPECT_EQ(got, acl);
    }
    EXPECT_EQ(titleOf("--v2", path), "New");
}

// Where a rename cannot keep the identity (an owner the process may not
// give, a folder it may not create files in), the file is written in place,
// through a complete copy kept under $XDG_CACHE_HOME/morvik meanwhile.
TEST(FileSafety, InPlaceRewriteWhereARenameCannotKeepTheIdentity)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run the writer as nobody";
    const passwd* nobody = ::getpwnam("nobody");
    const group* nogroup = ::getgrnam("nogroup");
    if (!nobody || !nogroup)
        GTEST_SKIP() << "no user nobody or group nogroup";
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string cache = dir.file("cache");
    ASSERT_EQ(::mkdir(cache.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(cache.c_str(), 0777), 0);
    const std::string audio = toneMp3(0.3);
    const std::string asNobody = "setpriv --reuid=nobody --regid=nogroup --clear-groups env XDG_CACHE_HOME=" +
                                 shellQuote(cache) + " ";
    struct Case {
        const char* name;
        std::string folder;
        uid_t owner;
    };
    // Root's folder where nobody may not create files; nobody's folder with
    // a file owned by root and writable by the group nogroup.
    const std::string open = dir.file("open");
    ASSERT_EQ(::mkdir(open.c_str(), 0755), 0);
    ASSERT_EQ(::chown(open.c_str(), nobody->pw_uid, nogroup->gr_gid), 0);
    const Case cases[] = {
        {"folder not writable", dir.path(), nobody->pw_uid},
        {"owner cannot be given", open, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = c.folder + "/s.mp3";
        writeFile(path, audio);
        ASSERT_EQ(::chown(path.c_str(), c.owner, nogroup->gr_gid), 0);
        ASSERT_EQ(::chmod(path.c_str(), 0664), 0);
        const ino_t inode = statOf(path).st_ino;
        const int status = run(asNobody + cli() + " write --v2 " + shellQuote(path) + " New a l y c 1 Pop").status;
        ASSERT_EQ(status, 0);
        EXPECT_EQ(titleOf("--v2", path), "New");
        const struct stat st = statOf(path);
        EXPECT_EQ(st.st_ino, inode);
        EXPECT_EQ(st.st_uid, c.owner);
        EXPECT_EQ(st.st_mode & 07777, 0664u);
        EXPECT_EQ(readFile(path).substr(readFile(path).size() - audio.size()), audio);
        EXPECT_TRUE(listFolder(cache + "/morvik").empty());
    }
}

// Signals during a rewrite of a large file leave the old or the new file
// and nothing else; so does a file-size limit with SIGXFSZ at its default.
TEST(FileSafety, SignalsAndSizeLimitsLeaveNoDebris)
{
    TempDir dir;
    const std::string path = dir.file("big.mp3");
    const std::string audio = toneMp3(0.3);
    std::string big;
    while (big.size() < 30u << 20)
        big += audio;
    writeFile(path, big);
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(sig);
        // Growing delays until one signal lands in the middle of a rewrite.
        bool landed = false;
        for (int us = 0; us <= 200'000 && !landed; us += 10'000) {
            landed = writeInterrupted(path, "t", sig, us);
            EXPECT_EQ(listFolder(dir.path()), std::vector<std::string>{"big.mp3"});
            const std::string data = readFile(path);
            ASSERT_GE(data.size(), big.size());
            EXPECT_EQ(data.substr(data.size() - big.size()), big);
        }
        EXPECT_TRUE(landed) << "no signal arrived during a rewrite";
    }
    writeFile(path, big);
    const CommandResult r = run("sh -c " + shellQuote("ulimit -f 2000; exec " + cli() + " write --v2 " + shellQuote(path) +
                                                      " t a l y c 1 Pop 2>&1"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("File too large"), std::string::npos) << r.output;
    EXPECT_EQ(readFile(path), big);
    EXPECT_EQ(listFolder(dir.path()), std::vector<std::string>{"big.mp3"});
}

// SIGKILL at random moments of rewrites, on both the rename path and the
// in-place path (two hard links): every time each name holds the old or the
// new file, or the next write finishes the interrupted copy and says so.
TEST(FileSafety, KillAtRandomMomentsLeavesOldOrNewFile)
{
    TempDir dir;
    const std::string audio = toneMp3(0.3);
    std::string big;
    while (big.size() < 16u << 20)
        big += audio;
    for (const bool linked : {false, true}) {
        SCOPED_TRACE(linked ? "two hard links" : "one name");
        const std::string path = dir.file("k.mp3");
        writeFile(path, big);
        if (linked) {
            ASSERT_EQ(::link(path.c_str(), dir.file("k2.mp3").c_str()), 0);
        }
        unsigned seed = 12345;
        int landed = 0;
        for (int round = 0; round < 8; ++round) {
            seed = seed * 1103515245u + 12345u;
            const int delayUs = static_cast<int>((seed >> 16) % 40'000);
            const std::string title = "R" + std::to_string(round);
            writeFile(path, big); // untagged, so every write is a whole rewrite
            landed += writeInterrupted(path, title, SIGKILL, delayUs);
            const std::vector<std::string> names = listFolder(dir.path());
            const bool unfinished = names.size() > (linked ? 2u : 1u);
            if (unfinished) {
                ASSERT_TRUE(linked) << "only the in-place path keeps a copy";
                const CommandResult r = run(cli() + " write --v2 " + shellQuote(path) + " " + title +
                                            " a l y c 1 Pop 2>&1");
                EXPECT_EQ(r.status, 0);
                EXPECT_NE(r.output.find("finished an interrupted write"), std::string::npos) << r.output;
            }
            EXPECT_EQ(listFolder(dir.path()).size(), linked ? 2u : 1u);
            const std::string data = readFile(path);
            ASSERT_GE(data.size(), big.size());
            EXPECT_EQ(data.substr(data.size() - big.size()), big);
            const std::string read = titleOf("--v2", path);
            EXPECT_TRUE(read == title || read.empty()) << read;
            if (linked) {
                EXPECT_EQ(readFile(dir.file("k2.mp3")), data);
            }
        }
        EXPECT_GT(landed, 0) << "no SIGKILL arrived during a rewrite";
        ::unlink(dir.file("k2.mp3").c_str());
    }
}

// A full disk during the append of an ID3v1 record leaves the file as long
// as it was, without a half record reading as a tag.
TEST(FileSafety, FullDiskId3v1AppendLeavesTheLengthUnchanged)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to mount a small tmpfs";
    TempDir dir;
    const std::string mnt = dir.file("mnt");
    ASSERT_EQ(::mkdir(mnt.c_str(), 0755), 0);
    // The file ends 60 bytes before a page boundary and the disk is full, so
    // the 128-byte record is written in part before ENOSPC.
    const std::string script =
        "set -e; mount -t tmpfs -o size=256k tmpfs " + shellQuote(mnt) + " || exit 77; cd " + shellQuote(mnt) +
        "; head -c " + std::to_string(8 * 4096 - 60) + " /dev/urandom > a.mp3; "
        "dd if=/dev/zero of=fill bs=4096 2>/dev/null || true; before=$(stat -c %s a.mp3); "
        "if " + cli() + " write --v1 a.mp3 Title a l y c 1 Pop 2>/dev/null; then echo wrote; fi; "
        "after=$(stat -c %s a.mp3); echo $before $after; " + cli() + " read a.mp3 | cut -f2; cd /; umount " + shellQuote(mnt);
    const CommandResult r = run("unshare -m sh -c " + shellQuote(script));
    if (r.status == 77)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    const std::string n = std::to_string(8 * 4096 - 60);
    EXPECT_EQ(r.output, n + " " + n + "\n0\n");
}

// The record at exactly 128 bytes before the end is the record; an APEv2
// footer's "APETAGEX" is not one, and a new record goes after the APE tag.
TEST(FileSafety, TheRightId3v1Record)
{
    TempDir dir;
    const std::string path = dir.file("a.mp3");
    const std::string audio = toneMp3(0.2);
    std::string record = "TAGReal";
    record.resize(128, ' ');
    writeFile(path, audio + "xxTAGearly" + record);
    EXPECT_EQ(titleOf("--v1", path).substr(0, 4), "Real");
    ASSERT_EQ(cliWrite("--v1", path), 0);
    EXPECT_EQ(readFile(path).substr(0, audio.size() + 10), audio + "xxTAGearly");
    EXPECT_EQ(titleOf("--v1", path), "New");

    // An APEv2 tag: one item and the 32-byte footer.
    const std::string item = le32(3) + le32(0) + "Title" + std::string(1, '\0') + "abc";
    const std::string footer = "APETAGEX" + le32(2000) + le32(static_cast<std::uint32_t>(item.size() + 32)) + le32(1) +
                               le32(0) + std::string(8, '\0');
    writeFile(path, audio + item + footer);
    EXPECT_EQ(cliRead("--v1", path).substr(path.size(), 3), "\t0\t");
    ASSERT_EQ(cliWrite("--v1", path), 0);
    const std::string data = readFile(path);
    ASSERT_EQ(data.size(), audio.size() + item.size() + footer.size() + 128);
    EXPECT_EQ(data.substr(0, audio.size() + item.size() + footer.size()), audio + item + footer);
    EXPECT_EQ(titleOf("--v1", path), "New");
}

// Past 4 GiB the record's position does not wrap, and the write lands on
// the record, not in the audio (a sparse file, so nothing large is written).
TEST(FileSafety, RecordPositionBeyondFourGibibytes)
{
    TempDir dir;
    const std::string path = dir.file("huge.mp3");
    const std::int64_t audioSize = (std::int64_t{1} << 32) + 1000;
    std::string record = "TAGOld";
    record.resize(128, ' ');
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, record.data(), record.size(), audioSize), 128);
        ::close(fd);
    }
    const std::string line = cliRead("--v1", path);
    EXPECT_EQ(line.substr(line.rfind('\t') + 1), std::to_string(audioSize + 3) + "\n");
    ASSERT_EQ(cliWrite("--v1", path), 0);
    EXPECT_EQ(statOf(path).st_size, audioSize + 128);
    EXPECT_EQ(titleOf("--v1", path), "New");
    // Below the record, and where a position cut to 32 bits would point.
    const int fd = ::open(path.c_str(), O_RDONLY);
    for (const std::int64_t at : {audioSize - 8, std::int64_t{1000}}) {
        char probe[8] = {1};
        ASSERT_EQ(::pread(fd, probe, sizeof probe, at), 8);
        EXPECT_EQ(std::string(probe, 8), std::string(8, '\0')) << "audio at " << at << " untouched";
    }
    ::close(fd);
}

// A FIFO and a link to /dev/zero are answered at once: no tag, errors.
TEST(FileSafety, PathsThatAreNotFilesNeverBlock)
{
    TempDir dir;
    const std::string fifo = dir.file("x.mp3");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const std::string zero = dir.file("zero.mp3");
    ASSERT_EQ(::symlink("/dev/zero", zero.c_str()), 0);
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& p : {fifo, zero}) {
        SCOPED_TRACE(p);
        const CommandResult read = run("timeout 5 " + cli() + " read --v2 " + shellQuote(p));
        EXPECT_EQ(read.status, 0);
        EXPECT_EQ(read.output.substr(p.size(), 3), "\t0\t");
        EXPECT_EQ(run("timeout 5 " + cli() + " write --v2 " + shellQuote(p) + " t a l y c 1 Pop 2>/dev/null").status, 1);
        EXPECT_EQ(run("timeout 5 " + cli() + " write --v1 " + shellQuote(p) + " t a l y c 1 Pop 2>/dev/null").status, 1);
        const int decode = run("timeout 5 " + cli() + " decode " + shellQuote(p) + " /dev/null 2>/dev/null").status;
        EXPECT_NE(decode, 124) << "decode blocked";
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(listFolder(dir.path()), (std::vector<std::string>{"x.mp3", "zero.mp3"}));
}

// "tag.ini" that cannot be read is not wiped; a read-only one is not
// replaced; a symbolic link is written through; the mode is kept.
TEST(FileSafety, SettingsFileIsNeverWiped)
{
    TempDir dir;
    const std::string ini = dir.file("tag.ini");
    const std::string text = "[Main]\nKeepDate=1\n[Other]\nx=y\n";

    if (::geteuid() == 0 && ::getpwnam("nobody")) {
        // Unreadable: written by nobody, who may write it but not read it.
        const passwd* nobody = ::getpwnam("nobody");
        writeFile(ini, text);
        ASSERT_EQ(::chown(ini.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        ASSERT_EQ(::chmod(ini.c_str(), 0200), 0);
        ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0)
                ::_exit(3);
            morvik::TProfileFile file(ini);
            ::_exit(file.WriteString("Main", "Width", "5") ? 1 : 0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the write must fail";
        EXPECT_EQ(readFile(ini), text);
        ::unlink(ini.c_str());
    }

    writeFile(ini, text);
    ASSERT_EQ(::chmod(ini.c_str(), 0444), 0);
    morvik::TProfileFile file(ini);
    EXPECT_FALSE(file.WriteString("Main", "Width", "5"));
    EXPECT_EQ(readFile(ini), text);
    EXPECT_EQ(statOf(ini).st_mode & 0777, 0444u);
    ::unlink(ini.c_str());

    const std::string real = dir.file("real.ini");
    writeFile(real, text);
    ASSERT_EQ(::chmod(real.c_str(), 0600), 0);
    ASSERT_EQ(::symlink("real.ini", ini.c_str()), 0);
    EXPECT_TRUE(file.WriteString("Main", "Width", "5"));
    EXPECT_TRUE(S_ISLNK(statOf(ini).st_mode));
    EXPECT_EQ(file.ReadString("Main", "Width", ""), "5");
    EXPECT_EQ(file.ReadString("Other", "x", ""), "y");
    EXPECT_EQ(statOf(real).st_mode & 0777, 0600u);
}

// An in-place rewrite cut short leaves its complete content under a name
// that names the file; the next write copies it over the file first and
// says so, then writes its own tag.
TEST(FileSafety, InterruptedInPlaceRewriteIsFinishedByTheNextWrite)
{
    TempDir dir;
    const std::string path = dir.file("s.mp3");
    const std::string audio = toneMp3(0.3);
    writeFile(path, audio);
    ASSERT_EQ(::link(path.c_str(), dir.file("t.mp3").c_str()), 0);
    struct statx sx {};
    ASSERT_EQ(::statx(AT_FDCWD, path.c_str(), 0, STATX_INO | STATX_BTIME, &sx), 0);
    const auto hex = [](std::uint64_t v) {
        char text[32];
        std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(v));
        return std::string(text);
    };
    const bool birth = sx.stx_mask & STATX_BTIME;
    const std::string journal =
        dir.file(".s.mp3.morvik-unfinished-" + hex((std::uint64_t{sx.stx_dev_major} << 32) | sx.stx_dev_minor) + "-" +
                 hex(sx.stx_ino) + "-" + hex(birth ? static_cast<std::uint64_t>(sx.stx_btime.tv_sec) : 0) + "." +
                 hex(birth ? sx.stx_btime.tv_nsec : 0));
    // What the interrupted write was writing, and the file half copied.
    const std::string complete = morvik::id3::buildId3v2Tag("Old", "a", "l", "y", "c", "1", "Pop") + audio;
    writeFile(journal, complete);
    writeFile(path, complete.substr(0, 3000) + audio.substr(3000 - (complete.size() - audio.size())));

    const CommandResult r = run(cli() + " write --v2 " + shellQuote(path) + " New a l y c 1 Pop 2>&1");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("finished an interrupted write"), std::string::npos) << r.output;
    EXPECT_EQ(titleOf("--v2", dir.file("t.mp3")), "New");
    const std::string data = readFile(path);
    EXPECT_EQ(data.substr(data.size() - audio.size()), audio);
    EXPECT_EQ(listFolder(dir.path()), (std::vector<std::string>{"s.mp3", "t.mp3"}));
}

// The named temporary file (file systems without O_TMPFILE) is removed when
// SIGTERM ends the process, which still dies of SIGTERM.
TEST(FileSafety, NamedTemporaryFileIsRemovedOnSigterm)
{
    TempDir dir;
    const std::string name = dir.file(".morvik-named");
    const pid_t child = ::fork();
    if (child == 0) {
        writeFile(name, "partial");
        morvik::removeOnSignal(name);
        ::raise(SIGTERM);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_TRUE(listFolder(dir.path()).empty());
}
