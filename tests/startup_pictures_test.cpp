// The pictures at the real start-up: a missing or corrupt picture ends the
// demo before its first tick, in a child and in the real binary.
#include "app/app.h"
#include "platform/screen.h"
#include "platform/ticks.h"
#include "platform/window.h"
#include "assets/textures.h"
#include "picture_files.h"
#include "support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
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
        for (int slot = 0; slot < kTextureCount; ++slot) {
            Pixels picture = MakePicture(64, 32, 3, [=](int x, int y, int c) {
                return (x * 3 + y * 5 + slot * 25 + c * 60) % 256;
            });
            ASSERT_TRUE(WriteJpegFile(PicturePath(slot), picture));
        }
    }
    void TearDown() override {
        RemoveFolder(folder_);
    }
    // Where slot's picture lies in the working folder.
    std::string PicturePath(int slot) const {
        return folder_ + "/" + kPicturePaths[slot];
    }
    // Runs the demo's start-up and loop in a child working in the folder.
    ChildResult StartInChild() {
        return RunInChild([this] {
            if (chdir(folder_.c_str()) != 0)
                return 126;
            setenv("MOVRA_NO_DIALOGS", "1", 1);
            setenv("SDL_AUDIODRIVER", "dummy", 1);
            std::atexit(ListLoadedSlots);
            SetTickSource(EndOnFirstTick);
            SDL_Window* window =
                CreateMainWindow(kWindowTitle, kScreenWidth, kScreenHeight, 0, g_fullscreen);
            if (!window)
                return 125;
            InitDemo(window);
            return RunDemo();
        });
    }
    // Runs the real binary in the folder until it ends by itself.
    ChildResult RunBinary() {
        DemoProcess demo =
            StartDemoBinary({"MOVRA_NO_DIALOGS=1", "SDL_AUDIODRIVER=dummy"}, folder_);
        return WaitForDemo(demo, 30);
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

TEST_F(StartupPicturesTest, MissingPictureEndsWithStatusZeroBeforeAnyTick) {
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "no display";
    unlink(PicturePath(7).c_str());
    ChildResult child = StartInChild();
    EXPECT_EQ(child.status, 0);
    // Slots before the missing picture were loaded; the exit handlers ran.
    EXPECT_EQ(child.errors, "Error: Unable to load JPG File!\nloaded: 0 1 2 3 4 5 6\n");
}

TEST_F(StartupPicturesTest, BinaryWithAMissingPictureExitsByItselfWithZero) {
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "no display";
    unlink(PicturePath(7).c_str());
    ChildResult demo = RunBinary();
    EXPECT_EQ(demo.status, 0);
    EXPECT_EQ(demo.errors, "Error: Unable to load JPG File!\n");
}

TEST_F(StartupPicturesTest, BinaryWithACorruptPictureExitsWithOne) {
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "no display";
    WriteFileBytes(PicturePath(2), {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0});
    ChildResult demo = RunBinary();
    EXPECT_EQ(demo.status, 1);
    EXPECT_EQ(demo.errors, "Not a JPEG file: starts with 0x47 0x49\n");
}

TEST_F(StartupPicturesTest, CorruptPictureInAChildEndsBeforeAnyTick) {
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "no display";
    WriteFileBytes(PicturePath(4), {0xFF, 0xD8, 0xFF});
    ChildResult child = StartInChild();
    EXPECT_EQ(child.status, 1);
    // The stdio source turns the missing rest into an end marker: libjpeg
    // warns, then gives up on a header without a frame.
    EXPECT_EQ(child.errors, "Premature end of JPEG file\nJPEG datastream contains no image\n"
                            "loaded: 0 1 2 3\n");
}
