// A capture written as PNG frames: a folder of frame-000000.png,
// frame-000001.png ..., made under its temporary name and then put in
// place of the final one.
#pragma once

#include <cstdint>
#include <string>

struct FrameLayout;

// Checks that nothing but an earlier capture's frames (or nothing) is at
// `out`; prints the reason and returns false otherwise. Called by
// CheckCaptureOutput.
bool CheckFramesFolder(const std::string& out);

// Creates the temporary folder and the buffers for frames laid out as
// `layout` says; false, with the reason printed, when it cannot. Called by
// OpenCaptureOutput.
bool OpenFramesFolder(const std::string& folder, const FrameLayout& layout);

// Turns a new frame (the virtual screen's RGBA, bottom row first) into the
// RGB rows of the next PNG; called by the writer thread.
void ConvertPngFrame(const uint8_t* rgba);

// Writes frame `frame` into the folder, encoding the rows converted last
// unless `repeat` (the PNG before is written again); false with the reason
// in `failure`. Called by the writer thread.
bool WritePngFrame(int64_t frame, bool repeat, std::string* failure);

// Gives the finished folder its final name, replacing the frames of an
// earlier capture there; false with errno set when it cannot. Called by
// FinishCaptureOutput.
bool NameFramesFolder(const std::string& folder, const std::string& finalPath);

// Removes a folder of frames and the frames in it; called when a capture
// fails or stops.
void RemoveFramesFolder(const std::string& folder);
