// Capture benchmark: the capture tool's speed to MP4 at the video sizes
// (1920 x 1080, the same with --samples 2, and 3840 x 2160, 60 fps) and at
// 640 x 480 to MP4 and to PNG frames, each against its floors measured in
// the same run: rendering and reading back the same frames without writing
// them, and ffmpeg encoding the same YUV frames alone (read from a file,
// with the capture's own settings, without the sound). The floors and the
// capture take turns round by round; each figure is the median of the
// rounds, with the spread of its ratio. Also where the capture's time went.
// Each pass runs in a fresh process, as the script leaves GL state behind
// (the cube's model-view matrix) that a second pass would start from.
// Needs no display; run from the repository root:
//     build/bench/capture_bench [--table] [--rounds N] [from-ms to-ms [fps]]
// (default: 3 rounds of 36000 to 44000 ms at 60 fps; see kStretch).
#include "capture/capture.h"
#include "capture/capture_output.h"
#include "capture/video_file.h"
#include "platform/screen.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "files.h"

// The default stretch: 4 s of a still picture, then its cut to the cube and
// 4 s of the cube, the heaviest part to draw and to encode: the whole demo is
// about half still (48 s of still pictures and black) and half moving (27 s
// of sprites, 20 s of the cube).
constexpr int32_t kStretch[2] = {36000, 44000};

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

// The machine's load over the last minute, from /proc/loadavg.
static double LoadAverage() {
    double load = -1;
    if (std::FILE* file = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(file, "%lf", &load) != 1)
            load = -1;
        std::fclose(file);
    }
    return load;
}

// One measured pass: wall and CPU seconds, and where the time went.
struct Run {
    double wall, cpu;
    CaptureTimings stages;
};

// Runs one pass in a fresh child process that starts the demo with no
// display at the options' size, and returns its figures; exits on failure.
template <typename Pass> static Run InFreshProcess(const CaptureOptions& options, Pass pass) {
    int fds[2];
    if (pipe(fds) != 0)
        std::exit(1);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        if (StartOfflineDemo(options) != 0)
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

// Renders every frame of the capture and reads it back, writing nothing:
// the render floor.
static bool RenderFloor(const CaptureOptions& options) {
    std::vector<uint8_t> rgba(size_t(g_screenPixels.width) * g_screenPixels.height * 4);
    const int64_t frames = CaptureFrameCount(options);
    for (int64_t i = 0; i < frames; ++i)
        RenderCaptureFrame(CaptureFrameTime(options, i), i == 0, rgba.data());
    return true;
}

// Renders every frame and writes it to `path` as the raw YUV the capture
// pipes to ffmpeg: the encoder floor's input.
static bool WriteYuvFrames(const CaptureOptions& options, const std::string& path) {
    const FrameLayout layout = CaptureFrameLayout(options);
    std::vector<uint8_t> rgba(size_t(g_screenPixels.width) * g_screenPixels.height * 4);
    std::vector<uint8_t> yuv = BlackVideoFrame(layout);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool written = fd >= 0;
    const int64_t frames = CaptureFrameCount(options);
    for (int64_t i = 0; written && i < frames; ++i) {
        if (RenderCaptureFrame(CaptureFrameTime(options, i), i == 0, rgba.data()))
            ConvertToVideoFrame(rgba.data(), layout, yuv.data());
        written = WriteAll(fd, yuv.data(), yuv.size());
    }
    return fd >= 0 && close(fd) == 0 && written;
}

// Runs ffmpeg alone on the raw frames with the capture's settings: the
// encoder floor. Its CPU is that of the ended child.
static Run EncoderFloor(const CaptureOptions& options, const std::string& frames,
                        const std::string& out) {
    std::vector<std::string> args =
        VideoEncoderArguments(CaptureFrameLayout(options), options.fps, frames, "", out);
    args.insert(args.begin(), "ffmpeg");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    const double wall = WallSeconds(), cpu = CpuSeconds();
    const pid_t pid = fork();
    if (pid == 0) {
        execvp("ffmpeg", argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (pid < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "ffmpeg failed on the raw frames\n");
        std::exit(1);
    }
    return {WallSeconds() - wall, CpuSeconds() - cpu, {}};
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

// One capture measured: its options and output.
struct Case {
    const char* name;
    CaptureOptions options;
    bool video; // to MP4, with an encoder floor; else PNG frames
};

// What the rounds of one case gave.
struct Figures {
    std::vector<Run> captures, renders, encoders;
    std::vector<double> ratios; // the capture's speed over the slower floor's, per round
    double megabytes = 0;       // the last round's output
};

// The median of one figure over the rounds.
template <typename Figure> static double Median(const std::vector<Run>& runs, Figure figure) {
    std::vector<double> values;
    for (const Run& run : runs)
        values.push_back(figure(run));
    return SpreadOf(values).median;
}

// Prints where a capture's time went, in its middle round.
static void PrintStages(const Case& c, const Figures& f) {
    const CaptureTimings& t = f.captures[f.captures.size() / 2].stages;
    const double wall = f.captures[f.captures.size() / 2].wall;
    std::printf("  %s, one round: %.1f s in all; render %.2f s, read-back %.2f s, loop waiting "
                "for the writer %.2f s; writer: compare and convert %.2f s, PNG encode %.2f s, "
                "write/pipe %.2f s; ffmpeg finishing %.2f s; %lld of %lld frames new; %.1f MB\n",
                c.name, wall, t.render, t.readback, t.waiting, t.convert, t.encode, t.write,
                t.finish, static_cast<long long>(t.newFrames), static_cast<long long>(t.frames),
                f.megabytes);
}

int main(int argc, char** argv) {
    const bool table = TakeTableOption(argc, argv);
    int rounds = 3;
    if (argc >= 3 && std::strcmp(argv[1], "--rounds") == 0) {
        rounds = std::max(1, std::atoi(argv[2]));
        argv += 2, argc -= 2;
    }
    CaptureOptions base;
    base.from = kStretch[0], base.to = kStretch[1];
    if (argc >= 3)
        base.from = std::atoi(argv[1]), base.to = std::atoi(argv[2]);
    if (argc >= 4)
        base.fps = std::atoi(argv[3]);
    const int64_t frames = CaptureFrameCount(base);
    const double length = double(frames) / base.fps;

    auto sized = [&](int width, int height, int samples) {
        CaptureOptions options = base;
        options.width = width, options.height = height, options.samples = samples;
        return options;
    };
    const std::vector<Case> cases = {
        {"640x480 to MP4", base, true},
        {"640x480 to PNG frames", base, false},
        {"1920x1080 to MP4", sized(1920, 1080, 1), true},
        {"1920x1080 --samples 2 to MP4", sized(1920, 1080, 2), true},
        {"3840x2160 to MP4", sized(3840, 2160, 1), true},
    };
    const double loadBefore = LoadAverage();
    if (!table)
        std::printf("Capture of %d to %d ms at %d fps (%lld frames, %.1f s of demo), %d "
                    "round%s; load average %.1f on %ld cores at the start\n",
                    base.from, base.to, base.fps, static_cast<long long>(frames), length, rounds,
                    rounds == 1 ? "" : "s", loadBefore, sysconf(_SC_NPROCESSORS_ONLN));

    std::vector<Figures> figures(cases.size());
    const std::string dir = MakeTemporaryFolder();
    for (size_t n = 0; n < cases.size(); ++n) {
        const Case& c = cases[n];
        Figures& f = figures[n];
        // The encoder floor's input, made once: the same frames as the
        // capture's, converted by the same code.
        const std::string raw = dir + "/frames.yuv";
        if (c.video)
            InFreshProcess(c.options, [&] { return WriteYuvFrames(c.options, raw); });
        const std::string out = dir + (c.video ? "/capture.mp4" : "/frames");
        for (int round = 0; round < rounds; ++round) {
            f.renders.push_back(InFreshProcess(c.options, [&] { return RenderFloor(c.options); }));
            if (c.video)
                f.encoders.push_back(EncoderFloor(c.options, raw, dir + "/encoded.mp4"));
            f.captures.push_back(
                InFreshProcess(c.options, [&] { return Capture(c.options, out); }));
            const double floor =
                std::max(f.renders.back().wall, c.video ? f.encoders.back().wall : 0.0);
            f.ratios.push_back(floor / f.captures.back().wall);
            f.megabytes = Megabytes(out, frames);
            if (!c.video)
                RemoveFolder(out);
        }
        unlink(raw.c_str());
    }
    RemoveFolder(dir);
    const double loadAfter = LoadAverage();

    auto fps = [&](const Run& run) { return double(frames) / run.wall; };
    if (table) {
        for (size_t n = 0; n < cases.size(); ++n) {
            const Case& c = cases[n];
            const Figures& f = figures[n];
            const double render = Median(f.renders, fps);
            const double encoder = c.video ? Median(f.encoders, fps) : 0;
            const double capture = Median(f.captures, fps);
            const Spread ratio = SpreadOf(f.ratios);
            const std::string floor =
                c.video ? Format("%.1f frames/s, the slower of rendering and reading back (%.1f) "
                                 "and ffmpeg encoding alone (%.1f)",
                                 std::min(render, encoder), render, encoder)
                        : Format("%.1f frames/s rendering and reading back alone", render);
            PrintTableRow(std::string("capture ") + c.name + " at " + std::to_string(base.fps) +
                              " fps",
                          Format("%.1f frames/s (%.2fx real time)", capture,
                                 capture * length / double(frames)),
                          floor, Format("%.2f", ratio.median), RangeText(ratio, 2));
        }
        return 0;
    }

    std::printf("\n%-30s %9s %7s %11s %11s %9s %11s %8s %9s\n", "", "frames/s", "x real",
                "render fps", "encode fps", "of slower", "spread", "CPU s", "encode CPU");
    for (size_t n = 0; n < cases.size(); ++n) {
        const Case& c = cases[n];
        const Figures& f = figures[n];
        const double capture = Median(f.captures, fps);
        const Spread ratio = SpreadOf(f.ratios);
        std::printf(
            "%-30s %9.1f %7.2f %11.1f %11s %9.2f %11s %8.1f %9s\n", c.name, capture,
            capture * length / double(frames), Median(f.renders, fps),
            c.video ? Format("%.1f", Median(f.encoders, fps)).c_str() : "-", ratio.median,
            RangeText(ratio, 2).c_str(), Median(f.captures, [](const Run& run) { return run.cpu; }),
            c.video
                ? Format("%.1f", Median(f.encoders, [](const Run& run) { return run.cpu; })).c_str()
                : "-");
    }
    std::printf("\nWhere the time went (the middle round):\n");
    for (size_t n = 0; n < cases.size(); ++n)
        PrintStages(cases[n], figures[n]);
    std::printf("\n\"of slower\" is the slower floor's time over the capture's (1 = as fast as "
                "the slower of rendering alone and encoding alone). Goals: 1920x1080 at least "
                "1x real time and 0.6 of its slower floor, every other size at least 0.5. Load "
                "average %.1f at the start, %.1f at the end.\n",
                loadBefore, loadAfter);
    return 0;
}
