// Helpers shared by the tests.
#include "support.h"

#include "app/app.h"
#include "platform/screen.h"
#include "platform/ticks.h"
#include "platform/window.h"
#include "demo/timeline.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

static uint32_t s_fakeTicks;
static int s_fakeReads;

// The fake tick source.
static uint32_t ReadFakeTicks() {
    ++s_fakeReads;
    return s_fakeTicks;
}

void UseFakeClock(uint32_t ticks) {
    g_startTick = 0;
    s_fakeTicks = ticks;
    s_fakeReads = 0;
    SetTickSource(ReadFakeTicks);
}

void SetFakeTicks(uint32_t ticks) {
    s_fakeTicks = ticks;
}

int FakeClockReads() {
    return s_fakeReads;
}

bool StartDemoInProcess() {
    static bool started = false;
    if (started)
        return true;
    if (!UsePrivateDisplay(1280, 1024))
        return false;
    SDL_Window* window =
        CreateMainWindow(kWindowTitle, kScreenWidth, kScreenHeight, 0, g_fullscreen);
    if (!window)
        return false;
    InitDemo(window);
    started = true;
    return true;
}

std::vector<uint8_t> ReadScreen() {
    std::vector<uint8_t> rgba(size_t(kScreenWidth) * kScreenHeight * 4);
    ReadVirtualScreen(rgba.data());
    return rgba;
}

Rgb PixelAt(const std::vector<uint8_t>& screen, int x, int yFromTop) {
    size_t at = (size_t(kScreenHeight - 1 - yFromTop) * kScreenWidth + size_t(x)) * 4;
    return {screen[at], screen[at + 1], screen[at + 2]};
}

Thumbnail MakeThumbnail(int width, int height, const std::function<Rgb(int x, int y)>& pixel) {
    std::vector<long> sums(size_t(kThumbWidth) * kThumbHeight * 3, 0);
    std::vector<long> counts(size_t(kThumbWidth) * kThumbHeight, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            size_t cell = size_t(y * kThumbHeight / height) * kThumbWidth + x * kThumbWidth / width;
            Rgb c = pixel(x, y);
            sums[cell * 3] += c.r, sums[cell * 3 + 1] += c.g, sums[cell * 3 + 2] += c.b;
            ++counts[cell];
        }
    Thumbnail thumbnail(sums.size());
    for (size_t i = 0; i < sums.size(); ++i)
        thumbnail[i] = uint8_t((sums[i] + counts[i / 3] / 2) / std::max(1L, counts[i / 3]));
    return thumbnail;
}

Thumbnail ScreenThumbnail(const std::vector<uint8_t>& screen) {
    return MakeThumbnail(kScreenWidth, kScreenHeight,
                         [&](int x, int y) { return PixelAt(screen, x, y); });
}

Thumbnail FlipThumbnail(const Thumbnail& thumbnail) {
    Thumbnail flipped(thumbnail.size());
    size_t row = size_t(kThumbWidth) * 3;
    for (int y = 0; y < kThumbHeight; ++y)
        std::copy_n(&thumbnail[y * row], row, &flipped[(kThumbHeight - 1 - y) * row]);
    return flipped;
}

double MeanDifference(const Thumbnail& a, const Thumbnail& b) {
    double total = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        total += std::abs(int(a[i]) - int(b[i]));
    return a.size() == b.size() ? total / double(a.size()) : 1e9;
}

int LargestDifference(const Thumbnail& a, const Thumbnail& b) {
    int largest = a.size() == b.size() ? 0 : 255;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        largest = std::max(largest, std::abs(int(a[i]) - int(b[i])));
    return largest;
}

bool ReadThumbnail(const std::string& path, Thumbnail& thumbnail) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int width = 0, height = 0, maximum = 0;
    in >> magic >> width >> height >> maximum;
    in.get();
    if (!in || magic != "P6" || width != kThumbWidth || height != kThumbHeight || maximum != 255)
        return false;
    thumbnail.assign(size_t(width) * height * 3, 0);
    in.read(reinterpret_cast<char*>(thumbnail.data()), std::streamsize(thumbnail.size()));
    return bool(in);
}

bool WriteThumbnail(const std::string& path, const Thumbnail& thumbnail) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << kThumbWidth << " " << kThumbHeight << "\n255\n";
    out.write(reinterpret_cast<const char*>(thumbnail.data()), std::streamsize(thumbnail.size()));
    return bool(out);
}
