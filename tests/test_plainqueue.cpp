// The plain notification queue through the player's NotifyQueue interface:
// post-once coalescing, removal of waiting messages (also from inside a
// handler), what one pump runs, and posting from several threads at once.
#include "platform/plainqueue.h"

#include <gtest/gtest.h>

#include <thread>
#include <tuple>
#include <vector>

#include "compo/notifyqueue.h"

using namespace morvik;

namespace {

using Ran = std::vector<std::tuple<std::uint32_t, std::uintptr_t, std::intptr_t>>;

TEST(PlainQueue, PostOnceSkipsANumberAlreadyWaiting)
{
    PlainQueue plain;
    NotifyQueueOn<PlainQueue> queue(plain);
    Ran ran;
    queue.setHandler([&](std::uint32_t n, std::uintptr_t w, std::intptr_t l) { ran.emplace_back(n, w, l); });
    queue.post(0x40A, 1, 10);
    queue.postOnce(0x40E, 2, 20);
    queue.postOnce(0x40E, 3, 30); // one is waiting: skipped
    queue.post(0x40A, 4, 40);     // plain posts always queue
    queue.postOnce(0x40A, 5, 50); // skipped
    queue.post(0x40F, 6, 60);
    queue.removePending(0x40F);
    queue.postOnce(0x40F, 7, 70); // none waiting after the removal
    queue.removePending(0x999);   // nothing of that number: no effect
    EXPECT_EQ(plain.pendingCount(), 4u);
    EXPECT_EQ(plain.pump(), 4u);
    EXPECT_EQ(ran, (Ran{{0x40A, 1, 10}, {0x40E, 2, 20}, {0x40A, 4, 40}, {0x40F, 7, 70}}));
    EXPECT_EQ(plain.pump(), 0u);

    ran.clear();
    queue.postOnce(0x40E, 8, 80);
    EXPECT_EQ(plain.pump(), 1u) << "a number that has run can be posted once again";
    EXPECT_EQ(ran, (Ran{{0x40E, 8, 80}}));

    queue.setHandler(nullptr);
    queue.post(0x40A, 9, 90);
    EXPECT_EQ(plain.pump(), 0u) << "without a handler the messages are dropped";
    EXPECT_EQ(plain.pendingCount(), 0u);
}

TEST(PlainQueue, HandlersChangeTheQueueThePumpIsRunning)
{
    PlainQueue plain;
    NotifyQueueOn<PlainQueue> queue(plain);
    Ran ran;
    queue.setHandler([&](std::uint32_t n, std::uintptr_t w, std::intptr_t l) {
        ran.emplace_back(n, w, l);
        if (n == 0x40A) {
            queue.removePending(0x40A); // coalesce: one call for the burst
            queue.postOnce(0x40A, 99, 0); // the running one is no longer waiting
        }
        if (n == 0x40E)
            queue.post(0x500, w, l);
    });
    for (std::uintptr_t i = 1; i <= 3; ++i)
        queue.post(0x40A, i, 0);
    queue.post(0x40E, 4, 0);
    EXPECT_EQ(plain.pump(), 2u) << "messages posted during a pump wait for the next one";
    EXPECT_EQ(ran, (Ran{{0x40A, 1, 0}, {0x40E, 4, 0}}));
    EXPECT_EQ(plain.pendingCount(), 2u);
    ran.clear();
    EXPECT_EQ(plain.pump(), 2u);
    EXPECT_EQ(ran, (Ran{{0x40A, 99, 0}, {0x500, 4, 0}}));
}

TEST(PlainQueue, PostsFromOtherThreadsArriveInTheirOrder)
{
    constexpr int Posters = 4;
    constexpr std::uintptr_t PerPoster = 2000;
    PlainQueue plain;
    NotifyQueueOn<PlainQueue> queue(plain);
    std::vector<std::uintptr_t> next(Posters, 0);
    std::size_t received = 0;
    std::size_t coalesced = 0;
    bool inOrder = true;
    queue.setHandler([&](std::uint32_t n, std::uintptr_t w, std::intptr_t) {
        if (n == 0x40E) {
            ++coalesced;
            return;
        }
        auto& expected = next[n - 0x500];
        inOrder = inOrder && w == expected;
        expected = w + 1;
        ++received;
    });
    EXPECT_FALSE(plain.waitForMessage(10)) << "nothing posted yet";
    std::vector<std::thread> posters;
    for (int t = 0; t < Posters; ++t) {
        posters.emplace_back([&queue, t] {
            for (std::uintptr_t i = 0; i < PerPoster; ++i) {
                queue.post(0x500 + static_cast<std::uint32_t>(t), i, 0);
                queue.postOnce(0x40E, 0, 0);
            }
        });
    }
    std::size_t pumps = 0;
    while (received < Posters * PerPoster && plain.waitForMessage(20000)) {
        plain.pump();
        ++pumps;
    }
    for (auto& poster : posters)
        poster.join();
    plain.pump();
    EXPECT_EQ(received, Posters * PerPoster);
    EXPECT_TRUE(inOrder) << "each thread's messages in the order it posted them";
    EXPECT_GE(coalesced, 1u);
    EXPECT_LE(coalesced, pumps + 1) << "at most one waiting 0x40E per pump";
}

} // namespace
