// Start-up benchmark: from process start to the first tick, against a floor
// measured in the same run (SDL start-up, the window, a GL context and one
// swap). Run from the repository root under an X display:
//     build/bench/startup_bench [rounds]
// Each round starts this program again in one of three roles and times it
// from just before the spawn to the moment the role reports.
#include "app/app.h"
#include "platform/messages.h"
#include "platform/renderer.h"
#include "platform/screen.h"
#include "platform/ticks.h"
#include "platform/window.h"

#include <SDL.h>
#include <SDL_opengl.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

extern char** environ;

// Reads the monotonic clock in nanoseconds; the same clock in every process.
static long long NowNanoseconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

// Prints the moment a role reached its goal, for the parent to read.
static void ReportArrival() {
    std::printf("%lld\n", NowNanoseconds());
    std::fflush(stdout);
}

// The floor: what any SDL GL program pays before its first frame is shown.
static int RunFloor() {
    if (SDL_Init(SDL_INIT_VIDEO) != 0)
        return 1;
    SDL_Rect bounds;
    SDL_GetDisplayBounds(0, &bounds);
    SDL_Window* window =
        SDL_CreateWindow("floor", 0, 0, bounds.w, bounds.h,
                         SDL_WINDOW_OPENGL | SDL_WINDOW_BORDERLESS | SDL_WINDOW_FULLSCREEN_DESKTOP);
    SDL_GLContext context = window ? SDL_GL_CreateContext(window) : nullptr;
    if (!context)
        return 1;
    glClear(GL_COLOR_BUFFER_BIT);
    SDL_GL_SwapWindow(window);
    ReportArrival();
    SDL_Quit();
    return 0;
}

// The tick source for the demo roles: reports at the first tick and ends the demo.
static uint32_t ReportFirstTick() {
    static bool reported = false;
    if (!reported) {
        reported = true;
        ReportArrival();
        RequestQuit(0);
    }
    SetTickSource(nullptr);
    return ReadTickCount();
}

// The demo's own start-up up to its first tick, with or without the pictures.
static int RunDemoStartUp(bool withPictures) {
    SDL_Window* window =
        CreateMainWindow(kWindowTitle, kScreenWidth, kScreenHeight, 0, g_fullscreen);
    if (!window)
        return 1;
    if (withPictures) {
        InitDemo(window);
    } else {
        g_window = window;
        InitRenderer(kScreenWidth, kScreenHeight);
    }
    SetTickSource(ReportFirstTick);
    return RunDemo();
}

// Starts this program in `role` and returns the milliseconds until it reported.
static double TimeRole(const char* self, const char* role) {
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    char* argv[] = {const_cast<char*>(self), const_cast<char*>(role), nullptr};
    pid_t pid;
    long long start = NowNanoseconds();
    if (posix_spawn(&pid, self, &actions, nullptr, argv, environ) != 0)
        return -1;
    close(fds[1]);
    char text[64] = {};
    ssize_t got = read(fds[0], text, sizeof text - 1);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    if (got <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return (std::atoll(text) - start) / 1e6;
}

// Returns the median of a set of timings.
static double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--floor") == 0)
        return RunFloor();
    if (argc > 1 && std::strcmp(argv[1], "--spine") == 0)
        return RunDemoStartUp(false);
    if (argc > 1 && std::strcmp(argv[1], "--full") == 0)
        return RunDemoStartUp(true);

    setenv("MOVRA_NO_DIALOGS", "1", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    std::vector<double> floor, spine, full;
    // The roles take turns, so drift in the machine's load hits all three alike.
    for (int i = 0; i < rounds; ++i) {
        floor.push_back(TimeRole(argv[0], "--floor"));
        spine.push_back(TimeRole(argv[0], "--spine"));
        full.push_back(TimeRole(argv[0], "--full"));
    }
    if (std::min({Median(floor), Median(spine), Median(full)}) < 0) {
        std::fprintf(stderr, "a role failed; run from the repository root under X\n");
        return 1;
    }
    std::printf("start-up to first tick, median of %d rounds\n", rounds);
    std::printf("  floor (SDL, window, GL context, first swap): %7.1f ms\n", Median(floor));
    std::printf("  demo without pictures:                       %7.1f ms  ratio %.2f\n",
                Median(spine), Median(spine) / Median(floor));
    std::printf("  demo with the ten pictures:                  %7.1f ms  ratio %.2f\n",
                Median(full), Median(full) / Median(floor));
    return 0;
}
