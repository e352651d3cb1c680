#include "common/runtime.h"

namespace noctarbel {

Timer::Timer(Runtime& runtime, int intervalMs) : runtime_(runtime) {
  id_ = runtime_.AddTimer(intervalMs, [this] {
    if (handler_) handler_();
  });
}

Timer::~Timer() { runtime_.RemoveTimer(id_); }

void Timer::SetEnabled(bool enabled) { runtime_.SetTimerEnabled(id_, enabled); }

bool Timer::Enabled() const { return runtime_.TimerEnabled(id_); }

void Timer::SetInterval(int intervalMs) { runtime_.SetTimerInterval(id_, intervalMs); }

int Timer::Interval() const { return runtime_.TimerInterval(id_); }

}  // namespace noctarbel
