#include "devices/sim/sim_world.h"

#include <algorithm>

#include "common/runtime.h"
#include "devices/device_interfaces.h"

namespace noctarbel {

DateTime SimWorld::Now() const {
  if (!Clock) throw DeviceError("Simulator has no clock");
  return Clock->UtcNow();
}

void SimWorld::Sleep(int milliseconds) {
  if (!Clock) throw DeviceError("Simulator has no clock");
  while (milliseconds > 0) {
    const int step = std::min(milliseconds, 100);
    Clock->Sleep(step);
    milliseconds -= step;
  }
}

}  // namespace noctarbel
