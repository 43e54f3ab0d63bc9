// A message queue for one thread that has no event loop of its own (the
// command-line tool, the tests): any thread posts, and the owning thread
// runs the waiting messages through its handler when it calls pump. Posting
// once skips a number that is already waiting; removePending drops the
// waiting messages of a number, also from inside a handler during a pump.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

namespace morvik {

class PlainQueue {
public:
    using Handler = std::function<void(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)>;

    PlainQueue() = default;
    PlainQueue(const PlainQueue&) = delete;
    PlainQueue& operator=(const PlainQueue&) = delete;

    // Empty: pump drops the messages.
    void setHandler(Handler handler);
    void post(std::uint32_t message, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);
    void postOnce(std::uint32_t message, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);
    void removePending(std::uint32_t message);

    // Runs the messages that were waiting when it was called, in order, each
    // taken from the queue just before its handler runs; messages posted
    // meanwhile wait for the next pump. Returns how many ran.
    std::size_t pump();
    // Waits until a message is waiting or `milliseconds` have passed (a
    // negative time waits without limit); true when one is waiting.
    bool waitForMessage(std::int32_t milliseconds);
    std::size_t pendingCount() const;

private:
    struct Message {
        std::uint64_t serial;
        std::uint32_t number;
        std::uintptr_t wParam;
        std::intptr_t lParam;
    };

    void push(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam, bool once);

    mutable std::mutex m_mutex; // everything below
    std::condition_variable m_posted;
    std::deque<Message> m_messages;
    std::uint64_t m_nextSerial = 0;
    Handler m_handler;
};

} // namespace morvik
