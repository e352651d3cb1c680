// The built-in simulators as a driver user sees them, where the station's own tests do not
// show it: a mount that moves over time, drifts, syncs and pulse-guides; a camera whose images
// show the sky where the mount points; and the driver rules. What every backend's devices
// must do is the driver contract's (contract/); parks, home, the fault switches and focus
// are shown by the operations' tests and by the whole nights.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "devices/device_registry.h"
#include "devices/sim/sim_devices.h"
#include "tests/operations/device_fixture.h"

namespace noctarbel::testing {
namespace {

constexpr double kArcsecPerHourOfRa = 15.0 * 3600.0;

struct MeasuredStar {
  double X = 0;
  double Y = 0;
};

// Flux-weighted centroid in a box, over the background of the box's rim.
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
    }
  }
  star.X = sx / flux;
  star.Y = sy / flux;
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

  // An aborted slew stops where it is.
  Scope()->SetTargetDeclination(dec);
  Scope()->SlewToTargetAsync();
  clock->Sleep(5000);
  Scope()->AbortSlew();
  EXPECT_FALSE(Scope()->Slewing());
  const double stopped = Scope()->Declination();
  EXPECT_GT(stopped, dec + 10);
  EXPECT_LT(stopped, dec + 30);
  clock->Sleep(10000);
  EXPECT_NEAR(Scope()->Declination(), stopped, 1e-6);
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

TEST_F(SimulatorTest, PulsesMoveAtEachAxisGuideRateAndDriftAccumulatesWhileTracking) {
  PlaceMount(180, 90 - 49.91806);  // on the meridian at declination 0
  Scope()->SetTracking(true);
  const double ra = Scope()->RightAscension();
  const double dec = Scope()->Declination();
  Scope()->SetGuideRateDeclination(4.0 / 3600);
  Scope()->PulseGuide(kGuideNorth, 2000);
  Scope()->PulseGuide(kGuideWest, 1000);
  clock->Sleep(3000);
  EXPECT_NEAR((Scope()->Declination() - dec) * 3600, 8.0, 1e-6);
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
  Mount().Config.FailAll = true;
  EXPECT_THROW(Scope()->Connected(), DeviceError);
  DeviceContext context = station->MakeDeviceContext();
  EXPECT_THROW(station->Devices.Registry.CreateTelescope("sim:camera", context), DeviceError);

  // A camera refuses a second exposure and gives no image while it exposes or reads out.
  camera->StartExposure(2, true);
  EXPECT_THROW(camera->StartExposure(1, true), DeviceError);
  EXPECT_THROW(camera->ImageArray(), DeviceError);
  clock->Sleep(2000);
  EXPECT_FALSE(camera->ImageReady());
  clock->Sleep(1700);
  EXPECT_TRUE(camera->ImageReady());
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

  // A sync changes what the mount reports, and moves nothing.
  const SimPointing truth = Mount().ActualPointing();
  Scope()->SyncToCoordinates(truth.RaHours, truth.DecDeg);
  EXPECT_NEAR(Scope()->RightAscension(), truth.RaHours, 1e-9);
  EXPECT_NEAR(Scope()->Declination(), truth.DecDeg, 1e-9);
  EXPECT_NEAR(Mount().ActualPointing().DecDeg, truth.DecDeg, 1e-9);
  GotoTracking(ra, dec);
  const MeasuredStar centred = BrightestStar(Expose(1));
  EXPECT_NEAR(centred.X, 639.5, 0.5);
  EXPECT_NEAR(centred.Y, 511.5, 0.5);
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
  DeviceContext context{*clock, SiteLocation{}, {}};
  EXPECT_EQ(registry.Choices(DeviceType::Focuser, context).size(), 2u);
  EXPECT_EQ(registry.Choices(DeviceType::Focuser, context)[1].Description, "INDI focuser");
  EXPECT_THROW(registry.CreateFocuser("indi://localhost:7624/Focuser Simulator", context), DeviceError);
  EXPECT_THROW(registry.CreateFocuser("alpaca://localhost:11111/focuser/0", context), DeviceError);
  EXPECT_NO_THROW(registry.CreateFocuser("sim:focuser", context));
  EXPECT_EQ(IdentifierScheme("Alpaca://host:11111/telescope/0"), "alpaca");
  EXPECT_EQ(IdentifierScheme("Vendor.Telescope"), "");
}

}  // namespace
}  // namespace noctarbel::testing
