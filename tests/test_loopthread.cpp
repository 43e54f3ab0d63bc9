// Worker threads with a message loop: order of posted messages, MPMQuit and
// MPMSync, the event and time-out wake-ups, exceptions escaping a pass,
// ending and destroying a loop from its own thread, and the event and lock
// classes themselves.
#include "compo/loopthread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <vector>

#include "compo/mpassert.h"

using namespace morvik;

namespace {

constexpr std::int32_t Generous = 20000; // ms; a hang fails instead of blocking the run

// Records what the loop dispatches and can be told to act on some numbers.
class Recorder : public TMPMessageTarget {
public:
    void Dispatch(TMPMessage& message) override
    {
        std::function<void(std::uint32_t)> action;
        {
            std::lock_guard lock(m_mutex);
            m_messages.push_back(message.Msg);
            m_params.push_back(message.LParam);
            action = m_action;
        }
        if (action)
            action(message.Msg);
    }
    std::vector<std::uint32_t> messages()
    {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }
    std::vector<std::intptr_t> params()
    {
        std::lock_guard lock(m_mutex);
        return m_params;
    }
    std::size_t count(std::uint32_t number)
    {
        std::lock_guard lock(m_mutex);
        return static_cast<std::size_t>(std::count(m_messages.begin(), m_messages.end(), number));
    }
    void setAction(std::function<void(std::uint32_t)> action)
    {
        std::lock_guard lock(m_mutex);
        m_action = std::move(action);
    }

private:
    std::mutex m_mutex;
    std::vector<std::uint32_t> m_messages;
    std::vector<std::intptr_t> m_params;
    std::function<void(std::uint32_t)> m_action;
};

TEST(LoopThread, MessagesArriveInOrderAndSyncWaitsForThem)
{
    Recorder owner;
    TMPLoopThread thread(&owner);
    thread.Resume();
    for (int i = 0; i < 200; ++i)
        thread.Post(0x500, 0, i);
    thread.Post(MPMSync, 0); // a sync without an event is dropped
    thread.Post(0x501, 0, 0);
    thread.Sync();
    const auto params = owner.params();
    ASSERT_EQ(params.size(), 201u);
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(params[static_cast<std::size_t>(i)], i);
    EXPECT_EQ(owner.messages().back(), 0x501u);
    EXPECT_EQ(owner.count(MPMSync), 0u);
}

TEST(LoopThread, QuitBehindOtherMessagesEndsTheLoopThere)
{
    Recorder owner;
    TMPLoopThread thread(&owner); // held until Resume, so the queue fills first
    thread.Post(0x500, 0, 1);
    thread.Post(0x500, 0, 2);
    thread.Quit();
    thread.Post(0x500, 0, 3);
    thread.Resume();
    ASSERT_EQ(thread.Ended().WaitFor(Generous), MPWaitSignaled);
    EXPECT_EQ(owner.params(), (std::vector<std::intptr_t>{1, 2}));

    thread.Sync(); // the thread has ended: returns at once
    thread.Post(0x500, 0, 4);
    thread.Sync();
    EXPECT_EQ(owner.params().size(), 2u) << "posts after the end are dropped";
}

TEST(LoopThread, SetEventIsDispatchedUntilTheOwnerResetsIt)
{
    Recorder owner;
    TMPLoopThread thread(&owner);
    TMPSimpleEvent thousand;
    owner.setAction([&](std::uint32_t message) {
        if (message == MPMWatchEvent && owner.count(MPMWatchEvent) == 1000) {
            thread.Event().Reset();
            thousand.Signal();
        }
    });
    thread.Resume();
    thread.Event().Signal();
    ASSERT_EQ(thousand.WaitFor(Generous), MPWaitSignaled);
    thread.Sync();
    EXPECT_EQ(owner.count(MPMWatchEvent), 1000u);
    EXPECT_EQ(owner.count(MPMTimeout), 0u);
}

TEST(LoopThread, TimeoutsOnlyWithATimeout)
{
    Recorder owner;
    TMPLoopThread thread(&owner);
    thread.Resume();
    // Without a time-out nothing but posted messages wakes the loop.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    thread.Sync();
    EXPECT_EQ(owner.count(MPMTimeout), 0u);

    TMPSimpleEvent third;
    std::vector<std::chrono::steady_clock::time_point> times;
    owner.setAction([&](std::uint32_t message) {
        if (message != MPMTimeout)
            return;
        times.push_back(std::chrono::steady_clock::now());
        if (times.size() == 3) {
            thread.SetTimeout(MPInfinite);
            third.Signal();
        }
    });
    const auto start = std::chrono::steady_clock::now();
    thread.SetTimeout(400);
    thread.Post(0x500); // the loop picks up the new time-out at its next wait
    ASSERT_EQ(third.WaitFor(Generous), MPWaitSignaled);
    thread.Sync();
    EXPECT_EQ(owner.count(MPMTimeout), 3u);
    // Reported, not asserted: the intervals depend on the machine's load.
    auto previous = start;
    for (std::size_t i = 0; i < times.size(); ++i) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(times[i] - previous).count();
        RecordProperty("timeout" + std::to_string(i + 1) + "_ms", static_cast<int>(ms));
        previous = times[i];
    }
}

TEST(LoopThread, ExceptionsAreOfferedThenShownAndTheLoopGoesOn)
{
    Recorder owner;
    owner.setAction([](std::uint32_t message) {
        if (message == 0x600)
            throw std::runtime_error("decoder broke");
        if (message == 0x601)
            MP_ASSERT(message == 0);
    });
    std::vector<std::string> offered;
    std::vector<std::string> shown;
    std::mutex mutex;
    SetMPExceptionDisplay([&](const std::exception& e) {
        std::lock_guard lock(mutex);
        shown.push_back(e.what());
    });
    TMPLoopThread thread(&owner);
    thread.SetOnException([&](TMPLoopThread* sender, const std::exception& e, bool& handled) {
        std::lock_guard lock(mutex);
        EXPECT_EQ(sender, &thread);
        EXPECT_FALSE(handled);
        offered.push_back(e.what());
        handled = offered.size() == 1; // the first is handled, the second is not
    });
    thread.Resume();
    thread.Post(0x600);
    thread.Post(0x601);
    thread.Post(0x602);
    thread.Sync();
    SetMPExceptionDisplay(nullptr);
    ASSERT_EQ(offered.size(), 2u);
    EXPECT_EQ(offered[0], "decoder broke");
    EXPECT_EQ(offered[1].rfind("Assertion failure (test_loopthread.cpp, line ", 0), 0u) << offered[1];
    EXPECT_EQ(shown, std::vector<std::string>{offered[1]});
    EXPECT_EQ(owner.messages().back(), 0x602u) << "the loop went on after both";
}

TEST(LoopThread, AForeignExceptionEndsTheThread)
{
    Recorder owner;
    owner.setAction([](std::uint32_t message) {
        if (message == 0x600)
            throw 42;
    });
    TMPLoopThread thread(&owner);
    thread.Resume();
    thread.Post(0x600);
    thread.Post(0x601);
    ASSERT_EQ(thread.Ended().WaitFor(Generous), MPWaitSignaled);
    thread.Sync();
    EXPECT_EQ(owner.count(0x601), 0u);
}

TEST(LoopThread, PriorityChangesNeverFail)
{
    const std::pair<TThreadPriority, int> values[] = {{tpIdle, -15}, {tpLowest, -2},  {tpLower, -1},
                                                      {tpNormal, 0}, {tpHigher, 1},   {tpHighest, 2},
                                                      {tpTimeCritical, 15}};
    Recorder owner;
    TMPLoopThread thread(&owner);
    thread.Resume();
    for (const auto& [priority, value] : values) {
        EXPECT_EQ(MPThreadPriorityValue(priority), value);
        EXPECT_NO_THROW(thread.SetPriority(value)); // raising may be refused
    }
    EXPECT_TRUE(thread.SetPriority(MPThreadPriorityValue(tpIdle))) << "lowering is always allowed";
    thread.Post(0x500);
    thread.Sync();
    EXPECT_EQ(owner.count(0x500), 1u);
}

TEST(LoopThread, TerminateOnItsOwnThreadEndsTheLoopAtThatQuit)
{
    Recorder owner;
    TMPLoopThread thread(&owner);
    owner.setAction([&](std::uint32_t message) {
        if (message != 0x700)
            return;
        thread.Post(0x701);
        thread.Terminate(); // cannot wait for itself: posts MPMQuit and returns
        thread.Post(0x702);
    });
    thread.Resume();
    thread.Post(0x700);
    ASSERT_EQ(thread.Ended().WaitFor(Generous), MPWaitSignaled);
    EXPECT_EQ(owner.messages(), (std::vector<std::uint32_t>{0x700, 0x701}));
    // The object is destroyed here, on this thread, which joins the loop.
}

TEST(LoopThreadDeathTest, DestroyedFromItsOwnThreadAborts)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            Recorder owner;
            auto thread = std::make_unique<TMPLoopThread>(&owner);
            owner.setAction([&](std::uint32_t message) {
                if (message == 0x700)
                    thread.reset(); // the loop would go on with freed members
            });
            thread->Resume();
            thread->Post(0x700);
            TMPSimpleEvent never;
            never.WaitFor(Generous);
        },
        "TMPLoopThread destroyed from its own thread");
}

TEST(Event, WaitsAndResets)
{
    TMPSimpleEvent manual;
    EXPECT_EQ(manual.WaitFor(0), MPWaitTimeout);
    EXPECT_EQ(manual.WaitFor(20), MPWaitTimeout);
    manual.Signal();
    EXPECT_EQ(manual.WaitFor(0), MPWaitSignaled);
    EXPECT_EQ(manual.WaitFor(MPInfinite), MPWaitSignaled) << "manual reset stays set";
    manual.Reset();
    EXPECT_FALSE(manual.IsSet());

    TMPEvent automatic(false, true);
    EXPECT_EQ(automatic.WaitFor(0), MPWaitSignaled);
    EXPECT_EQ(automatic.WaitFor(0), MPWaitTimeout) << "an automatic event is taken by the wait";

    TMPSimpleEvent first;
    TMPSimpleEvent second;
    EXPECT_EQ(MPWaitForAny({&first, &second}, 0), MPWaitTimeout);
    std::thread signaller([&] { second.Signal(); });
    EXPECT_EQ(MPWaitForAny({&first, &second}, MPInfinite), 1u);
    signaller.join();
}

TEST(Mutex, ReentrantAndExclusive)
{
    TMPSimpleMutex mutex;
    {
        TMPLock outer(mutex);
        TMPLock inner(mutex); // the holder may enter again
    }
    long counter = 0;
    auto work = [&] {
        for (int i = 0; i < 50000; ++i) {
            TMPLock lock(mutex);
            ++counter;
        }
    };
    std::thread a(work);
    std::thread b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 100000);
}

} // namespace
