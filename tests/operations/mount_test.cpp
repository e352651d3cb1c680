// Telescope control on the virtual clock with the simulated mount: connect and status poll,
// goto and the horizon, relative moves, the park procedures and the home calibration.

#include <gtest/gtest.h>

#include <memory>

#include "astro/transforms.h"
#include "common/number_text.h"
#include "tests/operations/device_fixture.h"
#include "windows/observatory_window.h"

namespace noctarbel::testing {
namespace {

class TelescopeControlTest : public DeviceFixture {
 protected:
  // Roof closed through the observatory simulator.
  void CloseRoofInSimulator() {
    Settings().EnableObservatoryControl = true;
    station->Observatory.SimulationMode = true;
    station->Observatory.SimRoof = RoofState::Closed;
  }

  bool Park1() {
    OperationContext op = Op();
    return station->Mount.GotoParkPosition1(op);
  }

  void FlatHorizon(double altitude) {
    HorizonTable table;
    table.Count = 36;
    for (int k = 0; k < 36; ++k) table.Points[static_cast<size_t>(k)] = HorizonPoint{altitude, 10.0 * k};
    station->Horizon = table;
  }

  // Types a position into the goto fields, whole seconds as the spin fields hold them, and
  // returns what was typed.
  EquatorialPosition TypeTarget(double raHours, double decDeg) {
    long raSeconds = std::lround(raHours * 3600.0);
    Main().SetValue("RAHourEdit", static_cast<double>(raSeconds / 3600));
    Main().SetValue("RAminEdit", static_cast<double>(raSeconds / 60 % 60));
    Main().SetValue("RAsecEdit", static_cast<double>(raSeconds % 60));
    long decSeconds = std::lround(std::abs(decDeg) * 3600.0);
    const long degrees = decSeconds / 3600;
    Main().SetValue("DECdegEdit", static_cast<double>(decDeg < 0 ? -degrees : degrees));
    Main().SetValue("DECminEdit", static_cast<double>(decSeconds / 60 % 60));
    Main().SetValue("DECsecEdit", static_cast<double>(decSeconds % 60));
    Main().SetSelection("NSbox", decDeg < 0 ? 1 : 0);
    return EquatorialPosition{raSeconds / 3600.0, (decDeg < 0 ? -1 : 1) * decSeconds / 3600.0};
  }
};

TEST_F(TelescopeControlTest, ConnectShowsTheDriverAndDisconnectReleasesIt) {
  station->Activate("BtnConnect");
  ASSERT_TRUE(Scope());
  EXPECT_EQ(Main().Text("Memo1"), Mount().Config.Description + "\n" + Mount().Config.DriverInfo);
  EXPECT_EQ(Main().Colour("led1"), "lime");
  EXPECT_EQ(Main().Caption("BtnConnect"), "Disconnect");
  EXPECT_TRUE(station->Timer1.Enabled());

  station->Activate("BtnConnect");
  EXPECT_FALSE(Scope());
  EXPECT_EQ(Main().Colour("led1"), "red");
  EXPECT_EQ(Main().Caption("BtnConnect"), "Connect");
  EXPECT_FALSE(station->Timer1.Enabled());
}

TEST_F(TelescopeControlTest, ConnectWithoutOrWithAnUnknownDriver) {
  Settings().TelescopeObject.clear();
  station->Activate("BtnConnect");
  EXPECT_FALSE(Scope());
  EXPECT_TRUE(ui.messages.empty());

  Settings().TelescopeObject = "nosuch://localhost/Mount";
  station->Activate("BtnConnect");
  EXPECT_FALSE(Scope());
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.LastMessage().find("No driver for"), std::string::npos);
  EXPECT_EQ(Main().Colour("led1"), "red");
}

TEST_F(TelescopeControlTest, StatusPollShowsPositionAltitudeAirmassPierSideAndTracking) {
  ConnectScope();
  PlaceMount(150, 40);  // east of the meridian: the tube is on the west side
  clock->Sleep(1000);
  const double ra = Scope()->RightAscension();
  EXPECT_EQ(Main().Text("RAEdit1"), FormatFixed(ra, 5));
  EXPECT_EQ(Main().Text("DECEdit1"), FormatFixed(Scope()->Declination(), 5));
  EXPECT_NEAR(*ParseFloat(Main().Text("AltEdit")), 40.0, 0.11);
  EXPECT_NEAR(*ParseFloat(Main().Text("AirmassEdit")), Airmass(40.0), 0.01);
  EXPECT_EQ(Main().Text("PiersideEdit"), "1-West");
  EXPECT_FALSE(Main().Checked("TrackCheckBox"));
  EXPECT_FALSE(Main().Text("UTCEdit").empty());

  Scope()->SetTracking(true);
  PlaceMount(210, 40);
  Scope()->SetTracking(true);
  clock->Sleep(1000);
  EXPECT_EQ(Main().Text("PiersideEdit"), "0-East");
  EXPECT_TRUE(Main().Checked("TrackCheckBox"));

  PlaceMount(0, 0.5);
  clock->Sleep(1000);
  EXPECT_EQ(Main().Text("AirmassEdit"), "-");
}

TEST_F(TelescopeControlTest, AMountThatCannotReportItsPierSideKeepsWorking) {
  ConnectScope();
  Mount().Config.PierSide = PierSideMode::CannotReport;
  clock->Sleep(1000);
  EXPECT_FALSE(station->Run.PierSideAvailable);
  EXPECT_EQ(Main().Text("PiersideEdit"), "");
  PlaceMount(200, 30);
  clock->Sleep(1000);
  EXPECT_EQ(Main().Text("RAEdit1"), FormatFixed(Scope()->RightAscension(), 5));
  EXPECT_EQ(Main().Text("PiersideEdit"), "");
  EXPECT_TRUE(station->Timer1.Enabled());
  EXPECT_TRUE(ui.messages.empty());
}

// A failing poll disconnects: with a message for the operator, only on the status line during
// a plan run.
TEST_F(TelescopeControlTest, AFailingPollDisconnectsAndAsksNothingDuringAPlanRun) {
  for (const bool planRunning : {false, true}) {
    SCOPED_TRACE(planRunning ? "plan run" : "by hand");
    ConnectScope();
    station->Run.PlanRunning = planRunning;
    Mount().Config.FailAll = true;
    clock->Sleep(1000);
    EXPECT_EQ(ui.messages.empty(), planRunning);
    EXPECT_EQ(planRunning ? station->Status() : ui.LastMessage(), "telescope error");
    EXPECT_FALSE(Scope());
    EXPECT_EQ(Main().Colour("led1"), "red");
    EXPECT_EQ(Main().Caption("BtnConnect"), "Connect");
    EXPECT_FALSE(station->Timer1.Enabled());
    Mount().Config.FailAll = false;
    ui.messages.clear();
  }
}

TEST_F(TelescopeControlTest, GotoIsRefusedJustBelowTheHorizonOrUnderAClosedRoofAndSentJustAbove) {
  ConnectScope();
  const EquatorialPosition typed = TypeTarget(PositionAt(200, 30).Ra, PositionAt(200, 30).Dec);
  const HorizontalPosition where = StationEquatorialToHorizontal(*station, typed.Ra * 15, typed.Dec);

  FlatHorizon(where.Altitude + 0.1);
  station->Activate("BtnGoto");
  EXPECT_EQ(ui.LastMessage(), "Object under horizon");
  EXPECT_EQ(Mount().SlewsStarted(), 0);

  FlatHorizon(where.Altitude - 0.1);
  CloseRoofInSimulator();
  station->Activate("BtnGoto");
  EXPECT_EQ(Mount().SlewsStarted(), 0) << "nothing is sent while the roof is closed";
  station->Observatory.SimRoof = RoofState::Open;
  station->Activate("BtnGoto");
  ASSERT_EQ(Mount().SlewsStarted(), 1);
  EXPECT_EQ(ui.messages.size(), 1u);
  EXPECT_FALSE(Mount().Slews().back().AltAz);
  EXPECT_NEAR(Mount().Slews().back().First, typed.Ra, 1e-9);
  EXPECT_NEAR(Mount().Slews().back().Second, typed.Dec, 1e-9);
  EXPECT_TRUE(Scope()->Slewing());
  EXPECT_TRUE(Scope()->Tracking());
}

TEST_F(TelescopeControlTest, GotoSendsASouthernDeclinationAboveMinusOneDegree) {
  ConnectScope();
  Main().SetValue("RAHourEdit", PositionAt(180, 30).Ra);
  Main().SetValue("DECdegEdit", 0);
  Main().SetValue("DECminEdit", 30);
  Main().SetSelection("NSbox", 1);  // "S"
  station->Activate("BtnGoto");
  ASSERT_EQ(Mount().SlewsStarted(), 1);
  EXPECT_DOUBLE_EQ(Mount().Slews().back().Second, -0.5);
}

TEST_F(TelescopeControlTest, GotoConvertsToTheDateForAMountOfDate) {
  Mount().Config.EquatorialSystem = kEquatorialOfDate;
  ConnectScope();
  const EquatorialPosition typed = TypeTarget(PositionAt(190, 45).Ra, PositionAt(190, 45).Dec);
  station->Activate("BtnGoto");
  ASSERT_EQ(Mount().SlewsStarted(), 1);
  const EquatorialPosition ofDate = J2000ToDate(typed.Ra, typed.Dec, JulianCenturiesSince2000(clock->LocalNow()), 0);
  EXPECT_NEAR(Mount().Slews().back().First, ofDate.Ra, 1e-9);
  EXPECT_NEAR(Mount().Slews().back().Second, ofDate.Dec, 1e-9);
  // Some 27 years of precession: not the J2000 position.
  EXPECT_GT(std::abs(ofDate.Ra - typed.Ra) * 15 + std::abs(ofDate.Dec - typed.Dec), 0.05);
}

TEST_F(TelescopeControlTest, StopAbortsASlewAndTheTrackingBoxSwitchesTracking) {
  Mount().Config.SlewRateDegPerSec = 1;
  ConnectScope();
  TypeTarget(PositionAt(200, 60).Ra, PositionAt(200, 60).Dec);
  station->Activate("BtnGoto");
  clock->Sleep(2000);
  ASSERT_TRUE(Scope()->Slewing());
  station->Activate("AbortSlewBtn");
  EXPECT_FALSE(Scope()->Slewing());

  Main().SetChecked("TrackCheckBox", false);
  station->Activate("TrackCheckBox");
  EXPECT_FALSE(Scope()->Tracking());
  Main().SetChecked("TrackCheckBox", true);
  station->Activate("TrackCheckBox");
  EXPECT_TRUE(Scope()->Tracking());
}

// A low park position is approached from 30 degrees up at its azimuth while the roof is open;
// under a closed roof the mount goes straight down.
TEST_F(TelescopeControlTest, OwnParkFromAfarApproachesAt30DegreesOnlyWhenTheRoofIsOpen) {
  Settings().Park1Az = 10;
  Settings().Park1Alt = 10;
  ConnectScope();
  for (const bool roofOpen : {true, false}) {
    SCOPED_TRACE(roofOpen ? "roof open" : "roof closed");
    if (!roofOpen) CloseRoofInSimulator();
    PlaceMount(200, 60);
    Scope()->SetTracking(true);
    const size_t before = Mount().Slews().size();
    EXPECT_TRUE(Park1());
    const std::vector<SimSlew> slews(Mount().Slews().begin() + static_cast<long>(before), Mount().Slews().end());
    ASSERT_EQ(slews.size(), roofOpen ? 2u : 1u);
    EXPECT_TRUE(slews[0].AltAz);
    EXPECT_DOUBLE_EQ(slews[0].First, 10);
    EXPECT_DOUBLE_EQ(slews[0].Second, roofOpen ? 30 : 10);
    EXPECT_DOUBLE_EQ(slews.back().First, 10);
    EXPECT_DOUBLE_EQ(slews.back().Second, 10);
    EXPECT_LT(AzimuthGap(Scope()->Azimuth(), 10), 0.3);
    EXPECT_NEAR(Scope()->Altitude(), 10, 0.3);
    EXPECT_FALSE(Scope()->Tracking());
    EXPECT_EQ(station->Status(), "In park position");
  }
}

// A stop that comes exactly as the mount reports a leg finished (no pump in between): Stop
// for a plan run's park, an emergency for a manual one, and Stop for a plain slew. No further
// slew reaches the mount, and the call says it was interrupted.
TEST_F(TelescopeControlTest, AStopAsALegEndsSendsNoFurtherSlew) {
  Settings().Park1Az = 10;
  Settings().Park1Alt = 10;
  std::string error;
  ASSERT_TRUE(station->Mount.Connect(&error)) << error;  // no status poll: only the wait reads
  struct Case {
    const char* what;
    bool emergency;
    bool park;
  };
  for (const Case& c :
       {Case{"Stop during the park's approach", false, true},
        Case{"an emergency during the park's approach", true, true}, Case{"Stop as a slew arrives", false, false}}) {
    SCOPED_TRACE(c.what);
    PlaceMount(200, 60);
    station->Run.AbortRequested = false;
    std::unique_ptr<OperationControl::EmergencyLease> lease;
    Mount().OnArrived = [&] {
      Mount().OnArrived = nullptr;
      if (c.emergency) {
        auto begun = station->Operations.BeginEmergency("the rain emergency");
        ASSERT_TRUE(begun);
        lease = std::make_unique<OperationControl::EmergencyLease>(std::move(*begun));
      } else {
        station->Run.AbortRequested = true;
      }
    };
    const int before = Mount().SlewsStarted();
    OperationContext op = c.emergency ? Op() : station->BeginRunOperation();
    const EquatorialPosition target = PositionAt(150, 50);
    const bool done =
        c.park ? station->Mount.GotoParkPosition1(op) : station->Mount.SlewAndWait(op, target.Ra, target.Dec);
    EXPECT_FALSE(done);
    EXPECT_EQ(Mount().SlewsStarted(), before + 1) << "only the leg that was under way";
    EXPECT_NE(station->Status().find(c.emergency ? "rain emergency" : "topped"), std::string::npos)
        << station->Status();
    lease.reset();
  }
}

TEST_F(TelescopeControlTest, ParkGivesUpAfter60SecondsOfSlewing) {
  Mount().Config.SlewRateDegPerSec = 1;
  ConnectScope();
  PlaceMount(180, 70);
  Scope()->SetTracking(true);
  const double start = SecondsNow();
  EXPECT_FALSE(Park1());
  EXPECT_EQ(station->Status(), "Park position timeout error");
  // 600 waits of 0.1 s, after the 0.7 s the park takes before its first wait: a limit a
  // second shorter or longer shows.
  EXPECT_NEAR(SecondsNow() - start, 60.7, 0.15);
  // The procedure ends at once: tracking is left as it was set before the slews.
  EXPECT_TRUE(Scope()->Slewing());

  station->Activate("ParkButton");
  EXPECT_EQ(ui.LastMessage(), "Error at parking P1");
}

TEST_F(TelescopeControlTest, AParkAtTheZenithDoesNotCheckTheAzimuth) {
  Settings().Park1Az = 123;
  Settings().Park1Alt = 90;
  ConnectScope();
  PlaceMount(250, 40);
  EXPECT_TRUE(Park1());
  EXPECT_GT(AzimuthGap(Scope()->Azimuth(), 123), 0.3);
  EXPECT_EQ(station->Status(), "In park position");
}

TEST_F(TelescopeControlTest, TheDriversParkIsRepeatedOnceThenVerified) {
  Settings().ParkMethod = 0;
  ConnectScope();
  PlaceMount(180, 50);
  Scope()->SetTracking(true);
  EXPECT_TRUE(Park1());
  EXPECT_EQ(Mount().SlewsStarted(), 1);
  EXPECT_FALSE(Scope()->Tracking());
  EXPECT_EQ(station->Status(), "In park position");

  // A driver that parks elsewhere: parked twice, then the verify reports where it stands.
  Mount().Config.ParkAzimuth = 20;
  PlaceMount(180, 50);
  const int before = Mount().SlewsStarted();
  EXPECT_FALSE(Park1());
  EXPECT_EQ(Mount().SlewsStarted() - before, 2);
  EXPECT_EQ(station->Status().rfind("Error at park position: Az=", 0), 0u) << station->Status();
  EXPECT_NE(station->Status().find(" Alt="), std::string::npos);
}

TEST_F(TelescopeControlTest, ParkPositionTwoAlwaysUsesTheOwnMethod) {
  Settings().ParkMethod = 0;
  Settings().Park2Az = 90;
  Settings().Park2Alt = 45;
  ConnectScope();
  PlaceMount(200, 50);
  station->Activate("ParkButton2");
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(station->Status(), "In park position 2");
  ASSERT_EQ(Mount().SlewsStarted(), 1);
  EXPECT_DOUBLE_EQ(Mount().Slews()[0].First, 90);
  EXPECT_DOUBLE_EQ(Mount().Slews()[0].Second, 45);
}

TEST_F(TelescopeControlTest, ParkWithoutATelescopeFailsQuietly) {
  EXPECT_FALSE(Park1());
  EXPECT_TRUE(station->Status().empty());
}

TEST_F(TelescopeControlTest, HomeCalibration) {
  Settings().HomeAz = 90;
  Settings().HomeAlt = 45;
  station->Activate("HomeButton");
  EXPECT_EQ(station->Status(), "Telescope not connected");

  ConnectScope();
  Scope()->SetTracking(true);
  station->Activate("HomeButton");
  EXPECT_EQ(station->Status(), "Home calibration finished");
  ASSERT_EQ(Mount().SlewsStarted(), 2);
  EXPECT_DOUBLE_EQ(Mount().Slews()[0].First, 90);
  EXPECT_DOUBLE_EQ(Mount().Slews()[0].Second, 45);
  EXPECT_FALSE(Scope()->Tracking());

  Mount().Config.CanFindHome = false;
  const double start = SecondsNow();
  station->Activate("HomeButton");
  EXPECT_EQ(station->Status(), "Home calibration not possible");
  EXPECT_GE(SecondsNow() - start, 3.0);

  CloseRoofInSimulator();
  station->Activate("HomeButton");
  EXPECT_EQ(station->Status(), "Roof is not open!");
}

}  // namespace
}  // namespace noctarbel::testing
