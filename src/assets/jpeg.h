// The JPEG loader: decodes a picture file into rows of 8-bit samples.
#pragma once

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

// How a picture load ended.
enum class JpegOutcome {
    kLoaded,      // the picture decoded (possibly after warnings)
    kMissingFile, // the file could not be opened; the user has been told
    kBadData,     // libjpeg gave up on the data (or memory ran out); its message is on stderr
};

// Opens and decodes the picture at `path`; null when the file cannot be
// opened (after an error box) or libjpeg gives up (after its message on
// stderr). Never ends the process. `outcome`, when given, says which.
// Free the result with FreeJpegImage. Called by LoadTexture.
Image* LoadJpegImage(const char* path, JpegOutcome* outcome = nullptr);

// Decodes the picture in `file`, an open file read from its current
// position (a memory stream from fmemopen will do); null, after libjpeg's
// message on stderr, when libjpeg gives up. The file stays open. Called by
// LoadJpegImage and the loader's fuzz target.
Image* DecodeJpegFile(std::FILE* file, JpegOutcome* outcome = nullptr);

// Reads the header and every row of the picture behind `cinfo` into
// `image`, which takes ownership of the pixels it allocates. A fatal error
// goes to cinfo's error_exit. Called by LoadJpegImage.
void DecodeJpegRows(jpeg_decompress_struct* cinfo, Image* image);

// Frees a picture's pixels, then its record; null does nothing. Called by
// LoadTexture and LoadJpegImage.
void FreeJpegImage(Image* image);
