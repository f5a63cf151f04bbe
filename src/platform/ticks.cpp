// The system tick count.
#include "platform/ticks.h"

#include <time.h>

// Constant-initialised, so it is valid for the static initialiser that
// captures the demo's start tick.
static uint32_t (*s_tickSource)() = nullptr;

// Reads the monotonic clock in milliseconds; called by ReadTickCount.
static uint32_t ReadMonotonicMilliseconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t ms = uint64_t(now.tv_sec) * 1000u + uint64_t(now.tv_nsec) / 1000000u;
    return uint32_t(ms);
}

// Reads the tick count; called by the demo clock and the cube's spin.
uint32_t ReadTickCount() {
    return s_tickSource ? s_tickSource() : ReadMonotonicMilliseconds();
}

// Replaces the clock source; called by offline rendering, tests and benchmarks.
void SetTickSource(uint32_t (*source)()) {
    s_tickSource = source;
}
