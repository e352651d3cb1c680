// The driver contract over every backend: the mount through the station's mount operations
// (goto with the horizon refusal and the conversion to the mount's equator, pier side, alt/az
// slews and both kinds of park, tracking, pulse guiding, guide rates, sync, abort), the camera
// driver (sensor, frames with stars, binning, sub-frames, refusals, stop, dark frames, the
// cooler), the focuser and the filter wheel through their operations.

#include <gtest/gtest.h>

#include <cmath>

#include "tests/devices/contract/device_contract.h"

namespace noctarbel::testing {
namespace {

constexpr double kSiderealDegPerSecond = 360.0 / 86164.0905;

int Brightest(const ImageArrayData& image) { return *std::max_element(image.Pixels16.begin(), image.Pixels16.end()); }
int Median(ImageArrayData image) {
  auto& p = image.Pixels16;
  std::nth_element(p.begin(), p.begin() + static_cast<long>(p.size() / 2), p.end());
  return p[p.size() / 2];
}
// How far the brightest pixel stands above the sky, and how many stand 300 above it.
int Peak(const ImageArrayData& image) { return Brightest(image) - Median(image); }
long BrightPixels(const ImageArrayData& image) {
  const int sky = Median(image);
  return std::count_if(image.Pixels16.begin(), image.Pixels16.end(), [&](int v) { return v > sky + 300; });
}

class MountContract : public DeviceContractTest {
 protected:
  void SetUp() override {
    DeviceContractTest::SetUp();
    std::string error;
    ASSERT_TRUE(station->Mount.Connect(&error)) << error;
    scope = station->Devices.Telescope;
  }
  void TearDown() override { station->Mount.Disconnect(); }
  void Goto(const EquatorialPosition& j2000) {
    ASSERT_EQ(station->Mount.GotoJ2000(j2000.Ra, j2000.Dec), GotoOutcome::Sent) << station->Status();
    EXPECT_TRUE(scope->Slewing());
    WaitWhileSlewing();
  }
  std::shared_ptr<ITelescope> scope;
};

TEST_P(MountContract, ConnectsAndDescribesItself) {
  EXPECT_TRUE(station->Mount.Connected());
  EXPECT_NE(station->Mount.DriverText().find(facts.MountText), std::string::npos) << station->Mount.DriverText();
  EXPECT_EQ(scope->EquatorialSystem(), facts.EquatorialSystem);
  EXPECT_EQ(scope->CanFindHome(), facts.CanFindHome);
  EXPECT_TRUE(scope->CanSetTracking());
  EXPECT_TRUE(scope->CanSetGuideRates());
  // No slew without a target, no target off the sky.
  EXPECT_THROW(scope->SlewToTargetAsync(), DeviceError);
  EXPECT_THROW(scope->SetTargetRightAscension(24.5), DeviceError);
  EXPECT_THROW(scope->SetTargetDeclination(-91), DeviceError);
  scope->SetConnected(false);
  EXPECT_FALSE(scope->Connected());
  EXPECT_THROW(scope->RightAscension(), DeviceError);
  scope->SetConnected(true);
  EXPECT_TRUE(scope->Connected());
  EXPECT_GE(scope->Declination(), -90.0);
}

TEST_P(MountContract, GotoRefusesBelowTheHorizonAndSlewsToThePositionOnTheMountsEquator) {
  const double decBefore = scope->Declination();
  const EquatorialPosition low = AtHourAngle(0, -60);  // 20 degrees below the horizon
  EXPECT_EQ(station->Mount.GotoJ2000(low.Ra, low.Dec), GotoOutcome::BelowHorizon);
  clock.Sleep(500);
  EXPECT_FALSE(scope->Slewing());
  EXPECT_NEAR(scope->Declination(), decBefore, 1e-6);

  // West of the meridian the tube stands east of the pier.
  const EquatorialPosition west = AtHourAngle(1.5, 25);
  Goto(west);
  const EquatorialPosition wanted = AsReported(west);
  EXPECT_LT(Gap(scope->RightAscension(), scope->Declination(), wanted.Ra, wanted.Dec), 0.005);
  const EquatorialPosition ofDate = OfDate(west);
  EXPECT_GT(Gap(ofDate.Ra, ofDate.Dec, west.Ra, west.Dec), 0.05);  // the conversion matters
  EXPECT_TRUE(scope->Tracking());
  EXPECT_EQ(scope->SideOfPier(), PierSide::East);
  const auto status = station->Mount.ReadStatus();
  ASSERT_TRUE(status);
  EXPECT_EQ(status->Side, PierSide::East);

  Goto(AtHourAngle(-1.5, 25));
  EXPECT_EQ(scope->SideOfPier(), PierSide::West);
}

TEST_P(MountContract, AltAzSlewsAndBothParksEndAtThePlacedPosition) {
  // The station's own park: an alt/az slew.
  station->Settings.ParkMethod = 1;
  station->Settings.Park1Az = 120;
  station->Settings.Park1Alt = 35;
  OperationContext op = Op();
  ASSERT_TRUE(station->Mount.GotoParkPosition1(op)) << station->Status();
  auto [azimuth, altitude] = station->Mount.AzimuthAltitude();
  EXPECT_NEAR(azimuth, 120, 0.1);
  EXPECT_NEAR(altitude, 35, 0.1);
  EXPECT_FALSE(scope->Tracking());
  clock.Sleep(2000);  // not tracking: it stays put in alt/az
  EXPECT_NEAR(scope->Altitude(), 35, 0.05);

  // The driver's park.
  station->Settings.ParkMethod = 0;
  station->Settings.Park1Az = facts.DriverParkAzimuth;
  station->Settings.Park1Alt = 0;
  ASSERT_TRUE(station->Mount.GotoParkPosition1(op)) << station->Status();
  EXPECT_FALSE(scope->Tracking());
  EXPECT_NEAR(scope->Altitude(), 0, 0.5);

  // A goto unparks the parked mount (the station has no Unpark of its own).
  Goto(AtHourAngle(-2, 10));
  EXPECT_TRUE(scope->Tracking());
}

TEST_P(MountContract, TrackingPulseGuidingAndGuideRates) {
  Goto(AtHourAngle(1, 10));
  const double rate = scope->GuideRateRightAscension();
  EXPECT_NEAR(rate, facts.GuideRate, 1e-6);
  scope->SetGuideRateDeclination(0.003);
  EXPECT_NEAR(scope->GuideRateDeclination(), 0.003, 1e-6);
  EXPECT_THROW(scope->SetGuideRateRightAscension(1.5), DeviceError);

  // A 2 s pulse moves the pointing by twice its axis's rate.
  const double step = 2.0 * rate;
  const double decStep = 2.0 * 0.003;
  const double dec = scope->Declination();
  scope->PulseGuide(kGuideNorth, 2000);
  clock.Sleep(2600);
  EXPECT_NEAR(std::abs(scope->Declination() - dec), decStep, decStep * 0.25);
  scope->PulseGuide(kGuideSouth, 2000);
  clock.Sleep(2600);
  EXPECT_NEAR(scope->Declination(), dec, decStep * 0.25);
  scope->SetGuideRateDeclination(rate);  // as it was, for the tests after this one
  double ra = scope->RightAscension();
  scope->PulseGuide(kGuideWest, 2000);
  clock.Sleep(2600);
  EXPECT_NEAR(std::abs(scope->RightAscension() - ra) * 15.0, step, step * 0.4);
  EXPECT_THROW(scope->PulseGuide(4, 100), DeviceError);

  // Not tracking, the right ascension runs on with the sky.
  scope->SetTracking(false);
  EXPECT_FALSE(scope->Tracking());
  ra = scope->RightAscension();
  clock.Sleep(3000);
  EXPECT_NEAR((scope->RightAscension() - ra) * 3600.0, 3.0, 0.6);
  scope->SetTracking(true);
  EXPECT_TRUE(scope->Tracking());
  ra = scope->RightAscension();
  clock.Sleep(2000);
  EXPECT_NEAR(scope->RightAscension(), ra, 0.2 / 3600.0);
}

TEST_P(MountContract, SyncTakesThePositionAndTheNextGotoSlewsAgainUntilAborted) {
  const EquatorialPosition here = AsReported(AtHourAngle(1, 10));
  Goto(AtHourAngle(1, 10));
  scope->SyncToCoordinates(here.Ra + 0.05, here.Dec + 0.3);
  EXPECT_NEAR(scope->RightAscension(), here.Ra + 0.05, 0.001);
  EXPECT_NEAR(scope->Declination(), here.Dec + 0.3, 0.01);

  // After a sync the mount must not take the next target as another sync.
  const EquatorialPosition far = AtHourAngle(3, 40);
  ASSERT_EQ(station->Mount.GotoJ2000(far.Ra, far.Dec), GotoOutcome::Sent) << station->Status();
  EXPECT_TRUE(scope->Slewing());
  clock.Sleep(1000);
  station->Mount.AbortSlew();
  EXPECT_TRUE(WaitUntil([&] { return !scope->Slewing(); }, 2000));
  const EquatorialPosition wanted = AsReported(far);
  EXPECT_GT(Gap(scope->RightAscension(), scope->Declination(), wanted.Ra, wanted.Dec), 5.0);
}

class CameraContract : public DeviceContractTest {
 protected:
  void SetUp() override {
    DeviceContractTest::SetUp();
    DeviceContext context = station->MakeDeviceContext();
    camera = station->Devices.Registry.CreateCamera(station->Settings.CameraObject, context);
    camera->SetConnected(true);
  }
  void TearDown() override {
    if (camera) camera->SetConnected(false);
  }
  ImageArrayData Expose(double seconds, bool light = true) {
    camera->StartExposure(seconds, light);
    EXPECT_TRUE(WaitUntil([&] { return camera->ImageReady(); }, 15000)) << "no image";
    return camera->ImageArray();
  }
  void FullFrame(int bin) {
    camera->SetBinX(bin);
    camera->SetBinY(bin);
    camera->SetStartX(0);
    camera->SetStartY(0);
    camera->SetNumX(facts.SensorWidth / bin);
    camera->SetNumY(facts.SensorHeight / bin);
  }
  std::shared_ptr<ICamera> camera;
};

TEST_P(CameraContract, ReportsTheSensorAndTakesFullFramesWithStars) {
  EXPECT_TRUE(camera->Connected());
  EXPECT_EQ(camera->CameraXSize(), facts.SensorWidth);
  EXPECT_EQ(camera->CameraYSize(), facts.SensorHeight);
  EXPECT_EQ(camera->MaxBinX(), 4);
  EXPECT_NEAR(camera->PixelSizeX(), facts.PixelSize, 1e-4);
  EXPECT_EQ(camera->MaxADU(), 65535);
  EXPECT_EQ(camera->SensorType(), 0);
  EXPECT_EQ(camera->Name(), facts.CameraName);

  FullFrame(1);
  EXPECT_FALSE(camera->ImageReady());
  EXPECT_THROW(camera->ImageArray(), DeviceError);
  const ImageArrayData image = Expose(1);
  ASSERT_EQ(image.Width, facts.SensorWidth);
  ASSERT_EQ(image.Height, facts.SensorHeight);
  ASSERT_TRUE(image.Is16Bit());
  EXPECT_GT(Peak(image), 500);  // stars far above the sky
}

TEST_P(CameraContract, BinningAndSubFramesAndABinningTheDriverRefuses) {
  camera->SetBinX(2);
  camera->SetBinY(2);
  camera->SetStartX(100);
  camera->SetStartY(50);
  camera->SetNumX(200);
  camera->SetNumY(150);
  ImageArrayData image = Expose(0.2);
  EXPECT_EQ(image.Width, 200);
  EXPECT_EQ(image.Height, 150);
  EXPECT_EQ(camera->NumX(), 200);
  EXPECT_EQ(camera->BinX(), 2);

  camera->SetStartX(600);  // (600 + 200) * 2 is beyond the sensor
  EXPECT_THROW(camera->StartExposure(0.2, true), DeviceError);

  try {
    FullFrame(facts.RefusedBinning);
    camera->StartExposure(0.2, true);
    ADD_FAILURE() << "binning " << facts.RefusedBinning << " accepted";
  } catch (const DeviceError& e) {
    EXPECT_NE(std::string(e.what()).find(facts.BinningRefusal), std::string::npos) << e.what();
  }

  FullFrame(4);
  image = Expose(0.2);
  EXPECT_EQ(image.Width, facts.SensorWidth / 4);
  EXPECT_EQ(image.Height, facts.SensorHeight / 4);
}

TEST_P(CameraContract, StoppedExposuresEndEarlyAndDarkFramesShowNoStars) {
  FullFrame(2);
  camera->StartExposure(5, true);
  clock.Sleep(500);
  camera->StopExposure();
  clock.Sleep(1500);
  if (facts.StopKeepsImage) {
    EXPECT_TRUE(camera->ImageReady());  // read out at once, long before the 5 s
  } else {
    EXPECT_FALSE(camera->ImageReady());
    EXPECT_THROW(camera->ImageArray(), DeviceError);
  }
  // The dark frame's hot pixels are in the light frame too, its stars are not.
  const ImageArrayData dark = Expose(1, false);
  const ImageArrayData light = Expose(1, true);
  EXPECT_GT(BrightPixels(light), BrightPixels(dark) + 20);
  EXPECT_GT(Peak(light), 500);
}

TEST_P(CameraContract, CoolerSetPointAndCoolerPower) {
  ASSERT_TRUE(camera->CanSetCCDTemperature());
  const double start = camera->CCDTemperature();
  camera->SetCCDTemperature(start - 10);
  camera->SetCoolerOn(true);
  EXPECT_TRUE(camera->CoolerOn());
  EXPECT_TRUE(WaitUntil([&] { return camera->CCDTemperature() <= start - 1; }, 30000));
  EXPECT_THROW(camera->SetCCDTemperature(-300), DeviceError);
  if (facts.HasCoolerPower) {
    EXPECT_GT(camera->CoolerPower(), 0);
  } else {
    try {
      camera->CoolerPower();
      ADD_FAILURE() << "cooler power from a camera without it";
    } catch (const DeviceError& e) {
      EXPECT_NE(std::string(e.what()).find("not implemented"), std::string::npos) << e.what();
    }
  }
  camera->SetCoolerOn(false);
  EXPECT_FALSE(camera->CoolerOn());
}

using FocuserWheelContract = DeviceContractTest;

TEST_P(FocuserWheelContract, TheFocuserMovesToPositionsAndReadsItsTemperature) {
  std::string error;
  ASSERT_TRUE(station->Focuser.Connect(&error)) << error;
  auto focuser = station->Devices.Focuser;
  ASSERT_TRUE(focuser->Absolute());
  OperationContext op = Op();
  ASSERT_TRUE(station->Focuser.MoveTo(op, 6000)) << station->Status();
  EXPECT_EQ(focuser->Position(), 6000);
  ASSERT_TRUE(station->Focuser.MoveTo(op, 4500)) << station->Status();
  EXPECT_EQ(focuser->Position(), 4500);
  EXPECT_DOUBLE_EQ(focuser->Temperature(), facts.FocuserHalfKelvin);  // half kelvins
  EXPECT_DOUBLE_EQ(station->Focuser.Read().Celsius, facts.FocuserHalfKelvin / 2 - 273);
  station->Focuser.Disconnect();
}

TEST_P(FocuserWheelContract, TheWheelGivesItsNamesAndTurnsToFilters) {
  OperationContext op = Op();
  std::string error;
  const int slot = station->FilterWheel.Connect(op, &error);
  ASSERT_GE(slot, 0) << error;
  EXPECT_EQ(station->Filters.FilterNames, facts.FilterNames);
  EXPECT_EQ(station->Filters.FilterOffsets, facts.FilterOffsets);
  ASSERT_TRUE(station->FilterWheel.Select(op, 3)) << station->Status();
  auto wheel = station->Devices.FilterWheel;
  EXPECT_EQ(wheel->Position(), 3);

  wheel->SetPosition(0);
  EXPECT_EQ(wheel->Position(), -1);  // turning
  EXPECT_TRUE(WaitUntil([&] { return wheel->Position() == 0; }, 5000));
  const int slots = static_cast<int>(facts.FilterNames.size());
  EXPECT_THROW(wheel->SetPosition(slots), DeviceError);
  EXPECT_FALSE(station->FilterWheel.Select(op, slots));
  station->FilterWheel.Disconnect();
}

INSTANTIATE_TEST_SUITE_P(Backends, MountContract, ::testing::ValuesIn(ContractBackends()), BackendName);
INSTANTIATE_TEST_SUITE_P(Backends, CameraContract, ::testing::ValuesIn(ContractBackends()), BackendName);
INSTANTIATE_TEST_SUITE_P(Backends, FocuserWheelContract, ::testing::ValuesIn(ContractBackends()), BackendName);

}  // namespace
}  // namespace noctarbel::testing
