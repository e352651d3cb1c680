#pragma once
// Long operations (slews and parks, roof moves, focuser and filter-wheel moves, exposures,
// pauses, plan rows) run on the one station thread as loops of short waits that pump the
// runtime, so timers and buttons keep working while they wait. That is also how they get
// interrupted, in two ways:
//
// - Cancelled: whoever began the operation gave it a cancel test (Stop and Exit set
//   AbortRequested, a signal ends a command-line run). The test is asked after every wait.
// - Preempted: an emergency (the rain emergency) ran inside one of the waits and took the
//   devices over. Beginning an emergency moves the station's operation epoch on; every
//   operation begun in an older epoch finds, when its wait returns, that it lost the devices.
//   The emergency runs in the new epoch, and a second emergency is refused while one runs,
//   so the emergency is never preempted by what it interrupted. Operations begun by anyone
//   else while an emergency runs (a timer's repeated exposure, say) start preempted.
//
// An operation whose wait returned false issues no further device commands and ends with a
// status that says why (StopText). A parked mount's interrupted P2 park therefore never
// slews under the roof the emergency just closed.
//
// Sub-operations run under their caller's context (pass it on), so an interrupted plan row
// ends its park, its exposure and its focuser move alike.

#include <functional>
#include <optional>
#include <string>

namespace noctarbel {

class Runtime;
class OperationControl;

enum class OperationStop {
  None,
  Cancelled,  // Stop, Exit or a signal
  Preempted,  // an emergency took the devices over
};

class OperationContext {
 public:
  // Waits while pumping (a pump, then sleeps of at most 100 ms, which pump too); false as
  // soon as the operation may not go on. A zero wait still pumps once.
  bool Wait(int milliseconds);
  // Pumps once without waiting; false when the operation may not go on.
  bool Pump();
  // True while neither cancelled nor preempted. Once false it stays false.
  bool MayContinue();
  OperationStop Stop();
  // Why the operation ended early: "Interrupted by the rain emergency", "Stopped"; empty
  // while it may go on.
  std::string StopText();
  Runtime& Clock() const { return *clock_; }
  // The context of an emergency (never cancelled; its own waits are never preempted).
  bool IsEmergency() const { return emergency_; }

 private:
  friend class OperationControl;
  OperationContext(Runtime& clock, OperationControl& control, long epoch, std::function<bool()> cancelled,
                   bool emergency)
      : clock_(&clock), control_(&control), epoch_(epoch), cancelled_(std::move(cancelled)), emergency_(emergency) {}

  Runtime* clock_;
  OperationControl* control_;
  long epoch_;
  std::function<bool()> cancelled_;
  bool emergency_;
  OperationStop stop_ = OperationStop::None;
};

// One per station: hands out contexts and the emergency's lease.
class OperationControl {
 public:
  explicit OperationControl(Runtime& clock) : clock_(clock) {}
  OperationControl(const OperationControl&) = delete;
  OperationControl& operator=(const OperationControl&) = delete;

  // A context for an operation begun now. `cancelled` is asked after every wait; an empty
  // test never cancels.
  OperationContext Begin(std::function<bool()> cancelled = {});

  class EmergencyLease {
   public:
    ~EmergencyLease();
    EmergencyLease(const EmergencyLease&) = delete;
    EmergencyLease& operator=(const EmergencyLease&) = delete;
    EmergencyLease(EmergencyLease&& other) noexcept : control_(other.control_), context_(std::move(other.context_)) {
      other.control_ = nullptr;
    }
    OperationContext& Context() { return context_; }

   private:
    friend class OperationControl;
    EmergencyLease(OperationControl& control, OperationContext context)
        : control_(&control), context_(std::move(context)) {}
    OperationControl* control_;
    OperationContext context_;
  };

  // Preempts every operation running now. Nothing when an emergency already runs: that one
  // goes on undisturbed. `reason` completes "Interrupted by ...", e.g. "the rain emergency".
  std::optional<EmergencyLease> BeginEmergency(const std::string& reason);
  bool EmergencyRunning() const { return emergencyRunning_; }
  // Emergencies begun so far.
  long Epoch() const { return epoch_; }
  const std::string& LastEmergency() const { return reason_; }

 private:
  friend class OperationContext;
  Runtime& clock_;
  long epoch_ = 0;
  bool emergencyRunning_ = false;
  std::string reason_;
};

}  // namespace noctarbel
