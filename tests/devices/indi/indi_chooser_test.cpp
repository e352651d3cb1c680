// What the operator chooses from: the devices of the configured INDI servers by
// type, in the registry and on the command line. ("Connect all" with INDI identifiers is
// the driver contract's plan run.)

#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "common/datetime.h"
#include "tests/cli_runner.h"
#include "tests/devices/indi/indi_fixture.h"

namespace noctarbel::testing {
namespace {

std::vector<std::string> Ids(const std::vector<DeviceChoice>& choices) {
  std::vector<std::string> ids;
  for (const auto& choice : choices) {
    if (choice.Identifier.rfind("indi:", 0) == 0) ids.push_back(choice.Identifier);
  }
  std::sort(ids.begin(), ids.end());
  return ids;
}

// A port on which nothing answers.
int DeadPort() {
  TempDir folder;
  IndiTestServer gone(folder.Path(), {"indi_simulator_focus"});
  const int port = gone.Port();
  gone.Stop();
  return port;
}

class IndiChooserTest : public IndiStationTest {};

TEST_F(IndiChooserTest, ListsEachServersDevicesByTheTypesTheirDriversDeclare) {
  const std::string server = "localhost:" + std::to_string(Server().Port());
  core->Settings.IndiServers = "localhost:" + std::to_string(DeadPort()) + ", " + server;
  const DeviceContext context = Context();
  const DeviceRegistry& registry = core->Devices.Registry;
  EXPECT_EQ(Ids(registry.Choices(DeviceType::Telescope, context)),
            std::vector<std::string>{"indi://" + server + "/Telescope Simulator"});
  EXPECT_EQ(Ids(registry.Choices(DeviceType::Camera, context)),
            std::vector<std::string>{"indi://" + server + "/CCD Simulator"});
  EXPECT_EQ(Ids(registry.Choices(DeviceType::Focuser, context)),
            std::vector<std::string>{"indi://" + server + "/Focuser Simulator"});
  // The CCD simulator has a filter wheel of its own.
  EXPECT_EQ(
      Ids(registry.Choices(DeviceType::FilterWheel, context)),
      (std::vector<std::string>{"indi://" + server + "/CCD Simulator", "indi://" + server + "/Filter Simulator"}));

  // A device of another type is refused by name.
  DeviceContext make = Context();
  try {
    registry.CreateTelescope(Id(kFocuser), make);
    ADD_FAILURE() << "a focuser made as telescope";
  } catch (const DeviceError& e) {
    EXPECT_NE(std::string(e.what()).find("is not a telescope (it is a focuser)"), std::string::npos) << e.what();
  }
  // A station on a simulated clock cannot drive real devices.
  auto simulated = EventRuntime::WithVirtualClock(EncodeDateTime(2026, 12, 6, 18, 0, 0));
  DeviceContext virtualTime{*simulated, core->Site(), core->MakeDeviceContext().Servers};
  EXPECT_THROW(registry.CreateTelescope(Id(kTelescope), virtualTime), DeviceError);
}

TEST_F(IndiChooserTest, CommandLineListsTheServersDevicesQuietly) {
  core->Settings.IndiServers = "localhost:" + std::to_string(Server().Port());
  ASSERT_TRUE(SaveSettingsFile(core->SettingsFilePath(), core->Settings));
  const CliResult result = RunCli(NOCTARBEL_CLI, "--home " + ShellQuote(dir.Path().string()) + " devices --json", dir);
  ASSERT_EQ(result.exitCode, 0) << result.err;
  // The client library's own chatter does not reach the program's standard error.
  EXPECT_EQ(result.err, "");
  const auto json = nlohmann::json::parse(result.out);
  std::vector<std::string> telescopes;
  for (const auto& entry : json["Telescope"]) telescopes.push_back(entry["id"]);
  EXPECT_NE(std::find(telescopes.begin(), telescopes.end(), Id(kTelescope)), telescopes.end()) << result.out;
}

}  // namespace
}  // namespace noctarbel::testing
