#include "automation/night_setup.h"

#include "windows/station.h"
#include "windows/camera_window.h"
#include "windows/device_windows.h"
#include "windows/observatory_window.h"
#include "devices/sim/sim_devices.h"
#include "devices/sim/sim_world.h"
#include "imaging/calibration_config.h"

namespace noctarbel {

namespace {

void UseSimulators(Station& station, bool cloudy) {
  SettingsRecord& s = station.Settings;
  s.TelescopeObject = kSimTelescopeId;
  // A simulated camera of the station's own choosing (its size, its read-out) is kept.
  if (IdentifierScheme(s.CameraObject) != "sim") s.CameraObject = kSimCameraId;
  s.FocuserObject = kSimFocuserId;
  s.FilterwheelObject = kSimFilterWheelId;
  s.EnableObservatoryControl = true;
  SimWorld& world = *SimulatedWorld(station.Devices.Registry);
  // The simulated camera delivers its frames as if dark-subtracted: the focusing and guiding
  // measurements count absolute counts above the sky.
  world.Camera.Config.BiasAdu = 0;
  if (cloudy) {
    world.Sky.FaintStarsPerCell = 0;
    world.Sky.BrightMagnitudeMin = world.Sky.BrightMagnitudeMax = 40;
    world.Sky.StarAtSlewTargets = false;
  }
}

}  // namespace

std::vector<std::string> PrepareNight(Station& station, const NightOptions& options) {
  std::vector<std::string> notes;
  Controls& main = station.Main;
  if (options.Simulate) {
    UseSimulators(station, options.Cloudy);
    SimulationButtonClick(station);
  } else if (station.Settings.EnableObservatoryControl) {
    IOConnectButtonClick(station);
  }
  ConnectAllBtnClick(station);
  if (main.Enabled("CoolerCheckBox") && !main.Checked("CoolerCheckBox")) {
    main.SetChecked("CoolerCheckBox", true);
    CoolerCheckBoxClick(station);
  }
  // "Corrections" with the station's imgcalib.cfg and every master it names, as the
  // calibration window's OK loads them; without a configuration there are none.
  bool corrections = false;
  if (options.Corrections) {
    StationCalibrationLoad load = LoadStationCalibration(station.Paths.Home, station.Calibration);
    corrections = load.Read;
    notes = std::move(load.Notes);
  }
  main.SetChecked("CalibrationCheckbox", corrections);
  main.SetChecked("DachzuCheckBox", options.CloseRoofAtEnd);
  main.SetChecked("StackingCheckBox", options.Stacking);
  main.SetChecked("starguideCheckBox", options.Guiding);
  const std::filesystem::path images =
      options.ImageFolder.empty() ? station.Paths.Home / "images" : std::filesystem::absolute(options.ImageFolder);
  main.SetText("ImgPathEdit", images.string());
  return notes;
}

SimulatedFaults::SimulatedFaults(Station& station) : station_(station) {
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
