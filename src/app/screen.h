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
// called by PresentScreen.
ScreenRect FitVirtualScreen(int windowWidth, int windowHeight);

// Creates the virtual screen (RGBA colour, depth of at least 16 bits) and
// binds it for drawing and reading; false when the GL cannot provide it.
// Called by SetupPixelFormat.
bool CreateVirtualScreen();

// Releases the virtual screen; called by ShutdownDemo.
void DestroyVirtualScreen();

// Copies the virtual screen to the window, scaled with black bars beside
// it, and swaps the window's buffers. The virtual screen keeps its colour
// and depth. Called at the end of every scene.
void PresentScreen();

// Calls `hook` after every present (null removes it); called by tests and
// benchmarks only.
void SetPresentHookForTests(void (*hook)());

// Reads the virtual screen as RGBA, bottom row first, into 640 x 480 x 4
// bytes; called by tests and benchmarks.
void ReadVirtualScreen(uint8_t* rgba);
