#pragma once
// The built-in simulator drivers ("sim:telescope", "sim:camera", "sim:focuser",
// "sim:filterwheel"): thin driver fronts over the simulated world, with the driver rules
// (nothing but the connection works while disconnected; the fault switches throw). The
// backend owns the world; the drivers of one backend share it, so they behave as one
// observatory.

#include <memory>

#include "devices/device_registry.h"

namespace noctarbel {

struct SimWorld;
struct CameraConfig;

inline constexpr const char* kSimTelescopeId = "sim:telescope";
// The camera may carry its sensor in the identifier: "sim:camera?width=6248&height=4176"
// (also pixel=MICROMETRES, readout=SECONDS for the whole frame).
inline constexpr const char* kSimCameraId = "sim:camera";
inline constexpr const char* kSimFocuserId = "sim:focuser";
inline constexpr const char* kSimFilterWheelId = "sim:filterwheel";

class SimulatorBackend : public DeviceBackend {
 public:
  SimulatorBackend();
  ~SimulatorBackend() override;

  std::string Scheme() const override { return "sim"; }
  std::vector<DeviceChoice> Choices(DeviceType type, const DeviceContext& context) const override;
  std::unique_ptr<ITelescope> CreateTelescope(const std::string& id, DeviceContext& context) override;
  std::unique_ptr<ICamera> CreateCamera(const std::string& id, DeviceContext& context) override;
  std::unique_ptr<IFocuser> CreateFocuser(const std::string& id, DeviceContext& context) override;
  std::unique_ptr<IFilterWheel> CreateFilterWheel(const std::string& id, DeviceContext& context) override;

  // The simulated sky, mount, camera, focuser and wheel (tests and the night simulation set
  // their faults and truths here).
  SimWorld& World() { return *world_; }

 private:
  static void Check(const std::string& id, const char* expected);
  static void ConfigureCamera(const std::string& query, CameraConfig& config);
  // The world follows the clock and site of the station that made the latest driver.
  void Bind(DeviceContext& context);

  std::unique_ptr<SimWorld> world_;
};

std::unique_ptr<DeviceBackend> MakeSimulatorBackend();

// The world of the registry's simulator backend; nullptr when it has none.
SimWorld* SimulatedWorld(const DeviceRegistry& registry);

}  // namespace noctarbel
