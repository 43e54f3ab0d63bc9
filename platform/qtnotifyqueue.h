// The notification queue of the window: any thread posts, and the messages
// run through the handler on the thread that owns the queue object (the main
// thread, with its Qt event loop). Each message is one posted Qt event; the
// messages themselves wait in a list of our own, so that posting once can
// see whether a number is already waiting and removePending can take
// messages back before their events arrive.
#pragma once

#include <QObject>

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

namespace morvik {

class QtNotifyQueue final : public QObject {
public:
    using Handler = std::function<void(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)>;

    // Create on the thread whose event loop is to run the handler.
    explicit QtNotifyQueue(QObject* parent = nullptr);
    ~QtNotifyQueue() override;
    QtNotifyQueue(const QtNotifyQueue&) = delete;
    QtNotifyQueue& operator=(const QtNotifyQueue&) = delete;

    // Empty: arriving messages are dropped.
    void setHandler(Handler handler);
    void post(std::uint32_t message, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);
    void postOnce(std::uint32_t message, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);
    void removePending(std::uint32_t message);
    std::size_t pendingCount() const;

protected:
    void customEvent(QEvent* event) override;

private:
    struct Message {
        std::uint64_t serial;
        std::uint32_t number;
        std::uintptr_t wParam;
        std::intptr_t lParam;
    };

    void push(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam, bool once);

    mutable std::mutex m_mutex; // everything below
    std::deque<Message> m_messages;
    std::uint64_t m_nextSerial = 0;
    Handler m_handler;
};

} // namespace morvik
