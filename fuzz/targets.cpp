// The fuzz targets' bodies, shared by the fuzzers and the replay test.
#include "targets.h"

#include "assets/jpeg.h"
#include "audio/audio.h"
#include "audio/playback.h"

#include <cstdio>
#include <vector>

// The fuzzers decode at most 1024 pixels a side, with libjpeg's memory held
// in proportion, so that a run stays fast; the size checks on the way are
// the demo's own, only with a smaller bound.
constexpr uint32_t kFuzzMaxSide = 1024;
constexpr size_t kFuzzMemoryLimit =
    size_t(3) * 2 * kFuzzMaxSide * kFuzzMaxSide + (size_t(16) << 20);

bool FuzzJpegLoader(const uint8_t* data, size_t size) {
    if (size == 0)
        return false;
    std::FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!file)
        return false;
    JpegLimits limits;
    limits.maxSide = kFuzzMaxSide;
    limits.maxMemory = kFuzzMemoryLimit;
    JpegOutcome outcome = JpegOutcome::kLoaded;
    Image* image = DecodeJpegFile(file, &outcome, limits);
    std::fclose(file);
    if (!image)
        return false;
    // A decoded picture must be what it says: sides within the limit, rows
    // of whole pixels, and its buffer as long as they make (one byte in 61
    // and the last are read, so AddressSanitizer sees a short one).
    if (outcome != JpegOutcome::kLoaded || image->width < 1 || image->height < 1 ||
        uint32_t(image->width) > kFuzzMaxSide || uint32_t(image->height) > kFuzzMaxSide ||
        image->rowBytes % image->width != 0)
        __builtin_trap();
    volatile uint8_t sum = 0;
    const size_t bytes = size_t(image->rowBytes) * size_t(image->height);
    for (size_t i = 0; i < bytes; i += 61)
        sum = uint8_t(sum + image->pixels[i]);
    sum = uint8_t(sum + image->pixels[bytes - 1]);
    FreeJpegImage(image);
    return true;
}

bool FuzzMusicStream(const uint8_t* data, size_t size) {
    std::vector<int16_t> samples;
    const bool playable = DecodeMusicFile(data, size, &samples);
    // Whole stereo frames only, and nothing decoded from what is not music.
    if (samples.size() % kChannels != 0 || (!playable && !samples.empty()))
        __builtin_trap();
    return playable;
}
