#pragma once
// The built-in simulator drivers ("sim:telescope", "sim:camera", "sim:focuser",
// "sim:filterwheel"): thin driver fronts over the shared simulated world, with the driver
// rules (nothing but the connection works while disconnected; the fault switches throw).

#include <memory>

#include "devices/device_registry.h"

namespace noctarbel {

inline constexpr const char* kSimTelescopeId = "sim:telescope";
inline constexpr const char* kSimCameraId = "sim:camera";
inline constexpr const char* kSimFocuserId = "sim:focuser";
inline constexpr const char* kSimFilterWheelId = "sim:filterwheel";

std::unique_ptr<DeviceBackend> MakeSimulatorBackend();

}  // namespace noctarbel
