// Full-screen picture scenes.
#include "platform/screen.h"
#include "assets/textures.h"
#include "demo/scenes.h"

#include <GL/gl.h>

// Enters screen space; called by DrawPictureScene.
void BeginScreenSpace() {
    glPushMatrix();
    glDisable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_GEN_S);
    glDisable(GL_TEXTURE_GEN_T);
    glLoadIdentity();
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, kScreenWidth, 0, kScreenHeight, -1, 1);
    glMatrixMode(GL_MODELVIEW);
}

// Leaves screen space; called by DrawPictureScene.
void EndScreenSpace() {
    glEnable(GL_LIGHTING);
    glEnable(GL_DEPTH_TEST);
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
}

// Clears the frame and draws one full-screen picture; called by
// DrawPictureScene and WarmScenes.
void DrawPicture(int slot) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glClearColor(0, 0, 0, 0); // takes effect from the next clear on
    BeginScreenSpace();
    glEnable(GL_TEXTURE_2D);
    glColor4f(1, 1, 1, 1);
    glBindTexture(GL_TEXTURE_2D, g_textures[slot]);
    // The picture's top row (t = 0) goes to the top of the screen.
    glBegin(GL_QUADS);
    glTexCoord2f(0, 1);
    glVertex3f(0, 0, 0);
    glTexCoord2f(1, 1);
    glVertex3f(kScreenWidth, 0, 0);
    glTexCoord2f(1, 0);
    glVertex3f(kScreenWidth, kScreenHeight, 0);
    glTexCoord2f(0, 0);
    glVertex3f(0, kScreenHeight, 0);
    glEnd();
    EndScreenSpace();
}

// Draws one full-screen picture and presents it; called by TickDemo.
void DrawPictureScene(int slot) {
    DrawPicture(slot);
    PresentScreen();
}
