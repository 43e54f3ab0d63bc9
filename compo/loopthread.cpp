#include "compo/loopthread.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "platform/threadpriority.h"

namespace morvik {

namespace {

// The one lock and condition of every event and every loop queue
// (loopthread.h says why there is only one).
std::mutex& eventLock()
{
    static std::mutex lock;
    return lock;
}

std::condition_variable& eventChanged()
{
    static std::condition_variable changed;
    return changed;
}

std::atomic<std::uint32_t> nextThreadId{1};

std::mutex displayMutex;
TMPExceptionDisplay exceptionDisplay;

template <class Predicate>
bool waitUntil(std::unique_lock<std::mutex>& lock, std::int32_t milliseconds, Predicate ready)
{
    if (milliseconds < 0) {
        eventChanged().wait(lock, ready);
        return true;
    }
    return eventChanged().wait_for(lock, std::chrono::milliseconds(milliseconds), ready);
}

} // namespace

void TMPMessageTarget::Dispatch(TMPMessage&) {}

TMPEvent::TMPEvent(bool manualReset, bool initiallySignalled)
    : m_manualReset(manualReset), m_signalled(initiallySignalled)
{
}

void TMPEvent::Reset()
{
    std::lock_guard lock(eventLock());
    m_signalled = false;
}

void TMPEvent::Signal()
{
    {
        std::lock_guard lock(eventLock());
        m_signalled = true;
    }
    eventChanged().notify_all();
}

bool TMPEvent::IsSet() const
{
    std::lock_guard lock(eventLock());
    return m_signalled;
}

bool TMPEvent::takeIfSet()
{
    if (!m_signalled)
        return false;
    if (!m_manualReset)
        m_signalled = false;
    return true;
}

std::uint32_t TMPEvent::WaitFor(std::int32_t milliseconds) { return MPWaitForAny({this}, milliseconds); }

std::uint32_t MPWaitForAny(std::initializer_list<TMPEvent*> events, std::int32_t milliseconds)
{
    std::unique_lock lock(eventLock());
    std::uint32_t index = MPWaitTimeout;
    auto anySet = [&] {
        std::uint32_t i = 0;
        for (TMPEvent* e : events) {
            if (e->takeIfSet()) {
                index = i;
                return true;
            }
            ++i;
        }
        return false;
    };
    waitUntil(lock, milliseconds, anySet);
    return index;
}

std::uint32_t MPTickCount()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void SetMPExceptionDisplay(TMPExceptionDisplay display)
{
    std::lock_guard lock(displayMutex);
    exceptionDisplay = std::move(display);
}

void MPShowException(const std::exception& e)
{
    TMPExceptionDisplay display;
    {
        std::lock_guard lock(displayMutex);
        display = exceptionDisplay;
    }
    if (display)
        display(e);
    else
        std::cerr << "Morvik: " << e.what() << std::endl;
}

int MPThreadPriorityValue(TThreadPriority priority)
{
    switch (priority) {
    case tpIdle: return -15;
    case tpLowest: return -2;
    case tpLower: return -1;
    case tpNormal: return 0;
    case tpHigher: return 1;
    case tpHighest: return 2;
    case tpTimeCritical: return 15;
    }
    return 0;
}

TMPLoopThread::TMPLoopThread(TMPMessageTarget* owner)
    : m_owner(owner), m_threadId(nextThreadId.fetch_add(1))
{
    m_thread = std::thread([this] { body(); });
    // Wait until the thread has published its system identifier, so that
    // SetPriority works from the start.
    std::unique_lock lock(eventLock());
    eventChanged().wait(lock, [this] { return m_started; });
}

TMPLoopThread::~TMPLoopThread()
{
    if (m_thread.joinable() && onOwnThread()) {
        // The loop that called us would go on with freed members; no way on
        // from here is safe.
        std::fputs("Morvik: TMPLoopThread destroyed from its own thread\n", stderr);
        std::abort();
    }
    Terminate();
}

bool TMPLoopThread::onOwnThread() const { return std::this_thread::get_id() == m_thread.get_id(); }

void TMPLoopThread::Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)
{
    {
        std::lock_guard lock(eventLock());
        if (!m_accepting)
            return;
        m_queue.push_back(TMPMessage{message, wParam, lParam, 0});
    }
    eventChanged().notify_all();
}

void TMPLoopThread::Resume()
{
    {
        std::lock_guard lock(eventLock());
        m_resumed = true;
    }
    eventChanged().notify_all();
}

bool TMPLoopThread::SetPriority(int priority)
{
    std::int64_t kernelId = 0;
    {
        std::lock_guard lock(eventLock());
        kernelId = m_kernelId;
    }
    return setThreadNiceness(kernelId, nicenessForPriority(priority));
}

void TMPLoopThread::Quit() { Post(MPMQuit); }

void TMPLoopThread::Terminate()
{
    if (!m_thread.joinable())
        return;
    Quit();
    if (onOwnThread())
        return; // the loop leaves at the MPMQuit just posted
    Resume();
    m_thread.join();
}

void TMPLoopThread::Sync()
{
    if (!m_thread.joinable() || onOwnThread())
        return;
    TMPSimpleEvent done;
    Post(MPMSync, reinterpret_cast<std::uintptr_t>(static_cast<TMPEvent*>(&done)));
    MPWaitForAny({&done, &m_ended}, MPInfinite);
}

void TMPLoopThread::SetTimeout(std::int32_t milliseconds)
{
    {
        std::lock_guard lock(eventLock());
        m_timeout.store(milliseconds);
        m_timeoutChanged = true;
    }
    eventChanged().notify_all();
}

void TMPLoopThread::SetOnException(TMPExceptionEvent handler)
{
    std::lock_guard lock(m_handlerMutex);
    m_onException = std::move(handler);
}

void TMPLoopThread::body()
{
    {
        std::unique_lock lock(eventLock());
        m_kernelId = currentKernelThreadId();
        m_started = true;
        eventChanged().notify_all();
        eventChanged().wait(lock, [this] { return m_resumed; });
    }
    for (;;) {
        try {
            if (!runPass())
                break;
        } catch (const std::exception& e) {
            offerException(e);
        } catch (...) {
            break; // not one of ours: the thread ends
        }
    }
    {
        std::lock_guard lock(eventLock());
        m_accepting = false;
        m_queue.clear();
    }
    m_ended.Signal();
}

TMPLoopThread::Wake TMPLoopThread::waitForWork()
{
    std::unique_lock lock(eventLock());
    auto ready = [this] { return m_event.m_signalled || !m_queue.empty() || m_timeoutChanged; };
    for (;;) {
        m_timeoutChanged = false;
        if (!waitUntil(lock, m_timeout.load(), ready))
            return Wake::Timeout;
        if (m_event.m_signalled)
            return Wake::Event;
        if (!m_queue.empty())
            return Wake::Input;
        // Only the time-out changed: wait again with the new one.
    }
}

bool TMPLoopThread::takeMessage(TMPMessage* message)
{
    std::lock_guard lock(eventLock());
    if (m_queue.empty())
        return false;
    *message = m_queue.front();
    m_queue.pop_front();
    return true;
}

// One wake-up: the event or the time-out, then every waiting message in
// order. False when MPMQuit was taken.
bool TMPLoopThread::runPass()
{
    TMPMessage message;
    switch (waitForWork()) {
    case Wake::Event:
        message = TMPMessage{MPMWatchEvent, 0, 0, 0};
        if (m_owner)
            m_owner->Dispatch(message);
        break;
    case Wake::Timeout:
        message = TMPMessage{MPMTimeout, 0, 0, 0};
        if (m_owner)
            m_owner->Dispatch(message);
        break;
    case Wake::Input:
        break;
    }
    while (takeMessage(&message)) {
        if (message.Msg == MPMQuit)
            return false;
        if (message.Msg == MPMSync) {
            if (message.WParam != 0)
                reinterpret_cast<TMPEvent*>(message.WParam)->Signal();
            continue;
        }
        if (m_owner)
            m_owner->Dispatch(message);
    }
    return true;
}

void TMPLoopThread::offerException(const std::exception& e)
{
    try {
        TMPExceptionEvent handler;
        {
            std::lock_guard lock(m_handlerMutex);
            handler = m_onException;
        }
        bool handled = false;
        if (handler)
            handler(this, e, handled);
        if (!handled)
            MPShowException(e);
    } catch (const std::exception& inner) {
        MPShowException(inner);
    } catch (...) {
    }
}

} // namespace morvik
