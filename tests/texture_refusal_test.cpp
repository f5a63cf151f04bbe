// The pictures that end the process, each loaded by the texture table in a
// forked child. POSIX only: on Windows RunInChild runs its body in the
// test's own process, which these pictures would end.
#include "assets/textures.h"

#include "picture_files.h"
#include "support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Pictures that end the process, each loaded in a child that notes on
// stderr when its exit handlers run.
class TextureRefusalTest : public testing::Test {
  protected:
    void SetUp() override {
        folder_ = MakeTemporaryFolder();
        ASSERT_FALSE(folder_.empty());
    }
    void TearDown() override {
        RemoveFolder(folder_);
    }
    // Loads `path` into slot 0 in a child; its status and stderr.
    ChildResult LoadInChild(const std::string& path) {
        return RunInChild([&] {
            setenv("MOVRA_NO_DIALOGS", "1", 1);
            std::atexit([] { std::fputs("exit handlers ran\n", stderr); });
            uint32_t textures[kTextureCount] = {};
            LoadTexture(textures, path.c_str(), 0);
            return 99; // not reached: each of these pictures ends the process
        });
    }
    std::string folder_;
};

} // namespace

TEST_F(TextureRefusalTest, CmykPictureIsRefusedNamingTheFile) {
    std::string path = folder_ + "/inks.jpg";
    Pixels inks = MakePicture(16, 16, 4, [](int x, int y, int c) { return x * 8 + y + c * 30; });
    ASSERT_TRUE(WriteJpegFile(path, inks));
    ChildResult child = LoadInChild(path);
    EXPECT_EQ(child.status, 1);
    EXPECT_EQ(child.errors, "Error: Unsupported picture (4 colour components): " + path +
                                "\nexit handlers ran\n");
}

TEST_F(TextureRefusalTest, CorruptHeaderEndsWithStatusOneAndLibjpegsMessage) {
    std::string path = folder_ + "/gif.jpg";
    WriteFileBytes(path, {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0});
    ChildResult child = LoadInChild(path);
    EXPECT_EQ(child.status, 1);
    EXPECT_EQ(child.errors,
              "Error: Not a JPEG file: starts with 0x47 0x49: " + path + "\nexit handlers ran\n");
}

TEST_F(TextureRefusalTest, MissingFileEndsWithStatusOne) {
    ChildResult child = LoadInChild(folder_ + "/absent.jpg");
    EXPECT_EQ(child.status, 1);
    EXPECT_EQ(child.errors, "Error: Unable to load JPG File!\nexit handlers ran\n");
}
