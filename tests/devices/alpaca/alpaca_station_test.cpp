// The station's own operations driving Alpaca devices served by noctarbel-alpaca, as they
// drive the built-in simulators: connect, goto, the two parks, relative move, home
// calibration, the rain emergency. The station runs on the real clock here, as the server's
// simulators do. And a hung mount never hangs it. The focuser and the filter wheel over
// Alpaca are shown by the plan and manual runs of alpaca_plan_test.

#include <gtest/gtest.h>

#include "common/event_runtime.h"
#include "devices/alpaca/alpaca_drivers.h"
#include "operations/station_core.h"
#include "tests/devices/alpaca/alpaca_fixture.h"
#include "windows/astro_window.h"

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

TEST_F(AlpacaStationTest, MountOperationsGotoParkMoveAndHome) {
  std::string error;
  ASSERT_TRUE(core.Mount.Connect(&error)) << error;
  EXPECT_EQ(core.Mount.DriverText(),
            "Noctarbel mount simulator\nNoctarbel simulator 1.0 (German equatorial mount model)");
  server.WithWorld([](SimWorld& w) { w.Mount.PlaceAtAltAz(180, 60); });
  const auto status = core.Mount.ReadStatus();
  ASSERT_TRUE(status);
  EXPECT_NEAR(status->Altitude, 60, 0.5);
  EXPECT_TRUE(status->Side.has_value());

  // A goto returns at once; the operation waits for the mount between its calls.
  const EquatorialPosition east = StationHorizontalToEquatorial(core, 100, 50);
  ASSERT_EQ(core.Mount.GotoJ2000(east.Ra / 15.0, east.Dec), GotoOutcome::Sent);
  OperationContext op = core.BeginOperation();
  ASSERT_TRUE(WaitUntil([&] { return !core.Devices.Telescope->Slewing(); }));
  EXPECT_NEAR(core.Mount.AzimuthAltitude().second, 50, 0.5);
  EXPECT_TRUE(core.Mount.MoveXY(op, 1.0, -1.0));

  // The driver's own park (at the simulator's park position), then a goto: unparked on the way.
  core.Settings.ParkMethod = 0;
  core.Settings.Park1Az = 0;
  core.Settings.Park1Alt = 0;
  EXPECT_TRUE(core.Mount.GotoParkPosition1(op)) << core.Status();
  EXPECT_TRUE(core.Mount.AtParkPosition1());
  EXPECT_FALSE(core.Devices.Telescope->Tracking());
  ASSERT_EQ(core.Mount.GotoJ2000(east.Ra / 15.0, east.Dec), GotoOutcome::Sent) << core.Status();
  ASSERT_TRUE(WaitUntil([&] { return !core.Devices.Telescope->Slewing(); }));
  EXPECT_NEAR(core.Mount.AzimuthAltitude().second, 50, 0.5);

  // The station's own park: approach at 30 degrees, then down.
  core.Settings.Park2Az = 270;
  core.Settings.Park2Alt = 10;
  EXPECT_TRUE(core.Mount.GotoParkPosition2(op)) << core.Status();
  EXPECT_EQ(core.Status(), "In park position 2");
  const auto slews = FromServer<std::vector<SimSlew>>([](SimWorld& w) { return w.Mount.Slews(); });
  ASSERT_GE(slews.size(), 2u);
  EXPECT_DOUBLE_EQ(slews[slews.size() - 2].Second, 30);
  EXPECT_DOUBLE_EQ(slews.back().Second, 10);

  core.Settings.HomeAz = 90;
  core.Settings.HomeAlt = 20;
  EXPECT_EQ(core.Mount.HomeCalibration(op), HomeOutcome::Done) << core.Status();
  EXPECT_EQ(Get("/api/v1/telescope/0/athome").Json()["Value"], true);
  core.Mount.Disconnect();
  EXPECT_EQ(Get("/api/v1/telescope/0/connected").Json()["Value"], false);
}

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

TEST_F(AlpacaStationTest, TheRainEmergencyParksTheAlpacaMountAndClosesTheRoof) {
  std::string error;
  ASSERT_TRUE(core.Mount.Connect(&error)) << error;
  server.WithWorld([](SimWorld& w) { w.Mount.PlaceAtAltAz(200, 45); });
  core.Settings.ParkMethod = 1;
  core.Settings.Park1Az = 0;
  core.Settings.Park1Alt = 0;
  core.Settings.EnableObservatoryControl = true;
  core.Observatory.SimulationMode = true;
  core.Observatory.SimRoof = RoofState::Open;
  core.Observatory.SimRain = RainState::Wet;
  EXPECT_EQ(core.Observatory.RainEmergency(), EmergencyOutcome::RoofClosed) << core.Status();
  EXPECT_EQ(core.Observatory.GetRoofState(), RoofState::Closed);
  EXPECT_LT(std::abs(AzimuthDifference(core.Mount.AzimuthAltitude().first, 0)), 0.3);
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
  core.Settings.EnableObservatoryControl = true;
  core.Observatory.SimulationMode = true;
  core.Observatory.SimRoof = RoofState::Open;
  core.Observatory.SimRain = RainState::Wet;
  // The emergency cannot park it, so the roof stays open (alarm) rather than close on the tube.
  EXPECT_EQ(core.Observatory.RainEmergency(), EmergencyOutcome::NotParked);
  EXPECT_LT(Since(start), 3 * bound);
}

}  // namespace
}  // namespace noctarbel::testing
