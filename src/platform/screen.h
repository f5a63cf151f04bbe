// The 640 x 480 virtual screen: an offscreen framebuffer with colour and
// depth that every scene draws into, shown scaled to the window at present.
#pragma once

#include <cstdint>

constexpr int kScreenWidth = 640;
constexpr int kScreenHeight = 480;

// Where the virtual screen lands inside the window, in window pixels with
// the origin at the bottom left.
struct ScreenRect {
    int x, y, width, height;
};

// Fits 4:3 into a window of the given size, centred, as large as it goes;
// called by ShowFrameInWindow.
ScreenRect FitVirtualScreen(int windowWidth, int windowHeight);

// Creates the virtual screen (RGBA colour, depth of at least 16 bits) and
// binds it for drawing and reading; false when the GL cannot provide it.
// Called by SetupPixelFormat.
bool CreateVirtualScreen();

// Releases the virtual screen; called by ShutdownDemo.
void DestroyVirtualScreen();

// Marks the frame in the virtual screen as finished, then runs the present
// hook. Nothing reaches the window here: the main loop shows the tick's last
// finished frame once the tick is over. Called at the end of every scene.
void PresentScreen();

// Tells whether a scene presented since the last call, and forgets it; called
// after every tick by the main loop and by offline rendering.
bool TakeFinishedFrame();

// Copies the virtual screen to the window, scaled into the letterbox with
// black bars beside it, and swaps the window's buffers; the virtual screen
// keeps its colour and depth. Called by the main loop after a tick that
// presented.
void ShowFrameInWindow();

// Calls `hook` after every present (null removes it): offline rendering
// takes each finished frame through it, and tests and benchmarks watch the
// presents with it.
void SetPresentHook(void (*hook)());

// Waits until the GL has drawn everything asked of it into the virtual
// screen; called by offline rendering before it reads a frame back.
void FinishScreenDrawing();

// Reads the virtual screen as RGBA, bottom row first, into 640 x 480 x 4
// bytes; called by offline rendering, tests and benchmarks.
void ReadVirtualScreen(uint8_t* rgba);
