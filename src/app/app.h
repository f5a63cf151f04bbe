// The demo's entry, start-up, main loop and shutdown.
#pragma once

#include <cstdint>

struct SDL_Window;

// A window's client rectangle; right and bottom are the width and height.
struct ClientRect {
    int32_t left, top, right, bottom;
};

extern bool g_fullscreen;       // always true: the demo runs full screen
extern ClientRect g_clientRect; // its client area: the virtual screen

// Stores the window, sets up the renderer, loads the ten pictures and warms
// the drawing paths, stopping early when SIGINT or SIGTERM asks to quit;
// called by main after the window exists.
void InitDemo(SDL_Window* window);

// Starts the music, runs the message-and-tick loop until a quit, shuts
// down and returns the quit code; called by main.
int RunDemo();

// Releases the rendering context and the virtual screen, shows the cursor
// again and closes the window system; called by RunDemo.
void ShutdownDemo();
