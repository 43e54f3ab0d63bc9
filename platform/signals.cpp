#include "platform/signals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace morvik {
namespace {

constexpr int kCleanedSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The handler may only use what is async-signal-safe: a fixed buffer and a
// flag set after the buffer is complete.
char g_path[4096];
volatile std::sig_atomic_t g_armed = 0;

void removeThenDie(int sig)
{
    const int savedErrno = errno;
    if (g_armed)
        ::unlink(g_path);
    ::signal(sig, SIG_DFL);
    ::raise(sig);
    errno = savedErrno;
}

void installOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        for (int sig : kCleanedSignals) {
            struct sigaction current {};
            if (::sigaction(sig, nullptr, &current) != 0 || current.sa_handler != SIG_DFL ||
                (current.sa_flags & SA_SIGINFO))
                continue;
            struct sigaction ours {};
            ours.sa_handler = removeThenDie;
            sigemptyset(&ours.sa_mask);
            for (int other : kCleanedSignals)
                sigaddset(&ours.sa_mask, other);
            ::sigaction(sig, &ours, nullptr);
        }
    });
}

} // namespace

void ignoreFileSizeSignal() { ::signal(SIGXFSZ, SIG_IGN); }

void removeOnSignal(const std::string& path)
{
    installOnce();
    g_armed = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    if (path.size() >= sizeof g_path)
        return;
    std::memcpy(g_path, path.c_str(), path.size() + 1);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    g_armed = 1;
}

void clearRemoveOnSignal()
{
    g_armed = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

} // namespace morvik
