// The demo window and the full-screen display.
#include "platform/window.h"

#include "platform/messages.h"
#include "platform/screen.h"

#include <SDL.h>
#include <cstdio>
#include <cstdlib>

SDL_Window* g_window;

static SDL_Window* s_offscreenWindow; // made by CreateOffscreenWindow

// Where the full-screen window goes: the whole desktop, or 640 x 480 at the
// top left when the desktop mode cannot be read. Set by EnterFullscreenMode.
static SDL_Rect s_displayRect = {0, 0, kScreenWidth, kScreenHeight};
static bool s_desktopRead; // the desktop mode was read: cover the whole desktop

// Reads the desktop mode and checks that it fits the demo; called by
// CreateMainWindow before the window exists.
void EnterFullscreenMode() {
    SDL_DisplayMode desktop;
    s_desktopRead =
        SDL_GetDesktopDisplayMode(0, &desktop) == 0 && SDL_GetDisplayBounds(0, &s_displayRect) == 0;
    if (!s_desktopRead) {
        ShowErrorMessage("Could Not Enum Display Settings");
        s_displayRect = {0, 0, kScreenWidth, kScreenHeight};
        return;
    }
    if (desktop.w < kScreenWidth || desktop.h < kScreenHeight) {
        ShowErrorMessage("Display Mode Not Compatible");
        RequestQuit(1);
    }
}

// Asks for the drawing surface the renderer needs: RGBA of at least 16 bits,
// double-buffered when shown, and a compatibility context; called by
// CreateMainWindow and CreateOffscreenWindow.
static void RequestGlFormat(bool doubleBuffered) {
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, doubleBuffered ? 1 : 0);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
}

// Tells whether SDL found a display a person can see; its offscreen and
// dummy drivers count only when asked for by name. Called by CreateMainWindow.
static bool HasWindowSystem() {
    const char* driver = SDL_GetCurrentVideoDriver();
    bool invisible =
        driver && (SDL_strcmp(driver, "offscreen") == 0 || SDL_strcmp(driver, "dummy") == 0);
    return driver && (!invisible || SDL_getenv("SDL_VIDEODRIVER"));
}

// Creates the demo window; called once by main.
SDL_Window* CreateMainWindow(const char* title, int width, int height, uint32_t style,
                             bool fullscreen) {
    // The window procedure, not the window system, turns a close into a quit.
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    // A quit posted while an event is handled must be seen before the next
    // tick, so the poll may not report an empty queue at the end of a batch.
    SDL_SetHint(SDL_HINT_POLL_SENTINEL, "0");
    // A rest of 1 ms must end after 1 ms on Windows too, not at the system
    // timer's default 15.6 ms tick.
    SDL_SetHint(SDL_HINT_TIMER_RESOLUTION, "1");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        ShowErrorWithReason("Unable to start the window system", SDL_GetError());
        return nullptr;
    }
    if (!HasWindowSystem()) {
        ShowErrorMessage("No display to show the demo on");
        SDL_Quit();
        return nullptr;
    }
    SDL_Rect area = {0, 0, width, height};
    if (fullscreen && style == 0) {
        EnterFullscreenMode();
        SDL_ShowCursor(SDL_DISABLE);
        area = s_displayRect;
        // Without the desktop mode, a plain 640 x 480 borderless window at
        // the top left: desktop full screen would size it to the display.
        style = SDL_WINDOW_BORDERLESS | (s_desktopRead ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
    } else if (style == 0) {
        style = SDL_WINDOW_RESIZABLE;
    }
    RequestGlFormat(true);
    SDL_Window* window = SDL_CreateWindow(title, area.x, area.y, area.w, area.h,
                                          style | SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN);
    if (!window) {
        ShowErrorWithReason("Unable to create the demo window", SDL_GetError());
        return nullptr;
    }
    // Without a window manager the full-screen flag leaves the window at the
    // size asked for, so ask for the whole display explicitly.
    int shownWidth = 0, shownHeight = 0;
    SDL_GetWindowSize(window, &shownWidth, &shownHeight);
    if (shownWidth != area.w || shownHeight != area.h) {
        SDL_SetWindowSize(window, area.w, area.h);
        SDL_SetWindowPosition(window, area.x, area.y);
    }
    SDL_RaiseWindow(window);
    SDL_SetWindowInputFocus(window);
    return window;
}

// Creates the window on SDL's offscreen driver; called by offline rendering.
SDL_Window* CreateOffscreenWindow(const char* title, int width, int height) {
    // Chosen over SDL_VIDEODRIVER too: a display that happens to be there
    // must not be used.
    SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "offscreen", SDL_HINT_OVERRIDE);
    // Nothing reads SDL's event queue while rendering offline, so SIGINT and
    // SIGTERM stay with the caller instead of becoming quit events.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "Error: %s\n", SDL_GetError());
        return nullptr;
    }
    RequestGlFormat(false);
    SDL_Window* window =
        SDL_CreateWindow(title, 0, 0, width, height, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!window) {
        std::fprintf(stderr, "Error: %s\n", SDL_GetError());
        SDL_Quit();
        return nullptr;
    }
    s_offscreenWindow = window;
    return window;
}

// Tells the offscreen window apart; called by SetupPixelFormat.
bool IsOffscreenWindow(SDL_Window* window) {
    return window && window == s_offscreenWindow;
}

// Handles one window event; called by the main loop.
void WindowProc(const SDL_Event& event) {
    switch (event.type) {
    case SDL_WINDOWEVENT:
        // Paint requests draw nothing: the window shows the last present.
        if (event.window.event == SDL_WINDOWEVENT_CLOSE)
            RequestQuit(0);
        break;
    case SDL_KEYDOWN:
        if (event.key.keysym.sym == SDLK_ESCAPE)
            RequestQuit(0);
        break;
    default:
        break;
    }
}

// Allows the screensaver SDL suspended for the window; called by the main
// loop after the script.
void AllowScreenSaver() {
    SDL_EnableScreenSaver();
}

// Shows a modal error box over the demo window unless automated runs asked
// for none; called by ShowErrorMessage.
void ShowErrorBox(const char* text) {
    if (std::getenv("MOVRA_NO_DIALOGS"))
        return;
    if (g_window)
        SDL_ShowCursor(SDL_ENABLE);
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "Error", text, g_window);
}

// Shows the cursor hidden by CreateMainWindow; called by ShutdownDemo.
void ShowMouseCursor() {
    SDL_ShowCursor(SDL_ENABLE);
}

// Ends SDL, which closes the window and the audio device; called by ShutdownDemo.
void CloseWindowSystem() {
    s_offscreenWindow = nullptr;
    SDL_Quit();
}
