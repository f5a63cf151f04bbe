// Messages to the user and to the main loop: error boxes, quit requests and
// the message queue.
#pragma once

// Writes "Error: <text>" to standard error, then shows it to the user
// (ShowErrorBox). Called by every start-up step that fails: the window,
// the renderer and the picture loader.
void ShowErrorMessage(const char* text);

// ShowErrorMessage with "<text>: <reason>", or the text alone when the
// reason is empty; called by the window and the renderer with SDL's reason.
void ShowErrorWithReason(const char* text, const char* reason);

// Queues a quit carrying `exitStatus` that the main loop takes before its
// next tick; the caller carries on. Called by the window procedure (0) and
// by start-up checks that cannot go on (1).
void RequestQuit(int exitStatus);

// What HandleNextMessage found in the queue.
enum class MessageKind { kNone, kHandled, kQuit };

// Takes one message from the queue: a quit gives kQuit and its exit status
// (0 for a quit the window system sent, as on SIGINT or SIGTERM); any other
// message goes to WindowProc. kNone when the queue is empty. Called by the
// main loop.
MessageKind HandleNextMessage(int* exitStatus);

// Pumps the window system's events and tells whether a quit it sent (on
// SIGINT or SIGTERM) is waiting, leaving it queued for the main loop. The
// demo's own quits (RequestQuit) don't count: start-up goes on past them.
// Called by InitDemo between pictures and by the texture table while one
// decodes.
bool QuitRequested();

// Waits until a message arrives or `milliseconds` pass, leaving the message
// queued, to the millisecond on every system (system_*.cpp); called by the
// main loop after a tick that drew nothing.
void WaitForMessage(int milliseconds);
