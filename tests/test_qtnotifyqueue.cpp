// The notification queue on Qt's event loop: messages posted from any thread
// run on the main thread, posting once coalesces, removePending takes
// waiting messages back; and the player on it delivers its end of play.
#include "platform/qtnotifyqueue.h"

#include "compo/mp3plyr.h"
#include "compo/notifyqueue.h"
#include "compo/stream.h"
#include "platform/waveoutfake.h"

#include "qttestapp.h"
#include "testsupport.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace morvik;

namespace {

// Runs the event loop until `done` or 20 s have passed.
template <class Done>
bool processUntil(Done done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

TEST(QtNotifyQueue, WorkerPostsRunOnTheMainThreadCoalescedAndTakenBack)
{
    testApplication();
    QtNotifyQueue queue;
    std::vector<std::uint32_t> seen;
    bool onMainThread = true;
    const auto main = std::this_thread::get_id();
    queue.setHandler([&](std::uint32_t n, std::uintptr_t w, std::intptr_t) {
        onMainThread = onMainThread && std::this_thread::get_id() == main;
        seen.push_back(n * 10 + static_cast<std::uint32_t>(w));
    });
    std::thread worker([&] {
        queue.postOnce(1, 1, 0);
        queue.postOnce(1, 2, 0); // one is already waiting
        queue.post(2, 1, 0);
        queue.post(2, 2, 0);
        queue.post(3, 0, 0);
    });
    worker.join();
    queue.removePending(3);
    EXPECT_EQ(queue.pendingCount(), 3u);
    ASSERT_TRUE(processUntil([&] { return seen.size() == 3; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{11, 21, 22}));
    EXPECT_TRUE(onMainThread);
    EXPECT_EQ(queue.pendingCount(), 0u);
}

TEST(QtNotifyQueue, ThePlayerEndsPlayOnTheEventLoop)
{
    testApplication();
    QtNotifyQueue window;
    NotifyQueueOn<QtNotifyQueue> queue(window);
    waveout::FakeWaveOut fake;
    TMP3Player player(queue, fake);
    player.LoadFormValues();
    std::vector<int> ends;
    player.OnEndPlay = [&](TMP3Player*, TMP3EndPlayReason r) { ends.push_back(r); };
    player.OpenStream(new TMPMemoryStream(testsupport::toneMp3(0.3)), mpsfSeekable | mpsfOwned);
    EXPECT_EQ(player.Status(), mpsPlaying);
    ASSERT_TRUE(processUntil([&] {
        fake.releaseBlock();
        return !ends.empty();
    }));
    EXPECT_EQ(ends, std::vector<int>{meprEndOfFile});
    EXPECT_EQ(player.Status(), mpsStopped);
}

} // namespace
