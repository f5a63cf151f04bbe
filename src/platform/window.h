// The demo window and the full-screen display.
#pragma once

#include <cstdint>

struct SDL_Window;
union SDL_Event;

extern SDL_Window* g_window; // the demo window, stored by InitDemo

// The demo window's title.
constexpr const char* kWindowTitle = "Movra first demo";

// Creates and shows the demo window with keyboard focus; null when it cannot
// be made. `style` holds window flags; 0 chooses them by `fullscreen`, and
// the full-screen choice covers the whole display and hides the cursor.
// Called once by main.
SDL_Window* CreateMainWindow(const char* title, int width, int height, uint32_t style,
                             bool fullscreen);

// Creates the demo's window with no display and no X server: SDL's offscreen
// video driver with an EGL surface of width x height, never shown; null when
// it cannot be made (the reason on standard error). Called by offline
// rendering.
SDL_Window* CreateOffscreenWindow(const char* title, int width, int height);

// Tells whether `window` is the offscreen one, which draws only into the
// virtual screen and so needs no double buffer. Called by SetupPixelFormat.
bool IsOffscreenWindow(SDL_Window* window);

// Takes the display for the demo: reads the desktop mode the full-screen
// window will cover, and refuses a desktop smaller than 640 x 480. When the
// mode cannot be read it says so and the window becomes 640 x 480
// borderless at the top left instead. Called by CreateMainWindow.
void EnterFullscreenMode();

// Handles one window event: Escape and the close request post a quit,
// paint requests draw nothing, everything else is ignored. Called by the
// main loop.
void WindowProc(const SDL_Event& event);

// Lets the screensaver and display sleep come again, which the window
// system holds off while the demo's window is up; called by the main loop
// once the script is over.
void AllowScreenSaver();

// Shows `text` to the user: on the desktop a modal box captioned "Error"
// unless MOVRA_NO_DIALOGS is set, owned by the demo window once it exists
// (so that it comes up in front of the full-screen picture) and with the
// mouse cursor shown to press its button; in the browser the page's
// message. Called by ShowErrorMessage.
void ShowErrorBox(const char* text);

// Shows the mouse cursor again after the full-screen run; called by
// ShutdownDemo.
void ShowMouseCursor();

// Closes the window, the audio device and the window system; called last by
// ShutdownDemo.
void CloseWindowSystem();
