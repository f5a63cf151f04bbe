// The pictures at the real start-up: a missing, corrupt or hostile picture
// ends the demo before its first tick, in a child and in the real binary,
// and SIGINT or SIGTERM while pictures load ends it at once.
#include "app/app.h"
#include "platform/screen.h"
#include "platform/ticks.h"
#include "platform/window.h"
#include "assets/textures.h"
#include "picture_files.h"
#include "support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The status a start-up child ends with when its first tick runs.
constexpr int kTickRan = 42;

// The tick source of the start-up children: the first read ends the child.
uint32_t EndOnFirstTick() {
    std::_Exit(kTickRan);
}

// Lists on stderr which slots hold a texture; an exit handler of the
// start-up children.
void ListLoadedSlots() {
    std::fputs("loaded:", stderr);
    for (int slot = 0; slot < kTextureCount; ++slot)
        if (g_textures[slot])
            std::fprintf(stderr, " %d", slot);
    std::fputs("\n", stderr);
}

// A working folder with the demo's data folder, holding ten small pictures
// written by the test (each in its own colour) and the shipped sound.
class StartupPicturesTest : public testing::Test {
  protected:
    void SetUp() override {
        folder_ = MakeTemporaryFolder();
        ASSERT_FALSE(folder_.empty());
        std::filesystem::create_directories(folder_ + "/data/pic");
        std::filesystem::create_directory_symlink(MOVRA_SOURCE_DIR "/data/sound",
                                                  folder_ + "/data/sound");
        for (int slot = 0; slot < kTextureCount; ++slot)
            WritePicture(slot);
    }
    void TearDown() override {
        RemoveFolder(folder_);
    }
    // Writes slot's small picture in its own colours.
    void WritePicture(int slot) {
        Pixels picture = MakePicture(64, 32, 3, [=](int x, int y, int c) {
            return (x * 3 + y * 5 + slot * 25 + c * 60) % 256;
        });
        ASSERT_TRUE(WriteJpegFile(PicturePath(slot), picture));
    }
    // Where slot's picture lies in the working folder.
    std::string PicturePath(int slot) const {
        return folder_ + "/" + kPicturePaths[slot];
    }
    // The demo's start-up and loop working in the folder, for a child;
    // writes a byte to `windowShown`, when given, once the window exists.
    int StartUpInFolder(int windowShown = -1) {
        if (chdir(folder_.c_str()) != 0)
            return 126;
        setenv("MOVRA_NO_DIALOGS", "1", 1);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        SetTickSource(EndOnFirstTick);
        SDL_Window* window =
            CreateMainWindow(kWindowTitle, kScreenWidth, kScreenHeight, 0, g_fullscreen);
        if (!window || (windowShown >= 0 && write(windowShown, "w", 1) != 1))
            return 125;
        InitDemo(window);
        return RunDemo();
    }
    // Runs the demo's start-up and loop in a child working in the folder.
    ChildResult StartInChild() {
        return RunInChild([this] {
            std::atexit(ListLoadedSlots);
            return StartUpInFolder();
        });
    }
    // Runs the real binary in the folder until it ends by itself.
    ChildResult RunBinary(double timeoutSeconds = 30) {
        DemoProcess demo =
            StartDemoBinary({"MOVRA_NO_DIALOGS=1", "SDL_AUDIODRIVER=dummy"}, folder_);
        return WaitForDemo(demo, timeoutSeconds);
    }
    std::string folder_;
};

} // namespace

TEST_F(StartupPicturesTest, AllPicturesPresentReachesTheFirstTick) {
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "no display";
    ChildResult child = StartInChild();
    EXPECT_EQ(child.status, kTickRan) << child.errors;
}

TEST_F(StartupPicturesTest, MissingPictureEndsWithStatusOneBeforeAnyTick) {
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "no display";
    unlink(PicturePath(7).c_str());
    ChildResult child = StartInChild();
    EXPECT_EQ(child.status, 1);
    // Slots before the missing picture were loaded; the exit handlers ran.
    EXPECT_EQ(child.errors, "Error: Unable to load JPG File!\nloaded: 0 1 2 3 4 5 6\n");
}

TEST_F(StartupPicturesTest, BinaryWithAMissingPictureExitsByItselfWithOne) {
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "no display";
    unlink(PicturePath(7).c_str());
    ChildResult demo = RunBinary();
    EXPECT_EQ(demo.status, 1);
    EXPECT_EQ(demo.errors, "Error: Unable to load JPG File!\n");
}

TEST_F(StartupPicturesTest, BinaryWithACorruptPictureExitsWithOne) {
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "no display";
    WriteFileBytes(PicturePath(2), {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0});
    ChildResult demo = RunBinary();
    EXPECT_EQ(demo.status, 1);
    EXPECT_EQ(demo.errors, "Error: Not a JPEG file: starts with 0x47 0x49: " +
                               std::string(kPicturePaths[2]) + "\n");
}

TEST_F(StartupPicturesTest, CorruptPictureInAChildEndsBeforeAnyTick) {
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "no display";
    WriteFileBytes(PicturePath(4), {0xFF, 0xD8, 0xFF});
    ChildResult child = StartInChild();
    EXPECT_EQ(child.status, 1);
    // The stdio source turns the missing rest into an end marker: libjpeg
    // warns, then gives up on a header without a frame.
    EXPECT_EQ(child.errors,
              "Premature end of JPEG file\nError: JPEG datastream contains no image: " +
                  std::string(kPicturePaths[4]) + "\nloaded: 0 1 2 3\n");
}

namespace {

// A hostile picture put at one slot's path, and the whole message it gives
// (a pattern: the side limit is the GL's or the demo's, whichever is less).
struct HostilePicture {
    const char* name;
    int slot;
    std::function<void(const std::string& path)> make;
    const char* message;
};

// Writes a small picture in `layout`, then claims width x height for it.
void WriteClaimingPicture(const std::string& path, JpegLayout layout, int width, int height) {
    Pixels small = MakePicture(16, 16, 3, [](int x, int y, int c) { return x * 9 + y * 5 + c; });
    ASSERT_TRUE(WriteJpegFile(path, small, 90, layout));
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    ASSERT_TRUE(SetFrameSize(bytes, width, height));
    ASSERT_TRUE(WriteFileBytes(path, bytes));
}

} // namespace

TEST_F(StartupPicturesTest, BinaryRefusesHostilePicturesAtOnceWithStatusOne) {
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "no display";
    const HostilePicture pictures[] = {
        {"claims 65500 x 65500", 1,
         [](const std::string& path) {
             WriteClaimingPicture(path, JpegLayout::kBaseline, 65500, 65500);
         },
         "Error: Picture too large \\(65500 x 65500, at most \\d+ a side\\): data/pic/skuta.jpg\n"},
        {"progressive, claims 30000 x 30000", 4,
         [](const std::string& path) {
             WriteClaimingPicture(path, JpegLayout::kProgressive, 30000, 30000);
         },
         "Error: Picture too large \\(30000 x 30000, at most \\d+ a side\\): "
         "data/pic/finish2.jpg\n"},
        {"16385 wide", 9,
         [](const std::string& path) {
             Pixels wide = MakePicture(16385, 16, 1, [](int x, int, int) { return x % 256; });
             ASSERT_TRUE(WriteJpegFile(path, wide));
         },
         "Error: Picture too large \\(16385 x 16, at most \\d+ a side\\): data/pic/finish.jpg\n"},
        {"380 scans", 2,
         [](const std::string& path) {
             Pixels flat = MakePicture(64, 64, 3, [](int, int, int c) { return 60 + c * 50; });
             ASSERT_TRUE(WriteJpegFile(path, flat, 90, JpegLayout::kScanPerCoefficient));
         },
         "Error: Picture has too many scans \\(at most 100\\): data/pic/lyn.jpg\n"},
        {"a directory", 0, [](const std::string& path) { mkdir(path.c_str(), 0755); },
         "Error: Unable to load JPG File!\n"},
        {"a FIFO", 7, [](const std::string& path) { mkfifo(path.c_str(), 0644); },
         "Error: Unable to load JPG File!\n"},
    };
    for (const HostilePicture& picture : pictures) {
        SCOPED_TRACE(picture.name);
        std::filesystem::remove(PicturePath(picture.slot));
        picture.make(PicturePath(picture.slot));
        // These used to run for minutes, or hang; half a minute is far
        // more than start-up takes, even on a busy machine.
        ChildResult result = RunBinary(30);
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(std::regex_match(result.errors, std::regex(picture.message))) << result.errors;
        EXPECT_LT(result.peakKilobytes, 300 * 1024);
        std::filesystem::remove(PicturePath(picture.slot));
        WritePicture(picture.slot);
    }
}

TEST_F(StartupPicturesTest, InterruptOrTerminateWhilePicturesLoadEndsAtOnceWithoutATick) {
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "no display";
    {
        // Slot 0 then takes a second or more to decode and upload.
        Pixels big =
            MakePicture(8192, 8192, 3, [](int x, int y, int c) { return (x ^ y) * (c + 1); });
        ASSERT_TRUE(WriteJpegFile(PicturePath(0), big, 90, JpegLayout::kProgressive));
    }
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        DemoProcess child = StartChild([&] {
            // As from a terminal, whatever the test runner does with them.
            std::signal(SIGINT, SIG_DFL);
            std::signal(SIGTERM, SIG_DFL);
            int status = StartUpInFolder(ready[1]);
            ListLoadedSlots();
            return status;
        });
        close(ready[1]);
        char window = 0;
        bool shown = read(ready[0], &window, 1) == 1;
        close(ready[0]);
        // Usually lands while slot 0 decodes; earlier, it stops the loading
        // before slot 0 all the same.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        kill(child.pid, signal);
        ChildResult result = WaitForDemo(child, 30);
        ASSERT_TRUE(shown) << result.errors;
        EXPECT_EQ(result.status, 0) << result.errors;
        // No picture was loaded: the big one was abandoned, the rest never begun.
        EXPECT_EQ(result.errors, "loaded:\n");
    }
}
