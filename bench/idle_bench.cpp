// Idle benchmark: the real demo binary's share of a core once the script is
// over, against a floor measured over the same seconds: an SDL GL program
// whose loop only waits for events, 1 ms at a time. Run from the repository
// root under an X display:
//     build/bench/idle_bench [--table] [binary] [after seconds] [for seconds]
// The binary (default: build/movra) runs with SDL_AUDIODRIVER=dummy and
// MOVRA_NO_DIALOGS=1 from the current folder; its figures are read at 90.5 s
// after its start and 10 s later, then it is ended with SIGINT. Pass another
// build's binary to compare.
// Two figures, each summed over all threads:
// - used: CPU time, user + system (/proc/PID/stat);
// - wanted: time on a CPU plus time ready to run but waiting for one
//   (/proc/PID/task/*/schedstat; a thread that ends in between is left
//   out). On a loaded machine a loop that never rests gets only its share
//   of a core, but it wants all of it.
#include "bench_support.h"

#include <SDL.h>
#include <SDL_opengl.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <map>
#include <signal.h>
#include <string>
#include <unistd.h>

// The floor: a window and a GL context, one frame, then a loop that takes
// events and otherwise rests up to 1 ms, until a quit (SIGINT gives one).
static int RunFloor() {
    SDL_Window* window = CreateFloorWindow();
    if (!window)
        return 1;
    glClear(GL_COLOR_BUFFER_BIT);
    SDL_GL_SwapWindow(window);
    for (;;) {
        SDL_Event event;
        if (!SDL_PollEvent(&event)) {
            SDL_WaitEventTimeout(nullptr, 1);
            continue;
        }
        if (event.type == SDL_QUIT)
            break;
    }
    SDL_Quit();
    return 0;
}

// Reads a process's CPU time so far (user + system) in seconds; -1 when it
// is gone.
static double CpuSeconds(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
    FILE* file = std::fopen(path, "r");
    if (!file)
        return -1;
    char text[1024] = {};
    const size_t length = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    text[length] = 0;
    // The fields after the command name, which ends at the last ')'; utime
    // and stime are the 14th and 15th fields of the line.
    const char* rest = std::strrchr(text, ')');
    if (!rest)
        return -1;
    unsigned long long utime = 0, stime = 0;
    if (std::sscanf(rest + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime,
                    &stime) != 2)
        return -1;
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

// Reads, for each of a process's threads, the time it has spent on a CPU or
// waiting in a run queue, in seconds; empty when the process is gone.
static std::map<int, double> WantedSeconds(pid_t pid) {
    std::map<int, double> threads;
    const std::string folder = "/proc/" + std::to_string(pid) + "/task";
    DIR* tasks = opendir(folder.c_str());
    if (!tasks)
        return threads;
    while (const dirent* task = readdir(tasks)) {
        if (task->d_name[0] == '.')
            continue;
        FILE* file = std::fopen((folder + "/" + task->d_name + "/schedstat").c_str(), "r");
        unsigned long long running = 0, waiting = 0;
        if (file && std::fscanf(file, "%llu %llu", &running, &waiting) == 2)
            threads[std::atoi(task->d_name)] = double(running + waiting) * 1e-9;
        if (file)
            std::fclose(file);
    }
    closedir(tasks);
    return threads;
}

// What a process used and wanted of a CPU so far, in seconds; used is -1
// when the process is gone.
struct Usage {
    double used = -1;
    std::map<int, double> wanted; // by thread
};

// Reads both figures for a process; called at the start and the end of the
// measured seconds.
static Usage ReadUsage(pid_t pid) {
    return {CpuSeconds(pid), WantedSeconds(pid)};
}

// The time wanted between two readings, summed over the threads alive at
// the second; a thread that ended between them is left out.
static double WantedBetween(const Usage& start, const Usage& end) {
    double total = 0;
    for (const auto& [thread, seconds] : end.wanted) {
        const auto before = start.wanted.find(thread);
        total += seconds - (before == start.wanted.end() ? 0 : before->second);
    }
    return total;
}

// Sleeps until `seconds` after the moment `started` (NowNanoseconds).
static void SleepUntil(long long started, double seconds) {
    const long long wake = started + (long long)(seconds * 1e9);
    for (long long now = NowNanoseconds(); now < wake; now = NowNanoseconds())
        usleep(useconds_t(std::min<long long>((wake - now) / 1000, 500000)));
}

int main(int argc, char** argv) {
    const bool table = TakeTableOption(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--floor") == 0)
        return RunFloor();
    const std::string binary = argc > 1 ? argv[1] : DemoBinaryPath();
    const double after = argc > 2 ? std::atof(argv[2]) : 90.5;
    const double span = argc > 3 ? std::atof(argv[3]) : 10;
    if (!std::getenv("DISPLAY") || access(binary.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "needs a display and %s\n", binary.c_str());
        return 1;
    }
    const std::vector<std::string> environment = {"SDL_AUDIODRIVER=dummy", "MOVRA_NO_DIALOGS=1"};
    Child demo = StartChild({binary}, environment, false);
    if (demo.pid < 0)
        return 1;
    // The floor starts a little before the measurement and runs over the
    // same seconds, so both meet the same load on the machine.
    SleepUntil(demo.started, std::max(0.0, after - 2));
    Child floor = StartChild({OwnPath(), "--floor"}, environment, false);
    SleepUntil(demo.started, after);
    const Usage demoStart = ReadUsage(demo.pid), floorStart = ReadUsage(floor.pid);
    const long long from = NowNanoseconds();
    SleepUntil(from, span);
    const Usage demoEnd = ReadUsage(demo.pid), floorEnd = ReadUsage(floor.pid);
    const double wall = (NowNanoseconds() - from) / 1e9;
    kill(demo.pid, SIGINT);
    kill(floor.pid, SIGINT);
    const ChildEnd demoExit = WaitForChild(demo, 10), floorExit = WaitForChild(floor, 10);
    if (std::min({demoStart.used, demoEnd.used, floorStart.used, floorEnd.used}) < 0 ||
        demoExit.status != 0 || floorExit.status != 0) {
        std::fprintf(stderr, "the demo or the floor ended early or badly (statuses %d, %d)\n",
                     demoExit.status, floorExit.status);
        return 1;
    }
    const double demoUsed = 100 * (demoEnd.used - demoStart.used) / wall;
    const double floorUsed = 100 * (floorEnd.used - floorStart.used) / wall;
    const double demoWanted = 100 * WantedBetween(demoStart, demoEnd) / wall;
    const double floorWanted = 100 * WantedBetween(floorStart, floorEnd) / wall;
    const std::string when = Format("%.1f-%.1f s", after, after + span);
    if (table) {
        PrintTableRow("CPU used after the script, " + when, Format("%.1f %% of a core", demoUsed),
                      Format("%.1f %% loop resting 1 ms", floorUsed),
                      Format("%.2f", demoUsed / floorUsed), "-");
        PrintTableRow("CPU wanted (on a CPU or waiting for one)",
                      Format("%.1f %% of a core", demoWanted),
                      Format("%.1f %% loop resting 1 ms", floorWanted),
                      Format("%.2f", demoWanted / floorWanted), "-");
        return 0;
    }
    std::printf("%s, %.1f s from %.1f s after its start, %% of a core:\n", binary.c_str(), wall,
                after);
    std::printf("  %-40s %8s %8s\n", "", "used", "wanted");
    std::printf("  %-40s %8.1f %8.1f   (goal: under 5 %% used)\n", "demo", demoUsed, demoWanted);
    std::printf("  %-40s %8.1f %8.1f\n", "floor: an SDL loop resting 1 ms a turn", floorUsed,
                floorWanted);
    std::printf("  %-40s %8.2f %8.2f\n", "ratio", demoUsed / floorUsed, demoWanted / floorWanted);
    std::printf("used: CPU time, user + system; wanted: time on a CPU plus time ready to run\n"
                "but waiting for one (a loop that never rests wants 100 %% of a core however\n"
                "little it gets); all threads. The demo used %.1f %% of a core on average over\n"
                "its first %.1f s.\n",
                100 * demoStart.used / after, after);
    return 0;
}
