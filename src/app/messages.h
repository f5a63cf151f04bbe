// Messages to the user and to the main loop: error boxes and quit requests.
#pragma once

struct SDL_Window;

// Writes "Error: <text>" to standard error, then shows a modal box captioned
// "Error" over `owner` (may be null) unless MOVRA_NO_DIALOGS is set. Called
// by the window, the renderer and the picture loader.
void ShowErrorMessage(SDL_Window* owner, const char* text);

// Queues a quit with code 0 that the main loop takes before its next tick;
// the caller carries on. Called by the window procedure and start-up checks.
void RequestQuit();
