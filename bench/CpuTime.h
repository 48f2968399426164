#pragma once

#include <ctime>

namespace lianbu::bench {

// Milliseconds of `clock`: CLOCK_THREAD_CPUTIME_ID for the calling thread's own processor time,
// CLOCK_PROCESS_CPUTIME_ID for the whole process's.
double clockMs(clockid_t clock);

// The processor time so far of this process's threads named `name` (clock ticks of 10 ms; 0 where
// the system has no /proc).
double threadsCpuMs(const char *name);

} // namespace lianbu::bench
