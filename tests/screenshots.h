// Screenshots of the demo's window on an X display, for the tests that run
// the real program: the Linux binary, or the Windows release under Wine.
#pragma once

#include "support.h"

#include <chrono>
#include <vector>

// Xlib's own types, declared as Xlib does: its header's macros would clash
// with GoogleTest's.
typedef struct _XDisplay Display;
typedef unsigned long Window;

// Opens an X display whose errors are ignored: a window listed a moment ago
// may be gone when asked about. Null when it cannot be opened.
Display* OpenScreenshotDisplay(const char* name);

// Lists the top-level windows with the title given.
std::vector<Window> FindWindowsTitled(Display* display, const char* title);

// Lists the top-level windows titled "Movra first demo".
std::vector<Window> FindDemoWindows(Display* display);

// Waits up to `seconds` for the demo's window to be mapped; 0 if it never is.
Window WaitForDemoWindow(Display* display, double seconds = 60);

// Takes a screenshot of the whole display and shrinks the part the virtual
// screen is shown in; reports whether the bars beside it are black.
Thumbnail ScreenshotThumbnail(Display* display, bool& barsBlack);

// Loads the recorded frame of the scenes test for demo time t.
Thumbnail ReferenceFrame(unsigned t);

// Waits until the screen shows the first picture (with the sprites over it
// or not): the loop is running and taking keys. False when it has not after
// a minute.
bool WaitForFirstPicture(Display* display);

// Presses and releases Escape on the display, as a person would.
void PressEscape(Display* display);

// Waits up to `seconds` for the first frame, the background picture drawn at
// 1 s of demo time, and returns when the demo's clock started by it (when
// the program's own start can't be told, as under Wine); the time at the
// timeout if no frame came.
std::chrono::steady_clock::time_point WaitForFirstFrame(Display* display, double seconds);

// Screenshots through a whole run of the script, from `started` (at or
// before the demo's clock started) to 93 s: each section shows its scripted
// picture, upright, in a 4:3 letterbox with black bars, and the cube its
// light. Each shot is taken at its time and again until it matches or its
// section is over, so a busy machine's slow start-up or late frame is
// waited for.
void ExpectScreenshotsFollowTheScript(Display* display,
                                      std::chrono::steady_clock::time_point started);
