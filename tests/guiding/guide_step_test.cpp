// The guide star on synthetic frames and the guiding step's decisions on measured numbers.

#include "guiding/guide_step.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "imaging/guide_star.h"
#include "tests/imaging/synthetic_frames.h"

namespace noctarbel {
namespace {

using testing::AddGaussianStar;
using ::testing::Contains;
using testing::FillSky;
using testing::FrameRandom;

GuideStarResult Star(double x, double y, int peak, int background) {
  GuideStarResult star;
  star.Found = true;
  star.X = x;
  star.Y = y;
  star.Column = static_cast<int>(x);
  star.Row = static_cast<int>(y);
  star.Peak = peak;
  star.Background = background;
  return star;
}

TEST(FindGuideStar, PassesOverHotPixelsAndCrowdedStars) {
  FrameRandom random(7);
  Timgbuffer image;
  FillSky(image, 400, 400, 1000, 5, random);
  // A hot pixel far brighter than any star: its right neighbour is below a fifth of it.
  image.SetPixel(150, 230, 60000);
  // The brightest star has a bright neighbour within its box, off in both directions.
  AddGaussianStar(image, 90, 90, 1.2, 30000);
  AddGaussianStar(image, 100, 100, 1.2, 25000);
  // An isolated one, more than half as bright.
  AddGaussianStar(image, 220, 220, 1.2, 20000);

  const GuideStarResult star = FindGuideStar(image, 0, 0, 50);
  ASSERT_TRUE(star.Found);
  EXPECT_EQ(star.Column, 220);
  EXPECT_EQ(star.Row, 220);
  EXPECT_NEAR(star.X, 220, 0.05);
  EXPECT_NEAR(star.Y, 220, 0.05);

  // Searching the box around the crowded pair alone, nothing isolated is left: the
  // brightest stays.
  const GuideStarResult boxed = FindGuideStar(image, 95, 95, 40);
  ASSERT_TRUE(boxed.Found);
  EXPECT_EQ(boxed.Column, 90);
  EXPECT_EQ(boxed.Row, 90);
}

TEST(FindGuideStar, TwoEqualStarsCloserThanTheirWidthGiveTheFirstFound) {
  FrameRandom random(11);
  Timgbuffer image;
  FillSky(image, 200, 200, 1000, 5, random);
  AddGaussianStar(image, 100, 100, 1.5, 20000);
  AddGaussianStar(image, 102, 101, 1.5, 20000);
  const GuideStarResult star = FindGuideStar(image, 0, 0, 40);
  ASSERT_TRUE(star.Found);
  // The pair as one: its centroid lies between the two.
  EXPECT_GT(star.X, 100.3);
  EXPECT_LT(star.X, 101.7);
  EXPECT_GT(star.Y, 100.1);
  EXPECT_LT(star.Y, 100.9);
}

TEST(GuideTracker, AcquiresTracksCorrectsAndEndsBeyondTheBox) {
  GuideTracker tracker;
  const GuideScale scale{1.5, 1.5, 2, 2};
  EXPECT_TRUE(tracker.Step(Star(10, 10, 10000, 1000), 50, scale).Log.empty());  // off

  tracker.BeginSeries();
  GuideSearch search = tracker.Search(50);
  EXPECT_EQ(search.X0, 0);
  EXPECT_EQ(search.R, 100);
  // Too faint: (1100 - 1000) / sqrt(1100) = 3.
  GuideDecision d = tracker.Step(Star(100, 200, 1100, 1000), 50, scale);
  EXPECT_FALSE(d.Measured);
  EXPECT_FALSE(d.MarkerOn);
  EXPECT_THAT(d.Log, Contains("star guiding: kein Stern"));
  EXPECT_EQ(tracker.State(), GuidingState::Acquire);

  d = tracker.Step(Star(100.5, 200.5, 10000, 1000), 50, scale);
  EXPECT_TRUE(d.Measured);
  EXPECT_THAT(d.Log, Contains("star guiding: X=100.50 Y=200.50"));
  EXPECT_TRUE(d.MarkerOn);
  EXPECT_EQ(d.MarkerBox, 50);
  EXPECT_FALSE(d.Correct);
  EXPECT_EQ(tracker.State(), GuidingState::Track);
  search = tracker.Search(50);
  EXPECT_EQ(search.X0, 100);  // halves to even
  EXPECT_EQ(search.Y0, 200);
  EXPECT_EQ(search.R, 50);

  // A drift of exactly one pixel is left alone.
  d = tracker.Step(Star(101.5, 200.5, 10000, 1000), 50, scale);
  EXPECT_TRUE(d.Measured);
  EXPECT_FALSE(d.Correct);
  EXPECT_TRUE(d.Settle);
  EXPECT_DOUBLE_EQ(tracker.GuideX(), 1.0);

  // (3, -2) pixels at binning 2 and 1.5"/pixel: pulse back by (-9, +6) arc seconds.
  d = tracker.Step(Star(103.5, 198.5, 10000, 1000), 50, scale);
  EXPECT_TRUE(d.Correct);
  EXPECT_NEAR(d.CorrectionX, -9, 1e-9);
  EXPECT_NEAR(d.CorrectionY, 6, 1e-9);
  EXPECT_EQ(d.Status, "GuideX=3.00 GuideY=-2.00");
  EXPECT_THAT(d.Log, Contains("star guiding: dX=3.00 dY=-2.00"));

  // The signal test at its limit: (10000 - 9000) / 100 = 10 is not enough. Tracking goes
  // on around the same reference.
  d = tracker.Step(Star(103.5, 198.5, 10000, 9000), 50, scale);
  EXPECT_FALSE(d.Measured);
  EXPECT_FALSE(d.MarkerOn);
  EXPECT_EQ(tracker.GuideX(), 0);
  EXPECT_EQ(tracker.State(), GuidingState::Track);

  // 0.8 of the box of 50 is 40 pixels: at 40 guiding goes on, beyond it ends.
  d = tracker.Step(Star(140.5, 200.5, 10000, 1000), 50, scale);
  EXPECT_TRUE(d.Measured);
  EXPECT_FALSE(d.Ended);
  d = tracker.Step(Star(100.5, 241, 10000, 1000), 50, scale);
  EXPECT_FALSE(d.Measured);
  EXPECT_TRUE(d.Ended);
  EXPECT_FALSE(d.Correct);
  EXPECT_FALSE(d.MarkerOn);
  EXPECT_THAT(d.Log, Contains("star guiding: error"));
  EXPECT_EQ(tracker.State(), GuidingState::Off);
  EXPECT_EQ(tracker.GuideY(), 0);

  // A new series starts over from a new reference.
  tracker.BeginSeries();
  EXPECT_EQ(tracker.Search(50).X0, 0);
}

}  // namespace
}  // namespace noctarbel
