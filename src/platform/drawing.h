// How the scenes draw. Each scene says once what it draws through these few
// steps of fixed-function drawing; each system's drawing path carries them
// out: OpenGL 1.1 on the desktop (drawing.cpp), WebGL 1 with shaders and
// matrices worked out here in the browser (drawing_web.cpp); the steps that
// are the same call in both are in drawing_shared.cpp. The steps keep
// OpenGL 1.1's meaning: switches stay as set until changed, quads take the
// colour, picture and matrices current when they are drawn, blending and
// the depth test work on the virtual screen's colour and depth.
#pragma once

#include <cstdint>

// A switch of the drawing state.
enum class DrawSwitch {
    kBlending,          // blending with the factors last chosen
    kDepthTest,         // the depth test (function less, depth writes on)
    kLighting,          // fixed-function lighting; off whenever anything is drawn
    kTexturing,         // 2-D texturing; on whenever anything is drawn
    kTextureGeneration, // texture coordinates generated for s and t; never on
};

// One corner of a textured quad: texture (s, t), then position (x, y, z).
struct QuadVertex {
    float s, t, x, y, z;
};

// Gets the drawing path ready in the GL context just made current: on the
// web its shaders and buffers. False when it cannot be. Called by
// SetupPixelFormat.
bool PrepareDrawing();

// Turns one switch of the drawing state on or off; called by the renderer,
// the scenes and the timeline.
void SetDrawSwitch(DrawSwitch which, bool on);

// Chooses additive blending (one, one) for when blending is on; called by
// the sprite and cube scenes.
void UseAdditiveBlending();

// Clears the colour and the depth of the virtual screen, the colour to the
// clear colour and the depth to the far plane; called by the scenes.
void ClearFrame();

// Sets the colour the next clears clear to; called by the picture scene and
// the warm-up.
void SetClearColour(float red, float green, float blue, float alpha);

// Sets the colour the next quads' texels are multiplied by, each channel
// held to 0 to 1; called by the scenes.
void SetDrawColour(float red, float green, float blue, float alpha);

// Makes the picture texture `texture` the one the next quads show; called
// by the scenes.
void BindPicture(uint32_t texture);

// Draws `count` corners (a multiple of four, at most 24) as quads, each
// corner's position taken through the model-view and projection matrices;
// called by the scenes.
void DrawQuads(const QuadVertex* corners, int count);

// Sets the part of the virtual screen drawn into; called by SetProjection.
void SetViewport(int width, int height);

// Makes the projection a perspective of `fovY` degrees vertically at the
// given aspect and depth range, and the model-view matrix the identity;
// called by SetProjection.
void LoadPerspective(double fovY, double aspect, double zNear, double zFar);

// Saves the projection and replaces it with screen space: x from 0 to
// `width`, y from 0 (bottom) to `height`, z from -1 to 1. Called by
// BeginScreenSpace.
void PushScreenProjection(double width, double height);

// Restores the projection PushScreenProjection saved; called by
// EndScreenSpace.
void PopProjection();

// Saves the model-view matrix, to be restored by PopTransform; called by
// the scenes.
void PushTransform();
void PopTransform();

// Makes the model-view matrix the identity; called by the scenes.
void ResetTransform();

// Multiplies the model-view matrix by a translation, a rotation of
// `degrees` about the axis (x, y, z), or a uniform scale; called by the
// sprite and cube scenes.
void Translate(float x, float y, float z);
void Rotate(float degrees, float x, float y, float z);
void Scale(float factor);

// Saves every part of the drawing state the scenes change (switches,
// colours, blending, picture, both matrices), to be restored by
// RestoreDrawingState; called by WarmScenes.
void SaveDrawingState();
void RestoreDrawingState();

// Makes a picture texture from `height` packed rows of `width` pixels, top
// row first, with 1 (grey) or 3 (RGB) samples a pixel: every mip level,
// sides not a power of two scaled to the nearest one, minified by the
// nearest level's linear filter, magnified linearly, repeating. Returns its
// name; leaves it bound. Called by LoadTexture.
uint32_t CreatePictureTexture(const uint8_t* pixels, int width, int height, int components);

// The widest and tallest texture the GL takes; 0 when it cannot be asked.
// Called by LoadTexture.
int MaxTextureSide();
