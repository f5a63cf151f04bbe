// The scenes of the script. Each draws into the virtual screen and presents
// it by itself; all are called by TickDemo. Their drawing without the present
// is also used to warm the GL before the first tick.
#pragma once

#include <cstdint>

// Switches to a 640 x 480 orthographic screen space with blending, depth
// test, lighting and texture generation off; paired with EndScreenSpace.
// Called by DrawPictureScene.
void BeginScreenSpace();

// Switches lighting and the depth test on and restores both matrices;
// called by DrawPictureScene.
void EndScreenSpace();

// Clears the frame and fills the screen with the picture in texture `slot`,
// upright; called by TickDemo.
void DrawPictureScene(int slot);

// DrawPictureScene without the present; called by it and by WarmScenes.
void DrawPicture(int slot);

// Draws the ship sprite drifting right and rocking, additively over the
// background; reads the shifted demo time. Called by TickDemo.
void DrawDriftingSprite();

// The drifting ship at sprite time `t`, not presented; called by
// DrawDriftingSprite and WarmScenes.
void DrawShip(int32_t t);

// Draws the lightning sprite additively in flickering colours, upper left;
// reads the shifted demo time. Called by TickDemo.
void DrawColourCycleSprite();

// The lightning at sprite time `t`, not presented; called by
// DrawColourCycleSprite and WarmScenes.
void DrawLightning(int32_t t);

// Clears the frame and draws the textured cube, spinning with the tick count
// and scaled by the music's lowest band; called by TickDemo.
void DrawSpectrumCube();

// DrawSpectrumCube without the present, turned by the given angles in
// degrees about x, y and z; called by it and by WarmScenes.
void DrawCube(float angleX, float angleY, float angleZ);

// Draws the picture, sprite and cube paths once into the virtual screen, with
// the state the script gives them, so that the GL prepares its drawing code
// during the dark first second; then clears the screen to black. Presents
// nothing, reads no clock and leaves every GL state as it was. Called by
// InitDemo after the pictures load.
void WarmScenes();
