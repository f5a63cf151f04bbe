// The demo clock and the script.
#pragma once

#include <cstdint>

extern uint32_t g_startTick; // the tick count at process start
extern int32_t g_demoTime;   // milliseconds since process start, set every tick

// Takes the spectrum snapshot, advances the clock and draws every scene
// whose window contains the demo time. Called by the main loop whenever no
// event is waiting.
void TickDemo();
