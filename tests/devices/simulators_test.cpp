// The built-in simulators as a driver user sees them: a mount that moves over time, tracks,
// syncs and pulse-guides; a camera whose images show the sky where the mount points, focused
// by the focuser and filtered by the wheel; and their fault switches.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "devices/device_registry.h"
#include "devices/sim/sim_devices.h"
#include "tests/devices/device_fixture.h"

namespace noctarbel::testing {
namespace {

constexpr double kArcsecPerHourOfRa = 15.0 * 3600.0;

struct MeasuredStar {
  double X = 0;
  double Y = 0;
  double Peak = 0;
  double Hfd = 0;
};

double Background(const ImageArrayData& image) {
  std::vector<std::int32_t> sample;
  for (size_t i = 0; i < image.Count(); i += 97) {
    sample.push_back(image.At(static_cast<int>(i % image.Width), static_cast<int>(i / image.Width)));
  }
  std::nth_element(sample.begin(), sample.begin() + static_cast<long>(sample.size() / 2), sample.end());
  return sample[sample.size() / 2];
}

// Flux-weighted centroid and half-flux diameter (twice the mean radius) in a box, over the
// background of the box's rim.
MeasuredStar MeasureAt(const ImageArrayData& image, int cx, int cy, int box) {
  const int x0 = std::max(0, cx - box);
  const int x1 = std::min(image.Width - 1, cx + box);
  const int y0 = std::max(0, cy - box);
  const int y1 = std::min(image.Height - 1, cy + box);
  std::vector<std::int32_t> rim;
  for (int y = y0; y <= y1; ++y) {
    for (int x = x0; x <= x1; ++x) {
      if (x == x0 || x == x1 || y == y0 || y == y1) rim.push_back(image.At(x, y));
    }
  }
  // The rim's mean without stray stars: a median of whole numbers would be off by up to half
  // a count, which a wide box multiplies.
  std::nth_element(rim.begin(), rim.begin() + static_cast<long>(rim.size() / 2), rim.end());
  const double median = rim[rim.size() / 2];
  double rimSum = 0;
  int rimCount = 0;
  for (std::int32_t v : rim) {
    if (v > median + 50) continue;
    rimSum += v;
    ++rimCount;
  }
  const double background = rimSum / rimCount;
  MeasuredStar star;
  double flux = 0;
  double sx = 0;
  double sy = 0;
  for (int y = y0; y <= y1; ++y) {
    for (int x = x0; x <= x1; ++x) {
      const double v = image.At(x, y) - background;  // signed: the noise cancels
      flux += v;
      sx += v * (x + 0.5);
      sy += v * (y + 0.5);
      star.Peak = std::max(star.Peak, v);
    }
  }
  star.X = sx / flux;
  star.Y = sy / flux;
  double radial = 0;
  for (int y = y0; y <= y1; ++y) {
    for (int x = x0; x <= x1; ++x)
      radial += (image.At(x, y) - background) * std::hypot(x + 0.5 - star.X, y + 0.5 - star.Y);
  }
  star.Hfd = 2.0 * radial / flux;
  return star;
}

// The brightest 3x3 block (a lone hot pixel does not win), measured in a box of the given
// half-size around it.
MeasuredStar BrightestStar(const ImageArrayData& image, int box = 10) {
  long best = -1;
  int bx = 0;
  int by = 0;
  for (int y = 1; y + 1 < image.Height; ++y) {
    for (int x = 1; x + 1 < image.Width; ++x) {
      long sum = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) sum += image.At(x + dx, y + dy);
      if (sum > best) {
        best = sum;
        bx = x;
        by = y;
      }
    }
  }
  const MeasuredStar first = MeasureAt(image, bx, by, box);
  return MeasureAt(image, static_cast<int>(first.X), static_cast<int>(first.Y), box);
}

class SimulatorTest : public DeviceFixture {
 protected:
  SimulatorTest() {
    ConnectScope();
    DeviceContext context = station->MakeDeviceContext();
    camera = station->Devices.Registry.CreateCamera("sim:camera", context);
    camera->SetConnected(true);
    focuser = station->Devices.Registry.CreateFocuser("sim:focuser", context);
    focuser->SetLink(true);
    wheel = station->Devices.Registry.CreateFilterWheel("sim:filterwheel", context);
    wheel->SetConnected(true);
  }

  ImageArrayData Expose(double seconds, bool light = true) {
    camera->StartExposure(seconds, light);
    while (!camera->ImageReady()) clock->Sleep(100);
    return camera->ImageArray();
  }

  void WaitWhileSlewing() {
    while (Scope()->Slewing()) clock->Sleep(100);
  }

  void GotoTracking(double raHours, double decDeg) {
    Scope()->SetTracking(true);
    Scope()->SetTargetRightAscension(raHours);
    Scope()->SetTargetDeclination(decDeg);
    Scope()->SlewToTarget();
  }

  std::shared_ptr<ICamera> camera;
  std::shared_ptr<IFocuser> focuser;
  std::shared_ptr<IFilterWheel> wheel;
};

TEST_F(SimulatorTest, ASlewTakesTimeAtTheSlewRate) {
  PlaceMount(180, 30);
  const double ra = Scope()->RightAscension();
  const double dec = Scope()->Declination();
  Scope()->SetTracking(true);
  Scope()->SetTargetRightAscension(ra);
  Scope()->SetTargetDeclination(dec + 40);
  Scope()->SlewToTargetAsync();
  clock->Sleep(5000);
  EXPECT_TRUE(Scope()->Slewing());
  EXPECT_GT(Scope()->Declination(), dec + 10);
  EXPECT_LT(Scope()->Declination(), dec + 30);
  clock->Sleep(6000);  // 40 degrees at 4 per second, then a second of settling
  EXPECT_FALSE(Scope()->Slewing());
  EXPECT_NEAR(Scope()->Declination(), dec + 40, 1e-9);
  EXPECT_NEAR(Scope()->RightAscension(), ra, 1e-6);
}

TEST_F(SimulatorTest, WithoutTrackingTheRightAscensionDriftsWithTheSky) {
  PlaceMount(180, 40);
  const double ra = Scope()->RightAscension();
  const double azimuth = Scope()->Azimuth();
  clock->Sleep(3600 * 1000);
  EXPECT_NEAR(WrapHours24(Scope()->RightAscension() - ra), 1.0027379, 1e-5);
  EXPECT_NEAR(Scope()->Azimuth(), azimuth, 1e-6);

  Scope()->SetTracking(true);
  const double tracked = Scope()->RightAscension();
  clock->Sleep(600 * 1000);
  EXPECT_NEAR(Scope()->RightAscension(), tracked, 1e-9);
  EXPECT_GT(AzimuthGap(Scope()->Azimuth(), azimuth), 1.0);
}

TEST_F(SimulatorTest, AltAzSlewsReportTheirTargetAndThePierSideFollowsTheHourAngle) {
  Scope()->SlewToAltAz(120, 35);
  WaitWhileSlewing();
  EXPECT_NEAR(Scope()->Azimuth(), 120, 1e-6);
  EXPECT_NEAR(Scope()->Altitude(), 35, 1e-6);
  EXPECT_EQ(Scope()->SideOfPier(), PierSide::West);  // east of the meridian
  Scope()->SlewToAltAz(240, 35);
  WaitWhileSlewing();
  EXPECT_EQ(Scope()->SideOfPier(), PierSide::East);

  Mount().Config.PierSide = PierSideMode::Unknown;
  EXPECT_EQ(Scope()->SideOfPier(), PierSide::Unknown);
  Mount().Config.PierSide = PierSideMode::CannotReport;
  EXPECT_THROW(Scope()->SideOfPier(), DeviceError);
}

TEST_F(SimulatorTest, ParkHomeAndAbort) {
  PlaceMount(200, 50);
  Scope()->SetTracking(true);
  Mount().Config.ParkAzimuth = 30;
  Mount().Config.ParkAltitude = 5;
  Scope()->Park();
  EXPECT_TRUE(Scope()->Slewing());
  EXPECT_FALSE(Scope()->Tracking());
  WaitWhileSlewing();
  EXPECT_NEAR(Scope()->Azimuth(), 30, 1e-6);
  EXPECT_NEAR(Scope()->Altitude(), 5, 1e-6);

  Mount().Config.HomeAzimuth = 90;
  Mount().Config.HomeAltitude = 60;
  const double start = SecondsNow();
  Scope()->FindHome();  // returns at once; the mount slews until the search ends
  EXPECT_TRUE(Scope()->Slewing());
  WaitWhileSlewing();
  EXPECT_NEAR(Scope()->Altitude(), 60, 1e-6);
  EXPECT_GE(SecondsNow() - start, Mount().Config.FindHomeSeconds);

  Scope()->SlewToAltAz(90, 10);
  clock->Sleep(3000);
  Scope()->AbortSlew();
  EXPECT_FALSE(Scope()->Slewing());
  const double stopped = Scope()->Altitude();
  EXPECT_GT(stopped, 40);
  EXPECT_LT(stopped, 60);
  clock->Sleep(10000);
  EXPECT_NEAR(Scope()->Altitude(), stopped, 1e-6);
}

TEST_F(SimulatorTest, SyncOffsetsTheReportedAndLaterPositions) {
  PlaceMount(180, 45);
  Scope()->SetTracking(true);
  const double ra = Scope()->RightAscension();
  const double dec = Scope()->Declination();
  const SimPointing before = Mount().ActualPointing();
  Scope()->SyncToCoordinates(ra + 0.01, dec - 0.2);
  EXPECT_NEAR(Scope()->RightAscension(), ra + 0.01, 1e-9);
  EXPECT_NEAR(Scope()->Declination(), dec - 0.2, 1e-9);
  // A sync moves nothing.
  EXPECT_NEAR(Mount().ActualPointing().DecDeg, before.DecDeg, 1e-9);

  GotoTracking(ra, dec);
  EXPECT_NEAR(Scope()->RightAscension(), ra, 1e-9);
  EXPECT_NEAR(Mount().ActualPointing().RaHours, ra - 0.01, 1e-9);
  EXPECT_NEAR(Mount().ActualPointing().DecDeg, dec + 0.2, 1e-9);
}

TEST_F(SimulatorTest, PulsesMoveAtTheGuideRateAndDriftAccumulatesWhileTracking) {
  PlaceMount(180, 90 - 49.91806);  // on the meridian at declination 0
  Scope()->SetTracking(true);
  const double ra = Scope()->RightAscension();
  const double dec = Scope()->Declination();
  Scope()->SetGuideRateDeclination(4.0 / 3600);
  Scope()->PulseGuide(kGuideNorth, 2000);
  clock->Sleep(1000);
  EXPECT_NEAR((Scope()->Declination() - dec) * 3600, 4.0, 0.05);
  clock->Sleep(2000);
  EXPECT_NEAR((Scope()->Declination() - dec) * 3600, 8.0, 1e-6);
  Scope()->PulseGuide(kGuideWest, 1000);
  clock->Sleep(1000);
  const double cosDec = std::cos(Scope()->Declination() * 3.14159265358979 / 180);
  EXPECT_NEAR(WrapHours12(Scope()->RightAscension() - ra) * kArcsecPerHourOfRa * cosDec, -5.0, 1e-4);

  Mount().Config.DriftRaArcsecPerMin = 6;
  Mount().Config.DriftDecArcsecPerMin = -3;
  const SimPointing start = Mount().ActualPointing();
  const double reported = Scope()->RightAscension();
  clock->Sleep(10 * 60 * 1000);
  const SimPointing later = Mount().ActualPointing();
  EXPECT_NEAR(WrapHours12(later.RaHours - start.RaHours) * kArcsecPerHourOfRa * cosDec, 60.0, 0.1);
  EXPECT_NEAR((later.DecDeg - start.DecDeg) * 3600, -30.0, 0.1);
  EXPECT_NEAR(Scope()->RightAscension(), reported, 1e-9);
}

TEST_F(SimulatorTest, TheDriverRulesAndFaultSwitches) {
  EXPECT_THROW(Scope()->SlewToTarget(), DeviceError);  // no target
  EXPECT_THROW(Scope()->SetTargetRightAscension(24.5), DeviceError);
  EXPECT_THROW(Scope()->SetTargetDeclination(-91), DeviceError);
  Scope()->SetConnected(false);
  EXPECT_THROW(Scope()->RightAscension(), DeviceError);
  EXPECT_FALSE(Scope()->Connected());
  Mount().Config.FailAll = true;
  EXPECT_THROW(Scope()->Connected(), DeviceError);
  DeviceContext context = station->MakeDeviceContext();
  EXPECT_THROW(station->Devices.Registry.CreateTelescope("sim:camera", context), DeviceError);
}

TEST_F(SimulatorTest, ExposuresTakeTheirTimeAndTheSubFrameSetsTheImage) {
  camera->StartExposure(2, true);
  EXPECT_THROW(camera->StartExposure(1, true), DeviceError);
  EXPECT_THROW(camera->ImageArray(), DeviceError);
  clock->Sleep(2000);
  EXPECT_FALSE(camera->ImageReady());  // reading out
  clock->Sleep(1700);
  EXPECT_TRUE(camera->ImageReady());
  ImageArrayData full = camera->ImageArray();
  EXPECT_EQ(full.Width, 1280);
  EXPECT_EQ(full.Height, 1024);

  camera->SetBinX(2);
  camera->SetBinY(2);
  camera->SetStartX(10);
  camera->SetStartY(20);
  camera->SetNumX(100);
  camera->SetNumY(80);
  ImageArrayData sub = Expose(0.5);
  EXPECT_EQ(sub.Width, 100);
  EXPECT_EQ(sub.Height, 80);
  EXPECT_EQ(sub.Count(), 8000u);

  camera->SetNumX(700);  // (10 + 700) * 2 > 1280
  EXPECT_THROW(camera->StartExposure(1, true), DeviceError);

  camera->SetNumX(100);
  camera->StartExposure(30, true);
  clock->Sleep(2000);
  camera->StopExposure();
  clock->Sleep(500);
  EXPECT_TRUE(camera->ImageReady());
}

TEST_F(SimulatorTest, TheCoolerApproachesItsSetPointOverMinutes) {
  EXPECT_NEAR(camera->CCDTemperature(), World().AmbientCelsius, 1e-9);
  EXPECT_EQ(camera->CoolerPower(), 0);
  camera->SetCCDTemperature(-10);
  camera->SetCoolerOn(true);
  clock->Sleep(30000);
  EXPECT_GT(camera->CCDTemperature(), 0);
  EXPECT_GT(camera->CoolerPower(), 30);
  clock->Sleep(10 * 60000);
  EXPECT_NEAR(camera->CCDTemperature(), -10, 0.1);
  EXPECT_NEAR(camera->CoolerPower(), 50, 1);  // 20 K below ambient, 40 K at most
  camera->SetCoolerOn(false);
  clock->Sleep(30 * 60000);
  EXPECT_NEAR(camera->CCDTemperature(), World().AmbientCelsius, 0.1);
}

TEST_F(SimulatorTest, StarsStayPutAndMoveWithTheMount) {
  // The goto places the target's star in the middle; the relative moves after it must not
  // place another one, or the brightest star would stay in the middle.
  PlaceMount(200, 55);  // west of the meridian: no turn of the camera
  const EquatorialPosition target = PositionAt(190, 60);
  GotoTracking(target.Ra, target.Dec);
  const MeasuredStar a = BrightestStar(Expose(1));
  const MeasuredStar b = BrightestStar(Expose(1));
  EXPECT_NEAR(a.X, b.X, 0.2);
  EXPECT_NEAR(a.Y, b.Y, 0.2);

  // 30 arc seconds further east: the field moves 20 pixels to the right.
  OperationContext op = Op();
  ASSERT_TRUE(station->Mount.MoveXY(op, 30.0 / 3600, 0));
  const MeasuredStar east = BrightestStar(Expose(1));
  EXPECT_NEAR(east.X - a.X, 20, 0.5);
  EXPECT_NEAR(east.Y - a.Y, 0, 0.5);
  // 15 arc seconds north: 10 pixels down.
  ASSERT_TRUE(station->Mount.MoveXY(op, 0, 15.0 / 3600));
  const MeasuredStar north = BrightestStar(Expose(1));
  EXPECT_NEAR(north.X - east.X, 0, 0.5);
  EXPECT_NEAR(north.Y - east.Y, 10, 0.5);
  // Going back to the target finds its one star again.
  GotoTracking(target.Ra, target.Dec);
  EXPECT_EQ(World().Sky.PlacedStars.size(), 1u);
}

TEST_F(SimulatorTest, TheTargetStarShowsThePointingErrorUntilTheMountIsSynced) {
  Mount().Config.PointingErrorRaArcsec = 45;
  Mount().Config.PointingErrorDecArcsec = -30;
  PlaceMount(200, 50);
  const EquatorialPosition target = PositionAt(195, 53);
  const double ra = target.Ra;
  const double dec = target.Dec;
  GotoTracking(ra, dec);
  const MeasuredStar off = BrightestStar(Expose(1));
  // The optics point 45" east and 30" south of the target: the target sits right of and
  // above the centre by the error over the scale.
  EXPECT_NEAR(off.X - 639.5, 30, 0.5);
  EXPECT_NEAR(off.Y - 511.5, -20, 0.5);

  const SimPointing truth = Mount().ActualPointing();
  Scope()->SyncToCoordinates(truth.RaHours, truth.DecDeg);
  GotoTracking(ra, dec);
  const MeasuredStar centred = BrightestStar(Expose(1));
  EXPECT_NEAR(centred.X, 639.5, 0.5);
  EXPECT_NEAR(centred.Y, 511.5, 0.5);
}

TEST_F(SimulatorTest, StarSizeIsAVAroundTheFiltersBestFocus) {
  // A quiet camera: the wide stars far from focus drown in no noise.
  World().Camera.Config.SkyElectronsPerSecond = 0;
  World().Camera.Config.ReadNoiseElectrons = 1;
  World().Camera.Config.HotPixelFraction = 0;
  // Only the target star: no neighbour inside the wide measuring box.
  World().Sky.FaintStarsPerCell = 0;
  World().Sky.BrightMagnitudeMin = World().Sky.BrightMagnitudeMax = 30;
  PlaceMount(200, 50);
  const EquatorialPosition target = PositionAt(195, 53);
  GotoTracking(target.Ra, target.Dec);
  camera->SetNumX(400);
  camera->SetNumY(400);
  camera->SetStartX(440);
  camera->SetStartY(312);
  auto hfdAt = [&](int position) {
    focuser->Move(position);
    while (focuser->Position() != position) clock->Sleep(100);
    // A box three star sizes wide holds the whole star and none of its neighbours.
    return BrightestStar(Expose(1), static_cast<int>(3 * World().Camera.CurrentHfdPixels()) + 5).Hfd;
  };
  const double best = hfdAt(5000);
  const double inside = hfdAt(4800);
  const double outside = hfdAt(5200);
  const double farOutside = hfdAt(5400);
  EXPECT_LT(best, 4);
  EXPECT_NEAR(inside, outside, 0.05 * outside);
  EXPECT_NEAR(farOutside - outside, outside - best, 0.15 * (outside - best));

  // Slot 3 (0-based) focuses 25 steps further out.
  wheel->SetPosition(3);
  while (wheel->Position() != 3) clock->Sleep(100);
  focuser->Move(5025);
  clock->Sleep(2000);
  EXPECT_NEAR(World().Camera.CurrentHfdPixels(), World().Camera.Config.MinHfdPixels, 1e-9);
}

TEST_F(SimulatorTest, DarkFramesShowHotPixelsAndDarkCurrentButNoStars) {
  PlaceMount(170, 50);
  GotoTracking(Scope()->RightAscension(), Scope()->Declination());
  const ImageArrayData light = Expose(60);
  const ImageArrayData dark = Expose(60, false);
  EXPECT_EQ(*std::max_element(light.Pixels16.begin(), light.Pixels16.end()), 65535);  // the target saturates
  const double bias = World().Camera.Config.BiasAdu;
  const double darkLevel = Background(dark);
  EXPECT_GT(darkLevel, bias + 5);  // 60 s of dark current at ambient temperature
  EXPECT_LT(darkLevel, bias + 40);
  auto bright = [&](const ImageArrayData& image) {
    return std::count_if(image.Pixels16.begin(), image.Pixels16.end(), [&](int v) { return v > darkLevel + 300; });
  };
  const long hot = bright(dark);
  EXPECT_GT(hot, 100);
  EXPECT_LT(hot, 400);
  EXPECT_GT(bright(light), hot + 200);  // the stars
}

TEST_F(SimulatorTest, CameraFaultSwitches) {
  World().Camera.Config.NeverReady = true;
  camera->StartExposure(1, true);
  clock->Sleep(10000);
  EXPECT_FALSE(camera->ImageReady());
  World().Camera.Config.NeverReady = false;
  World().Camera.Config.ImageArrayFails = true;
  EXPECT_TRUE(camera->ImageReady());
  EXPECT_THROW(camera->ImageArray(), DeviceError);
  World().Camera.Config.FailAll = true;
  EXPECT_THROW(camera->CCDTemperature(), DeviceError);
}

TEST_F(SimulatorTest, FocuserAndWheelTakeTimeAndHonourTheirFaults) {
  EXPECT_TRUE(focuser->Absolute());
  EXPECT_EQ(focuser->Position(), 5000);
  focuser->Move(5500);
  clock->Sleep(1000);
  EXPECT_NEAR(focuser->Position(), 5250, 1);
  clock->Sleep(1100);
  EXPECT_EQ(focuser->Position(), 5500);
  World().AmbientCelsius = 20;
  EXPECT_DOUBLE_EQ(focuser->Temperature(), 586);

  World().Focuser.Config.Absolute = false;
  focuser->Move(-300);
  clock->Sleep(2000);
  EXPECT_EQ(focuser->Position(), 5200);
  World().Focuser.Config.StopShortSteps = 7;
  focuser->Move(100);
  clock->Sleep(2000);
  EXPECT_EQ(focuser->Position(), 5293);

  EXPECT_EQ(wheel->Names(), (std::vector<std::string>{"L", "R", "G", "B", "Ha"}));
  EXPECT_EQ(wheel->FocusOffsets().size(), 5u);
  wheel->SetPosition(2);
  EXPECT_EQ(wheel->Position(), -1);
  clock->Sleep(2000);
  EXPECT_EQ(wheel->Position(), 2);
  EXPECT_THROW(wheel->SetPosition(5), DeviceError);
  World().Wheel.Config.NeverArrives = true;
  wheel->SetPosition(0);
  clock->Sleep(60000);
  EXPECT_EQ(wheel->Position(), -1);
}

TEST(DeviceRegistry, ChoicesPerTypeAndIdentifierSchemes) {
  const DeviceRegistry registry = MakeDefaultDeviceRegistry();
  auto clock = EventRuntime::WithVirtualClock(0);
  const SettingsRecord settings;
  const DeviceContext context{*clock, SiteLocation{}, settings};
  ASSERT_EQ(registry.Choices(DeviceType::Telescope, context).size(), 1u);
  EXPECT_EQ(registry.Choices(DeviceType::Telescope, context)[0].Identifier, "sim:telescope");
  EXPECT_EQ(registry.Choices(DeviceType::FilterWheel, context)[0].Identifier, "sim:filterwheel");
  EXPECT_EQ(IdentifierScheme("indi://localhost:7624/Telescope Simulator"), "indi");
  EXPECT_EQ(IdentifierScheme("Alpaca://host:11111/telescope/0"), "alpaca");
  EXPECT_EQ(IdentifierScheme("Vendor.Telescope"), "");
  EXPECT_EQ(DeviceTypeFromName("filterwheel"), DeviceType::FilterWheel);
  EXPECT_STREQ(DeviceTypeName(DeviceType::FilterWheel), "Filterwheel");
}

// A backend added later serves its scheme without changing any caller.
TEST(DeviceRegistry, BackendsPlugInByScheme) {
  class FakeNetworkBackend : public DeviceBackend {
   public:
    std::string Scheme() const override { return "indi"; }
    std::vector<DeviceChoice> Choices(DeviceType type, const DeviceContext&) const override {
      if (type != DeviceType::Focuser) return {};
      return {{"indi://localhost:7624/Focuser Simulator", "INDI focuser"}};
    }
  };
  DeviceRegistry registry = MakeDefaultDeviceRegistry();
  registry.Add(std::make_unique<FakeNetworkBackend>());
  auto clock = EventRuntime::WithVirtualClock(0);
  const SettingsRecord settings;
  DeviceContext context{*clock, SiteLocation{}, settings};
  EXPECT_EQ(registry.Choices(DeviceType::Focuser, context).size(), 2u);
  EXPECT_EQ(registry.Choices(DeviceType::Focuser, context)[1].Description, "INDI focuser");
  EXPECT_THROW(registry.CreateFocuser("indi://localhost:7624/Focuser Simulator", context), DeviceError);
  EXPECT_THROW(registry.CreateFocuser("alpaca://localhost:11111/focuser/0", context), DeviceError);
  EXPECT_NO_THROW(registry.CreateFocuser("sim:focuser", context));
}

}  // namespace
}  // namespace noctarbel::testing
