// The JPEG loader: decodes a picture file into rows of 8-bit samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

struct jpeg_decompress_struct;

// A decoded picture: `height` rows of `rowBytes` bytes each, top row first,
// packed with no gap. rowBytes is width times the samples per pixel (3 for
// colour, 1 for greyscale, 4 for CMYK).
struct Image {
    int32_t rowBytes;
    int32_t width;
    int32_t height;
    uint8_t* pixels;
};

// The demo's own limits on a picture; the README says what they allow.
constexpr uint32_t kMaxPictureSide = 16384; // widest and tallest picture accepted
constexpr int kMaxPictureScans = 100;       // most scans a picture may have
// libjpeg's working memory (the pixels handed over are not counted): the
// coefficients of a progressive colour picture of the largest size with
// full-size colour (two bytes a sample), plus 64 MiB for its tables and row
// buffers.
constexpr size_t kJpegMemoryLimit =
    size_t(3) * 2 * kMaxPictureSide * kMaxPictureSide + (size_t(64) << 20);

// What one load is held to; the defaults are the demo's own limits.
struct JpegLimits {
    uint32_t maxSide = kMaxPictureSide;
    int maxScans = kMaxPictureScans;
    size_t maxMemory = kJpegMemoryLimit;
    // Asked every few tens of milliseconds while the picture decodes; true
    // abandons the load. Null never does.
    bool (*shouldStop)() = nullptr;
};

// How a picture load ended.
enum class JpegOutcome {
    kLoaded,       // the picture decoded (possibly after warnings)
    kMissingFile,  // no regular file could be opened there; the user has been told
    kBadData,      // libjpeg gave up on the data (or memory ran out)
    kTooLarge,     // a side is over the limit; refused before anything was allocated
    kTooManyScans, // the picture has more scans than the limit
    kStopped,      // shouldStop asked to abandon the load
};

// Opens and decodes the picture at `path` under `limits`; null when no
// regular file can be opened there (after "Unable to load JPG File!"), when
// libjpeg gives up or the picture is over the limits (after libjpeg's or
// the limit's message with the file's path: "Not a JPEG file: starts with
// 0x47 0x49: data/pic/lyn.jpg"), or when the load was stopped (silently).
// Never ends the process. `outcome`, when given, says which. Free the
// result with FreeJpegImage. Called by LoadTexture.
Image* LoadJpegImage(const char* path, JpegOutcome* outcome = nullptr,
                     const JpegLimits& limits = JpegLimits());

// Decodes the picture in `file`, an open file read from its current
// position (a memory stream from fmemopen will do), under `limits`; null,
// without a word, when libjpeg gives up, the picture is over the limits or
// the load was stopped (`outcome` says which; a picture's first warning
// still goes to stderr, as libjpeg prints it). The file stays open. Needs
// no window and no GL. Called by the loader's fuzz target and tests.
Image* DecodeJpegFile(std::FILE* file, JpegOutcome* outcome = nullptr,
                      const JpegLimits& limits = JpegLimits());

// Reads the header, refuses a picture with a side over `maxSide` before
// anything is allocated for it, and reads every row of the picture behind
// `cinfo` into `image`, which takes ownership of the pixels it allocates. A
// fatal error or a refusal goes to cinfo's error_exit. Called by
// LoadJpegImage and DecodeJpegFile.
void DecodeJpegRows(jpeg_decompress_struct* cinfo, Image* image,
                    uint32_t maxSide = kMaxPictureSide);

// Frees a picture's pixels, then its record; null does nothing. Called by
// LoadTexture and LoadJpegImage.
void FreeJpegImage(Image* image);
