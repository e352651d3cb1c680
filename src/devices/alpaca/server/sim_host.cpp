#include "devices/alpaca/server/sim_host.h"

namespace noctarbel::alpaca {

namespace {

// UT as published from outside; waiting and timers stay on the host's own runtime. The
// simulators only read the time (the server waits for a synchronous slew on its handler
// thread), so a clock that stands still while nobody moves it holds nothing up.
class FollowedClock : public Runtime {
 public:
  FollowedClock(EventRuntime& host, std::shared_ptr<const std::atomic<DateTime>> utc)
      : host_(host), utc_(std::move(utc)) {}

  DateTime UtcNow() override { return utc_->load(); }
  DateTime LocalNow() override { return utc_->load(); }
  void Pump() override { host_.Pump(); }
  void Sleep(int milliseconds) override { host_.Sleep(milliseconds); }
  bool IsVirtual() const override { return true; }
  TimerId AddTimer(int intervalMs, std::function<void()> onTick) override {
    return host_.AddTimer(intervalMs, std::move(onTick));
  }
  void RemoveTimer(TimerId id) override { host_.RemoveTimer(id); }
  void SetTimerEnabled(TimerId id, bool enabled) override { host_.SetTimerEnabled(id, enabled); }
  bool TimerEnabled(TimerId id) const override { return host_.TimerEnabled(id); }
  void SetTimerInterval(TimerId id, int intervalMs) override { host_.SetTimerInterval(id, intervalMs); }
  int TimerInterval(TimerId id) const override { return host_.TimerInterval(id); }

 private:
  EventRuntime& host_;
  std::shared_ptr<const std::atomic<DateTime>> utc_;
};

}  // namespace

SimDevices::SimDevices(Runtime& clock, const SiteLocation& site) {
  DeviceContext context{clock, site, {}};
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

SimulatorHost::SimulatorHost(const SiteLocation& site, std::shared_ptr<const std::atomic<DateTime>> time)
    : clock_(EventRuntime::WithRealClock()) {
  if (time) followed_ = std::make_unique<FollowedClock>(*clock_, std::move(time));
  devices_ = std::make_unique<SimDevices>(followed_ ? *followed_ : *clock_, site);
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
