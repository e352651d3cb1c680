// noctarbel-cli's "devices" and "roof" commands against the roof emulator on a real
// pseudo-terminal (the command runs on the real clock, so the roofs here travel fast). The
// roof command is a safety net scripts rely on: its exit status must say what happened.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "roof_emulator.h"
#include "station/settings.h"
#include "tests/cli_runner.h"

namespace noctarbel::testing {
namespace {

using roofsim::PtyEmulator;
using roofsim::RoofConfig;

class RoofCommandTest : public ::testing::Test {
 protected:
  CliResult Run(const std::string& args) {
    return RunCli(NOCTARBEL_CLI, "--home " + ShellQuote(home.Path().string()) + " " + args, scratch);
  }
  void Save(const SettingsRecord& settings) { ASSERT_TRUE(SaveSettingsFile(home / "noctarbel.ini", settings)); }
  void ChooseTelescope() { Save(Station("sim:telescope", false, SettingsRecord{}.SerialPortPattern)); }
  static SettingsRecord Station(const char* telescope, bool control, const std::string& port) {
    SettingsRecord settings;
    settings.TelescopeObject = telescope;
    settings.EnableObservatoryControl = control;
    settings.SerialPortPattern = port;
    return settings;
  }
  std::string Port(const PtyEmulator& roof) { return "--port " + ShellQuote(roof.Path()); }

  pid_t Start(std::vector<std::string> args) {
    args.insert(args.begin(), {"--home", home.Path().string()});
    return StartCli(NOCTARBEL_CLI, args, scratch);
  }

  TempDir home;
  TempDir scratch;
};

int Lines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

TEST_F(RoofCommandTest, DevicesListsTheChoicesPerType) {
  CliResult result = Run("devices --json");
  ASSERT_EQ(result.exitCode, 0) << result.err;
  auto json = nlohmann::json::parse(result.out);
  EXPECT_EQ(json["Telescope"][0]["id"], "sim:telescope");
  EXPECT_EQ(json["Camera"][0]["id"], "sim:camera");
  EXPECT_EQ(json["Focuser"][0]["id"], "sim:focuser");
  EXPECT_EQ(json["Filterwheel"][0]["id"], "sim:filterwheel");
  EXPECT_NE(Run("devices").out.find("Telescope:\n  sim:telescope"), std::string::npos);
}

TEST_F(RoofCommandTest, StatusReportsRoofAndRainAndWhyTheyAreUnknown) {
  RoofConfig config;
  config.StartOpen = true;
  config.Rain = true;
  auto roof = PtyEmulator::Roof(config);
  CliResult result = Run("roof status --json " + Port(*roof));
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "{\"roof\":1,\"rain\":1,\"controlled\":true}\n");
  result = Run("roof status " + Port(*roof));
  EXPECT_EQ(result.out, "roof: open\nrain: wet\n");

  // A controller that does not answer is a line fault, not a rain-sensor fault.
  roof->SetFault(roofsim::RoofFault::NoReply);
  result = Run("roof status " + Port(*roof));
  EXPECT_EQ(result.exitCode, 1);
  const std::string cause = "(no reply from the roof controller on " + roof->Path() + ")";
  EXPECT_EQ(result.out, "roof: undetermined " + cause + "\nrain: unknown " + cause + "\n");
  EXPECT_EQ(result.err,
            "noctarbel-cli: Observatory I/O error: no reply from the roof controller on " + roof->Path() + "\n");
  result = Run("roof status --json --port " + ShellQuote((scratch / "none").string()));
  EXPECT_EQ(result.exitCode, 1);
  auto json = nlohmann::json::parse(result.out);
  EXPECT_EQ(json["roof"], -1);
  EXPECT_EQ(json["rain"], -1);
  EXPECT_NE(json["error"].get<std::string>().find("none"), std::string::npos);
}

TEST_F(RoofCommandTest, WithControlOffTheRoofIsAssumedOpen) {
  RoofConfig config;
  config.StartOpen = true;
  auto roof = PtyEmulator::Roof(config);
  Save(Station("sim:telescope", false, roof->Path()));
  CliResult result = Run("roof status");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.out.find("roof: open (assumed: observatory control is off)"), std::string::npos);
  result = Run("roof status --json");
  EXPECT_EQ(result.out, "{\"roof\":1,\"rain\":0,\"controlled\":false}\n");
  EXPECT_EQ(roof->RoofQueries(), 0);
}

TEST_F(RoofCommandTest, CloseParksTheTelescopeThenClosesTheRoof) {
  ChooseTelescope();
  RoofConfig config;
  config.StartOpen = true;
  config.TravelSeconds = 0.3;
  auto roof = PtyEmulator::Roof(config);
  CliResult result = Run("roof close " + Port(*roof));
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "Roof was closed\n");
  EXPECT_EQ(roof->RoofStatus(), 0x02);

  result = Run("roof open --json " + Port(*roof));
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "{\"ok\":true,\"status\":\"Roof is open\",\"roof\":1,\"rain\":0,\"controlled\":true}\n");
}

// A roof command that is refused or fails exits 1 with one line saying why, also with --json,
// and never pulses the roof: with observatory control off nothing at all is sent; without a
// telescope to park the roof stays; opening in rain is refused; the simulated telescope cannot
// vouch for a real line unless allowed, and then the line that is not there is the fault.
TEST_F(RoofCommandTest, EveryRefusalExitsOneAndMovesNothing) {
  RoofConfig open;
  open.StartOpen = true;
  auto controlOff = PtyEmulator::Roof(open);
  auto roof = PtyEmulator::Roof(open);
  RoofConfig wet;
  wet.Rain = true;
  auto rainy = PtyEmulator::Roof(wet);
  const std::string off = "Observatory control is off: the roof was not moved\n";
  struct Case {
    const char* telescope;
    bool control;
    std::string args;
    std::string says;
  };
  const Case cases[] = {
      {"sim:telescope", false, "roof open", off},
      {"sim:telescope", false, "roof close", off},
      {"", true, "roof open " + Port(*roof), "No telescope is chosen"},
      {"", true, "roof close " + Port(*roof), "No telescope is chosen"},
      {"sim:telescope", true, "roof open " + Port(*rainy), "Rain sensor"},
      {"sim:telescope", true, "roof open --port /dev/ttyS99", "sim:telescope"},
      {"sim:telescope", true, "roof open --port /dev/ttyS99", "/dev/ttyS99"},
      {"sim:telescope", true, "roof close --port /dev/ttyS99", "the roof was not closed"},
      {"sim:telescope", true, "roof open --allow-simulated-telescope --port /dev/ttyS99", "Observatory I/O error"},
  };
  for (const Case& c : cases) {
    Save(Station(c.telescope, c.control, controlOff->Path()));
    for (const std::string json : {"", " --json"}) {
      SCOPED_TRACE(c.args + json);
      const CliResult result = Run(c.args + json);
      EXPECT_EQ(result.exitCode, 1);
      EXPECT_EQ(Lines(result.err), 1) << result.err;
      EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
      if (!json.empty()) {
        EXPECT_EQ(nlohmann::json::parse(result.out)["ok"], false);
        EXPECT_EQ(nlohmann::json::parse(result.out)["controlled"], c.control);
      }
    }
  }
  EXPECT_EQ(controlOff->RoofQueries(), 0);
  for (auto* line : {controlOff.get(), roof.get(), rainy.get()}) EXPECT_EQ(line->RoofPulses(), 0);
}

TEST_F(RoofCommandTest, RainWhileOpeningRunsTheEmergencyAndFails) {
  ChooseTelescope();
  RoofConfig config;
  config.TravelSeconds = 3;
  config.RainAtSeconds = 1.8;  // while the roof travels
  auto roof = PtyEmulator::Roof(config);
  CliResult result = Run("roof open " + Port(*roof));
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "noctarbel-cli: Rain while the roof was opening: telescope parked, roof closed\n");
  EXPECT_EQ(roof->RoofStatus(), 0x06);  // closed, raining
  EXPECT_EQ(roof->RoofPulses(), 2);
  EXPECT_FALSE(roof->RoofOutput());
}

TEST_F(RoofCommandTest, ASignalDuringThePulseSwitchesTheOutputOff) {
  ChooseTelescope();
  RoofConfig config;
  config.TravelSeconds = 30;
  for (int signals : {1, 2}) {
    auto roof = PtyEmulator::Roof(config);
    const pid_t pid = Start({"roof", "open", "--port", roof->Path()});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!roof->RoofOutput() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(roof->RoofOutput()) << "the pulse never began";
    // A second signal ends the program at once, switching the output off on the way.
    for (int i = 0; i < signals; ++i) kill(pid, SIGTERM);
    EXPECT_EQ(WaitCli(pid), 128 + SIGTERM) << signals;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(roof->RoofOutput()) << signals;
    if (signals == 1) {
      EXPECT_NE(ReadFile(scratch / "cli.err").find("Interrupted by SIGTERM"), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace noctarbel::testing
