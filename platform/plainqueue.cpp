#include "platform/plainqueue.h"

#include <algorithm>
#include <chrono>

namespace morvik {

void PlainQueue::setHandler(Handler handler)
{
    std::lock_guard lock(m_mutex);
    m_handler = std::move(handler);
}

void PlainQueue::push(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam, bool once)
{
    {
        std::lock_guard lock(m_mutex);
        if (once && std::any_of(m_messages.begin(), m_messages.end(),
                                [message](const Message& m) { return m.number == message; }))
            return;
        m_messages.push_back(Message{m_nextSerial++, message, wParam, lParam});
    }
    m_posted.notify_all();
}

void PlainQueue::post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)
{
    push(message, wParam, lParam, false);
}

void PlainQueue::postOnce(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)
{
    push(message, wParam, lParam, true);
}

void PlainQueue::removePending(std::uint32_t message)
{
    std::lock_guard lock(m_mutex);
    std::erase_if(m_messages, [message](const Message& m) { return m.number == message; });
}

std::size_t PlainQueue::pump()
{
    std::uint64_t end = 0;
    {
        std::lock_guard lock(m_mutex);
        end = m_nextSerial;
    }
    std::size_t ran = 0;
    for (;;) {
        Message message{};
        Handler handler;
        {
            std::lock_guard lock(m_mutex);
            if (m_messages.empty() || m_messages.front().serial >= end)
                return ran;
            message = m_messages.front();
            m_messages.pop_front();
            handler = m_handler;
        }
        if (handler) {
            handler(message.number, message.wParam, message.lParam);
            ++ran;
        }
    }
}

bool PlainQueue::waitForMessage(std::int32_t milliseconds)
{
    std::unique_lock lock(m_mutex);
    auto waiting = [this] { return !m_messages.empty(); };
    if (milliseconds < 0) {
        m_posted.wait(lock, waiting);
        return true;
    }
    return m_posted.wait_for(lock, std::chrono::milliseconds(milliseconds), waiting);
}

std::size_t PlainQueue::pendingCount() const
{
    std::lock_guard lock(m_mutex);
    return m_messages.size();
}

} // namespace morvik
