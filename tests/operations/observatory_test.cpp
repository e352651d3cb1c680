// The observatory: protocol decoding, the simulator mode, and the roof and sensor sequences
// through the emulator on real pseudo-terminals, on the virtual clock.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "devices/serial_port.h"
#include "tests/operations/observatory_fixture.h"
#include "windows/observatory_window.h"

namespace noctarbel::testing {
namespace {

TEST(ControllerProtocol, StatusBytesGiveRoofAndRainStates) {
  EXPECT_EQ(RoofStateFromStatus(0x01), RoofState::Open);
  EXPECT_EQ(RoofStateFromStatus(0x02), RoofState::Closed);
  EXPECT_EQ(RoofStateFromStatus(0x03), RoofState::Undetermined);
  EXPECT_EQ(RoofStateFromStatus(0x00), RoofState::Undetermined);
  EXPECT_EQ(RoofStateFromStatus(0x05), RoofState::Open);
  EXPECT_EQ(RainStateFromStatus(0x05), RainState::Wet);
  EXPECT_EQ(RainStateFromStatus(0x01), RainState::Dry);
  // A byte with bits the controller never sets is noise: neither "open" nor "dry".
  EXPECT_EQ(RoofStateFromStatus(0xF9), RoofState::Undetermined);
  EXPECT_EQ(RainStateFromStatus(0xA1), RainState::Unknown);
  // One bit past the three the controller uses is enough to make a reply noise.
  EXPECT_EQ(RoofStateFromStatus(0x09), RoofState::Undetermined);
  EXPECT_EQ(RainStateFromStatus(0x08), RainState::Unknown);
}

TEST(SensorLines, BothValuesAreNeededAndMustBePlausible) {
  auto reading = ParseSensorLine("Temperatur:12.30 Feuchte:65.40");
  ASSERT_TRUE(reading);
  EXPECT_DOUBLE_EQ(reading->Temperature, 12.3);
  EXPECT_DOUBLE_EQ(reading->Humidity, 65.4);
  EXPECT_TRUE(ParseSensorLine("Feuchte:-5.0 Temperatur:-12.3") == std::nullopt);  // humidity below 0
  EXPECT_TRUE(ParseSensorLine("Temperatur:-5.00Feuchte:99.99"));
  EXPECT_FALSE(ParseSensorLine("Temperatur:12.30"));
  EXPECT_FALSE(ParseSensorLine("Temperatur:1x.30 Feuchte:65.40"));
  EXPECT_FALSE(ParseSensorLine("Temperatur:999.9 Feuchte:65.40"));
  EXPECT_EQ(roofsim::SensorLine(-12.345, 100), "Temperatur:-12.3 Feuchte:100.0\r\n");
}

TEST(SerialPortPaths, PortNumbersMapThroughThePattern) {
  EXPECT_EQ(SerialDevicePath("/dev/ttyUSB{n-1}", 1), "/dev/ttyUSB0");
  EXPECT_EQ(SerialDevicePath("/dev/ttyS{n}", 3), "/dev/ttyS3");
  EXPECT_EQ(SerialDevicePath("/tmp/roof", 7), "/tmp/roof");
}

TEST(SerialPortPaths, APortThatIsNotASerialLineFails) {
  TempDir dir;
  WriteFile(dir / "plain", "x");
  SerialPort port;
  EXPECT_THROW(port.Open((dir / "plain").string(), SerialSettings{}), SerialError);
  EXPECT_THROW(port.Open((dir / "missing").string(), SerialSettings{}), SerialError);
  EXPECT_FALSE(port.IsOpen());
}

TEST_F(ObservatoryTest, ConnectingShowsTheLampAndStartsTheStatusTimer) {
  StartRoof(RoofConfig{});
  station->Activate("IOConnectButton");
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(Main().Colour("LED2"), "lime");
  EXPECT_FALSE(Main().Enabled("IOConnectButton"));
  EXPECT_FALSE(Main().Enabled("SimulationButton"));
  EXPECT_TRUE(station->StatusTimer.Enabled());
  clock->Sleep(3000);
  EXPECT_EQ(Main().Text("DachStatusEdit"), "closed");
  EXPECT_EQ(Main().Colour("DachStatusEdit"), "red");
  EXPECT_EQ(Main().Text("RegensensorEdit"), "dry");
  EXPECT_EQ(Main().Colour("RegensensorEdit"), "lime");
}

TEST_F(ObservatoryTest, AControllerThatDoesNotAnswerIsAnIOError) {
  PtyEmulator& roof = StartRoof({.Fault = RoofFault::NoReply});
  station->Activate("IOConnectButton");
  EXPECT_EQ(ui.LastMessage(), "Observatory I/O error");
  EXPECT_EQ(Main().Colour("LED2"), "red");
  EXPECT_EQ(roof.RoofQueries(), 5);
  EXPECT_EQ(station->Observatory.GetRoofState(), RoofState::Undetermined);
  EXPECT_EQ(station->Observatory.GetRainState(), RainState::Unknown);
}

TEST_F(ObservatoryTest, ALineThatFailsRightAfterOpeningIsNotConnected) {
  PtyEmulator& roof = StartRoof(RoofConfig{});
  At(0.05, [&] { roof.Hangup(); });  // pulled after the port opened, before "set output 0x00"
  EXPECT_FALSE(ConnectObservatoryNow());
  EXPECT_FALSE(station->Observatory.ControllerReady());
  EXPECT_EQ(roof.RoofPulses(), 0);
}

// The watchdog takes the line for a moment to look at the rain while no station holds it: a
// station connecting then tries again for a few seconds, and says why when the line stays taken.
TEST_F(ObservatoryTest, ALineHeldByAnotherProgramIsTriedAgainForAFewSeconds) {
  PtyEmulator& roof = StartRoof(RoofConfig{});
  const auto hold = [&] {
    const int fd = ::open(roof.Path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    return fd;
  };
  int holder = hold();
  At(1.5, [&] { ::close(holder); });
  EXPECT_TRUE(ConnectObservatoryNow()) << station->Observatory.LineError();
  station->Observatory.ReleaseController();

  holder = hold();
  EXPECT_FALSE(ConnectObservatoryNow());
  EXPECT_NE(station->Observatory.LineError().find("in use by another program"), std::string::npos);
  ::close(holder);
}

TEST_F(ObservatoryTest, AnUnpluggedControllerNeverReadsAsOpenOrDry) {
  PtyEmulator& roof = StartRoof({.StartOpen = true});
  ASSERT_TRUE(ConnectObservatoryNow());
  EXPECT_EQ(station->Observatory.GetRoofState(), RoofState::Open);
  roof.Hangup();
  EXPECT_EQ(station->Observatory.GetRoofState(), RoofState::Undetermined);
  EXPECT_EQ(station->Observatory.GetRainState(), RainState::Unknown);
  StatusTick();
  EXPECT_EQ(Main().Text("DachStatusEdit"), "?");
  EXPECT_EQ(Main().Text("RegensensorEdit"), "?");
  EXPECT_FALSE(station->Observatory.PulseRoofMotor());
}

TEST_F(ObservatoryTest, BothSwitchesGiveAnUndeterminedRoofAndLeaveTheButtons) {
  // The controller answers 0x03.
  StartRoof({.StartOpen = true, .Fault = RoofFault::BothSwitches});
  ConnectScope();
  ASSERT_TRUE(ConnectObservatoryNow());
  Main().SetEnabled("DachAufButton", true);
  Main().SetEnabled("DachZuButton", false);
  Main().SetEnabled("BtnGoto", true);
  StatusTick();
  EXPECT_EQ(Main().Text("DachStatusEdit"), "?");
  EXPECT_EQ(Main().Colour("DachStatusEdit"), "yellow");
  EXPECT_TRUE(Main().Enabled("DachAufButton"));
  EXPECT_FALSE(Main().Enabled("DachZuButton"));
  EXPECT_TRUE(Main().Enabled("BtnGoto"));
  EXPECT_EQ(Main().Text("RegensensorEdit"), "dry");
  EXPECT_FALSE(station->Run.AbortRequested);
  EXPECT_EQ(Mount().SlewsStarted(), 0);
}

TEST_F(ObservatoryTest, RainWithAnUnparkedTelescopeRaisesTheAlarmInstead) {
  PtyEmulator& roof = StartRoof({.StartOpen = true, .Rain = true});
  Mount().Config.SlewRateDegPerSec = 0.5;  // the park times out
  ConnectScope();
  PlaceMount(180, 60);
  ASSERT_TRUE(ConnectObservatoryNow());
  StatusTick();
  EXPECT_EQ(station->Run.RoofErrorState, RoofAlarm::RainNotParked);
  EXPECT_EQ(roof.RoofPulses(), 0);
  EXPECT_EQ(station->Status(), "ALARM 2");
}

TEST_F(ObservatoryTest, AStuckMotorFailsAfter16Polls) {
  PtyEmulator& roof = StartRoof({.Fault = RoofFault::StuckMotor});
  ConnectScope();
  ASSERT_TRUE(ConnectObservatoryNow());
  const int queriesBefore = roof.RoofQueries();
  const double start = SecondsNow();
  EXPECT_FALSE(Open());
  EXPECT_EQ(roof.RoofPulses(), 1);
  EXPECT_EQ(station->Status(), "Open error!");
  // Rain checks before and after the park, state before the pulse, 16 polls, rain check at the end.
  EXPECT_EQ(roof.RoofQueries() - queriesBefore, 20);
  EXPECT_GE(SecondsNow() - start, 16);
}

TEST_F(ObservatoryTest, OpenAndCloseRunThroughTheEndSwitches) {
  PtyEmulator& roof = StartRoof({.TravelSeconds = 5});
  ConnectScope();
  ASSERT_TRUE(ConnectObservatoryNow());
  EXPECT_TRUE(Open());
  EXPECT_EQ(station->Status(), "Roof is open");
  EXPECT_EQ(roof.RoofStatus(), 0x01);

  station->Run.RoofErrorState = RoofAlarm::CloseFailed;
  Scope()->SetTracking(true);
  EXPECT_TRUE(Close());
  EXPECT_EQ(station->Status(), "Roof was closed");
  EXPECT_EQ(station->Run.RoofErrorState, RoofAlarm::None);
  EXPECT_EQ(roof.RoofStatus(), 0x02);
  EXPECT_EQ(roof.RoofPulses(), 2);
  EXPECT_FALSE(Scope()->Tracking());
  // Already closed: nothing happens.
  EXPECT_TRUE(Close());
  EXPECT_EQ(roof.RoofPulses(), 2);
}

TEST_F(ObservatoryTest, TheRoofDoesNotMoveWithoutATelescope) {
  PtyEmulator& roof = StartRoof({.StartOpen = true});
  station->Activate("IOConnectButton");
  station->Activate("DachZuButton");
  EXPECT_EQ(ui.LastMessage(), "Error closing roof!");
  EXPECT_EQ(station->Status(), "Error closing roof: telescope not connected");

  // Open with the telescope disconnected: no park check, the question, then nothing moves.
  ui.answers = {true};
  roof.SetFault(RoofFault::None);
  EXPECT_TRUE(ui.questions.empty());
  station->Activate("DachAufButton");
  EXPECT_EQ(ui.questions.back(), "Telescope park position OK?");
  EXPECT_EQ(ui.LastMessage(), "Open error!");
  EXPECT_EQ(roof.RoofPulses(), 0);
}

// The open button checks the park position first and asks nothing when it is off; then the
// interactive sequences ask before they move anything.
TEST_F(ObservatoryTest, InteractiveSequencesCheckTheParkPositionAndAskFirst) {
  PtyEmulator& roof = StartRoof({.TravelSeconds = 3});
  ConnectScope();
  station->Activate("IOConnectButton");
  PlaceMount(180, 60);
  station->Activate("DachAufButton");
  EXPECT_EQ(ui.LastMessage(), "Too large deviation from park position, check!");
  Settings().Park1Pierside = 1;
  PlaceMount(0, 0);
  station->Activate("DachAufButton");
  EXPECT_EQ(ui.LastMessage(), "Pierside incorrect, check park position!");
  EXPECT_TRUE(ui.questions.empty());

  // Open: the park position check passes (the mount stands at park position 1), then two
  // questions, then the mount goes to park position 1 and the roof opens.
  Settings().Park1Pierside = 0;
  ui.answers = {true, true};
  station->Activate("DachAufButton");
  ASSERT_EQ(ui.questions.size(), 2u);
  EXPECT_EQ(ui.questions[0], "Telescope park position OK?");
  EXPECT_EQ(ui.questions[1], "Park telescope and open roof?");
  EXPECT_EQ(station->Status(), "Roof is opened");
  EXPECT_EQ(roof.RoofStatus(), 0x01);
  EXPECT_TRUE(station->StatusTimer.Enabled());

  ui.answers = {false};
  station->Activate("DachZuButton");
  EXPECT_EQ(ui.questions.back(), "Park telescope and close roof?");
  EXPECT_EQ(ui.LastMessage(), "Error closing roof!");
  EXPECT_EQ(roof.RoofStatus(), 0x01);
}

TEST_F(ObservatoryTest, TheSensorIsShownAndGoesStaleAfterAMinute) {
  auto TickUntilTemperatureShows = [this](const std::string& text) {
    for (int tick = 0; tick < 500 && Main().Text("TemperaturEdit1") != text; ++tick) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      StatusTick();
    }
    EXPECT_EQ(Main().Text("TemperaturEdit1"), text);
  };
  PtyEmulator& sensor = StartSensor();
  StartRoof(RoofConfig{});
  station->Activate("IOConnectButton");
  EXPECT_TRUE(ui.messages.empty());
  // The sensor's lines come by themselves; the watch takes what has arrived.
  TickUntilTemperatureShows("12.3");
  EXPECT_EQ(Main().Text("FeuchteEdit1"), "65.4");

  sensor.SetSensorText("Temperatur:##.## Feuchte:65.40");
  station->Observatory.ReadSensor();  // may still get a line sent before the change
  EXPECT_FALSE(station->Observatory.ReadSensor());
  clock->Sleep(30000);
  EXPECT_EQ(Main().Text("TemperaturEdit1"), "12.3");  // kept for about a minute
  clock->Sleep(33000);
  EXPECT_EQ(Main().Text("TemperaturEdit1"), "?");
  EXPECT_EQ(Main().Text("FeuchteEdit1"), "?");

  sensor.SetSensorText("");
  sensor.SetSensorValues(-3.4, 91);
  TickUntilTemperatureShows("-3.4");
  EXPECT_EQ(Main().Text("FeuchteEdit1"), "91.0");
}

// The observatory's watch never waits for the sensor: with a sensor that sends nothing its
// ticks (and the rain check with them) still come every 3 s, on the computer's clock.
TEST(ObservatoryWatch, ASilentSensorDoesNotHoldUpTheRainCheck) {
  TempDir dir;
  auto clock = EventRuntime::WithRealClock();
  StationCore core(*clock, StationPaths{dir.Path(), NOCTARBEL_SOURCE_DATA_DIR});
  const auto start = std::chrono::steady_clock::now();
  auto roof = PtyEmulator::Roof(RoofConfig{}, [start] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  });
  roofsim::SensorConfig silent;
  silent.IntervalSeconds = 1e6;
  auto sensor = PtyEmulator::Sensor(silent);
  core.Settings.EnableObservatoryControl = true;
  core.Settings.TempComport1 = 2;
  core.Observatory.ControllerPathOverride = roof->Path();
  core.Observatory.SensorPathOverride = sensor->Path();
  OperationContext op = core.BeginOperation();
  ASSERT_TRUE(core.ConnectObservatory(op, nullptr));
  int ticks = 0;
  core.OnObservatoryTick = [&ticks](const ObservatoryTick& tick) {
    EXPECT_FALSE(tick.Sensor);
    ++ticks;
  };
  clock->Sleep(9500);
  // Ticks at 3, 6 and 9 s; a read that waited for a line would have held the first one 10 s.
  EXPECT_GE(ticks, 2);
}

TEST_F(ObservatoryTest, ASensorPortThatCannotBeOpenedIsReported) {
  StartRoof(RoofConfig{});
  Settings().TempComport1 = 2;
  station->Observatory.SensorPathOverride = (dir / "no-such-port").string();
  station->Activate("IOConnectButton");
  EXPECT_EQ(ui.LastMessage(), "Error at temperature/humidity sensor 1");
  EXPECT_EQ(Main().Colour("LED2"), "lime");
}

class ObservatorySimulatorTest : public DeviceFixture {};

TEST_F(ObservatorySimulatorTest, TheSimulatorOpensAndClosesWithoutDialogs) {
  Settings().EnableObservatoryControl = true;
  station->Activate("SimulationButton");
  EXPECT_TRUE(station->Observatory.SimulationMode);
  EXPECT_TRUE(Main().Visible("SimulationLabel"));
  EXPECT_FALSE(Main().Enabled("SimulationButton"));
  EXPECT_EQ(Main().Colour("LED2"), "lime");
  clock->Sleep(3000);
  EXPECT_EQ(Main().Text("DachStatusEdit"), "closed");

  station->Activate("DachAufButton");
  EXPECT_TRUE(ui.questions.empty());
  clock->Sleep(3000);
  EXPECT_EQ(Main().Text("DachStatusEdit"), "open");
  EXPECT_EQ(Main().Colour("DachStatusEdit"), "lime");

  station->Activate("DachZuButton");
  clock->Sleep(3000);
  EXPECT_EQ(Main().Text("DachStatusEdit"), "closed");
}

TEST_F(ObservatorySimulatorTest, WithoutObservatoryControlTheRoofCountsAsOpenAndDry) {
  ConnectScope();
  Main().SetEnabled("BtnGoto", false);
  Main().SetEnabled("HomeButton", false);
  StatusTimerTimer(*station);
  EXPECT_EQ(Main().Text("DachStatusEdit"), "open");
  EXPECT_EQ(Main().Colour("DachStatusEdit"), "grey");
  EXPECT_EQ(Main().Text("RegensensorEdit"), "dry");
  EXPECT_EQ(Main().Colour("RegensensorEdit"), "grey");
  EXPECT_TRUE(Main().Enabled("BtnGoto"));
  EXPECT_TRUE(Main().Enabled("HomeButton"));
  EXPECT_TRUE(Main().Enabled("DachZuButton"));
  EXPECT_TRUE(station->StatusTimer.Enabled());
  EXPECT_TRUE(Open());
  EXPECT_TRUE(Close());
}

}  // namespace
}  // namespace noctarbel::testing
