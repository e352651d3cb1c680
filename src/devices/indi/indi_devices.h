#pragma once
// The INDI drivers of the four device types, over the standard INDI properties (the README's
// "Using INDI devices" has the member-by-member table). Making one connects to the device's
// server; it throws DeviceError when the server cannot be reached or lacks the device.

#include <memory>

#include "devices/device_registry.h"
#include "devices/indi/indi_address.h"

namespace noctarbel {

// The mount works in coordinates of the date; alt/az slews and readings go through the
// station's transforms for the context's site and clock.
std::unique_ptr<ITelescope> MakeIndiTelescope(const IndiDeviceAddress& address, const DeviceContext& context);
std::unique_ptr<ICamera> MakeIndiCamera(const IndiDeviceAddress& address);
// `stepMoves`: move by steps (REL_FOCUS_POSITION) even when the focuser also has an absolute
// position, as a focuser whose absolute position is not to be trusted is driven.
std::unique_ptr<IFocuser> MakeIndiFocuser(const IndiDeviceAddress& address, bool stepMoves = false);
std::unique_ptr<IFilterWheel> MakeIndiFilterWheel(const IndiDeviceAddress& address);

}  // namespace noctarbel
