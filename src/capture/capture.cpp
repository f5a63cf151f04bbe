// The capture tool's options, its start-up with no display and its frame
// loop on the virtual clock.
#include "capture/capture.h"

#include "app/app.h"
#include "capture/capture_output.h"
#include "audio/audio.h"
#include "demo/timeline.h"
#include "platform/drawing_record.h"
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
        "Usage: movra-capture --out PATH [--size SIZE [--samples N] | --scale N]\n"
        "                     [--fps N] [--from MS] [--to MS]\n"
        "Renders the demo with no display on a virtual clock, frame-exact.\n"
        "\n"
        "  --out PATH    a file ending in .mp4: H.264 video with the music (needs ffmpeg);\n"
        "                anything else: a folder of frame-000000.png, frame-000001.png, ...\n"
        "  --size SIZE   the frame's size, the scenes drawn at it: 720p, 1080p, 1440p,\n"
        "                2160p (16:9) or WIDTHxHEIGHT, even sides from 640x480 to\n"
        "                7680x4320; the 4:3 picture centred, black bars beside it\n"
        "                (default: 640x480)\n"
        "  --samples N   each pixel drawn as N x N and averaged: 1, 2 or 4 (default 1)\n"
        "  --scale N     each pixel of the 640x480 frame becomes N x N pixels, 1 to 4\n"
        "                (default 1); not with --size\n"
        "  --fps N       frames per second, 1 to 240 (default 60)\n"
        "  --from MS     demo time of the first frame in milliseconds (default 0)\n"
        "  --to MS       frames are taken before this demo time (default 95000)\n"
        "  --help        print this and exit\n"
        "\n"
        "Frame i shows demo time from + floor(i * 1000 / fps) ms. Run it from the\n"
        "repository root, where data/ is. For a video site: --size 1080p or 2160p.\n");
}

// Reads a whole number from `text` within [low, high]; false when it is not
// one. Called by ParseCaptureOptions and ReadFrameSize.
static bool ReadWholeNumber(const char* text, long low, long high, long* value) {
    if (!text || !*text || std::strlen(text) > 12)
        return false;
    for (const char* c = text; *c; ++c)
        if (*c < '0' || *c > '9')
            return false;
    *value = std::strtol(text, nullptr, 10);
    return *value >= low && *value <= high;
}

// Reads --size: a name of kNamedSizes or WIDTHxHEIGHT with even sides within
// the smallest and largest frame; false when it is neither. Called by
// ParseCaptureOptions.
static bool ReadFrameSize(const std::string& text, int* width, int* height) {
    for (const NamedSize& size : kNamedSizes)
        if (text == size.name) {
            *width = size.width, *height = size.height;
            return true;
        }
    const size_t x = text.find('x');
    long w = 0, h = 0;
    if (x == std::string::npos ||
        !ReadWholeNumber(text.substr(0, x).c_str(), kSmallestFrameWidth, kLargestFrameWidth, &w) ||
        !ReadWholeNumber(text.substr(x + 1).c_str(), kSmallestFrameHeight, kLargestFrameHeight,
                         &h) ||
        w % 2 || h % 2)
        return false;
    *width = int(w), *height = int(h);
    return true;
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
        bool given;
    };
    NumberOption numbers[] = {{"--fps", 1, 240, options->fps, false},
                              {"--from", 0, kLatestTime, options->from, false},
                              {"--to", 1, kLatestTime, options->to, false},
                              {"--scale", 1, 4, options->scale, false},
                              {"--samples", 1, 4, options->samples, false}};
    bool haveOut = false, haveSize = false;
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
        if (!number && name != "--out" && name != "--size")
            return RefuseOptions(name.compare(0, 1, "-") == 0
                                     ? "unknown option '" + name + "'"
                                     : "unexpected argument '" + name + "'");
        if (!value && i + 1 >= argc)
            return RefuseOptions(name + " needs a value");
        if (!value)
            value = argv[++i];
        if (name == "--out") {
            options->out = value;
            // "frames/" names the folder "frames".
            while (options->out.size() > 1 && options->out.back() == '/')
                options->out.pop_back();
            if (options->out.empty() || options->out == "/")
                return RefuseOptions("--out needs a file ending in .mp4 or a folder name");
            haveOut = true;
        } else if (name == "--size") {
            if (!ReadFrameSize(value, &options->width, &options->height))
                return RefuseOptions(
                    "--size must be 720p, 1080p, 1440p, 2160p or WIDTHxHEIGHT with even sides "
                    "from 640x480 to 7680x4320, not '" +
                    std::string(value) + "'");
            haveSize = true;
        } else if (!ReadWholeNumber(value, number->low, number->high, &number->value) ||
                   (number == &numbers[4] && number->value == 3)) {
            return RefuseOptions(
                number == &numbers[4]
                    ? "--samples must be 1, 2 or 4, not '" + std::string(value) + "'"
                    : name + " must be a whole number from " + std::to_string(number->low) +
                          " to " + std::to_string(number->high) + ", not '" + value + "'");
        } else {
            number->given = true;
        }
    }
    options->fps = int(numbers[0].value);
    options->from = int32_t(numbers[1].value);
    options->to = int32_t(numbers[2].value);
    options->scale = int(numbers[3].value);
    options->samples = int(numbers[4].value);
    if (haveSize && numbers[3].given)
        return RefuseOptions("--scale and --size cannot be used together: --size draws the "
                             "scenes at the frame's size, --scale enlarges the 640x480 frame's "
                             "pixels");
    if (options->to <= options->from)
        return RefuseOptions("--to (" + std::to_string(options->to) +
                             ") must be later than --from (" + std::to_string(options->from) + ")");
    if (!haveOut)
        return RefuseOptions("--out is required: a file ending in .mp4, or a folder for PNG "
                             "frames");
    return 0;
}

// Places the picture in the frame; called by the capture, its output, tests
// and the benchmark.
FrameLayout CaptureFrameLayout(const CaptureOptions& options) {
    FrameLayout layout = {kScreenWidth, kScreenHeight, 0, 0, kScreenWidth, kScreenHeight, 1};
    if (!options.width) {
        layout.scale = options.scale;
        layout.width *= options.scale, layout.height *= options.scale;
        return layout;
    }
    const int64_t width = options.width, height = options.height;
    layout.width = layout.pictureWidth = options.width;
    layout.height = layout.pictureHeight = options.height;
    // The even side nearest 4:3 of the full height, or of the full width.
    if (width * kScreenHeight >= height * kScreenWidth)
        layout.pictureWidth =
            int(2 * ((height * kScreenWidth + kScreenHeight) / (2 * kScreenHeight)));
    else
        layout.pictureHeight =
            int(2 * ((width * kScreenHeight + kScreenWidth) / (2 * kScreenWidth)));
    layout.pictureX = (layout.width - layout.pictureWidth) / 4 * 2;
    layout.pictureY = (layout.height - layout.pictureHeight) / 4 * 2;
    return layout;
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

// Tells what the options draw, for a message: "--size 3840x2160 with
// --samples 2". Called by CheckScreenSize.
static std::string SizeOptionsText(const CaptureOptions& options) {
    std::string text;
    if (options.width)
        text = "--size " + std::to_string(options.width) + "x" + std::to_string(options.height);
    if (options.samples > 1)
        text += (text.empty() ? "" : " with ") + std::string("--samples ") +
                std::to_string(options.samples);
    return text;
}

// Gives the virtual screen the pixels and samples the options ask for and
// checks that the GL behind `window` can draw them; prints what is too
// large and returns false otherwise. Called by StartOfflineDemo.
static bool CheckScreenSize(const CaptureOptions& options, SDL_Window* window) {
    const FrameLayout layout = CaptureFrameLayout(options);
    g_screenPixels = {layout.pictureWidth, layout.pictureHeight, options.samples};
    // The GL draws 640 x 480 anywhere the demo runs; only more needs asking.
    if (DrawnScreenWidth() <= kScreenWidth && DrawnScreenHeight() <= kScreenHeight)
        return true;
    const int largest = LargestScreenSide(window);
    if (DrawnScreenWidth() <= largest && DrawnScreenHeight() <= largest)
        return true;
    std::fprintf(stderr,
                 "movra-capture: %s draws %d x %d pixels, and this GL draws at most %d x %d; "
                 "choose fewer --samples or a smaller --size\n",
                 SizeOptionsText(options).c_str(), DrawnScreenWidth(), DrawnScreenHeight(), largest,
                 largest);
    return false;
}

// Starts the demo with no display; called by RunCapture and the benchmark.
int StartOfflineDemo(const CaptureOptions& options) {
    if (s_started)
        return 0;
    SDL_Window* window = CreateOffscreenWindow(kWindowTitle, kScreenWidth, kScreenHeight);
    if (!window)
        return 1;
    if (!CheckScreenSize(options, window))
        return 2;
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

// The steps of the last tick drawn, and whether a tick taking the same
// steps would make the same frame: it left the drawing state as it found
// it, cleared the screen before drawing on it and restored nothing saved
// before it.
static DrawingRecord s_lastDrawn;
static bool s_lastRepeats;

// Tells whether the tick at `demoTime` takes the steps of the last tick
// drawn, which made the frame before, so that its frame is that frame
// again; its steps are only written down, not drawn. Called by
// RenderCaptureFrame.
static bool TickRepeatsLastDrawn(int32_t demoTime) {
    if (!s_lastRepeats)
        return false;
    DrawingRecord record;
    KeepDrawingRecord(&record, true);
    TickAt(demoTime);
    KeepDrawingRecord(nullptr, false);
    return record.steps == s_lastDrawn.steps;
}

// Renders one frame; called by RunCapture and the benchmark.
bool RenderCaptureFrame(int32_t demoTime, bool firstFrame, uint8_t* rgba) {
    const double start = CaptureSeconds();
    // Still pictures take the same steps tick after tick: their frames are
    // not drawn again.
    if (!firstFrame && TickRepeatsLastDrawn(demoTime)) {
        ++g_captureTimings.undrawnTicks;
        g_captureTimings.render += CaptureSeconds() - start;
        return false;
    }
    std::vector<double> stateBefore, stateAfter;
    ReadDrawingState(&stateBefore);
    KeepDrawingRecord(&s_lastDrawn, false);
    bool presented = TickAt(demoTime);
    // Every scene's frame depends only on its tick's time, so the frame a
    // live run shows is the one of the last tick that presented.
    for (int32_t t = demoTime; firstFrame && !presented && t > 0;)
        presented = TickAt(--t);
    KeepDrawingRecord(nullptr, false);
    ReadDrawingState(&stateAfter);
    s_lastRepeats = !firstFrame && stateAfter == stateBefore && !s_lastDrawn.drewBeforeClearing &&
                    !s_lastDrawn.restoredEarlierSave;
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
static void ShowProgress(const FrameLayout& layout, int64_t done, int64_t total, double elapsed) {
    const bool last = done == total;
    if (s_progressInPlace ? !last && elapsed - s_progressShownAt < 0.1
                          : !last && done * 10 / total == (done - 1) * 10 / total)
        return;
    s_progressShownAt = elapsed;
    const double rate = elapsed > 0 ? double(done) / elapsed : 0;
    const double left = rate > 0 ? double(total - done) / rate : 0;
    std::fprintf(stderr, "%sframe %lld of %lld (%d%%) at %dx%d, %.0f frames/s, %.0f s left%s",
                 s_progressInPlace ? "\r" : "", static_cast<long long>(done),
                 static_cast<long long>(total), int(done * 100 / total), layout.width,
                 layout.height, rate, std::ceil(left), s_progressInPlace && !last ? "   " : "\n");
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
    const FrameLayout layout = CaptureFrameLayout(options);
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
        ShowProgress(layout, i + 1, frames, CaptureSeconds() - start);
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
    const int startStatus = StartOfflineDemo(options);
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
    const FrameLayout layout = CaptureFrameLayout(options);
    std::fprintf(stderr,
                 "movra-capture: wrote %lld frames of %dx%d (%.3f s at %d fps) to %s in %.1f s, "
                 "%.2fx real time\n",
                 static_cast<long long>(frames), layout.width, layout.height, length, options.fps,
                 options.out.c_str(), seconds, length / seconds);
    return 0;
}
