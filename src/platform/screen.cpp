// The desktop's virtual screen: a framebuffer object, copied to the window
// by a blit, and averaged down by blits when each pixel is drawn as several.
#include "platform/screen.h"

#include "platform/window.h"

#include <SDL.h>
#include <SDL_opengl.h>
#include <algorithm>
#include <cstdio>

// Framebuffer-object entry points, fetched from the GL once the context exists.
static PFNGLGENFRAMEBUFFERSPROC s_genFramebuffers;
static PFNGLDELETEFRAMEBUFFERSPROC s_deleteFramebuffers;
static PFNGLBINDFRAMEBUFFERPROC s_bindFramebuffer;
static PFNGLFRAMEBUFFERRENDERBUFFERPROC s_framebufferRenderbuffer;
static PFNGLCHECKFRAMEBUFFERSTATUSPROC s_checkFramebufferStatus;
static PFNGLGENRENDERBUFFERSPROC s_genRenderbuffers;
static PFNGLDELETERENDERBUFFERSPROC s_deleteRenderbuffers;
static PFNGLBINDRENDERBUFFERPROC s_bindRenderbuffer;
static PFNGLRENDERBUFFERSTORAGEPROC s_renderbufferStorage;
static PFNGLBLITFRAMEBUFFERPROC s_blitFramebuffer;

static GLuint s_framebuffer;
static GLuint s_colourBuffer;
static GLuint s_depthBuffer;
static int s_framesShown; // swaps made by ShowFrameInWindow

// Where samples are averaged: step k holds the drawn pixels halved k + 1
// times, the last step is g_screenPixels. None when each pixel is drawn once.
constexpr int kMostHalvings = 2; // 4 x 4 samples
static GLuint s_halfFramebuffers[kMostHalvings];
static GLuint s_halfColourBuffers[kMostHalvings];
static int s_halvings;

// Tells which names the GL offers framebuffer objects under: the core names
// ("") from GL 3.0 or with GL_ARB_framebuffer_object, the "EXT" names with
// GL_EXT_framebuffer_object and GL_EXT_framebuffer_blit, else none (null).
// Asking for the functions alone proves nothing: GLX hands out an address for
// any name. Called by LoadFramebufferFunctions.
static const char* FramebufferNameSuffix() {
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    int major = 0, minor = 0;
    if ((version && std::sscanf(version, "%d.%d", &major, &minor) == 2 && major >= 3) ||
        SDL_GL_ExtensionSupported("GL_ARB_framebuffer_object"))
        return "";
    if (SDL_GL_ExtensionSupported("GL_EXT_framebuffer_object") &&
        SDL_GL_ExtensionSupported("GL_EXT_framebuffer_blit"))
        return "EXT";
    return nullptr;
}

// Fetches one GL entry point, `name` with `suffix`, into `slot`; called by
// LoadFramebufferFunctions.
template <typename Function>
static bool LoadFunction(Function& slot, const char* name, const char* suffix) {
    char fullName[64];
    std::snprintf(fullName, sizeof fullName, "%s%s", name, suffix);
    slot = reinterpret_cast<Function>(SDL_GL_GetProcAddress(fullName));
    return slot != nullptr;
}

// Fetches the framebuffer-object entry points if the GL has them; called by
// CreateVirtualScreen.
static bool LoadFramebufferFunctions() {
    const char* suffix = FramebufferNameSuffix();
    return suffix && LoadFunction(s_genFramebuffers, "glGenFramebuffers", suffix) &&
           LoadFunction(s_deleteFramebuffers, "glDeleteFramebuffers", suffix) &&
           LoadFunction(s_bindFramebuffer, "glBindFramebuffer", suffix) &&
           LoadFunction(s_framebufferRenderbuffer, "glFramebufferRenderbuffer", suffix) &&
           LoadFunction(s_checkFramebufferStatus, "glCheckFramebufferStatus", suffix) &&
           LoadFunction(s_genRenderbuffers, "glGenRenderbuffers", suffix) &&
           LoadFunction(s_deleteRenderbuffers, "glDeleteRenderbuffers", suffix) &&
           LoadFunction(s_bindRenderbuffer, "glBindRenderbuffer", suffix) &&
           LoadFunction(s_renderbufferStorage, "glRenderbufferStorage", suffix) &&
           LoadFunction(s_blitFramebuffer, "glBlitFramebuffer", suffix);
}

// Gives the virtual screen a depth buffer of `format` and checks that the
// framebuffer is complete; called by CreateVirtualScreen.
static bool AttachDepthBuffer(GLenum format) {
    s_bindRenderbuffer(GL_RENDERBUFFER, s_depthBuffer);
    s_renderbufferStorage(GL_RENDERBUFFER, format, DrawnScreenWidth(), DrawnScreenHeight());
    s_framebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, s_depthBuffer);
    return s_checkFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
}

// Makes an RGBA colour renderbuffer of width x height and attaches it to
// the bound framebuffer; returns its name. Called by CreateVirtualScreen
// and CreateHalvings.
static GLuint AttachColourBuffer(int width, int height) {
    GLuint colour = 0;
    s_genRenderbuffers(1, &colour);
    s_bindRenderbuffer(GL_RENDERBUFFER, colour);
    s_renderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    s_framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour);
    return colour;
}

// Makes the framebuffers the samples are averaged down through, one for
// each halving; false when one is not complete. Called by
// CreateVirtualScreen.
static bool CreateHalvings() {
    s_halvings = 0;
    for (int samples = g_screenPixels.samples; samples > 1; samples /= 2) {
        const int k = s_halvings++;
        s_genFramebuffers(1, &s_halfFramebuffers[k]);
        s_bindFramebuffer(GL_FRAMEBUFFER, s_halfFramebuffers[k]);
        s_halfColourBuffers[k] = AttachColourBuffer(g_screenPixels.width * samples / 2,
                                                    g_screenPixels.height * samples / 2);
        if (s_checkFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
            return false;
    }
    return true;
}

// Creates and binds the virtual screen, or says why not through
// SDL_SetError; called by SetupPixelFormat.
bool CreateVirtualScreen() {
    if (!SDL_GL_GetCurrentContext())
        return false; // SDL's error says why there is no context
    if (!LoadFramebufferFunctions()) {
        SDL_SetError("the GL (%s) has no framebuffer objects",
                     reinterpret_cast<const char*>(glGetString(GL_VERSION)));
        return false;
    }
    if (!CreateHalvings()) {
        DestroyVirtualScreen();
        SDL_SetError("the GL makes no complete %d x %d framebuffer to average samples in",
                     g_screenPixels.width, g_screenPixels.height);
        return false;
    }
    s_genFramebuffers(1, &s_framebuffer);
    s_bindFramebuffer(GL_FRAMEBUFFER, s_framebuffer);
    s_colourBuffer = AttachColourBuffer(DrawnScreenWidth(), DrawnScreenHeight());
    s_genRenderbuffers(1, &s_depthBuffer);
    if (AttachDepthBuffer(GL_DEPTH_COMPONENT24) || AttachDepthBuffer(GL_DEPTH_COMPONENT16)) {
        // New renderbuffers hold whatever the driver left there: start black
        // (the initial clear colour) and at the far depth.
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        return true;
    }
    DestroyVirtualScreen();
    SDL_SetError("the GL makes no complete %d x %d framebuffer with a depth buffer",
                 DrawnScreenWidth(), DrawnScreenHeight());
    return false;
}

// Releases the virtual screen and draws to the window again; called by
// ShutdownDemo.
void DestroyVirtualScreen() {
    if (!s_framebuffer && !s_halvings)
        return;
    s_bindFramebuffer(GL_FRAMEBUFFER, 0);
    // Deleting name 0 does nothing, so a half-made screen goes the same way.
    s_deleteRenderbuffers(1, &s_depthBuffer);
    s_deleteRenderbuffers(1, &s_colourBuffer);
    s_deleteFramebuffers(1, &s_framebuffer);
    s_deleteRenderbuffers(s_halvings, s_halfColourBuffers);
    s_deleteFramebuffers(s_halvings, s_halfFramebuffers);
    s_framebuffer = s_colourBuffer = s_depthBuffer = 0;
    for (int k = 0; k < kMostHalvings; ++k)
        s_halfFramebuffers[k] = s_halfColourBuffers[k] = 0;
    s_halvings = 0;
}

// Clears one of the black bars beside the virtual screen in the window, if
// it has any area; called by CopyFrameToWindow with the scissor test on.
static void ClearBar(int x, int y, int width, int height) {
    if (width <= 0 || height <= 0)
        return;
    glScissor(x, y, width, height);
    glClear(GL_COLOR_BUFFER_BIT);
}

// Copies the virtual screen into the window's back buffer; called by
// ShowFrameInWindow and WarmScenes.
void CopyFrameToWindow() {
    if (!s_framebuffer)
        return;
    int windowWidth = 0, windowHeight = 0;
    SDL_GL_GetDrawableSize(g_window, &windowWidth, &windowHeight);
    ScreenRect rect = FitVirtualScreen(windowWidth, windowHeight);

    // The window's framebuffer is bound before the scenes' clear colour,
    // colour mask and scissor are saved and after they are restored, so the
    // restore never touches the virtual screen's draw buffer.
    s_bindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glPushAttrib(GL_COLOR_BUFFER_BIT | GL_SCISSOR_BIT);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glClearColor(0, 0, 0, 1);
    glEnable(GL_SCISSOR_TEST);
    ClearBar(0, 0, windowWidth, rect.y);
    ClearBar(0, rect.y + rect.height, windowWidth, windowHeight - rect.y - rect.height);
    ClearBar(0, rect.y, rect.x, rect.height);
    ClearBar(rect.x + rect.width, rect.y, windowWidth - rect.x - rect.width, rect.height);
    glDisable(GL_SCISSOR_TEST);
    // At a whole scale each virtual pixel becomes a block of identical
    // window pixels: sharper than blending, and cheaper.
    s_blitFramebuffer(0, 0, DrawnScreenWidth(), DrawnScreenHeight(), rect.x, rect.y,
                      rect.x + rect.width, rect.y + rect.height, GL_COLOR_BUFFER_BIT,
                      rect.wholeScale ? GL_NEAREST : GL_LINEAR);
    glPopAttrib();
    s_bindFramebuffer(GL_DRAW_FRAMEBUFFER, s_framebuffer);
}

// Shows the virtual screen in the window; called by the main loop.
void ShowFrameInWindow() {
    if (!s_framebuffer)
        return;
    CopyFrameToWindow();
    SDL_GL_SwapWindow(g_window);
    ++s_framesShown;
}

// Counts the frames shown; called by tests and benchmarks.
int FramesShown() {
    return s_framesShown;
}

// Reads back the virtual screen, averaging its samples first: each linear
// blit to exactly half the size samples every pixel of the smaller one
// midway between four drawn pixels, so it is their mean. Called by offline
// rendering, tests and benchmarks.
void ReadVirtualScreen(uint8_t* rgba) {
    GLuint from = s_framebuffer;
    int width = DrawnScreenWidth(), height = DrawnScreenHeight();
    for (int k = 0; k < s_halvings; ++k, width /= 2, height /= 2) {
        s_bindFramebuffer(GL_READ_FRAMEBUFFER, from);
        s_bindFramebuffer(GL_DRAW_FRAMEBUFFER, s_halfFramebuffers[k]);
        s_blitFramebuffer(0, 0, width, height, 0, 0, width / 2, height / 2, GL_COLOR_BUFFER_BIT,
                          GL_LINEAR);
        from = s_halfFramebuffers[k];
    }
    if (s_halvings)
        s_bindFramebuffer(GL_READ_FRAMEBUFFER, from);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, g_screenPixels.width, g_screenPixels.height, GL_RGBA, GL_UNSIGNED_BYTE,
                 rgba);
    if (s_halvings)
        s_bindFramebuffer(GL_FRAMEBUFFER, s_framebuffer);
}

// Asks a context of its own on `window` for the GL's largest renderbuffer
// and viewport; called by the capture before start-up.
int LargestScreenSide(SDL_Window* window) {
    SDL_GLContext context = SDL_GL_CreateContext(window);
    if (!context)
        return 0;
    GLint renderbuffer = 0, viewport[2] = {};
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &renderbuffer);
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, viewport);
    SDL_GL_MakeCurrent(window, nullptr);
    SDL_GL_DeleteContext(context);
    return std::min({int(renderbuffer), int(viewport[0]), int(viewport[1])});
}
