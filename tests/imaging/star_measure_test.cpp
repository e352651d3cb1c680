#include "imaging/star_measure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/imaging/direct_star_measure.h"
#include "tests/imaging/synthetic_frames.h"

namespace noctarbel {
namespace {

using testing::DirectFindBrightestStar;
using testing::FrameRandom;

void ExpectSameResult(const StarSearchResult& fast, const StarSearchResult& direct, const std::string& where) {
  EXPECT_EQ(std::tie(fast.Found, fast.X, fast.Y, fast.Background, fast.Peak, fast.Minimum),
            std::tie(direct.Found, direct.X, direct.Y, direct.Background, direct.Peak, direct.Minimum))
      << where;
}

Timgbuffer Flat(int width, int height, int level) {
  Timgbuffer image;
  image.SetSize(width, height, PixelType::Bits16);
  for (int y = 1; y <= height; ++y) {
    for (int x = 1; x <= width; ++x) image.SetPixel(x, y, level);
  }
  return image;
}

// Random frames of every pixel type, with plateaus and repeated stars so that equal means
// (ties) occur often.
Timgbuffer RandomFrame(PixelType type, bool isUnsigned, int width, int height, FrameRandom& random) {
  Timgbuffer image;
  image.SetSize(width, height, type);
  image.Unsigned = isUnsigned;
  const int range = static_cast<int>(random.Below(3));  // 0: tiny values, many ties
  for (int y = 1; y <= height; ++y) {
    for (int x = 1; x <= width; ++x) {
      int v =
          range == 0 ? static_cast<int>(random.Below(4)) : 900 + static_cast<int>(random.Below(range == 1 ? 50 : 3000));
      if (type == PixelType::Bits8) v = v % 256;
      if (!isUnsigned && type == PixelType::Bits16) v -= 1500;
      if (type == PixelType::Bits32) v = v * 3 - 2000;
      if (type == PixelType::Float32) {
        const float fraction = 0.25f * static_cast<float>(random.Below(4));
        image.PixelsAs<float>()[static_cast<size_t>(y - 1) * width + (x - 1)] = static_cast<float>(v) + fraction;
      } else {
        image.SetPixel(x, y, v);
      }
    }
  }
  // Identical bright spots: the same mean at several positions.
  const int spots = 1 + static_cast<int>(random.Below(4));
  const int value = type == PixelType::Bits8 ? 200 : 20000;
  for (int s = 0; s < spots && width > 4 && height > 4; ++s) {
    int x = 3 + static_cast<int>(random.Below(static_cast<std::uint32_t>(width - 4)));
    int y = 3 + static_cast<int>(random.Below(static_cast<std::uint32_t>(height - 4)));
    for (int dy = -1; dy <= 1; ++dy) {
      for (int dx = -1; dx <= 1; ++dx) image.SetPixel(x + dx, y + dy, dx == 0 && dy == 0 ? value : value / 2);
    }
  }
  return image;
}

TEST(FindBrightestStar, EqualsTheDirectScanOnRandomFramesOfEveryType) {
  FrameRandom random(20240611);
  const std::tuple<PixelType, bool> kinds[] = {{PixelType::Bits16, true},
                                               {PixelType::Bits16, false},
                                               {PixelType::Bits8, true},
                                               {PixelType::Bits32, true},
                                               {PixelType::Float32, true}};
  const std::pair<int, int> sizes[] = {{11, 11}, {21, 22}, {22, 23}, {40, 33}, {64, 64}, {97, 41}, {12, 90}};
  for (const auto& [type, isUnsigned] : kinds) {
    for (const auto& [width, height] : sizes) {
      for (int round = 0; round < 4; ++round) {
        Timgbuffer image = RandomFrame(type, isUnsigned, width, height, random);
        ExpectSameResult(FindBrightestStar(image), DirectFindBrightestStar(image),
                         "type " + std::to_string(static_cast<int>(type)) + (isUnsigned ? "u " : "s ") +
                             std::to_string(width) + "x" + std::to_string(height));
      }
    }
  }
}

TEST(FindBrightestStar, EqualsTheDirectScanOnAStarField) {
  Timgbuffer image;
  testing::MakeStarField(image, 2000, 1500, 60, 7);  // the sum of the means passes 2^31
  StarSearchResult fast = FindBrightestStar(image);
  ExpectSameResult(fast, DirectFindBrightestStar(image), "star field");
  EXPECT_TRUE(fast.Found);
}

// Equal stars are taken in scan order, column by column (smaller column, then smaller row); a lone
// hot pixel fails centre < 5 * mean8 at its own position, and no 3 x 3 ring around a neighbour
// whose cross holds it stands out; candidates within 10 pixels of the edge are ignored.
TEST(FindBrightestStar, TiesHotPixelsAndTheEdge) {
  struct Star {
    int x, y;
    double peak;
  };
  struct Case {
    const char* what;
    std::vector<Star> stars;
    bool hotPixel;
    bool found;
    int x, y;
  };
  const Case cases[] = {
      {"ties", {{60, 20, 8000}, {40, 50, 8000}, {40, 60, 8000}}, false, true, 40, 50},
      {"hot pixel", {}, true, false, -1, -1},
      {"edge", {{6, 40, 30000}, {40, 75, 30000}, {70, 30, 5000}}, false, true, 70, 30},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Timgbuffer image = Flat(100, 80, 1000);
    for (const Star& star : c.stars) testing::AddGaussianStar(image, star.x, star.y, 1.2, star.peak);
    if (c.hotPixel) image.SetPixel(50, 40, 60000);
    const StarSearchResult result = FindBrightestStar(image);
    EXPECT_EQ(result.Found, c.found);
    if (c.found) {
      EXPECT_EQ(std::pair(result.X, result.Y), std::pair(c.x, c.y));
    }
    EXPECT_FALSE(result.X == 50 && result.Y == 40);
    ExpectSameResult(result, DirectFindBrightestStar(image), c.what);
  }
}

// Worked by hand. A 30 x 30 frame at level v with a star at (15, 15): +1260 in the centre, +504
// on its 8 neighbours, +9 on the 16 pixels beyond. Every increment is a multiple of 9, so each
// position's 9-pixel mean is exact, and each star pixel lies in the footprint of 9 scanned
// positions (6..25): the sum of the means is 400 v + 1260 + 8 * 504 + 16 * 9 = 400 v + 5436,
// the background Round((400 v + 5436) / 900) and the ring v + 504.
//   v = 4: background Round(7.818) = 8, ring 508: 500 above, so the peak is the background.
//   v = 5: background Round(8.262) = 8, ring 509: 501 above, so the peak is the centre, 1265.
TEST(FindBrightestStar, RingTestWorkedByHand) {
  auto frame = [](int v) {
    Timgbuffer image = Flat(30, 30, v);
    for (int dy = -2; dy <= 2; ++dy) {
      for (int dx = -2; dx <= 2; ++dx) {
        const int d = std::max(std::abs(dx), std::abs(dy));
        image.SetPixel(15 + dx, 15 + dy, v + (d == 0 ? 1260 : d == 1 ? 504 : 9));
      }
    }
    return FindBrightestStar(image);
  };
  StarSearchResult r = frame(4);
  EXPECT_EQ(std::tie(r.X, r.Y, r.Background, r.Peak, r.Minimum), std::tuple(15, 15, 8, 8, 4));
  EXPECT_FALSE(r.Found);
  r = frame(5);
  EXPECT_EQ(std::pair(r.Background, r.Peak), std::pair(8, 1265));
  EXPECT_TRUE(r.Found);  // 1265 > 8 + 1000
}

TEST(FindBrightestStar, EmptyTinyAndNegativeFramesFindNothing) {
  StarSearchResult r = FindBrightestStar(Flat(50, 40, 0));
  EXPECT_EQ(std::tie(r.Found, r.Background, r.Peak, r.X), std::tuple(false, 0, 0, 0));
  r = FindBrightestStar(Flat(10, 40, 5000));
  EXPECT_FALSE(r.Found);
  EXPECT_EQ(r.Minimum, 65535);
  EXPECT_FALSE(FindBrightestStar(Timgbuffer()).Found);
  // A negative background without a candidate: the peak (0) would exceed background + 1000.
  Timgbuffer negative;
  negative.SetSize(30, 30, PixelType::Bits32);
  for (int y = 1; y <= 30; ++y) {
    for (int x = 1; x <= 30; ++x) negative.SetPixel(x, y, -5000);
  }
  r = FindBrightestStar(negative);
  EXPECT_EQ(r.X, 0);
  EXPECT_FALSE(r.Found);
}

TEST(RingSum, CoversTheSquareOutline) {
  Timgbuffer image = Flat(20, 20, 10);
  EXPECT_EQ(RingSum(image, 10, 10, 0, 4), 6);
  EXPECT_EQ(RingSum(image, 10, 10, 0, 40), 0);
  EXPECT_EQ(RingSum(image, 10, 10, 1, 0), 80);
  EXPECT_EQ(RingSum(image, 10, 10, 3, 0), 240);
  EXPECT_EQ(RingSum(image, 1, 1, 1, 0), 30);  // outside pixels read 0
}

TEST(StarCentroid, WeightsPixelsAboveTheThreshold) {
  Timgbuffer image = Flat(30, 30, 100);
  image.SetPixel(10, 12, 300);
  image.SetPixel(12, 12, 300);
  int column = -7, row = -7;
  ASSERT_TRUE(StarCentroid(image, 5, 20, 5, 20, 100, column, row));
  EXPECT_EQ(column, 11);
  EXPECT_EQ(row, 12);
  column = row = -7;
  EXPECT_FALSE(StarCentroid(image, 5, 20, 5, 20, 300, column, row));
  EXPECT_EQ(column, -7);
  // Half-way positions round to even: (10 + 11) / 2 = 10.5 -> 10.
  image.SetPixel(12, 12, 100);
  image.SetPixel(11, 12, 300);
  ASSERT_TRUE(StarCentroid(image, 1, 30, 1, 30, 100, column, row));
  EXPECT_EQ(std::pair(column, row), std::pair(10, 12));
}

TEST(HalfFluxDiameter, FailsWithoutFluxOrWithAnUndefinedStep) {
  Timgbuffer flat = Flat(50, 50, 0);
  EXPECT_EQ(HalfFluxDiameter(flat, 25, 25, 10), -1);
  Timgbuffer level = Flat(50, 50, 100);  // everything at or below twice the ring mean
  EXPECT_EQ(HalfFluxDiameter(level, 25, 25, 10), -1);
  EXPECT_EQ(HalfFluxDiameter(level, 25, 25, 0), -1);
  EXPECT_EQ(HalfFluxDiameter(level, 25, 25, 1001), -1);
  // All flux in the centre pixel: the walk ends at k = 0 and the next ring adds nothing.
  Timgbuffer point = Flat(50, 50, 0);
  point.SetPixel(25, 25, 1000);
  EXPECT_EQ(HalfFluxDiameter(point, 25, 25, 5), -1);
}

// Worked by hand: a star of 100 in the centre and 25, 25, 100, 25 on the four axis pixels at
// distances 1, 2, 3, 4, nothing at distance 5. With R = 5 the rings sum to 100, 100, 100, 400,
// 100, 0: cum = 100, 200, 300, 700, 800, 800. The walk computes f = 1, 1, 0.875, 0.375 and stops
// at k = 1, so HFD = 2 * ((400 - 200) / (300 - 200) + 1 - 1) = 4. On a sky of 10 with the star 20
// higher the outer ring's 40 pixels give b = Round(400 / 20) = 20, twice the sky: the same 4.
// With 25, 50, 100, 0 on the axes, cum = 100, 200, 400, 800, 800, 800: exactly half at k = 2, which
// no longer counts as above, so k = 1 and HFD = 2 * ((400 - 200) / (400 - 200) + 1 - 1) = 2.
TEST(HalfFluxDiameter, WorkedByHand) {
  auto star = [](int sky, int lift, std::array<int, 4> axis = {25, 25, 100, 25}) {
    Timgbuffer image = Flat(40, 40, sky);
    image.SetPixel(20, 20, 100 + lift);
    for (int d = 1; d <= 4; ++d) {
      for (const auto& [dx, dy] : {std::pair{d, 0}, std::pair{-d, 0}, std::pair{0, d}, std::pair{0, -d}}) {
        image.SetPixel(20 + dx, 20 + dy, axis[d - 1] + lift);
      }
    }
    return image;
  };
  const Timgbuffer dark = star(0, 0);
  EXPECT_DOUBLE_EQ(HalfFluxDiameter(dark, 20, 20, 5), 4.0);
  EXPECT_DOUBLE_EQ(HalfFluxDiameter(star(10, 20), 20, 20, 5), 4.0);
  EXPECT_DOUBLE_EQ(HalfFluxDiameter(star(0, 0, {25, 50, 100, 0}), 20, 20, 5), 2.0);
}

TEST(HalfFluxDiameter, GrowsLinearlyWithDefocus) {
  std::vector<double> radii, hfd;
  for (double radius = 6; radius <= 30; radius += 4) {
    Timgbuffer image = Flat(160, 160, 100);
    testing::AddDefocusedStar(image, 80, 80, radius, 4.0e6);
    radii.push_back(radius);
    hfd.push_back(HalfFluxDiameter(image, 80, 80, 60));
  }
  // Least-squares line and its worst deviation.
  double n = static_cast<double>(radii.size()), sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (size_t i = 0; i < radii.size(); ++i) {
    sx += radii[i];
    sy += hfd[i];
    sxx += radii[i] * radii[i];
    sxy += radii[i] * hfd[i];
  }
  double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
  double intercept = (sy - slope * sx) / n;
  for (size_t i = 0; i < radii.size(); ++i) EXPECT_NEAR(hfd[i], slope * radii[i] + intercept, 0.5) << radii[i];
  EXPECT_GT(slope, 0.8);
}

}  // namespace
}  // namespace noctarbel
