// The fuzz targets' bodies: one input from memory through the JPEG loader
// or the music stream's open and decode. The fuzzers and the test that
// replays their seeds and crashes call them.
#pragma once

#include <cstddef>
#include <cstdint>

// Decodes `data` as a picture under the fuzzers' limits and reads through
// the result; true when it decoded. Called by the JPEG fuzzer and
// the replay test.
bool FuzzJpegLoader(const uint8_t* data, size_t size);

// Opens `data` as a music file and decodes all of it; true when it was
// playable. Called by the music fuzzer and the replay test.
bool FuzzMusicStream(const uint8_t* data, size_t size);
