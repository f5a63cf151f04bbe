// The demo clock and the script.
#pragma once

#include <cstdint>

extern uint32_t g_startTick; // the tick count at process start
extern int32_t g_demoTime;   // milliseconds since process start, set every tick

// The script's end: from this demo time on nothing is drawn, and the last
// picture stays up until the user quits.
constexpr int32_t kScriptEndTime = 90000;

// Takes the spectrum snapshot, advances the clock and draws every scene
// whose window contains the demo time. Called by the main loop whenever no
// event is waiting.
void TickDemo();
