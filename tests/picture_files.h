// Helpers for the picture tests: JPEG files written with libjpeg's
// compressor, a straight libjpeg decode to compare against and a GL context
// without the pictures; files.h's helpers come with them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "files.h"

// Pixels as libjpeg hands them over: rows top first, packed.
struct Pixels {
    int width = 0;
    int height = 0;
    int components = 0;
    std::vector<uint8_t> bytes;
};

// How a JPEG file lays out its scans.
enum class JpegLayout {
    kBaseline,           // one sequential scan
    kProgressive,        // libjpeg's usual progressive script
    kScanPerCoefficient, // progressive, each coefficient of each component in
                         // scans of its own, coarse then refined: 380 scans
                         // for colour
};

// Compresses `picture` (1 = greyscale, 3 = RGB, 4 = CMYK) into a JPEG file;
// false when the file cannot be written.
bool WriteJpegFile(const std::string& path, const Pixels& picture, int quality = 95,
                   JpegLayout layout = JpegLayout::kBaseline);

// Rewrites the picture size in the frame header (baseline or progressive)
// of a JPEG file's bytes; false when there is none.
bool SetFrameSize(std::vector<uint8_t>& bytes, int width, int height);

// Decodes a JPEG file one scanline at a time straight into a vector, with
// libjpeg's defaults; empty bytes when the file cannot be opened.
Pixels DecodeStraight(const std::string& path);

// A picture of the given size whose samples follow `sample(x, y, channel)`.
Pixels MakePicture(int width, int height, int components,
                   const std::function<int(int, int, int)>& sample);

// Makes a GL context for tests that upload pictures themselves: reuses the
// demo's context when there is one, else creates the demo window and the
// renderer without loading the shipped pictures. False without a display.
bool StartRendererForTests();
