// Measures the picture loader against floors taken in the same run; the
// start-up with the pictures is measured by startup_bench.
//
// Run from the repository root with a display:  build/bench/pictures_bench
//
// Loader: LoadTexture on the ten shipped pictures (decode + mipmapped
// upload). Floors: a bare libjpeg decode of the same files straight into a
// buffer, and a bare gluBuild2DMipmaps of the already-decoded pixels. The
// figure is loader / (decode floor + upload floor), medians of the rounds.
#include "assets/textures.h"
#include "picture_files.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <time.h>
#include <unistd.h>
#include <vector>

constexpr int kRounds = 15;

// Reads the monotonic clock in seconds; called by every measurement.
static double NowSeconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// The middle of a list of times; called by main.
static double Median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Times LoadTexture on the ten pictures into a scratch table, then frees
// the textures; called by main.
static double TimeLoader() {
    uint32_t scratch[kTextureCount] = {};
    double start = NowSeconds();
    for (int slot = 0; slot < kTextureCount; ++slot)
        LoadTexture(scratch, kPicturePaths[slot], slot);
    glFinish();
    double seconds = NowSeconds() - start;
    glDeleteTextures(kTextureCount, scratch);
    return seconds;
}

// Times the bare decode of the ten pictures; called by main.
static double TimeDecodeFloor() {
    double start = NowSeconds();
    size_t total = 0;
    for (const char* path : kPicturePaths)
        total += DecodeStraight(path).bytes.size();
    double seconds = NowSeconds() - start;
    if (total == 0)
        std::fprintf(stderr, "nothing decoded\n");
    return seconds;
}

// Times the bare mipmapped upload of already-decoded pixels, then frees the
// textures; called by main.
static double TimeUploadFloor(const std::vector<Pixels>& pictures) {
    GLuint names[kTextureCount] = {};
    double start = NowSeconds();
    glGenTextures(kTextureCount, names);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (int slot = 0; slot < kTextureCount; ++slot) {
        const Pixels& picture = pictures[size_t(slot)];
        glBindTexture(GL_TEXTURE_2D, names[slot]);
        gluBuild2DMipmaps(GL_TEXTURE_2D, picture.components, picture.width, picture.height,
                          picture.components == 3 ? GL_RGB : GL_LUMINANCE, GL_UNSIGNED_BYTE,
                          picture.bytes.data());
    }
    glFinish();
    double seconds = NowSeconds() - start;
    glDeleteTextures(kTextureCount, names);
    return seconds;
}

// Runs the loader against its floors and prints the figures.
int main() {
    for (const char* path : kPicturePaths)
        if (access(path, R_OK) != 0) {
            std::fprintf(stderr, "%s is missing: run from the repository root\n", path);
            return 1;
        }
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "needs a display\n");
        return 1;
    }

    if (!StartRendererForTests())
        return 1;
    std::vector<Pixels> pictures;
    for (const char* path : kPicturePaths)
        pictures.push_back(DecodeStraight(path));

    // One untimed pass of each warms the file cache and the driver.
    TimeLoader();
    TimeDecodeFloor();
    TimeUploadFloor(pictures);
    std::vector<double> loader, decode, upload;
    for (int round = 0; round < kRounds; ++round) {
        loader.push_back(TimeLoader());
        decode.push_back(TimeDecodeFloor());
        upload.push_back(TimeUploadFloor(pictures));
    }
    double loaderMs = Median(loader) * 1e3;
    double decodeMs = Median(decode) * 1e3;
    double uploadMs = Median(upload) * 1e3;
    std::printf("ten pictures, medians of %d rounds:\n", kRounds);
    std::printf("  loader (LoadTexture)      %8.2f ms\n", loaderMs);
    std::printf("  decode floor (libjpeg)    %8.2f ms\n", decodeMs);
    std::printf("  upload floor (GLU mipmap) %8.2f ms\n", uploadMs);
    std::printf("  ratio loader / floors     %8.3f   (target <= 1.2)\n",
                loaderMs / (decodeMs + uploadMs));
    return 0;
}
