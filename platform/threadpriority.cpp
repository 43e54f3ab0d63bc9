#include "platform/threadpriority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace morvik {

std::int64_t currentKernelThreadId() { return static_cast<std::int64_t>(::syscall(SYS_gettid)); }

int nicenessForPriority(int priority)
{
    if (priority <= -3)
        return 19;
    if (priority >= 3)
        return -20;
    static const int steps[] = {10, 5, 0, -5, -10}; // -2 .. 2
    return steps[priority + 2];
}

bool setThreadNiceness(std::int64_t kernelThreadId, int niceness)
{
    if (kernelThreadId <= 0)
        return false;
    return ::setpriority(PRIO_PROCESS, static_cast<id_t>(kernelThreadId), niceness) == 0;
}

namespace {

double cpuSeconds(clockid_t clock)
{
    timespec t{};
    if (::clock_gettime(clock, &t) != 0)
        return 0;
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

} // namespace

double currentThreadCpuSeconds() { return cpuSeconds(CLOCK_THREAD_CPUTIME_ID); }

double processCpuSeconds() { return cpuSeconds(CLOCK_PROCESS_CPUTIME_ID); }

} // namespace morvik
