// The real binary on its own X display: one full-screen window, and every
// way of ending it gives status 0.
#include "files.h"
#include "screenshots.h"
#include "support.h"

#include "platform/screen.h"

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <signal.h>
#include <thread>

namespace {

class DemoBinary : public testing::Test {
  protected:
    void SetUp() override {
        displayName = StartPrivateDisplay(1280, 1024);
        ASSERT_FALSE(displayName.empty()) << "Xvfb did not start";
        display = OpenScreenshotDisplay(displayName.c_str());
        ASSERT_NE(display, nullptr);
    }
    void TearDown() override {
        if (display)
            XCloseDisplay(display);
        StopPrivateDisplay();
    }
    // Starts the demo on this test's display, with extra environment
    // entries, from the repository root or `workDir`, and waits for its
    // window; errors go to stderr alone unless `dialogs`.
    DemoProcess StartDemo(std::vector<std::string> environment = {},
                          const std::string& workDir = MOVRA_SOURCE_DIR, bool dialogs = false) {
        environment.insert(environment.end(), {"DISPLAY=" + displayName, "SDL_AUDIODRIVER=dummy"});
        environment.push_back(dialogs ? "MOVRA_NO_DIALOGS" : "MOVRA_NO_DIALOGS=1");
        DemoProcess demo = StartDemoBinary(environment, workDir);
        window = WaitForDemoWindow(display);
        return demo;
    }
    std::string displayName;
    Display* display = nullptr;
    Window window = 0;
};

TEST_F(DemoBinary, OneWindowCoversTheWholeScreen) {
    DemoProcess demo = StartDemo();
    ASSERT_NE(window, 0u);
    EXPECT_EQ(FindDemoWindows(display).size(), 1u);
    XWindowAttributes attributes;
    XGetWindowAttributes(display, window, &attributes);
    EXPECT_EQ(attributes.x, 0);
    EXPECT_EQ(attributes.y, 0);
    EXPECT_EQ(attributes.width, 1280);
    EXPECT_EQ(attributes.height, 1024);
    kill(demo.pid, SIGTERM);
    EXPECT_EQ(WaitForDemo(demo, 20).status, 0);
}

TEST_F(DemoBinary, EscapeEndsItWithStatusZero) {
    DemoProcess demo = StartDemo();
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(WaitForFirstPicture(display));
    KeyCode escape = XKeysymToKeycode(display, XK_Escape);
    KeyCode other = XKeysymToKeycode(display, XK_space);
    // Any other key is swallowed.
    XTestFakeKeyEvent(display, other, True, 0);
    XTestFakeKeyEvent(display, other, False, 0);
    XSync(display, False);
    EXPECT_EQ(WaitForDemo(demo, 1).status, -1) << "a key other than Escape ended the demo";

    demo = StartDemo();
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(WaitForFirstPicture(display));
    XTestFakeKeyEvent(display, escape, True, 0);
    XTestFakeKeyEvent(display, escape, False, 0);
    XSync(display, False);
    ChildResult result = WaitForDemo(demo, 20);
    EXPECT_EQ(result.status, 0) << result.errors;
}

TEST_F(DemoBinary, CloseRequestEndsItWithStatusZero) {
    DemoProcess demo = StartDemo();
    ASSERT_NE(window, 0u);
    XEvent close = {};
    close.xclient.type = ClientMessage;
    close.xclient.window = window;
    close.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    close.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &close);
    XSync(display, False);
    ChildResult result = WaitForDemo(demo, 20);
    EXPECT_EQ(result.status, 0) << result.errors;
}

TEST_F(DemoBinary, InterruptAndTerminateEndItWithStatusZero) {
    for (int signal : {SIGINT, SIGTERM}) {
        DemoProcess demo = StartDemo();
        ASSERT_NE(window, 0u);
        kill(demo.pid, signal);
        ChildResult result = WaitForDemo(demo, 20);
        EXPECT_EQ(result.status, 0) << "signal " << signal << ": " << result.errors;
    }
}

TEST(DemoBinaryErrors, TooSmallADisplayEndsWithoutWaitingOnADialog) {
    std::string displayName = StartPrivateDisplay(320, 240);
    ASSERT_FALSE(displayName.empty());
    DemoProcess demo =
        StartDemoBinary({"DISPLAY=" + displayName, "MOVRA_NO_DIALOGS=1", "SDL_AUDIODRIVER=dummy"});
    ChildResult result = WaitForDemo(demo, 30);
    StopPrivateDisplay();
    EXPECT_EQ(result.status, 1) << result.errors;
    EXPECT_NE(result.errors.find("Error: Display Mode Not Compatible"), std::string::npos)
        << result.errors;
}

TEST(DemoBinaryErrors, NoWindowSystemGivesStatusOne) {
    DemoProcess demo = StartDemoBinary({"DISPLAY=:9999", "MOVRA_NO_DIALOGS=1"});
    ChildResult result = WaitForDemo(demo, 30);
    EXPECT_EQ(result.status, 1) << result.errors;
    EXPECT_NE(result.errors.find("Error: No display to show the demo on"), std::string::npos)
        << result.errors;
}

// Started from a folder without data/, the demo finds the repository's
// beside the folder it lies in (build/).
TEST_F(DemoBinary, FindsItsDataFromAnyWorkingDirectory) {
    const std::string elsewhere = MakeTemporaryFolder();
    DemoProcess demo = StartDemo({}, elsewhere);
    ASSERT_NE(window, 0u);
    EXPECT_TRUE(WaitForFirstPicture(display));
    kill(demo.pid, SIGTERM);
    ChildResult result = WaitForDemo(demo, 20);
    EXPECT_EQ(result.status, 0) << result.errors;
    RemoveFolder(elsewhere);
}

// A damaged picture's message comes up in a box owned by the full-screen
// window, so in front of it; once dismissed, the demo ends with status 1.
TEST_F(DemoBinary, DamagedPictureShowsItsErrorInABoxOwnedByTheDemoWindow) {
    const std::string folder = MakeTemporaryFolder();
    std::filesystem::copy(std::string(MOVRA_SOURCE_DIR) + "/data", folder + "/data",
                          std::filesystem::copy_options::recursive);
    WriteFileBytes(folder + "/data/pic/lyn.jpg", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0});
    DemoProcess demo = StartDemo({}, folder, true);
    ASSERT_NE(window, 0u);
    Window box = 0;
    for (int tries = 0; tries < 300 && !box; ++tries) {
        for (Window candidate : FindWindowsTitled(display, "Error"))
            box = candidate;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_NE(box, 0u) << "no error box";
    Window owner = 0;
    EXPECT_TRUE(XGetTransientForHint(display, box, &owner));
    EXPECT_EQ(owner, window);
    // Return presses its button.
    XSetInputFocus(display, box, RevertToParent, CurrentTime);
    const KeyCode enter = XKeysymToKeycode(display, XK_Return);
    XTestFakeKeyEvent(display, enter, True, 0);
    XTestFakeKeyEvent(display, enter, False, 0);
    XSync(display, False);
    ChildResult result = WaitForDemo(demo, 20);
    EXPECT_EQ(result.status, 1) << result.errors;
    EXPECT_EQ(result.errors, "Error: Not a JPEG file: starts with 0x47 0x49: data/pic/lyn.jpg\n");
    RemoveFolder(folder);
}

// Mesa made to report GL 2.1: without any framebuffer-object extension the
// virtual screen can't be had, although GLX gives an address for every
// function name; with the EXT extensions alone the demo runs on them.
TEST_F(DemoBinary, VirtualScreenNeedsTheGlToOfferFramebufferObjects) {
    DemoProcess demo = StartDemo({"MESA_GL_VERSION_OVERRIDE=2.1", "MESA_EXTENSION_MAX_YEAR=1999"});
    ChildResult result = WaitForDemo(demo, 30);
    EXPECT_EQ(result.status, 1) << result.errors;
    EXPECT_NE(result.errors.find("Error: SetPixelFormat failed: the GL (2.1"), std::string::npos)
        << result.errors;

    demo = StartDemo(
        {"MESA_GL_VERSION_OVERRIDE=2.1", "MESA_EXTENSION_OVERRIDE=-GL_ARB_framebuffer_object"});
    ASSERT_NE(window, 0u);
    // The background picture shows from 1 s to 29 s (a black screen would
    // be 60 away); a slow start-up may take a while to reach it.
    EXPECT_TRUE(WaitForFirstPicture(display));
    kill(demo.pid, SIGTERM);
    result = WaitForDemo(demo, 20);
    EXPECT_EQ(result.status, 0) << result.errors;
}

// Screenshots through a whole run: each section shows its scripted picture,
// upright, in a 4:3 letterbox with black bars. Takes the script's 90 s.
TEST_F(DemoBinary, ScreenshotsFollowTheScript) {
#ifdef MOVRA_SANITIZED
    GTEST_SKIP() << "the whole script in real time; the checked build runs it too slowly to "
                    "meet its screenshots' times";
#endif
    auto started = std::chrono::steady_clock::now();
    DemoProcess demo = StartDemo();
    ASSERT_NE(window, 0u);
    ExpectScreenshotsFollowTheScript(display, started);
    kill(demo.pid, SIGINT);
    ChildResult result = WaitForDemo(demo, 20);
    EXPECT_EQ(result.status, 0) << result.errors;
}

} // namespace
