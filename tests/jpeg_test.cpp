// The JPEG loader on files the tests write with libjpeg's compressor.
#include "assets/jpeg.h"

#include "picture_files.h"
#include "support.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

// Each test gets its own folder of pictures, and dialogs stay closed.
class JpegLoaderTest : public testing::Test {
  protected:
    void SetUp() override {
        SetEnvironment("MOVRA_NO_DIALOGS", "1");
        folder_ = MakeTemporaryFolder();
        ASSERT_FALSE(folder_.empty());
    }
    void TearDown() override {
        RemoveFolder(folder_);
    }
    // Writes `picture` as name.jpg in the test's folder and returns the path.
    std::string Write(const std::string& name, const Pixels& picture, int quality = 95) {
        std::string path = folder_ + "/" + name + ".jpg";
        EXPECT_TRUE(WriteJpegFile(path, picture, quality));
        return path;
    }
    std::string folder_;
};

// One pixel of a decoded picture, y counted from the top.
Rgb PixelOf(const Image* image, int x, int y) {
    const uint8_t* p = image->pixels + size_t(y) * size_t(image->rowBytes) + size_t(x) * 3;
    return {p[0], p[1], p[2]};
}

// Tells whether two colours are within `tolerance` in every channel.
bool Near(Rgb got, Rgb want, int tolerance) {
    return std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
           std::abs(got.b - want.b) <= tolerance;
}

// A picture with a different colour in each quarter: red top left, green
// top right, blue bottom left, white bottom right.
Pixels QuarteredPicture(int width, int height) {
    return MakePicture(width, height, 3, [=](int x, int y, int c) {
        bool right = x >= width / 2, bottom = y >= height / 2;
        if (bottom && right)
            return 255;
        int lit = bottom ? 2 : right ? 1 : 0;
        return c == lit ? 255 : 0;
    });
}

// A smooth picture with a different pattern in each channel, so any shift
// of rows or samples shows.
Pixels PatternedPicture(int width, int height) {
    return MakePicture(width, height, 3, [](int x, int y, int c) {
        return c == 0 ? (x * 5) % 256 : c == 1 ? (y * 7) % 256 : (x * 3 + y * 2) % 256;
    });
}

} // namespace

TEST_F(JpegLoaderTest, ColourPictureComesTopRowFirst) {
    std::string path = Write("quarters", QuarteredPicture(64, 48));
    JpegOutcome outcome = JpegOutcome::kBadData;
    Image* image = LoadJpegImage(path.c_str(), &outcome);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(outcome, JpegOutcome::kLoaded);
    EXPECT_EQ(image->width, 64);
    EXPECT_EQ(image->height, 48);
    EXPECT_EQ(image->rowBytes, 64 * 3);
    EXPECT_TRUE(Near(PixelOf(image, 0, 0), {255, 0, 0}, 8));
    EXPECT_TRUE(Near(PixelOf(image, 63, 0), {0, 255, 0}, 8));
    EXPECT_TRUE(Near(PixelOf(image, 0, 47), {0, 0, 255}, 8));
    EXPECT_TRUE(Near(PixelOf(image, 63, 47), {255, 255, 255}, 8));
    FreeJpegImage(image);
}

TEST_F(JpegLoaderTest, RecordFieldsKeepTheirOrder) {
    // Code that walks the record as raw words relies on this layout.
    EXPECT_EQ(offsetof(Image, rowBytes), 0u);
    EXPECT_EQ(offsetof(Image, width), 4u);
    EXPECT_EQ(offsetof(Image, height), 8u);
    // The pointer next, at its own alignment: 16 on 64-bit Linux, 12 on 32-bit Windows.
    const size_t pointer = alignof(uint8_t*);
    EXPECT_EQ(offsetof(Image, pixels), (12 + pointer - 1) / pointer * pointer);
}

TEST_F(JpegLoaderTest, OddWidthRowsArePackedExactlyAsLibjpegDecodesThem) {
    std::string path = Write("odd", PatternedPicture(101, 37), 80);
    Image* image = LoadJpegImage(path.c_str());
    ASSERT_NE(image, nullptr);
    Pixels straight = DecodeStraight(path);
    EXPECT_EQ(image->rowBytes, 303);
    ASSERT_EQ(image->width, straight.width);
    ASSERT_EQ(image->height, straight.height);
    EXPECT_EQ(std::memcmp(image->pixels, straight.bytes.data(), straight.bytes.size()), 0);
    FreeJpegImage(image);
}

TEST_F(JpegLoaderTest, GreyPictureHasOneSampleAPixel) {
    Pixels ramp = MakePicture(50, 20, 1, [](int x, int, int) { return x * 5; });
    std::string path = Write("grey", ramp);
    Image* image = LoadJpegImage(path.c_str());
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 50);
    EXPECT_EQ(image->rowBytes, 50);
    Pixels straight = DecodeStraight(path);
    ASSERT_EQ(straight.components, 1);
    EXPECT_EQ(std::memcmp(image->pixels, straight.bytes.data(), straight.bytes.size()), 0);
    for (int x = 0; x < 50; x += 7)
        EXPECT_NEAR(image->pixels[19 * 50 + x], x * 5, 4) << "column " << x;
    FreeJpegImage(image);
}

TEST_F(JpegLoaderTest, CmykPictureDecodesWithFourSamplesAPixel) {
    // The loader hands CMYK over as decoded; refusing it is the texture
    // table's business.
    Pixels inks = MakePicture(24, 16, 4, [](int x, int y, int c) { return (x + y) * 8 + c * 20; });
    std::string path = Write("cmyk", inks);
    Image* image = LoadJpegImage(path.c_str());
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->rowBytes, 24 * 4);
    EXPECT_EQ(image->height, 16);
    FreeJpegImage(image);
}

TEST_F(JpegLoaderTest, TruncatedFileGivesTheFullPictureAndOneWarning) {
    Pixels noise = MakePicture(64, 64, 3, [](int x, int y, int c) {
        return int((uint32_t(x * 2654435761u) ^ uint32_t(y * 40503u + c * 977u)) % 256u);
    });
    std::string whole = Write("whole", noise);
    std::vector<uint8_t> bytes = ReadFileBytes(whole);
    bytes.resize(bytes.size() * 6 / 10);
    std::string cut = folder_ + "/cut.jpg";
    WriteFileBytes(cut, bytes);

    Image* image = nullptr;
    JpegOutcome outcome = JpegOutcome::kBadData;
    std::string errors = CaptureStderr([&] { image = LoadJpegImage(cut.c_str(), &outcome); });
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(outcome, JpegOutcome::kLoaded);
    EXPECT_EQ(image->width, 64);
    EXPECT_EQ(image->height, 64);
    // Only the picture's first warning is printed.
    EXPECT_EQ(errors, "Premature end of JPEG file\n");
    // The rows before the cut decode as in the whole file.
    Pixels intact = DecodeStraight(whole);
    EXPECT_EQ(std::memcmp(image->pixels, intact.bytes.data(), 8 * 64 * 3), 0);
    FreeJpegImage(image);
}

TEST_F(JpegLoaderTest, MissingFileIsReportedAndReturnsNull) {
    std::string path = folder_ + "/absent.jpg";
    JpegOutcome outcome = JpegOutcome::kLoaded;
    Image* image = reinterpret_cast<Image*>(1);
    std::string errors = CaptureStderr([&] { image = LoadJpegImage(path.c_str(), &outcome); });
    EXPECT_EQ(image, nullptr);
    EXPECT_EQ(outcome, JpegOutcome::kMissingFile);
    EXPECT_EQ(errors, "Error: Unable to load JPG File!\n");
}

TEST_F(JpegLoaderTest, FatalErrorsComeBackWithLibjpegsMessageAndNothingLeftOpen) {
    std::vector<uint8_t> zeroWidth = ReadFileBytes(Write("good", QuarteredPicture(16, 16)));
    ASSERT_TRUE(SetFrameSize(zeroWidth, 0, 16));
    struct BadFile {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* message;
    };
    const std::string garbage = "this is not a picture at all\n";
    const BadFile files[] = {
        {"garbage", {garbage.begin(), garbage.end()}, "Not a JPEG file: starts with 0x74 0x68\n"},
        {"empty", {}, "Empty input file\n"},
        {"zero-width", zeroWidth, "Empty JPEG image (DNL not supported)\n"},
    };
    const int openBefore = CountOpenFiles();
    for (const BadFile& file : files) {
        std::string path = folder_ + "/" + file.name + ".jpg";
        WriteFileBytes(path, file.bytes);
        JpegOutcome outcome = JpegOutcome::kLoaded;
        Image* image = reinterpret_cast<Image*>(1);
        std::string errors = CaptureStderr([&] { image = LoadJpegImage(path.c_str(), &outcome); });
        EXPECT_EQ(image, nullptr) << file.name;
        EXPECT_EQ(outcome, JpegOutcome::kBadData) << file.name;
        EXPECT_EQ(errors, file.message) << file.name;
    }
    EXPECT_EQ(CountOpenFiles(), openBefore);
    // A good picture still loads after the failures.
    Image* image = LoadJpegImage((folder_ + "/good.jpg").c_str());
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 16);
    FreeJpegImage(image);
}

TEST_F(JpegLoaderTest, PictureTooBigForMemoryIsAFailureNotAnExit) {
#ifdef MOVRA_SANITIZED
    GTEST_SKIP() << "AddressSanitizer's shadow memory cannot live in a limited address space";
#endif
    // The header claims 65500 x 65500, about 12 GiB of pixels.
    std::vector<uint8_t> bytes = ReadFileBytes(Write("huge", QuarteredPicture(16, 16)));
    ASSERT_TRUE(SetFrameSize(bytes, 65500, 65500));
    std::string path = folder_ + "/huge.jpg";
    WriteFileBytes(path, bytes);
    ChildResult child = RunInChild([&] {
        if (!LimitAddressSpace(size_t(1) << 30))
            return 4;
        JpegOutcome outcome = JpegOutcome::kLoaded;
        JpegLimits beyondTheDemos;
        beyondTheDemos.maxSide = 65500;
        Image* image = LoadJpegImage(path.c_str(), &outcome, beyondTheDemos);
        if (image)
            return 2;
        return outcome == JpegOutcome::kBadData ? 0 : 3;
    });
    if (child.status == 4)
        GTEST_SKIP() << "this process's address space can't be limited";
    EXPECT_EQ(child.status, 0);
    EXPECT_NE(child.errors.find("Insufficient memory (case"), std::string::npos) << child.errors;
}

TEST_F(JpegLoaderTest, MemoryLimitRefusesWhatNoAcceptedPictureNeeds) {
    // A progressive CMYK picture at the largest side needs 2 GiB of
    // coefficients, more than any colour picture the demo accepts: libjpeg
    // refuses it before allocating them.
    Pixels inks = MakePicture(16, 16, 4, [](int x, int y, int c) { return x * 8 + y + c * 30; });
    std::string path = folder_ + "/inks.jpg";
    ASSERT_TRUE(WriteJpegFile(path, inks, 90, JpegLayout::kProgressive));
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    ASSERT_TRUE(SetFrameSize(bytes, kMaxPictureSide, kMaxPictureSide));
    ASSERT_TRUE(WriteFileBytes(path, bytes));
    std::FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    JpegOutcome outcome = JpegOutcome::kLoaded;
    Image* image = reinterpret_cast<Image*>(1);
    std::string errors = CaptureStderr([&] { image = DecodeJpegFile(file, &outcome); });
    std::fclose(file);
    EXPECT_EQ(image, nullptr);
    EXPECT_EQ(outcome, JpegOutcome::kBadData);
    EXPECT_EQ(errors, "Backing store not supported\n");
}
