// The capture tool's options, its start-up with no display and its frame
// loop on the virtual clock.
#include "capture/capture.h"

#include "app/app.h"
#include "capture/capture_output.h"
#include "audio/audio.h"
#include "demo/timeline.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "platform/screen.h"
#include "platform/ticks.h"
#include "platform/window.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <signal.h>
#include <unistd.h>

CaptureTimings g_captureTimings;
volatile std::sig_atomic_t g_captureStop;

constexpr int32_t kLatestTime = 3600000; // an hour of demo time is the most a capture takes
constexpr int kMusicRate = 44100;

static uint32_t s_virtualTicks; // the virtual clock's tick count
static bool s_started;          // StartOfflineDemo has run

// Seconds since an arbitrary point; called to time the stages.
double CaptureSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Prints the usage; called by the capture's main.
void PrintCaptureUsage() {
    std::printf(
        "Usage: movra-capture --out PATH [--fps N] [--from MS] [--to MS] [--scale N]\n"
        "Renders the demo with no display on a virtual clock, frame-exact.\n"
        "\n"
        "  --out PATH   a file ending in .mp4: H.264 video with the music (needs ffmpeg);\n"
        "               anything else: a folder of frame-000000.png, frame-000001.png, ...\n"
        "  --fps N      frames per second, 1 to 240 (default 60)\n"
        "  --from MS    demo time of the first frame in milliseconds (default 0)\n"
        "  --to MS      frames are taken before this demo time (default 95000)\n"
        "  --scale N    each pixel becomes N x N pixels, 1 to 4 (default 1: 640 x 480)\n"
        "  --help       print this and exit\n"
        "\n"
        "Frame i shows demo time from + floor(i * 1000 / fps) ms. Run it from the\n"
        "repository root, where data/ is.\n");
}

// Reads a whole number from `text` within [low, high]; false when it is not
// one. Called by ParseCaptureOptions.
static bool ReadWholeNumber(const char* text, long low, long high, long* value) {
    if (!text || !*text || std::strlen(text) > 12)
        return false;
    for (const char* c = text; *c; ++c)
        if (*c < '0' || *c > '9')
            return false;
    *value = std::strtol(text, nullptr, 10);
    return *value >= low && *value <= high;
}

// Prints a bad command line's reason and the way to help; returns 2.
// Called by ParseCaptureOptions.
static int RefuseOptions(const std::string& reason) {
    std::fprintf(stderr, "movra-capture: %s\nTry 'movra-capture --help'.\n", reason.c_str());
    return 2;
}

// Reads the command line; called by the capture's main.
int ParseCaptureOptions(int argc, char** argv, CaptureOptions* options) {
    struct NumberOption {
        const char* name;
        long low, high;
        long value;
    };
    NumberOption numbers[] = {{"--fps", 1, 240, options->fps},
                              {"--from", 0, kLatestTime, options->from},
                              {"--to", 1, kLatestTime, options->to},
                              {"--scale", 1, 4, options->scale}};
    bool haveOut = false;
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        const char* value = nullptr;
        const size_t equals = name.find('=');
        if (name.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            value = argv[i] + equals + 1;
            name.resize(equals);
        }
        if (name == "--help" && !value) {
            options->help = true;
            return 0;
        }
        NumberOption* number = nullptr;
        for (NumberOption& candidate : numbers)
            if (name == candidate.name)
                number = &candidate;
        if (!number && name != "--out")
            return RefuseOptions(name.compare(0, 1, "-") == 0
                                     ? "unknown option '" + name + "'"
                                     : "unexpected argument '" + name + "'");
        if (!value && i + 1 >= argc)
            return RefuseOptions(name + " needs a value");
        if (!value)
            value = argv[++i];
        if (!number) {
            options->out = value;
            // "frames/" names the folder "frames".
            while (options->out.size() > 1 && options->out.back() == '/')
                options->out.pop_back();
            if (options->out.empty() || options->out == "/")
                return RefuseOptions("--out needs a file ending in .mp4 or a folder name");
            haveOut = true;
        } else if (!ReadWholeNumber(value, number->low, number->high, &number->value)) {
            return RefuseOptions(name + " must be a whole number from " +
                                 std::to_string(number->low) + " to " +
                                 std::to_string(number->high) + ", not '" + value + "'");
        }
    }
    options->fps = int(numbers[0].value);
    options->from = int32_t(numbers[1].value);
    options->to = int32_t(numbers[2].value);
    options->scale = int(numbers[3].value);
    if (options->to <= options->from)
        return RefuseOptions("--to (" + std::to_string(options->to) +
                             ") must be later than --from (" + std::to_string(options->from) + ")");
    if (!haveOut)
        return RefuseOptions("--out is required: a file ending in .mp4, or a folder for PNG "
                             "frames");
    return 0;
}

// The number of frames; called by RunCapture and the benchmark.
int64_t CaptureFrameCount(const CaptureOptions& options) {
    // floor(i * 1000 / fps) < to - from exactly when i < (to - from) * fps / 1000.
    const int64_t span = int64_t(options.to) - options.from;
    return (span * options.fps + 999) / 1000;
}

// Frame i's demo time; called by RunCapture and the benchmark.
int32_t CaptureFrameTime(const CaptureOptions& options, int64_t frame) {
    return int32_t(options.from + frame * 1000 / options.fps);
}

// The music's frame heard at a demo time, rounded down; called for the
// spectrum and the sound.
int64_t MusicFrameAt(int32_t demoTime) {
    const int64_t scaled = (int64_t(demoTime) - kMusicStartTime) * kMusicRate;
    return scaled >= 0 ? scaled / 1000 : -((-scaled + 999) / 1000);
}

// The virtual clock; called by the demo through the tick count.
static uint32_t ReadVirtualTicks() {
    return s_virtualTicks;
}

// Starts the demo with no display; called by RunCapture and the benchmark.
int StartOfflineDemo() {
    if (s_started)
        return 0;
    SDL_Window* window = CreateOffscreenWindow(kWindowTitle, kScreenWidth, kScreenHeight);
    if (!window)
        return 1;
    SetTickSource(ReadVirtualTicks);
    s_virtualTicks = kCaptureStartTick;
    g_startTick = kCaptureStartTick;
    // A picture that cannot be loaded ends the process here with status 1.
    InitDemo(window);
    // A start-up check that failed has shown its error and queued a quit.
    int status = 0;
    for (MessageKind kind; (kind = HandleNextMessage(&status)) != MessageKind::kNone;)
        if (kind == MessageKind::kQuit)
            return status;
    // No music means a silent video and a cube that keeps its size, as live.
    g_musicStream = OpenOfflineMusic(DataFilePath(kMusicPath).c_str());
    if (!g_musicStream)
        std::fprintf(stderr, "movra-capture: %s cannot be played; the capture is silent\n",
                     kMusicPath);
    s_started = true;
    return 0;
}

// Runs the demo's tick at one demo time; false when it presented nothing.
// Called by RenderCaptureFrame.
static bool TickAt(int32_t demoTime) {
    SetOfflineMusicFrame(g_musicStream, MusicFrameAt(demoTime));
    s_virtualTicks = kCaptureStartTick + uint32_t(demoTime);
    TickDemo();
    return TakeFinishedFrame();
}

// Renders one frame; called by RunCapture and the benchmark.
bool RenderCaptureFrame(int32_t demoTime, bool firstFrame, uint8_t* rgba) {
    const double start = CaptureSeconds();
    bool presented = TickAt(demoTime);
    // Every scene's frame depends only on its tick's time, so the frame a
    // live run shows is the one of the last tick that presented.
    for (int32_t t = demoTime; firstFrame && !presented && t > 0;)
        presented = TickAt(--t);
    // Waiting here for the drawing to finish costs nothing (the read-back
    // would wait for it) and times the drawing apart from the read-back.
    FinishScreenDrawing();
    const double rendered = CaptureSeconds();
    g_captureTimings.render += rendered - start;
    if (!presented && !firstFrame)
        return false;
    ReadVirtualScreen(rgba);
    g_captureTimings.readback += CaptureSeconds() - rendered;
    return true;
}

// Sets the stop flag; run on SIGINT and SIGTERM.
static void AskToStop(int signal) {
    g_captureStop = signal;
}

// Catches SIGINT and SIGTERM so the loop can clean up, and turns a closed
// pipe into an error rather than death; called by RunCapture.
static void InstallSignalHandlers() {
    struct sigaction action = {};
    action.sa_handler = AskToStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

// The progress shown on standard error: in place when it is a terminal.
static bool s_progressInPlace;
static bool s_progressLineOpen; // an in-place line waits for its newline
static double s_progressShownAt;

// Shows how far the capture is: in place on a terminal (at most ten times a
// second), else a line at every tenth. Called by CaptureFrames after each
// frame.
static void ShowProgress(int64_t done, int64_t total, double elapsed) {
    const bool last = done == total;
    if (s_progressInPlace ? !last && elapsed - s_progressShownAt < 0.1
                          : !last && done * 10 / total == (done - 1) * 10 / total)
        return;
    s_progressShownAt = elapsed;
    const double rate = elapsed > 0 ? double(done) / elapsed : 0;
    const double left = rate > 0 ? double(total - done) / rate : 0;
    std::fprintf(stderr, "%sframe %lld of %lld (%d%%), %.0f frames/s, %.0f s left%s",
                 s_progressInPlace ? "\r" : "", static_cast<long long>(done),
                 static_cast<long long>(total), int(done * 100 / total), rate, std::ceil(left),
                 s_progressInPlace && !last ? "   " : "\n");
    s_progressLineOpen = s_progressInPlace && !last;
}

// Ends an in-place progress line, so that a message after it starts on a
// line of its own; called by CaptureFrames when it stops early.
static void EndProgressLine() {
    if (s_progressLineOpen)
        std::fputc('\n', stderr);
    s_progressLineOpen = false;
}

// Renders every frame and hands it to the writer; false when the writer
// failed or a stop was asked for. Called by RunCapture.
static bool CaptureFrames(const CaptureOptions& options, int64_t frames) {
    const double start = CaptureSeconds();
    s_progressInPlace = isatty(2);
    s_progressShownAt = -1;
    for (int64_t i = 0; i < frames; ++i) {
        uint8_t* buffer = NextFrameBuffer();
        if (!buffer) {
            EndProgressLine();
            return false;
        }
        SubmitFrame(!RenderCaptureFrame(CaptureFrameTime(options, i), i == 0, buffer));
        ++g_captureTimings.frames;
        ShowProgress(i + 1, frames, CaptureSeconds() - start);
    }
    EndProgressLine();
    return !g_captureStop;
}

// Captures the frames the options ask for; called by the capture's main
// and the benchmark.
int RunCapture(const CaptureOptions& options) {
    InstallSignalHandlers();
    g_captureTimings = CaptureTimings();
    if (!CheckCaptureOutput(options))
        return 1;
    const int startStatus = StartOfflineDemo();
    if (startStatus != 0)
        return startStatus;
    const double start = CaptureSeconds();
    const int64_t frames = CaptureFrameCount(options);
    bool finished = false;
    if (!g_captureStop && OpenCaptureOutput(options, frames, OfflineMusicSamples(g_musicStream))) {
        if (CaptureFrames(options, frames))
            finished = FinishCaptureOutput();
        else
            AbortCaptureOutput();
    }
    if (g_captureStop) {
        std::fprintf(stderr, "movra-capture: stopped; nothing was written to %s\n",
                     options.out.c_str());
        return 128 + g_captureStop;
    }
    if (!finished)
        return 1;
    const double seconds = CaptureSeconds() - start;
    const double length = double(frames) / options.fps;
    std::fprintf(stderr,
                 "movra-capture: wrote %lld frames (%.3f s at %d fps) to %s in %.1f s, %.1fx "
                 "real time\n",
                 static_cast<long long>(frames), length, options.fps, options.out.c_str(), seconds,
                 length / seconds);
    return 0;
}
