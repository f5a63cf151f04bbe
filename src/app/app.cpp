// The demo's start-up, main loop and shutdown.
#include "app/app.h"

#include "assets/textures.h"
#include "audio/audio.h"
#include "demo/scenes.h"
#include "demo/timeline.h"
#include "platform/files.h"
#include "platform/loop.h"
#include "platform/messages.h"
#include "platform/renderer.h"
#include "platform/screen.h"
#include "platform/window.h"

bool g_fullscreen = true;
ClientRect g_clientRect;

// Stores the window, sets up the renderer, loads the pictures in slot order
// and warms the drawing paths, stopping early once a quit from outside
// (SIGINT, SIGTERM) is waiting: the loop then takes it before any tick.
// Called by main.
void InitDemo(SDL_Window* window) {
    g_window = window;
    // The demo draws into the virtual screen, so that is its client area.
    g_clientRect = {0, 0, kScreenWidth, kScreenHeight};
    InitRenderer(g_clientRect.right, g_clientRect.bottom);
    for (int slot = 0; slot < kTextureCount && !QuitRequested(); ++slot)
        LoadTexture(g_textures, DataFilePath(kPicturePaths[slot]).c_str(), slot);
    if (!QuitRequested())
        WarmScenes();
}

// One turn of the main loop: handles every waiting message, then runs one
// tick unless a quit came, and shows the tick's last finished frame if it
// presented one. Called by the main loop.
static LoopTurn TurnMainLoop(int* exitStatus) {
    for (MessageKind message; (message = HandleNextMessage(exitStatus)) != MessageKind::kNone;)
        if (message == MessageKind::kQuit)
            return LoopTurn::kQuit;
    TickDemo();
    if (TakeFinishedFrame()) {
        ShowFrameInWindow();
        return LoopTurn::kDrew;
    }
    // Once the script is over the last picture stays up, and the screen may
    // blank or sleep again as the user's settings say.
    if (g_demoTime >= kScriptEndTime)
        AllowScreenSaver();
    return LoopTurn::kIdle;
}

// Starts the music and runs the loop: every waiting message is handled
// before the next tick, and a quit ends the loop. A tick that presented
// shows its last finished frame; one that drew nothing rests until the next
// message or millisecond. Called by main.
int RunDemo() {
    OpenAudioDevice();
    g_musicStream = OpenMusicStream(DataFilePath(kMusicPath).c_str());
    const int exitStatus = RunMainLoop(TurnMainLoop);
    ShutdownDemo();
    return exitStatus;
}

// Releases the window-system resources; called by RunDemo.
void ShutdownDemo() {
    ReleaseRenderer();
    if (g_fullscreen)
        ShowMouseCursor();
    CloseWindowSystem();
}
