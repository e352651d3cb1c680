#include "common/event_runtime.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>
#include <thread>

namespace noctarbel {

namespace {

std::int64_t SteadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

double SystemUnixSeconds() {
  auto now = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration<double>(now).count();
}

constexpr double kNever = std::numeric_limits<double>::infinity();
// A paced clock that fell further behind the wall than this (a slow step) starts its pace
// afresh instead of hurrying to catch up.
constexpr double kMostPaceLagMs = 1000;

}  // namespace

EventRuntime::EventRuntime(bool isVirtual, DateTime startUtc, double localOffsetHours)
    : virtual_(isVirtual), startUtc_(startUtc), localOffsetDays_(localOffsetHours / 24.0), realStartNs_(SteadyNs()) {}

std::unique_ptr<EventRuntime> EventRuntime::WithRealClock() {
  return std::unique_ptr<EventRuntime>(new EventRuntime(false, 0, 0));
}

std::unique_ptr<EventRuntime> EventRuntime::WithVirtualClock(DateTime startUtc, double localOffsetHours) {
  return std::unique_ptr<EventRuntime>(new EventRuntime(true, startUtc, localOffsetHours));
}

double EventRuntime::NowMs() {
  if (virtual_) return virtualNowMs_;
  return static_cast<double>(SteadyNs() - realStartNs_) / 1e6;
}

DateTime EventRuntime::UtcNow() {
  if (virtual_) return startUtc_ + virtualNowMs_ / kMillisecondsPerDay;
  return FromUnixSeconds(SystemUnixSeconds());
}

DateTime EventRuntime::LocalNow() {
  if (virtual_) return UtcNow() + localOffsetDays_;
  double unixSeconds = SystemUnixSeconds();
  auto whole = static_cast<std::time_t>(unixSeconds);
  std::tm local{};
  localtime_r(&whole, &local);
  return FromUnixSeconds(unixSeconds + static_cast<double>(local.tm_gmtoff));
}

Runtime::TimerId EventRuntime::AddTimer(int intervalMs, std::function<void()> onTick) {
  TimerEntry entry;
  entry.intervalMs = intervalMs > 0 ? intervalMs : 1;
  entry.onTick = std::make_shared<std::function<void()>>(std::move(onTick));
  TimerId id = nextId_++;
  timers_.emplace(id, std::move(entry));
  return id;
}

void EventRuntime::RemoveTimer(TimerId id) { timers_.erase(id); }

void EventRuntime::SetTimerEnabled(TimerId id, bool enabled) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  TimerEntry& t = it->second;
  if (enabled && !t.enabled) {
    t.dueMs = NowMs() + t.intervalMs;
  }
  t.enabled = enabled;
}

bool EventRuntime::TimerEnabled(TimerId id) const {
  auto it = timers_.find(id);
  return it != timers_.end() && it->second.enabled;
}

void EventRuntime::SetTimerInterval(TimerId id, int intervalMs) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  TimerEntry& t = it->second;
  t.intervalMs = intervalMs > 0 ? intervalMs : 1;
  if (t.enabled) t.dueMs = NowMs() + t.intervalMs;
}

int EventRuntime::TimerInterval(TimerId id) const {
  auto it = timers_.find(id);
  return it == timers_.end() ? 0 : it->second.intervalMs;
}

double EventRuntime::EarliestDueMs() const {
  double earliest = kNever;
  for (const auto& [id, t] : timers_) {
    if (t.enabled && !t.running && t.dueMs < earliest) earliest = t.dueMs;
  }
  return earliest;
}

bool EventRuntime::FireEarliestDueTimer(double limitMs) {
  // Earliest due first; equal due times fire in creation order.
  TimerId chosen = 0;
  double chosenDue = kNever;
  for (const auto& [id, t] : timers_) {
    if (t.enabled && !t.running && t.dueMs <= limitMs && t.dueMs < chosenDue) {
      chosen = id;
      chosenDue = t.dueMs;
    }
  }
  if (chosen == 0) return false;
  if (virtual_ && timers_[chosen].dueMs > virtualNowMs_) AdvanceVirtualTo(timers_[chosen].dueMs);
  // The pacing's wait may have removed or changed the timer.
  auto found = timers_.find(chosen);
  if (found == timers_.end() || !found->second.enabled || found->second.running) return true;
  TimerEntry& t = found->second;
  // Next tick one interval after this one; a tick that overran its interval is followed by
  // at most one catch-up tick, never by a burst.
  double now = NowMs();
  t.dueMs = t.dueMs + t.intervalMs;
  if (t.dueMs < now) t.dueMs = now;
  t.running = true;
  auto onTick = t.onTick;  // keeps the handler alive should the timer be removed inside it
  (*onTick)();
  auto it = timers_.find(chosen);
  if (it != timers_.end()) it->second.running = false;
  return true;
}

void EventRuntime::FireDueTimers(double limitMs) {
  while (FireEarliestDueTimer(limitMs)) {
    RunPostedTasks();
  }
}

void EventRuntime::RunPostedTasks() {
  std::deque<std::function<void()>> tasks;
  {
    std::lock_guard<std::mutex> lock(postMutex_);
    tasks.swap(posted_);
  }
  for (auto& task : tasks) task();
}

void EventRuntime::Post(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> lock(postMutex_);
    posted_.push_back(std::move(task));
  }
  postSignal_.notify_one();
}

void EventRuntime::SetPace(double speed, std::function<void(int milliseconds)> wait) {
  paceSpeed_ = speed > 0 ? speed : 0;
  paceWait_ = wait ? std::make_shared<std::function<void(int)>>(std::move(wait)) : nullptr;
  paceVirtualOriginMs_ = virtualNowMs_;
  paceRealOriginNs_ = paceLastWaitNs_ = SteadyNs();
}

void EventRuntime::SetPace(double simulatedSecondsPerSecond) {
  if (simulatedSecondsPerSecond <= 0) {
    SetPace(0, nullptr);
    return;
  }
  SetPace(simulatedSecondsPerSecond, [](int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  });
}

void EventRuntime::PaceTo(double virtualMs) {
  constexpr double kWaitEveryMs = 30;  // the longest the wall goes without a wait
  constexpr double kLongestWaitMs = 50;
  for (;;) {
    auto wait = paceWait_;  // the wait may end or change the pacing
    if (!wait) return;
    const std::int64_t now = SteadyNs();
    double waitMs = 0;
    if (paceSpeed_ > 0) {
      const double dueMs = (virtualMs - paceVirtualOriginMs_) / paceSpeed_;
      const double aheadMs = dueMs - static_cast<double>(now - paceRealOriginNs_) / 1e6;
      if (aheadMs < -kMostPaceLagMs) {
        paceVirtualOriginMs_ = virtualMs;
        paceRealOriginNs_ = now;
      }
      waitMs = std::min(aheadMs, kLongestWaitMs);
    }
    if (waitMs <= 0 && static_cast<double>(now - paceLastWaitNs_) / 1e6 < kWaitEveryMs) return;
    paceLastWaitNs_ = now;
    (*wait)(waitMs > 0 ? static_cast<int>(std::ceil(waitMs)) : 0);
    if (waitMs <= 0) return;
  }
}

void EventRuntime::AdvanceVirtualTo(double ms) {
  PaceTo(ms);
  if (ms > virtualNowMs_) virtualNowMs_ = ms;
}

void EventRuntime::Pump() {
  if (virtual_) AdvanceVirtualTo(virtualNowMs_ + pumpQuantumMs_);
  RunPostedTasks();
  FireDueTimers(NowMs());
}

void EventRuntime::Sleep(int milliseconds) {
  const double target = NowMs() + (milliseconds > 0 ? milliseconds : 0);
  RunPostedTasks();
  if (virtual_) {
    FireDueTimers(target);
    if (virtualNowMs_ < target) AdvanceVirtualTo(target);
    return;
  }
  for (;;) {
    FireDueTimers(NowMs());
    double now = NowMs();
    if (now >= target) return;
    double wakeAt = std::min(target, EarliestDueMs());
    double waitMs = wakeAt - now;
    if (waitMs > 0) {
      std::unique_lock<std::mutex> lock(postMutex_);
      postSignal_.wait_for(lock, std::chrono::microseconds(static_cast<std::int64_t>(waitMs * 1000.0)),
                           [this] { return !posted_.empty(); });
    }
    RunPostedTasks();
  }
}

}  // namespace noctarbel
