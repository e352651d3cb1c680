#pragma once
// A station on the virtual clock with the simulated mount, camera, focuser and filter wheel
// connected, the mount tracking high in the south, and a bright star placed where the
// optics point.

#include "windows/camera_window.h"
#include "windows/focuser_window.h"
#include "tests/operations/device_fixture.h"

namespace noctarbel::testing {

class FocusingFixture : public DeviceFixture {
 protected:
  void SetUp() override {
    Settings().CameraObject = "sim:camera";
    ConnectScope();
    PlaceMount(180, 60);
    Scope()->SetTracking(true);
    ASSERT_TRUE(ConnectCamera(*station));
    ASSERT_TRUE(ConnectFocuser(*station));
  }

  CameraModel& Camera() { return World().Camera; }
  FocuserModel& Focuser() { return World().Focuser; }
  SkyModel& Sky() { return World().Sky; }

  // A star of this magnitude where the optics point now, offset by (east, north) arc seconds.
  void PlaceStarAtPointing(double magnitude, double eastArcsec = 0, double northArcsec = 0) {
    const SimPointing p = Mount().ActualPointing();
    const double dec = p.DecDeg + northArcsec / 3600.0;
    const double ra = p.RaHours + eastArcsec / 3600.0 / 15.0 / std::cos(dec * 3.14159265358979323846 / 180.0);
    Sky().PlaceStar(SimStar{ra, dec, magnitude});
  }
};

}  // namespace noctarbel::testing
