// The autofocus jump, the calibration positions, the measuring subframe and the fitted V
// lines, on numbers worked out by hand.

#include <gtest/gtest.h>

#include <cmath>

#include "guiding/autofocus_math.h"
#include "guiding/v_line_fit.h"

namespace noctarbel {
namespace {

// A V with its tip at position 1000 and HFD 2.
const VLines kV{-0.05, 52, 0.05, -48};

TEST(AutofocusMath, TheJumpOfTheWorkedExample) {
  EXPECT_TRUE(VLinesProblem(kV).empty());
  EXPECT_DOUBLE_EQ(VTipPosition(kV), 1000);
  // P = 1000: P0 = 600 measures 22, the left line reaches HFD 10 240 steps on.
  EXPECT_EQ(FirstFocusStep(22, 10, kV), 240);
  // At P1 = 840 a measured 10: 160 steps more to 1000.
  EXPECT_EQ(840 + SecondFocusStep(10, kV), 1000);
  // A measurement off the line moves the jump with it: HFD 11 puts P1 20 steps further out.
  EXPECT_EQ(840 + SecondFocusStep(11, kV), 1020);

  // The lines as the settings hold them: single precision.
  const VLines stored{-0.05f, 52.0f, 0.05f, -48.0f};
  EXPECT_EQ(FirstFocusStep(22, 10.0f, stored), 240);
  EXPECT_EQ(840 + SecondFocusStep(10, stored), 1000);

  EXPECT_EQ(VLinesProblem(VLines{0, 52, 0.05, -48}), "not calibrated");
  EXPECT_EQ(VLinesProblem(VLines{-0.05, 52, 0, -48}), "not calibrated");
  EXPECT_EQ(VLinesProblem(VLines{0.05, 52, 0.05, -48}), "the V lines do not form a V");
  EXPECT_EQ(VLinesProblem(VLines{-0.05, 52, -0.04, -48}), "the V lines do not form a V");
}

TEST(AutofocusMath, TheSecondMeasurementMustLieOnTheLeftLine) {
  EXPECT_DOUBLE_EQ(SecondMeasurementTolerance(10, 0), 1.0);
  EXPECT_DOUBLE_EQ(SecondMeasurementTolerance(30, 0.1), 3.0);
  EXPECT_DOUBLE_EQ(SecondMeasurementTolerance(10, 0.5), 1.5);
  struct Case {
    double h1, h2;
    const char* problem;  // a part of the reason, "" when the jump may follow
  } cases[] = {
      {22, 10, ""},               // the worked example
      {22, 10.9, ""},             // within the tolerance of 1
      {2, 10.5, ""},              // from the tip outwards to the target
      {22, 11.5, "not within 1.00 of the target 10.00"},
      {20.2, 30.2, "the HFD grew"},  // begun right of best focus
      {13.3, 13.3, "the HFD grew"},
      {5.4, 2.5, "off the calibrated left flank"},  // the step crossed the tip
  };
  for (const Case& c : cases) {
    const std::string problem = SecondMeasurementProblem(c.h1, c.h2, 10, 1.0);
    if (std::string(c.problem).empty()) {
      EXPECT_EQ(problem, "") << c.h1 << " -> " << c.h2;
    } else {
      EXPECT_NE(problem.find(c.problem), std::string::npos) << c.h1 << " -> " << c.h2 << ": " << problem;
    }
  }
}

TEST(AutofocusMath, CalibrationPositionsRadiusAndSubframes) {
  EXPECT_EQ(CalibrationPositions(5000, 500, 5), (std::vector<int>{4500, 4600, 4700, 4800, 4900}));
  EXPECT_EQ(CalibrationPositions(5000, -500, 5), (std::vector<int>{5500, 5400, 5300, 5200, 5100}));
  // 250 / 4 = 62.5 rounds to the even 62.
  EXPECT_EQ(CalibrationPositions(1000, 250, 4), (std::vector<int>{750, 812, 874, 936}));

  EXPECT_EQ(HfdRadius(300), 100);
  EXPECT_EQ(HfdRadius(150), 25);

  // A star found on a binning-2 frame at column 321 (1-based) is pixel 640 at binning 1.
  EXPECT_EQ(ToFocusBinning(321, 2, 1), 640);
  EXPECT_EQ(ToFocusBinning(321, 2, 3), 213);

  // A subframe of 300 around (640, 512) on a 1280 x 1024 sensor: its centroid window of
  // 200 x 200 pixels lies in the middle, columns 51..250.
  HfdSubframe frame = PlaceHfdSubframe(640, 512, 300, 1280, 1024);
  EXPECT_EQ(frame.X0, 490);
  EXPECT_EQ(frame.Y0, 362);
  EXPECT_EQ(frame.Width, 300);
  EXPECT_TRUE(StarInCentroidWindow(640, 512, frame, 100));
  // Near the edge the subframe stays on the sensor and the star leaves the window.
  frame = PlaceHfdSubframe(1270, 20, 300, 1280, 1024);
  EXPECT_EQ(frame.X0, 980);
  EXPECT_EQ(frame.Y0, 0);
  EXPECT_FALSE(StarInCentroidWindow(1270, 20, frame, 100));
  // A sensor smaller than the subframe.
  frame = PlaceHfdSubframe(100, 60, 300, 200, 120);
  EXPECT_EQ(frame.Width, 200);
  EXPECT_EQ(frame.Height, 120);
  EXPECT_EQ(frame.X0, 0);

  frame = PlaceFocusLoopSubframe(50, 600, 640, 512);
  EXPECT_EQ(frame.X0, 0);
  EXPECT_EQ(frame.Y0, 362);
  EXPECT_EQ(frame.Width, 200);
  EXPECT_EQ(frame.Height, 150);
}

std::vector<VCurvePoint> Flank(const std::vector<std::pair<int, double>>& points) {
  std::vector<VCurvePoint> flank;
  for (const auto& [position, hfd] : points) flank.push_back(VCurvePoint{position, hfd, false});
  return flank;
}

TEST(VLineFit, FitsBothFlanksLeavingOutTheTip) {
  // The V of the example, plus points near the tip that round off (they lie above the lines).
  const auto left = Flank({{500, 27}, {600, 22}, {700, 17}, {800, 12}, {950, 4.6}});
  const auto right = Flank({{1050, 4.6}, {1200, 12}, {1300, 17}, {1400, 22}, {1500, 27}});
  const VFit fit = FitVCurve(left, right, 2.4);
  ASSERT_TRUE(fit.Usable()) << fit.Problem();
  EXPECT_NEAR(fit.Left.Slope, -0.05, 1e-12);
  EXPECT_NEAR(fit.Left.Intercept, 52, 1e-9);
  EXPECT_NEAR(fit.Right.Slope, 0.05, 1e-12);
  EXPECT_NEAR(fit.Right.Intercept, -48, 1e-9);
  EXPECT_EQ(fit.Left.PointsUsed, 4);  // 4.6 < 2 * 2.4
  EXPECT_NEAR(fit.Left.Residual, 0, 1e-9);
  EXPECT_NEAR(VTipPosition(fit.Lines()), 1000, 1e-6);
}

TEST(VLineFit, ResidualOfScatteredPoints) {
  // HFD 10, 12, 13 at 0, 1, 2: slope 1.5, intercept 10.1667, residuals -1/6, 1/3, -1/6.
  const LineFit line = FitLine(Flank({{0, 10}, {1, 12}, {2, 13}}));
  ASSERT_TRUE(line.Fitted);
  EXPECT_NEAR(line.Slope, 1.5, 1e-12);
  EXPECT_NEAR(line.Intercept, 61.0 / 6.0, 1e-12);
  EXPECT_NEAR(line.Residual, std::sqrt((1.0 / 36 + 1.0 / 9 + 1.0 / 36) / 3), 1e-12);
}

TEST(VLineFit, AFlankWithoutTwoUsablePointsIsReportedNotFitted) {
  std::vector<VCurvePoint> left = Flank({{600, 22}, {700, -1}});
  left.push_back(VCurvePoint{800, 12, true});  // saturated
  const auto right = Flank({{1200, 12}, {1300, 17}});
  const VFit fit = FitVCurve(left, right, 2);
  EXPECT_FALSE(fit.Left.Fitted);
  EXPECT_EQ(fit.Left.PointsUsed, 1);
  EXPECT_TRUE(fit.Right.Fitted);
  EXPECT_FALSE(fit.Usable());
  EXPECT_EQ(fit.Problem(), "left flank not fitted: fewer than two usable points");

  // Two points at one position: no slope to speak of.
  const LineFit same = FitLine(Flank({{700, 17}, {700, 18}}));
  EXPECT_FALSE(same.Fitted);
  EXPECT_EQ(same.Problem, "all usable points at one position");
  EXPECT_FALSE(FitLine({}).Fitted);

  // Flanks that rise the wrong way are fitted but not usable.
  const VFit wrong = FitVCurve(Flank({{600, 12}, {700, 17}}), Flank({{1200, 17}, {1300, 12}}), 2);
  EXPECT_TRUE(wrong.Left.Fitted);
  EXPECT_FALSE(wrong.Usable());
  EXPECT_EQ(wrong.Problem(), "the left flank does not fall towards focus");
}

}  // namespace
}  // namespace noctarbel
