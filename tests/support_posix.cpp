// The POSIX side of the tests' helpers: forked children, programs started
// with fork and exec, private Xvfb displays, the environment, FIFOs and
// X11 screen reads.
#include "support.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

// Runs a shell command and reads its output; called by the tests that read
// what binutils print about a release's programs.
bool RunCommand(const std::string& command, std::string& output) {
    output.clear();
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return false;
    char line[512];
    while (std::fgets(line, sizeof line, pipe))
        output += line;
    return pclose(pipe) == 0;
}

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
            if (entry.find('=') == std::string::npos)
                unsetenv(entry.c_str());
            else
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

intptr_t OpenAsWriter(const std::string& path) {
    return open(path.c_str(), O_WRONLY);
}

void CloseWriter(intptr_t writer) {
    close(int(writer));
}

const bool kPrivateDisplays = true;

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

bool LimitAddressSpace(size_t bytes) {
    rlimit limit = {bytes, bytes};
    return setrlimit(RLIMIT_AS, &limit) == 0;
}

void SetEnvironment(const std::string& name, const std::string& value) {
    setenv(name.c_str(), value.c_str(), 1);
}

std::vector<std::string> MakeNonRegularFiles(const std::string& folder) {
    mkfifo((folder + "/fifo").c_str(), 0644);
    std::filesystem::create_directory(folder + "/folder");
    return {folder + "/fifo", folder + "/folder"};
}

bool UsePrivateDisplay(int width, int height) {
    if (!std::getenv("DISPLAY"))
        return false;
    std::string display = StartPrivateDisplay(width, height);
    if (display.empty())
        return false;
    setenv("DISPLAY", display.c_str(), 1);
    std::atexit(StopPrivateDisplay);
    return true;
}

unsigned long ShownPixel(int x, int y) {
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 0xDEAD;
    XSync(display, False);
    XImage* image = XGetImage(display, DefaultRootWindow(display), x, y, 1, 1, AllPlanes, ZPixmap);
    unsigned long pixel = image ? XGetPixel(image, 0, 0) & 0xFFFFFF : 0xDEAD;
    if (image)
        XDestroyImage(image);
    XCloseDisplay(display);
    return pixel;
}
