#pragma once
// A started station (handlers installed, windows created) on the virtual clock, with the
// simulators chosen, and helpers to reach the simulated world.

#include <cmath>

#include "windows/astro_window.h"
#include "windows/main_window.h"
#include "windows/install_windows.h"
#include "windows/window_support.h"
#include "operations/mount_operations.h"
#include "devices/sim/sim_devices.h"
#include "devices/sim/sim_world.h"
#include "windows/telescope_window.h"
#include "tests/station_fixture.h"

namespace noctarbel::testing {

class DeviceFixture : public StationFixture {
 protected:
  DeviceFixture() {
    InstallHandlers(*station);
    CreateForms(*station);
    Settings().TelescopeObject = "sim:telescope";
    Settings().FocuserObject = "sim:focuser";
    Settings().FilterwheelObject = "sim:filterwheel";
  }

  SettingsRecord& Settings() { return station->Settings; }
  Controls& Main() { return station->Main; }
  SimWorld& World() { return *SimulatedWorld(station->Devices.Registry); }
  MountModel& Mount() { return World().Mount; }
  std::shared_ptr<ITelescope> Scope() { return station->Devices.Telescope; }

  // Connects the simulated telescope; the world then has the station's clock and site.
  void ConnectScope() { ASSERT_TRUE(ConnectTelescope(*station)); }
  // A manual operation's context (only an emergency interrupts it).
  OperationContext Op() { return station->BeginOperation(); }
  // The roof sequences as a plan run calls them (nothing is asked).
  bool Open() {
    OperationContext op = Op();
    return station->Observatory.OpenRoof(op).Ok;
  }
  bool Close() {
    OperationContext op = Op();
    return station->Observatory.CloseRoof(op).Ok;
  }

  // Points the mount at an altitude and azimuth at once, tracking off.
  void PlaceMount(double azimuth, double altitude) { Mount().PlaceAtAltAz(azimuth, altitude); }

  double SecondsNow() { return clock->NowMs() / 1000.0; }

  // The J2000 position that stands at the altitude and azimuth now.
  EquatorialPosition PositionAt(double azimuth, double altitude) {
    EquatorialPosition eq = StationHorizontalToEquatorial(*station, azimuth, altitude);
    eq.Ra /= 15.0;
    return eq;
  }
};

inline double AzimuthGap(double a, double b) { return std::abs(AzimuthDifference(a, b)); }

}  // namespace noctarbel::testing
