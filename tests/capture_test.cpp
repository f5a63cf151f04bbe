// The capture tool end to end: the real binary with no display, its PNG
// frames and MP4 video checked against the live reference frames, the
// music decoded here, ffprobe and its own refusals.
#include "support.h"

#include "capture/capture.h"
#include "audio/audio.h"
#include "demo/scenes.h"
#include "mp3_files.h"
#include "platform/screen.h"

#include <gtest/gtest.h>

#include <GL/gl.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
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
    // The sprites and the cube: 300 ms at 30 fps each, captured twice.
    const std::string dir = MakeTemporaryFolder();
    for (const char* from : {"12000", "45000"}) {
        std::vector<std::vector<uint8_t>> runs[2];
        for (int run = 0; run < 2; ++run) {
            const std::string out = dir + "/run" + std::to_string(run) + "-" + from;
            const std::string to = std::to_string(std::atoi(from) + 300);
            ChildResult result =
                RunCaptureTool({"--from", from, "--to", to, "--fps", "30", "--out", out});
            ASSERT_EQ(result.status, 0) << result.errors;
            for (const std::string& name : FrameFiles(out))
                runs[run].push_back(ReadFileBytes(out + "/" + name));
        }
        ASSERT_EQ(runs[0].size(), 9u) << "from " << from;
        EXPECT_TRUE(runs[0] == runs[1]) << "from " << from;
        EXPECT_NE(runs[0].front(), runs[0].back()) << "the frames move, from " << from;
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
            float loudest = 0;
            for (size_t n = 0; n < size_t(0.97 * 44100); ++n)
                loudest = std::max(loudest, std::fabs(sound[n]));
            EXPECT_LT(loudest, 0.001) << "silence before the music starts";
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

} // namespace
