// Scheduling priority of worker threads on Linux: priorities run from -15
// (idle) to 15 (time critical) and become nice values of the thread. Also the
// processor time a thread has used, for the benchmarks.
#pragma once

#include <cstdint>

namespace morvik {

// The kernel's identifier of the calling thread.
std::int64_t currentKernelThreadId();

// The nice value for a priority: -15 gives 19, -2 gives 10, -1 gives 5, 0
// gives 0, 1 gives -5, 2 gives -10, 15 gives -20.
int nicenessForPriority(int priority);

// Sets the nice value of a thread; false when the system refuses (raising a
// priority needs a privilege) or the thread is unknown.
bool setThreadNiceness(std::int64_t kernelThreadId, int niceness);

// Processor time used by the calling thread, and by the whole process, in
// seconds.
double currentThreadCpuSeconds();
double processCpuSeconds();

} // namespace morvik
