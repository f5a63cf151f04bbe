// The main loop: quits during start-up, key presses during a tick, and
// exit statuses, each in a child process that runs the real start-up.
#include "support.h"

#include "app/app.h"
#include "platform/messages.h"
#include "platform/screen.h"
#include "platform/ticks.h"
#include "platform/window.h"

#include <SDL.h>
#include <cstdlib>
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

// A clock read once per tick before the demo time reaches 1 s: counts ticks
// and delivers the scripted events while the tick runs.
uint32_t CountingClock() {
    ++s_ticks;
    if (s_ticks == s_otherKeyAtTick)
        PushKey(SDLK_a);
    if (s_ticks == s_escapeAtTick)
        PushKey(SDLK_ESCAPE);
    if (s_ticks == s_closeAtTick)
        PushCloseRequest();
    return 500;
}

// Runs the demo's real start-up and loop with the counting clock; exits with
// 100 x the loop's status + the number of ticks.
int RunCountingDemo(bool quitDuringStartUp) {
    SDL_Window* window =
        CreateMainWindow(kWindowTitle, kScreenWidth, kScreenHeight, 0, g_fullscreen);
    if (!window)
        return 199;
    InitDemo(window);
    if (quitDuringStartUp)
        RequestQuit(0);
    SetTickSource(CountingClock);
    int status = RunDemo();
    return status * 100 + s_ticks;
}

class MainLoop : public testing::Test {
  protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY"))
            GTEST_SKIP() << "needs an X display";
        s_ticks = 0;
        s_escapeAtTick = s_otherKeyAtTick = s_closeAtTick = -1;
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

} // namespace
