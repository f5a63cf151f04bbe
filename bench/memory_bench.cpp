// Memory benchmark: the demo's resident memory and heap in use after ten
// minutes of demo time, against the same figures at its first tick, in the
// same process. Run from the repository root under an X display:
//     build/bench/memory_bench [--table] [minutes] [ms per drawing tick]
// The demo runs its real start-up and loop (InitDemo, RunDemo, with the
// music on SDL's dummy driver), but its clock is virtual and moves on at
// every read: by `ms per drawing tick` (default 25) while the script draws,
// and by 50 ms outside it, so ten minutes pass in about a minute.
#include "app/app.h"
#include "audio/audio.h"
#include "bench_support.h"
#include "demo/timeline.h"
#include "platform/messages.h"
#include "platform/screen.h"
#include "platform/ticks.h"
#include "platform/window.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <unistd.h>

// The process's memory at one moment.
struct Memory {
    double residentMb = 0; // resident set
    double heapMb = 0;     // heap blocks in use, mapped ones included
    double peakMb = 0;     // the resident set's high-water mark so far
};

// Reads one "Name: N kB" line of /proc/self/status in megabytes.
static double StatusMegabytes(const char* name) {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    char line[256];
    double kilobytes = -1;
    const size_t length = std::strlen(name);
    while (std::fgets(line, sizeof line, status))
        if (std::strncmp(line, name, length) == 0 && line[length] == ':')
            kilobytes = std::atof(line + length + 1);
    std::fclose(status);
    return kilobytes / 1024;
}

// Reads the process's memory now; called by the virtual clock.
static Memory ReadMemory() {
    const struct mallinfo2 heap = mallinfo2();
    return {StatusMegabytes("VmRSS"), double(heap.uordblks + heap.hblkhd) / (1024 * 1024),
            StatusMegabytes("VmHWM")};
}

static uint32_t s_now;         // the virtual tick count
static uint32_t s_end;         // demo time at which the run ends
static uint32_t s_drawingStep; // ms per read while the script draws
static long s_ticks;           // reads of the clock
static Memory s_atFirstTick, s_atEnd;

// The virtual clock: notes the memory at the first tick and at the end,
// which it asks for; moves on at every read. The demo's tick source.
static uint32_t VirtualClock() {
    if (s_ticks++ == 0)
        s_atFirstTick = ReadMemory();
    const uint32_t t = s_now - g_startTick;
    if (t >= s_end && s_atEnd.residentMb == 0) {
        s_atEnd = ReadMemory();
        RequestQuit(0);
    }
    s_now += t > 1000 && t < 90000 ? s_drawingStep : 50;
    return s_now;
}

int main(int argc, char** argv) {
    const bool table = TakeTableOption(argc, argv);
    const double minutes = argc > 1 ? std::atof(argv[1]) : 10;
    s_drawingStep = argc > 2 ? uint32_t(std::max(1, std::atoi(argv[2]))) : 25;
    s_end = uint32_t(minutes * 60000);
    setenv("MOVRA_NO_DIALOGS", "1", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    if (access(kMusicPath, R_OK) != 0) {
        std::fprintf(stderr, "run from the repository root under X\n");
        return 1;
    }
    const long long started = NowNanoseconds();
    SDL_Window* window =
        CreateMainWindow(kWindowTitle, kScreenWidth, kScreenHeight, 0, g_fullscreen);
    if (!window)
        return 1;
    InitDemo(window);
    g_startTick = s_now = 1;
    SetTickSource(VirtualClock);
    if (RunDemo() != 0 || s_atEnd.residentMb <= 0) {
        std::fprintf(stderr, "the demo did not run to the end\n");
        return 1;
    }
    const double seconds = (NowNanoseconds() - started) / 1e9;
    const Memory& a = s_atFirstTick;
    const Memory& b = s_atEnd;
    if (table) {
        PrintTableRow(Format("resident memory after %.0f min of demo time", minutes),
                      Format("%.1f MB", b.residentMb),
                      Format("%.1f MB at first tick", a.residentMb),
                      Format("%.2f", b.residentMb / a.residentMb), "-");
        PrintTableRow(Format("heap in use after %.0f min of demo time", minutes),
                      Format("%.1f MB", b.heapMb), Format("%.1f MB at first tick", a.heapMb),
                      Format("%.2f", b.heapMb / a.heapMb), "-");
        return 0;
    }
    std::printf("%.0f min of demo time in %ld reads of the clock (ticks), %.0f s of real time\n",
                minutes, s_ticks, seconds);
    std::printf("%-28s %10s %10s %7s\n", "", "first tick", "at the end", "ratio");
    std::printf("%-28s %7.1f MB %7.1f MB %7.2f\n", "resident", a.residentMb, b.residentMb,
                b.residentMb / a.residentMb);
    std::printf("%-28s %7.1f MB %7.1f MB %7.2f\n", "heap in use", a.heapMb, b.heapMb,
                b.heapMb / a.heapMb);
    std::printf("%-28s %7.1f MB %7.1f MB\n", "peak resident so far", a.peakMb, b.peakMb);
    return 0;
}
