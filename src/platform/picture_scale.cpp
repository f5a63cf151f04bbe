// Pictures brought to power-of-two sides.
#include "platform/picture_scale.h"

#include <algorithm>

// Rounds a side to the nearest power of two within the limit; called by
// CreatePictureTexture on the web.
int NearestPowerOfTwo(int side, int maxSide) {
    int power = 1;
    while (power < side && power * 2 <= maxSide)
        power *= 2;
    // Below `side` now only at the limit; else choose the nearer of it and
    // its half, the half only when strictly nearer.
    if (power > side && side - power / 2 < power - side)
        power /= 2;
    return std::max(power, 1);
}

// Averages the run of `from` samples (stride `fromStride`) that each of `to`
// new samples covers into `out` (stride `toStride`), for one line of one
// channel; called by ScalePicture.
template <typename In>
static void ScaleLine(const In* in, int from, int fromStride, float* out, int to, int toStride) {
    const double step = double(from) / to;
    for (int i = 0; i < to; ++i) {
        const double start = i * step, end = start + step;
        double sum = 0;
        for (int j = int(start); j < from && j < end; ++j)
            sum += in[j * fromStride] * (std::min(end, j + 1.0) - std::max(start, double(j)));
        out[i * toStride] = float(sum / step);
    }
}

// Scales the picture by area means, first its rows, then its columns;
// called by CreatePictureTexture on the web.
std::vector<uint8_t> ScalePicture(const uint8_t* pixels, int width, int height, int components,
                                  int toWidth, int toHeight) {
    const int c = components;
    std::vector<float> rows(size_t(toWidth) * height * c);
    for (int y = 0; y < height; ++y)
        for (int k = 0; k < c; ++k)
            ScaleLine(pixels + (size_t(y) * width * c + k), width, c,
                      &rows[size_t(y) * toWidth * c + k], toWidth, c);
    std::vector<float> both(size_t(toWidth) * toHeight * c);
    for (int x = 0; x < toWidth * c; ++x)
        ScaleLine(&rows[x], height, toWidth * c, &both[x], toHeight, toWidth * c);
    std::vector<uint8_t> scaled(both.size());
    for (size_t i = 0; i < both.size(); ++i)
        scaled[i] = uint8_t(std::min(255.0f, both[i] + 0.5f));
    return scaled;
}
