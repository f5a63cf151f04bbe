// The desktop's main loop: as fast as the turns go, resting only after a
// turn that drew nothing.
#include "platform/loop.h"

#include "platform/messages.h"

// Turns the loop until a quit; called by RunDemo.
int RunMainLoop(LoopTurn (*turn)(int* exitStatus)) {
    int exitStatus = 0;
    for (;;) {
        const LoopTurn done = turn(&exitStatus);
        if (done == LoopTurn::kQuit)
            return exitStatus;
        if (done == LoopTurn::kIdle)
            WaitForMessage(1);
    }
}

// Does nothing: the desktop's loop turns on whatever the window's state.
// Called by the audio callback.
void TurnLoopWhileHidden() {}
