// Guiding, centring and the guiding test in closed loop on the simulators: a drifting mount
// guided through a series, centre-and-sync against a pointing error, and the camera angle
// measured for several rotations on both sides of the pier.

#include <gtest/gtest.h>

#include <cmath>

#include "operations/manual_exposure.h"
#include "tests/imaging/synthetic_frames.h"
#include "tests/operations/focusing_fixture.h"
#include "windows/guiding_window.h"

namespace noctarbel::testing {
namespace {

constexpr double kArcsecPerBinnedPixel = 3.0;  // 1.5" at binning 2

class GuidingTest : public FocusingFixture {
 protected:
  // A full frame at binning 2.
  ExposureRequest Frame(double seconds) { return ExposureRequest{2, 640, 512, 0, 0, 0, seconds, true}; }

  bool Take(Timgbuffer& image, double seconds) {
    OperationContext op = Op();
    return station->Camera.TakeImage(op, Frame(seconds), image).HasImage();
  }

  GuideDecision Guide(const Timgbuffer& image) {
    OperationContext op = Op();
    return station->Guiding.GuideStep(op, image);
  }
};

TEST_F(GuidingTest, AGuidedSeriesHoldsTheStarWhileTheMountDrifts) {
  PlaceStarAtPointing(6);
  Mount().Config.DriftRaArcsecPerMin = 6;
  Mount().Config.DriftDecArcsecPerMin = -4;
  station->Guiding.BeginSeries();
  Timgbuffer image;
  double worst = 0;
  for (int i = 1; i <= 20; ++i) {
    ASSERT_TRUE(Take(image, 30));
    const GuideDecision d = Guide(image);
    ASSERT_TRUE(d.Measured) << "image " << i;
    worst = std::max({worst, std::abs(station->GuideX), std::abs(station->GuideY)});
  }
  // Unguided, the star would have wandered some 20 pixels in x over the 11 minutes.
  EXPECT_LE(worst, 2.0);
  EXPECT_GT(Mount().PulsesReceived(), 5);
  EXPECT_TRUE(LogHas(": star guiding: X="));
  EXPECT_TRUE(station->ViewerWindow.ShowTrackingCircle);
  EXPECT_EQ(station->ViewerWindow.TrackingBox, 50);
  EXPECT_NEAR(station->ViewerWindow.GuideMarkerX, station->Guiding.Tracker.ReferenceX(), 1e-9);
}

// A 200 x 100 frame of sky with one star at (x, y), binned bx by by, without a scale card.
Timgbuffer FrameWithStar(double x, double y, int bx, int by) {
  Timgbuffer image;
  FrameRandom random(7);
  FillSky(image, 200, 100, 1000, 5, random);
  AddGaussianStar(image, x, y, 1.5, 20000);
  image.XBinning = static_cast<std::uint16_t>(bx);
  image.YBinning = static_cast<std::uint16_t>(by);
  return image;
}

// Non-square pixels (1" by 2") binned 1 by 2: a drift along one axis is corrected with that
// axis's own scale, and the pulse (5"/s) is as long as that correction.
TEST_F(GuidingTest, EachAxisIsCorrectedWithItsOwnScaleAndBinning) {
  Settings().ArcsecX = 1.0;
  Settings().ArcsecY = 2.0;
  Settings().PulseGuideSpeed = 5;
  OperationContext op = Op();
  ASSERT_TRUE(station->Mount.SlewAndWait(op, Scope()->RightAscension(), 0));  // no stretch at the equator
  station->Guiding.BeginSeries();
  ASSERT_TRUE(Guide(FrameWithStar(100, 50, 1, 2)).Measured);
  struct Drift {
    double x, y;
    double correctionX, correctionY;
    bool raAxis;
    int ms;
  };
  for (const Drift& d : {Drift{100, 54, 0, -16, false, 3200}, Drift{104, 50, -4, 0, true, 800}}) {
    const size_t before = Mount().Pulses().size();
    const GuideDecision decision = Guide(FrameWithStar(d.x, d.y, 1, 2));
    ASSERT_TRUE(decision.Correct);
    EXPECT_NEAR(decision.CorrectionX, d.correctionX, 0.2);
    EXPECT_NEAR(decision.CorrectionY, d.correctionY, 0.2);
    ASSERT_EQ(Mount().Pulses().size(), before + 1);
    const auto [direction, ms] = Mount().Pulses().back();
    EXPECT_EQ(direction == kGuideEast || direction == kGuideWest, d.raAxis);
    EXPECT_NEAR(ms, d.ms, 60);
  }
}

// A binned image without a scale card is measured with the settings' scale at its binning:
// the offset in arc seconds, in pixels, and the move the mount is sent.
TEST_F(GuidingTest, CentringABinnedImageWithoutAScaleCardUsesTheSettingsScale) {
  Settings().ArcsecX = 1.5;
  Settings().CameraRotation = 0;
  OperationContext op = Op();
  ASSERT_TRUE(station->Mount.SlewAndWait(op, Scope()->RightAscension(), 0));
  const double raBefore = Scope()->RightAscension();
  const double decBefore = Scope()->Declination();
  Timgbuffer image = FrameWithStar(110, 50, 3, 3);  // 10 binned pixels from the centre (100, 50)
  const CentringResult result = station->Centring.CenterOnBrightestStar(op, image, true);
  ASSERT_TRUE(result.Found);
  EXPECT_NEAR(std::abs(result.Offset.X), 45, 1);  // 10 x 1.5" x 3
  EXPECT_NEAR(result.Offset.Y, 0, 1);
  EXPECT_EQ(std::abs(result.Pixels.X), 10);
  EXPECT_EQ(result.Pixels.Y, 0);
  ASSERT_TRUE(result.Moved);
  EXPECT_NEAR(std::abs(WrapHours12(Scope()->RightAscension() - raBefore)) * 15 * 3600, 45, 1);
  EXPECT_NEAR(Scope()->Declination(), decBefore, 1.0 / 3600);
}

struct CentringCase {
  double Rotation;
  double HourAngle;  // of the target: west of the meridian the tube is on the east side
  PierSide Side;
};

class CentringTest : public GuidingTest, public ::testing::WithParamInterface<CentringCase> {};

TEST_P(CentringTest, CentreAndSyncRemovesThePointingError) {
  Camera().Config.RotationDeg = GetParam().Rotation;
  Settings().CameraRotation = static_cast<int>(GetParam().Rotation);
  Mount().Config.PointingErrorRaArcsec = 70;
  Mount().Config.PointingErrorDecArcsec = -45;
  // A goto to a target places its star there; the optics point beside it. The mount stands
  // on the meridian now.
  const double ra = WrapHours24(Scope()->RightAscension() - GetParam().HourAngle);
  const double dec = Scope()->Declination() + 2;
  OperationContext op = Op();
  ASSERT_TRUE(station->Mount.SlewAndWait(op, ra, dec));
  ASSERT_EQ(Scope()->SideOfPier(), GetParam().Side);

  const SyncResult result = station->Centring.CenterAndSync(op, ra, dec, Frame(0.1), 5);
  EXPECT_TRUE(result.Found);
  EXPECT_TRUE(result.Synced);
  EXPECT_LT(std::abs(result.Pixels.X), 5);
  EXPECT_LT(std::abs(result.Pixels.Y), 5);
  EXPECT_TRUE(LogHas(": Center&Sync star position"));
  EXPECT_TRUE(LogHas(": center&sync OK"));
  EXPECT_NEAR(Scope()->RightAscension(), ra, 1e-9);
  EXPECT_NEAR(Scope()->Declination(), dec, 1e-9);

  // The next goto lands on its target.
  const double ra2 = WrapHours24(ra + 0.05);
  const double dec2 = dec - 1.5;
  ASSERT_TRUE(station->Mount.SlewAndWait(op, ra2, dec2));
  Settings().CameraRotation = static_cast<int>(GetParam().Rotation);
  Timgbuffer image;
  ASSERT_TRUE(Take(image, 0.1));
  const CentringResult left = station->Centring.CenterOnBrightestStar(op, image, false);
  ASSERT_TRUE(left.Found);
  EXPECT_LE(std::abs(left.Pixels.X), 1);
  EXPECT_LE(std::abs(left.Pixels.Y), 1);
}

INSTANTIATE_TEST_SUITE_P(RotationsAndPierSides, CentringTest,
                         ::testing::Values(CentringCase{0, 1.0, PierSide::East}, CentringCase{30, 1.0, PierSide::East},
                                           CentringCase{30, -1.0, PierSide::West}));

TEST_F(GuidingTest, CentreAndSyncWithoutAStarNeitherMovesNorSyncs) {
  Camera().Config.FluxAtMagnitudeZero = 0;
  const int slews = Mount().SlewsStarted();
  OperationContext op = Op();
  const SyncResult result = station->Centring.CenterAndSync(op, 10, 20, Frame(0.1), 5);
  EXPECT_FALSE(result.Found);
  EXPECT_FALSE(result.Synced);
  EXPECT_EQ(result.Log.back(), ": no bright star found");
  EXPECT_EQ(Mount().SlewsStarted(), slews);
}

TEST_F(GuidingTest, TheCentreButtonMovesByTheLastOffsetAndExposesAgain) {
  PlaceStarAtPointing(5, 60, -30);
  Main().SetText("ExposeSecEdit", "0.1");
  station->Activate("ExposeButton");
  ASSERT_TRUE(Main().Enabled("Centerbutton"));
  EXPECT_NEAR(station->StarOffsetArcsec.X, 60, 3);
  EXPECT_NEAR(station->StarOffsetArcsec.Y, -30, 3);
  station->Activate("Centerbutton");
  EXPECT_LE(std::abs(station->StarOffsetArcsec.X), kArcsecPerBinnedPixel);
  EXPECT_LE(std::abs(station->StarOffsetArcsec.Y), kArcsecPerBinnedPixel);
}

struct RotationCase {
  double Rotation;
  double Azimuth;  // west of the meridian (over 180) the tube is on the east side
  bool Mirrored;   // InvertPiersideguiding
};

class GuidingTestAngle : public GuidingTest, public ::testing::WithParamInterface<RotationCase> {};

TEST_P(GuidingTestAngle, MeasuresTheCameraRotation) {
  Camera().Config.RotationDeg = GetParam().Rotation;
  PlaceMount(GetParam().Azimuth, 60);
  Scope()->SetTracking(true);
  ASSERT_EQ(Scope()->SideOfPier(), GetParam().Azimuth > 180 ? PierSide::East : PierSide::West);
  Settings().InvertPiersideguiding = GetParam().Mirrored;
  PlaceStarAtPointing(5);
  ManualExposure exposure;
  exposure.Exposure = 0.1;
  std::vector<std::string> said;
  OperationContext op = Op();
  const GuidingTestResult result = station->Guiding.RunGuidingTest(
      op, 30, ManualExposureSource(*station, exposure), [&](const std::string& text) { said.push_back(text); });
  ASSERT_TRUE(result.Ok()) << GuidingCheckMessage(result.End);
  EXPECT_NEAR(std::hypot(result.Dx, result.Dy), 30, 3.5);
  const double error = std::remainder(result.Angle - GetParam().Rotation, 360.0);
  EXPECT_LE(std::abs(error), 3.0) << "measured " << result.Angle;
  // 30" at 5"/s stretched for the declination: one and a half times the pulse sent.
  const double pulseMs = std::round(30 * 1000 / 5.0 / std::cos(Scope()->Declination() * 0.0174533));
  EXPECT_NEAR(result.WaitMs, 1.5 * pulseMs, 1);
  EXPECT_GT(result.WaitMs, 9000);  // more than the 9 s of a pulse at the equator
  ASSERT_EQ(said.size(), 1u);
  EXPECT_EQ(said[0], "Now the telescope should move about 30\" in RA (to east)");
}

INSTANTIATE_TEST_SUITE_P(RotationsAndPierSides, GuidingTestAngle,
                         ::testing::Values(RotationCase{0, 200, false}, RotationCase{30, 200, false},
                                           RotationCase{90, 200, false}, RotationCase{180, 200, false},
                                           RotationCase{0, 160, false}, RotationCase{30, 160, false},
                                           RotationCase{90, 160, true}, RotationCase{180, 160, true}));

TEST_F(GuidingTest, TheGuidingTestWindowSavesTheRotationAndTheSetupCheckMeasuresTheMove) {
  Camera().Config.RotationDeg = 30;
  PlaceStarAtPointing(5);
  // A speed of 0 typed into the file: the default's 5"/s, said in the log, not a 30 s pulse.
  Settings().PulseGuideSpeed = 0;
  Controls& form = station->Form(kGuidingTestForm);
  station->Activate("GuidingtestButton");
  EXPECT_EQ(form.Text("GuiderateRAedit"), "5.0/s");
  EXPECT_EQ(form.Text("CamrotationEdit"), "0");
  Main().SetText("ExposeSecEdit", "2");
  ui.answers = {true, true};
  station->Activate(kGuidingTestForm, "startbutton");
  EXPECT_EQ(Main().Text("ExposeSecEdit"), "0.1");
  ASSERT_GE(ui.messages.size(), 2u) << ui.LastMessage();
  EXPECT_EQ(ui.messages[ui.messages.size() - 2], "Now the telescope should move about 30\" in RA (to east)");
  EXPECT_EQ(ui.LastMessage().rfind("dx=", 0), 0u) << ui.LastMessage();
  EXPECT_NE(ui.LastMessage().find(" angle="), std::string::npos) << ui.LastMessage();
  EXPECT_TRUE(LogHas(": PulseGuideSpeed 0 is outside 1..20: 5 used"));
  EXPECT_EQ(Settings().PulseGuideSpeed, 5);
  EXPECT_EQ(ui.questions.back(), "Save camera rotation angle?");
  EXPECT_NEAR(Settings().CameraRotation, 30, 3);
  EXPECT_EQ(form.Text("CamrotationEdit"), std::to_string(Settings().CameraRotation));
  EXPECT_EQ(station->Setup.IntValue("CameraRotationEdit"), Settings().CameraRotation);

  // The settings dialog's check: +30" in RA and -30" in DEC move the star 30" each way.
  Camera().Config.RotationDeg = 0;
  Settings().CameraRotation = 0;
  Settings().OvercorrectionGuiding = 5;
  ui.answers = {true};
  ui.messages.clear();
  station->Activate("SetupForm1", "guidetestBtn");
  EXPECT_EQ(Settings().OvercorrectionGuiding, 5);
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[0], "Now the scope should move 30\" in RA and DEC");
  EXPECT_EQ(ui.messages[1].rfind("dx(RA)=", 0), 0u);
  const double ra = std::stod(ui.messages[1].substr(7));
  const double decOffset = std::stod(ui.messages[1].substr(ui.messages[1].find("dy(DEC)=") + 8));
  EXPECT_NEAR(ra, 30, 3.5);
  EXPECT_NEAR(decOffset, 30, 3.5);

  // Without a star there is nothing to measure.
  Camera().Config.FluxAtMagnitudeZero = 0;
  ui.answers = {true};
  station->Activate(kGuidingTestForm, "startbutton");
  EXPECT_EQ(ui.LastMessage(), "No star found. Exit.");
}

}  // namespace
}  // namespace noctarbel::testing
