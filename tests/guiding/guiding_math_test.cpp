// Pulse conversion, guiding-test angles and centring arithmetic, on numbers worked out by hand.

#include <gtest/gtest.h>

#include <cmath>

#include "guiding/centring.h"
#include "guiding/guiding_test_math.h"
#include "guiding/pulse_guide.h"

namespace noctarbel {
namespace {

constexpr int kNorth = 0;
constexpr int kSouth = 1;
constexpr int kEast = 2;
constexpr int kWest = 3;

void ExpectPulses(const std::vector<PulseCommand>& plan, const std::vector<std::pair<int, int>>& expected) {
  ASSERT_EQ(plan.size(), expected.size());
  for (size_t i = 0; i < plan.size(); ++i) {
    EXPECT_EQ(plan[i].Direction, expected[i].first) << i;
    EXPECT_EQ(plan[i].Milliseconds, expected[i].second) << i;
  }
}

TEST(PulseGuidePlan, StretchesRightAscensionByTheDeclinationExceptNearThePole) {
  PulseGuideSettings s;  // 5 arc seconds per second
  // 2.5" / cos 60 = 5" at 5"/s: one second east.
  ExpectPulses(PulseGuidePlan(2.5, 0, 60, false, s), {{kEast, 1000}});
  // At 89 degrees and beyond no stretch: 5" is one second.
  ExpectPulses(PulseGuidePlan(5, 0, 89, false, s), {{kEast, 1000}});
  ExpectPulses(PulseGuidePlan(-5, 0, -89.5, false, s), {{kWest, 1000}});
  // Declination is never stretched; right ascension goes first.
  ExpectPulses(PulseGuidePlan(-5, -2.5, 0, false, s), {{kWest, 1000}, {kSouth, 500}});
  // Less than half a millisecond sends nothing.
  EXPECT_TRUE(PulseGuidePlan(0.002, -0.002, 0, false, s).empty());
}

TEST(PulseGuidePlan, OvercorrectionPierSideAndInvertSwitches) {
  PulseGuideSettings s;
  s.OvercorrectionGuiding = 5;  // 1.5 times
  ExpectPulses(PulseGuidePlan(10, 4, 0, false, s), {{kEast, 3000}, {kNorth, 1200}});

  PulseGuideSettings mirrored;
  mirrored.InvertPiersideguiding = true;
  ExpectPulses(PulseGuidePlan(5, 5, 0, true, mirrored), {{kWest, 1000}, {kSouth, 1000}});
  ExpectPulses(PulseGuidePlan(5, 5, 0, false, mirrored), {{kEast, 1000}, {kNorth, 1000}});

  PulseGuideSettings inverted;
  inverted.InvertRAguiding = true;
  inverted.InvertDECguiding = true;
  inverted.PulseGuideSpeed = 10;
  ExpectPulses(PulseGuidePlan(5, -5, 0, false, inverted), {{kWest, 500}, {kNorth, 500}});
}

TEST(GuidingTestMath, AngleRules) {
  EXPECT_NEAR(*DisplacementAngle(30, 0), 0, 1e-12);
  EXPECT_NEAR(*DisplacementAngle(0, 5), 90, 1e-12);
  EXPECT_NEAR(*DisplacementAngle(10, 10), 45, 1e-12);
  // Just below -179 is reported as 180; above it the angle stays.
  EXPECT_EQ(*DisplacementAngle(-10, -0.1), 180);
  EXPECT_NEAR(*DisplacementAngle(-10, -10 * std::tan(1.1 * 3.14159265358979 / 180)), -178.9, 1e-9);
  // Too small on both axes: less than 2 in x and at most 2 in y.
  EXPECT_FALSE(DisplacementAngle(1.9, 2).has_value());
  EXPECT_NEAR(*DisplacementAngle(1.9, 2.1), 47.8624, 1e-3);
  EXPECT_NEAR(*DisplacementAngle(2, 0), 0, 1e-12);

  // On the west side an unmirrored pulse shows the camera half a turn off.
  EXPECT_NEAR(EastSideAngle(210, true, false), 30, 1e-12);
  EXPECT_NEAR(EastSideAngle(180, true, false), 0, 1e-12);
  EXPECT_NEAR(EastSideAngle(-150, true, false), 30, 1e-12);
  EXPECT_NEAR(EastSideAngle(30, true, true), 30, 1e-12);
  EXPECT_NEAR(EastSideAngle(30, false, false), 30, 1e-12);

  EXPECT_EQ(AddToCameraRotation(350, 30.4), 20);
  EXPECT_EQ(AddToCameraRotation(10, -30), 340);
  EXPECT_EQ(AddToCameraRotation(0, 89.5), 90);  // halves to even
  EXPECT_EQ(AddToCameraRotation(0, 180), 180);

  EXPECT_EQ(GuidingTestResultText(30.04, -0.26, 1234.56), "dx=30.0 dy=-0.3 angle=1235.0");
  EXPECT_EQ(GuidingTestMoveText(30), "Now the telescope should move about 30\" in RA (to east)");
  EXPECT_EQ(MovementCheckText(MeasuredMovement(12, -3, -18.04, -33)), "dx(RA)=30.0 dy(DEC)=-30.0");
}

TEST(CentringMath, OffsetMoveAndSyncTolerance) {
  // A camera turned by 90 degrees: a star on the centre row right of the centre (ex = -30)
  // is a declination offset of +30.
  const StarOffset turned = OffsetOfStar(200, 100, 120, 50, 1.5, 1.5, 90);
  EXPECT_NEAR(turned.X, 0, 1e-9);
  EXPECT_NEAR(turned.Y, 30, 1e-9);
  EXPECT_EQ(StarOffsetText(StarOffset{-12.34, 5.04}), "Star to center dist. in \": (12.3/5.0)");

  const StarOffset offset{36, -18};
  const SkyMove east = CorrectingMove(offset, false);
  EXPECT_DOUBLE_EQ(east.X, 0.01);
  EXPECT_DOUBLE_EQ(east.Y, -0.005);
  const SkyMove west = CorrectingMove(offset, true);
  EXPECT_DOUBLE_EQ(west.X, -0.01);
  EXPECT_DOUBLE_EQ(west.Y, 0.005);

  EXPECT_FALSE(NeedsCorrectingMove(StarOffset{0, 0}));
  EXPECT_TRUE(NeedsCorrectingMove(StarOffset{4.5, 0}));  // off along one axis only

  const PixelOffset pixels = OffsetInPixels(StarOffset{7.5, -4.5}, 3);
  EXPECT_EQ(pixels.X, 2);  // 2.5 halves to even
  EXPECT_EQ(pixels.Y, -2);
  EXPECT_EQ(OffsetInPixels(StarOffset{7.5, 1}, 0).X, 0);

  // The range counts pixels; an offset equal to it neither takes the second pass nor counts
  // as within it.
  EXPECT_FALSE(SyncNeedsSecondPass(PixelOffset{5, -5}, 5));
  EXPECT_FALSE(SyncWithinRange(PixelOffset{5, 0}, 5));
  EXPECT_TRUE(SyncNeedsSecondPass(PixelOffset{0, -6}, 5));
  EXPECT_TRUE(SyncWithinRange(PixelOffset{4, -4}, 5));
}

}  // namespace
}  // namespace noctarbel
