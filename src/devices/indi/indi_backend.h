#pragma once
// The "indi" device backend: drivers for the devices of INDI servers
// ("indi://HOST:PORT/DEVICE NAME"); the chooser lists the devices of the servers in the
// IndiServers setting, by the types their drivers declare (DRIVER_INTERFACE).

#include <memory>

#include "devices/device_registry.h"

namespace noctarbel {

std::unique_ptr<DeviceBackend> MakeIndiBackend();

}  // namespace noctarbel
