// The two additive sprites of the opening section.
#include "platform/drawing.h"
#include "platform/screen.h"
#include "assets/textures.h"
#include "demo/scenes.h"
#include "demo/timeline.h"

#include <cmath>

// The unit square both sprites use, texture row 0 at its lower edge.
static const QuadVertex kSpriteQuad[4] = {
    {0, 0, -1, -1, 1},
    {1, 0, 1, -1, 1},
    {1, 1, 1, 1, 1},
    {0, 1, -1, 1, 1},
};

// Draws the drifting ship at sprite time t; called by DrawDriftingSprite and
// WarmScenes.
void DrawShip(int32_t t) {
    SetDrawSwitch(DrawSwitch::kLighting, false);
    SetDrawSwitch(DrawSwitch::kBlending, true);
    UseAdditiveBlending();
    PushTransform();
    Translate(float(t * 0.0002 - 1.5), -0.93f, -7.0f);
    const float phase = float(t * 0.0015);
    Rotate(float(5.0 * std::sin(double(phase))), 0, 0, 1);
    BindPicture(g_textures[1]);
    DrawQuads(kSpriteQuad, 4);
    PopTransform();
}

// Draws the drifting ship and presents; called by TickDemo.
void DrawDriftingSprite() {
    DrawShip(g_demoTime);
    PresentScreen();
    SetDrawSwitch(DrawSwitch::kBlending, false);
}

// Draws the lightning in its colour at sprite time t; called by
// DrawColourCycleSprite and WarmScenes.
void DrawLightning(int32_t t) {
    SetDrawSwitch(DrawSwitch::kLighting, false);
    SetDrawSwitch(DrawSwitch::kBlending, true);
    SetDrawColour(float(std::sin(0.1 * t)), float(std::sin(0.11 * t)), float(std::sin(0.12 * t)),
                  1);
    UseAdditiveBlending();
    PushTransform();
    Translate(-2.2f, 1.0f, -7.0f);
    BindPicture(g_textures[2]);
    DrawQuads(kSpriteQuad, 4);
    PopTransform();
}

// Draws the colour-cycling lightning and presents; called by TickDemo.
void DrawColourCycleSprite() {
    DrawLightning(g_demoTime);
    PresentScreen();
    // Blending stays on; the next picture scene switches it off.
}
