#pragma once
// The operations layer: the work that drives the devices, one object per device area, each
// owning its use of the driver slot and the safety rules of its area — the mount (slews,
// parks, pulses), the observatory (roof and sensors, the rain emergency), the focuser and
// filter wheel, the camera (exposures, cooler) — and above them autofocus, centring and
// guiding. Operations use the station layer (station/) and everything below it; they report
// through the station's status and log and never touch a window.
//
// The station core is the station's state with every operation over it: what the command
// line builds, and what the window program wraps in its windows. It also keeps the watches
// that must run whether or not a window shows them: the mount's status (a mount that stops
// answering is let go), the observatory's (the rain emergency) and the camera's (the
// cooler's warm-up). A window listens to their ticks to show what they read.

#include <functional>
#include <optional>
#include <string>

#include "devices/device_registry.h"
#include "operations/autofocus_operations.h"
#include "operations/camera_operations.h"
#include "operations/centring_operations.h"
#include "operations/focuser_wheel_operations.h"
#include "operations/guiding_operations.h"
#include "operations/mount_operations.h"
#include "operations/observatory_operations.h"
#include "station/heartbeat.h"
#include "station/station_state.h"

namespace noctarbel {

// What the observatory's watch read on one tick.
struct ObservatoryTick {
  RoofState Roof = RoofState::Undetermined;
  RainState Rain = RainState::Unknown;
  // The sensor's latest reading; nothing when it has not answered for a minute (or is not
  // connected: then SensorUsed is false).
  bool SensorUsed = false;
  std::optional<SensorReading> Sensor;
  bool SensorStale = false;  // no good reading for a minute
  std::string Error;  // a status read that failed
};

// What the mount's watch read on one tick: its status, or why there is none.
struct MountTick {
  std::optional<MountStatus> Status;  // nothing: the driver says it is not connected
  std::string Error;                  // the read failed: the mount was let go
};

// What the camera's watch read on one tick.
struct CameraTick {
  std::optional<double> Temperature;
  std::optional<double> CoolerPower;
  bool WarmUpEnded = false;  // the warm-up reached its target: the cooler is off
  std::string Error;
};

class StationCore : public StationState {
 public:
  StationCore(Runtime& clock, StationPaths paths);
  ~StationCore() override;

  // The device areas, each owning its driver slot's use and its safety interlocks.
  MountOperations Mount;
  ObservatoryOperations Observatory;
  FocuserOperations Focuser;
  FilterWheelOperations FilterWheel;
  CameraOperations Camera;
  // Above them: focusing, centring and guiding, which take images and move devices.
  AutofocusOperations Autofocus;
  CentringOperations Centring;
  GuidingOperations Guiding;

  // The watches: the mount's status every second, the observatory's every 3 s (the rain
  // emergency starts there), the camera's every 2 s.
  Timer Timer1;
  Timer StatusTimer;
  Timer CameraTimer1;
  std::function<void(const MountTick&)> OnMountTick;
  std::function<void(const ObservatoryTick&)> OnObservatoryTick;
  std::function<void(const CameraTick&)> OnCameraTick;
  // Told when the core let a device go on its own (a mount that stopped answering, the
  // night's shut-down), so that a window shows it disconnected.
  std::function<void(DeviceType)> OnDeviceReleased;

  // Connecting and letting go, with the watch of the device: false with the reason in
  // *error. The camera's connect also connects the filter wheel named in the settings, 5 s
  // later (the wheel's driver often hangs off the camera's), under `op`; without a wheel
  // one nameless filter slot is left.
  bool ConnectTelescope(std::string* error);
  void DisconnectTelescope();
  bool ConnectCamera(OperationContext& op, std::string* error);
  void DisconnectCamera();
  bool ConnectFocuser(std::string* error);
  void DisconnectFocuser();
  // The filter wheel's slot; its position (0-based), -1 when it failed (the reason in
  // *error, empty without a wheel named).
  int ConnectFilterWheel(OperationContext& op, std::string* error);
  // The roof controller's line (and the sensor's, when one is set): false when the
  // controller does not answer. The observatory's watch starts either way.
  bool ConnectObservatory(OperationContext& op, std::string* error);
  // Every device the settings name that is not connected yet, in the order telescope,
  // observatory, camera, focuser. What failed, one line each.
  std::vector<std::string> ConnectAll(OperationContext& op);

  // The cooler warms up to its target (15 degrees above the set-point, at most 20) in steps
  // of the camera's watch, then switches off.
  bool WarmUpRequested = false;
  // The night's end for the camera: the mount and the focuser let go, the sensor warmed up
  // for 180 s, the cooler off, the camera let go. False, with the camera left cooling, when
  // `op` ended the wait (Stop, an emergency).
  bool ShutDownCamera(OperationContext& op);

  // One tick of each watch (the timers call them; tests may too).
  void MountWatchTick();
  void ObservatoryWatchTick();
  void CameraWatchTick();

  // The heartbeat in the station folder for the watchdog: written on each observatory tick,
  // its time refreshed by the mount's watch while a long emergency holds that tick up, marked
  // ended when the core goes. A station on the simulated clock moves nothing real and writes
  // none.
  HeartbeatWriter HeartbeatFile;

 private:
  void PublishHeartbeat(const ObservatoryTick& tick);
};

}  // namespace noctarbel
