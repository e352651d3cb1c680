// noctarbel-cli "devices" and "roof": the drivers that can be chosen, and the observatory
// as an independent safety net (cron, a rain script) that needs no window. The roof command
// builds only the station's core and calls the observatory's and the mount's operations.

#include <CLI/CLI.hpp>

#include <unistd.h>
#include <atomic>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "common/event_runtime.h"
#include "common/stop_signal.h"
#include "operations/station_core.h"
#include "cli/cli_context.h"
#include "cli/commands.h"
#include "devices/device_registry.h"

namespace noctarbel::cli {

namespace {

struct DevicesOptions {
  bool json = false;
};

struct RoofOptions {
  std::string action;
  std::string port;
  bool json = false;
  bool allowSimulatedTelescope = false;
};

// A station core with the settings of the station folder (defaults when it has none).
std::unique_ptr<StationCore> LoadCore(CliContext& context, Runtime& runtime) {
  auto core = std::make_unique<StationCore>(runtime, context.Paths());
  core->Settings = LoadSettingsFile(core->SettingsFilePath());
  return core;
}

void RunDevices(CliContext& context, const DevicesOptions& options) {
  auto runtime = EventRuntime::WithRealClock();
  auto core = LoadCore(context, *runtime);
  const DeviceContext devices = core->MakeDeviceContext();
  if (options.json) {
    nlohmann::ordered_json out = nlohmann::ordered_json::object();
    for (DeviceType type : AllDeviceTypes()) {
      nlohmann::ordered_json list = nlohmann::ordered_json::array();
      for (const auto& choice : core->Devices.Registry.Choices(type, devices)) {
        list.push_back({{"id", choice.Identifier}, {"description", choice.Description}});
      }
      out[DeviceTypeName(type)] = list;
    }
    std::cout << out.dump(2) << "\n";
    return;
  }
  for (DeviceType type : AllDeviceTypes()) {
    std::cout << DeviceTypeName(type) << ":\n";
    for (const auto& choice : core->Devices.Registry.Choices(type, devices)) {
      std::cout << "  " << choice.Identifier << "  " << choice.Description << "\n";
    }
  }
}

// ---- signals: the first one ends the command at its next wait (a motor pulse always ends
// with the output switched off first); a second one ends the program at once, switching
// the output off on the way out.

std::atomic<int> gControllerFd{-1};

extern "C" void OnRepeatedSignal(int number) {
  const int fd = gControllerFd.load();
  if (fd >= 0) {
    const unsigned char setOutput = 0x10;
    const unsigned char off = 0x00;
    if (::write(fd, &setOutput, 1) == 1) {
      const timespec gap{0, 50'000'000};
      ::nanosleep(&gap, nullptr);
      [[maybe_unused]] auto written = ::write(fd, &off, 1);
    }
  }
  ::_exit(128 + number);
}

void InstallSignalHandlers() {
  stop_signal::Install();
  stop_signal::OnRepeatedSignal(OnRepeatedSignal);
}

class RoofCommand {
 public:
  RoofCommand(CliContext& context, const RoofOptions& options) : context_(context), options_(options) {}

  void Run() {
    if (!context_.EnsureStationFolder()) return;
    runtime_ = EventRuntime::WithRealClock();
    core_ = LoadCore(context_, *runtime_);
    ObservatoryOperations& obs = core_->Observatory;
    if (!options_.port.empty()) {
      // A controller named on the command line is meant to be used.
      obs.ControllerPathOverride = options_.port;
      core_->Settings.EnableObservatoryControl = true;
    }
    if (!obs.ControlEnabled()) return ControlOff();
    if (options_.action == "status") return Status();
    core_->Settings.AllowSimulatedTelescope = core_->Settings.AllowSimulatedTelescope || options_.allowSimulatedTelescope;
    if (auto refusal = obs.SimulatedTelescopeRefusal()) {
      return Fail(*refusal + ": the roof was not " + (options_.action == "open" ? "opened" : "closed") +
                  " (--allow-simulated-telescope to move it anyway)");
    }
    InstallSignalHandlers();
    OperationContext connecting = Begin();
    if (!obs.ConnectObservatory(connecting)) return Fail("Observatory I/O error: " + obs.LineError());
    gControllerFd = obs.ControllerLineFd();
    if (!ConnectTelescope()) return;
    if (options_.action == "open") {
      Open();
    } else {
      Close();
    }
    core_->Mount.Disconnect();
  }

 private:
  void ControlOff() {
    if (options_.action == "status") {
      // Without control the station treats the roof as open and the weather as dry.
      if (options_.json) {
        nlohmann::ordered_json out = {
            {"roof", ToInt(RoofState::Open)}, {"rain", ToInt(RainState::Dry)}, {"controlled", false}};
        std::cout << out.dump() << "\n";
      } else {
        std::cout << "roof: open (assumed: observatory control is off)\n"
                     "rain: dry (assumed: observatory control is off)\n";
      }
      return;
    }
    Report(false, "observatory control is off: the roof was not moved", false);
  }

  void Status() {
    ObservatoryOperations& obs = core_->Observatory;
    OperationContext op = core_->BeginOperation();
    const bool connected = obs.ConnectObservatory(op);
    const RoofState roof = connected ? obs.GetRoofState() : RoofState::Undetermined;
    const RainState rain = connected ? obs.GetRainState() : RainState::Unknown;
    const std::string error = obs.LineError();
    if (options_.json) {
      nlohmann::ordered_json out = {{"roof", ToInt(roof)}, {"rain", ToInt(rain)}, {"controlled", true}};
      if (!error.empty()) out["error"] = error;
      std::cout << out.dump() << "\n";
    } else {
      const std::string cause = error.empty() ? "" : " (" + error + ")";
      std::cout << "roof: " << RoofStateWord(roof) << (roof == RoofState::Undetermined ? cause : "") << "\n"
                << "rain: " << RainStateWord(rain) << (rain == RainState::Unknown ? cause : "") << "\n";
    }
    if (!connected) context_.Fail("Observatory I/O error: " + error);
  }

  bool ConnectTelescope() {
    if (core_->Settings.TelescopeObject.empty()) {
      Fail("no telescope is chosen (TelescopeObject): the roof was not moved");
      return false;
    }
    std::string error;
    if (!core_->Mount.Connect(&error)) {
      Fail("telescope could not be connected: " + error + ": the roof was not moved");
      return false;
    }
    return true;
  }

  OperationContext Begin() {
    return core_->Operations.Begin([] { return stop_signal::First() != 0; });
  }

  void Open() {
    ObservatoryOperations& obs = core_->Observatory;
    // The window's status timer is not here: this watch runs the rain emergency should it
    // start raining (or the sensor fail) while the roof opens.
    Timer watch(*runtime_, 1000);
    watch.SetHandler([this] { WatchForRain(); });
    watch.Start();
    OperationContext op = Begin();
    const RoofMoveResult result = obs.OpenRoof(op);
    watch.Stop();
    if (Signalled()) return;
    if (emergency_) return EmergencyEnded();
    if (result.Ok && obs.GetRainState() != RainState::Dry) {
      // It started raining as the roof reached its switch.
      RunEmergency();
      return EmergencyEnded();
    }
    Report(result.Ok, core_->Status(), true);
  }

  void Close() {
    OperationContext op = Begin();
    const RoofMoveResult result = core_->Observatory.CloseRoof(op);
    if (Signalled()) return;
    std::string status = core_->Status();
    if (result.Ok && status.empty()) status = "Roof was closed";
    Report(result.Ok, status, true);
  }

  void WatchForRain() {
    if (emergency_) return;
    ObservatoryOperations& obs = core_->Observatory;
    const RoofState roof = obs.GetRoofState();
    if (roof == RoofState::Closed) return;
    const RainState rain = obs.GetRainState();
    if (rain != RainState::Dry) RunEmergency();
  }

  void RunEmergency() {
    emergency_ = true;
    const RainState rain = core_->Observatory.GetRainState();
    rainText_ = rain == RainState::Wet ? "rain" : "rain sensor fault (" + core_->Observatory.LineError() + ")";
    outcome_ = core_->Observatory.RainEmergency();
  }

  void EmergencyEnded() {
    std::string text = rainText_ + " while the roof was opening: ";
    switch (outcome_) {
      case EmergencyOutcome::RoofClosed:
        text += "telescope parked, roof closed";
        break;
      case EmergencyOutcome::CloseFailed:
        text += "telescope parked, but the roof did not close (" + core_->Status() + ", ALARM 1)";
        break;
      case EmergencyOutcome::NotParked:
        text += "the telescope could not be parked, so the roof was left open (ALARM 2)";
        break;
      case EmergencyOutcome::NotNeeded:
      case EmergencyOutcome::AlreadyRunning:
        text += "the roof is closed";
        break;
    }
    Report(false, text, true);
  }

  bool Signalled() {
    const int number = stop_signal::First();
    if (number == 0) return false;
    Report(false,
           std::string("interrupted by ") + stop_signal::Name(number) + ": the roof controller's output was switched off (" +
               core_->Status() + ")",
           true, 128 + number);
    return true;
  }

  void Fail(const std::string& message) { Report(false, message, false); }

  // The result on stdout (JSON) or the failure as one line on stderr.
  void Report(bool ok, const std::string& status, bool withStates, int failureCode = 1) {
    if (options_.json) {
      nlohmann::ordered_json out = {{"ok", ok}, {"status", status}};
      if (withStates) {
        out["roof"] = ToInt(core_->Observatory.GetRoofState());
        out["rain"] = ToInt(core_->Observatory.GetRainState());
      }
      out["controlled"] = core_->Observatory.ControlEnabled();
      std::cout << out.dump() << "\n";
    } else if (ok) {
      std::cout << status << "\n";
    }
    if (!ok) context_.Fail(status, failureCode);
  }

  CliContext& context_;
  const RoofOptions& options_;
  std::unique_ptr<EventRuntime> runtime_;
  std::unique_ptr<StationCore> core_;
  bool emergency_ = false;
  std::string rainText_;
  EmergencyOutcome outcome_ = EmergencyOutcome::NotNeeded;
};

}  // namespace

void RegisterDeviceCommands(CLI::App& app, CliContext& context) {
  auto devices = std::make_shared<DevicesOptions>();
  CLI::App* list = app.add_subcommand("devices", "List the device drivers that can be chosen, per device type");
  list->add_flag("--json", devices->json, "Print JSON");
  list->callback([&context, devices] { RunDevices(context, *devices); });

  auto roof = std::make_shared<RoofOptions>();
  CLI::App* cmd =
      app.add_subcommand("roof", "Roof and rain state, or open or close the roof (the telescope is parked first)");
  cmd->add_option("action", roof->action, "status, open or close")
      ->required()
      ->check(CLI::IsMember({"status", "open", "close"}));
  cmd->add_option("--port", roof->port, "Device path of the roof controller (instead of the settings' port)")
      ->check(CLI::Validator(
          [](const std::string& value) { return value.empty() ? std::string("--port needs a device path") : ""; },
          "PATH"));
  cmd->add_flag("--json", roof->json, "Print JSON");
  cmd->add_flag("--allow-simulated-telescope", roof->allowSimulatedTelescope,
                "Move a real roof behind the simulated telescope");
  cmd->callback([&context, roof] { RoofCommand(context, *roof).Run(); });
}

}  // namespace noctarbel::cli
