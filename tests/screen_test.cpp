// The virtual screen, the present and the projection, on real GL under X.
#define GL_GLEXT_PROTOTYPES
#include "support.h"

#include <gtest/gtest.h>

#include "app/app.h"
#include "platform/renderer.h"
#include "platform/screen.h"

#include <GL/gl.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cmath>

namespace {

TEST(Letterbox, FitsFourThreeIntoEveryWindowShapeAndFindsWholeScales) {
    struct Case {
        int width, height;
        ScreenRect expected;
    };
    const Case cases[] = {
        {640, 480, {0, 0, 640, 480, 1}},       // 4:3, the same size
        {1600, 1200, {0, 0, 1600, 1200, 0}},   // 4:3, larger, 2.5 x
        {1920, 1080, {240, 0, 1440, 1080, 0}}, // 16:9: bars left and right, 2.25 x
        {1280, 1024, {0, 32, 1280, 960, 2}},   // 5:4: bars above and below, 2 x
        {2560, 1440, {320, 0, 1920, 1440, 3}}, // 16:9 at 3 x
        {1281, 961, {0, 0, 1281, 961, 0}},     // just over 2 x
        {400, 300, {0, 0, 400, 300, 0}},       // smaller than 640 x 480
        {500, 300, {50, 0, 400, 300, 0}},      // smaller and wide
        {301, 1000, {0, 387, 301, 226, 0}},    // tall and narrow, rounded
    };
    for (const Case& c : cases) {
        ScreenRect r = FitVirtualScreen(c.width, c.height);
        EXPECT_EQ(r.x, c.expected.x) << c.width << "x" << c.height;
        EXPECT_EQ(r.y, c.expected.y) << c.width << "x" << c.height;
        EXPECT_EQ(r.width, c.expected.width) << c.width << "x" << c.height;
        EXPECT_EQ(r.height, c.expected.height) << c.width << "x" << c.height;
        EXPECT_EQ(r.wholeScale, c.expected.wholeScale) << c.width << "x" << c.height;
    }
}

class VirtualScreen : public testing::Test {
  protected:
    void SetUp() override {
        if (!StartDemoInProcess())
            GTEST_SKIP() << "needs an X display";
    }
    void TearDown() override {
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }
};

TEST_F(VirtualScreen, KeepsColourAndDepthAcrossAPresent) {
    glClearColor(0.2f, 0.4f, 0.6f, 1.0f);
    glClearDepth(0.5);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glClearColor(0, 0, 0, 0);
    glClearDepth(1.0);
    PresentScreen();
    ShowFrameInWindow();
    PresentScreen();
    ShowFrameInWindow();

    std::vector<uint8_t> screen = ReadScreen();
    Rgb centre = PixelAt(screen, 320, 240);
    EXPECT_NEAR(centre.r, 51, 1);
    EXPECT_NEAR(centre.g, 102, 1);
    EXPECT_NEAR(centre.b, 153, 1);
    // The present leaves the scenes' clear colour alone.
    GLfloat clear[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_EQ(clear[0], 0.0f);

    float depth = 0;
    glReadPixels(320, 240, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    EXPECT_NEAR(depth, 0.5, 1e-3);
}

// Reads the pixel at (x, y) of the demo window as the X server shows it.
unsigned long WindowPixel(Display* display, Window window, int x, int y) {
    XImage* image = XGetImage(display, window, x, y, 1, 1, AllPlanes, ZPixmap);
    unsigned long pixel = image ? XGetPixel(image, 0, 0) & 0xFFFFFF : 0xDEAD;
    if (image)
        XDestroyImage(image);
    return pixel;
}

// Presents the virtual screen, shows it in the window and opens the display
// to read the window back; null when the display cannot be opened.
Display* PresentAndOpenDisplay() {
    PresentScreen();
    ShowFrameInWindow();
    Display* display = XOpenDisplay(nullptr);
    if (display)
        XSync(display, False);
    return display;
}

TEST_F(VirtualScreen, PresentShowsItLetterboxedInTheWindow) {
    glClearColor(1, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearColor(0, 0, 0, 0);
    Display* display = PresentAndOpenDisplay();
    ASSERT_NE(display, nullptr);
    Window root = DefaultRootWindow(display);
    XWindowAttributes rootSize;
    XGetWindowAttributes(display, root, &rootSize);
    ScreenRect r = FitVirtualScreen(rootSize.width, rootSize.height);
    // X counts rows from the top; the fit from the bottom.
    int top = rootSize.height - (r.y + r.height);
    EXPECT_EQ(WindowPixel(display, root, r.x + r.width / 2, top + r.height / 2), 0xFF0000ul);
    EXPECT_EQ(WindowPixel(display, root, r.x + 2, top + 2), 0xFF0000ul);
    if (top > 0) {
        EXPECT_EQ(WindowPixel(display, root, rootSize.width / 2, top / 2), 0ul);
    }
    if (r.x > 0) {
        EXPECT_EQ(WindowPixel(display, root, r.x / 2, rootSize.height / 2), 0ul);
    }
    XCloseDisplay(display);
}

// The colour of virtual pixel (x, y), y from the bottom: every pixel differs
// from its neighbours.
uint32_t PatternColour(int x, int y) {
    return uint32_t(x * 5 & 255) << 16 | uint32_t(y * 3 & 255) << 8 | uint32_t((x ^ y) * 11 & 255);
}

TEST_F(VirtualScreen, WholeScaleShowsEachPixelAsAnExactBlock) {
    // Fill the virtual screen with the pattern, with nothing but the pixels
    // themselves reaching it.
    std::vector<uint8_t> rgba(size_t(kScreenWidth) * kScreenHeight * 4);
    for (int y = 0; y < kScreenHeight; ++y)
        for (int x = 0; x < kScreenWidth; ++x) {
            uint32_t c = PatternColour(x, y);
            uint8_t* p = &rgba[(size_t(y) * kScreenWidth + x) * 4];
            p[0] = uint8_t(c >> 16), p[1] = uint8_t(c >> 8), p[2] = uint8_t(c), p[3] = 255;
        }
    glPushAttrib(GL_ENABLE_BIT);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_DEPTH_TEST);
    glWindowPos2i(0, 0);
    glDrawPixels(kScreenWidth, kScreenHeight, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    glPopAttrib();
    ASSERT_TRUE(ReadScreen() == rgba);

    // The 1280 x 1024 display shows it at 2 x: each window pixel is exactly
    // the virtual pixel under it.
    Display* display = PresentAndOpenDisplay();
    ASSERT_NE(display, nullptr);
    Window root = DefaultRootWindow(display);
    ScreenRect r = FitVirtualScreen(1280, 1024);
    ASSERT_EQ(r.wholeScale, 2);
    const int top = 1024 - (r.y + r.height);
    XImage* image = XGetImage(display, root, r.x, top, unsigned(r.width), unsigned(r.height),
                              AllPlanes, ZPixmap);
    ASSERT_NE(image, nullptr);
    int wrong = 0;
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x)
            if ((XGetPixel(image, x, y) & 0xFFFFFF) != PatternColour(x / 2, (r.height - 1 - y) / 2))
                ++wrong;
    EXPECT_EQ(wrong, 0) << "of " << r.width * r.height << " window pixels";
    XDestroyImage(image);
    XCloseDisplay(display);
}

TEST_F(VirtualScreen, HasAtLeastSixteenDepthBits) {
    GLint depthBits = 0;
    glGetIntegerv(GL_DEPTH_BITS, &depthBits);
    EXPECT_GE(depthBits, 16);
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    GLint shade = 0;
    glGetIntegerv(GL_SHADE_MODEL, &shade);
    EXPECT_EQ(shade, GL_SMOOTH);
}

// Reads the current matrix of `which`.
std::vector<double> Matrix(GLenum which) {
    std::vector<double> m(16);
    glGetDoublev(which, m.data());
    return m;
}

TEST_F(VirtualScreen, ProjectionIsTheFortyFiveDegreePerspective) {
    SetProjection(kScreenWidth, kScreenHeight);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 640);
    EXPECT_EQ(viewport[3], 480);
    const double f = 1.0 / std::tan(22.5 * M_PI / 180.0);
    std::vector<double> p = Matrix(GL_PROJECTION_MATRIX);
    EXPECT_NEAR(p[0], f / (640.0 / 480.0), 1e-5);
    EXPECT_NEAR(p[5], f, 1e-5);
    EXPECT_NEAR(p[10], (150.0 + 0.5) / (0.5 - 150.0), 1e-5);
    EXPECT_NEAR(p[14], 2 * 150.0 * 0.5 / (0.5 - 150.0), 1e-5);
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
}

TEST_F(VirtualScreen, ZeroHeightCountsAsOne) {
    SetProjection(640, 0);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 640);
    EXPECT_EQ(viewport[3], 1);
    const double f = 1.0 / std::tan(22.5 * M_PI / 180.0);
    std::vector<double> p = Matrix(GL_PROJECTION_MATRIX);
    EXPECT_TRUE(std::isfinite(p[0]));
    EXPECT_NEAR(p[0], f / 640.0, 1e-7); // the aspect ratio is the width
    SetProjection(kScreenWidth, kScreenHeight);
}

} // namespace
