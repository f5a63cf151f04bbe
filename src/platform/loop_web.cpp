// The web's main loop: the browser's, one turn an animation frame. A hidden
// page has no animation frames: there the loop turns on each audio callback,
// and on the page's timers for a page with no audio.
#include "platform/loop.h"

#include "platform/screen.h"

#include <emscripten.h>
#include <emscripten/html5.h>

static LoopTurn (*s_turn)(int* exitStatus); // the turn RunMainLoop was given
static bool s_hidden;                       // the page is hidden: no animation frames come
static bool s_turningWhileHidden;           // TurnWhileHidden's timers are running
static bool s_quitting;                     // a turn quit: no more turns, the program ends
static int s_exitStatus;                    // the status the quitting turn left

constexpr double kHiddenTurnMilliseconds = 100; // a hidden page's timers come at most once a second

// Ends the program with the quitting turn's status; called by the browser
// after that turn, outside the audio callback, which is no place to end it.
static void EndProgram(void*) {
    emscripten_force_exit(s_exitStatus);
}

// Runs one turn; a quit ends the program, and after a turn that drew
// nothing a canvas that was resized (which loses its picture) is shown the
// last frame again. Called by the browser in an animation frame, by
// TurnWhileHidden and by TurnLoopWhileHidden.
static void TurnInAnimationFrame() {
    if (!s_turn || s_quitting)
        return;
    const LoopTurn done = s_turn(&s_exitStatus);
    if (done == LoopTurn::kQuit) {
        s_quitting = true;
        emscripten_cancel_main_loop();
        emscripten_async_call(EndProgram, nullptr, 0);
    }
    if (done == LoopTurn::kIdle)
        ShowFrameAgainIfResized();
}

// Turns the loop while the page is hidden, so that a page with no audio
// still reaches what its clock starts; false once the page is shown, where
// the animation frames take over. Called by the browser's timers.
static EM_BOOL TurnWhileHidden(double, void*) {
    if (!s_hidden) {
        s_turningWhileHidden = false;
        return EM_FALSE;
    }
    TurnInAnimationFrame();
    return EM_TRUE;
}

// Notes whether the page is hidden and starts the hidden page's timers;
// called by the browser, and by RunMainLoop for a page hidden before it.
static EM_BOOL FollowVisibility(int, const EmscriptenVisibilityChangeEvent* visibility, void*) {
    s_hidden = visibility->hidden;
    if (s_hidden && !s_turningWhileHidden) {
        s_turningWhileHidden = true;
        emscripten_set_timeout_loop(TurnWhileHidden, kHiddenTurnMilliseconds, nullptr);
    }
    return EM_FALSE;
}

// Turns the loop when the page is hidden: the browser still pulls its audio
// every few tens of milliseconds there, while its timers come once a second,
// so the demo's clock is read as often as the audio plays (the music then
// comes in at 1 s even in a page hidden from the start). Called by the audio
// callback.
void TurnLoopWhileHidden() {
    if (s_hidden)
        TurnInAnimationFrame();
}

// Hands the loop to the browser and returns to it; called by RunDemo.
int RunMainLoop(LoopTurn (*turn)(int* exitStatus)) {
    s_turn = turn;
    emscripten_set_visibilitychange_callback(nullptr, false, FollowVisibility);
    // A page hidden during start-up had its change before anyone listened.
    EmscriptenVisibilityChangeEvent visibility;
    if (emscripten_get_visibility_status(&visibility) == EMSCRIPTEN_RESULT_SUCCESS)
        FollowVisibility(EMSCRIPTEN_EVENT_VISIBILITYCHANGE, &visibility, nullptr);
    // 0: at the browser's frame rate; true: unwind to the browser now.
    emscripten_set_main_loop(TurnInAnimationFrame, 0, true);
    return 0;
}
