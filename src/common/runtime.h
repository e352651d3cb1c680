#pragma once
// Time, waiting and timers. Everything runs on one thread: long operations are loops of
// short Sleep() calls, and due timers fire inside Sleep() and Pump().

#include <functional>
#include <memory>

#include "common/datetime.h"

namespace noctarbel {

class Runtime {
 public:
  using TimerId = int;

  virtual ~Runtime() = default;

  virtual DateTime UtcNow() = 0;
  virtual DateTime LocalNow() = 0;
  // Handles pending events and fires due timers, without waiting.
  virtual void Pump() = 0;
  // Waits while pumping; due timers fire in time order.
  virtual void Sleep(int milliseconds) = 0;
  // True for the simulated clock of tests and simulated nights.
  virtual bool IsVirtual() const { return false; }

  // Timers are created disabled. A timer never fires again while its own tick runs.
  virtual TimerId AddTimer(int intervalMs, std::function<void()> onTick) = 0;
  virtual void RemoveTimer(TimerId id) = 0;
  // Enabling (also re-enabling) starts a fresh interval from now.
  virtual void SetTimerEnabled(TimerId id, bool enabled) = 0;
  virtual bool TimerEnabled(TimerId id) const = 0;
  // Changing the interval of an enabled timer restarts its interval.
  virtual void SetTimerInterval(TimerId id, int intervalMs) = 0;
  virtual int TimerInterval(TimerId id) const = 0;
};

// A named timer of a window, bound to a runtime for its whole life.
class Timer {
 public:
  Timer(Runtime& runtime, int intervalMs);
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  // The handler may be set or replaced at any time; an empty handler does nothing.
  void SetHandler(std::function<void()> onTick) { handler_ = std::move(onTick); }
  void Start() { SetEnabled(true); }
  void Stop() { SetEnabled(false); }
  void SetEnabled(bool enabled);
  bool Enabled() const;
  void SetInterval(int intervalMs);
  int Interval() const;

 private:
  Runtime& runtime_;
  Runtime::TimerId id_;
  std::function<void()> handler_;
};

}  // namespace noctarbel
