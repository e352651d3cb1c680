#pragma once
// The station's driver interfaces over Alpaca devices: each member is one request to the
// device (see alpaca_client.h for the time-outs), under the member and parameter names of
// the device API.

#include <memory>

#include "devices/alpaca/alpaca_client.h"
#include "devices/device_interfaces.h"

namespace noctarbel::alpaca {

std::unique_ptr<ITelescope> MakeTelescope(const DeviceAddress& address, const Timeouts& timeouts);
std::unique_ptr<ICamera> MakeCamera(const DeviceAddress& address, const Timeouts& timeouts);
std::unique_ptr<IFocuser> MakeFocuser(const DeviceAddress& address, const Timeouts& timeouts);
std::unique_ptr<IFilterWheel> MakeFilterWheel(const DeviceAddress& address, const Timeouts& timeouts);

}  // namespace noctarbel::alpaca
