#pragma once
// The station's device slots (an empty slot means not connected) and the driver registry
// that fills them. The slots are shared pointers so that an operation keeps its driver alive
// while a timer or a button empties the slot during one of its waits: the operation then
// fails cleanly instead of using a freed driver.

#include <memory>

#include "devices/device_interfaces.h"
#include "devices/device_registry.h"

namespace noctarbel {

struct DeviceHub {
  DeviceHub() = default;
  DeviceHub(const DeviceHub&) = delete;
  DeviceHub& operator=(const DeviceHub&) = delete;

  DeviceRegistry Registry = MakeDefaultDeviceRegistry();

  std::shared_ptr<ITelescope> Telescope;
  std::shared_ptr<ICamera> Camera;
  std::shared_ptr<IFocuser> Focuser;
  std::shared_ptr<IFilterWheel> FilterWheel;
};

}  // namespace noctarbel
