// The spinning cube that pulses with the bass.
#include "platform/screen.h"
#include "platform/ticks.h"
#include "assets/textures.h"
#include "audio/audio.h"
#include "demo/scenes.h"

#include <GL/gl.h>
#include <cmath>

// One corner of the cube: texture (s, t), then position (x, y, z).
struct CubeVertex {
    float s, t, x, y, z;
};

// The cube of edge 2, six faces of four corners: front, back, top, bottom,
// right, left.
static const CubeVertex kCube[24] = {
    {0, 0, -1, -1, 1},  {1, 0, 1, -1, 1},  {1, 1, 1, 1, 1},  {0, 1, -1, 1, 1},
    {1, 0, -1, -1, -1}, {1, 1, -1, 1, -1}, {0, 1, 1, 1, -1}, {0, 0, 1, -1, -1},
    {0, 1, -1, 1, -1},  {0, 0, -1, 1, 1},  {1, 0, 1, 1, 1},  {1, 1, 1, 1, -1},
    {1, 1, -1, -1, -1}, {0, 1, 1, -1, -1}, {0, 0, 1, -1, 1}, {1, 0, -1, -1, 1},
    {1, 0, 1, -1, -1},  {1, 1, 1, 1, -1},  {0, 1, 1, 1, 1},  {0, 0, 1, -1, 1},
    {0, 0, -1, -1, -1}, {1, 0, -1, -1, 1}, {1, 1, -1, 1, 1}, {0, 1, -1, 1, -1},
};

// Reads the tick count as an angle in degrees at `degreesPerTick`, reduced
// to one turn in double precision before it is narrowed to single, so the
// spin stays as fine after weeks of uptime as after a minute; called by
// DrawSpectrumCube.
static float SpinAngle(double degreesPerTick) {
    return float(std::fmod(double(ReadTickCount()) * degreesPerTick, 360.0));
}

// Clears the frame and draws the cube turned by the three angles (degrees
// about x, then y, then z); called by DrawSpectrumCube and WarmScenes.
void DrawCube(float angleX, float angleY, float angleZ) {
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE);
    glDisable(GL_DEPTH_TEST);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    glDisable(GL_LIGHTING);
    glColor4f(1, 1, 1, 1);
    glTranslatef(0, 0, -5);
    glRotatef(angleX, 1, 0, 0);
    glRotatef(angleY, 0, 1, 0);
    glRotatef(angleZ, 0, 0, 1);
    glBindTexture(GL_TEXTURE_2D, g_textures[3]);
    const float scale = float(g_spectrum[0] * 20.0 + 1.0);
    glScalef(scale, scale, scale);
    glBegin(GL_QUADS);
    for (const CubeVertex& v : kCube) {
        glTexCoord2f(v.s, v.t);
        glVertex3f(v.x, v.y, v.z);
    }
    glEnd();
}

// Draws the cube and presents; called by TickDemo.
void DrawSpectrumCube() {
    // Each axis reads the tick count anew, in axis order, so the spin follows
    // the machine's uptime rather than the demo time.
    const float angleX = SpinAngle(0.08);
    const float angleY = SpinAngle(0.03);
    const float angleZ = SpinAngle(0.06);
    DrawCube(angleX, angleY, angleZ);
    PresentScreen();
}
