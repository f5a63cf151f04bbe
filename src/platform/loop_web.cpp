// The web's main loop: the browser's, one turn an animation frame.
#include "platform/loop.h"

#include "platform/screen.h"

#include <emscripten.h>

static LoopTurn (*s_turn)(int* exitStatus); // the turn RunMainLoop was given

// Runs one turn in an animation frame; a quit ends the program, and after a
// turn that drew nothing a canvas that was resized (which loses its
// picture) is shown the last frame again. Called by the browser.
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

// Hands the loop to the browser and returns to it; called by RunDemo.
int RunMainLoop(LoopTurn (*turn)(int* exitStatus)) {
    s_turn = turn;
    // 0: at the browser's frame rate; true: unwind to the browser now.
    emscripten_set_main_loop(TurnInAnimationFrame, 0, true);
    return 0;
}
