// The main loop: quits during start-up, key presses during a tick, exit
// statuses, the rest after an idle tick and the screensaver after the
// script, each run through the real start-up in a child process (POSIX) or
// in the test's own (Windows, where ctest runs each test alone).
#include "support.h"

#include "app/app.h"
#include "platform/messages.h"
#include "platform/screen.h"
#include "platform/ticks.h"
#include "platform/window.h"
#include "demo/timeline.h"

#include <GL/gl.h>
#include <SDL.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>
#include <gtest/gtest.h>

namespace {

// Key events pushed by the fake clock at chosen ticks.
int s_ticks;
int s_escapeAtTick;
int s_otherKeyAtTick;
int s_closeAtTick;

// Pushes a key press as the window system would deliver it.
void PushKey(SDL_Keycode key) {
    SDL_Event event = {};
    event.type = SDL_KEYDOWN;
    event.key.windowID = SDL_GetWindowID(g_window);
    event.key.state = SDL_PRESSED;
    event.key.keysym.sym = key;
    SDL_PushEvent(&event);
}

// Pushes the window's close request.
void PushCloseRequest() {
    SDL_Event event = {};
    event.type = SDL_WINDOWEVENT;
    event.window.windowID = SDL_GetWindowID(g_window);
    event.window.event = SDL_WINDOWEVENT_CLOSE;
    SDL_PushEvent(&event);
}

// The demo time of each tick (read once per tick: no cube), and the frames
// the window had shown when it was read; past the end of the script, 500 ms:
// nothing is drawn and the loop rests after every tick.
std::vector<uint32_t> s_scriptTimes;
std::vector<int> s_shownAtTick;
GLenum s_glError;  // the first GL error seen
int s_glErrorTick; // the tick it was seen in, 0 for start-up

// The 1 ms rests another thread of the process has finished, and their
// number at each tick: the yardstick for the loop's own rests.
std::atomic<int> s_yardstickRests;
std::vector<int> s_yardstickAtTick;

// Whether the screensaver was allowed when each tick read the clock.
std::vector<bool> s_screenSaverAtTick;

// Notes the first GL error raised; called after start-up, at every tick's
// clock read (for the tick before and its frame shown) and at every present.
void NoteGlError() {
    GLenum error = glGetError();
    if (error && !s_glError)
        s_glError = error, s_glErrorTick = s_ticks;
}

// The clock of the loop tests: counts ticks, delivers the scripted events
// while the tick runs, and records what the window had shown.
uint32_t CountingClock() {
    NoteGlError();
    ++s_ticks;
    s_shownAtTick.push_back(FramesShown());
    s_yardstickAtTick.push_back(s_yardstickRests.load());
    s_screenSaverAtTick.push_back(SDL_IsScreenSaverEnabled());
    if (s_ticks == s_otherKeyAtTick)
        PushKey(SDLK_a);
    if (s_ticks == s_escapeAtTick)
        PushKey(SDLK_ESCAPE);
    if (s_ticks == s_closeAtTick)
        PushCloseRequest();
    return size_t(s_ticks) <= s_scriptTimes.size() ? s_scriptTimes[s_ticks - 1] : 500;
}

// Runs the demo's real start-up and loop with the counting clock and the
// demo started at tick 0; exits with 100 x the loop's status + the number
// of ticks, or 98 when the GL reported an error after start-up, at a tick
// or at a present.
int RunCountingDemo(bool quitDuringStartUp) {
    s_ticks = 0;
    s_glError = 0;
    s_shownAtTick.clear();
    s_yardstickAtTick.clear();
    s_screenSaverAtTick.clear();
    SDL_Window* window =
        CreateMainWindow(kWindowTitle, kScreenWidth, kScreenHeight, 0, g_fullscreen);
    if (!window)
        return 199;
    InitDemo(window);
    NoteGlError();
    SetPresentHook(NoteGlError);
    if (quitDuringStartUp)
        RequestQuit(0);
    g_startTick = 0;
    SetTickSource(CountingClock);
    int status = RunDemo();
    if (s_glError) {
        std::fprintf(stderr, "GL error 0x%x at tick %d\n", s_glError, s_glErrorTick);
        return 98;
    }
    return status * 100 + s_ticks;
}

class MainLoop : public testing::Test {
  protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY"))
            GTEST_SKIP() << "needs an X display";
        s_escapeAtTick = s_otherKeyAtTick = s_closeAtTick = -1;
        s_scriptTimes.clear();
    }
};

TEST_F(MainLoop, QuitPostedDuringStartUpMeansNoTick) {
    ChildResult child = RunInChild([] { return RunCountingDemo(true); });
    EXPECT_EQ(child.status, 0) << child.errors;
}

TEST_F(MainLoop, DisplayTooSmallQuitsBeforeTheFirstTick) {
    if (!kPrivateDisplays)
        GTEST_SKIP() << "no display smaller than the demo can be had here";
    std::string display = StartPrivateDisplay(320, 240);
    ASSERT_FALSE(display.empty());
    ChildResult child = RunInChild([&] {
        SetEnvironment("DISPLAY", display);
        return RunCountingDemo(false);
    });
    StopPrivateDisplay();
    EXPECT_EQ(child.status, 100) << "status 1 and no tick: " << child.errors;
    EXPECT_NE(child.errors.find("Error: Display Mode Not Compatible"), std::string::npos)
        << child.errors;
}

TEST_F(MainLoop, EscapeDuringATickEndsTheLoopBeforeTheNextTick) {
    s_escapeAtTick = 1;
    ChildResult child = RunInChild([] { return RunCountingDemo(false); });
    EXPECT_EQ(child.status, 1) << child.errors;

    s_escapeAtTick = 7;
    child = RunInChild([] { return RunCountingDemo(false); });
    EXPECT_EQ(child.status, 7) << child.errors;
}

TEST_F(MainLoop, OtherKeysAreSwallowed) {
    s_otherKeyAtTick = 2;
    s_escapeAtTick = 5;
    ChildResult child = RunInChild([] { return RunCountingDemo(false); });
    EXPECT_EQ(child.status, 5) << child.errors;
}

TEST_F(MainLoop, CloseRequestEndsTheLoopLikeEscape) {
    s_closeAtTick = 3;
    ChildResult child = RunInChild([] { return RunCountingDemo(false); });
    EXPECT_EQ(child.status, 3) << child.errors;
}

TEST_F(MainLoop, EachTickThatPresentedShowsOneFrameAndAnIdleTickNone) {
    // Nothing yet, the opening section (three presents), after the script,
    // the opening again; the swaps of each tick are counted at the next.
    s_scriptTimes = {500, 10000, 95000, 2500};
    s_escapeAtTick = 5;
    ChildResult child = RunInChild([] {
        int status = RunCountingDemo(false);
        for (size_t tick = 1; tick < s_shownAtTick.size(); ++tick)
            std::fprintf(stderr, "%d ", s_shownAtTick[tick] - s_shownAtTick[tick - 1]);
        return status;
    });
    EXPECT_EQ(child.status, 5) << child.errors;
    EXPECT_EQ(child.errors, "0 1 0 1 ");
}

TEST_F(MainLoop, ScreenSaverIsAllowedAgainOnceTheScriptIsOver) {
    // Before the first second, in the script, on its last picture, past its
    // end; each tick's clock read sees what the tick before left.
    s_scriptTimes = {500, 35000, 89999, 90000, 90001};
    s_escapeAtTick = 6;
    ChildResult child = RunInChild([] {
        int status = RunCountingDemo(false);
        for (bool allowed : s_screenSaverAtTick)
            std::fprintf(stderr, "%d", int(allowed));
        return status;
    });
    EXPECT_EQ(child.status, 6) << child.errors;
    EXPECT_EQ(child.errors, "000011");
}

TEST_F(MainLoop, RestingLoopTicksAgainAfterEachMillisecondRest) {
    // Idle ticks only, as before the first second: after each the loop
    // rests until a message comes or 1 ms passes. Meanwhile a second thread
    // rests 1 ms at a time and counts its rests, and a busy machine delays
    // both alike. Between most ticks (the median of 200) it must finish at
    // most four: a loop that rested a frame (16 ms) after each tick lets it
    // finish about sixteen, and one that slept until the next message would
    // never reach the Escape. A few long stalls move the median nowhere.
    s_escapeAtTick = 201;
    ChildResult child = RunInChild([] {
        std::atomic<bool> done{false};
        std::thread yardstick([&done] {
            while (!done) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                ++s_yardstickRests;
            }
        });
        const int status = RunCountingDemo(false);
        done = true;
        yardstick.join();
        if (s_yardstickAtTick.size() <= 200)
            return status;
        std::vector<int> rests;
        for (size_t tick = 1; tick <= 200; ++tick)
            rests.push_back(s_yardstickAtTick[tick] - s_yardstickAtTick[tick - 1]);
        std::sort(rests.begin(), rests.end());
        std::fprintf(stderr, "1 ms rests between idle ticks: median %d, most %d, in all %d\n",
                     rests[100], rests.back(), s_yardstickAtTick[200] - s_yardstickAtTick[0]);
        return rests[100] <= 4 ? status : 99;
    });
    EXPECT_EQ(child.status, 201) << child.errors;
}

} // namespace
