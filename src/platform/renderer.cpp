// The rendering context.
#include "platform/renderer.h"

#include "platform/drawing.h"
#include "platform/window.h"
#include "platform/messages.h"
#include "platform/screen.h"

#include <SDL.h>
#include <cstdio>

void* g_glContext;

// Checks the drawing surface and creates the virtual screen; called by
// InitRenderer once the context is current.
bool SetupPixelFormat(SDL_Window* window) {
    int doubleBuffered = 0, red = 0, green = 0, blue = 0;
    bool haveFormat = window && g_glContext &&
                      SDL_GL_GetAttribute(SDL_GL_DOUBLEBUFFER, &doubleBuffered) == 0 &&
                      SDL_GL_GetAttribute(SDL_GL_RED_SIZE, &red) == 0 &&
                      SDL_GL_GetAttribute(SDL_GL_GREEN_SIZE, &green) == 0 &&
                      SDL_GL_GetAttribute(SDL_GL_BLUE_SIZE, &blue) == 0;
    // The offscreen window is never shown: its frames stay in the virtual
    // screen, so it needs no second buffer to swap.
    const bool needsDoubleBuffer = !IsOffscreenWindow(window);
    if (!haveFormat || (needsDoubleBuffer && !doubleBuffered) || red + green + blue < 15) {
        // SDL's reason when the context could not be made, else what the
        // surface lacks.
        char lacking[128];
        std::snprintf(lacking, sizeof lacking, "the surface has %d colour bits%s",
                      red + green + blue, doubleBuffered ? "" : " and one buffer");
        ShowErrorWithReason("ChoosePixelFormat failed", haveFormat ? lacking : SDL_GetError());
        return false;
    }
    if (!CreateVirtualScreen() || !PrepareDrawing()) {
        ShowErrorWithReason("SetPixelFormat failed", SDL_GetError());
        return false;
    }
    return true;
}

// Sets up the rendering context; called by InitDemo.
void InitRenderer(int width, int height) {
    g_glContext = SDL_GL_CreateContext(g_window);
    if (g_glContext)
        SDL_GL_MakeCurrent(g_window, g_glContext);
    if (!SetupPixelFormat(g_window))
        RequestQuit(1);
    // Vsync where the driver allows it: adaptive first, else plain; a refusal
    // leaves the loop unthrottled.
    if (SDL_GL_SetSwapInterval(-1) != 0)
        SDL_GL_SetSwapInterval(1);
    SetDrawSwitch(DrawSwitch::kTexturing, true);
    SetDrawSwitch(DrawSwitch::kDepthTest, true);
    SetProjection(width, height);
}

// Sets the viewport and the perspective projection; called by InitRenderer.
void SetProjection(int width, int height) {
    if (height == 0)
        height = 1;
    // The client size is in the virtual screen's units; the viewport covers
    // the pixels drawn for them, however many the screen has.
    SetViewport(int(int64_t(width) * DrawnScreenWidth() / kScreenWidth),
                int(int64_t(height) * DrawnScreenHeight() / kScreenHeight));
    LoadPerspective(45.0, double(width) / double(height), 0.5, 150.0);
}

// Makes no context current and deletes the demo's; called by ShutdownDemo.
void ReleaseRenderer() {
    if (!g_glContext)
        return;
    DestroyVirtualScreen();
    SDL_GL_MakeCurrent(g_window, nullptr);
    SDL_GL_DeleteContext(g_glContext);
    g_glContext = nullptr;
}
