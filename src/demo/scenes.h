// The scenes of the script. Each draws into the virtual screen and presents
// it by itself; all are called by TickDemo.
#pragma once

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

// Draws the ship sprite drifting right and rocking, additively over the
// background; reads the shifted demo time. Called by TickDemo.
void DrawDriftingSprite();

// Draws the lightning sprite additively in flickering colours, upper left;
// reads the shifted demo time. Called by TickDemo.
void DrawColourCycleSprite();

// Clears the frame and draws the textured cube, spinning with the tick count
// and scaled by the music's lowest band; called by TickDemo.
void DrawSpectrumCube();
