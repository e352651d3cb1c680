#include "imaging/hot_pixel_filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "tests/imaging/direct_hot_pixel.h"
#include "tests/imaging/synthetic_frames.h"

namespace noctarbel {
namespace {

using testing::FrameRandom;

// Noise, stars, hot pixels, flat patches (zero deviation) and saturated blocks.
Timgbuffer TestFrame(PixelType type, bool isUnsigned, int width, int height, FrameRandom& random) {
  Timgbuffer image;
  testing::FillSky(image, width, height, 1000, 20, random);
  if (type == PixelType::Bits32) {
    Timgbuffer longs;
    longs.SetSize(width, height, PixelType::Bits32);
    for (int y = 1; y <= height; ++y) {
      for (int x = 1; x <= width; ++x) longs.SetPixel(x, y, image.GetPixel(x, y) * 40000 - 3000000);
    }
    image = std::move(longs);
  }
  image.Unsigned = isUnsigned;
  const int hot = type == PixelType::Bits32 ? 2000000000 : isUnsigned ? 60000 : 30000;
  for (int i = 0; i < width * height / 40; ++i) {
    int x = 1 + static_cast<int>(random.Below(static_cast<std::uint32_t>(width)));
    int y = 1 + static_cast<int>(random.Below(static_cast<std::uint32_t>(height)));
    image.SetPixel(x, y, i % 3 == 0 ? hot : image.GetPixel(x, y) + static_cast<int>(random.Below(400)));
  }
  for (int x = 5; x < 15 && x <= width; ++x) image.SetPixel(x, 3, 777);  // flat run
  image.SetPixel(9, 3, 900);                                             // stands out from a flat run: deviation 0
  return image;
}

TEST(HotPixelFilter, EqualsTheDirectFilter) {
  FrameRandom random(41);
  const std::tuple<PixelType, bool> kinds[] = {
      {PixelType::Bits16, true}, {PixelType::Bits16, false}, {PixelType::Bits32, true}};
  for (const auto& [type, isUnsigned] : kinds) {
    for (int k : {0, 4, 5, 6, 2000}) {
      for (auto [width, height] : {std::pair{64, 40}, std::pair{17, 5}, std::pair{8, 3}, std::pair{301, 23}}) {
        Timgbuffer fast = TestFrame(type, isUnsigned, width, height, random);
        auto direct = fast.Clone();
        ASSERT_TRUE(HotPixelFilter(fast, k));
        ASSERT_TRUE(testing::DirectHotPixelFilter(*direct, k));
        const size_t bytes = static_cast<size_t>(width) * height * fast.ElementBytes();
        EXPECT_EQ(std::memcmp(fast.RawData(), direct->RawData(), bytes), 0)
            << "type " << static_cast<int>(type) << " k " << k << " " << width << "x" << height;
      }
    }
  }
}

// The vector test passes a pixel on when it lies more than 0.6875 of the neighbours' range
// beyond them; with k = 4 it stands out from about 0.697 of it on, for neighbours l, h and four
// at l + 0.2912 (h - l). Pixels placed from 0.68 to 0.705 of the range above and below such
// neighbours, in every position of a 16-lane block, must be decided as by the exact rule.
TEST(HotPixelFilter, PixelsAtTheBoundOfTheVectorTestAreDecidedExactly) {
  constexpr int kWidth = 160;
  constexpr int kHeight = 60;
  FrameRandom random(7);
  for (bool isUnsigned : {true, false}) {
    Timgbuffer fast;
    fast.SetSize(kWidth, kHeight, PixelType::Bits16);
    fast.Unsigned = isUnsigned;
    auto* words = fast.PixelsAs<std::int16_t>();  // every value below fits either way
    const int base = isUnsigned ? 20000 : -3000;
    std::vector<size_t> centres;
    for (int y = 0; y < kHeight; ++y) {
      const int range = 1 + static_cast<int>(random.Below(y % 3 == 0 ? 8 : 3000));
      const int middle = base + static_cast<int>(0.2912 * range + 0.5);
      const int neighbours[6] = {base, middle, middle, base + range, middle, middle};
      for (int x = 3; x + 3 < kWidth; x += 9) {
        const size_t at = static_cast<size_t>(y) * kWidth + x;
        int slot = y;
        for (int d : {-3, -2, -1, 1, 2, 3}) words[at + d] = static_cast<std::int16_t>(neighbours[slot++ % 6]);
        const double share = 0.68 + 0.025 * random.Below(1000) / 1000.0;
        const int beyond = static_cast<int>(share * range);
        words[at] = static_cast<std::int16_t>(random.Below(2) == 0 ? base + range + beyond : base - beyond);
        centres.push_back(at);
      }
    }
    const std::unique_ptr<Timgbuffer> before = fast.Clone();
    auto direct = fast.Clone();
    ASSERT_TRUE(HotPixelFilter(fast, 4));
    ASSERT_TRUE(testing::DirectHotPixelFilter(*direct, 4));
    EXPECT_EQ(std::memcmp(fast.RawData(), direct->RawData(), kWidth * kHeight * 2), 0) << "unsigned " << isUnsigned;
    const auto replaced = std::count_if(centres.begin(), centres.end(), [&](size_t at) {
      return direct->PixelsAs<std::int16_t>()[at] != before->PixelsAs<std::int16_t>()[at];
    });
    EXPECT_GT(replaced, 50) << "some placed pixels stand out";
    EXPECT_LT(replaced, static_cast<long>(centres.size()) - 50) << "some do not";
  }
}

TEST(HotPixelFilter, ReplacesHotPixelsAndLeavesTheBorderAlone) {
  Timgbuffer image;
  image.SetSize(20, 10, PixelType::Bits16);
  for (int y = 1; y <= 10; ++y) {
    for (int x = 1; x <= 20; ++x) image.SetPixel(x, y, 1000 + (x + y) % 3);
  }
  const int spots[][2] = {{1, 3}, {3, 4}, {4, 5}, {16, 6}, {17, 7}, {20, 8}, {10, 1}, {10, 10}, {10, 2}};
  for (const auto& spot : spots) image.SetPixel(spot[0], spot[1], 50000);
  ASSERT_TRUE(HotPixelFilter(image, 4));
  // Columns 4 to width - 4 of rows 2 to height - 1 are filtered; the border stays.
  const int kept[][2] = {{1, 3}, {3, 4}, {17, 7}, {20, 8}, {10, 1}, {10, 10}};
  for (const auto& spot : kept) EXPECT_EQ(image.GetPixel(spot[0], spot[1]), 50000) << spot[0] << "," << spot[1];
  EXPECT_NEAR(image.GetPixel(4, 5), 1001, 1);
  EXPECT_NEAR(image.GetPixel(16, 6), 1001, 1);
  // The pixel in row 2 takes the mean of its four neighbours, the one above still hot.
  EXPECT_EQ(image.GetPixel(10, 2), (50000 + 1002 + 1001 + 1001) / 4);
}

TEST(HotPixelFilter, ExactlyKDeviationsIsNotEnough) {
  // Neighbours 111 109 108 108 107 105: mean 108, deviation 2; with k = 4 the limit is 8.
  auto row = [](int centre) {
    Timgbuffer image;
    image.SetSize(9, 3, PixelType::Bits16);
    const int values[9] = {0, 111, 109, 108, centre, 108, 107, 105, 0};
    for (int y = 1; y <= 3; ++y) {
      for (int x = 1; x <= 9; ++x) image.SetPixel(x, y, y == 2 ? values[x - 1] : 100);
    }
    HotPixelFilter(image, 4);
    return image.GetPixel(5, 2);
  };
  EXPECT_EQ(row(100), 100);  // |100 - 108| = 8 = 4 * 2
  EXPECT_EQ(row(116), 116);
  EXPECT_EQ(row(99), 104);  // (100 + 108 + 108 + 100) / 4
  EXPECT_EQ(row(117), 104);
}

TEST(HotPixelFilter, OnlyWordAndLongImages) {
  for (PixelType type : {PixelType::Bits8, PixelType::Float32}) {
    Timgbuffer image;
    image.SetSize(10, 10, type);
    EXPECT_FALSE(HotPixelFilter(image, 4));
  }
  Timgbuffer none;
  EXPECT_FALSE(HotPixelFilter(none, 4));
}

}  // namespace
}  // namespace noctarbel
