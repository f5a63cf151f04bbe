// The 640 x 480 virtual screen: an offscreen framebuffer with colour and
// depth that every scene draws into, shown scaled to the window at present.
#pragma once

#include <cstdint>

struct SDL_Window;

// The virtual screen's size in its own units, which the scenes draw in.
constexpr int kScreenWidth = 640;
constexpr int kScreenHeight = 480;

// The virtual screen's pixels for its 640 x 480 units: 640 x 480 in the live
// demo; a capture at a video's size gives it as many as the picture's area
// has (1440 x 1080 in a 1920 x 1080 frame), each drawn as samples x samples
// pixels and averaged down when read back.
struct ScreenPixels {
    int width, height; // what a read-back holds
    int samples;       // drawn pixels per read-back pixel, across and down: 1, 2 or 4
};
extern ScreenPixels g_screenPixels; // set by the capture before CreateVirtualScreen

// The drawn pixels across and down: the read-back's times the samples.
// Called by the renderer for the viewport and by the virtual screen.
int DrawnScreenWidth();
int DrawnScreenHeight();

// The widest and tallest virtual screen the GL behind `window` can draw, in
// pixels (the smaller of its largest renderbuffer and viewport); 0 when no
// GL context can be made there. Makes a context of its own for the question
// and leaves none current. Called by the capture before start-up.
int LargestScreenSide(SDL_Window* window);

// Where the virtual screen lands inside the window, in window pixels with
// the origin at the bottom left, and how it is scaled there.
struct ScreenRect {
    int x, y, width, height;
    int wholeScale; // window pixels per virtual pixel when a whole number, else 0
};

// Fits 4:3 into a window of the given size, centred, as large as it goes,
// and tells whether each virtual pixel covers a whole number of window
// pixels (then the copy takes the nearest pixel; otherwise it blends).
// Called by CopyFrameToWindow.
ScreenRect FitVirtualScreen(int windowWidth, int windowHeight);

// Creates the virtual screen (RGBA colour, depth of at least 16 bits) of
// g_screenPixels and binds it for drawing and reading; false when the GL
// cannot provide it. Called by SetupPixelFormat.
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

// Copies the virtual screen into the window's back buffer, scaled into the
// letterbox with black bars beside it, without swapping; the virtual screen
// keeps its colour and depth and stays bound. Called by ShowFrameInWindow,
// and by the warm-up before the first tick so that the first copy is not slow.
void CopyFrameToWindow();

// Copies the virtual screen to the window as above and swaps the window's
// buffers. Called by the main loop after a tick that presented.
void ShowFrameInWindow();

// Shows the virtual screen again when the window's size changed since it
// was last shown: in the browser a resized canvas loses its picture, and
// after the script nothing presents again. Called by the browser's main loop
// after a tick that presented nothing.
void ShowFrameAgainIfResized();

// How many frames ShowFrameInWindow has shown, that is how many times it
// swapped the window's buffers; read by tests and benchmarks.
int FramesShown();

// Calls `hook` after every present (null removes it): offline rendering
// takes each finished frame through it, and tests and benchmarks watch the
// presents with it.
void SetPresentHook(void (*hook)());

// Waits until the GL has drawn everything asked of it into the virtual
// screen; called by offline rendering before it reads a frame back.
void FinishScreenDrawing();

// Reads the virtual screen as RGBA, bottom row first, into g_screenPixels'
// width x height x 4 bytes (640 x 480 x 4 in the live demo), each pixel the
// mean of its samples; the virtual screen stays bound. Called by offline
// rendering, tests and benchmarks.
void ReadVirtualScreen(uint8_t* rgba);
