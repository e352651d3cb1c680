// The station's mount operations on what only an Alpaca mount can be (the driver contract
// shows the rest): one without alt/az slews or without slews at all, and one that hangs. The
// station runs on the real clock here, as the server's simulators do.

#include <gtest/gtest.h>

#include "common/event_runtime.h"
#include "devices/alpaca/alpaca_drivers.h"
#include "operations/station_core.h"
#include "tests/devices/alpaca/alpaca_fixture.h"

namespace noctarbel::testing {
namespace {

class AlpacaStationTest : public AlpacaServerTest {
 protected:
  AlpacaStationTest() {
    BackendOptions options;
    options.Calls = Timeouts{1000, 5000};
    options.Discover = false;
    core.Devices.Registry.Add(MakeAlpacaBackend(options));
    core.Settings.TelescopeObject = Id("telescope");
    core.Settings.FocuserObject = Id("focuser");
    core.Settings.FilterwheelObject = Id("filterwheel");
    core.Settings.CameraObject = Id("camera");
  }

  TempDir home;
  std::unique_ptr<EventRuntime> clock = EventRuntime::WithRealClock();
  StationCore core{*clock, StationPaths{home.Path(), NOCTARBEL_SOURCE_DATA_DIR}};
};

// A mount without alt/az slews is parked by the position's coordinates of the date (slewed
// to while tracking, as the device API asks, then left standing); one that cannot slew at all
// is refused when connecting.
TEST_F(AlpacaStationTest, WithoutAltAzSlewsTheParkGoesByCoordinates) {
  server.WithWorld([](SimWorld& w) {
    w.Mount.Config.CanSlewAltAz = false;
    w.Mount.PlaceAtAltAz(150, 50);
  });
  std::string error;
  ASSERT_TRUE(core.Mount.Connect(&error)) << error;
  const int before = FromServer<int>([](SimWorld& w) { return w.Mount.SlewsStarted(); });
  core.Settings.Park2Az = 270;
  core.Settings.Park2Alt = 10;
  OperationContext op = core.BeginOperation();
  EXPECT_TRUE(core.Mount.GotoParkPosition2(op)) << core.Status();
  EXPECT_EQ(core.Status(), "In park position 2");
  const auto [azimuth, altitude] = core.Mount.AzimuthAltitude();
  EXPECT_LT(std::abs(AzimuthDifference(azimuth, 270)), 0.3);
  EXPECT_NEAR(altitude, 10, 0.3);
  EXPECT_FALSE(core.Devices.Telescope->Tracking());
  const auto slews = FromServer<std::vector<SimSlew>>([](SimWorld& w) { return w.Mount.Slews(); });
  const int after = static_cast<int>(slews.size());
  ASSERT_GT(after, before);
  for (int i = before; i < after; ++i) EXPECT_FALSE(slews[static_cast<size_t>(i)].AltAz) << "slew " << i;
  core.Mount.Disconnect();

  server.WithWorld([](SimWorld& w) { w.Mount.Config.CanSlew = false; });
  EXPECT_FALSE(core.Mount.Connect(&error));
  EXPECT_NE(error.find("cannot slew (neither CanSlewAsync nor CanSlewAltAzAsync)"), std::string::npos) << error;
  EXPECT_EQ(Get("/api/v1/telescope/0/connected").Json()["Value"], false);
}

// A mount that accepts connections and never answers: every call is a DeviceError after the
// read time-out, so each operation ends within a few such bounds and the station goes on.
TEST(AlpacaStationFaults, AHungMountNeverHangsTheStation) {
  HungServer hung;
  TempDir home;
  auto clock = EventRuntime::WithRealClock();
  StationCore core(*clock, StationPaths{home.Path(), NOCTARBEL_SOURCE_DATA_DIR});
  BackendOptions options;
  options.Calls = QuickTimeouts();
  options.Discover = false;
  core.Devices.Registry.Add(MakeAlpacaBackend(options));
  const std::string id = "alpaca://127.0.0.1:" + std::to_string(hung.Port()) + "/telescope/0";
  const auto bound = std::chrono::milliseconds(options.Calls.ConnectMs + options.Calls.ReadMs + 1000);

  core.Settings.TelescopeObject = id;
  auto start = std::chrono::steady_clock::now();
  std::string error;
  EXPECT_FALSE(core.Mount.Connect(&error));
  EXPECT_NE(error.find("no answer within 1 s"), std::string::npos) << error;
  EXPECT_LT(Since(start), bound);

  // As if the mount had hung after connecting.
  core.Devices.Telescope = MakeTelescope(ParseIdentifier(id), options.Calls);
  start = std::chrono::steady_clock::now();
  EXPECT_THROW(core.Mount.ReadStatus(), DeviceError);
  OperationContext op = core.BeginOperation();
  EXPECT_FALSE(core.Mount.GotoParkPosition1(op));
  EXPECT_LT(Since(start), 3 * bound);
}

}  // namespace
}  // namespace noctarbel::testing
