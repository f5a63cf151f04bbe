// Messages to the user and to the main loop.
#include "platform/messages.h"

#include "platform/window.h"

#include <SDL.h>
#include <cstdio>

// Reports an error on standard error and to the user; called by start-up
// steps that fail.
void ShowErrorMessage(const char* text) {
    std::fprintf(stderr, "Error: %s\n", text);
    std::fflush(stderr);
    ShowErrorBox(text);
}

// Reports an error with the reason the system gave; called by the window
// and the renderer.
void ShowErrorWithReason(const char* text, const char* reason) {
    if (!reason || !*reason)
        return ShowErrorMessage(text);
    char message[1024];
    std::snprintf(message, sizeof message, "%s: %s", text, reason);
    ShowErrorMessage(message);
}

// The event type of the demo's own quits, which carry their exit status in
// user.code; registered on first use. Called by RequestQuit and
// HandleNextMessage.
static uint32_t QuitEventType() {
    static const uint32_t type = SDL_RegisterEvents(1);
    return type;
}

// Pushes a quit carrying an exit status; called by the window procedure and
// by start-up checks that cannot go on.
void RequestQuit(int exitStatus) {
    SDL_Event quit = {};
    quit.type = QuitEventType();
    quit.user.code = exitStatus;
    SDL_PushEvent(&quit);
}

// Takes one event and dispatches it, or reports a quit; called by the main loop.
MessageKind HandleNextMessage(int* exitStatus) {
    SDL_Event event;
    if (!SDL_PollEvent(&event))
        return MessageKind::kNone;
    if (event.type == SDL_QUIT || event.type == QuitEventType()) {
        *exitStatus = event.type == SDL_QUIT ? 0 : event.user.code;
        return MessageKind::kQuit;
    }
    WindowProc(event);
    return MessageKind::kHandled;
}

// Pumps events and peeks for the window system's quit; called by InitDemo
// and the texture table while pictures load.
bool QuitRequested() {
    SDL_PumpEvents();
    return SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_QUIT, SDL_QUIT) > 0;
}
