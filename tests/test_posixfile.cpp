#include "platform/posixfile.h"

#include "testsupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>

using morvik::PosixFile;
using morvik::TempFileBeside;
using morvik::renameNoReplace;
using namespace testsupport;

namespace {

using Names = std::vector<std::string>;

timespec modificationTimeOf(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mtim;
}

TEST(TempFileBeside, CommitReplacesTheTargetAndLeavesNothingElse)
{
    TempDir dir;
    const std::string target = dir.file("song.mp3");
    writeFile(target, "old");
    {
        TempFileBeside temp(target);
        ASSERT_TRUE(temp.valid());
        EXPECT_EQ(morvik::folderOf(temp.path()), dir.path() + "/");
        ASSERT_TRUE(temp.file().write("new bytes", 9));
        EXPECT_EQ(readFile(target), "old"); // untouched until the commit
        ASSERT_TRUE(temp.commitTo(target));
    }
    EXPECT_EQ(readFile(target), "new bytes");
    EXPECT_EQ(listFolder(dir.path()), Names({"song.mp3"}));
}

TEST(TempFileBeside, FailuresLeaveNoDebris)
{
    TempDir dir;
    const std::string target = dir.file("song.mp3");
    writeFile(target, "old");

    {
        TempFileBeside abandoned(target);
        ASSERT_TRUE(abandoned.valid());
        abandoned.file().write("half", 4);
    }
    EXPECT_EQ(listFolder(dir.path()), Names({"song.mp3"})) << "dropped without a commit";

    {
        TempFileBeside temp(target);
        ASSERT_TRUE(temp.valid());
        temp.file().write("new", 3);
        EXPECT_FALSE(temp.commitTo(dir.file("missing/song.mp3")));
        EXPECT_EQ(temp.error(), ENOENT);
    }
    EXPECT_EQ(listFolder(dir.path()), Names({"song.mp3"})) << "commit to a folder that is not there";
    EXPECT_EQ(readFile(target), "old");

    TempFileBeside nowhere(dir.file("missing/song.mp3"));
    EXPECT_FALSE(nowhere.valid());
    EXPECT_EQ(nowhere.error(), ENOENT);
    EXPECT_FALSE(nowhere.commitTo(target));
    EXPECT_EQ(readFile(target), "old");
}

TEST(TempFileBeside, KeepsTheTimeAndPermissionsItWasGiven)
{
    TempDir dir;
    const std::string target = dir.file("song.mp3");
    writeFile(target, "old");
    const timespec then{1'000'000'000, 123'456'789};
    {
        TempFileBeside temp(target);
        ASSERT_TRUE(temp.valid());
        temp.file().write("new", 3);
        ASSERT_TRUE(temp.file().setPermissions(0640));
        ASSERT_TRUE(temp.file().setModificationTime(then));
        ASSERT_TRUE(temp.commitTo(target));
    }
    const timespec now = modificationTimeOf(target);
    EXPECT_EQ(now.tv_sec, then.tv_sec);
    EXPECT_EQ(now.tv_nsec, then.tv_nsec);
    PosixFile file = PosixFile::open(target, PosixFile::Mode::ReadOnly);
    EXPECT_EQ(file.permissions(), 0640u);
}

TEST(RenameNoReplace, RefusesAnExistingTargetAndKeepsTimes)
{
    TempDir dir;
    writeFile(dir.file("a.mp3"), "A");
    writeFile(dir.file("b.mp3"), "B");
    EXPECT_EQ(renameNoReplace(dir.file("a.mp3"), dir.file("b.mp3")), EEXIST);
    EXPECT_EQ(readFile(dir.file("a.mp3")), "A");
    EXPECT_EQ(readFile(dir.file("b.mp3")), "B");

    EXPECT_EQ(renameNoReplace(dir.file("missing.mp3"), dir.file("c.mp3")), ENOENT);
    EXPECT_FALSE(fileExists(dir.file("c.mp3")));

    {
        PosixFile file = PosixFile::open(dir.file("a.mp3"), PosixFile::Mode::ReadWrite);
        ASSERT_TRUE(file.setModificationTime(timespec{946'684'800, 500}));
    }
    EXPECT_EQ(renameNoReplace(dir.file("a.mp3"), dir.file("c.mp3")), 0);
    EXPECT_EQ(listFolder(dir.path()), Names({"b.mp3", "c.mp3"}));
    EXPECT_EQ(readFile(dir.file("c.mp3")), "A");
    EXPECT_EQ(modificationTimeOf(dir.file("c.mp3")).tv_sec, 946'684'800);
    EXPECT_EQ(modificationTimeOf(dir.file("c.mp3")).tv_nsec, 500);
}

TEST(PosixFile, ReadsStopAtTheEndWithoutAnError)
{
    TempDir dir;
    writeFile(dir.file("f"), "0123456789");
    PosixFile file = PosixFile::open(dir.file("f"), PosixFile::Mode::ReadOnly);
    ASSERT_TRUE(file.valid());
    EXPECT_EQ(file.size(), 10);
    char buffer[16] = {};
    std::size_t got = 99;
    EXPECT_TRUE(file.readAt(6, buffer, sizeof buffer, &got));
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(std::string(buffer, got), "6789");
    EXPECT_EQ(file.lastError(), 0);
    EXPECT_FALSE(file.readAt(-1, buffer, 1, &got));
    EXPECT_EQ(got, 0u);
    EXPECT_FALSE(file.write("x", 1)) << "written through a read-only descriptor";
    EXPECT_EQ(file.lastError(), EBADF);

    PosixFile missing = PosixFile::open(dir.file("none"), PosixFile::Mode::ReadOnly);
    EXPECT_FALSE(missing.valid());
    EXPECT_EQ(missing.lastError(), ENOENT);
    EXPECT_EQ(missing.size(), -1);
}

} // namespace
