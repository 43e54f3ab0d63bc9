#include "platform/qtnotifyqueue.h"

#include <QCoreApplication>
#include <QEvent>

#include <algorithm>

namespace morvik {

namespace {

const QEvent::Type kNotifyEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// Names the message it stands for; a message taken back by removePending
// leaves its event with nothing to run.
class NotifyEvent final : public QEvent {
public:
    explicit NotifyEvent(std::uint64_t serial) : QEvent(kNotifyEvent), serial(serial) {}
    const std::uint64_t serial;
};

} // namespace

QtNotifyQueue::QtNotifyQueue(QObject* parent) : QObject(parent) {}

QtNotifyQueue::~QtNotifyQueue() = default;

void QtNotifyQueue::setHandler(Handler handler)
{
    std::lock_guard lock(m_mutex);
    m_handler = std::move(handler);
}

void QtNotifyQueue::push(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam, bool once)
{
    std::uint64_t serial = 0;
    {
        std::lock_guard lock(m_mutex);
        if (once && std::any_of(m_messages.begin(), m_messages.end(),
                                [message](const Message& m) { return m.number == message; }))
            return;
        serial = m_nextSerial++;
        m_messages.push_back(Message{serial, message, wParam, lParam});
    }
    // Thread-safe; the event loop of this object's thread delivers it.
    QCoreApplication::postEvent(this, new NotifyEvent(serial));
}

void QtNotifyQueue::post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)
{
    push(message, wParam, lParam, false);
}

void QtNotifyQueue::postOnce(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)
{
    push(message, wParam, lParam, true);
}

void QtNotifyQueue::removePending(std::uint32_t message)
{
    std::lock_guard lock(m_mutex);
    std::erase_if(m_messages, [message](const Message& m) { return m.number == message; });
}

std::size_t QtNotifyQueue::pendingCount() const
{
    std::lock_guard lock(m_mutex);
    return m_messages.size();
}

void QtNotifyQueue::customEvent(QEvent* event)
{
    if (event->type() != kNotifyEvent) {
        QObject::customEvent(event);
        return;
    }
    const std::uint64_t serial = static_cast<NotifyEvent*>(event)->serial;
    Message message{};
    Handler handler;
    {
        std::lock_guard lock(m_mutex);
        const auto it = std::find_if(m_messages.begin(), m_messages.end(),
                                     [serial](const Message& m) { return m.serial == serial; });
        if (it == m_messages.end())
            return; // taken back
        message = *it;
        m_messages.erase(it);
        handler = m_handler;
    }
    // Outside the lock: the handler may post and remove.
    if (handler)
        handler(message.number, message.wParam, message.lParam);
}

} // namespace morvik
