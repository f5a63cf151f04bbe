// Helpers shared by the benchmarks.
#include "bench_support.h"

#include <SDL.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

// Reads the monotonic clock; called by every benchmark.
long long NowNanoseconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

// Takes the median and the extremes; called by every benchmark that repeats.
Spread SpreadOf(std::vector<double> values) {
    Spread spread;
    if (values.empty())
        return spread;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    spread.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    spread.low = values.front();
    spread.high = values.back();
    return spread;
}

// Starts a child with extra environment entries; called by the benchmarks.
Child StartChild(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                 bool capture) {
    Child child;
    std::vector<std::string> entries(environment);
    for (char** entry = environ; *entry; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        const size_t nameLength = equals ? size_t(equals - *entry) + 1 : std::strlen(*entry);
        const bool replaced =
            std::any_of(entries.begin(), entries.end(), [&](const std::string& e) {
                return e.compare(0, nameLength, *entry, nameLength) == 0;
            });
        if (!replaced)
            entries.push_back(*entry);
    }
    std::vector<char*> envp, args;
    for (std::string& entry : entries)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> argCopy(argv);
    for (std::string& arg : argCopy)
        args.push_back(arg.data());
    args.push_back(nullptr);

    int fds[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (capture) {
        if (pipe2(fds, O_CLOEXEC) != 0)
            return child;
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    // A shell's background job ignores SIGINT, and SDL leaves an ignored
    // signal alone: give the child the default, so SIGINT ends it as a quit.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    child.started = NowNanoseconds();
    pid_t pid;
    const int failed = posix_spawn(&pid, args[0], &actions, &attributes, args.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (capture)
        close(fds[1]);
    if (failed) {
        if (capture)
            close(fds[0]);
        return child;
    }
    child.pid = pid;
    child.output = capture ? fds[0] : -1;
    return child;
}

// Reads what the child writes until it closes its output; called by the parents of roles.
std::string ReadChildOutput(Child& child, double timeoutSeconds) {
    std::string text;
    if (child.output < 0)
        return text;
    const long long deadline = NowNanoseconds() + (long long)(timeoutSeconds * 1e9);
    for (;;) {
        const long long left = deadline - NowNanoseconds();
        if (left <= 0) {
            kill(child.pid, SIGKILL);
            break;
        }
        pollfd wait = {child.output, POLLIN, 0};
        if (poll(&wait, 1, int(left / 1000000 + 1)) <= 0)
            continue;
        char buffer[512];
        const ssize_t got = read(child.output, buffer, sizeof buffer);
        if (got <= 0)
            break;
        text.append(buffer, size_t(got));
    }
    close(child.output);
    child.output = -1;
    return text;
}

// Waits for the child and takes its peak memory; called last for every child.
ChildEnd WaitForChild(Child& child, double timeoutSeconds) {
    ChildEnd end;
    if (child.pid <= 0)
        return end;
    if (child.output >= 0) {
        close(child.output);
        child.output = -1;
    }
    const long long deadline = NowNanoseconds() + (long long)(timeoutSeconds * 1e9);
    int status = 0;
    rusage usage = {};
    bool killed = false;
    for (;;) {
        const pid_t done = wait4(child.pid, &status, killed ? 0 : WNOHANG, &usage);
        if (done == child.pid || done < 0)
            break;
        if (NowNanoseconds() > deadline) {
            kill(child.pid, SIGKILL);
            killed = true;
        } else {
            usleep(2000);
        }
    }
    child.pid = -1;
    end.status = !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    end.peakKilobytes = usage.ru_maxrss;
    return end;
}

// Finds "key value" in a role's report; called by the parents of roles.
double ReportValue(const std::string& report, const std::string& key) {
    size_t at = 0;
    while (at < report.size()) {
        size_t end = report.find('\n', at);
        if (end == std::string::npos)
            end = report.size();
        if (report.compare(at, key.size() + 1, key + " ") == 0)
            return std::atof(report.c_str() + at + key.size() + 1);
        at = end + 1;
    }
    return -1;
}

// Writes one figure for the parent; called by roles.
void ReportToParent(const char* key, double value) {
    std::printf("%s %.6f\n", key, value);
    std::fflush(stdout);
}

// Reads /proc/self/exe; called to start this benchmark again in a role.
std::string OwnPath() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, size_t(length)) : std::string();
}

// The benchmarks live in <build>/bench, the demo in <build>; called by the
// benchmarks that run the real binary.
std::string DemoBinaryPath() {
    std::string self = OwnPath();
    const size_t slash = self.rfind('/');
    return self.substr(0, slash == std::string::npos ? 0 : slash) + "/../movra";
}

// Looks for --table; called by every benchmark's main.
bool TakeTableOption(int& argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--table") == 0) {
            for (int j = i; j < argc; ++j)
                argv[j] = argv[j + 1];
            --argc;
            return true;
        }
    return false;
}

// Formats into a string; called by the table printers.
std::string Format(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// Writes a spread as "low-high"; called by the table printers.
std::string RangeText(const Spread& spread, int decimals) {
    return Format("%.*f-%.*f", decimals, spread.low, decimals, spread.high);
}

// Prints one tab-separated row; called in --table mode.
void PrintTableRow(const std::string& figure, const std::string& value, const std::string& floor,
                   const std::string& ratio, const std::string& spread) {
    std::printf("%s\t%s\t%s\t%s\t%s\n", figure.c_str(), value.c_str(), floor.c_str(), ratio.c_str(),
                spread.c_str());
}

SDL_Window* CreateFloorWindow() {
    if (SDL_Init(SDL_INIT_VIDEO) != 0)
        return nullptr;
    SDL_Rect bounds;
    SDL_GetDisplayBounds(0, &bounds);
    SDL_Window* window =
        SDL_CreateWindow("floor", 0, 0, bounds.w, bounds.h,
                         SDL_WINDOW_OPENGL | SDL_WINDOW_BORDERLESS | SDL_WINDOW_FULLSCREEN_DESKTOP);
    if (!window || !SDL_GL_CreateContext(window))
        return nullptr;
    return window;
}
