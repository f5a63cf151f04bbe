// The main loop: quits during start-up, key presses during a tick, and
// exit statuses, each in a child process that runs the real start-up.
#include "support.h"

#include "app/app.h"
#include "platform/messages.h"
#include "platform/screen.h"
#include "platform/ticks.h"
#include "platform/window.h"
#include "demo/timeline.h"

#include <GL/gl.h>
#include <SDL.h>
#include <cstdio>
#include <cstdlib>
#include <ctime>
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
std::vector<double> s_tickMilliseconds; // wall clock at each tick
GLenum s_glError;                       // the first GL error seen
int s_glErrorTick;                      // the tick it was seen in, 0 for start-up

// Notes the first GL error raised; called after start-up, at every tick's
// clock read (for the tick before and its frame shown) and at every present.
void NoteGlError() {
    GLenum error = glGetError();
    if (error && !s_glError)
        s_glError = error, s_glErrorTick = s_ticks;
}

// Reads the monotonic clock in milliseconds, for the loop's own timing.
double NowMilliseconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// The clock of the loop tests: counts ticks, delivers the scripted events
// while the tick runs, and records what the window had shown.
uint32_t CountingClock() {
    NoteGlError();
    ++s_ticks;
    s_shownAtTick.push_back(FramesShown());
    s_tickMilliseconds.push_back(NowMilliseconds());
    if (s_ticks == s_otherKeyAtTick)
        PushKey(SDLK_a);
    if (s_ticks == s_escapeAtTick)
        PushKey(SDLK_ESCAPE);
    if (s_ticks == s_closeAtTick)
        PushCloseRequest();
    return size_t(s_ticks) <= s_scriptTimes.size() ? s_scriptTimes[s_ticks - 1] : 500;
}

double s_loopStarted; // wall clock when RunDemo was called

// Runs the demo's real start-up and loop with the counting clock and the
// demo started at tick 0; exits with 100 x the loop's status + the number
// of ticks, or 98 when the GL reported an error after start-up, at a tick
// or at a present.
int RunCountingDemo(bool quitDuringStartUp) {
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
    s_loopStarted = NowMilliseconds();
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
        s_ticks = 0;
        s_escapeAtTick = s_otherKeyAtTick = s_closeAtTick = -1;
        s_scriptTimes.clear();
    }
};

TEST_F(MainLoop, QuitPostedDuringStartUpMeansNoTick) {
    ChildResult child = RunInChild([] { return RunCountingDemo(true); });
    EXPECT_EQ(child.status, 0) << child.errors;
}

TEST_F(MainLoop, DisplayTooSmallQuitsBeforeTheFirstTick) {
    std::string display = StartPrivateDisplay(320, 240);
    ASSERT_FALSE(display.empty());
    ChildResult child = RunInChild([&] {
        setenv("DISPLAY", display.c_str(), 1);
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

TEST_F(MainLoop, RestingLoopStillTicksWithinMilliseconds) {
    // Idle ticks only, as before the first second: the loop rests at most
    // 1 ms after each. The bounds leave room for a loaded machine; a loop that
    // slept until the next event would fail them by far.
    s_escapeAtTick = 21;
    ChildResult child = RunInChild([] {
        int status = RunCountingDemo(false);
        double first = s_tickMilliseconds[0] - s_loopStarted;
        double twenty = s_tickMilliseconds[20] - s_tickMilliseconds[0];
        std::fprintf(stderr, "first tick after %.1f ms, 20 more in %.1f ms\n", first, twenty);
        return first < 100 && twenty < 400 ? status : 99;
    });
    EXPECT_EQ(child.status, 21) << child.errors;
}

} // namespace
