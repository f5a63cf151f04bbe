// Writes the fuzzers' seed corpora: small pictures and music files of every
// kind the demo takes, made as the tests make theirs. Run from the
// repository root as build/fuzz/make_fuzz_seeds; it replaces fuzz/seeds/.
#include "mp3_files.h"
#include "picture_files.h"

#include <cstdio>
#include <string>

int main() {
    const std::string jpeg = "fuzz/seeds/jpeg/", music = "fuzz/seeds/music/";
    // Pictures: each colour model the loader meets, baseline and
    // progressive, odd sizes that leave partial blocks.
    struct PictureSeed {
        const char* name;
        int width, height, components, quality;
        JpegLayout layout;
    };
    const PictureSeed pictures[] = {
        {"colour-baseline", 16, 16, 3, 90, JpegLayout::kBaseline},
        {"colour-progressive", 33, 17, 3, 75, JpegLayout::kProgressive},
        {"grey-baseline", 9, 7, 1, 95, JpegLayout::kBaseline},
        {"grey-progressive", 24, 8, 1, 50, JpegLayout::kProgressive},
        {"cmyk-baseline", 8, 8, 4, 90, JpegLayout::kBaseline},
        {"colour-many-scans", 8, 8, 3, 90, JpegLayout::kScanPerCoefficient},
    };
    bool written = true;
    for (const PictureSeed& seed : pictures) {
        const Pixels picture =
            MakePicture(seed.width, seed.height, seed.components,
                        [](int x, int y, int c) { return (x * 37 + y * 11 + c * 80) & 255; });
        written &= WriteJpegFile(jpeg + seed.name + ".jpg", picture, seed.quality, seed.layout);
    }
    // Music: a tenth of a second at each rate family and channel count,
    // with lame's gapless header.
    struct MusicSeed {
        const char* name;
        int rate, channels;
    };
    const MusicSeed tracks[] = {
        {"stereo-44100", 44100, 2}, {"mono-44100", 44100, 1},   {"stereo-48000", 48000, 2},
        {"mono-22050", 22050, 1},   {"stereo-16000", 16000, 2}, {"mono-8000", 8000, 1},
    };
    for (const MusicSeed& seed : tracks)
        written &= EncodeMp3(SineSamples(440, 0.5, 0.1, seed.rate, seed.channels), seed.rate,
                             seed.channels, music + seed.name + ".mp3");
    if (!written)
        std::fprintf(stderr,
                     "make_fuzz_seeds: could not write every seed (run it from the repository "
                     "root)\n");
    return written ? 0 : 1;
}
