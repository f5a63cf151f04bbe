// Measures the picture loader against floors taken in the same run; the
// start-up with the pictures is measured by startup_bench.
//
// Run from the repository root with a display:
//     build/bench/pictures_bench [--table] [rounds] [cold rounds]
//
// Loader: LoadTexture on the ten shipped pictures (decode + mipmapped
// upload). Floors: a bare libjpeg decode of the same files straight into a
// buffer, and a bare gluBuild2DMipmaps of the already-decoded pixels. The
// figure is loader / (decode floor + upload floor), medians of the rounds.
//
// Warm: repeated in one process after an untimed pass. Cold: the first pass
// in a fresh process (this program started again in a role), as the demo
// meets it at start-up: fresh heap and texture memory page-faults here, and
// that cost is most of a cold load.
#include "assets/textures.h"
#include "bench_support.h"
#include "picture_files.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <time.h>
#include <unistd.h>
#include <vector>

// Reads the monotonic clock in seconds; called by every measurement.
static double NowSeconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
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

// Decodes the ten pictures with bare libjpeg, untimed; called before the
// upload floor.
static std::vector<Pixels> DecodeAll() {
    std::vector<Pixels> pictures;
    for (const char* path : kPicturePaths)
        pictures.push_back(DecodeStraight(path));
    return pictures;
}

// One cold measurement in this fresh process: the first pass of the loader,
// the decode floor or the upload floor, reported to the parent in seconds.
static int RunColdRole(const char* role) {
    if (!StartRendererForTests())
        return 1;
    double seconds = -1;
    if (std::strcmp(role, "--cold-loader") == 0)
        seconds = TimeLoader();
    else if (std::strcmp(role, "--cold-decode") == 0)
        seconds = TimeDecodeFloor();
    else if (std::strcmp(role, "--cold-upload") == 0)
        seconds = TimeUploadFloor(DecodeAll());
    ReportToParent("seconds", seconds);
    return seconds < 0 ? 1 : 0;
}

// Starts this program in a cold role; its time in milliseconds, -1 on failure.
static double TimeColdRole(const char* role) {
    Child child = StartChild({OwnPath(), role});
    const std::string report = ReadChildOutput(child, 60);
    const ChildEnd end = WaitForChild(child, 10);
    const double seconds = ReportValue(report, "seconds");
    return end.status == 0 && seconds >= 0 ? seconds * 1e3 : -1;
}

// The loader and its floors over several rounds, in milliseconds, and the
// ratio of each round.
struct Rounds {
    std::vector<double> loader, decode, upload, ratio;

    // Adds one round.
    void Add(double loaderMs, double decodeMs, double uploadMs) {
        loader.push_back(loaderMs);
        decode.push_back(decodeMs);
        upload.push_back(uploadMs);
        ratio.push_back(loaderMs / (decodeMs + uploadMs));
    }
};

// Prints one set of rounds for a reader.
static void PrintRounds(const char* title, const Rounds& rounds) {
    const auto line = [](const char* what, const std::vector<double>& values) {
        const Spread s = SpreadOf(values);
        std::printf("  %-26s %8.2f ms  (%s)\n", what, s.median, RangeText(s, 1).c_str());
    };
    std::printf("%s, medians of %zu rounds (smallest-largest):\n", title, rounds.loader.size());
    line("loader (LoadTexture)", rounds.loader);
    line("decode floor (libjpeg)", rounds.decode);
    line("upload floor (GLU mipmap)", rounds.upload);
    const Spread ratio = SpreadOf(rounds.ratio);
    std::printf("  %-26s %8.3f     (%s; target <= 1.2)\n", "ratio loader / floors", ratio.median,
                RangeText(ratio, 2).c_str());
}

// Prints one set of rounds as a row of the report's table.
static void PrintRow(const char* figure, const Rounds& rounds) {
    const Spread decode = SpreadOf(rounds.decode), upload = SpreadOf(rounds.upload);
    const Spread ratio = SpreadOf(rounds.ratio);
    PrintTableRow(figure, Format("%.1f ms", SpreadOf(rounds.loader).median),
                  Format("%.1f+%.1f ms bare decode+upload", decode.median, upload.median),
                  Format("%.2f", ratio.median), RangeText(ratio, 2));
}

// Runs the loader against its floors, warm and cold, and prints the figures.
int main(int argc, char** argv) {
    const bool table = TakeTableOption(argc, argv);
    if (argc > 1 && std::strncmp(argv[1], "--cold-", 7) == 0)
        return RunColdRole(argv[1]);
    const int warmRounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    const int coldRounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    for (const char* path : kPicturePaths)
        if (access(path, R_OK) != 0) {
            std::fprintf(stderr, "%s is missing: run from the repository root\n", path);
            return 1;
        }
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "needs a display\n");
        return 1;
    }
    setenv("MOVRA_NO_DIALOGS", "1", 0);

    // Cold first, while this process has touched neither SDL nor the GL: the
    // three roles take turns, so drift in the machine's load hits them alike.
    Rounds cold;
    for (int round = 0; round < coldRounds; ++round) {
        const double loader = TimeColdRole("--cold-loader");
        const double decode = TimeColdRole("--cold-decode");
        const double upload = TimeColdRole("--cold-upload");
        if (std::min({loader, decode, upload}) < 0) {
            std::fprintf(stderr, "a cold role failed\n");
            return 1;
        }
        cold.Add(loader, decode, upload);
    }

    if (!StartRendererForTests())
        return 1;
    const std::vector<Pixels> pictures = DecodeAll();
    // One untimed pass of each warms the file cache and the driver.
    TimeLoader();
    TimeDecodeFloor();
    TimeUploadFloor(pictures);
    Rounds warm;
    for (int round = 0; round < warmRounds; ++round) {
        const double loader = TimeLoader() * 1e3;
        const double decode = TimeDecodeFloor() * 1e3;
        warm.Add(loader, decode, TimeUploadFloor(pictures) * 1e3);
    }
    if (table) {
        PrintRow("ten pictures loaded, warm", warm);
        PrintRow("ten pictures loaded, cold (fresh process)", cold);
        return 0;
    }
    std::printf("ten pictures\n");
    PrintRounds("warm (the same process, after an untimed pass)", warm);
    PrintRounds("cold (each the first pass in a fresh process)", cold);
    return 0;
}
