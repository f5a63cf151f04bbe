// Start-up benchmark: from process start to the first tick and to the first
// frame on screen, and the peak memory of start-up, each against a floor
// measured in the same run. Run from the repository root under an X display:
//     build/bench/startup_bench [--table] [rounds]
// Each round starts this program again in each role and the real demo binary
// once, and times them from just before the spawn (all watched alike, see
// Watch):
// - floor: SDL, a window, a GL context, one clear and swap;
// - picture floor: the same plus the ten pictures decoded by bare libjpeg
//   and uploaded by bare gluBuild2DMipmaps, with no demo code;
// - the demo's start-up without its pictures, to its first tick;
// - the demo's start-up (InitDemo, RunDemo) to its first tick and on to its
//   first swap, watched through the tick source and the present hook;
// - build/movra itself, whose first frame is seen from outside when the
//   centre of its window changes, and whose peak memory is read when it ends.
#include "app/app.h"
#include "assets/textures.h"
#include "bench_support.h"
#include "demo/timeline.h"
#include "picture_files.h"
#include "platform/messages.h"
#include "platform/renderer.h"
#include "platform/screen.h"
#include "platform/ticks.h"
#include "platform/window.h"

#include <SDL.h>
#include <SDL_opengl.h>
#include <GL/glu.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

// Decodes each of the ten pictures with bare libjpeg and uploads it with a
// bare gluBuild2DMipmaps, one at a time; called by the picture floor.
static void DecodeAndUploadBare() {
    GLuint names[kTextureCount] = {};
    glGenTextures(kTextureCount, names);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (int slot = 0; slot < kTextureCount; ++slot) {
        const Pixels picture = DecodeStraight(kPicturePaths[slot]);
        glBindTexture(GL_TEXTURE_2D, names[slot]);
        gluBuild2DMipmaps(GL_TEXTURE_2D, picture.components, picture.width, picture.height,
                          picture.components == 3 ? GL_RGB : GL_LUMINANCE, GL_UNSIGNED_BYTE,
                          picture.bytes.data());
    }
}

// The floors: what any SDL GL program pays before its first frame is shown,
// with or without loading the same pictures as the demo. Reports when the
// context exists and when the first swap is done.
static int RunFloor(bool withPictures) {
    SDL_Window* window = CreateFloorWindow();
    if (!window)
        return 1;
    ReportToParent("context", NowNanoseconds());
    if (withPictures)
        DecodeAndUploadBare();
    glClear(GL_COLOR_BUFFER_BIT);
    SDL_GL_SwapWindow(window);
    ReportToParent("swap", NowNanoseconds());
    SDL_Quit();
    return 0;
}

static bool s_stopAtFirstTick;      // the role without pictures ends at its first tick
static long long s_lastTick;        // when the latest tick read the clock
static long long s_drawingTick = 0; // when the first tick that presented began

// Notes when the first tick that presented began; the present hook of the
// demo roles.
static void NoteFirstPresent() {
    if (!s_drawingTick)
        s_drawingTick = s_lastTick;
}

// The tick source of the demo roles: the real clock, reporting the first
// tick and then, at the first read after a tick that presented (the loop has
// shown that frame and swapped by then), the first swap; then ends the demo.
static uint32_t WatchFirstFrame() {
    const long long now = NowNanoseconds();
    const uint32_t ticks = uint32_t(now / 1000000);
    if (!s_lastTick) {
        ReportToParent("tick", now);
        if (s_stopAtFirstTick)
            RequestQuit(0);
    } else if (s_drawingTick > 0) {
        ReportToParent("drawing", s_drawingTick);
        ReportToParent("swap", now);
        ReportToParent("demo", double(int32_t(ticks - g_startTick)));
        s_drawingTick = -1;
        RequestQuit(0);
    }
    s_lastTick = now;
    return ticks;
}

// The demo's own start-up, as main runs it, with or without the pictures.
static int RunDemoStartUp(bool withPictures) {
    SDL_Window* window =
        CreateMainWindow(kWindowTitle, kScreenWidth, kScreenHeight, 0, g_fullscreen);
    if (!window)
        return 1;
    if (withPictures) {
        InitDemo(window);
    } else {
        g_window = window;
        InitRenderer(kScreenWidth, kScreenHeight);
    }
    s_stopAtFirstTick = !withPictures;
    SetPresentHook(NoteFirstPresent);
    SetTickSource(WatchFirstFrame);
    return RunDemo();
}

// Ignores X errors: the demo's window may vanish between two requests.
static int IgnoreXErrors(Display*, XErrorEvent*) {
    return 0;
}

// Finds the demo's mapped top-level window by its title; 0 while there is none.
static Window FindDemoWindow(Display* display) {
    Window found = 0, root, parent, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
        return 0;
    for (unsigned i = 0; i < count && !found; ++i) {
        char* name = nullptr;
        XWindowAttributes attributes;
        if (XFetchName(display, children[i], &name) && name) {
            if (std::strcmp(name, kWindowTitle) == 0 &&
                XGetWindowAttributes(display, children[i], &attributes) &&
                attributes.map_state == IsViewable)
                found = children[i];
            XFree(name);
        }
    }
    if (children)
        XFree(children);
    return found;
}

// Reads 16 x 16 pixels at the centre of a window; empty on an X error.
static std::string ReadCentre(Display* display, Window window) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes))
        return {};
    XImage* image = XGetImage(display, window, attributes.width / 2 - 8, attributes.height / 2 - 8,
                              16, 16, AllPlanes, ZPixmap);
    if (!image)
        return {};
    std::string pixels(image->data, size_t(image->bytes_per_line) * 16);
    XDestroyImage(image);
    return pixels;
}

// What the parent saw of a child.
struct Watched {
    std::string report;     // what it wrote: "key value" lines
    double firstFrame = -1; // ms from the spawn to the first change of its window
    long peakKilobytes = 0; // the peak of its resident memory
    bool ended = false;     // it ended with status 0
};

// Starts `argv` and looks at it every half millisecond until it closes its
// output: reads its report, and notes when the centre of the demo's window
// first changes from what it showed when mapped, which is when the first
// frame is swapped in. With `stopAtFirstFrame` (the real binary, which
// reports nothing) it is ended by SIGINT at that moment. Every child is
// watched alike so that the machine around it is the same: here, while the
// parent sleeps a core goes idle and a demo's first frame took up to 100 ms
// longer.
static Watched Watch(Display* display, const std::vector<std::string>& argv,
                     bool stopAtFirstFrame) {
    Watched watched;
    Child child = StartChild(argv, {}, !stopAtFirstFrame);
    if (child.pid < 0)
        return watched;
    watched.report = Format("spawn %lld\n", child.started);
    Window window = 0;
    std::string mapped;
    bool open = !stopAtFirstFrame;
    const long long deadline = child.started + 20000000000LL;
    while (NowNanoseconds() < deadline) {
        pollfd output = {child.output, POLLIN, 0};
        if (open && poll(&output, 1, 0) > 0) {
            char text[512];
            const ssize_t got = read(child.output, text, sizeof text);
            if (got > 0)
                watched.report.append(text, size_t(got));
            else
                open = false;
        }
        if (!window) {
            window = FindDemoWindow(display);
            if (window)
                mapped = ReadCentre(display, window);
        } else if (watched.firstFrame < 0) {
            const std::string now = ReadCentre(display, window);
            if (!now.empty() && now != mapped)
                watched.firstFrame = (NowNanoseconds() - child.started) / 1e6;
        }
        if (stopAtFirstFrame ? watched.firstFrame >= 0 : !open)
            break;
        usleep(500);
    }
    if (stopAtFirstFrame)
        kill(child.pid, SIGINT);
    const ChildEnd end = WaitForChild(child, 10);
    watched.peakKilobytes = end.peakKilobytes;
    watched.ended = end.status == 0;
    return watched;
}

// The figures of every round, in milliseconds or kilobytes.
struct Figures {
    std::vector<double> floor, pictureFloor, spine, tick, swap, demoTime, realFrame, fullFrame;
    std::vector<double> frameCost, floorSwapCost, realPeak, floorPeak;
    std::vector<double> tickToFloor, tickToPictureFloor, spineToFloor, costToFloorSwap;
    std::vector<double> peakToFloor, realFrameToScript, demoTimeToScript;
};

// Runs one round of every role and the real binary; false when one failed.
static bool RunRound(Display* display, Figures& f) {
    const std::string self = OwnPath();
    const Watched floor = Watch(display, {self, "--floor"}, false);
    const Watched pictureFloor = Watch(display, {self, "--picture-floor"}, false);
    const Watched spine = Watch(display, {self, "--spine"}, false);
    const Watched full = Watch(display, {self, "--full"}, false);
    const Watched real = Watch(display, {DemoBinaryPath()}, true);
    if (!floor.ended || !pictureFloor.ended || !spine.ended || !full.ended || !real.ended)
        return false;
    // The roles report moments on the clock; the parent noted their spawns.
    const auto since = [](const Watched& child, const char* key, const char* from) {
        return (ReportValue(child.report, key) - ReportValue(child.report, from)) / 1e6;
    };
    const double floorMs = since(floor, "swap", "spawn");
    const double floorSwapCost = since(floor, "swap", "context");
    const double pictureFloorMs = since(pictureFloor, "swap", "spawn");
    const double floorPeak = double(pictureFloor.peakKilobytes);
    const double spineMs = since(spine, "tick", "spawn");
    const double tickMs = since(full, "tick", "spawn");
    const double swapMs = since(full, "swap", "spawn");
    const double frameCost = since(full, "swap", "drawing");
    if (std::min({floorMs, pictureFloorMs, spineMs, tickMs, swapMs, real.firstFrame}) < 0)
        return false;
    f.fullFrame.push_back(full.firstFrame);
    f.floor.push_back(floorMs);
    f.pictureFloor.push_back(pictureFloorMs);
    f.spine.push_back(spineMs);
    f.tick.push_back(tickMs);
    f.swap.push_back(swapMs);
    f.demoTime.push_back(ReportValue(full.report, "demo"));
    f.realFrame.push_back(real.firstFrame);
    f.frameCost.push_back(frameCost);
    f.floorSwapCost.push_back(floorSwapCost);
    f.realPeak.push_back(real.peakKilobytes);
    f.floorPeak.push_back(floorPeak);
    f.tickToFloor.push_back(tickMs / floorMs);
    f.tickToPictureFloor.push_back(tickMs / pictureFloorMs);
    f.spineToFloor.push_back(spineMs / floorMs);
    f.costToFloorSwap.push_back(frameCost / floorSwapCost);
    f.peakToFloor.push_back(double(real.peakKilobytes) / floorPeak);
    f.realFrameToScript.push_back(real.firstFrame / 1000);
    f.demoTimeToScript.push_back(ReportValue(full.report, "demo") / 1000);
    return true;
}

// Prints the figures for a reader.
static void PrintReport(const Figures& f, int rounds) {
    const auto line = [](const char* what, const std::vector<double>& values, const char* unit) {
        const Spread s = SpreadOf(values);
        std::printf("  %-50s %8.1f %s  (%s)\n", what, s.median, unit, RangeText(s, 1).c_str());
    };
    const auto ratio = [](const char* what, const std::vector<double>& values) {
        const Spread s = SpreadOf(values);
        std::printf("  %-50s %8.2f     (%s)\n", what, s.median, RangeText(s, 2).c_str());
    };
    std::printf("start-up, medians of %d rounds (smallest-largest), each a fresh process:\n",
                rounds);
    line("floor: SDL, window, GL context, first swap", f.floor, "ms");
    line("picture floor: the same + bare decode and upload", f.pictureFloor, "ms");
    line("demo without pictures, to its first tick", f.spine, "ms");
    line("demo with the ten pictures, to its first tick", f.tick, "ms");
    ratio("  ratio without pictures / floor", f.spineToFloor);
    ratio("  ratio with pictures / floor", f.tickToFloor);
    ratio("  ratio with pictures / picture floor", f.tickToPictureFloor);
    std::printf("first frame on screen:\n");
    line("demo (InitDemo, RunDemo), first swap from spawn", f.swap, "ms");
    line("  its demo time at that swap", f.demoTime, "ms");
    line("  the same swap seen from outside, from spawn", f.fullFrame, "ms");
    line("real build/movra, its window changes, from spawn", f.realFrame, "ms");
    ratio("  ratio to 1000 ms, when the first frame is due", f.realFrameToScript);
    line("first frame's cost: its tick's start to the swap", f.frameCost, "ms");
    line("floor: a fresh context's first clear and swap", f.floorSwapCost, "ms");
    ratio("  ratio", f.costToFloorSwap);
    std::printf("peak memory at start-up (resident):\n");
    const Spread real = SpreadOf(f.realPeak), floor = SpreadOf(f.floorPeak);
    std::printf("  %-50s %8.1f MB\n", "real build/movra through its first frame",
                real.median / 1024);
    std::printf("  %-50s %8.1f MB\n", "picture floor", floor.median / 1024);
    ratio("  ratio", f.peakToFloor);
}

// Prints the figures as rows of the report's table.
static void PrintTable(const Figures& f) {
    const auto row = [](const std::string& figure, const std::vector<double>& values,
                        const std::string& floorText, const std::vector<double>& floors,
                        const std::vector<double>& ratios, const char* unit, double scale) {
        PrintTableRow(
            figure, Format("%.1f %s", SpreadOf(values).median * scale, unit),
            Format("%.1f %s %s", SpreadOf(floors).median * scale, unit, floorText.c_str()),
            Format("%.2f", SpreadOf(ratios).median), RangeText(SpreadOf(ratios), 2));
    };
    row("start-up to first tick", f.tick, "SDL+window+GL+bare pictures", f.pictureFloor,
        f.tickToPictureFloor, "ms", 1);
    row("  the same, against the floor without pictures", f.tick, "SDL+window+GL+swap", f.floor,
        f.tickToFloor, "ms", 1);
    row("start-up to first tick, no pictures", f.spine, "SDL+window+GL+swap", f.floor,
        f.spineToFloor, "ms", 1);
    const std::vector<double> script(f.realFrame.size(), 1000);
    row("start-up to first swap (real binary)", f.realFrame, "first frame due", script,
        f.realFrameToScript, "ms", 1);
    row("  demo time of the first swap (seams)", f.demoTime, "first frame due", script,
        f.demoTimeToScript, "ms", 1);
    row("first frame, tick start to swap", f.frameCost, "first clear+swap", f.floorSwapCost,
        f.costToFloorSwap, "ms", 1);
    row("peak memory at start-up (real binary)", f.realPeak, "SDL+window+GL+bare pictures",
        f.floorPeak, f.peakToFloor, "MB", 1 / 1024.0);
}

int main(int argc, char** argv) {
    const bool table = TakeTableOption(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--floor") == 0)
        return RunFloor(false);
    if (argc > 1 && std::strcmp(argv[1], "--picture-floor") == 0)
        return RunFloor(true);
    if (argc > 1 && std::strcmp(argv[1], "--spine") == 0)
        return RunDemoStartUp(false);
    if (argc > 1 && std::strcmp(argv[1], "--full") == 0)
        return RunDemoStartUp(true);

    setenv("MOVRA_NO_DIALOGS", "1", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    Display* display = XOpenDisplay(nullptr);
    if (!display || access(kPicturePaths[0], R_OK) != 0) {
        std::fprintf(stderr, "needs a display and the pictures: run from the repository root "
                             "under X\n");
        return 1;
    }
    XSetErrorHandler(IgnoreXErrors);
    // The roles take turns, so drift in the machine's load hits them alike.
    Figures figures;
    for (int i = 0; i < rounds; ++i)
        if (!RunRound(display, figures)) {
            std::fprintf(stderr, "a role or the demo binary failed (is %s built?)\n",
                         DemoBinaryPath().c_str());
            return 1;
        }
    XCloseDisplay(display);
    if (table)
        PrintTable(figures);
    else
        PrintReport(figures, rounds);
    return 0;
}
