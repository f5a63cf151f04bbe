// Warming the drawing paths before the first tick.
#include "demo/scenes.h"

#include "platform/screen.h"

#include <GL/gl.h>

// Draws each scene's path once and clears; called by InitDemo.
void WarmScenes() {
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    // An opening tick, then a cube tick, as the script runs them.
    glDisable(GL_DEPTH_TEST);
    DrawPicture(0);
    DrawShip(0);
    glDisable(GL_BLEND);
    DrawLightning(0);
    glEnable(GL_DEPTH_TEST);
    DrawCube(0, 0, 0);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    // The copy to the window prepares code of its own: copy the black screen
    // into the window's back buffer, which nobody sees until a swap.
    CopyFrameToWindow();
    // The GL prepares its code as the drawing runs; wait until it has.
    glFinish();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glPopAttrib();
}
