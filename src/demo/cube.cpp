// The spinning cube that pulses with the bass.
#include "platform/drawing.h"
#include "platform/screen.h"
#include "platform/ticks.h"
#include "assets/textures.h"
#include "audio/audio.h"
#include "demo/scenes.h"

#include <cmath>

// The cube of edge 2, six faces of four corners: front, back, top, bottom,
// right, left.
static const QuadVertex kCube[24] = {
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
    SetDrawSwitch(DrawSwitch::kBlending, true);
    UseAdditiveBlending();
    SetDrawSwitch(DrawSwitch::kDepthTest, false);
    ClearFrame();
    ResetTransform();
    SetDrawSwitch(DrawSwitch::kLighting, false);
    SetDrawColour(1, 1, 1, 1);
    Translate(0, 0, -5);
    Rotate(angleX, 1, 0, 0);
    Rotate(angleY, 0, 1, 0);
    Rotate(angleZ, 0, 0, 1);
    BindPicture(g_textures[3]);
    Scale(float(g_spectrum[0] * 20.0 + 1.0));
    DrawQuads(kCube, 24);
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
