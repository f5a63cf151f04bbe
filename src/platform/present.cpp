// The present, where the virtual screen lands in the window, and its
// pixels: the same on every system.
#include "platform/screen.h"

#include "platform/drawing_record.h"

#include <SDL_opengl.h>

ScreenPixels g_screenPixels = {kScreenWidth, kScreenHeight, 1};

static void (*s_presentHook)();
static bool s_framePresented; // a scene presented since the last TakeFinishedFrame

// Fits 4:3 into the window and finds a whole scale; called by CopyFrameToWindow.
ScreenRect FitVirtualScreen(int windowWidth, int windowHeight) {
    ScreenRect rect = {0, 0, windowWidth, windowHeight, 0};
    if (int64_t(windowWidth) * kScreenHeight > int64_t(windowHeight) * kScreenWidth) {
        rect.width =
            int((int64_t(windowHeight) * kScreenWidth + kScreenHeight / 2) / kScreenHeight);
        rect.x = (windowWidth - rect.width) / 2;
    } else {
        rect.height = int((int64_t(windowWidth) * kScreenHeight + kScreenWidth / 2) / kScreenWidth);
        rect.y = (windowHeight - rect.height) / 2;
    }
    const int scale = rect.width / kScreenWidth;
    const bool whole = rect.width == scale * kScreenWidth && rect.height == scale * kScreenHeight;
    rect.wholeScale = whole ? scale : 0;
    return rect;
}

// Marks the frame finished and runs the hook; called at the end of every scene.
void PresentScreen() {
    NoteDrawingStep(DrawingStep::kPresent);
    s_framePresented = true;
    if (s_presentHook)
        s_presentHook();
}

// Tells whether a frame was presented since the last call; called after every tick.
bool TakeFinishedFrame() {
    const bool presented = s_framePresented;
    s_framePresented = false;
    return presented;
}

// Installs a hook run after every present; called by offline rendering,
// tests and benchmarks.
void SetPresentHook(void (*hook)()) {
    s_presentHook = hook;
}

// Waits for the drawing; called by offline rendering.
void FinishScreenDrawing() {
    glFinish();
}

// The drawn pixels across; called by the renderer and the virtual screen.
int DrawnScreenWidth() {
    return g_screenPixels.width * g_screenPixels.samples;
}

// The drawn pixels down; called by the renderer and the virtual screen.
int DrawnScreenHeight() {
    return g_screenPixels.height * g_screenPixels.samples;
}
