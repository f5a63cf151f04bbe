// The tick count and the seam that lets a virtual clock replace it.
#include "platform/ticks.h"

// Constant-initialised, so it is valid for the static initialiser that
// captures the demo's start tick.
static uint32_t (*s_tickSource)() = nullptr;

// Reads the tick count; called by the demo clock and the cube's spin.
uint32_t ReadTickCount() {
    return s_tickSource ? s_tickSource() : ReadSystemMilliseconds();
}

// Replaces the clock source; called by offline rendering, tests and benchmarks.
void SetTickSource(uint32_t (*source)()) {
    s_tickSource = source;
}
