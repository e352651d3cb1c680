// The benchmarks' 6248 x 4176 frame (300 stars, hot pixels) through the manual exposure's
// work and a flat correction, each step against the way it was done before it was made
// fast: the fast steps must give exactly the same pixels, star and levels.

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "imaging/calibration.h"
#include "imaging/display.h"
#include "imaging/hot_pixel_filter.h"
#include "imaging/star_measure.h"
#include "tests/imaging/direct_flat.h"
#include "tests/imaging/direct_hot_pixel.h"
#include "tests/imaging/direct_levels.h"
#include "tests/imaging/direct_star_measure.h"
#include "tests/imaging/synthetic_frames.h"

namespace noctarbel {
namespace {

constexpr int kWidth = 6248;
constexpr int kHeight = 4176;

TEST(BenchmarkFrame, FilterStarLevelsAndFlatAreAsBefore) {
  Timgbuffer fast;
  testing::MakeStarField(fast, kWidth, kHeight, 300, 2024);
  const size_t bytes = static_cast<size_t>(kWidth) * kHeight * 2;
  auto direct = fast.Clone();
  ASSERT_TRUE(HotPixelFilter(fast, 4));
  ASSERT_TRUE(testing::DirectHotPixelFilter(*direct, 4));
  ASSERT_EQ(std::memcmp(fast.RawData(), direct->RawData(), bytes), 0);

  const StarSearchResult star = FindBrightestStar(fast);
  const StarSearchResult expectedStar = testing::DirectFindBrightestStar(*direct);
  EXPECT_TRUE(star.Found);
  EXPECT_EQ(std::tie(star.Found, star.X, star.Y, star.Background, star.Peak, star.Minimum),
            std::tie(expectedStar.Found, expectedStar.X, expectedStar.Y, expectedStar.Background, expectedStar.Peak,
                     expectedStar.Minimum));

  const ViewerLevels levels = ViewerAutomaticLevels(fast, kDefaultHistogramMaxLevel, false);
  const ViewerLevels expectedLevels = testing::DirectViewerAutomaticLevels(*direct, kDefaultHistogramMaxLevel, false);
  EXPECT_EQ(std::tie(levels.Low, levels.High, levels.LowerBar, levels.UpperBar),
            std::tie(expectedLevels.Low, expectedLevels.High, expectedLevels.LowerBar, expectedLevels.UpperBar));
  const DisplayLevels preview = PreviewFileLevels(fast);
  const DisplayLevels expectedPreview = testing::DirectPreviewFileLevels(*direct);
  EXPECT_EQ(std::tie(preview.Low, preview.High), std::tie(expectedPreview.Low, expectedPreview.High));

  // The calibration benchmark's flat: 20000 with noise and hot pixels.
  Timgbuffer flat;
  testing::FrameRandom random(9);
  testing::FillSky(flat, kWidth, kHeight, 20000, 300, random);
  for (int i = 0; i < 2000; ++i) {
    flat.SetPixel(1 + static_cast<int>(random.Below(kWidth)), 1 + static_cast<int>(random.Below(kHeight)),
                  20000 + static_cast<int>(random.Below(45536)));
  }
  const std::optional<FlatGains> gains = FlatGainsOf(flat);
  const auto expectedGains = testing::DirectNormalizeFlat(flat);
  ASSERT_TRUE(gains && expectedGains);
  EXPECT_EQ(std::tie(gains->Reference, gains->Low), std::tie(expectedGains->reference, expectedGains->low));
  const std::vector<float> table = GainTable(flat, *gains);
  ApplyFlatRows(fast, FlatWindow{&flat, *gains, &table, 0, 0}, 0, kHeight);
  testing::DirectApplyFlat(*direct, *expectedGains, kWidth);
  EXPECT_EQ(std::memcmp(fast.RawData(), direct->RawData(), bytes), 0);
}

}  // namespace
}  // namespace noctarbel
