// The demo clock: the start tick, and the unsigned difference across a wrap
// of the 32-bit tick count.
#include "platform/ticks.h"
#include "demo/timeline.h"

#include <gtest/gtest.h>
#include <chrono>

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

    // The standard library's steady clock reads the same system clock
    // (CLOCK_MONOTONIC, or the performance counter on Windows), so the tick
    // count lies between two readings of it, however busy the machine.
    auto milliseconds = [] {
        return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count());
    };
    const uint32_t before = milliseconds();
    const uint32_t tick = ReadTickCount();
    const uint32_t after = milliseconds();
    EXPECT_LE(tick - before, after - before) << "before " << before << ", after " << after;
}

} // namespace
