// The built-in simulators where neither the driver contract (contract/, run over every
// backend) nor the operations' tests and the whole nights show them, and the device registry.

#include <gtest/gtest.h>

#include "common/angles.h"
#include "devices/device_registry.h"
#include "devices/sim/sim_devices.h"
#include "tests/operations/device_fixture.h"

namespace noctarbel::testing {
namespace {

using SimulatorTest = DeviceFixture;

// The test switches mean what they say: the optics point 45" east and 30" south of where
// the mount says, and drift while it tracks. Only a goto places a star at its target (relative
// moves would otherwise put a fresh one in the middle of the next frame), and the camera takes
// one exposure at a time.
TEST_F(SimulatorTest, PointingErrorDriftTargetStarsAndOneExposureAtATime) {
  ConnectScope();
  Mount().Config.PointingErrorRaArcsec = 45;
  Mount().Config.PointingErrorDecArcsec = -30;
  Mount().Config.DriftRaArcsecPerMin = 6;
  Mount().Config.DriftDecArcsecPerMin = -3;
  PlaceMount(200, 55);
  const EquatorialPosition target = PositionAt(190, 60);
  Scope()->SetTracking(true);
  Scope()->SetTargetRightAscension(target.Ra);
  Scope()->SetTargetDeclination(target.Dec);
  Scope()->SlewToTarget();
  clock->Sleep(10 * 60 * 1000);
  const SimPointing optics = Mount().ActualPointing();
  const double cosDec = CosDeg(optics.DecDeg);
  EXPECT_NEAR(WrapHours12(optics.RaHours - Scope()->RightAscension()) * 15 * 3600 * cosDec, 45 + 60, 0.2);
  EXPECT_NEAR((optics.DecDeg - Scope()->Declination()) * 3600, -30 - 30, 0.2);
  OperationContext op = Op();
  ASSERT_TRUE(station->Mount.MoveXY(op, 0.1, 0));
  ASSERT_TRUE(station->Mount.MoveXY(op, 0, -0.1));
  EXPECT_EQ(World().Sky.PlacedStars.size(), 1u);

  DeviceContext context = station->MakeDeviceContext();
  auto camera = station->Devices.Registry.CreateCamera(kSimCameraId, context);
  camera->SetConnected(true);
  camera->StartExposure(2, true);
  EXPECT_THROW(camera->StartExposure(1, true), DeviceError);
  EXPECT_THROW(camera->ImageArray(), DeviceError);
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
  EXPECT_THROW(registry.CreateTelescope("sim:camera", context), DeviceError);
  EXPECT_EQ(IdentifierScheme("Alpaca://host:11111/telescope/0"), "alpaca");
  EXPECT_EQ(IdentifierScheme("Vendor.Telescope"), "");
}

}  // namespace
}  // namespace noctarbel::testing
