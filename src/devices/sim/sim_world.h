#pragma once
// The world the built-in simulators share: one sky, one mount, one camera, focuser and
// filter wheel, with the station's clock and site. The camera looks where the mount points,
// through the filter in the beam, focused by the focuser, so the simulators behave as one
// observatory. The models outlive connections (a reconnected mount is where it was).

#include "astro/transforms.h"
#include "common/datetime.h"
#include "devices/sim/camera_model.h"
#include "devices/sim/focuser_wheel_models.h"
#include "devices/sim/mount_model.h"
#include "devices/sim/sky_model.h"

namespace noctarbel {

class Runtime;

struct SimWorld {
  SimWorld() = default;
  SimWorld(const SimWorld&) = delete;
  SimWorld& operator=(const SimWorld&) = delete;

  // The station's clock; set when a simulator is made for a station.
  Runtime* Clock = nullptr;
  SiteLocation Site{49.91806, -8.24889};
  double AmbientCelsius = 10.0;

  SkyModel Sky;
  MountModel Mount{*this};
  CameraModel Camera{*this};
  FocuserModel Focuser{*this};
  FilterWheelModel Wheel{*this};

  // UT now on the station's clock; DeviceError without one.
  DateTime Now() const;
  // Waits on the station's clock, in steps of at most 100 ms (its timers keep firing, as
  // they do while a real driver call blocks).
  void Sleep(int milliseconds);
};

}  // namespace noctarbel
