// Pictures brought to power-of-two sides for the web's textures.
#include "platform/picture_scale.h"

#include <gtest/gtest.h>

namespace {

TEST(PictureScale, SidesGoToTheNearestPowerOfTwoWithinTheLimit) {
    struct Case {
        int side, maxSide, expected;
    };
    // Halfway (12 between 8 and 16) rounds up; the limit wins.
    const Case cases[] = {{1, 16384, 1},   {3, 16384, 4},        {5, 16384, 4},
                          {10, 16384, 8},  {12, 16384, 16},      {512, 16384, 512},
                          {600, 512, 512}, {20000, 16384, 16384}};
    for (const Case& c : cases)
        EXPECT_EQ(NearestPowerOfTwo(c.side, c.maxSide), c.expected) << c.side;
}

TEST(PictureScale, EachNewPixelIsTheMeanOfTheAreaItCovers) {
    // Across: three grey pixels to two, each taking one and a half.
    const uint8_t row[] = {30, 60, 90};
    EXPECT_EQ(ScalePicture(row, 3, 1, 1, 2, 1), (std::vector<uint8_t>{40, 80}));
    // Up: two pixels to four repeat each; channels stay apart.
    const uint8_t colours[] = {0, 10, 200, 255, 20, 100};
    EXPECT_EQ(ScalePicture(colours, 2, 1, 3, 4, 1),
              (std::vector<uint8_t>{0, 10, 200, 0, 10, 200, 255, 20, 100, 255, 20, 100}));
    // Down: two rows become one, the mean of each column.
    const uint8_t rows[] = {10, 20, 30, 41};
    EXPECT_EQ(ScalePicture(rows, 2, 2, 1, 2, 1), (std::vector<uint8_t>{20, 31}));
}

} // namespace
