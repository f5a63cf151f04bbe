// Warming the drawing paths before the first tick.
#include "demo/scenes.h"

#include "platform/drawing.h"
#include "platform/screen.h"

// Draws each scene's path once and clears; called by InitDemo.
void WarmScenes() {
    SaveDrawingState();
    // An opening tick, then a cube tick, as the script runs them.
    SetDrawSwitch(DrawSwitch::kDepthTest, false);
    DrawPicture(0);
    DrawShip(0);
    SetDrawSwitch(DrawSwitch::kBlending, false);
    DrawLightning(0);
    SetDrawSwitch(DrawSwitch::kDepthTest, true);
    DrawCube(0, 0, 0);
    SetClearColour(0, 0, 0, 0);
    ClearFrame();
    // The copy to the window prepares code of its own: copy the black screen
    // into the window's back buffer, which nobody sees until a swap.
    CopyFrameToWindow();
    // The GL prepares its code as the drawing runs; wait until it has.
    FinishScreenDrawing();
    RestoreDrawingState();
}
