#pragma once
// A station on the virtual clock that serves itself the simulators over Alpaca in its own
// process: its runtime publishes the station's UT for the server's simulators (after every
// wait and pump, and before every timer tick), so whatever the station asks of a device it
// asks at its own time, while every request still crosses real HTTP on loopback.

#include <atomic>
#include <memory>

#include "common/event_runtime.h"

namespace noctarbel::testing {

class PublishingRuntime : public Runtime {
 public:
  PublishingRuntime(DateTime startUtc, double localOffsetHours)
      : inner_(EventRuntime::WithVirtualClock(startUtc, localOffsetHours)),
        utc_(std::make_shared<std::atomic<DateTime>>(startUtc)) {}

  // The time the server's simulators read.
  std::shared_ptr<const std::atomic<DateTime>> Time() const { return utc_; }

  DateTime UtcNow() override { return Publish(); }
  DateTime LocalNow() override { return inner_->LocalNow(); }
  void Pump() override {
    inner_->Pump();
    Publish();
  }
  void Sleep(int milliseconds) override {
    inner_->Sleep(milliseconds);
    Publish();
  }
  bool IsVirtual() const override { return true; }
  TimerId AddTimer(int intervalMs, std::function<void()> onTick) override {
    return inner_->AddTimer(intervalMs, [this, tick = std::move(onTick)] {
      Publish();
      tick();
    });
  }
  void RemoveTimer(TimerId id) override { inner_->RemoveTimer(id); }
  void SetTimerEnabled(TimerId id, bool enabled) override { inner_->SetTimerEnabled(id, enabled); }
  bool TimerEnabled(TimerId id) const override { return inner_->TimerEnabled(id); }
  void SetTimerInterval(TimerId id, int intervalMs) override { inner_->SetTimerInterval(id, intervalMs); }
  int TimerInterval(TimerId id) const override { return inner_->TimerInterval(id); }

 private:
  DateTime Publish() {
    const DateTime now = inner_->UtcNow();
    utc_->store(now);
    return now;
  }

  std::unique_ptr<EventRuntime> inner_;
  std::shared_ptr<std::atomic<DateTime>> utc_;
};

}  // namespace noctarbel::testing
