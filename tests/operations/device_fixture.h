#pragma once
// A started station (handlers installed, windows created) on the virtual clock, with the
// simulators chosen, and helpers to reach the simulated world.

#include <cmath>
#include <functional>
#include <memory>
#include <string>

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

  // Runs `action` once, `seconds` from now on the virtual clock.
  void At(double seconds, std::function<void()> action) {
    auto id = std::make_shared<Runtime::TimerId>(0);
    *id = clock->AddTimer(static_cast<int>(seconds * 1000), [this, id, action] {
      clock->SetTimerEnabled(*id, false);
      action();
    });
    clock->SetTimerEnabled(*id, true);
  }

  bool LogHas(const std::string& text) {
    for (const auto& line : station->Log.Lines()) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }

  // The J2000 position that stands at the altitude and azimuth now.
  EquatorialPosition PositionAt(double azimuth, double altitude) {
    EquatorialPosition eq = StationHorizontalToEquatorial(*station, azimuth, altitude);
    eq.Ra /= 15.0;
    return eq;
  }
};

inline double AzimuthGap(double a, double b) { return std::abs(AzimuthDifference(a, b)); }

}  // namespace noctarbel::testing
