// The main loop: who turns it, and how it rests.
#pragma once

// What one turn of the main loop did.
enum class LoopTurn { kDrew, kIdle, kQuit };

// Runs `turn` until it returns kQuit and returns the exit status it left in
// its argument. On the desktop the loop is ours: turn after turn, resting
// after a turn that drew nothing until the next message or millisecond. In
// the browser the browser owns the loop: it calls `turn` once an animation
// frame, this returns only to the browser, never to the caller, and a quit
// ends the program there with its status. Called by RunDemo.
int RunMainLoop(LoopTurn (*turn)(int* exitStatus));

// Runs a turn of the loop now if the browser has stopped its animation
// frames because the page is hidden, so that the demo's clock is still read
// as often as the audio is pulled; does nothing on the desktop, whose loop
// never stops. Called by the audio callback.
void TurnLoopWhileHidden();
