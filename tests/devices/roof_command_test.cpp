// noctarbel-cli's "devices" and "roof" commands against the roof emulator on a real
// pseudo-terminal (the command runs on the real clock, so the roofs here travel fast).

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/settings.h"
#include "roof_emulator.h"
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
  void ChooseTelescope() {
    SettingsRecord settings;
    settings.TelescopeObject = "sim:telescope";
    ASSERT_TRUE(SaveSettingsFile(home / "noctarbel.ini", settings));
  }
  std::string Port(const PtyEmulator& roof) { return "--port " + ShellQuote(roof.Path()); }

  TempDir home;
  TempDir scratch;
};

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

TEST_F(RoofCommandTest, StatusReportsRoofAndRain) {
  RoofConfig config;
  config.StartOpen = true;
  config.Rain = true;
  auto roof = PtyEmulator::Roof(config);
  CliResult result = Run("roof status --json " + Port(*roof));
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "{\"roof\":1,\"rain\":1}\n");
  result = Run("roof status " + Port(*roof));
  EXPECT_EQ(result.out, "roof: open\nrain: wet\n");
}

TEST_F(RoofCommandTest, AnUnreachableControllerIsAFailure) {
  CliResult result = Run("roof status --json --port " + ShellQuote((scratch / "none").string()));
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, "{\"roof\":-1,\"rain\":-1}\n");
  EXPECT_NE(result.err.find("Observatory I/O error"), std::string::npos);
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
  EXPECT_EQ(result.out, "{\"ok\":true,\"status\":\"Roof is open\",\"roof\":1,\"rain\":0}\n");
}

TEST_F(RoofCommandTest, WithoutATelescopeTheRoofDoesNotMove) {
  RoofConfig config;
  config.StartOpen = true;
  auto roof = PtyEmulator::Roof(config);
  CliResult result = Run("roof close " + Port(*roof));
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("Error closing roof"), std::string::npos);
  EXPECT_EQ(roof->RoofPulses(), 0);
  EXPECT_EQ(Run("roof open " + Port(*roof)).exitCode, 1);
  EXPECT_EQ(roof->RoofPulses(), 0);
}

}  // namespace
}  // namespace noctarbel::testing
