// Helpers shared by the tests.
#include "support.h"

#include "app/app.h"
#include "platform/screen.h"
#include "platform/ticks.h"
#include "platform/window.h"
#include "demo/timeline.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

// Turns a wait status into an exit status, or 128 + signal.
static int DecodeStatus(int waitStatus) {
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus))
        return 128 + WTERMSIG(waitStatus);
    return -1;
}

// Waits for `pid` up to a deadline, noting its peak memory in `result`;
// kills it and returns -1 on timeout.
static int WaitWithTimeout(int pid, double timeoutSeconds, ChildResult* result) {
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    for (;;) {
        int waitStatus = 0;
        rusage usage = {};
        if (wait4(pid, &waitStatus, WNOHANG, &usage) == pid) {
            result->peakKilobytes = usage.ru_maxrss;
            return DecodeStatus(waitStatus);
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            wait4(pid, &waitStatus, 0, &usage);
            result->peakKilobytes = usage.ru_maxrss;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Reads a whole file into a string.
static std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Makes a fresh temporary file name for a child's standard error.
static std::string TemporaryErrorsPath() {
    char path[] = "/tmp/movra-test-XXXXXX";
    int fd = mkstemp(path);
    if (fd >= 0)
        close(fd);
    return path;
}

DemoProcess StartChild(const std::function<int()>& body) {
    DemoProcess child;
    child.errorsPath = TemporaryErrorsPath();
    std::fflush(nullptr);
    child.pid = fork();
    if (child.pid == 0) {
        int fd = open(child.errorsPath.c_str(), O_WRONLY | O_TRUNC);
        dup2(fd, 2);
        std::_Exit(body());
    }
    return child;
}

ChildResult RunInChild(const std::function<int()>& body, double timeoutSeconds) {
    return WaitForDemo(StartChild(body), timeoutSeconds);
}

DemoProcess StartProgram(const std::string& path, const std::vector<std::string>& arguments,
                         const std::vector<std::string>& environment, const std::string& workDir) {
    DemoProcess demo;
    demo.errorsPath = TemporaryErrorsPath();
    std::vector<char*> argv = {const_cast<char*>(path.c_str())};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::fflush(nullptr);
    demo.pid = fork();
    if (demo.pid == 0) {
        int fd = open(demo.errorsPath.c_str(), O_WRONLY | O_TRUNC);
        dup2(fd, 2);
        // A test runner may ignore these; the program must see them as a user would.
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        for (const std::string& entry : environment)
            putenv(const_cast<char*>(entry.c_str()));
        if (chdir(workDir.c_str()) != 0)
            std::_Exit(126);
        execv(path.c_str(), argv.data());
        std::_Exit(127);
    }
    return demo;
}

DemoProcess StartDemoBinary(const std::vector<std::string>& environment,
                            const std::string& workDir) {
    return StartProgram(MOVRA_BINARY, {}, environment, workDir);
}

ChildResult WaitForDemo(const DemoProcess& demo, double timeoutSeconds) {
    ChildResult result;
    result.status = WaitWithTimeout(demo.pid, timeoutSeconds, &result);
    result.errors = ReadWholeFile(demo.errorsPath);
    unlink(demo.errorsPath.c_str());
    return result;
}

static int s_displayPid = -1;

std::string StartPrivateDisplay(int width, int height) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return "";
    std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    std::string fdText = std::to_string(pipeFds[1]);
    s_displayPid = fork();
    if (s_displayPid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM); // the display dies with the test
        close(pipeFds[0]);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        execlp("Xvfb", "Xvfb", "-displayfd", fdText.c_str(), "-screen", "0", screen.c_str(),
               "-nolisten", "tcp", static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    close(pipeFds[1]);
    std::string number;
    char c;
    while (read(pipeFds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(pipeFds[0]);
    return number.empty() ? "" : ":" + number;
}

void StopPrivateDisplay() {
    if (s_displayPid > 0) {
        kill(s_displayPid, SIGTERM);
        waitpid(s_displayPid, nullptr, 0);
        s_displayPid = -1;
    }
}

static uint32_t s_fakeTicks;
static int s_fakeReads;

// The fake tick source.
static uint32_t ReadFakeTicks() {
    ++s_fakeReads;
    return s_fakeTicks;
}

void UseFakeClock(uint32_t ticks) {
    g_startTick = 0;
    s_fakeTicks = ticks;
    s_fakeReads = 0;
    SetTickSource(ReadFakeTicks);
}

void SetFakeTicks(uint32_t ticks) {
    s_fakeTicks = ticks;
}

int FakeClockReads() {
    return s_fakeReads;
}

bool StartDemoInProcess() {
    static bool started = false;
    if (started)
        return true;
    if (!std::getenv("DISPLAY"))
        return false;
    // A display of its own, so that tests running side by side don't cover
    // each other's windows.
    std::string display = StartPrivateDisplay(1280, 1024);
    if (display.empty())
        return false;
    setenv("DISPLAY", display.c_str(), 1);
    std::atexit(StopPrivateDisplay);
    SDL_Window* window =
        CreateMainWindow(kWindowTitle, kScreenWidth, kScreenHeight, 0, g_fullscreen);
    if (!window)
        return false;
    InitDemo(window);
    started = true;
    return true;
}

std::vector<uint8_t> ReadScreen() {
    std::vector<uint8_t> rgba(size_t(kScreenWidth) * kScreenHeight * 4);
    ReadVirtualScreen(rgba.data());
    return rgba;
}

Rgb PixelAt(const std::vector<uint8_t>& screen, int x, int yFromTop) {
    size_t at = (size_t(kScreenHeight - 1 - yFromTop) * kScreenWidth + size_t(x)) * 4;
    return {screen[at], screen[at + 1], screen[at + 2]};
}

Thumbnail MakeThumbnail(int width, int height, const std::function<Rgb(int x, int y)>& pixel) {
    std::vector<long> sums(size_t(kThumbWidth) * kThumbHeight * 3, 0);
    std::vector<long> counts(size_t(kThumbWidth) * kThumbHeight, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            size_t cell = size_t(y * kThumbHeight / height) * kThumbWidth + x * kThumbWidth / width;
            Rgb c = pixel(x, y);
            sums[cell * 3] += c.r, sums[cell * 3 + 1] += c.g, sums[cell * 3 + 2] += c.b;
            ++counts[cell];
        }
    Thumbnail thumbnail(sums.size());
    for (size_t i = 0; i < sums.size(); ++i)
        thumbnail[i] = uint8_t((sums[i] + counts[i / 3] / 2) / std::max(1L, counts[i / 3]));
    return thumbnail;
}

Thumbnail ScreenThumbnail(const std::vector<uint8_t>& screen) {
    return MakeThumbnail(kScreenWidth, kScreenHeight,
                         [&](int x, int y) { return PixelAt(screen, x, y); });
}

Thumbnail FlipThumbnail(const Thumbnail& thumbnail) {
    Thumbnail flipped(thumbnail.size());
    size_t row = size_t(kThumbWidth) * 3;
    for (int y = 0; y < kThumbHeight; ++y)
        std::copy_n(&thumbnail[y * row], row, &flipped[(kThumbHeight - 1 - y) * row]);
    return flipped;
}

double MeanDifference(const Thumbnail& a, const Thumbnail& b) {
    double total = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        total += std::abs(int(a[i]) - int(b[i]));
    return a.size() == b.size() ? total / double(a.size()) : 1e9;
}

int LargestDifference(const Thumbnail& a, const Thumbnail& b) {
    int largest = a.size() == b.size() ? 0 : 255;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        largest = std::max(largest, std::abs(int(a[i]) - int(b[i])));
    return largest;
}

bool ReadThumbnail(const std::string& path, Thumbnail& thumbnail) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int width = 0, height = 0, maximum = 0;
    in >> magic >> width >> height >> maximum;
    in.get();
    if (!in || magic != "P6" || width != kThumbWidth || height != kThumbHeight || maximum != 255)
        return false;
    thumbnail.assign(size_t(width) * height * 3, 0);
    in.read(reinterpret_cast<char*>(thumbnail.data()), std::streamsize(thumbnail.size()));
    return bool(in);
}

bool WriteThumbnail(const std::string& path, const Thumbnail& thumbnail) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << kThumbWidth << " " << kThumbHeight << "\n255\n";
    out.write(reinterpret_cast<const char*>(thumbnail.data()), std::streamsize(thumbnail.size()));
    return bool(out);
}
