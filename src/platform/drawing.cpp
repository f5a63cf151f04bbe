// The desktop's drawing path: each step is the OpenGL 1.1 call it names,
// immediate mode and fixed function, with GLU for the perspective and the
// mipmaps; each notes itself first in offline rendering's record.
#include "platform/drawing.h"

#include "platform/drawing_record.h"

#include <SDL_opengl.h>
#include <GL/glu.h>
#include <type_traits>

static_assert(std::is_same<uint32_t, GLuint>::value, "texture names are GLuint");

// Chooses smooth shading; the rest of the fixed-function pipeline is there.
// Called by SetupPixelFormat.
bool PrepareDrawing() {
    glShadeModel(GL_SMOOTH);
    return true;
}

// Enables or disables the GL capabilities behind a switch; called by the
// renderer, the scenes and the timeline.
void SetDrawSwitch(DrawSwitch which, bool on) {
    if (NoteDrawingStep(DrawingStep::kSwitch, {double(which), double(on)}))
        return;
    auto set = [on](GLenum capability) { on ? glEnable(capability) : glDisable(capability); };
    switch (which) {
    case DrawSwitch::kBlending:
        set(GL_BLEND);
        break;
    case DrawSwitch::kDepthTest:
        set(GL_DEPTH_TEST);
        break;
    case DrawSwitch::kLighting:
        set(GL_LIGHTING);
        break;
    case DrawSwitch::kTexturing:
        set(GL_TEXTURE_2D);
        break;
    case DrawSwitch::kTextureGeneration:
        set(GL_TEXTURE_GEN_S);
        set(GL_TEXTURE_GEN_T);
        break;
    }
}

// Sets the current colour; called by the scenes.
void SetDrawColour(float red, float green, float blue, float alpha) {
    if (NoteDrawingStep(DrawingStep::kColour, {red, green, blue, alpha}))
        return;
    glColor4f(red, green, blue, alpha);
}

// Draws quads in immediate mode; called by the scenes.
void DrawQuads(const QuadVertex* corners, int count) {
    if (NoteDrawingQuads(corners, count))
        return;
    glBegin(GL_QUADS);
    for (int i = 0; i < count; ++i) {
        glTexCoord2f(corners[i].s, corners[i].t);
        glVertex3f(corners[i].x, corners[i].y, corners[i].z);
    }
    glEnd();
}

// Loads GLU's perspective and an identity model-view; called by SetProjection.
void LoadPerspective(double fovY, double aspect, double zNear, double zFar) {
    if (NoteDrawingStep(DrawingStep::kPerspective, {fovY, aspect, zNear, zFar}))
        return;
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(fovY, aspect, zNear, zFar);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

// Pushes an orthographic screen projection; called by BeginScreenSpace.
void PushScreenProjection(double width, double height) {
    if (NoteDrawingStep(DrawingStep::kPushScreenProjection, {width, height}))
        return;
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, width, 0, height, -1, 1);
    glMatrixMode(GL_MODELVIEW);
}

// Pops the projection; called by EndScreenSpace.
void PopProjection() {
    if (NoteDrawingStep(DrawingStep::kPopProjection))
        return;
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
}

// Pushes the model-view matrix; called by the scenes.
void PushTransform() {
    if (NoteDrawingStep(DrawingStep::kPushTransform))
        return;
    glPushMatrix();
}

// Pops the model-view matrix; called by the scenes.
void PopTransform() {
    if (NoteDrawingStep(DrawingStep::kPopTransform))
        return;
    glPopMatrix();
}

// Loads the identity; called by the scenes.
void ResetTransform() {
    if (NoteDrawingStep(DrawingStep::kResetTransform))
        return;
    glLoadIdentity();
}

// Multiplies by a translation; called by the sprite and cube scenes.
void Translate(float x, float y, float z) {
    if (NoteDrawingStep(DrawingStep::kTranslate, {x, y, z}))
        return;
    glTranslatef(x, y, z);
}

// Multiplies by a rotation; called by the sprite and cube scenes.
void Rotate(float degrees, float x, float y, float z) {
    if (NoteDrawingStep(DrawingStep::kRotate, {degrees, x, y, z}))
        return;
    glRotatef(degrees, x, y, z);
}

// Multiplies by a uniform scale; called by the cube scene.
void Scale(float factor) {
    if (NoteDrawingStep(DrawingStep::kScale, {factor}))
        return;
    glScalef(factor, factor, factor);
}

// Pushes every attribute and both matrices; called by WarmScenes.
void SaveDrawingState() {
    if (NoteDrawingStep(DrawingStep::kSaveState))
        return;
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
}

// Pops what SaveDrawingState pushed; called by WarmScenes.
void RestoreDrawingState() {
    if (NoteDrawingStep(DrawingStep::kRestoreState))
        return;
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glPopAttrib();
}

// Uploads a picture through gluBuild2DMipmaps; called by LoadTexture.
uint32_t CreatePictureTexture(const uint8_t* pixels, int width, int height, int components) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    // Rows are packed, so any width is read exactly.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    // Row 0, the picture's top, becomes t = 0.
    gluBuild2DMipmaps(GL_TEXTURE_2D, components, width, height,
                      components == 3 ? GL_RGB : GL_LUMINANCE, GL_UNSIGNED_BYTE, pixels);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    return texture;
}

// Reads the state the steps change with the GL's queries; called by offline
// rendering.
void ReadDrawingState(std::vector<double>* state) {
    state->clear();
    for (GLenum capability :
         {GL_BLEND, GL_DEPTH_TEST, GL_LIGHTING, GL_TEXTURE_2D, GL_TEXTURE_GEN_S, GL_TEXTURE_GEN_T})
        state->push_back(glIsEnabled(capability));
    const struct {
        GLenum name;
        int count;
    } values[] = {{GL_BLEND_SRC, 1},
                  {GL_BLEND_DST, 1},
                  {GL_COLOR_CLEAR_VALUE, 4},
                  {GL_CURRENT_COLOR, 4},
                  {GL_CURRENT_TEXTURE_COORDS, 4},
                  {GL_TEXTURE_BINDING_2D, 1},
                  {GL_VIEWPORT, 4},
                  {GL_MATRIX_MODE, 1},
                  {GL_MODELVIEW_STACK_DEPTH, 1},
                  {GL_PROJECTION_STACK_DEPTH, 1},
                  {GL_ATTRIB_STACK_DEPTH, 1},
                  {GL_MODELVIEW_MATRIX, 16},
                  {GL_PROJECTION_MATRIX, 16}};
    for (const auto& value : values) {
        GLdouble read[16] = {};
        glGetDoublev(value.name, read);
        state->insert(state->end(), read, read + value.count);
    }
}
