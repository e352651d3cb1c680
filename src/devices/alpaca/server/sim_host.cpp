#include "devices/alpaca/server/sim_host.h"

namespace noctarbel::alpaca {

SimDevices::SimDevices(Runtime& clock, const SiteLocation& site) {
  DeviceContext context{clock, site, Settings};
  Telescope = Backend.CreateTelescope(kSimTelescopeId, context);
  Camera = Backend.CreateCamera(kSimCameraId, context);
  Focuser = Backend.CreateFocuser(kSimFocuserId, context);
  FilterWheel = Backend.CreateFilterWheel(kSimFilterWheelId, context);
}

SimulatorHost::InFlight::InFlight(SimulatorHost& host) : host_(host) {
  std::lock_guard<std::mutex> lock(host_.mutex_);
  if (host_.stopping_) throw std::runtime_error("the simulators have stopped");
  ++host_.inFlight_;
}

SimulatorHost::InFlight::~InFlight() {
  std::lock_guard<std::mutex> lock(host_.mutex_);
  --host_.inFlight_;
  host_.idle_.notify_all();
}

SimulatorHost::SimulatorHost(const SiteLocation& site) : clock_(EventRuntime::WithRealClock()) {
  devices_ = std::make_unique<SimDevices>(*clock_, site);
  thread_ = std::thread([this] {
    while (!ended_) clock_->Sleep(100);
  });
}

SimulatorHost::~SimulatorHost() { Stop(); }

void SimulatorHost::Stop() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    stopping_ = true;
    idle_.wait(lock, [this] { return inFlight_ == 0; });
  }
  ended_ = true;
  clock_->Post([] {});
  if (thread_.joinable()) thread_.join();
}

}  // namespace noctarbel::alpaca
