// Capture benchmark: the capture tool's speed in frames per second and
// times real time, to MP4 and to PNG frames, against a floor that renders
// the same frames (the demo's ticks and the read-back) without writing
// them, measured in the same run; and where each capture's time went. Each
// pass runs in a fresh process, as the script leaves GL state behind (the
// cube's model-view matrix) that a second pass in the same process would
// start from. Needs no display; run from the repository root:
//     build/bench/capture_bench [from-ms to-ms [fps]]
// (default: the whole demo, 0 to 95000 ms at 60 fps).
#include "capture/capture.h"
#include "platform/screen.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"
#include "files.h"

// Wall-clock seconds since an arbitrary point.
static double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// CPU seconds used so far by this process and its ended children (ffmpeg).
static double CpuSeconds() {
    rusage self = {}, children = {};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec * 1e-6; };
    return seconds(self.ru_utime) + seconds(self.ru_stime) + seconds(children.ru_utime) +
           seconds(children.ru_stime);
}

// One measured pass: wall and CPU seconds, and where the time went.
struct Run {
    double wall, cpu;
    CaptureTimings stages;
};

// Runs one pass in a fresh child process that starts the demo with no
// display, and returns its figures; exits on failure.
template <typename Pass> static Run InFreshProcess(Pass pass) {
    int fds[2];
    if (pipe(fds) != 0)
        std::exit(1);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        if (StartOfflineDemo() != 0)
            _exit(1);
        g_captureTimings = CaptureTimings();
        const double wall = WallSeconds(), cpu = CpuSeconds();
        const bool passed = pass();
        Run run = {WallSeconds() - wall, CpuSeconds() - cpu, g_captureTimings};
        _exit(passed && write(fds[1], &run, sizeof run) == ssize_t(sizeof run) ? 0 : 1);
    }
    close(fds[1]);
    Run run = {};
    const bool got = read(fds[0], &run, sizeof run) == ssize_t(sizeof run);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!got || status != 0) {
        std::fprintf(stderr, "a benchmark pass failed\n");
        std::exit(1);
    }
    return run;
}

// Renders every frame of the capture and reads it back, writing nothing.
static bool RenderFloor(const CaptureOptions& options) {
    std::vector<uint8_t> rgba(size_t(kScreenWidth) * kScreenHeight * 4);
    const int64_t frames = CaptureFrameCount(options);
    for (int64_t i = 0; i < frames; ++i)
        RenderCaptureFrame(CaptureFrameTime(options, i), i == 0, rgba.data());
    return true;
}

// Runs the capture tool's own loop into `out`.
static bool Capture(CaptureOptions options, const std::string& out) {
    options.out = out;
    return RunCapture(options) == 0;
}

// The size of a file, or of the files in a folder, in megabytes.
static double Megabytes(const std::string& path, int64_t frames) {
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode))
        return double(info.st_size) / 1e6;
    double total = 0;
    for (int64_t i = 0; i < frames; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/frame-%06lld.png", static_cast<long long>(i));
        if (stat((path + name).c_str(), &info) == 0)
            total += double(info.st_size);
    }
    return total / 1e6;
}

// Prints one line of the table.
static void PrintRow(const char* name, const CaptureOptions& options, const Run& run,
                     const Run& floor) {
    const double frames = double(CaptureFrameCount(options));
    const double length = frames / options.fps;
    std::printf("%-22s %8.1f %8.2f %10.1f %8.2f %8.1f %9.2f\n", name, frames / run.wall,
                length / run.wall, run.wall, floor.wall / run.wall, run.cpu, floor.cpu / run.cpu);
}

// Prints where a capture's time went; the floor has no writer.
static void PrintStages(const char* name, const CaptureTimings& t, double megabytes) {
    std::printf("%-6s render %.2f s, read-back %.2f s", name, t.render, t.readback);
    if (t.frames == 0) {
        std::printf("\n");
        return;
    }
    std::printf("; loop waiting for the writer %.2f s; writer: convert %.2f s, PNG encode "
                "%.2f s, write/pipe %.2f s; ffmpeg finishing %.2f s; %lld of %lld frames new; "
                "%.1f MB\n",
                t.waiting, t.convert, t.encode, t.write, t.finish,
                static_cast<long long>(t.newFrames), static_cast<long long>(t.frames), megabytes);
}

// Prints the capture's figures as rows of the report's table.
static void PrintTable(const CaptureOptions& options, const Run& floor, const Run& video,
                       const Run& pictures) {
    const double frames = double(CaptureFrameCount(options));
    const double length = frames / options.fps;
    const std::string floorText = Format("%.1f frames/s (%.2fx real time) rendering and reading "
                                         "back alone",
                                         frames / floor.wall, length / floor.wall);
    const Run* runs[] = {&video, &pictures};
    const char* names[] = {"capture to MP4 (H.264 + AAC)", "capture to PNG frames"};
    for (int i = 0; i < 2; ++i)
        PrintTableRow(names[i],
                      Format("%.1f frames/s (%.2fx real time)", frames / runs[i]->wall,
                             length / runs[i]->wall),
                      floorText, Format("%.2f", floor.wall / runs[i]->wall), "-");
}

int main(int argc, char** argv) {
    const bool table = TakeTableOption(argc, argv);
    CaptureOptions options;
    if (argc >= 3)
        options.from = std::atoi(argv[1]), options.to = std::atoi(argv[2]);
    if (argc >= 4)
        options.fps = std::atoi(argv[3]);
    const std::string dir = MakeTemporaryFolder();
    const int64_t frames = CaptureFrameCount(options);
    if (!table)
        std::printf("Capture of %d to %d ms at %d fps (%lld frames, %.1f s of demo)\n",
                    options.from, options.to, options.fps, static_cast<long long>(frames),
                    double(frames) / options.fps);

    const Run floor = InFreshProcess([&] { return RenderFloor(options); });
    const Run video = InFreshProcess([&] { return Capture(options, dir + "/bench.mp4"); });
    const double videoMegabytes = Megabytes(dir + "/bench.mp4", frames);
    const Run pictures = InFreshProcess([&] { return Capture(options, dir + "/frames"); });
    const double pictureMegabytes = Megabytes(dir + "/frames", frames);
    RemoveFolder(dir);
    if (table) {
        PrintTable(options, floor, video, pictures);
        return 0;
    }

    std::printf("\n%-22s %8s %8s %10s %8s %8s %9s\n", "", "frames/s", "x real", "seconds",
                "of floor", "CPU s", "CPU floor");
    PrintRow("floor: render + read", options, floor, floor);
    PrintRow("MP4 (H.264 + AAC)", options, video, floor);
    PrintRow("PNG frames", options, pictures, floor);
    std::printf("\n");
    PrintStages("floor", floor.stages, 0);
    PrintStages("MP4", video.stages, videoMegabytes);
    PrintStages("PNG", pictures.stages, pictureMegabytes);
    std::printf("\n\"of floor\" is the floor's time over the capture's (1 = as fast as rendering "
                "alone); CPU counts ffmpeg too. Targets: MP4 at least 4x real time, PNG at "
                "least 2x.\n");
    return 0;
}
