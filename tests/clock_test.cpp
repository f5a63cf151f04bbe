// The demo clock: the start tick, and the unsigned difference across a wrap
// of the 32-bit tick count.
#include "support.h"

#include "platform/ticks.h"
#include "demo/timeline.h"

#include <gtest/gtest.h>
#include <time.h>

namespace {

uint32_t s_ticks;

uint32_t FixedClock() {
    return s_ticks;
}

TEST(DemoClock, StartTickIsCapturedAtProcessStart) {
    uint32_t now = ReadTickCount();
    // The start tick was taken before main, so it lies a little in the past.
    EXPECT_LE(now - g_startTick, 60000u);
    EXPECT_GE(int32_t(now - g_startTick), 0);
}

TEST(DemoClock, DemoTimeIsTheUnsignedDifferenceAcrossAWrap) {
    SetTickSource(FixedClock);
    // Start 300 ms before the tick count wraps, read it 200 ms after.
    g_startTick = 0xFFFFFFFFu - 299u;
    s_ticks = 200;
    TickDemo();
    EXPECT_EQ(g_demoTime, 500);

    // A start tick just after the wrap, read far later: still positive.
    g_startTick = 5;
    s_ticks = 5 + 0x7FFFFFF0u;
    TickDemo();
    EXPECT_EQ(g_demoTime, int32_t(0x7FFFFFF0));
    SetTickSource(nullptr);
}

TEST(DemoClock, TickCountIsTheMonotonicClockInMilliseconds) {
    SetTickSource(FixedClock);
    s_ticks = 12345;
    EXPECT_EQ(ReadTickCount(), 12345u);
    SetTickSource(nullptr);

    // Read between two readings of the monotonic clock, it lies between
    // them, however long the process waits for a CPU in between.
    auto monotonicMilliseconds = [] {
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        return uint32_t(uint64_t(now.tv_sec) * 1000u + uint64_t(now.tv_nsec) / 1000000u);
    };
    const uint32_t before = monotonicMilliseconds();
    const uint32_t ticks = ReadTickCount();
    const uint32_t after = monotonicMilliseconds();
    EXPECT_LE(ticks - before, after - before) << before << " " << ticks << " " << after;
}

} // namespace
