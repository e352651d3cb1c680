#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "app/event_runtime.h"
#include "app/setup_form.h"
#include "app/station.h"
#include "automation/station_setup.h"
#include "cli/cli_context.h"
#include "cli/commands.h"
#include "devices/device_registry.h"
#include "devices/observatory.h"
#include "devices/telescope_control.h"

namespace noctarbel::cli {

namespace {

struct DevicesOptions {
  bool json = false;
};

struct RoofOptions {
  std::string action;
  std::string port;
  bool json = false;
};

void RunDevices(const DevicesOptions& options) {
  const DeviceRegistry registry = MakeDefaultDeviceRegistry();
  if (options.json) {
    nlohmann::ordered_json out = nlohmann::ordered_json::object();
    for (DeviceType type : AllDeviceTypes()) {
      nlohmann::ordered_json list = nlohmann::ordered_json::array();
      for (const auto& choice : registry.Choices(type)) {
        list.push_back({{"id", choice.Identifier}, {"description", choice.Description}});
      }
      out[DeviceTypeName(type)] = list;
    }
    std::cout << out.dump(2) << "\n";
    return;
  }
  for (DeviceType type : AllDeviceTypes()) {
    std::cout << DeviceTypeName(type) << ":\n";
    for (const auto& choice : registry.Choices(type)) {
      std::cout << "  " << choice.Identifier << "  " << choice.Description << "\n";
    }
  }
}

const char* RoofText(int roof) {
  if (roof == kRoofOpen) return "open";
  if (roof == kRoofClosed) return "closed";
  return "undetermined";
}

const char* RainText(int rain) {
  if (rain == kRainWet) return "wet";
  if (rain == kRainDry) return "dry";
  return "sensor fault";
}

void PrintStates(int roof, int rain, bool json) {
  if (json) {
    nlohmann::ordered_json out = {{"roof", roof}, {"rain", rain}};
    std::cout << out.dump() << "\n";
  } else {
    std::cout << "roof: " << RoofText(roof) << "\nrain: " << RainText(rain) << "\n";
  }
}

void RunRoof(CliContext& context, const RoofOptions& options) {
  if (!context.EnsureStationFolder()) return;
  auto runtime = EventRuntime::WithRealClock();
  Station station(*runtime, context.ui, context.Paths());
  InstallHandlers(station);
  SetupFormCreate(station);
  if (!options.port.empty()) {
    // A controller named on the command line is meant to be used.
    station.Devices.Observatory.ControllerPathOverride = options.port;
    station.Settings.EnableObservatoryControl = true;
  }
  if (!station.Settings.EnableObservatoryControl) {
    std::cerr << "noctarbel-cli: observatory control is off in the settings: the roof counts as open and dry\n";
  }

  const bool connected = ConnectObservatory(station);
  if (options.action == "status") {
    const int roof = connected ? GetRoofState(station) : kRoofUnknown;
    const int rain = connected ? GetRainState(station) : kRainUnknown;
    PrintStates(roof, rain, options.json);
    if (!connected) context.Fail("Observatory I/O error: " + station.Status());
    return;
  }
  if (!connected) {
    if (options.json) PrintStates(kRoofUnknown, kRainUnknown, true);
    return context.Fail("Observatory I/O error: " + station.Status());
  }
  // The sequences park the telescope before the roof moves; without it they refuse.
  ConnectTelescope(station);
  const bool ok = options.action == "open" ? OpenRoof(station, false) : CloseRoof(station, false);
  std::string status = station.Status();
  if (ok && status.empty()) status = options.action == "open" ? "Roof is open" : "Roof is closed";
  if (!ok && status.empty()) status = "Telescope not connected";
  const int roof = GetRoofState(station);
  const int rain = GetRainState(station);
  DisconnectTelescope(station);
  if (options.json) {
    nlohmann::ordered_json out = {{"ok", ok}, {"status", status}, {"roof", roof}, {"rain", rain}};
    std::cout << out.dump() << "\n";
  } else if (ok) {
    std::cout << status << "\n";
  }
  if (!ok) context.Fail(status);
}

}  // namespace

void RegisterDeviceCommands(CLI::App& app, CliContext& context) {
  auto devices = std::make_shared<DevicesOptions>();
  CLI::App* list = app.add_subcommand("devices", "List the device drivers that can be chosen, per device type");
  list->add_flag("--json", devices->json, "Print JSON");
  list->callback([devices] { RunDevices(*devices); });

  auto roof = std::make_shared<RoofOptions>();
  CLI::App* cmd =
      app.add_subcommand("roof", "Roof and rain state, or open or close the roof (the telescope is parked first)");
  cmd->add_option("action", roof->action, "status, open or close")
      ->required()
      ->check(CLI::IsMember({"status", "open", "close"}));
  cmd->add_option("--port", roof->port, "Device path of the roof controller (instead of the settings' port)");
  cmd->add_flag("--json", roof->json, "Print JSON");
  cmd->callback([&context, roof] { RunRoof(context, *roof); });
}

}  // namespace noctarbel::cli
