// The web's virtual screen: a framebuffer with a colour texture and a depth
// buffer, drawn into the canvas as one textured quad at present.
#include "platform/screen.h"

#include "platform/webgl.h"

#include <GLES2/gl2.h>
#include <SDL.h>
#include <emscripten/html5.h>

static GLuint s_framebuffer;
static GLuint s_colourTexture;
static GLuint s_depthBuffer;
static GLuint s_copyProgram;            // draws the colour texture over the canvas
static GLuint s_copyCorners;            // the quad it draws
static int s_framesShown;               // frames shown in the canvas by ShowFrameInWindow
static int s_shownWidth, s_shownHeight; // the canvas's size at the last copy

// Texture (s, t) and position (x, y) of the copy's four corners, a strip.
static const float kCopyCorners[16] = {0, 0, -1, -1, 1, 0, 1, -1, 0, 1, -1, 1, 1, 1, 1, 1};

static const char* const kCopyVertexShader = R"(
attribute vec2 position;
attribute vec2 texture;
varying vec2 at;
void main() {
    at = texture;
    gl_Position = vec4(position, 0.0, 1.0);
})";

// Opaque, whatever alpha the scenes left.
static const char* const kCopyFragmentShader = R"(
precision mediump float;
uniform sampler2D screen;
varying vec2 at;
void main() {
    gl_FragColor = vec4(texture2D(screen, at).rgb, 1.0);
})";

// Creates and binds the virtual screen and its copy; called by
// SetupPixelFormat.
bool CreateVirtualScreen() {
    if (!SDL_GL_GetCurrentContext())
        return false;
    glGenTextures(1, &s_colourTexture);
    glBindTexture(GL_TEXTURE_2D, s_colourTexture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, kScreenWidth, kScreenHeight, 0, GL_RGBA,
                 GL_UNSIGNED_BYTE, nullptr);
    // Not a power of two: WebGL 1 samples it only clamped and without mipmaps.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glBindTexture(GL_TEXTURE_2D, 0);
    glGenRenderbuffers(1, &s_depthBuffer);
    glBindRenderbuffer(GL_RENDERBUFFER, s_depthBuffer);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, kScreenWidth, kScreenHeight);
    glGenFramebuffers(1, &s_framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, s_framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, s_colourTexture, 0);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, s_depthBuffer);
    s_copyProgram = CompileProgram(kCopyVertexShader, kCopyFragmentShader);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE || !s_copyProgram) {
        DestroyVirtualScreen();
        return false;
    }
    glGenBuffers(1, &s_copyCorners);
    glBindBuffer(GL_ARRAY_BUFFER, s_copyCorners);
    glBufferData(GL_ARRAY_BUFFER, sizeof kCopyCorners, kCopyCorners, GL_STATIC_DRAW);
    // Black (the initial clear colour) and at the far depth.
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    return true;
}

// Releases the virtual screen and draws to the canvas again; called by
// ShutdownDemo.
void DestroyVirtualScreen() {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &s_framebuffer);
    glDeleteRenderbuffers(1, &s_depthBuffer);
    glDeleteTextures(1, &s_colourTexture);
    glDeleteProgram(s_copyProgram);
    glDeleteBuffers(1, &s_copyCorners);
    s_framebuffer = s_depthBuffer = s_colourTexture = s_copyProgram = s_copyCorners = 0;
}

// The canvas's size in device pixels; called by CopyFrameToWindow and
// ShowFrameAgainIfResized.
static void CanvasSize(int* width, int* height) {
    *width = *height = 0;
    emscripten_get_canvas_element_size("#canvas", width, height);
}

// Draws the virtual screen into the canvas, scaled into the letterbox with
// black bars beside it, and leaves every state the scenes use as it was;
// called by ShowFrameInWindow, ShowFrameAgainIfResized and WarmScenes.
void CopyFrameToWindow() {
    if (!s_framebuffer)
        return;
    int width = 0, height = 0;
    CanvasSize(&width, &height);
    const ScreenRect rect = FitVirtualScreen(width, height);
    const GLboolean blending = glIsEnabled(GL_BLEND), depthTest = glIsEnabled(GL_DEPTH_TEST);
    GLfloat clearColour[4];
    GLint viewport[4], texture = 0;
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clearColour);
    glGetIntegerv(GL_VIEWPORT, viewport);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);

    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDisable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glViewport(0, 0, width, height);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glViewport(rect.x, rect.y, rect.width, rect.height);
    glUseProgram(s_copyProgram);
    glBindBuffer(GL_ARRAY_BUFFER, s_copyCorners);
    glVertexAttribPointer(kTextureAttribute, 2, GL_FLOAT, GL_FALSE, 4 * sizeof(float), nullptr);
    glVertexAttribPointer(kPositionAttribute, 2, GL_FLOAT, GL_FALSE, 4 * sizeof(float),
                          reinterpret_cast<const void*>(2 * sizeof(float)));
    glBindTexture(GL_TEXTURE_2D, s_colourTexture);
    // At a whole scale each virtual pixel becomes a block of identical
    // canvas pixels; otherwise they blend.
    const GLint filter = rect.wholeScale ? GL_NEAREST : GL_LINEAR;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);

    glBindTexture(GL_TEXTURE_2D, GLuint(texture));
    glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
    glClearColor(clearColour[0], clearColour[1], clearColour[2], clearColour[3]);
    if (blending)
        glEnable(GL_BLEND);
    if (depthTest)
        glEnable(GL_DEPTH_TEST);
    glBindFramebuffer(GL_FRAMEBUFFER, s_framebuffer);
    s_shownWidth = width;
    s_shownHeight = height;
}

// Shows the virtual screen in the canvas, which the browser puts on screen
// once the animation frame is over; called by the main loop.
void ShowFrameInWindow() {
    if (!s_framebuffer)
        return;
    CopyFrameToWindow();
    ++s_framesShown;
}

// Shows the last frame again in a resized canvas; called by the browser's
// main loop after a tick that presented nothing.
void ShowFrameAgainIfResized() {
    int width = 0, height = 0;
    CanvasSize(&width, &height);
    if (s_framesShown > 0 && (width != s_shownWidth || height != s_shownHeight))
        CopyFrameToWindow();
}

// Counts the frames shown; called by tests and benchmarks.
int FramesShown() {
    return s_framesShown;
}

// Reads back the virtual screen; the web draws each pixel once. Called by
// tests.
void ReadVirtualScreen(uint8_t* rgba) {
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, kScreenWidth, kScreenHeight, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
}
