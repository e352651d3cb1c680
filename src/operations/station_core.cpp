#include "operations/station_core.h"

#include "devices/sim/sim_devices.h"
#include "devices/sim/sim_world.h"

namespace noctarbel {

namespace {

constexpr int kWheelAfterCameraMs = 5000;
constexpr int kWarmUpSeconds = 180;
constexpr int kHeartbeatRefreshSeconds = 3;

}  // namespace

StationCore::StationCore(Runtime& clock, StationPaths paths)
    : StationState(clock, std::move(paths)),
      Mount(*this, Observatory),
      Observatory(*this, Mount),
      Focuser(*this),
      FilterWheel(*this),
      Camera(*this, FilterWheel),
      Autofocus(*this, Camera, Focuser),
      Centring(*this, Camera, Mount),
      Guiding(*this, Mount, Centring),
      Timer1(clock, 1000),
      StatusTimer(clock, 3000),
      CameraTimer1(clock, 2000),
      HeartbeatFile(HeartbeatPath(Paths.Home)) {
  Timer1.SetHandler([this] { MountWatchTick(); });
  StatusTimer.SetHandler([this] { ObservatoryWatchTick(); });
  CameraTimer1.SetHandler([this] { CameraWatchTick(); });
  // The built-in camera delivers its frames as if dark-subtracted, in the window as on the
  // command line: the focusing and guiding measurements count absolute counts above the sky.
  if (SimWorld* world = SimulatedWorld(Devices.Registry)) world->Camera.Config.BiasAdu = 0;
}

StationCore::~StationCore() = default;

bool StationCore::ConnectTelescope(std::string* error) {
  if (Mount.HasDriver()) return Mount.Connected();
  if (SimWorld* world = SimulatedWorld(Devices.Registry)) world->Mount.Config.TrackingLimitDeg = Settings.SimMountLimit;
  if (!Mount.Connect(error)) {
    Timer1.Stop();
    return false;
  }
  Timer1.Start();
  return true;
}

void StationCore::DisconnectTelescope() {
  Timer1.Stop();
  Mount.Disconnect();
}

bool StationCore::ConnectCamera(OperationContext& op, std::string* error) {
  Run.CameraErrorFlag = false;
  if (!Camera.Connect(error)) return false;
  WarmUpRequested = false;
  CameraTimer1.Start();
  op.Pump();
  if (Settings.FilterwheelObject.empty()) {
    // Without a wheel there is one filter slot, without a name, and no dark filter.
    Filters.FilterNames = {""};
    Filters.FilterOffsets = {"0"};
    Settings.Darkfilter = 0;
  } else if (op.Wait(kWheelAfterCameraMs)) {
    std::string wheelError;
    if (ConnectFilterWheel(op, &wheelError) < 0 && !wheelError.empty()) LogTimed(": Filter wheel error: " + wheelError);
  }
  return true;
}

void StationCore::DisconnectCamera() {
  CameraTimer1.Stop();
  WarmUpRequested = false;
  if (!Settings.FilterwheelObject.empty()) FilterWheel.Disconnect();
  Camera.Disconnect();
}

bool StationCore::ConnectFocuser(std::string* error) {
  if (Focuser.HasDriver()) return Focuser.Linked();
  return Focuser.Connect(error);
}

void StationCore::DisconnectFocuser() { Focuser.Disconnect(); }

int StationCore::ConnectFilterWheel(OperationContext& op, std::string* error) {
  if (Settings.FilterwheelObject.empty()) return -1;
  return FilterWheel.Connect(op, error);
}

bool StationCore::ConnectObservatory(OperationContext& op, std::string* error) {
  const bool connected = Observatory.ConnectObservatory(op);
  if (connected) {
    StatusTimer.Start();
  } else if (error) {
    *error = Observatory.LineError();
  }
  if (Settings.TempComport1 > 0 && !Observatory.ConnectSensor() && error && error->empty()) {
    *error = "the temperature/humidity sensor on " + Observatory.SensorLinePath() + " does not answer";
  }
  return connected;
}

std::vector<std::string> StationCore::ConnectAll(OperationContext& op) {
  std::vector<std::string> failed;
  std::string error;
  if (!Settings.TelescopeObject.empty() && !Mount.Connected()) {
    // A slot left filled by a driver that dropped its connection is replaced.
    if (Mount.HasDriver()) DisconnectTelescope();
    if (!ConnectTelescope(&error)) failed.push_back("Telescope could not be connected: " + error);
  }
  if (Settings.EnableObservatoryControl) {
    error.clear();
    if (!ConnectObservatory(op, &error)) failed.push_back("Observatory I/O error: " + error);
  }
  if (!Settings.CameraObject.empty() && !Camera.Connected()) {
    error.clear();
    if (!ConnectCamera(op, &error)) failed.push_back("No connection to camera: " + error);
  }
  if (!Settings.FocuserObject.empty() && !Focuser.Linked()) {
    if (Focuser.HasDriver()) DisconnectFocuser();
    error.clear();
    if (!ConnectFocuser(&error)) failed.push_back("Focuser could not be connected: " + error);
  }
  return failed;
}

bool StationCore::ShutDownCamera(OperationContext& op) {
  // The computer is switched off after this: the mount and the focuser are let go first.
  if (Mount.HasDriver()) {
    DisconnectTelescope();
    if (OnDeviceReleased) OnDeviceReleased(DeviceType::Telescope);
  }
  if (Focuser.HasDriver()) {
    DisconnectFocuser();
    if (OnDeviceReleased) OnDeviceReleased(DeviceType::Focuser);
  }
  WarmUpRequested = true;
  SetStatus("Camera cooler is warming up...");
  LogTimed(": Camera cooler is warming up...");
  for (int second = 0; second < kWarmUpSeconds; ++second) {
    if (!op.Wait(1000)) {
      // Stopped (or an emergency): the sensor is not switched off cold.
      LogTimed(": Camera warm-up ended early: " + op.StopText());
      return false;
    }
  }
  try {
    if (Camera.Connected()) Camera.SetCoolerOn(false);
  } catch (const std::exception&) {
  }
  if (Camera.Connected()) {
    DisconnectCamera();
    if (OnDeviceReleased) OnDeviceReleased(DeviceType::Camera);
  }
  return true;
}

void StationCore::MountWatchTick() {
  if (!Mount.HasDriver()) {
    Timer1.Stop();
    return;
  }
  MountTick tick;
  try {
    tick.Status = Mount.ReadStatus();
    if (!tick.Status) Timer1.Stop();
  } catch (const std::exception& e) {
    Timer1.Stop();
    Mount.Disconnect();
    LogTimed(std::string(": Telescope status failed: ") + e.what());
    tick.Error = e.what();
  }
  if (OnMountTick) OnMountTick(tick);
  if (!Clock.IsVirtual()) HeartbeatFile.Refresh(kHeartbeatRefreshSeconds);
}

void StationCore::ObservatoryWatchTick() {
  StatusTimer.Stop();
  ObservatoryTick tick;
  try {
    tick.Roof = Observatory.GetRoofState();
    tick.Rain = Observatory.GetRainState();
    if (Settings.TempComport1 > 0) {
      tick.SensorUsed = true;
      tick.Sensor = Observatory.ReadSensor();
      tick.SensorStale = !tick.Sensor && Observatory.SensorStale();
    }
  } catch (const std::exception& e) {
    LogTimed(std::string(": Observatory status error: ") + e.what());
    tick.Error = e.what();
  }
  if (OnObservatoryTick) OnObservatoryTick(tick);
  PublishHeartbeat(tick);
  if (tick.Error.empty() && Observatory.EmergencyDue(tick.Roof, tick.Rain)) Observatory.RainEmergency();
  if (Run.RoofErrorState != RoofAlarm::None) SetStatus("ALARM " + std::to_string(ToInt(Run.RoofErrorState)));
  StatusTimer.Start();
}

void StationCore::PublishHeartbeat(const ObservatoryTick& tick) {
  if (Clock.IsVirtual()) return;
  Heartbeat beat;
  beat.RunActive = Run.PlanRunning && !Run.TestMode;
  beat.Status = Status();
  beat.Roof = tick.Roof;
  beat.Rain = tick.Rain;
  beat.MountConnected = Mount.HasDriver();
  beat.LogFolder = (ImagePath.empty() ? Paths.Home : ResolveFile(ImagePath)).string();
  HeartbeatFile.Beat(beat);
  if (std::string problem = HeartbeatFile.TakeProblem(); !problem.empty()) LogTimed(": " + problem);
}

void StationCore::CameraWatchTick() {
  CameraTimer1.Stop();
  CameraTick tick;
  try {
    if (Camera.Connected()) {
      const double temperature = Camera.CCDTemperature();
      tick.Temperature = temperature;
      tick.CoolerPower = Camera.CoolerPower();
      if (WarmUpRequested && Camera.CanSetTemperature()) {
        const double target = WarmUpTarget(Camera.ChosenSetPoint.value_or(Settings.CameraCoolerTemp));
        if (temperature < target) {
          Camera.SetSetPoint(target);
          SetStatus("Camera warming up");
        } else {
          Camera.SetCoolerOn(false);
          WarmUpRequested = false;
          tick.WarmUpEnded = true;
          SetStatus("Camera cooler off");
        }
      }
    }
  } catch (const std::exception& e) {
    LogTimed(std::string(": Camera status failed: ") + e.what());
    tick.Error = e.what();
  }
  if (OnCameraTick) OnCameraTick(tick);
  if (Camera.HasDriver()) CameraTimer1.Start();
}

}  // namespace noctarbel
