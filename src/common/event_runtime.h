#pragma once
// The core's own runtime: a timer queue on either the real clock (command-line real runs) or
// a virtual clock that jumps to the next due timer while sleeping (tests and simulated
// nights), so a whole night runs in seconds, deterministically, timers included.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>

#include "common/runtime.h"

namespace noctarbel {

class EventRuntime : public Runtime {
 public:
  // Real clock: UTC and local time from the system.
  static std::unique_ptr<EventRuntime> WithRealClock();
  // Virtual clock starting at startUtc; local time is UTC plus localOffsetHours.
  static std::unique_ptr<EventRuntime> WithVirtualClock(DateTime startUtc, double localOffsetHours = 0);

  DateTime UtcNow() override;
  DateTime LocalNow() override;
  void Pump() override;
  void Sleep(int milliseconds) override;
  bool IsVirtual() const override { return virtual_; }

  TimerId AddTimer(int intervalMs, std::function<void()> onTick) override;
  void RemoveTimer(TimerId id) override;
  void SetTimerEnabled(TimerId id, bool enabled) override;
  bool TimerEnabled(TimerId id) const override;
  void SetTimerInterval(TimerId id, int intervalMs) override;
  int TimerInterval(TimerId id) const override;

  // Hands work to the runtime's thread; safe to call from any thread. Runs at the next Pump
  // or Sleep.
  void Post(std::function<void()> task);

  // Virtual clock: every Pump() moves the clock on by this much (default 1 ms), so loops that
  // poll a device while pumping make progress as they would in real time.
  void SetPumpQuantum(int milliseconds) { pumpQuantumMs_ = milliseconds; }
  // Milliseconds on the runtime's monotonic clock (virtual: since the start).
  double NowMs();
  // Virtual clock: at most this many simulated seconds pass per second of the computer's
  // clock, so that a simulated night can be watched; 0 (the default): as fast as it goes.
  void SetPace(double simulatedSecondsPerSecond);

 private:
  EventRuntime(bool isVirtual, DateTime startUtc, double localOffsetHours);

  struct TimerEntry {
    int intervalMs = 1000;
    bool enabled = false;
    bool running = false;
    double dueMs = 0;
    std::shared_ptr<std::function<void()>> onTick;
  };

  // Fires, in time order, every timer that is due at or before limitMs. On the virtual clock
  // the clock moves to each timer's due time as it fires.
  void FireDueTimers(double limitMs);
  bool FireEarliestDueTimer(double limitMs);
  void RunPostedTasks();
  double EarliestDueMs() const;
  // The virtual clock moves to `ms`; with a pace, after the computer's clock has caught up.
  void AdvanceVirtualTo(double ms);

  bool virtual_;
  DateTime startUtc_;
  double localOffsetDays_;
  double virtualNowMs_ = 0;
  int pumpQuantumMs_ = 1;
  std::int64_t realStartNs_ = 0;
  double pace_ = 0;
  double paceVirtualMs_ = 0;  // where the pace was last anchored, on both clocks
  std::int64_t paceRealNs_ = 0;

  std::map<TimerId, TimerEntry> timers_;
  TimerId nextId_ = 1;

  std::mutex postMutex_;
  std::condition_variable postSignal_;
  std::deque<std::function<void()>> posted_;
};

}  // namespace noctarbel
