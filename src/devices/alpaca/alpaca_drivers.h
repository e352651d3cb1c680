#pragma once
// The station's driver interfaces over Alpaca devices: each member is one request to the
// device (see alpaca_client.h for the time-outs), under the member and parameter names of
// the device API.

#include <memory>

#include "astro/transforms.h"
#include "devices/alpaca/alpaca_client.h"
#include "devices/device_interfaces.h"

namespace noctarbel {
class Runtime;
}

namespace noctarbel::alpaca {

// The station's clock and site: a mount without alt/az slews is sent the equivalent right
// ascension and declination, worked out for them (without a clock it refuses alt/az slews).
struct StationFrame {
  Runtime* Clock = nullptr;
  SiteLocation Site;
};

// Connecting refuses a mount that has neither slews to coordinates nor to alt/az.
std::unique_ptr<ITelescope> MakeTelescope(const DeviceAddress& address, const Timeouts& timeouts,
                                          StationFrame frame = {});
std::unique_ptr<ICamera> MakeCamera(const DeviceAddress& address, const Timeouts& timeouts);
std::unique_ptr<IFocuser> MakeFocuser(const DeviceAddress& address, const Timeouts& timeouts);
std::unique_ptr<IFilterWheel> MakeFilterWheel(const DeviceAddress& address, const Timeouts& timeouts);

}  // namespace noctarbel::alpaca
