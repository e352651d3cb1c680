#pragma once
// The operations layer: the work that drives the devices, one object per device area, each
// owning its use of the driver slot and the safety rules of its area — the mount (slews,
// parks, pulses), the observatory (roof and sensors, the rain emergency), the focuser and
// filter wheel, the camera (exposures, cooler) — and above them autofocus, centring and
// guiding. Operations use the station layer (station/) and everything below it; they report
// through the station's status and log and never touch a window.
//
// The station core is the station's state with every operation over it: what the command
// line builds, and what the window program wraps in its windows.

#include "operations/autofocus_operations.h"
#include "operations/camera_operations.h"
#include "operations/centring_operations.h"
#include "operations/focuser_wheel_operations.h"
#include "operations/guiding_operations.h"
#include "operations/mount_operations.h"
#include "operations/observatory_operations.h"
#include "station/station_state.h"

namespace noctarbel {

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
};

}  // namespace noctarbel
