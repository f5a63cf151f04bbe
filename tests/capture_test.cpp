// The capture tool end to end: the real binary with no display, its PNG
// frames and MP4 video checked against the live reference frames, the
// music decoded here, ffprobe and its own refusals.
#include "support.h"

#include "capture/capture.h"
#include "capture/video_file.h"
#include "audio/audio.h"
#include "demo/scenes.h"
#include "mp3_files.h"
#include "screenshots.h"
#include "platform/screen.h"

#include <gtest/gtest.h>

#include <GL/gl.h>
#include <png.h>

#include <algorithm>
#include <array>
#include <map>
#include <sstream>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <thread>

namespace {

// Runs the capture tool from the repository root and waits for it.
ChildResult RunCaptureTool(const std::vector<std::string>& arguments,
                           const std::vector<std::string>& environment = {}) {
    return WaitForDemo(StartProgram(MOVRA_CAPTURE_BINARY, arguments, environment), 300);
}

// An RGB picture read from a PNG file, rows top first.
struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    Rgb At(int x, int y) const {
        const uint8_t* p = &rgb[(size_t(y) * width + x) * 3];
        return {p[0], p[1], p[2]};
    }
};

Picture ReadPng(const std::string& path) {
    Picture picture;
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return picture;
    image.format = PNG_FORMAT_RGB;
    picture.rgb.resize(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr)) {
        picture.width = int(image.width);
        picture.height = int(image.height);
    }
    return picture;
}

// The frame files a capture wrote, in order.
std::vector<std::string> FrameFiles(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.')
                names.push_back(entry->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool Exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// The names in a folder that contain ".partial", left by an unfinished capture.
std::vector<std::string> LeftOvers(const std::string& folder) {
    std::vector<std::string> left;
    for (const std::string& name : FrameFiles(folder))
        if (name.find(".partial") != std::string::npos)
            left.push_back(name);
    return left;
}

// The lit part of a frame over black: the smallest box holding every pixel
// brighter than `threshold` in any channel; its size is -1 when none is.
struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
    int Width() const {
        return right - left + 1;
    }
    int Height() const {
        return bottom - top + 1;
    }
};
Box LitBox(int width, int height, const std::function<Rgb(int, int)>& pixel, int threshold = 40) {
    Box box;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Rgb c = pixel(x, y);
            if (c.r > threshold || c.g > threshold || c.b > threshold) {
                box.left = std::min(box.left, x), box.right = std::max(box.right, x);
                box.top = std::min(box.top, y), box.bottom = std::max(box.bottom, y);
            }
        }
    return box;
}

// The music as mono samples in [-1, 1], decoded here with libmpg123.
std::vector<float> MusicMono() {
    const std::vector<int16_t> stereo = DecodeMp3(kMusicPath);
    std::vector<float> mono(stereo.size() / 2);
    for (size_t n = 0; n < mono.size(); ++n)
        mono[n] = float(stereo[2 * n] + stereo[2 * n + 1]) / 65536.0f;
    return mono;
}

// The lowest band of the music heard at demo time t, computed directly:
// the 512 frames before the one heard (the music starts at 1001 ms), under
// a periodic Hann window; band 0 of the transform is their sum, over 512.
double LowestBand(const std::vector<float>& mono, int t) {
    const int64_t heard = int64_t(std::floor((t - 1001) * 44.1));
    double sum = 0;
    for (int n = 0; n < 512; ++n) {
        const int64_t frame = heard - 512 + n;
        const double sample = frame >= 0 && frame < int64_t(mono.size()) ? mono[frame] : 0.0;
        sum += sample * 0.5 * (1 - std::cos(2 * M_PI * n / 512));
    }
    return std::fabs(sum) / 512;
}

TEST(Capture, TheSameStretchGivesTheSameFramesEveryRun) {
    // The sprites and the cube: 300 ms at 30 fps each, captured twice; the
    // cube also at 1080p.
    const std::string dir = MakeTemporaryFolder();
    const struct {
        const char* from;
        std::vector<std::string> size;
    } cases[] = {{"12000", {}}, {"45000", {}}, {"45000", {"--size", "1080p"}}};
    for (const auto& c : cases) {
        std::vector<std::vector<uint8_t>> runs[2];
        for (int run = 0; run < 2; ++run) {
            const std::string out =
                dir + "/run" + std::to_string(run) + "-" + c.from + std::to_string(c.size.size());
            const std::string to = std::to_string(std::atoi(c.from) + 300);
            std::vector<std::string> arguments = {"--from", c.from, "--to",  to,
                                                  "--fps",  "30",   "--out", out};
            arguments.insert(arguments.end(), c.size.begin(), c.size.end());
            ChildResult result = RunCaptureTool(arguments);
            ASSERT_EQ(result.status, 0) << result.errors;
            for (const std::string& name : FrameFiles(out))
                runs[run].push_back(ReadFileBytes(out + "/" + name));
        }
        ASSERT_EQ(runs[0].size(), 9u) << "from " << c.from;
        EXPECT_TRUE(runs[0] == runs[1]) << "from " << c.from;
        EXPECT_NE(runs[0].front(), runs[0].back()) << "the frames move, from " << c.from;
    }
    RemoveFolder(dir);
}

TEST(Capture, FramesMatchTheLiveReferenceFrames) {
    // One frame each; a start where no tick draws steps back to the last
    // one that did (at 32000 the 31999 picture stays up, at 95000 the last
    // picture), and before any tick drew the screen is black.
    const struct {
        const char* from;
        const char* reference; // "" for black
    } cases[] = {
        {"10000", "frame-10000"}, {"32000", "frame-29500"}, {"95000", "frame-95000"}, {"500", ""}};
    const std::string dir = MakeTemporaryFolder();
    for (const auto& c : cases) {
        const std::string out = dir + "/at-" + c.from;
        const std::string to = std::to_string(std::atoi(c.from) + 1);
        ChildResult result = RunCaptureTool({"--from", c.from, "--to", to, "--out", out});
        ASSERT_EQ(result.status, 0) << result.errors;
        ASSERT_EQ(FrameFiles(out).size(), 1u) << c.from;
        const Picture frame = ReadPng(out + "/frame-000000.png");
        ASSERT_EQ(frame.width, kScreenWidth) << c.from;
        ASSERT_EQ(frame.height, kScreenHeight) << c.from;
        const Thumbnail thumbnail =
            MakeThumbnail(frame.width, frame.height, [&](int x, int y) { return frame.At(x, y); });
        Thumbnail expected(thumbnail.size(), 0);
        if (*c.reference) {
            ASSERT_TRUE(ReadThumbnail(std::string(MOVRA_SOURCE_DIR) + "/tests/reference/" +
                                          c.reference + ".ppm",
                                      expected));
        }
        EXPECT_LE(MeanDifference(thumbnail, expected), 1.0) << "from " << c.from;
        EXPECT_LE(LargestDifference(thumbnail, expected), 24) << "from " << c.from;
    }
    RemoveFolder(dir);
}

TEST(Capture, TheCubePulsesWithTheLowestBandOfTheMusicAtEachFrame) {
    // Two seconds of the cube at 20 fps. Each frame's cube must have the
    // size of a cube drawn here at the same tick with the lowest band of
    // the music at that time, computed from the file.
    const std::string dir = MakeTemporaryFolder();
    const std::string out = dir + "/cube";
    ChildResult result =
        RunCaptureTool({"--from", "44000", "--to", "46000", "--fps", "20", "--out", out});
    ASSERT_EQ(result.status, 0) << result.errors;
    std::vector<Box> captured;
    for (const std::string& name : FrameFiles(out)) {
        const Picture frame = ReadPng(out + "/" + name);
        captured.push_back(
            LitBox(frame.width, frame.height, [&](int x, int y) { return frame.At(x, y); }));
    }
    ASSERT_EQ(captured.size(), 40u);

    const std::vector<float> mono = MusicMono();
    ASSERT_GT(mono.size(), 46u * 44100);
    double smallest = 1e9, largest = 0;
    for (int i = 0; i < 40; ++i) {
        const double scale = 1 + 20 * LowestBand(mono, 44000 + 50 * i);
        smallest = std::min(smallest, scale), largest = std::max(largest, scale);
    }
    // The bass moves the cube a lot here, so a band read at the wrong time
    // or with the wrong scale shows.
    EXPECT_GT(largest - smallest, 1.0);

    ChildResult child = RunInChild([&] {
        if (StartOfflineDemo() != 0)
            return 2;
        UseFakeClock(0);
        std::vector<uint8_t> rgba(size_t(kScreenWidth) * kScreenHeight * 4);
        for (int i = 0; i < 40; ++i) {
            const int t = 44000 + 50 * i;
            SetFakeTicks(kCaptureStartTick + uint32_t(t));
            g_spectrum[0] = float(LowestBand(mono, t));
            DrawSpectrumCube();
            ReadVirtualScreen(rgba.data());
            const Box expected = LitBox(kScreenWidth, kScreenHeight, [&](int x, int y) {
                const uint8_t* p = &rgba[(size_t(kScreenHeight - 1 - y) * kScreenWidth + x) * 4];
                return Rgb{p[0], p[1], p[2]};
            });
            EXPECT_NEAR(captured[i].Width(), expected.Width(), 1) << "t = " << t;
            EXPECT_NEAR(captured[i].Height(), expected.Height(), 1) << "t = " << t;
        }
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
        std::fflush(stdout);
        return ::testing::Test::HasFailure() ? 1 : 0;
    });
    EXPECT_EQ(child.status, 0) << child.errors;
    RemoveFolder(dir);
}

// The best lag, in frames within +-maxLag, of b against a: where the
// samples of a from aStart match those of b from bStart + lag.
int BestLag(const std::vector<float>& a, size_t aStart, const std::vector<float>& b, size_t bStart,
            size_t length, int maxLag) {
    int best = 0;
    double bestScore = -1e30;
    for (int lag = -maxLag; lag <= maxLag; ++lag) {
        double score = 0;
        for (size_t n = 0; n < length; ++n)
            score += double(a[aStart + n]) * b[bStart + lag + n];
        if (score > bestScore)
            bestScore = score, best = lag;
    }
    return best;
}

// The loudest of the first `count` samples.
float Loudest(const std::vector<float>& sound, size_t count) {
    float loudest = 0;
    for (size_t n = 0; n < count && n < sound.size(); ++n)
        loudest = std::max(loudest, std::fabs(sound[n]));
    return loudest;
}

// Runs ffprobe or ffmpeg and returns what it printed.
std::string RunTool(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char block[4096];
        while (size_t got = fread(block, 1, sizeof block, pipe))
            output.append(block, got);
        pclose(pipe);
    }
    return output;
}

TEST(Capture, VideoHasItsFramesAndTheMusicWhereALiveRunPlaysIt) {
    const std::string dir = MakeTemporaryFolder();
    const std::vector<float> music = MusicMono();
    // From 0 the music starts at 1001 ms; from 2000 the video starts 999 ms
    // into it. Either way, 1.5 s of video is matched against the file.
    for (const int from : {0, 2000}) {
        const std::string out = dir + "/from" + std::to_string(from) + ".mp4";
        ChildResult result = RunCaptureTool(
            {"--from", std::to_string(from), "--to", std::to_string(from + 3000), "--out", out});
        ASSERT_EQ(result.status, 0) << result.errors;
        EXPECT_EQ(RunTool("ffprobe -v error -select_streams v -show_entries stream=codec_name,"
                          "width,height,pix_fmt,r_frame_rate,nb_frames -of csv=p=0 " +
                          out),
                  "h264,640,480,yuv420p,60/1,180\n");
        const std::string audio = RunTool(
            "ffprobe -v error -select_streams a -show_entries stream=codec_name,duration -of "
            "csv=p=0 " +
            out);
        EXPECT_EQ(audio.substr(0, 4), "aac,") << audio;
        EXPECT_NEAR(std::atof(audio.c_str() + 4), 3.0, 0.03) << "from " << from;

        const std::string raw = out + ".raw";
        RunTool("ffmpeg -v error -i " + out + " -map 0:a -f s16le -ac 2 -ar 44100 -y " + raw);
        const std::vector<int16_t> stereo = ReadRawSamples(raw);
        std::vector<float> sound(stereo.size() / 2);
        for (size_t n = 0; n < sound.size(); ++n)
            sound[n] = float(stereo[2 * n] + stereo[2 * n + 1]) / 65536.0f;
        ASSERT_GE(sound.size(), size_t(2.9 * 44100)) << "from " << from;
        const int64_t offset = int64_t(std::floor((from - 1001) * 44.1)); // music frame at 0
        const size_t start = from == 0 ? 66150 : 8820;                    // 1.5 s, 0.2 s
        const int lag = BestLag(sound, start, music, size_t(int64_t(start) + offset), 44100, 441);
        EXPECT_LE(std::abs(lag), 2)
            << "from " << from << ": the music is " << lag << " frames late in the video";
        if (from == 0) {
            EXPECT_LT(Loudest(sound, size_t(0.97 * 44100)), 0.001) << "silence before the music";
        }
    }
    RemoveFolder(dir);
}

TEST(Capture, BadOptionsAreRefusedWithStatusTwo) {
    const struct {
        std::vector<std::string> arguments;
        const char* named; // what the message must name
    } cases[] = {
        {{}, "--out"},
        {{"--out"}, "--out"},
        {{"--out", "x", "--fps", "0"}, "--fps"},
        {{"--out", "x", "--fps", "241"}, "--fps"},
        {{"--out", "x", "--fps", "6O"}, "--fps"},
        {{"--out", "x", "--from", "-1"}, "--from"},
        {{"--out", "x", "--from", "3000", "--to", "3000"}, "--to"},
        {{"--out", "x", "--scale", "5"}, "--scale"},
        {{"--out", "x", "--speed", "2"}, "--speed"},
        {{"--out", "x", "extra"}, "extra"},
        {{"--out", "x", "--size", "641x480"}, "--size"},
        {{"--out", "x", "--size", "1920x478"}, "--size"},
        {{"--out", "x", "--size", "7682x4320"}, "--size"},
        {{"--out", "x", "--size", "1080"}, "--size"},
        {{"--out", "x", "--samples", "3"}, "--samples"},
        {{"--out", "x", "--size", "1080p", "--scale", "2"}, "--scale and --size"},
        // More than the GL draws (16384 a side under llvmpipe): refused
        // once it is asked, before the pictures load.
        {{"--out", "x", "--to", "1", "--size", "7680x4320", "--samples", "4"},
         "this GL draws at most"},
    };
    for (const auto& c : cases) {
        ChildResult result = RunCaptureTool(c.arguments);
        EXPECT_EQ(result.status, 2) << c.named << ": " << result.errors;
        EXPECT_NE(result.errors.find(c.named), std::string::npos) << result.errors;
    }
}

TEST(Capture, AnOutputThatCannotBeMadeLeavesNothingBehind) {
    const std::string dir = MakeTemporaryFolder();
    ASSERT_TRUE(WriteFileBytes(dir + "/file", {1}));
    const struct {
        std::string out;
        std::vector<std::string> environment;
    } cases[] = {
        {dir + "/missing/frames", {}},
        {dir + "/missing/video.mp4", {}},
        {dir + "/file/video.mp4", {}},
        {dir + "/file", {}},                             // not a folder of frames
        {dir + "/video.mp4", {"PATH=" + dir + "/none"}}, // no ffmpeg
    };
    for (const auto& c : cases) {
        ChildResult result = RunCaptureTool({"--to", "200", "--out", c.out}, c.environment);
        EXPECT_EQ(result.status, 1) << c.out << ": " << result.errors;
        EXPECT_NE(result.errors.find("movra-capture: "), std::string::npos) << result.errors;
        EXPECT_EQ(Exists(c.out), c.out == dir + "/file") << c.out;
        EXPECT_EQ(LeftOvers(dir), std::vector<std::string>()) << c.out;
    }
    RemoveFolder(dir);
}

TEST(Capture, AStopSignalLeavesNothingUnderTheFinalName) {
    const std::string dir = MakeTemporaryFolder();
    for (const auto& [signal, name] : {std::pair{SIGINT, "video.mp4"}, {SIGTERM, "frames"}}) {
        const std::string out = dir + "/" + name;
        DemoProcess capture = StartProgram(MOVRA_CAPTURE_BINARY, {"--out", out});
        // Waits until frames are being written, then stops it.
        for (int i = 0; i < 3000 && LeftOvers(dir).empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_FALSE(LeftOvers(dir).empty()) << name;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        kill(capture.pid, signal);
        ChildResult result = WaitForDemo(capture, 10);
        EXPECT_EQ(result.status, 128 + signal) << name << ": " << result.errors;
        EXPECT_FALSE(Exists(out)) << name;
        EXPECT_EQ(LeftOvers(dir), std::vector<std::string>()) << name;
    }
    RemoveFolder(dir);
}

// Captures the one frame at demo time `t` as a PNG with the options given
// and reads it; an empty picture when the capture failed.
Picture CaptureFrameAt(const std::string& dir, int t, const std::vector<std::string>& options) {
    const std::string out = dir + "/at-" + std::to_string(t) + "-" + std::to_string(options.size());
    std::vector<std::string> arguments = {
        "--from", std::to_string(t), "--to", std::to_string(t + 1), "--out", out};
    arguments.insert(arguments.end(), options.begin(), options.end());
    ChildResult result = RunCaptureTool(arguments);
    EXPECT_EQ(result.status, 0) << result.errors;
    return ReadPng(out + "/frame-000000.png");
}

// The picture of a 1920 x 1080 frame, 1440 x 1080 between its bars, shrunk
// to a thumbnail; `barsBlack` tells whether every pixel beside it is black.
Thumbnail PictureOfHdFrame(const Picture& frame, bool* barsBlack) {
    *barsBlack = frame.width == 1920 && frame.height == 1080;
    for (int y = 0; *barsBlack && y < frame.height; ++y)
        for (int x : {0, 239, 1680, 1919}) {
            const Rgb c = frame.At(x, y);
            *barsBlack = *barsBlack && (c.r | c.g | c.b) == 0;
        }
    for (int y = 0; *barsBlack && y < frame.height; y += 7)
        for (int x = 0; x < frame.width; x += x == 239 ? 1441 : 1) {
            const Rgb c = frame.At(x, y);
            *barsBlack = *barsBlack && (c.r | c.g | c.b) == 0;
        }
    return MakeThumbnail(1440, 1080, [&](int x, int y) { return frame.At(240 + x, y); });
}

TEST(CaptureSizes, HdFramesMatchTheReferenceFramesBetweenBlackBars) {
    // The pictures with and without the sprites against the recorded frames,
    // within a sixth of the screenshot tests' tolerance for a picture (a mean
    // difference of 6); the cube (its size follows the music, which the
    // recorded frame lacks) against the same frame captured at 640 x 480.
    const std::string dir = MakeTemporaryFolder();
    const struct {
        int t;
        unsigned reference; // the recorded frame's time; 0 for the 640 x 480 capture
    } cases[] = {{10000, 10000}, {36000, 35000}, {45000, 0}, {65000, 65000}};
    for (const auto& c : cases) {
        bool barsBlack = false;
        const Picture frame = CaptureFrameAt(dir, c.t, {"--size", "1080p"});
        const Thumbnail picture = PictureOfHdFrame(frame, &barsBlack);
        EXPECT_TRUE(barsBlack) << "t = " << c.t;
        Thumbnail expected = ReferenceFrame(c.reference);
        if (!c.reference) {
            const Picture small = CaptureFrameAt(dir, c.t, {});
            expected = MakeThumbnail(small.width, small.height,
                                     [&](int x, int y) { return small.At(x, y); });
        }
        EXPECT_LE(MeanDifference(picture, expected), 1.0) << "t = " << c.t;
    }
    RemoveFolder(dir);
}

// The detail in a picture's luma: the sum of the squared differences of
// neighbouring pixels across and down, over a box.
double DetailEnergy(const std::function<double(int, int)>& luma, const Box& box) {
    double energy = 0;
    for (int y = box.top; y < box.bottom; ++y)
        for (int x = box.left; x < box.right; ++x) {
            const double here = luma(x, y);
            energy += std::pow(luma(x + 1, y) - here, 2) + std::pow(luma(x, y + 1) - here, 2);
        }
    return energy;
}

TEST(CaptureSizes, TheCubeIsDrawnAtTheFramesSizeNotEnlarged) {
    // The cube's frame at 1080p against the 640 x 480 one enlarged to the
    // same 1440 x 1080 by bilinear filtering: drawn at the size, its edges
    // and textures hold more detail.
    const std::string dir = MakeTemporaryFolder();
    const Picture hd = CaptureFrameAt(dir, 45000, {"--size", "1080p"});
    const Picture small = CaptureFrameAt(dir, 45000, {});
    ASSERT_EQ(hd.width, 1920);
    ASSERT_EQ(small.width, kScreenWidth);
    auto luma = [](Rgb c) { return 0.299 * c.r + 0.587 * c.g + 0.114 * c.b; };
    auto hdLuma = [&](int x, int y) { return luma(hd.At(240 + x, y)); };
    auto enlargedLuma = [&](int x, int y) {
        const double sx = std::clamp((x + 0.5) / 2.25 - 0.5, 0.0, kScreenWidth - 1.0);
        const double sy = std::clamp((y + 0.5) / 2.25 - 0.5, 0.0, kScreenHeight - 1.0);
        const int x0 = int(sx), y0 = int(sy);
        const int x1 = std::min(x0 + 1, kScreenWidth - 1), y1 = std::min(y0 + 1, kScreenHeight - 1);
        const double fx = sx - x0, fy = sy - y0;
        return (luma(small.At(x0, y0)) * (1 - fx) + luma(small.At(x1, y0)) * fx) * (1 - fy) +
               (luma(small.At(x0, y1)) * (1 - fx) + luma(small.At(x1, y1)) * fx) * fy;
    };
    const Box cube = LitBox(1440, 1080, [&](int x, int y) { return hd.At(240 + x, y); });
    ASSERT_GT(cube.Width(), 400);
    const double drawn = DetailEnergy(hdLuma, cube), enlarged = DetailEnergy(enlargedLuma, cube);
    std::printf("detail energy over the cube: drawn %.3g, enlarged %.3g\n", drawn, enlarged);
    EXPECT_GT(drawn, 1.5 * enlarged);
    RemoveFolder(dir);
}

// Renders the frame at demo time t in a child process with the options'
// pixels and samples and writes its RGBA read-back to `path`; the child's
// status is 0 when it rendered with no GL error.
ChildResult RenderFrameToFile(const CaptureOptions& options, int t, const std::string& path) {
    return RunInChild([&] {
        if (StartOfflineDemo(options) != 0)
            return 2;
        std::vector<uint8_t> rgba(size_t(g_screenPixels.width) * g_screenPixels.height * 4);
        RenderCaptureFrame(t, true, rgba.data());
        const GLenum error = glGetError();
        EXPECT_EQ(error, GLenum(GL_NO_ERROR));
        return WriteFileBytes(path, rgba) && error == GL_NO_ERROR ? 0 : 1;
    });
}

TEST(CaptureSizes, EachPixelOfSamplesTwoIsTheMeanOfItsFourDrawnPixels) {
    // 1080p with --samples 2 draws 2880 x 2160 pixels, as 2160p draws its
    // picture: each read-back pixel must be the mean of its 2 x 2 block.
    const std::string dir = MakeTemporaryFolder();
    CaptureOptions drawn, averaged;
    drawn.width = 3840, drawn.height = 2160;
    averaged.width = 1920, averaged.height = 1080, averaged.samples = 2;
    for (const int t : {10000, 45000}) {
        ChildResult result = RenderFrameToFile(drawn, t, dir + "/drawn");
        ASSERT_EQ(result.status, 0) << result.errors;
        result = RenderFrameToFile(averaged, t, dir + "/averaged");
        ASSERT_EQ(result.status, 0) << result.errors;
        const std::vector<uint8_t> big = ReadFileBytes(dir + "/drawn");
        const std::vector<uint8_t> small = ReadFileBytes(dir + "/averaged");
        ASSERT_EQ(big.size(), size_t(2880) * 2160 * 4);
        ASSERT_EQ(small.size(), big.size() / 4);
        int largest = 0;
        for (int y = 0; y < 1080; ++y)
            for (int x = 0; x < 1440; ++x)
                for (int c = 0; c < 3; ++c) {
                    int sum = 0;
                    for (int k = 0; k < 4; ++k)
                        sum += big[((size_t(2 * y + k / 2) * 2880) + 2 * x + k % 2) * 4 + c];
                    const int got = small[(size_t(y) * 1440 + x) * 4 + c];
                    largest = std::max(largest, std::abs(4 * got - sum));
                }
        // Within one level of the exact mean (4 x the difference, at most 4).
        EXPECT_LE(largest, 4) << "t = " << t;
    }
    RemoveFolder(dir);
}

// The frames of a capture at `times`, rendered in a child process, each as
// a hash of its bytes, and how many ticks were not drawn again; with
// `drawEvery` each frame is rendered as a capture's first, so every tick is
// drawn. Empty when the child failed or left a GL error.
std::vector<uint64_t> FrameHashes(const std::vector<int32_t>& times, bool drawEvery,
                                  int64_t* undrawn) {
    const std::string path = MakeTemporaryFolder() + "/hashes";
    ChildResult child = RunInChild([&] {
        if (StartOfflineDemo() != 0)
            return 2;
        std::vector<uint8_t> rgba(size_t(kScreenWidth) * kScreenHeight * 4);
        std::vector<uint64_t> hashes = {0};
        for (size_t i = 0; i < times.size(); ++i) {
            const bool drawn = RenderCaptureFrame(times[i], drawEvery || i == 0, rgba.data());
            uint64_t hash = 14695981039346656037ull; // FNV-1a
            for (const uint8_t byte : rgba)
                hash = (hash ^ byte) * 1099511628211ull;
            hashes.push_back(drawn ? hash : hashes.back());
        }
        hashes[0] = uint64_t(g_captureTimings.undrawnTicks);
        std::vector<uint8_t> bytes(hashes.size() * 8);
        std::memcpy(bytes.data(), hashes.data(), bytes.size());
        return glGetError() == GL_NO_ERROR && WriteFileBytes(path, bytes) ? 0 : 1;
    });
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    RemoveFolder(path.substr(0, path.rfind('/')));
    std::vector<uint64_t> hashes(bytes.size() / 8);
    std::memcpy(hashes.data(), bytes.data(), hashes.size() * 8);
    EXPECT_EQ(child.status, 0) << child.errors;
    if (hashes.empty())
        return hashes;
    *undrawn = int64_t(hashes[0]);
    return std::vector<uint64_t>(hashes.begin() + 1, hashes.end());
}

TEST(CaptureSizes, TicksNotDrawnAgainRepeatTheFramesTheyWouldHaveDrawn) {
    // Across each cut of the script, every 10 ms (between the milliseconds
    // where nothing is drawn): a capture, whose still ticks are not drawn
    // again, against the same ticks each drawn.
    std::vector<int32_t> times;
    for (const int32_t cut : {2000, 29000, 30000, 32000, 40000, 60000, 90000})
        for (int32_t t = cut - 95; t < cut + 100; t += 10)
            times.push_back(t);
    int64_t undrawn = 0, undrawnWhenEachIsDrawn = 0;
    const std::vector<uint64_t> captured = FrameHashes(times, false, &undrawn);
    const std::vector<uint64_t> drawn = FrameHashes(times, true, &undrawnWhenEachIsDrawn);
    ASSERT_EQ(captured.size(), times.size());
    ASSERT_EQ(drawn.size(), times.size());
    for (size_t i = 0; i < times.size(); ++i)
        EXPECT_EQ(captured[i], drawn[i]) << "t = " << times[i];
    EXPECT_GT(undrawn, int64_t(times.size() / 3));
    EXPECT_EQ(undrawnWhenEachIsDrawn, 0);
}

// What ffprobe says of a file as "key=value" lines, one map per stream
// asked for.
std::map<std::string, std::string> Probe(const std::string& path, const std::string& stream,
                                         const std::string& entries) {
    std::map<std::string, std::string> fields;
    std::istringstream lines(RunTool("ffprobe -v error -select_streams " + stream +
                                     " -show_entries stream=" + entries + " -of default=nw=1 " +
                                     path));
    for (std::string line; std::getline(lines, line);)
        if (line.find('=') != std::string::npos)
            fields[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
    return fields;
}

// The sound of a file (or of the music, resampled by ffmpeg as the capture
// resamples it) as mono samples at 48 kHz.
std::vector<float> SoundAt48kHz(const std::string& path, const std::string& raw) {
    RunTool("ffmpeg -v error -i " + path + " -map 0:a -f s16le -ac 2 -ar 48000 -y " + raw);
    const std::vector<int16_t> stereo = ReadRawSamples(raw);
    std::vector<float> mono(stereo.size() / 2);
    for (size_t n = 0; n < mono.size(); ++n)
        mono[n] = float(stereo[2 * n] + stereo[2 * n + 1]) / 65536.0f;
    return mono;
}

TEST(CaptureSizes, HdVideoIsMadeAsVideoSitesAskForIt) {
    const std::string dir = MakeTemporaryFolder(), video = dir + "/hd.mp4";
    ChildResult result =
        RunCaptureTool({"--size", "1080p", "--from", "0", "--to", "3000", "--out", video});
    ASSERT_EQ(result.status, 0) << result.errors;
    const std::map<std::string, std::string> expected = {
        {"codec_name", "h264"},       {"profile", "High"},      {"width", "1920"},
        {"height", "1080"},           {"pix_fmt", "yuv420p"},   {"field_order", "progressive"},
        {"color_range", "tv"},        {"color_space", "bt709"}, {"color_transfer", "bt709"},
        {"color_primaries", "bt709"}, {"r_frame_rate", "60/1"}, {"nb_frames", "180"}};
    EXPECT_EQ(Probe(video, "v",
                    "codec_name,profile,width,height,pix_fmt,field_order,color_range,"
                    "color_space,color_transfer,color_primaries,r_frame_rate,"
                    "nb_frames"),
              expected);
    std::map<std::string, std::string> audio =
        Probe(video, "a", "codec_name,profile,sample_rate,channels,bit_rate");
    // 384 kbit/s, less over the second of silence at the start.
    EXPECT_GT(std::atof(audio["bit_rate"].c_str()), 250000);
    EXPECT_LT(std::atof(audio["bit_rate"].c_str()), 400000);
    audio.erase("bit_rate");
    EXPECT_EQ(audio, (std::map<std::string, std::string>{{"codec_name", "aac"},
                                                         {"profile", "LC"},
                                                         {"sample_rate", "48000"},
                                                         {"channels", "2"}}));

    // Closed groups of half a second: an IDR frame every 30 frames and no
    // other key frame; at most 2 B-frames in a row.
    std::istringstream frames(RunTool("ffprobe -v error -select_streams v -show_entries "
                                      "frame=key_frame,pict_type -of default=nw=1 " +
                                      video));
    std::string keys, types, line;
    while (std::getline(frames, line))
        if (line.compare(0, 10, "key_frame=") == 0)
            keys += line.substr(10);
        else if (line.compare(0, 10, "pict_type=") == 0)
            types += line.substr(10);
    ASSERT_EQ(keys.size(), 180u);
    for (size_t i = 0; i < keys.size(); ++i)
        EXPECT_EQ(keys[i], i % 30 == 0 ? '1' : '0') << "frame " << i;
    EXPECT_NE(types.find("BB"), std::string::npos) << types;
    EXPECT_EQ(types.find("BBB"), std::string::npos) << types;
    std::istringstream headers(
        RunTool("ffmpeg -v info -i " + video + " -c copy -bsf:v trace_headers -f null - 2>&1"));
    int idr = 0; // NAL units of type 5, the slices of IDR frames
    while (std::getline(headers, line))
        idr += line.find("nal_unit_type") != std::string::npos && line.size() > 4 &&
               line.compare(line.size() - 4, 4, " = 5") == 0;
    EXPECT_EQ(idr, 6);

    // The index before the frames and no edit lists: the top-level boxes.
    const std::vector<uint8_t> file = ReadFileBytes(video);
    std::vector<std::string> boxes;
    std::string index;
    for (size_t at = 0; at + 8 <= file.size();) {
        const size_t size =
            size_t(file[at]) << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3];
        boxes.emplace_back(file.begin() + long(at) + 4, file.begin() + long(at) + 8);
        if (boxes.back() == "moov")
            index.assign(file.begin() + long(at),
                         file.begin() + long(std::min(at + size, file.size())));
        if (size < 8)
            break;
        at += size;
    }
    ASSERT_GE(boxes.size(), 3u);
    EXPECT_EQ(boxes[1], "moov");
    EXPECT_EQ(boxes.back(), "mdat");
    EXPECT_EQ(index.find("elst"), std::string::npos) << "an edit list";

    // The colours, decoded by ffmpeg as tagged, against the recorded frame
    // (tagged BT.601, this frame is off by 2 on average).
    // Raw RGB: a PNG would carry the tags' gamma, which a reader applies.
    RunTool("ffmpeg -v error -ss 1.5 -i " + video + " -frames:v 1 -f rawvideo -pix_fmt rgb24 -y " +
            dir + "/at1500.rgb");
    Picture decoded;
    decoded.rgb = ReadFileBytes(dir + "/at1500.rgb");
    decoded.width = 1920, decoded.height = int(decoded.rgb.size() / (1920 * 3));
    ASSERT_EQ(decoded.height, 1080);
    bool barsBlack = false;
    const Thumbnail picture = PictureOfHdFrame(decoded, &barsBlack);
    EXPECT_LT(MeanDifference(picture, ReferenceFrame(1500)), 1.5);

    // The music, resampled to 48 kHz by ffmpeg as the capture has it, from
    // 1001 ms; silence before.
    const std::vector<int16_t> music = DecodeMp3(kMusicPath);
    ASSERT_TRUE(WriteWavFile(dir + "/music.wav", music, 44100, 2));
    const std::vector<float> expectedSound = SoundAt48kHz(dir + "/music.wav", dir + "/music.raw");
    const std::vector<float> sound = SoundAt48kHz(video, dir + "/hd.raw");
    ASSERT_GE(sound.size(), size_t(2.95 * 48000));
    const size_t musicStart = 48048, start = 9600; // 1001 ms; 0.2 s into the music
    const int lag = BestLag(sound, musicStart + start, expectedSound, start, 48000, 480);
    EXPECT_LE(std::abs(lag), 1) << "the music is " << -lag << " samples late in the video";
    double product = 0, soundEnergy = 0, musicEnergy = 0;
    for (size_t n = 0; n < 48000; ++n) {
        const double a = sound[musicStart + start + n], b = expectedSound[start + n];
        product += a * b, soundEnergy += a * a, musicEnergy += b * b;
    }
    EXPECT_GT(product / std::sqrt(soundEnergy * musicEnergy), 0.98);
    EXPECT_LT(Loudest(sound, size_t(0.97 * 48000)), 0.001) << "silence before the music starts";
    RemoveFolder(dir);
}

TEST(CaptureSizes, FramesAreConvertedWithTheMatrixTheirSizeIsTaggedWith) {
    // Random pixels converted as for a video, against the matrices' own
    // weights (BT.709 from 720 lines, BT.601 below) in TV range, each
    // sample within one level; the bars black.
    const struct {
        int width, height;
        double red, blue; // Kr and Kb; green takes the rest
    } cases[] = {
        {1920, 1080, 0.2126, 0.0722}, {1282, 720, 0.2126, 0.0722}, {854, 480, 0.299, 0.114}};
    for (const auto& c : cases) {
        CaptureOptions options;
        options.width = c.width, options.height = c.height;
        const FrameLayout layout = CaptureFrameLayout(options);
        std::vector<uint8_t> rgba(size_t(layout.pictureWidth) * layout.pictureHeight * 4);
        for (size_t i = 0; i < rgba.size(); ++i)
            rgba[i] = uint8_t(i * 2654435761u >> 13);
        std::vector<uint8_t> yuv = BlackVideoFrame(layout);
        ConvertToVideoFrame(rgba.data(), layout, yuv.data());
        // The picture's pixel at frame (x, y) as weighted luma and
        // differences, in 0..1 and -0.5..0.5; black in the bars.
        auto components = [&](int x, int y) {
            const int px = x - layout.pictureX, py = y - layout.pictureY;
            if (px < 0 || py < 0 || px >= layout.pictureWidth || py >= layout.pictureHeight)
                return std::array<double, 3>{0, 0, 0};
            const uint8_t* p =
                &rgba[(size_t(layout.pictureHeight - 1 - py) * layout.pictureWidth + px) * 4];
            const double r = p[0] / 255.0, g = p[1] / 255.0, b = p[2] / 255.0;
            const double luma = c.red * r + (1 - c.red - c.blue) * g + c.blue * b;
            return std::array<double, 3>{luma, (b - luma) / (2 - 2 * c.blue),
                                         (r - luma) / (2 - 2 * c.red)};
        };
        const size_t lumaBytes = size_t(c.width) * c.height, chromaWidth = size_t(c.width) / 2;
        double worst = 0;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x)
                worst = std::max(worst, std::fabs(yuv[size_t(y) * c.width + x] -
                                                  (16 + 219 * components(x, y)[0])));
        for (int y = 0; y < c.height; y += 2)
            for (int x = 0; x < c.width; x += 2)
                for (int k : {1, 2}) {
                    double mean = 0;
                    for (int d = 0; d < 4; ++d)
                        mean += components(x + d % 2, y + d / 2)[k] / 4;
                    const size_t at = lumaBytes * (k == 1 ? 4 : 5) / 4 +
                                      size_t(y / 2) * chromaWidth + size_t(x / 2);
                    worst = std::max(worst, std::fabs(yuv[at] - (128 + 224 * mean)));
                }
        EXPECT_LE(worst, 1.0) << c.width << "x" << c.height;
    }
}

TEST(CaptureSizes, AFullDiskOrADyingFfmpegLeavesNothingBehind) {
    // A 1080p capture into a file system that takes 1 MB (the limit on a
    // file's size stands in for it: ffmpeg and the PNG writer get EFBIG),
    // and into an ffmpeg that dies after taking 5 MB of frames.
    const std::string dir = MakeTemporaryFolder();
    ASSERT_EQ(mkdir((dir + "/bin").c_str(), 0755), 0);
    const std::string dying = "#!/bin/sh\nhead -c 5000000 >/dev/null\nkill -9 $$\n";
    ASSERT_TRUE(
        WriteFileBytes(dir + "/bin/ffmpeg", std::vector<uint8_t>(dying.begin(), dying.end())));
    ASSERT_EQ(chmod((dir + "/bin/ffmpeg").c_str(), 0755), 0);
    const struct {
        const char* out;
        const char* limit; // what the shell sets before it starts the capture
        bool dyingFfmpeg;
    } cases[] = {{"video.mp4", "ulimit -f 2048", false},
                 {"frames", "ulimit -f 2048", false},
                 {"video.mp4", ":", true}};
    for (const auto& c : cases) {
        const std::string out = dir + "/" + c.out;
        const std::string command = std::string("trap '' XFSZ; ") + c.limit + "; exec " +
                                    MOVRA_CAPTURE_BINARY +
                                    " --size 1080p --from 9000 --to 11000 --fps 10 --out " + out;
        std::vector<std::string> environment;
        if (c.dyingFfmpeg)
            environment.push_back("PATH=" + dir + "/bin:" + std::getenv("PATH"));
        ChildResult result =
            WaitForDemo(StartProgram("/bin/sh", {"-c", command}, environment), 300);
        EXPECT_EQ(result.status, 1) << c.out << ": " << result.errors;
        EXPECT_NE(result.errors.find("movra-capture: "), std::string::npos) << result.errors;
        EXPECT_FALSE(Exists(out)) << c.out;
        EXPECT_EQ(LeftOvers(dir), std::vector<std::string>()) << c.out;
    }
    RemoveFolder(dir);
}

TEST(CaptureSizes, RunWithNoDisplayMakesTheQuickVideoAndSaysHowToMakeTheLargerOnes) {
    // What ./run does once it has built and found no display, on the first
    // two seconds.
    const std::string dir = MakeTemporaryFolder(), video = dir + "/movra.mp4";
    ChildResult result = WaitForDemo(
        StartProgram("/bin/sh", {"-c", "exec tools/capture-demo " + video + " --to 2000 >&2"}),
        300);
    ASSERT_EQ(result.status, 0) << result.errors;
    EXPECT_EQ(Probe(video, "v", "width,height"),
              (std::map<std::string, std::string>{{"width", "640"}, {"height", "480"}}));
    for (const char* said : {"Captured ", "ffplay ", "--size 1080p --out", "--size 2160p --out"})
        EXPECT_NE(result.errors.find(said), std::string::npos) << said << " in " << result.errors;
    RemoveFolder(dir);
}

} // namespace
