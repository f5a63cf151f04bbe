// The web's window: the page's canvas with a WebGL 1 (OpenGL ES 2.0)
// context. The page owns the rest: its size and full screen, the keys
// (Escape leaves full screen, as in any page) and where messages to the
// viewer appear. There is no offscreen window: the capture tool is a Linux
// program.
#include "platform/window.h"

#include <SDL.h>
#include <emscripten.h>
#include <cstdio>

SDL_Window* g_window;

// Asks the page to size and place the canvas again, as it does whenever the
// page changes size; called by CreateMainWindow.
EM_JS(void, PlaceCanvasInPage, (), {
    if (Module['placeCanvas'])
        Module['placeCanvas']();
});

// Hands a message to the page, which shows it over the canvas; called by
// ShowErrorBox.
EM_JS(void, ShowMessageInPage, (const char* text), {
    if (Module['showError'])
        Module['showError'](UTF8ToString(text));
});

// Creates the window on the page's canvas, which the page sizes, places and
// takes full screen; the size and style asked for are not used. Called once
// by main.
SDL_Window* CreateMainWindow(const char* title, int width, int height, uint32_t, bool) {
    // Keys go to the canvas alone, which never takes the focus: the page
    // keeps them all, and no key ends the demo.
    SDL_SetHint(SDL_HINT_EMSCRIPTEN_KEYBOARD_ELEMENT, "#canvas");
    SDL_SetHint(SDL_HINT_POLL_SENTINEL, "0");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "Error: %s\n", SDL_GetError());
        return nullptr;
    }
    // OpenGL ES 2.0 is WebGL 1. The virtual screen has its own depth, so
    // the canvas needs none.
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_ES);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 0);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
    // Neither resizable nor high-DPI, so that SDL never sizes the canvas
    // again: the page gives it its size in device pixels, which SDL set to
    // the window's here.
    SDL_Window* window =
        SDL_CreateWindow(title, 0, 0, width, height, SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN);
    if (!window)
        std::fprintf(stderr, "Error: %s\n", SDL_GetError());
    PlaceCanvasInPage();
    return window;
}

// The page has no offscreen window; called by SetupPixelFormat.
bool IsOffscreenWindow(SDL_Window*) {
    return false;
}

// Nothing in a page asks the demo to quit: Escape is the browser's, and
// closing the page ends the program with it. Paint requests draw nothing.
// Called by the main loop.
void WindowProc(const SDL_Event&) {}

// Shows the message in the page; called by ShowErrorMessage.
void ShowErrorBox(const char* text) {
    ShowMessageInPage(text);
}

// A page holds no screensaver off, so there is nothing to allow again;
// called by the main loop after the script.
void AllowScreenSaver() {}

// The cursor over the canvas is the page's; called by ShutdownDemo.
void ShowMouseCursor() {}

// Ends SDL, which lets go of the canvas and the audio; called by ShutdownDemo.
void CloseWindowSystem() {
    SDL_Quit();
}
