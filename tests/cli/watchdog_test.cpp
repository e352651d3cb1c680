// The watchdog end to end, with real processes: noctarbel-alpaca serving the mount and the
// camera, the roof emulator on a pseudo-terminal, a real-clock `run` that opened the roof and
// is then killed with SIGKILL, and `noctarbel-cli watch`, which must leave the living station
// alone, then park the mount and close the roof for the dead one, log it and notify. The rules
// that decide when the watchdog acts are checked on their own, one table.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "common/text_file.h"
#include "operations/watchdog_operations.h"
#include "roof_emulator.h"
#include "station/settings.h"
#include "tests/cli_runner.h"
#include "tests/devices/alpaca/alpaca_fixture.h"

namespace noctarbel::testing {
namespace {

TEST(Watchdog, ActsOnlyForADeadStationThatLeftTheObservatoryExposed) {
  struct Case {
    bool ended, runActive;
    RoofState roof;
    long long age;
    bool alive;
    WatchVerdict expected;
  };
  const Case cases[] = {
      {false, true, RoofState::Open, 5, true, WatchVerdict::Alive},
      {false, true, RoofState::Open, 61, true, WatchVerdict::TakeOver},    // hung
      {false, false, RoofState::Open, 5, false, WatchVerdict::TakeOver},   // gone, roof open
      {false, true, RoofState::Closed, 5, false, WatchVerdict::TakeOver},  // gone in a run
      {false, false, RoofState::Undetermined, 5, false, WatchVerdict::TakeOver},
      {false, false, RoofState::Closed, 500, false, WatchVerdict::NothingToSecure},
      {true, false, RoofState::Open, 500, false, WatchVerdict::EndedInOrder},
  };
  for (const Case& c : cases) {
    Heartbeat beat;
    beat.Pid = 4242;
    beat.Ended = c.ended;
    beat.RunActive = c.runActive;
    beat.Roof = c.roof;
    EXPECT_EQ(JudgeHeartbeat(beat, c.age, 60, c.alive).Verdict, c.expected) << c.age << " " << c.alive;
  }
}

TEST(Watchdog, HeartbeatFileReadsBackAndRefusesWhatIsNoHeartbeat) {
  TempDir dir;
  const auto path = dir / "heartbeat.ini";
  Heartbeat beat;
  beat.UnixTime = 1796640000;
  beat.Pid = 77;
  beat.RunActive = true;
  beat.Roof = RoofState::Open;
  beat.Rain = RainState::Dry;
  beat.MountConnected = true;
  beat.LogFolder = "/srv/images";
  ASSERT_TRUE(WriteHeartbeat(path, beat));
  std::string error;
  auto back = ReadHeartbeat(path, &error);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(HeartbeatText(*back), HeartbeatText(beat));
  // Another program's line ends and byte-order mark read alike; a file that is no heartbeat
  // says so, a missing one is no error.
  for (const std::string text : {"\xEF\xBB\xBF[Heartbeat]\nUnixTime=5\rPid=9\n", "[Heartbeat]\r\nPid=x\r\n"}) {
    WriteFileAtomically(path, text);
    back = ReadHeartbeat(path, &error);
    EXPECT_EQ(back.has_value(), error.empty()) << text;
  }
  EXPECT_FALSE(ReadHeartbeat(dir / "none.ini", &error));
  EXPECT_TRUE(error.empty());
}

class WatchdogEndToEnd : public ::testing::Test {
 protected:
  CliResult Cli(const std::string& args) {
    return RunCli(NOCTARBEL_CLI, "--home " + ShellQuote(home.Path().string()) + " " + args, scratch);
  }
  // The station's run; what it prints goes to the run folder's cli.out and cli.err.
  pid_t StartRun(const std::string& plan) {
    return StartCli(NOCTARBEL_CLI,
                    {"--home", home.Path().string(), "run", plan, "--yes", "--no-corrections", "--images",
                     (scratch / "images").string()},
                    runOutput);
  }
  // The station's settings: the devices, the roof controller on `roof`'s line, `notify` told.
  void SaveStation(const std::string& telescope, const roofsim::PtyEmulator& roof, const std::string& notify,
                   const std::string& camera = "") {
    SettingsRecord settings;
    settings.TelescopeObject = telescope;
    settings.CameraObject = camera;
    settings.EnableObservatoryControl = true;
    settings.SerialPortPattern = roof.Path();
    settings.NotifyCommand = notify;
    ASSERT_TRUE(SaveSettingsFile(home / "noctarbel.ini", settings));
  }
  // The roof emulator, its roof travelling for a second.
  static std::unique_ptr<roofsim::PtyEmulator> Roof(bool open) {
    roofsim::RoofConfig config;
    config.StartOpen = open;
    config.TravelSeconds = 1;
    return roofsim::PtyEmulator::Roof(config);
  }
  std::optional<Heartbeat> Beat() {
    std::string error;
    return ReadHeartbeat(home / "heartbeat.ini", &error);
  }

  TempDir home;
  TempDir scratch;
  TempDir runOutput;
  const std::filesystem::path notified = scratch / "notified.txt";
};

TEST_F(WatchdogEndToEnd, ParksAndClosesForAKilledStationAndLeavesALivingOneAlone) {
  ServerProcess alpaca;
  ASSERT_GT(alpaca.Port(), 0);
  auto roof = Roof(false);
  const auto notify = scratch / "notify.sh";
  WriteFileAtomically(notify, "#!/bin/sh\n{ echo \"$@\"; cat; } > " + ShellQuote(notified.string()) + "\n");
  std::filesystem::permissions(notify, std::filesystem::perms::owner_all);
  const std::string base = "alpaca://127.0.0.1:" + std::to_string(alpaca.Port()) + "/";
  SaveStation(base + "telescope/0", *roof, ShellQuote(notify.string()), base + "camera/0");

  // The roof opens, then the night waits two hours for its next row.
  const std::string later = std::to_string((std::time(nullptr) / 3600 + 2) % 24);
  const auto plan = scratch / "plan.csv";
  WriteFileAtomically(plan,
                      "UT(h);UT(m);UT(s);Object name;RA(h);RA(m);RA(s);DEC(°);DEC(');DEC(\");exp.(s);"
                      "bin/zoom;filter(1..n);number;filename;Pause(s);\r\n"
                      ";;;Open roof;ZA;;;;;;;;;;;;\r\n" +
                          later + ";0;0;Park;P1;;;;;;;;;;;;\r\n");
  const pid_t station = StartRun(plan.string());
  const bool opened = WaitUntil(
      [&] {
        auto beat = Beat();
        return beat && beat->RunActive && beat->Roof == RoofState::Open;
      },
      120);
  ASSERT_TRUE(opened) << ReadFile(runOutput / "cli.err");
  const int pulses = roof->RoofPulses();

  // Alive: watched, never touched.
  CliResult watch = Cli("watch --once");
  EXPECT_EQ(watch.exitCode, 0) << watch.err;
  EXPECT_NE(watch.out.find("is alive"), std::string::npos) << watch.out;
  EXPECT_EQ(roof->RoofPulses(), pulses);

  ASSERT_EQ(kill(station, SIGKILL), 0);
  int status = 0;
  waitpid(station, &status, 0);
  watch = Cli("watch --once");
  EXPECT_EQ(watch.exitCode, 0) << watch.err;
  EXPECT_NE(watch.out.find("is gone (roof open, rain dry, a run was active): Telescope parked, roof closed"),
            std::string::npos)
      << watch.out << watch.err;
  EXPECT_EQ(roof->RoofStatus(), 0x02);
  EXPECT_FALSE(roof->RoofOutput());
  const std::string note = ReadFile(notified);
  EXPECT_EQ(note.substr(0, note.find('\n')), "station-died safe");
  EXPECT_NE(note.find("Noctarbel watchdog: the station (process " + std::to_string(station) + ") is gone"),
            std::string::npos)
      << note;
  EXPECT_NE(ReadFile(home / "watchdog.log").find("Telescope parked, roof closed"), std::string::npos);
  EXPECT_NE(ReadFile(scratch / "images" / "logfile.txt").find("Watchdog: Telescope parked, roof closed"),
            std::string::npos);

  // Made safe once: a restarted watchdog leaves it.
  const int closedPulses = roof->RoofPulses();
  watch = Cli("watch --once");
  EXPECT_EQ(watch.exitCode, 0) << watch.err;
  EXPECT_NE(watch.out.find("ended in good order"), std::string::npos) << watch.out;
  EXPECT_EQ(roof->RoofPulses(), closedPulses);
}

// With no living station holding the roof controller (none ever ran here, or it ended in good
// order), the watchdog looks at the rain itself: a roof left open stays while it is dry and is
// closed behind a park when rain comes; a living station's roof is never looked at.
TEST_F(WatchdogEndToEnd, ClosesARoofLeftOpenWhenRainComesAndNoStationHoldsIt) {
  ServerProcess alpaca;
  ASSERT_GT(alpaca.Port(), 0);
  auto roof = Roof(true);
  // The notification's arguments: the event.
  SaveStation("alpaca://127.0.0.1:" + std::to_string(alpaca.Port()) + "/telescope/0", *roof,
              "echo > " + ShellQuote(notified.string()));

  CliResult watch = Cli("watch --once");
  EXPECT_EQ(watch.exitCode, 0) << watch.err;
  EXPECT_NE(watch.out.find("No station holds the roof (roof open, rain dry)"), std::string::npos) << watch.out;

  Heartbeat living;
  living.UnixTime = UnixTimeNow();
  living.Pid = getpid();
  living.Roof = RoofState::Open;
  ASSERT_TRUE(WriteHeartbeat(home / "heartbeat.ini", living));
  roof->SetRain(true);
  const int queries = roof->RoofQueries();
  watch = Cli("watch --once");
  EXPECT_NE(watch.out.find("is alive"), std::string::npos) << watch.out;
  EXPECT_EQ(roof->RoofQueries(), queries);

  living.Ended = true;
  ASSERT_TRUE(WriteHeartbeat(home / "heartbeat.ini", living));
  watch = Cli("watch --once");
  EXPECT_EQ(watch.exitCode, 0) << watch.err;
  EXPECT_NE(watch.out.find("rain, and no station holds the roof (roof open, rain wet): Telescope parked, roof closed"),
            std::string::npos)
      << watch.out << watch.err;
  EXPECT_EQ(roof->RoofStatus() & 0x03, 0x02);
  EXPECT_EQ(ReadFile(notified), "rain-no-station safe\n");
}

// Taking over can fail: no telescope to park, or the roof guard refusing the simulated telescope
// in front of a roof on a line that stands for a real one. The roof then stays, the watchdog
// exits 1 and the notification says so.
TEST_F(WatchdogEndToEnd, AFailedTakeOverMovesNothingAndNeverExitsZero) {
  const pid_t dead = fork();
  if (dead == 0) _exit(0);
  waitpid(dead, nullptr, 0);
  struct Case {
    const char* telescope;
    const char* ptyFolder;  // pseudo-terminals elsewhere: the emulator counts as a real line
    const char* why;
  };
  for (const Case& c : {Case{"", nullptr, "No telescope is chosen"},
                        Case{"sim:telescope", "/nonexistent", "cannot vouch for the real roof controller"}}) {
    auto roof = Roof(true);
    SaveStation(c.telescope, *roof, "cat > " + ShellQuote(notified.string()) + "; echo");
    Heartbeat beat;
    beat.UnixTime = UnixTimeNow();
    beat.Pid = dead;
    beat.RunActive = true;
    beat.Roof = RoofState::Open;
    ASSERT_TRUE(WriteHeartbeat(home / "heartbeat.ini", beat));
    if (c.ptyFolder) setenv("NOCTARBEL_PTY_FOLDER", c.ptyFolder, 1);
    const CliResult watch = Cli("watch --once");
    unsetenv("NOCTARBEL_PTY_FOLDER");
    EXPECT_EQ(watch.exitCode, 1) << c.why;
    EXPECT_NE(watch.err.find(c.why), std::string::npos) << watch.err;
    EXPECT_NE(watch.err.find("the observatory is NOT safe"), std::string::npos) << watch.err;
    EXPECT_NE(ReadFile(notified).find("NOT safe"), std::string::npos) << c.why;
    EXPECT_EQ(roof->RoofPulses(), 0) << c.why;
    EXPECT_FALSE(Beat()->Ended) << c.why;  // left for a retry
  }
}

}  // namespace
}  // namespace noctarbel::testing
