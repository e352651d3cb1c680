#include "gui/qt_runtime.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>

#include "common/datetime.h"

namespace noctarbel::gui {

QtRuntime::QtRuntime() = default;

QtRuntime::~QtRuntime() {
  for (auto& [id, entry] : timers_) delete entry.timer;
}

DateTime QtRuntime::UtcNow() { return FromUnixSeconds(QDateTime::currentMSecsSinceEpoch() / 1000.0); }

DateTime QtRuntime::LocalNow() {
  QDateTime now = QDateTime::currentDateTime();
  return FromUnixSeconds((now.toMSecsSinceEpoch() + 1000LL * now.offsetFromUtc()) / 1000.0);
}

void QtRuntime::Pump() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void QtRuntime::Sleep(int milliseconds) {
  if (milliseconds <= 0) {
    Pump();
    return;
  }
  // A nested loop that ends on its own timer: events and due timers are handled meanwhile,
  // also when this Sleep runs inside a timer tick.
  QEventLoop loop;
  QTimer wake;
  wake.setSingleShot(true);
  wake.setTimerType(Qt::PreciseTimer);
  QObject::connect(&wake, &QTimer::timeout, &loop, &QEventLoop::quit);
  wake.start(milliseconds);
  loop.exec(QEventLoop::AllEvents);
}

Runtime::TimerId QtRuntime::AddTimer(int intervalMs, std::function<void()> onTick) {
  TimerId id = nextId_++;
  Entry entry;
  entry.timer = new QTimer();
  entry.timer->setInterval(std::max(intervalMs, 0));
  entry.onTick = std::make_shared<std::function<void()>>(std::move(onTick));
  entry.running = std::make_shared<bool>(false);
  QObject::connect(entry.timer, &QTimer::timeout, [this, id] { Fire(id); });
  timers_.emplace(id, std::move(entry));
  return id;
}

void QtRuntime::Fire(TimerId id) {
  Entry* entry = Find(id);
  // A tick that pumps events (a Sleep inside it) must not be entered again by its own timer.
  if (!entry || *entry->running) return;
  auto onTick = entry->onTick;
  auto running = entry->running;
  *running = true;
  if (*onTick) (*onTick)();
  *running = false;
}

void QtRuntime::RemoveTimer(TimerId id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  it->second.timer->stop();
  // The timer may be the one whose tick is running: delete it once control is back in the loop.
  it->second.timer->deleteLater();
  timers_.erase(it);
}

void QtRuntime::SetTimerEnabled(TimerId id, bool enabled) {
  Entry* entry = Find(id);
  if (!entry) return;
  if (enabled) {
    entry->timer->start();  // also restarts a running interval
  } else {
    entry->timer->stop();
  }
}

bool QtRuntime::TimerEnabled(TimerId id) const {
  const Entry* entry = Find(id);
  return entry && entry->timer->isActive();
}

void QtRuntime::SetTimerInterval(TimerId id, int intervalMs) {
  Entry* entry = Find(id);
  if (!entry) return;
  entry->timer->setInterval(std::max(intervalMs, 0));
  if (entry->timer->isActive()) entry->timer->start();
}

int QtRuntime::TimerInterval(TimerId id) const {
  const Entry* entry = Find(id);
  return entry ? entry->timer->interval() : 0;
}

QtRuntime::Entry* QtRuntime::Find(TimerId id) {
  auto it = timers_.find(id);
  return it == timers_.end() ? nullptr : &it->second;
}

const QtRuntime::Entry* QtRuntime::Find(TimerId id) const {
  auto it = timers_.find(id);
  return it == timers_.end() ? nullptr : &it->second;
}

}  // namespace noctarbel::gui
