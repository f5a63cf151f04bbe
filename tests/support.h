// Helpers shared by the tests: child processes, the demo binary, a private
// X display, a fake clock and an in-process demo window. What differs
// between the systems lives in support_posix.cpp and support_windows.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What a finished child process left: its exit status (or 128 + signal),
// what it wrote to standard error and its peak resident memory (POSIX).
struct ChildResult {
    int status = -1;
    std::string errors;
    long peakKilobytes = 0;
};

// A running child process: the demo binary, started from the repository
// root (or `workDir`), or a forked body.
struct DemoProcess {
    int pid = -1;
    std::string errorsPath; // its standard error goes here
};

// Runs `body` in a forked child, its exit status body's result, and waits
// for it; kills it after `timeoutSeconds`. On Windows, where ctest runs
// each test as a process of its own, body runs in this process with
// standard error captured: a body that ends the process ends the test.
ChildResult RunInChild(const std::function<int()>& body, double timeoutSeconds = 60);

// Limits this process's address space to `bytes` (POSIX). Windows has no
// limit that Wine enforces: there a 32-bit program's own 2 GiB stands in,
// and a 64-bit program gets false.
bool LimitAddressSpace(size_t bytes);

// Sets an environment variable of this process, seen by getenv and SDL.
void SetEnvironment(const std::string& name, const std::string& value);

// Makes paths in `folder` that are there but are no regular file, which a
// reader of data files must refuse before reading: a folder, and a FIFO
// (POSIX) or a device (Windows); returns them.
std::vector<std::string> MakeNonRegularFiles(const std::string& folder);

// Opens `path` for writing as an editor or a sync tool does while it works
// on a file, letting others read it but not write it (on Windows the share
// mode says so; POSIX has no such modes). A handle for CloseWriter; -1 when
// the file can't be opened.
intptr_t OpenAsWriter(const std::string& path);
void CloseWriter(intptr_t writer);

// Points this process's windows at a display for the tests: a private Xvfb
// display of the given size (POSIX), so that tests running side by side
// don't cover each other's windows; the one desktop (Windows), where the
// tests take turns. False when there is none.
bool UsePrivateDisplay(int width, int height);

// Whether a test can have a display of its own, of any size (POSIX, with
// Xvfb); on Windows the tests take turns on the one desktop, whose size is
// fixed.
extern const bool kPrivateDisplays;

// A private Xvfb display of the given size; "" when it cannot be started
// (always on Windows).
std::string StartPrivateDisplay(int width, int height);

// Stops the private display started last.
void StopPrivateDisplay();

// The colour the display shows at (x, y), y from the top, as 0xRRGGBB;
// 0xDEAD when it cannot be read.
unsigned long ShownPixel(int x, int y);

// Processes and private displays, POSIX only.

// Runs `command` through the shell, with what it prints on its standard
// output in `output`; true when it ends with status 0.
bool RunCommand(const std::string& command, std::string& output);

// Starts `body` in a forked child whose exit status is body's result; wait
// for it with WaitForDemo. The parent must not have touched SDL.
DemoProcess StartChild(const std::function<int()>& body);

// Starts the program at `path` with arguments and extra environment entries
// ("NAME=value", or "NAME" to leave NAME out), from the repository root (or
// `workDir`).
DemoProcess StartProgram(const std::string& path, const std::vector<std::string>& arguments,
                         const std::vector<std::string>& environment = {},
                         const std::string& workDir = MOVRA_SOURCE_DIR);

// Starts build/movra with extra environment entries ("NAME=value").
DemoProcess StartDemoBinary(const std::vector<std::string>& environment = {},
                            const std::string& workDir = MOVRA_SOURCE_DIR);

// Waits for the demo (or a child from StartChild) to end; status as in
// ChildResult, -1 on timeout (the process is then killed).
ChildResult WaitForDemo(const DemoProcess& demo, double timeoutSeconds);

// Replaces the tick count with a fake one holding `ticks`; the demo's start
// tick becomes 0, so the demo time reads `ticks`. Counts each read.
void UseFakeClock(uint32_t ticks);
void SetFakeTicks(uint32_t ticks);
int FakeClockReads();

// Creates the full-screen demo window on a private 1280 x 1024 display and
// runs the demo's start-up (renderer and pictures) once in this process;
// false when there is no X server to use.
bool StartDemoInProcess();

// The virtual screen as RGBA rows, bottom row first.
std::vector<uint8_t> ReadScreen();

// One pixel of a screen read back, with y counted from the top.
struct Rgb {
    int r, g, b;
};
Rgb PixelAt(const std::vector<uint8_t>& screen, int x, int yFromTop);

// An 80 x 60 RGB miniature of a picture, top row first, each pixel the mean
// of its block: frames rendered here and screenshots compare through these.
constexpr int kThumbWidth = 80, kThumbHeight = 60;
using Thumbnail = std::vector<uint8_t>;

// Shrinks a width x height picture read through `pixel` (y from the top).
Thumbnail MakeThumbnail(int width, int height, const std::function<Rgb(int x, int y)>& pixel);

// Shrinks a virtual screen read back with ReadScreen.
Thumbnail ScreenThumbnail(const std::vector<uint8_t>& screen);

// Turns a thumbnail upside down.
Thumbnail FlipThumbnail(const Thumbnail& thumbnail);

// The mean and the largest difference of two thumbnails, per channel.
double MeanDifference(const Thumbnail& a, const Thumbnail& b);
int LargestDifference(const Thumbnail& a, const Thumbnail& b);

// Reads or writes a thumbnail as a binary PPM file; false on failure.
bool ReadThumbnail(const std::string& path, Thumbnail& thumbnail);
bool WriteThumbnail(const std::string& path, const Thumbnail& thumbnail);
