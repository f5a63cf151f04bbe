// Measures the picture loader against floors taken in the same run, and the
// start-up from process start to the first tick.
//
// Run from the repository root with a display:  build/bench/pictures_bench
//
// Loader: LoadTexture on the ten shipped pictures (decode + mipmapped
// upload). Floors: a bare libjpeg decode of the same files straight into a
// buffer, and a bare gluBuild2DMipmaps of the already-decoded pixels. The
// figure is loader / (decode floor + upload floor), medians of the rounds.
//
// Start-up: the bench runs itself again as a fresh process that does the
// demo's start-up (window, renderer, the ten pictures, the loop); its first
// tick reports the monotonic clock, measured from just before the fork.
#include "app/app.h"
#include "app/messages.h"
#include "app/renderer.h"
#include "app/screen.h"
#include "app/ticks.h"
#include "app/window.h"
#include "assets/textures.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

constexpr int kRounds = 15;
constexpr int kStartupRuns = 7;
constexpr const char* kStartupChildFlag = "--startup-child";

// Decoded pixels of one shipped picture, for the upload floor.
struct Decoded {
    int width, height, components;
    std::vector<uint8_t> bytes;
};

// Where the start-up child writes the time of its first tick.
static int s_firstTickPipe = -1;

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

// Decodes one file with libjpeg's defaults straight into a fresh buffer,
// one scanline at a time; called by TimeDecodeFloor and DecodeAll.
static Decoded DecodeBare(const char* path) {
    Decoded picture = {};
    std::FILE* file = std::fopen(path, "rb");
    if (!file)
        return picture;
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    picture.width = int(cinfo.output_width);
    picture.height = int(cinfo.output_height);
    picture.components = cinfo.output_components;
    size_t rowBytes = size_t(picture.width) * size_t(picture.components);
    picture.bytes.resize(rowBytes * size_t(picture.height));
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = picture.bytes.data() + cinfo.output_scanline * rowBytes;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
    return picture;
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
        total += DecodeBare(path).bytes.size();
    double seconds = NowSeconds() - start;
    if (total == 0)
        std::fprintf(stderr, "nothing decoded\n");
    return seconds;
}

// Times the bare mipmapped upload of already-decoded pixels, then frees the
// textures; called by main.
static double TimeUploadFloor(const std::vector<Decoded>& pictures) {
    GLuint names[kTextureCount] = {};
    double start = NowSeconds();
    glGenTextures(kTextureCount, names);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (int slot = 0; slot < kTextureCount; ++slot) {
        const Decoded& picture = pictures[size_t(slot)];
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

// The start-up child's tick source: the first read sends the time to the
// parent and asks the loop to end. Installed by RunStartupChild.
static uint32_t ReportFirstTick() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (s_firstTickPipe >= 0) {
        double seconds = double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
        if (write(s_firstTickPipe, &seconds, sizeof seconds) != ssize_t(sizeof seconds))
            std::_Exit(3);
        close(s_firstTickPipe);
        s_firstTickPipe = -1;
        RequestQuit();
    }
    return uint32_t(uint64_t(now.tv_sec) * 1000u + uint64_t(now.tv_nsec) / 1000000u);
}

// Does the demo's start-up as main does, with the reporting tick source;
// called by main in the re-run bench.
static int RunStartupChild(int pipeFd) {
    s_firstTickPipe = pipeFd;
    SetTickSourceForTests(ReportFirstTick);
    SDL_Window* window =
        CreateMainWindow("Movra first demo", kScreenWidth, kScreenHeight, 0, g_fullscreen);
    if (!window)
        return 1;
    InitDemo(window);
    return RunDemo();
}

// Starts the bench again as a start-up child and returns the seconds from
// just before the fork to its first tick; negative on failure. Called by
// main before this process touches the window system.
static double MeasureStartup() {
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    std::string fdText = std::to_string(fds[1]);
    std::fflush(nullptr);
    double start = NowSeconds();
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        execl("/proc/self/exe", "pictures_bench", kStartupChildFlag, fdText.c_str(),
              static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    close(fds[1]);
    double firstTick = 0;
    bool reported = read(fds[0], &firstTick, sizeof firstTick) == ssize_t(sizeof firstTick);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!reported || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return firstTick - start;
}

// Runs the start-up measurement, then the loader against its floors, and
// prints the figures.
int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], kStartupChildFlag) == 0)
        return RunStartupChild(std::atoi(argv[2]));
    for (const char* path : kPicturePaths)
        if (access(path, R_OK) != 0) {
            std::fprintf(stderr, "%s is missing: run from the repository root\n", path);
            return 1;
        }
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "needs a display\n");
        return 1;
    }

    std::vector<double> startups;
    for (int run = 0; run < kStartupRuns; ++run) {
        double seconds = MeasureStartup();
        if (seconds < 0) {
            std::fprintf(stderr, "the start-up child did not reach its first tick\n");
            return 1;
        }
        startups.push_back(seconds);
    }

    SDL_Window* window =
        CreateMainWindow("Movra first demo", kScreenWidth, kScreenHeight, 0, g_fullscreen);
    if (!window)
        return 1;
    g_window = window;
    InitRenderer(kScreenWidth, kScreenHeight);
    std::vector<Decoded> pictures;
    for (const char* path : kPicturePaths)
        pictures.push_back(DecodeBare(path));

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
    std::printf(
        "start-up to first tick, %d runs: median %.1f ms, slowest %.1f ms   (target < 1000)\n",
        kStartupRuns, Median(startups) * 1e3,
        *std::max_element(startups.begin(), startups.end()) * 1e3);
    return 0;
}
