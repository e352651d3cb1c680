#include "station/operation_context.h"

#include <algorithm>

#include "common/runtime.h"

namespace noctarbel {

namespace {
// An epoch no control ever reaches: operations begun during an emergency start preempted.
constexpr long kRefusedEpoch = -1;
constexpr int kWaitStepMs = 100;
}  // namespace

bool OperationContext::MayContinue() { return Stop() == OperationStop::None; }

OperationStop OperationContext::Stop() {
  if (stop_ != OperationStop::None) return stop_;
  if (!emergency_ && epoch_ != control_->epoch_) {
    stop_ = OperationStop::Preempted;
  } else if (cancelled_ && cancelled_()) {
    stop_ = OperationStop::Cancelled;
  }
  return stop_;
}

std::string OperationContext::StopText() {
  switch (Stop()) {
    case OperationStop::None:
      return {};
    case OperationStop::Cancelled:
      return "Stopped";
    case OperationStop::Preempted:
      return "Interrupted by " + (control_->reason_.empty() ? std::string("an emergency") : control_->reason_);
  }
  return {};
}

bool OperationContext::Pump() {
  if (!MayContinue()) return false;
  clock_->Pump();
  return MayContinue();
}

bool OperationContext::Wait(int milliseconds) {
  if (!MayContinue()) return false;
  // Sleeping pumps too (events and due timers); the first pump lets a zero wait do so.
  clock_->Pump();
  if (!MayContinue()) return false;
  for (int left = std::max(0, milliseconds); left > 0;) {
    const int step = std::min(left, kWaitStepMs);
    clock_->Sleep(step);
    left -= step;
    if (!MayContinue()) return false;
  }
  return true;
}

OperationContext OperationControl::Begin(std::function<bool()> cancelled) {
  return OperationContext(clock_, *this, emergencyRunning_ ? kRefusedEpoch : epoch_, std::move(cancelled), false);
}

std::optional<OperationControl::EmergencyLease> OperationControl::BeginEmergency(const std::string& reason) {
  if (emergencyRunning_) return std::nullopt;
  emergencyRunning_ = true;
  ++epoch_;
  reason_ = reason;
  return EmergencyLease(*this, OperationContext(clock_, *this, epoch_, {}, true));
}

OperationControl::EmergencyLease::~EmergencyLease() {
  if (control_) control_->emergencyRunning_ = false;
}

}  // namespace noctarbel
