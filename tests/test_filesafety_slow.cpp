// SIGKILL at random moments during 50 rewrites of a 50 MB MP3: 25 on the
// rename path (one name), 25 on the in-place path (two hard links). Every
// time the file is the old or the new one, or the next write finishes the
// interrupted copy; no temporary file is ever left.
#include "filesafetysupport.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace testsupport;
using filesafety::titleOf;
using filesafety::writeInterrupted;

TEST(FileSafetySlow, SigkillDuringFiftyRewritesOfAFiftyMegabyteFile)
{
    TempDir dir;
    const std::string audio = toneMp3(1.0);
    std::string big;
    while (big.size() < 50u << 20)
        big += audio;
    const std::string cli = shellQuote(cliPath());
    unsigned seed = 2024;
    for (const bool linked : {false, true}) {
        SCOPED_TRACE(linked ? "two hard links" : "one name");
        const std::string path = dir.file("k.mp3");
        writeFile(path, big);
        if (linked) {
            ASSERT_EQ(::link(path.c_str(), dir.file("k2.mp3").c_str()), 0);
        }
        const std::size_t names = linked ? 2 : 1;
        int landed = 0;
        for (int round = 0; round < 25; ++round) {
            seed = seed * 1103515245u + 12345u;
            const std::string title = "R" + std::to_string(round);
            writeFile(path, big);
            landed += writeInterrupted(path, title, SIGKILL, static_cast<int>((seed >> 16) % 400'000));
            if (listFolder(dir.path()).size() > names) {
                ASSERT_TRUE(linked) << "only the in-place path keeps a copy";
                const CommandResult r = run(cli + " write --v2 " + shellQuote(path) + " " + title + " a l y c 1 Pop 2>&1");
                EXPECT_NE(r.output.find("finished an interrupted write"), std::string::npos) << r.output;
            }
            ASSERT_EQ(listFolder(dir.path()).size(), names);
            const std::string data = readFile(path);
            ASSERT_GE(data.size(), big.size());
            EXPECT_EQ(data.compare(data.size() - big.size(), big.size(), big), 0);
            const std::string read = titleOf("--v2", path);
            EXPECT_TRUE(read == title || read.empty()) << read;
        }
        EXPECT_GT(landed, 0);
        ::unlink(dir.file("k2.mp3").c_str());
    }
}
