// Helpers shared by the tests: child processes, the demo binary, a private
// X display, a fake clock and an in-process demo window.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What a finished child process left: its exit status (or 128 + signal),
// and what it wrote to standard error.
struct ChildResult {
    int status = -1;
    std::string errors;
};

// Runs `body` in a forked child whose exit status is body's result; kills it
// after `timeoutSeconds`. The parent must not have touched SDL.
ChildResult RunInChild(const std::function<int()>& body, double timeoutSeconds = 60);

// A running demo binary, started from the repository root (or `workDir`).
struct DemoProcess {
    int pid = -1;
    std::string errorsPath; // its standard error goes here
};

// Starts build/movra with extra environment entries ("NAME=value").
DemoProcess StartDemoBinary(const std::vector<std::string>& environment = {},
                            const std::string& workDir = MOVRA_SOURCE_DIR);

// Waits for the demo to end; status as in ChildResult, -1 on timeout (the
// process is then killed).
ChildResult WaitForDemo(const DemoProcess& demo, double timeoutSeconds);

// A private Xvfb display of the given size; "" when it cannot be started.
std::string StartPrivateDisplay(int width, int height);

// Stops the private display started last.
void StopPrivateDisplay();

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
