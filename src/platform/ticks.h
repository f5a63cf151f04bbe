// The system tick count: milliseconds of the monotonic clock, truncated to
// 32 bits, so it wraps like an uptime counter.
#pragma once

#include <cstdint>

// Reads the tick count; called by the demo clock and the cube's spin.
uint32_t ReadTickCount();

// Reads the system's own millisecond clock (the monotonic clock on Linux,
// the performance counter on Windows), truncated to 32 bits; called by
// ReadTickCount.
uint32_t ReadSystemMilliseconds();

// Replaces the clock with `source` (null restores the real one): the
// virtual clock of offline rendering, also used by tests and benchmarks;
// never by the demo itself.
void SetTickSource(uint32_t (*source)());
