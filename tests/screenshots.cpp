// Screenshots of the demo's window on an X display.
#include "screenshots.h"

#include "platform/screen.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

// Ignores X errors: a window listed a moment ago may be gone when asked
// about (SDL makes and drops short-lived windows while it starts).
static int IgnoreXErrors(Display*, XErrorEvent*) {
    return 0;
}

// Opens a display for screenshots; called by the tests that start the demo.
Display* OpenScreenshotDisplay(const char* name) {
    Display* display = XOpenDisplay(name);
    if (display)
        XSetErrorHandler(IgnoreXErrors);
    return display;
}

// Lists the top-level windows of a title; called by the tests that look for
// the demo's window or its error box.
std::vector<Window> FindWindowsTitled(Display* display, const char* title) {
    std::vector<Window> found;
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
        return found;
    for (unsigned i = 0; i < count; ++i) {
        // The title's bytes, whatever encoding the window named: SDL's
        // error box names its "UTF-8", which XFetchName doesn't read.
        XTextProperty name = {};
        if (XGetWMName(display, children[i], &name) && name.value) {
            if (std::string(reinterpret_cast<char*>(name.value), name.nitems) == title)
                found.push_back(children[i]);
            XFree(name.value);
        }
    }
    if (children)
        XFree(children);
    return found;
}

// Lists the demo's top-level windows; called by the tests that start the demo.
std::vector<Window> FindDemoWindows(Display* display) {
    return FindWindowsTitled(display, "Movra first demo");
}

// Waits for the demo's window to be mapped; called by the tests that start
// the demo.
Window WaitForDemoWindow(Display* display, double seconds) {
    for (int i = 0; i < seconds * 100; ++i) {
        std::vector<Window> windows = FindDemoWindows(display);
        XWindowAttributes attributes;
        if (!windows.empty() && XGetWindowAttributes(display, windows[0], &attributes) &&
            attributes.map_state == IsViewable)
            return windows[0];
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
}

// Screenshots the virtual screen as shown; called by the tests that start the demo.
Thumbnail ScreenshotThumbnail(Display* display, bool& barsBlack) {
    Window root = DefaultRootWindow(display);
    XWindowAttributes size;
    XGetWindowAttributes(display, root, &size);
    XImage* image = XGetImage(display, root, 0, 0, unsigned(size.width), unsigned(size.height),
                              AllPlanes, ZPixmap);
    if (!image)
        return {};
    ScreenRect shown = FitVirtualScreen(size.width, size.height);
    int top = size.height - shown.y - shown.height;
    auto rgb = [&](int x, int y) {
        unsigned long p = XGetPixel(image, x, y);
        return Rgb{int(p >> 16 & 255), int(p >> 8 & 255), int(p & 255)};
    };
    barsBlack = true;
    for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x) {
            bool inside =
                x >= shown.x && x < shown.x + shown.width && y >= top && y < top + shown.height;
            Rgb c = rgb(x, y);
            if (!inside && (c.r | c.g | c.b))
                barsBlack = false;
        }
    Thumbnail thumbnail = MakeThumbnail(shown.width, shown.height,
                                        [&](int x, int y) { return rgb(shown.x + x, top + y); });
    XDestroyImage(image);
    return thumbnail;
}

// Loads a recorded frame; called by the tests that start the demo.
Thumbnail ReferenceFrame(unsigned t) {
    char name[64];
    std::snprintf(name, sizeof name, "/tests/reference/frame-%05u.ppm", t);
    Thumbnail thumbnail;
    ReadThumbnail(std::string(MOVRA_SOURCE_DIR) + name, thumbnail);
    return thumbnail;
}

// Waits for the first picture; called by the binary tests that need the
// loop running.
bool WaitForFirstPicture(Display* display) {
    const auto started = std::chrono::steady_clock::now();
    do {
        bool barsBlack = false;
        if (MeanDifference(ScreenshotThumbnail(display, barsBlack), ReferenceFrame(1500)) < 25.0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    } while (std::chrono::steady_clock::now() - started < std::chrono::seconds(60));
    return false;
}

// Presses Escape; called by the tests that end the real program as a
// person would.
void PressEscape(Display* display) {
    const KeyCode escape = XKeysymToKeycode(display, XK_Escape);
    XTestFakeKeyEvent(display, escape, True, 0);
    XTestFakeKeyEvent(display, escape, False, 0);
    XSync(display, False);
}

// The mean colour of the middle 16 rows of the virtual screen as shown: a
// cheap look, so a wait for a frame sees it within milliseconds. Called by
// WaitForFirstFrame.
static Rgb MiddleBandColour(Display* display) {
    Window root = DefaultRootWindow(display);
    XWindowAttributes size;
    XGetWindowAttributes(display, root, &size);
    ScreenRect shown = FitVirtualScreen(size.width, size.height);
    const int rows = 16, top = size.height - shown.y - shown.height / 2 - rows / 2;
    XImage* image =
        XGetImage(display, root, shown.x, top, unsigned(shown.width), rows, AllPlanes, ZPixmap);
    if (!image)
        return {};
    long sums[3] = {};
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < shown.width; ++x) {
            unsigned long p = XGetPixel(image, x, y);
            sums[0] += long(p >> 16 & 255), sums[1] += long(p >> 8 & 255), sums[2] += long(p & 255);
        }
    XDestroyImage(image);
    const long count = long(rows) * shown.width;
    return {int(sums[0] / count), int(sums[1] / count), int(sums[2] / count)};
}

// Times the demo's start from its first frame; called by the Windows
// release's script test.
std::chrono::steady_clock::time_point WaitForFirstFrame(Display* display, double seconds) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    // The same band of the recorded background: thumbnail rows 29 and 30.
    const Thumbnail background = ReferenceFrame(1500);
    int want[3] = {};
    for (int row : {kThumbHeight / 2 - 1, kThumbHeight / 2})
        for (int x = 0; x < kThumbWidth; ++x)
            for (int c = 0; c < 3; ++c)
                want[c] += background[(size_t(row) * kThumbWidth + x) * 3 + c];
    for (int& channel : want)
        channel /= 2 * kThumbWidth;
    for (;;) {
        const Clock::time_point before = Clock::now();
        // Before it, the window may show anything: black, or what the
        // window system filled it with.
        const Rgb band = MiddleBandColour(display);
        if ((std::abs(band.r - want[0]) < 12 && std::abs(band.g - want[1]) < 12 &&
             std::abs(band.b - want[2]) < 12) ||
            before > deadline)
            return before - std::chrono::seconds(1);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// Checks screenshots through the script; called by the binary's and the
// Windows release's script tests.
void ExpectScreenshotsFollowTheScript(Display* display,
                                      std::chrono::steady_clock::time_point started) {
    using Clock = std::chrono::steady_clock;
    const unsigned pictures[] = {1500, 29500, 35000, 65000, 75000, 85000};
    // Each shot is taken at its time and again until it matches or its
    // section is over, so a busy machine's slow start-up or late frame is
    // waited for. The demo started after `started`, so before `until` by
    // this clock it has not reached the next section.
    struct Shot {
        double seconds;    // after the demo started
        double until;      // the end of the section
        unsigned expected; // the recorded frame it should show; 45000 for the cube
    };
    const Shot shots[] = {{1.8, 29.0, 1500},   {10.0, 29.0, 1500},  {30.7, 32.0, 29500},
                          {36.0, 40.0, 35000}, {50.0, 60.0, 45000}, {65.0, 70.0, 65000},
                          {75.0, 80.0, 75000}, {85.0, 90.0, 85000}, {93.0, 120.0, 85000}};
    for (const Shot& shot : shots) {
        std::this_thread::sleep_until(started + std::chrono::duration<double>(shot.seconds));
        bool barsBlack = false, matches = false;
        Thumbnail screen;
        unsigned nearest = 0;
        double nearestDifference = 1e9, tolerance = 6.0;
        bool nearestFlipped = false;
        size_t middle = (size_t(kThumbHeight / 2) * kThumbWidth + kThumbWidth / 2) * 3;
        while (!matches && Clock::now() - started < std::chrono::duration<double>(shot.until)) {
            screen = ScreenshotThumbnail(display, barsBlack);
            ASSERT_FALSE(screen.empty());
            // The sprites add light over the background from 2 s; before,
            // and elsewhere, the screenshot is the picture itself, up to
            // the scaling's filtering.
            const bool sprites = shot.expected == 1500 &&
                                 Clock::now() - started >= std::chrono::duration<double>(2.0);
            tolerance = sprites ? 25.0 : 6.0;
            // The nearest of the recorded pictures, upright or upside down.
            nearestDifference = 1e9;
            for (unsigned t : pictures)
                for (bool flipped : {false, true}) {
                    Thumbnail reference = ReferenceFrame(t);
                    double difference =
                        MeanDifference(screen, flipped ? FlipThumbnail(reference) : reference);
                    if (difference < nearestDifference)
                        nearest = t, nearestDifference = difference, nearestFlipped = flipped;
                }
            // The spinning cube: no picture, light in the middle.
            matches = barsBlack &&
                      (shot.expected == 45000
                           ? nearestDifference > 20 &&
                                 screen[middle] + screen[middle + 1] + screen[middle + 2] > 60
                           : nearest == shot.expected && !nearestFlipped &&
                                 nearestDifference < tolerance);
            if (!matches)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ASSERT_FALSE(screen.empty()) << "no screenshot before " << shot.until << " s";
        EXPECT_TRUE(barsBlack) << "at " << shot.seconds << " s";
        if (shot.expected == 45000) {
            EXPECT_GT(nearestDifference, 20) << "a picture is showing at " << shot.seconds << " s";
            EXPECT_GT(screen[middle] + screen[middle + 1] + screen[middle + 2], 60);
            continue;
        }
        EXPECT_EQ(nearest, shot.expected) << "at " << shot.seconds << " s";
        EXPECT_FALSE(nearestFlipped) << "upside down at " << shot.seconds << " s";
        EXPECT_LT(nearestDifference, tolerance) << "at " << shot.seconds << " s";
    }
}
