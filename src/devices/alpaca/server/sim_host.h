#pragma once
// The built-in simulators as the server runs them: one thread owns them and the real-time
// runtime they take their time from (or a UT published from outside); HTTP handler threads
// hand it work with Run() and wait for the result, so the simulators (which are not
// thread-safe) see one caller at a time while slews and exposures run in real time.

#include <atomic>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include "common/event_runtime.h"
#include "astro/transforms.h"
#include "devices/device_interfaces.h"
#include "devices/sim/sim_devices.h"
#include "devices/sim/sim_world.h"

namespace noctarbel::alpaca {

// The simulators' drivers and what Alpaca asks of them that the simulators do not keep.
struct SimDevices {
  SimDevices(Runtime& clock, const SiteLocation& site);

  SimulatorBackend Backend;
  std::unique_ptr<ITelescope> Telescope;
  std::unique_ptr<ICamera> Camera;
  std::unique_ptr<IFocuser> Focuser;
  std::unique_ptr<IFilterWheel> FilterWheel;

  SimWorld& World() { return Backend.World(); }
  DateTime Now() { return World().Now(); }

  struct MountState {
    bool Parked = false;
    bool HomeSearched = false;
    std::optional<double> TargetRa;
    std::optional<double> TargetDec;
    double SiteElevation = 0;
  } Mount;

  struct ExposureState {
    std::optional<DateTime> Start;  // of the latest exposure
    double Seconds = 0;             // asked for, or shortened by a stop
    bool Stopped = false;
    // The frame once read, kept until the next exposure: every further read (a retry, the
    // other encoding) sends it without another copy.
    std::shared_ptr<const ImageArrayData> Frame;
  } Exposure;
};

class SimulatorHost {
 public:
  // Without `time` the simulators run on the computer's clock; with it their UT is what it
  // holds, whoever moves it on.
  explicit SimulatorHost(const SiteLocation& site, std::shared_ptr<const std::atomic<DateTime>> time = nullptr);
  ~SimulatorHost();
  SimulatorHost(const SimulatorHost&) = delete;
  SimulatorHost& operator=(const SimulatorHost&) = delete;

  // Runs f(devices) on the simulators' thread and returns its result (or rethrows what it
  // threw). Throws std::runtime_error once the host has stopped.
  template <typename F>
  auto Run(F&& f) -> decltype(f(std::declval<SimDevices&>())) {
    using Result = decltype(f(std::declval<SimDevices&>()));
    InFlight guard(*this);
    std::packaged_task<Result()> task([&] { return f(*devices_); });
    std::future<Result> result = task.get_future();
    clock_->Post([&task] { task(); });
    return result.get();
  }

  // Waits for the work handed over so far, then ends the thread; Run() refuses from then on.
  void Stop();

 private:
  // Counts a Run() from its start to its end, so that Stop() never ends the thread under it.
  class InFlight {
   public:
    explicit InFlight(SimulatorHost& host);
    ~InFlight();

   private:
    SimulatorHost& host_;
  };

  std::unique_ptr<EventRuntime> clock_;
  std::unique_ptr<Runtime> followed_;  // the simulators' clock when UT comes from outside
  std::unique_ptr<SimDevices> devices_;
  std::mutex mutex_;
  std::condition_variable idle_;
  int inFlight_ = 0;
  bool stopping_ = false;
  std::atomic<bool> ended_{false};
  std::thread thread_;
};

}  // namespace noctarbel::alpaca
