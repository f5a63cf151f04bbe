// The texture table: pictures uploaded to real GL textures and read back,
// and the pictures that end the process.
#include "assets/textures.h"

#include "app/app.h"
#include "assets/jpeg.h"
#include "picture_files.h"
#include "support.h"

#include <gtest/gtest.h>

#include <GL/gl.h>
#include <GL/glu.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

namespace {

// A texture level read back from GL.
struct Level {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bytes;
};

// Reads one level of a texture as packed rows of `format` bytes.
Level ReadLevel(GLuint texture, int level, GLenum format, int components) {
    Level read;
    glBindTexture(GL_TEXTURE_2D, texture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &read.width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, &read.height);
    read.bytes.assign(size_t(read.width) * size_t(read.height) * size_t(components), 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, level, format, GL_UNSIGNED_BYTE, read.bytes.data());
    return read;
}

// Reads one level parameter of a texture.
int LevelParameter(GLuint texture, int level, GLenum name) {
    GLint value = 0;
    glBindTexture(GL_TEXTURE_2D, texture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, name, &value);
    return value;
}

// Reads one parameter of a texture.
int TextureParameter(GLuint texture, GLenum name) {
    GLint value = 0;
    glBindTexture(GL_TEXTURE_2D, texture);
    glGetTexParameteriv(GL_TEXTURE_2D, name, &value);
    return value;
}

// Uploads under a real GL context; each test writes its pictures to its own
// folder and frees the textures it made.
class TextureUploadTest : public testing::Test {
  protected:
    void SetUp() override {
        SetEnvironment("MOVRA_NO_DIALOGS", "1");
        if (!StartRendererForTests())
            GTEST_SKIP() << "no display";
        folder_ = MakeTemporaryFolder();
        ASSERT_FALSE(folder_.empty());
    }
    void TearDown() override {
        glDeleteTextures(kTextureCount, textures_);
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
        RemoveFolder(folder_);
    }
    // Writes `picture` as name.jpg in the test's folder and returns the path.
    std::string Write(const std::string& name, const Pixels& picture) {
        std::string path = folder_ + "/" + name + ".jpg";
        EXPECT_TRUE(WriteJpegFile(path, picture, 90));
        return path;
    }
    std::string folder_;
    uint32_t textures_[kTextureCount] = {};
};

// A colour picture whose channels vary differently along x and y.
Pixels Patterned(int width, int height) {
    return MakePicture(width, height, 3, [](int x, int y, int c) {
        return c == 0 ? (x * 9 + 20) % 256 : c == 1 ? (y * 13 + 40) % 256 : (x * 4 + y * 6) % 256;
    });
}

} // namespace

TEST_F(TextureUploadTest, PowerOfTwoColourPictureIsUploadedPixelForPixel) {
    // Two pixels a row makes 6-byte rows, which a 4-byte unpack alignment
    // would skew.
    const int sizes[][2] = {{2, 16}, {64, 32}};
    for (const auto& size : sizes) {
        std::string path = Write("colour", Patterned(size[0], size[1]));
        LoadTexture(textures_, path.c_str(), 0);
        ASSERT_NE(textures_[0], 0u);
        Pixels decoded = DecodeStraight(path);
        Level level0 = ReadLevel(textures_[0], 0, GL_RGB, 3);
        EXPECT_EQ(level0.width, size[0]);
        EXPECT_EQ(level0.height, size[1]);
        // Row 0 of the picture is row 0 (t = 0) of the texture.
        EXPECT_EQ(level0.bytes, decoded.bytes) << size[0] << " x " << size[1];
        EXPECT_GT(LevelParameter(textures_[0], 0, GL_TEXTURE_RED_SIZE), 0);
        EXPECT_EQ(LevelParameter(textures_[0], 0, GL_TEXTURE_LUMINANCE_SIZE), 0);
        EXPECT_EQ(LevelParameter(textures_[0], 0, GL_TEXTURE_ALPHA_SIZE), 0);
        glDeleteTextures(1, &textures_[0]);
        textures_[0] = 0;
    }
}

TEST_F(TextureUploadTest, OddWidthIsScaledFromThePackedRows) {
    // GLU rounds a 101-pixel width to 128 and resamples. Compared with
    // GLU's own resampling of the decoded rows, away from the edges where
    // its two resamplers disagree; unaligned rows would mix the channels.
    Pixels smooth = MakePicture(101, 64, 3, [](int x, int y, int c) {
        return c == 0 ? x * 2 : c == 1 ? y * 3 : 40 + x + y;
    });
    std::string path = Write("odd", smooth);
    LoadTexture(textures_, path.c_str(), 2);
    ASSERT_NE(textures_[2], 0u);
    Level level0 = ReadLevel(textures_[2], 0, GL_RGB, 3);
    ASSERT_EQ(level0.width, 128);
    ASSERT_EQ(level0.height, 64);
    Pixels decoded = DecodeStraight(path);
    std::vector<uint8_t> expected(level0.bytes.size());
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    ASSERT_EQ(gluScaleImage(GL_RGB, 101, 64, GL_UNSIGNED_BYTE, decoded.bytes.data(), 128, 64,
                            GL_UNSIGNED_BYTE, expected.data()),
              0);
    int worst = 0;
    for (int y = 0; y < 63; ++y)
        for (int x = 1; x < 127; ++x)
            for (int c = 0; c < 3; ++c) {
                size_t at = (size_t(y) * 128 + size_t(x)) * 3 + size_t(c);
                worst = std::max(worst, std::abs(level0.bytes[at] - expected[at]));
            }
    EXPECT_LE(worst, 3);
}

TEST_F(TextureUploadTest, GreyPictureBecomesALuminanceTexture) {
    const int sizes[][2] = {{2, 8}, {32, 16}};
    for (const auto& size : sizes) {
        Pixels ramp = MakePicture(size[0], size[1], 1,
                                  [](int x, int y, int) { return (x * 7 + y * 11) % 256; });
        std::string path = Write("grey", ramp);
        LoadTexture(textures_, path.c_str(), 1);
        ASSERT_NE(textures_[1], 0u);
        EXPECT_EQ(LevelParameter(textures_[1], 0, GL_TEXTURE_LUMINANCE_SIZE), 8);
        EXPECT_EQ(LevelParameter(textures_[1], 0, GL_TEXTURE_RED_SIZE), 0);
        Level level0 = ReadLevel(textures_[1], 0, GL_LUMINANCE, 1);
        EXPECT_EQ(level0.width, size[0]);
        EXPECT_EQ(level0.height, size[1]);
        EXPECT_EQ(level0.bytes, DecodeStraight(path).bytes) << size[0] << " x " << size[1];
        glDeleteTextures(1, &textures_[1]);
        textures_[1] = 0;
    }
}

TEST_F(TextureUploadTest, MipmapsFiltersAndDefaults) {
    // Red on the left, blue on the right: the smallest level is their mean.
    Pixels halves =
        MakePicture(64, 32, 3, [](int x, int, int c) { return c == (x < 32 ? 0 : 2) ? 255 : 0; });
    LoadTexture(textures_, Write("halves", halves).c_str(), 4);
    ASSERT_NE(textures_[4], 0u);
    EXPECT_EQ(TextureParameter(textures_[4], GL_TEXTURE_MIN_FILTER), GL_LINEAR_MIPMAP_NEAREST);
    EXPECT_EQ(TextureParameter(textures_[4], GL_TEXTURE_MAG_FILTER), GL_LINEAR);
    EXPECT_EQ(TextureParameter(textures_[4], GL_TEXTURE_WRAP_S), GL_REPEAT);
    EXPECT_EQ(TextureParameter(textures_[4], GL_TEXTURE_WRAP_T), GL_REPEAT);
    GLint environment = 0;
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &environment);
    EXPECT_EQ(environment, GL_MODULATE);
    // 64 x 32 down to 1 x 1 is levels 0 to 6.
    Level last = ReadLevel(textures_[4], 6, GL_RGB, 3);
    ASSERT_EQ(last.width, 1);
    ASSERT_EQ(last.height, 1);
    EXPECT_NEAR(last.bytes[0], 127, 6);
    EXPECT_NEAR(last.bytes[1], 0, 6);
    EXPECT_NEAR(last.bytes[2], 127, 6);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(TextureUploadTest, PictureAtTheGlsLargestSideIsUploadedWhole) {
    GLint largest = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
    int side = std::min(largest, GLint(kMaxPictureSide));
    Pixels ramp =
        MakePicture(side, 16, 1, [](int x, int y, int) { return (x / 64 + y * 8) % 256; });
    std::string path = Write("widest", ramp);
    LoadTexture(textures_, path.c_str(), 3);
    ASSERT_NE(textures_[3], 0u);
    Level level0 = ReadLevel(textures_[3], 0, GL_LUMINANCE, 1);
    EXPECT_EQ(level0.width, side);
    EXPECT_EQ(level0.height, 16);
    EXPECT_EQ(level0.bytes, DecodeStraight(path).bytes);
}

TEST_F(TextureUploadTest, EachSlotGetsItsOwnTextureAndANullPathNone) {
    LoadTexture(textures_, Write("first", Patterned(16, 16)).c_str(), 0);
    LoadTexture(textures_, Write("second", Patterned(32, 8)).c_str(), 9);
    LoadTexture(textures_, nullptr, 5);
    EXPECT_NE(textures_[0], 0u);
    EXPECT_NE(textures_[9], 0u);
    EXPECT_NE(textures_[0], textures_[9]);
    EXPECT_EQ(textures_[5], 0u);
    EXPECT_TRUE(glIsTexture(textures_[0]));
    EXPECT_EQ(LevelParameter(textures_[9], 0, GL_TEXTURE_WIDTH), 32);
    EXPECT_EQ(LevelParameter(textures_[9], 0, GL_TEXTURE_HEIGHT), 8);
}

namespace {

// The shipped pictures by slot: level-0 size and samples a pixel.
struct ShippedPicture {
    int width, height, components;
};
const ShippedPicture kShipped[kTextureCount] = {
    {512, 512, 3}, {512, 512, 3}, {512, 512, 3}, {512, 512, 3}, {512, 512, 3},
    {512, 512, 3}, {512, 512, 3}, {512, 512, 3}, {512, 512, 3}, {512, 512, 3},
};

} // namespace

TEST(ShippedPicturesTest, AllTenLoadAtTheirRecordedSizes) {
    for (const char* path : kPicturePaths) {
        struct stat info;
        if (stat(path, &info) != 0)
            GTEST_SKIP() << path << " is not in this tree";
    }
    SetEnvironment("MOVRA_NO_DIALOGS", "1");
    if (!StartDemoInProcess())
        GTEST_SKIP() << "no display";
    for (int slot = 0; slot < kTextureCount; ++slot) {
        SCOPED_TRACE(kPicturePaths[slot]);
        ASSERT_NE(g_textures[slot], 0u);
        EXPECT_EQ(LevelParameter(g_textures[slot], 0, GL_TEXTURE_WIDTH), kShipped[slot].width);
        EXPECT_EQ(LevelParameter(g_textures[slot], 0, GL_TEXTURE_HEIGHT), kShipped[slot].height);
        EXPECT_EQ(LevelParameter(g_textures[slot], 0, GL_TEXTURE_INTERNAL_FORMAT),
                  kShipped[slot].components);
        // The texture holds the file's pixels.
        Pixels decoded = DecodeStraight(kPicturePaths[slot]);
        EXPECT_EQ(ReadLevel(g_textures[slot], 0, GL_RGB, 3).bytes, decoded.bytes);
    }
}
