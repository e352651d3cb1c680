// The observatory's safety rules, each checked on both sides of its limit, and the rain
// emergency running inside another operation's wait: the interrupted operation must end
// and send nothing more (an interrupted park must not slew under the closed roof).

#include <gtest/gtest.h>

#include "tests/operations/observatory_fixture.h"

namespace noctarbel::testing {
namespace {

class SafetyTest : public ObservatoryTest {
 protected:
  // The observatory simulator: the roof is a variable, rain too.
  void SimulatedObservatory(RoofState roof) {
    station->Observatory.SimulationMode = true;
    station->Observatory.SimRoof = roof;
    ASSERT_TRUE(ConnectObservatoryNow());
  }
};

// ---- the one roof guard

// The simulated telescope parks nothing real: behind it, a real roof moves on no path unless
// the operator allows it; the rain emergency alone still closes, and says what it could not
// check. The emulator's pseudo-terminal stands for a real line here (NOCTARBEL_PTY_FOLDER
// names another folder for pseudo-terminals).
TEST_F(SafetyTest, ASimulatedTelescopeNeverVouchesForARealRoof) {
  setenv("NOCTARBEL_PTY_FOLDER", (dir / "no-ptys").c_str(), 1);
  PtyEmulator& roof = StartRoof({.TravelSeconds = 5});
  ConnectScope();
  ASSERT_TRUE(ConnectObservatoryNow());

  EXPECT_FALSE(Open());
  EXPECT_NE(station->Status().find("cannot vouch for the real roof controller on " + roof.Path()), std::string::npos)
      << station->Status();
  ui.answers = {true, true};
  station->Activate("DachAufButton");
  EXPECT_NE(ui.LastMessage().find("cannot vouch"), std::string::npos) << ui.LastMessage();
  EXPECT_EQ(roof.RoofPulses(), 0);

  // Opened behind the operator's permission, the roof again refuses to close without it.
  Settings().AllowSimulatedTelescope = true;
  ASSERT_TRUE(Open());
  const int pulses = roof.RoofPulses();
  Settings().AllowSimulatedTelescope = false;
  EXPECT_FALSE(Close());
  station->Activate("DachZuButton");
  EXPECT_NE(ui.LastMessage().find("cannot vouch"), std::string::npos) << ui.LastMessage();
  EXPECT_EQ(roof.RoofPulses(), pulses);

  // Rain: the emergency parks what it can and closes, and the log says the park was not real.
  roof.SetRain(true);
  StatusTick();
  EXPECT_EQ(station->Observatory.GetRoofState(), RoofState::Closed);
  EXPECT_TRUE(LogHas("the real telescope's park was not checked"));
  unsetenv("NOCTARBEL_PTY_FOLDER");
}

// ---- the rain emergency inside another operation

TEST_F(SafetyTest, AnEmergencyInsideAParkEndsThatParkAndNothingSlewsAfterIt) {
  PtyEmulator& roof = StartRoof({.TravelSeconds = 5, .StartOpen = true, .RainAtSeconds = 4});
  Settings().Park2Az = 90;
  Settings().Park2Alt = 5;
  ConnectScope();
  PlaceMount(200, 60);
  station->Activate("IOConnectButton");  // starts the status timer
  int parks = 0;
  station->Mount.OnParkStarted = [&parks] { ++parks; };
  station->Activate("ParkButton2");

  // The status timer saw the rain inside the park's wait, parked at P1 and closed the roof.
  EXPECT_EQ(roof.RoofStatus(), 0x06);
  EXPECT_TRUE(station->Run.AbortRequested);
  EXPECT_TRUE(LogHas(": Emergency! Going to park position"));
  EXPECT_TRUE(std::filesystem::exists(dir / "logfile.txt")) << "the emergency saves the log";
  // The P2 park ended there, with its reason, and sent nothing more.
  EXPECT_TRUE(LogHas(": Park position 2 interrupted by the rain emergency"));
  EXPECT_EQ(ui.LastMessage(), "Error at parking P2");
  const SimSlew last = Mount().Slews().back();
  EXPECT_TRUE(last.AltAz);
  EXPECT_DOUBLE_EQ(last.First, 0);  // park position 1
  EXPECT_DOUBLE_EQ(last.Second, 0);
  EXPECT_EQ(parks, 2) << "P2, then P1 once: the roof's close does not park again";
  const int slews = Mount().SlewsStarted();
  clock->Sleep(60000);
  EXPECT_EQ(Mount().SlewsStarted(), slews);
  EXPECT_LT(AzimuthGap(Scope()->Azimuth(), 0), 0.3);
  EXPECT_NEAR(Scope()->Altitude(), 0, 0.3);
  EXPECT_EQ(roof.RoofStatus(), 0x06);
}

TEST_F(SafetyTest, AnEmergencyDuringAnOpeningClosesTheRoofAndTheOpeningStops) {
  PtyEmulator& roof = StartRoof({.TravelSeconds = 8});
  ConnectScope();
  ASSERT_TRUE(ConnectObservatoryNow());
  // Rain while the roof travels; the plan's own check starts the emergency (the status
  // timer waits for an open roof).
  At(3, [&] {
    roof.SetRain(true);
    EXPECT_EQ(station->Observatory.RainEmergency(), EmergencyOutcome::RoofClosed);
  });
  OperationContext op = Op();
  const RoofMoveResult result = station->Observatory.OpenRoof(op);
  EXPECT_FALSE(result.Ok);
  EXPECT_EQ(op.Stop(), OperationStop::Preempted);
  EXPECT_EQ(station->Status(), "Open error! Interrupted by the rain emergency");
  // The emergency let the roof reach its switch, then closed it; the opening sent nothing
  // after that.
  EXPECT_EQ(roof.RoofStatus(), 0x06);
  EXPECT_EQ(roof.RoofPulses(), 2);
  clock->Sleep(20000);
  EXPECT_EQ(roof.RoofPulses(), 2);
}

TEST_F(SafetyTest, AnEmergencyDuringAFocuserMoveEndsTheMove) {
  SimulatedObservatory(RoofState::Open);
  ConnectScope();
  station->StatusTimer.Start();
  station->Activate("FocusConnectButton");
  World().Focuser.Config.StepsPerSecond = 50;
  At(4, [&] { station->Observatory.SimRain = RainState::Wet; });
  const double start = SecondsNow();
  OperationContext op = Op();
  EXPECT_FALSE(station->Focuser.MoveTo(op, 5600));  // 12 s of travel
  EXPECT_LT(SecondsNow() - start, 10);
  EXPECT_EQ(station->Status(), "Focuser move to 5600: Interrupted by the rain emergency");
  EXPECT_EQ(station->Observatory.SimRoof, RoofState::Closed);
  EXPECT_EQ(World().Focuser.MovesReceived(), 1);
}

// ---- opening needs dry weather that can be read

TEST_F(SafetyTest, TheRoofDoesNotOpenWithAnUnreadableRainSensor) {
  ConnectScope();
  SimulatedObservatory(RoofState::Closed);
  station->Observatory.SimRain = RainState::Unknown;
  EXPECT_FALSE(Open());
  EXPECT_EQ(station->Observatory.SimRoof, RoofState::Closed);
  EXPECT_EQ(station->Status(), "Error: Rain sensor!");
}

TEST_F(SafetyTest, TheRoofDoesNotOpenInRainOrWhenTheControllerFallsSilent) {
  PtyEmulator& roof = StartRoof({.Rain = true});
  ConnectScope();
  ASSERT_TRUE(ConnectObservatoryNow());
  EXPECT_FALSE(Open());
  EXPECT_EQ(station->Status(), "Error: Rain sensor!");

  roof.SetRain(false);
  roof.SetFault(RoofFault::NoReply);
  EXPECT_FALSE(Open());
  // Said as what it is: the line, not the sensor.
  EXPECT_EQ(station->Status(), "Error: no reply from the roof controller on " + roof.Path());
  EXPECT_EQ(roof.RoofPulses(), 0);
}

// ---- the roof moves only behind a park within 0.3 degrees of park position 1

TEST_F(SafetyTest, TheRoofMovesOnlyBehindAParkWithinTolerance) {
  Settings().ParkMethod = 0;  // the driver parks wherever its own park position is
  Settings().Park1Az = 20;
  Settings().Park1Alt = 10;
  ConnectScope();
  SimulatedObservatory(RoofState::Closed);
  struct Case {
    double AzOff;
    double AltOff;
    bool Moves;
  };
  for (const Case c :
       {Case{0.31, 0, false}, Case{0, 0.31, false}, Case{-0.31, 0, false}, Case{0.29, 0, true}, Case{0, -0.29, true}}) {
    SCOPED_TRACE(std::to_string(c.AzOff) + " / " + std::to_string(c.AltOff));
    Mount().Config.ParkAzimuth = 20 + c.AzOff;
    Mount().Config.ParkAltitude = 10 + c.AltOff;
    station->Observatory.SimRoof = RoofState::Closed;
    PlaceMount(200, 50);
    EXPECT_EQ(Open(), c.Moves);
    EXPECT_EQ(station->Observatory.SimRoof, c.Moves ? RoofState::Open : RoofState::Closed);
    // The cause is kept: the park, not the roof, failed.
    const std::string parkError = " park position 1 not reached (Error at park position: Az=";
    EXPECT_EQ(station->Status().rfind("Roof not opened:" + parkError, 0) == 0, !c.Moves) << station->Status();
    station->Observatory.SimRoof = RoofState::Open;
    PlaceMount(200, 50);
    EXPECT_EQ(Close(), c.Moves);
    EXPECT_EQ(station->Observatory.SimRoof, c.Moves ? RoofState::Closed : RoofState::Open);
    EXPECT_EQ(station->Status().rfind("Roof not closed:" + parkError, 0) == 0, !c.Moves) << station->Status();
  }
}

}  // namespace
}  // namespace noctarbel::testing
