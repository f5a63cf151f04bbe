// The demo clock and the script.
#include "demo/timeline.h"

#include "platform/drawing.h"
#include "platform/ticks.h"
#include "audio/audio.h"
#include "demo/scenes.h"

// Captured by a static initialiser, before main: the clock counts start-up.
uint32_t g_startTick = ReadTickCount();
int32_t g_demoTime;

// Tells whether t lies strictly between two times; called by TickDemo.
static bool Within(int32_t t, int32_t after, int32_t before) {
    return after < t && t < before;
}

// Runs one tick of the script; called by the main loop.
void TickDemo() {
    ReadMusicSpectrum(g_musicStream, g_spectrum);
    // The difference is taken unsigned, so a wrap of the tick count is harmless.
    g_demoTime = int32_t(ReadTickCount() - g_startTick);
    const int32_t t = g_demoTime;

    SetDrawSwitch(DrawSwitch::kDepthTest, false);
    if (Within(t, 1000, 30000)) {
        PlayMusicStream(g_musicStream);
        DrawPictureScene(0);
    }
    if (Within(t, 2000, 29000)) {
        // The sprites run three seconds behind the clock.
        g_demoTime = t - 3000;
        DrawDriftingSprite();
        DrawColourCycleSprite();
        g_demoTime = t;
    }
    SetDrawSwitch(DrawSwitch::kDepthTest, true);

    if (Within(t, 29000, 32000))
        DrawPictureScene(5);
    if (Within(t, 32000, 40000))
        DrawPictureScene(6);
    if (Within(t, 40000, 60000))
        DrawSpectrumCube();
    if (Within(t, 60000, 70000))
        DrawPictureScene(8);
    if (Within(t, 70000, 80000))
        DrawPictureScene(9);
    if (Within(t, 80000, kScriptEndTime))
        DrawPictureScene(4);
}
