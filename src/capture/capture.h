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
    int width = 0;      // --size: the frame's width and height, the scenes drawn
    int height = 0;     // at that size; 0 without it
    int samples = 1;    // each pixel drawn as samples x samples and averaged: 1, 2 or 4
    std::string out;    // a folder for PNG frames, or a file ending in .mp4
    bool help = false;  // --help: print the usage and do nothing else
};

// The sizes --size takes by name: 16:9 frames of so many lines.
struct NamedSize {
    const char* name;
    int width, height;
};
constexpr NamedSize kNamedSizes[] = {
    {"720p", 1280, 720}, {"1080p", 1920, 1080}, {"1440p", 2560, 1440}, {"2160p", 3840, 2160}};

// The smallest and largest frame --size takes.
constexpr int kSmallestFrameWidth = 640, kSmallestFrameHeight = 480;
constexpr int kLargestFrameWidth = 7680, kLargestFrameHeight = 4320;

// A frame of the output: the virtual screen's pixels as the picture,
// centred (at even pixels, so that no 2 x 2 block of a 4:2:0 video straddles
// its edge), with black bars beside or above and below it.
struct FrameLayout {
    int width, height;               // the frame
    int pictureX, pictureY;          // the picture's top left corner in the frame
    int pictureWidth, pictureHeight; // the virtual screen's pixels, as read back
    int scale;                       // frame pixels per picture pixel across and down
};

// Where the picture lies in the frame the options ask for: with --size the
// largest 4:3 picture (even sides) that fits, at one frame pixel each;
// otherwise the 640 x 480 screen enlarged --scale times. Called by the
// capture, its output, tests and the benchmark.
FrameLayout CaptureFrameLayout(const CaptureOptions& options);

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
    double convert = 0;  // comparing with the frame before, RGBA rows to RGB, flipped and
                         // scaled, and to YUV for a video
    double encode = 0;   // PNG encoding
    double write = 0;    // writing files, or handing frames to ffmpeg
    double finish = 0;   // ffmpeg finishing the file after the last frame
    int64_t frames = 0;
    int64_t newFrames = 0;    // frames that differed from the one before
    int64_t undrawnTicks = 0; // ticks not drawn: they took the steps of the tick before
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
// the virtual screen with the pixels and samples the options ask for (those
// of the first call), the renderer and pictures, the decoded music and the
// virtual clock. Returns 0; 2 when the GL cannot draw that many pixels (the
// message names its largest); or the exit status when start-up failed (its
// message shown). Called by RunCapture, tests and the benchmark.
int StartOfflineDemo(const CaptureOptions& options = CaptureOptions());

// Runs the ticks of the frame at `demoTime` and reads the virtual screen
// into `rgba` (its pixels x 4, bottom row first) when a tick presented; false
// when none did, or when the tick took exactly the steps of the last tick
// drawn from the state that tick left (a still picture), and the frame
// repeats the one before. The first frame of a capture steps back a
// millisecond at a time until a tick presents, or time 0 has drawn nothing
// and the screen is still black. Called by RunCapture and the benchmark.
bool RenderCaptureFrame(int32_t demoTime, bool firstFrame, uint8_t* rgba);

// Captures the frames the options ask for; returns the exit status: 0 when
// the output is complete, 1 when it could not be made, 128 + the signal
// when SIGINT or SIGTERM stopped it. Called by the capture's main and the
// benchmark.
int RunCapture(const CaptureOptions& options);
