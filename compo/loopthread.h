// Worker threads with a message loop, manual-reset events and re-entrant
// locks, built on the standard library. A TMPLoopThread waits for its event,
// for a posted message or for its time-out, and turns each wake-up into a
// call of its owner's Dispatch; the player decodes on one and the sound
// output receives block completions on another.
//
// One process-wide mutex and one condition variable (loopthread.cpp) guard
// the state of every TMPEvent and the queue of every TMPLoopThread: a wait
// for any of several events, or for an event or a message, then needs no
// registration with each of them and cannot miss a wake-up. Every change
// wakes every waiter of the process, which looks at its own state and
// sleeps again; with the player's handful of threads that costs nothing
// noticeable. The mutex is a leaf: it is held only inside these classes'
// own operations, never while they call out (Dispatch, handlers), so a
// caller may hold any lock of its own when it signals, posts or waits. And
// Signal touches nothing of its event after it lets go of the mutex, so an
// event may be destroyed as soon as a waiter has seen it set (Sync's
// temporary event relies on that).
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <thread>

namespace morvik {

// Messages the loop understands (all in the application range).
constexpr std::uint32_t MPMQuit = 0x41E;       // posted: leave the loop
constexpr std::uint32_t MPMWatchEvent = 0x41F; // dispatched: the event is set
constexpr std::uint32_t MPMSync = 0x420;       // posted: set the TMPEvent in WParam
constexpr std::uint32_t MPMTimeout = 0x421;    // dispatched: the wait timed out

struct TMPMessage {
    std::uint32_t Msg = 0;
    std::uintptr_t WParam = 0;
    std::intptr_t LParam = 0;
    std::intptr_t Result = 0;
};

// Receives the messages of a loop thread; numbers it does not handle are
// ignored.
class TMPMessageTarget {
public:
    virtual ~TMPMessageTarget() = default;
    virtual void Dispatch(TMPMessage& message);
};

class TMPAbstractMutex {
public:
    virtual ~TMPAbstractMutex() = default;
    virtual void Enter() = 0;
    virtual void Leave() = 0;
};

// Re-entrant for the thread holding it; no time-out.
class TMPSimpleMutex final : public TMPAbstractMutex {
public:
    void Enter() override { m_mutex.lock(); }
    void Leave() override { m_mutex.unlock(); }

private:
    std::recursive_mutex m_mutex;
};

// Holds a TMPAbstractMutex for the lifetime of the guard.
class TMPLock {
public:
    explicit TMPLock(TMPAbstractMutex& mutex) : m_mutex(mutex) { m_mutex.Enter(); }
    ~TMPLock() { m_mutex.Leave(); }
    TMPLock(const TMPLock&) = delete;
    TMPLock& operator=(const TMPLock&) = delete;

private:
    TMPAbstractMutex& m_mutex;
};

constexpr std::uint32_t MPWaitSignaled = 0;
constexpr std::uint32_t MPWaitTimeout = 258;
constexpr std::int32_t MPInfinite = -1;

class TMPEvent {
public:
    TMPEvent(bool manualReset, bool initiallySignalled);
    virtual ~TMPEvent() = default;
    TMPEvent(const TMPEvent&) = delete;
    TMPEvent& operator=(const TMPEvent&) = delete;

    void Reset();
    void Signal();
    // MPWaitSignaled or MPWaitTimeout; a negative time waits without limit.
    std::uint32_t WaitFor(std::int32_t milliseconds);
    bool IsSet() const;

private:
    friend class TMPLoopThread;
    friend std::uint32_t MPWaitForAny(std::initializer_list<TMPEvent*>, std::int32_t);
    bool takeIfSet(); // caller holds the event lock

    const bool m_manualReset;
    bool m_signalled;
};

// Manual reset, initially not set: the only kind the player uses.
class TMPSimpleEvent : public TMPEvent {
public:
    TMPSimpleEvent() : TMPEvent(true, false) {}
};

// Waits until one of the events is set: returns its index, or MPWaitTimeout.
std::uint32_t MPWaitForAny(std::initializer_list<TMPEvent*> events, std::int32_t milliseconds);

// Milliseconds since an arbitrary start, wrapping at 2^32.
std::uint32_t MPTickCount();

// How the application shows an exception nobody handled. The default writes
// to standard error; the window installs its message box.
using TMPExceptionDisplay = std::function<void(const std::exception&)>;
void SetMPExceptionDisplay(TMPExceptionDisplay display);
void MPShowException(const std::exception& e);

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };
// The priority value of a TThreadPriority (-15, -2, -1, 0, 1, 2, 15).
int MPThreadPriorityValue(TThreadPriority priority);

class TMPLoopThread;
using TMPExceptionEvent = std::function<void(TMPLoopThread* sender, const std::exception& e, bool& handled)>;

class TMPLoopThread {
public:
    // Starts the thread held until Resume.
    explicit TMPLoopThread(TMPMessageTarget* owner);
    // Terminates the thread. Destroying the object from its own thread (from
    // inside Dispatch or a handler) would free what the running loop still
    // uses, so it aborts the process with a message instead: end the loop
    // with Quit or Terminate there and destroy it from another thread.
    ~TMPLoopThread();
    TMPLoopThread(const TMPLoopThread&) = delete;
    TMPLoopThread& operator=(const TMPLoopThread&) = delete;

    void Post(std::uint32_t message, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);
    void Resume();
    // Takes a priority value (-15 to 15). The system may refuse a change,
    // for example a raise without the privilege; that is not an error, and
    // the result only says whether it took effect.
    bool SetPriority(int priority);
    void Quit();
    // Quits and waits for the thread to end. On the thread itself it only
    // quits (a loop cannot wait for itself): the loop leaves when it takes
    // that MPMQuit, and the destructor, on another thread, joins it.
    void Terminate();
    // Returns when every message posted before the call has been handled, or
    // at once when the thread has ended.
    void Sync();

    std::uint32_t ThreadId() const { return m_threadId; }
    TMPSimpleEvent& Event() { return m_event; }
    // Set once the thread has ended.
    TMPEvent& Ended() { return m_ended; }
    std::int32_t Timeout() const { return m_timeout.load(); }
    // A new time-out also applies to a wait already in progress, counted
    // from the change.
    void SetTimeout(std::int32_t milliseconds);
    void SetOnException(TMPExceptionEvent handler);

private:
    enum class Wake { Event, Input, Timeout };

    void body();
    bool runPass();
    Wake waitForWork();
    bool takeMessage(TMPMessage* message);
    void offerException(const std::exception& e);
    bool onOwnThread() const;

    TMPMessageTarget* m_owner;
    std::uint32_t m_threadId;
    TMPSimpleEvent m_event;
    TMPSimpleEvent m_ended;
    std::atomic<std::int32_t> m_timeout{MPInfinite};
    std::mutex m_handlerMutex;
    TMPExceptionEvent m_onException;
    // Guarded by the event lock, so one wait covers the event and the queue.
    std::deque<TMPMessage> m_queue;
    bool m_accepting = true;
    bool m_timeoutChanged = false;
    bool m_resumed = false;
    bool m_started = false;
    std::int64_t m_kernelId = 0;
    std::thread m_thread;
};

} // namespace morvik
