// Full-screen picture scenes.
#include "platform/drawing.h"
#include "platform/screen.h"
#include "assets/textures.h"
#include "demo/scenes.h"

// The whole screen, the picture's top row (t = 0) at the top of the screen.
static const QuadVertex kPictureQuad[4] = {
    {0, 1, 0, 0, 0},
    {1, 1, kScreenWidth, 0, 0},
    {1, 0, kScreenWidth, kScreenHeight, 0},
    {0, 0, 0, kScreenHeight, 0},
};

// Enters screen space; called by DrawPictureScene.
void BeginScreenSpace() {
    PushTransform();
    SetDrawSwitch(DrawSwitch::kBlending, false);
    SetDrawSwitch(DrawSwitch::kDepthTest, false);
    SetDrawSwitch(DrawSwitch::kLighting, false);
    SetDrawSwitch(DrawSwitch::kTextureGeneration, false);
    ResetTransform();
    PushScreenProjection(kScreenWidth, kScreenHeight);
}

// Leaves screen space; called by DrawPictureScene.
void EndScreenSpace() {
    SetDrawSwitch(DrawSwitch::kLighting, true);
    SetDrawSwitch(DrawSwitch::kDepthTest, true);
    PopProjection();
    PopTransform();
}

// Clears the frame and draws one full-screen picture; called by
// DrawPictureScene and WarmScenes.
void DrawPicture(int slot) {
    ClearFrame();
    SetClearColour(0, 0, 0, 0); // takes effect from the next clear on
    BeginScreenSpace();
    SetDrawSwitch(DrawSwitch::kTexturing, true);
    SetDrawColour(1, 1, 1, 1);
    BindPicture(g_textures[slot]);
    DrawQuads(kPictureQuad, 4);
    EndScreenSpace();
}

// Draws one full-screen picture and presents it; called by TickDemo.
void DrawPictureScene(int slot) {
    DrawPicture(slot);
    PresentScreen();
}
