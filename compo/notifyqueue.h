// The queue that brings the player's notifications to the main thread
// (status and position changes, end of play, a worker's exception): worker
// threads post and go on, the main thread runs each message through the
// handler. Notifications are coalesced: postOnce skips a number that is
// already waiting, and a handler first removes the waiting messages of its
// own number, so a burst of changes gives one call that reads the newest
// state.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>

namespace morvik {

using NotifyHandler = std::function<void(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)>;

class NotifyQueue {
public:
    virtual ~NotifyQueue() = default;

    // Runs on the main thread, one message at a time; empty drops them.
    // Set from the main thread.
    virtual void setHandler(NotifyHandler handler) = 0;
    // From any thread; never waits for the main thread.
    virtual void post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
    // Posts unless a message of this number is already waiting.
    virtual void postOnce(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
    // Drops every waiting message of this number.
    virtual void removePending(std::uint32_t message) = 0;
};

// The queues themselves live in platform/ (a plain one that its caller
// pumps, and one on the window's event loop), which cannot see this
// interface; any of them with these four operations serves through this
// bridge. The queue must outlive the bridge.
template <class Queue>
class NotifyQueueOn final : public NotifyQueue {
public:
    explicit NotifyQueueOn(Queue& queue) : m_queue(queue) {}

    void setHandler(NotifyHandler handler) override { m_queue.setHandler(std::move(handler)); }
    void post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override
    {
        m_queue.post(message, wParam, lParam);
    }
    void postOnce(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override
    {
        m_queue.postOnce(message, wParam, lParam);
    }
    void removePending(std::uint32_t message) override { m_queue.removePending(message); }

    Queue& queue() { return m_queue; }

private:
    Queue& m_queue;
};

} // namespace morvik
