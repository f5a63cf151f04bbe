// The capture tool: the demo rendered offline on a virtual clock, with no
// display, written as PNG frames or as an MP4 video with its music.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>

// What to capture and where to, as given on the command line.
struct CaptureOptions {
    int fps = 60;       // frames per second, 1 to 240
    int32_t from = 0;   // demo time of the first frame, in milliseconds
    int32_t to = 95000; // frames are taken before this demo time
    int scale = 1;      // each virtual-screen pixel becomes scale x scale pixels
    std::string out;    // a folder for PNG frames, or a file ending in .mp4
    bool help = false;  // --help: print the usage and do nothing else
};

// The virtual tick count when the demo time is 0: the cube's spin reads
// the tick count, so a fixed start gives the same spin on every run.
constexpr uint32_t kCaptureStartTick = 0;

// The demo time at which a capture counts the music as started: live, it
// starts at the first tick after 1000 ms.
constexpr int32_t kMusicStartTime = 1001;

// Where the time of a capture went, in seconds, and how many frames were
// new; read by the benchmark.
struct CaptureTimings {
    double render = 0;   // ticks run for the frames
    double readback = 0; // reading the virtual screen
    double waiting = 0;  // the render loop waiting for the writer
    double convert = 0;  // RGBA rows to RGB, flipped and scaled, and to YUV for a video
    double encode = 0;   // PNG encoding
    double write = 0;    // writing files, or handing frames to ffmpeg
    double finish = 0;   // ffmpeg finishing the file after the last frame
    int64_t frames = 0;
    int64_t newFrames = 0; // frames that differed from the one before
};

extern CaptureTimings g_captureTimings;          // the last capture's figures
extern volatile std::sig_atomic_t g_captureStop; // the signal that asked to stop; 0 until then

// Seconds since an arbitrary point, for the timings; called by the capture
// and its output to time the stages.
double CaptureSeconds();

// Reads the command line into `options`; 0 when it is good (or asks for
// help), else prints what is wrong and returns 2. Called by the capture's
// main.
int ParseCaptureOptions(int argc, char** argv, CaptureOptions* options);

// Prints the usage to standard output; called by the capture's main.
void PrintCaptureUsage();

// The number of frames: every i whose time is before `to`. Called by
// RunCapture and the benchmark.
int64_t CaptureFrameCount(const CaptureOptions& options);

// Frame i's demo time, from + floor(i * 1000 / fps), exact in integers.
int32_t CaptureFrameTime(const CaptureOptions& options, int64_t frame);

// The music file's frame heard at demo time t, floor((t - 1001) * 44.1);
// negative before the music starts. Called for the spectrum and the sound.
int64_t MusicFrameAt(int32_t demoTime);

// Starts the demo with no display once per process: the offscreen window,
// the renderer and pictures, the decoded music and the virtual clock.
// Returns 0, or the exit status when start-up failed (its message shown).
// Called by RunCapture, tests and the benchmark.
int StartOfflineDemo();

// Runs the ticks of the frame at `demoTime` and reads the virtual screen
// into `rgba` (640 x 480 x 4, bottom row first) when a tick presented; false
// when none did, and the frame repeats the one before. The first frame of a
// capture steps back a millisecond at a time until a tick presents, or time
// 0 has drawn nothing and the screen is still black. Called by RunCapture
// and the benchmark.
bool RenderCaptureFrame(int32_t demoTime, bool firstFrame, uint8_t* rgba);

// Captures the frames the options ask for; returns the exit status: 0 when
// the output is complete, 1 when it could not be made, 128 + the signal
// when SIGINT or SIGTERM stopped it. Called by the capture's main and the
// benchmark.
int RunCapture(const CaptureOptions& options);
