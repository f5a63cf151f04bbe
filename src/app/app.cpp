// The demo's start-up, main loop and shutdown.
#include "app/app.h"

#include "app/renderer.h"
#include "app/screen.h"
#include "app/window.h"
#include "assets/textures.h"
#include "audio/audio.h"
#include "demo/timeline.h"

#include <SDL.h>

bool g_fullscreen = true;
SDL_Window* g_window;
ClientRect g_clientRect;

// Stores the window, sets up the renderer and loads the pictures in slot
// order; called by main.
void InitDemo(SDL_Window* window) {
    g_window = window;
    // The demo draws into the virtual screen, so that is its client area.
    g_clientRect = {0, 0, kScreenWidth, kScreenHeight};
    InitRenderer(g_clientRect.right, g_clientRect.bottom);
    for (int slot = 0; slot < kTextureCount; ++slot)
        LoadTexture(g_textures, kPicturePaths[slot], slot);
}

// Starts the music and runs the loop: every waiting event is handled before
// the next tick, and a quit ends the loop. Called by main.
int RunDemo() {
    OpenAudioDevice();
    g_musicStream = OpenMusicStream(kMusicPath);
    SDL_Event event;
    for (;;) {
        if (SDL_PollEvent(&event)) {
            if (event.type == SDL_QUIT)
                break;
            WindowProc(event);
        } else {
            TickDemo();
        }
    }
    ShutdownDemo();
    return 0; // every quit in the demo carries code 0
}

// Releases the window-system resources; called by RunDemo.
void ShutdownDemo() {
    if (g_glContext) {
        DestroyVirtualScreen();
        SDL_GL_MakeCurrent(g_window, nullptr);
        SDL_GL_DeleteContext(g_glContext);
        g_glContext = nullptr;
    }
    if (g_fullscreen)
        SDL_ShowCursor(SDL_ENABLE);
    SDL_Quit();
}
