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

  // Virtual clock paced against the wall: from now on the clock runs at most `speed` times as
  // fast as real time, and real time is spent in `wait(milliseconds)` (a window program runs
  // its event loop there). Speed 0: as fast as it goes, with `wait(0)` still called every few
  // tens of milliseconds. An empty `wait` ends the pacing. May be called again at any time,
  // also from inside `wait`.
  void SetPace(double speed, std::function<void(int milliseconds)> wait);
  // The same for a program without an event loop: the wall's time is slept away. 0: no pace.
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
  // The virtual clock moves on to `ms`, after the pacing's wait for the wall to catch up.
  void AdvanceVirtualTo(double ms);
  void PaceTo(double virtualMs);
  void RunPostedTasks();
  double EarliestDueMs() const;

  bool virtual_;
  DateTime startUtc_;
  double localOffsetDays_;
  double virtualNowMs_ = 0;
  int pumpQuantumMs_ = 1;
  std::int64_t realStartNs_ = 0;

  double paceSpeed_ = 0;
  std::shared_ptr<std::function<void(int)>> paceWait_;
  double paceVirtualOriginMs_ = 0;
  std::int64_t paceRealOriginNs_ = 0;
  std::int64_t paceLastWaitNs_ = 0;

  std::map<TimerId, TimerEntry> timers_;
  TimerId nextId_ = 1;

  std::mutex postMutex_;
  std::condition_variable postSignal_;
  std::deque<std::function<void()>> posted_;
};

}  // namespace noctarbel
