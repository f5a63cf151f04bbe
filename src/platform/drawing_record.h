// Writing down what the scenes draw, for offline rendering: a tick that
// takes exactly the steps of the tick drawn before it, from the same drawing
// state, makes the same frame, so it need not be drawn again.
#pragma once

#include "platform/drawing.h"

#include <initializer_list>
#include <vector>

// The steps written down, one for each step of drawing.h that draws or
// changes the drawing state, and the present.
enum class DrawingStep {
    kSwitch,
    kAdditiveBlending,
    kClear,
    kClearColour,
    kColour,
    kPicture,
    kQuads,
    kViewport,
    kPerspective,
    kPushScreenProjection,
    kPopProjection,
    kPushTransform,
    kPopTransform,
    kResetTransform,
    kTranslate,
    kRotate,
    kScale,
    kSaveState,
    kRestoreState,
    kPresent,
};

// What the steps wrote down while a record was kept, and what makes its
// frame depend on more than its steps and the drawing state.
struct DrawingRecord {
    std::vector<double> steps;        // each step's kind, then its arguments
    bool drewBeforeClearing = false;  // quads drawn over what the screen held before
    bool restoredEarlierSave = false; // a matrix or state restored that was saved before it began
};

// Starts writing every step into `record`, emptied first, or stops with
// null. While `holdBack`, the steps are only written down and leave the GL
// as it is (a present still marks its frame). The desktop's drawing path
// notes every step; the web page's keeps no record. Called by offline
// rendering.
void KeepDrawingRecord(DrawingRecord* record, bool holdBack);

// Writes a step and its arguments into the record being kept, if any; true
// when the step must then leave the GL alone. Called first by every step of
// the desktop's drawing path and by the present.
bool NoteDrawingStep(DrawingStep step, std::initializer_list<double> arguments = {});

// Writes DrawQuads' corners as above; called by the desktop's DrawQuads.
bool NoteDrawingQuads(const QuadVertex* corners, int count);

// Reads every part of the GL's state the steps change (the switches,
// blending, clear and current colours, texture coordinates, picture,
// viewport, both matrices and the depths of their stacks and of the saved
// states) into `state`. Called by offline rendering around a tick it draws.
void ReadDrawingState(std::vector<double>* state);
