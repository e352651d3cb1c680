#pragma once
// The station's device slots (an empty slot means not connected), the simulator switch of
// the observatory, the observatory's serial lines and state, the driver registry and the
// simulated world the built-in simulators share.

#include <memory>
#include <string>

#include "common/datetime.h"
#include "devices/device_interfaces.h"
#include "devices/device_registry.h"
#include "devices/serial_port.h"
#include "devices/sim/sim_world.h"

namespace noctarbel {

struct ObservatoryState {
  // The controller line (roof motor, end switches, rain sensor) and the sensor line
  // (temperature and humidity); both stay open for the rest of the run once opened.
  SerialPort ControllerLine;
  SerialPort SensorLine;
  bool SensorLineOpen = false;
  // Device paths that replace the port-number mapping (command line --port, tests).
  std::string ControllerPathOverride;
  std::string SensorPathOverride;
  // The simulator's roof (starts closed) and rain (always dry unless a test says otherwise).
  int SimRoofState = 0;
  int SimRainState = 0;
  // UT of the last good temperature and humidity reading; 0 before the first.
  DateTime LastGoodSensorTime = 0;
};

struct DeviceSlots {
  DeviceSlots() = default;
  DeviceSlots(const DeviceSlots&) = delete;
  DeviceSlots& operator=(const DeviceSlots&) = delete;

  // Declared first: simulator drivers in the slots refer to it.
  SimWorld World;
  DeviceRegistry Registry = MakeDefaultDeviceRegistry();

  // Shared so that an operation keeps its driver alive while a timer or a button empties the
  // slot during one of its waits: the operation then fails cleanly instead of using a freed
  // driver.
  std::shared_ptr<ITelescope> Telescope;
  std::shared_ptr<ICamera> Camera;
  std::shared_ptr<IFocuser> Focuser;
  std::shared_ptr<IFilterWheel> FilterWheel;

  // Set by the observatory's "Simulator" button for the rest of the run: no controller line,
  // the roof is a variable, and the park-position checks before opening are skipped.
  bool SimulationMode = false;
  ObservatoryState Observatory;
};

}  // namespace noctarbel
