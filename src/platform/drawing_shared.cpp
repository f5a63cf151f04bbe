// The drawing steps that are the same call in OpenGL 1.1 and in WebGL 1, for
// both drawing paths; each notes itself first in offline rendering's record.
#include "platform/drawing.h"

#include "platform/drawing_record.h"

#include <SDL_opengl.h>

// Blends one to one; called by the sprite and cube scenes.
void UseAdditiveBlending() {
    if (NoteDrawingStep(DrawingStep::kAdditiveBlending))
        return;
    glBlendFunc(GL_ONE, GL_ONE);
}

// Clears colour and depth; called by the scenes.
void ClearFrame() {
    if (NoteDrawingStep(DrawingStep::kClear))
        return;
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

// Sets the clear colour; called by the picture scene and the warm-up.
void SetClearColour(float red, float green, float blue, float alpha) {
    if (NoteDrawingStep(DrawingStep::kClearColour, {red, green, blue, alpha}))
        return;
    glClearColor(red, green, blue, alpha);
}

// Binds a picture texture; called by the scenes.
void BindPicture(uint32_t texture) {
    if (NoteDrawingStep(DrawingStep::kPicture, {double(texture)}))
        return;
    glBindTexture(GL_TEXTURE_2D, texture);
}

// Sets the viewport; called by SetProjection.
void SetViewport(int width, int height) {
    if (NoteDrawingStep(DrawingStep::kViewport, {double(width), double(height)}))
        return;
    glViewport(0, 0, width, height);
}

// Asks the GL for its largest texture; called by LoadTexture.
int MaxTextureSide() {
    GLint side = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &side);
    return side;
}
