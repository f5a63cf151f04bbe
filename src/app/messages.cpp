// Messages to the user and to the main loop.
#include "app/messages.h"

#include <SDL.h>
#include <cstdio>
#include <cstdlib>

// Reports an error on standard error and in a modal box; called by start-up
// checks and the picture loader.
void ShowErrorMessage(SDL_Window* owner, const char* text) {
    std::fprintf(stderr, "Error: %s\n", text);
    std::fflush(stderr);
    if (std::getenv("MOVRA_NO_DIALOGS"))
        return;
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "Error", text, owner);
}

// Pushes a quit event with code 0; called by the window procedure and by
// start-up checks that cannot go on.
void RequestQuit() {
    SDL_Event quit = {};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);
}
