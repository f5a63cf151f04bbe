// Scene benchmark: ticks per second in each section of the script against a
// loop that only presents, measured in the same run, and the heap
// allocations made during ticks. Run from the repository root under X:
//     build/bench/scenes_bench [--table] [seconds per round] [rounds]
// The floor and each section take turns for several rounds, and the figures
// are medians with their spread: a floor measured once drifts with the
// machine's load away from the sections measured after it.
#include "app/app.h"
#include "platform/renderer.h"
#include "platform/screen.h"
#include "platform/ticks.h"
#include "platform/window.h"
#include "assets/textures.h"
#include "demo/scenes.h"
#include "demo/timeline.h"
#include "bench_support.h"

#include <GL/gl.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <new>
#include <vector>

extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);

// Heap allocations made while counting is on: by anything in the process,
// and by the demo's own code (this executable, where the demo is linked in
// statically; the window system, the GL driver and the C++ runtime are
// shared libraries).
static bool s_counting;
static long s_allocations;
static long s_ownAllocations;
extern "C" char __executable_start, etext;

// Counts one allocation made from `caller`; called by the allocators below.
static void CountAllocation(void* caller) {
    if (!s_counting)
        return;
    ++s_allocations;
    if (caller >= static_cast<void*>(&__executable_start) && caller < static_cast<void*>(&etext))
        ++s_ownAllocations;
}

extern "C" void* malloc(size_t size) {
    CountAllocation(__builtin_return_address(0));
    return __libc_malloc(size);
}

extern "C" void* calloc(size_t count, size_t size) {
    CountAllocation(__builtin_return_address(0));
    return __libc_calloc(count, size);
}

extern "C" void* realloc(void* block, size_t size) {
    CountAllocation(__builtin_return_address(0));
    return __libc_realloc(block, size);
}

void* operator new(size_t size) {
    CountAllocation(__builtin_return_address(0));
    if (void* block = __libc_malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}

void* operator new[](size_t size) {
    CountAllocation(__builtin_return_address(0));
    if (void* block = __libc_malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept {
    free(block);
}

void operator delete[](void* block) noexcept {
    free(block);
}

void operator delete(void* block, size_t) noexcept {
    free(block);
}

void operator delete[](void* block, size_t) noexcept {
    free(block);
}

static uint32_t s_ticks;
static long s_presents;

// The fake clock that holds the demo in one section.
static uint32_t FixedClock() {
    return s_ticks;
}

// Counts presents.
static void CountPresent() {
    ++s_presents;
}

// Presents and shows the frame in the window, as a tick that draws one
// frame ends: the floor of every tick.
static void PresentAndShow() {
    PresentScreen();
    TakeFinishedFrame();
    ShowFrameInWindow();
}

// Runs one tick as the main loop does: the script, then the tick's last
// finished frame shown in the window.
static void TickAndShow() {
    TickDemo();
    if (TakeFinishedFrame())
        ShowFrameInWindow();
}

// Draws the background picture with the least GL there is: clear, one
// textured quad in screen space, present. The floor for a picture scene.
static void DrawBarePicture() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, kScreenWidth, 0, kScreenHeight, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_DEPTH_TEST);
    glBindTexture(GL_TEXTURE_2D, g_textures[0]);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 1);
    glVertex2f(0, 0);
    glTexCoord2f(1, 1);
    glVertex2f(kScreenWidth, 0);
    glTexCoord2f(1, 0);
    glVertex2f(kScreenWidth, kScreenHeight);
    glTexCoord2f(0, 0);
    glVertex2f(0, kScreenHeight);
    glEnd();
    PresentAndShow();
}

// Runs `step` repeatedly for `seconds`; returns the calls per second.
template <typename Step> static double RatePerSecond(double seconds, Step step) {
    using Clock = std::chrono::steady_clock;
    auto start = Clock::now();
    long calls = 0;
    double elapsed = 0;
    do {
        for (int i = 0; i < 10; ++i)
            step();
        calls += 10;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < seconds);
    return calls / elapsed;
}

// Counts the heap allocations `calls` runs of `step` make, per run.
template <typename Step> static double AllocationsPerCall(int calls, Step step) {
    s_allocations = s_ownAllocations = 0;
    s_counting = true;
    for (int i = 0; i < calls; ++i)
        step();
    s_counting = false;
    return double(s_allocations) / calls;
}

// What interleaved rounds of a floor and a measured step gave: the rates of
// each and the ratio of every round (step / floor), each with its spread.
struct Rounds {
    Spread floor, step, ratio;
};

// Runs `rounds` rounds of the floor then the step, `seconds` each, so drift
// in the machine's load hits both alike; called by main for every figure.
template <typename Floor, typename Step>
static Rounds Interleave(int rounds, double seconds, Floor floor, Step step) {
    std::vector<double> floorRates, stepRates, ratios;
    for (int round = 0; round < rounds; ++round) {
        floorRates.push_back(RatePerSecond(seconds, floor));
        stepRates.push_back(RatePerSecond(seconds, step));
        ratios.push_back(stepRates.back() / floorRates.back());
    }
    return {SpreadOf(floorRates), SpreadOf(stepRates), SpreadOf(ratios)};
}

// Draws the picture scene and shows it, as a tick of the background section
// does; the scene measured against the bare picture.
static void DrawSceneAndShow() {
    SetProjection(kScreenWidth, kScreenHeight);
    glEnable(GL_DEPTH_TEST);
    DrawPictureScene(0);
    TakeFinishedFrame();
    ShowFrameInWindow();
}

constexpr int kCountedTicks = 60; // ticks whose allocations are counted

int main(int argc, char** argv) {
    const bool table = TakeTableOption(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 0.25;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    setenv("MOVRA_NO_DIALOGS", "1", 0);
    SDL_Window* window =
        CreateMainWindow(kWindowTitle, kScreenWidth, kScreenHeight, 0, g_fullscreen);
    if (!window)
        return 1;
    InitDemo(window);
    SetTickSource(FixedClock);
    SetPresentHook(CountPresent);
    g_startTick = 0;

    struct Section {
        const char* name;
        uint32_t t;
    };
    const Section sections[] = {
        {"before 1 s (nothing drawn)", 500},
        {"background", 1500},
        {"background and sprites", 10000},
        {"background then treasure", 29500},
        {"treasure", 31000},
        {"pirate", 35000},
        {"cube", 45000},
        {"greetings", 65000},
        {"end screens", 85000},
        {"after the script", 95000},
    };
    // Warm up, then count what one present allocates inside the window system
    // and the GL driver, to tell it apart from what a tick adds.
    RatePerSecond(seconds, PresentAndShow);
    const double allocationsPerPresent = AllocationsPerCall(200, PresentAndShow);
    // A second floor: the GL work of one full-screen picture, written bare;
    // its allocations are counted once its first draws have warmed the driver.
    const Rounds picture = Interleave(rounds, seconds, DrawBarePicture, DrawSceneAndShow);
    const double bareAllocations = AllocationsPerCall(200, DrawBarePicture) - allocationsPerPresent;
    SetProjection(kScreenWidth, kScreenHeight);
    glEnable(GL_DEPTH_TEST);
    if (!table) {
        std::printf("%d rounds of %.2f s each for a floor and what it floors, taking turns;\n"
                    "rates and ratios are medians, with the smallest and largest ratio\n\n",
                    rounds, seconds);
        std::printf("bare textured full-screen quad and present: %.0f/s, %.1f heap allocations "
                    "beyond the present's in the GL driver\nthe picture scene: %.0f/s, ratio %.2f "
                    "(%s)\n\n",
                    picture.floor.median, bareAllocations, picture.step.median,
                    picture.ratio.median, RangeText(picture.ratio, 2).c_str());
        std::printf("%-28s %9s %9s %9s %7s %10s %12s %11s\n", "section", "ticks/s", "floor/s",
                    "presents", "ratio", "spread", "allocs/tick", "demo's own");
    } else {
        PrintTableRow("picture scene, frames/s", Format("%.0f/s", picture.step.median),
                      Format("%.0f/s bare textured quad", picture.floor.median),
                      Format("%.2f", picture.ratio.median), RangeText(picture.ratio, 2));
    }
    std::vector<double> allFloorRates;
    for (const Section& section : sections) {
        s_ticks = section.t;
        s_presents = 0;
        TickAndShow();
        const long presentsPerTick = s_presents;
        const Rounds tick = Interleave(rounds, seconds, PresentAndShow, TickAndShow);
        allFloorRates.push_back(tick.floor.median);
        // Allocations over a fixed number of ticks, after the rounds above.
        const double allocationsPerTick = AllocationsPerCall(kCountedTicks, TickAndShow);
        const double ownPerTick = double(s_ownAllocations) / kCountedTicks;
        // A tick that draws shows one frame however often it presents, so its
        // floor is one present and show; a tick that draws nothing has none.
        const bool shows = presentsPerTick > 0;
        if (table) {
            PrintTableRow(Format("ticks/s, %s", section.name), Format("%.0f/s", tick.step.median),
                          shows ? Format("%.0f/s present-only", tick.floor.median)
                                : std::string("- (draws nothing)"),
                          shows ? Format("%.2f", tick.ratio.median) : std::string("-"),
                          shows ? RangeText(tick.ratio, 2) : std::string("-"));
            continue;
        }
        std::printf("%-28s %9.0f %9.0f %9ld %7s %10s %12.2f %11.2f\n", section.name,
                    tick.step.median, tick.floor.median, presentsPerTick,
                    shows ? Format("%.2f", tick.ratio.median).c_str() : "-",
                    shows ? RangeText(tick.ratio, 2).c_str() : "-", allocationsPerTick, ownPerTick);
    }
    if (table)
        return 0;
    const Spread floors = SpreadOf(allFloorRates);
    std::printf("\npresent-only loop: %.0f presents/s (medians of the sections' rounds: %s), "
                "%.1f heap allocations per present\n",
                floors.median, RangeText(floors, 0).c_str(), allocationsPerPresent);
    std::printf("ratio: ticks/s / presents/s of the present-only loop (one present and show per"
                "\nturn), taken in each round against the floor round just before it: the median,"
                "\nthen the smallest and largest; a tick shows one frame however often it presents"
                "\nallocs/tick: heap allocations per tick, all of them (window system and GL driver"
                "\nincluded); demo's own: those made from the demo's code\n");
    return 0;
}
