// Writing down the drawing steps; the same on every system.
#include "platform/drawing_record.h"

static DrawingRecord* s_record;                   // the record being kept, or null
static bool s_holdBack;                           // the steps leave the GL alone
static bool s_cleared;                            // the record holds a clear
static int s_transforms, s_projections, s_states; // saves in the record not yet restored

// Keeps the count of saves and notes a restore of an earlier one; called by
// NoteDrawingStep.
static void CountSaves(DrawingStep step) {
    const struct {
        DrawingStep save, restore;
        int* saves;
    } kinds[] = {{DrawingStep::kPushTransform, DrawingStep::kPopTransform, &s_transforms},
                 {DrawingStep::kPushScreenProjection, DrawingStep::kPopProjection, &s_projections},
                 {DrawingStep::kSaveState, DrawingStep::kRestoreState, &s_states}};
    for (const auto& kind : kinds)
        if (step == kind.save)
            ++*kind.saves;
        else if (step == kind.restore && *kind.saves == 0)
            s_record->restoredEarlierSave = true;
        else if (step == kind.restore)
            --*kind.saves;
}

// Starts or stops a record; called by offline rendering.
void KeepDrawingRecord(DrawingRecord* record, bool holdBack) {
    s_record = record;
    s_holdBack = record && holdBack;
    s_cleared = false;
    s_transforms = s_projections = s_states = 0;
    if (record)
        *record = DrawingRecord();
}

// Notes a step; called first by every desktop step and the present.
bool NoteDrawingStep(DrawingStep step, std::initializer_list<double> arguments) {
    if (!s_record)
        return false;
    s_record->steps.push_back(double(step));
    s_record->steps.insert(s_record->steps.end(), arguments);
    s_cleared = s_cleared || step == DrawingStep::kClear;
    if (step == DrawingStep::kQuads && !s_cleared)
        s_record->drewBeforeClearing = true;
    CountSaves(step);
    return s_holdBack;
}

// Notes quads with their corners; called by the desktop's DrawQuads.
bool NoteDrawingQuads(const QuadVertex* corners, int count) {
    if (!s_record)
        return false;
    for (int i = 0; i < count; ++i)
        s_record->steps.insert(s_record->steps.end(), {corners[i].s, corners[i].t, corners[i].x,
                                                       corners[i].y, corners[i].z});
    return NoteDrawingStep(DrawingStep::kQuads, {double(count)});
}
