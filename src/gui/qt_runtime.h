#pragma once
// The desktop program's runtime: the system clock, QTimer and the Qt event loop. Sleep()
// runs a nested event loop, so windows stay alive and timers fire while a handler waits.

#include <map>
#include <memory>

#include "common/runtime.h"

class QTimer;

namespace noctarbel::gui {

class QtRuntime : public Runtime {
 public:
  QtRuntime();
  ~QtRuntime() override;
  QtRuntime(const QtRuntime&) = delete;
  QtRuntime& operator=(const QtRuntime&) = delete;

  DateTime UtcNow() override;
  DateTime LocalNow() override;
  void Pump() override;
  void Sleep(int milliseconds) override;

  TimerId AddTimer(int intervalMs, std::function<void()> onTick) override;
  void RemoveTimer(TimerId id) override;
  void SetTimerEnabled(TimerId id, bool enabled) override;
  bool TimerEnabled(TimerId id) const override;
  void SetTimerInterval(TimerId id, int intervalMs) override;
  int TimerInterval(TimerId id) const override;

 private:
  struct Entry {
    QTimer* timer = nullptr;
    // Shared so that a handler that removes its own timer keeps running to its end.
    std::shared_ptr<std::function<void()>> onTick;
    std::shared_ptr<bool> running;
  };

  void Fire(TimerId id);
  Entry* Find(TimerId id);
  const Entry* Find(TimerId id) const;

  std::map<TimerId, Entry> timers_;
  TimerId nextId_ = 1;
};

}  // namespace noctarbel::gui
