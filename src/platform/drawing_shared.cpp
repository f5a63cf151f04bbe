// The drawing steps that are the same call in OpenGL 1.1 and in WebGL 1, for
// both drawing paths.
#include "platform/drawing.h"

#include <SDL_opengl.h>

// Blends one to one; called by the sprite and cube scenes.
void UseAdditiveBlending() {
    glBlendFunc(GL_ONE, GL_ONE);
}

// Clears colour and depth; called by the scenes.
void ClearFrame() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

// Sets the clear colour; called by the picture scene and the warm-up.
void SetClearColour(float red, float green, float blue, float alpha) {
    glClearColor(red, green, blue, alpha);
}

// Binds a picture texture; called by the scenes.
void BindPicture(uint32_t texture) {
    glBindTexture(GL_TEXTURE_2D, texture);
}

// Sets the viewport; called by SetProjection.
void SetViewport(int width, int height) {
    glViewport(0, 0, width, height);
}

// Asks the GL for its largest texture; called by LoadTexture.
int MaxTextureSide() {
    GLint side = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &side);
    return side;
}
