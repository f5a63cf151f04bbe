// The process entry: create the window, start the demo, run it.
#include "app/app.h"
#include "platform/screen.h"
#include "platform/window.h"

// Runs the demo; the result is the exit status (1 when there is no window).
int main() {
    SDL_Window* window =
        CreateMainWindow(kWindowTitle, kScreenWidth, kScreenHeight, 0, g_fullscreen);
    if (!window)
        return 1;
    InitDemo(window);
    return RunDemo();
}
