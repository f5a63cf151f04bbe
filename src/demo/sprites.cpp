// The two additive sprites of the opening section.
#include "platform/screen.h"
#include "assets/textures.h"
#include "demo/scenes.h"
#include "demo/timeline.h"

#include <GL/gl.h>
#include <cmath>

// Draws the unit square both sprites use, texture row 0 at its lower edge;
// called by the sprite scenes.
static void DrawSpriteQuad() {
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex3f(-1, -1, 1);
    glTexCoord2f(1, 0);
    glVertex3f(1, -1, 1);
    glTexCoord2f(1, 1);
    glVertex3f(1, 1, 1);
    glTexCoord2f(0, 1);
    glVertex3f(-1, 1, 1);
    glEnd();
}

// Draws the drifting ship at sprite time t; called by DrawDriftingSprite and
// WarmScenes.
void DrawShip(int32_t t) {
    glDisable(GL_LIGHTING);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE);
    glPushMatrix();
    glTranslatef(float(t * 0.0002 - 1.5), -0.93f, -7.0f);
    const float phase = float(t * 0.0015);
    glRotatef(float(5.0 * std::sin(double(phase))), 0, 0, 1);
    glBindTexture(GL_TEXTURE_2D, g_textures[1]);
    DrawSpriteQuad();
    glPopMatrix();
}

// Draws the drifting ship and presents; called by TickDemo.
void DrawDriftingSprite() {
    DrawShip(g_demoTime);
    PresentScreen();
    glDisable(GL_BLEND);
}

// Draws the lightning in its colour at sprite time t; called by
// DrawColourCycleSprite and WarmScenes.
void DrawLightning(int32_t t) {
    glDisable(GL_LIGHTING);
    glEnable(GL_BLEND);
    glColor4f(float(std::sin(0.1 * t)), float(std::sin(0.11 * t)), float(std::sin(0.12 * t)), 1);
    glBlendFunc(GL_ONE, GL_ONE);
    glPushMatrix();
    glTranslatef(-2.2f, 1.0f, -7.0f);
    glBindTexture(GL_TEXTURE_2D, g_textures[2]);
    DrawSpriteQuad();
    glPopMatrix();
}

// Draws the colour-cycling lightning and presents; called by TickDemo.
void DrawColourCycleSprite() {
    DrawLightning(g_demoTime);
    PresentScreen();
    // Blending stays on; the next picture scene switches it off.
}
