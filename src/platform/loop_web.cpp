// The web's main loop: the browser's, one turn an animation frame, and one
// on each of the page's timers while it is hidden and has no frames.
#include "platform/loop.h"

#include "platform/screen.h"

#include <emscripten.h>
#include <emscripten/html5.h>

static LoopTurn (*s_turn)(int* exitStatus); // the turn RunMainLoop was given
static bool s_turningWhileHidden;           // TurnWhileHidden's timers are running

constexpr double kHiddenTurnMilliseconds = 100; // a hidden page's timers come at most once a second

// Runs one turn; a quit ends the program, and after a turn that drew
// nothing a canvas that was resized (which loses its picture) is shown the
// last frame again. Called by the browser in an animation frame, and by
// TurnWhileHidden.
static void TurnInAnimationFrame() {
    int exitStatus = 0;
    const LoopTurn done = s_turn(&exitStatus);
    if (done == LoopTurn::kQuit) {
        emscripten_cancel_main_loop();
        emscripten_force_exit(exitStatus);
    }
    if (done == LoopTurn::kIdle)
        ShowFrameAgainIfResized();
}

// Turns the loop while the page is hidden, so that the demo's clock still
// reaches what it starts (the music at 1 s); false once the page is shown,
// where the animation frames take over. Called by the browser's timers.
static EM_BOOL TurnWhileHidden(double, void*) {
    EmscriptenVisibilityChangeEvent visibility;
    if (emscripten_get_visibility_status(&visibility) != EMSCRIPTEN_RESULT_SUCCESS ||
        !visibility.hidden) {
        s_turningWhileHidden = false;
        return EM_FALSE;
    }
    TurnInAnimationFrame();
    return EM_TRUE;
}

// Starts the hidden page's turns when the page is hidden; called by the
// browser.
static EM_BOOL FollowVisibility(int, const EmscriptenVisibilityChangeEvent* visibility, void*) {
    if (visibility->hidden && !s_turningWhileHidden) {
        s_turningWhileHidden = true;
        emscripten_set_timeout_loop(TurnWhileHidden, kHiddenTurnMilliseconds, nullptr);
    }
    return EM_FALSE;
}

// Hands the loop to the browser and returns to it; called by RunDemo.
int RunMainLoop(LoopTurn (*turn)(int* exitStatus)) {
    s_turn = turn;
    emscripten_set_visibilitychange_callback(nullptr, false, FollowVisibility);
    // 0: at the browser's frame rate; true: unwind to the browser now.
    emscripten_set_main_loop(TurnInAnimationFrame, 0, true);
    return 0;
}
