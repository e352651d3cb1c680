#include "automation/night_setup.h"

#include <cmath>

#include "automation/plan_row.h"
#include "operations/station_core.h"
#include "devices/sim/sim_devices.h"
#include "devices/sim/sim_world.h"
#include "imaging/calibration_config.h"
#include "station/paths.h"

namespace noctarbel {

namespace {

void UseSimulators(StationCore& station, bool cloudy) {
  SettingsRecord& s = station.Settings;
  s.TelescopeObject = kSimTelescopeId;
  // A simulated camera of the station's own choosing (its size, its read-out) is kept.
  if (IdentifierScheme(s.CameraObject) != "sim") s.CameraObject = kSimCameraId;
  s.FocuserObject = kSimFocuserId;
  s.FilterwheelObject = kSimFilterWheelId;
  s.EnableObservatoryControl = true;
  SimWorld& world = *SimulatedWorld(station.Devices.Registry);
  if (cloudy) {
    world.Sky.FaintStarsPerCell = 0;
    world.Sky.BrightMagnitudeMin = world.Sky.BrightMagnitudeMax = 40;
    world.Sky.StarAtSlewTargets = false;
  }
}

}  // namespace

std::filesystem::path NightImageFolderFor(StationCore& station, const std::filesystem::path& given) {
  if (!given.empty()) return std::filesystem::absolute(given);
  const std::string& root = station.Settings.RootImagePath;
  if (root.empty()) return station.Paths.Home / "images";
  return NightImageFolder(station.ResolveFile(root), station.Clock.LocalNow());
}

std::filesystem::path EveningImageFolderFor(StationCore& station, const std::filesystem::path& given) {
  const std::string& root = station.Settings.RootImagePath;
  if (!given.empty() || root.empty()) return {};
  const DateTime now = station.Clock.LocalNow();
  if (now - std::floor(now) >= 0.5) return {};  // in the evening the night's folder is today's
  return NightImageFolder(station.ResolveFile(root), now - 1);
}

PreparedNight PrepareNight(StationCore& station, const NightOptions& options) {
  PreparedNight night;
  OperationContext op = station.BeginOperation();
  if (options.Simulate) {
    UseSimulators(station, options.Cloudy);
    station.Observatory.SimulationMode = true;
  }
  if (options.Simulate || station.Settings.EnableObservatoryControl) {
    std::string error;
    if (!station.ConnectObservatory(op, &error)) night.Notes.push_back("Observatory I/O error: " + error);
  }
  for (std::string& failed : station.ConnectAll(op)) night.Notes.push_back(std::move(failed));
  try {
    CameraOperations& camera = station.Camera;
    if (camera.Connected() && camera.CanSetTemperature() && !camera.CoolerOn()) {
      std::string error;
      if (!camera.SwitchCoolerOn(station.Settings.CameraCoolerTemp, &error)) night.Notes.push_back("Camera error: " + error);
    }
  } catch (const std::exception& e) {
    night.Notes.push_back(std::string("Camera error: ") + e.what());
  }
  RunOptions& run = night.Options;
  // "Corrections" with the station's imgcalib.cfg and every master it names, as the
  // calibration window's OK loads them; without a configuration there are none.
  run.Corrections = false;
  if (options.Corrections) {
    StationCalibrationLoad load = LoadStationCalibration(station.Paths.Home, station.Calibration);
    run.Corrections = load.Read;
    for (std::string& note : load.Notes) night.Notes.push_back(std::move(note));
  }
  run.CloseRoofAtEnd = options.CloseRoofAtEnd;
  run.Stacking = options.Stacking;
  run.Guiding = options.Guiding;
  run.SyncRangeArcsec = station.Settings.SyncRange;
  run.CoolerSetPoint = station.Settings.CameraCoolerTemp;
  run.ImageFolder = NightImageFolderFor(station, options.ImageFolder).string();
  return night;
}

DateTime DefaultSimulationStart(const std::vector<std::vector<std::string>>& rows, DateTime nowUtc) {
  for (const auto& cells : rows) {
    RowCells row = {""};
    row.insert(row.end(), cells.begin(), cells.end());
    if (auto start = ParseStartTime(row)) {
      DateTime day = std::floor(nowUtc);
      if (start->Hour < 12) day += 1;
      return day + (start->Hour * 3600.0 + start->Minute * 60.0 + start->Second - 600) / kSecondsPerDay;
    }
  }
  return std::floor(nowUtc) + 20.0 / 24.0;
}

SimulatedFaults::SimulatedFaults(StationCore& station) : station_(station) {
  timer_ = std::make_unique<Timer>(station.Clock, 1000);
  timer_->SetHandler([this] { Check(); });
}

SimulatedFaults::~SimulatedFaults() = default;

void SimulatedFaults::SetCheckInterval(int milliseconds) { timer_->SetInterval(milliseconds); }

void SimulatedFaults::Add(std::function<bool()> when, std::string what, std::function<void()> act) {
  faults_.push_back(Fault{std::move(when), std::move(what), std::move(act)});
  timer_->Start();
}

void SimulatedFaults::RainAt(DateTime utc) {
  RainWhen([this, utc] { return station_.Clock.UtcNow() >= utc; });
}

void SimulatedFaults::CameraTimeoutAt(DateTime utc) {
  CameraTimeoutWhen([this, utc] { return station_.Clock.UtcNow() >= utc; });
}

void SimulatedFaults::RainWhen(std::function<bool()> when) {
  Add(std::move(when), "rain", [this] { station_.Observatory.SimRain = RainState::Wet; });
}

void SimulatedFaults::CameraTimeoutWhen(std::function<bool()> when) {
  Add(std::move(when), "camera timeout",
      [this] { SimulatedWorld(station_.Devices.Registry)->Camera.Config.NeverReady = true; });
}

void SimulatedFaults::Check() {
  for (Fault& fault : faults_) {
    if (fault.Fired || !fault.When()) continue;
    fault.Fired = true;
    fault.Act();
    if (OnFault) OnFault(fault.What);
  }
}

}  // namespace noctarbel
