#pragma once
// The focuser (connect, reading position and temperature, moves with their bounded wait) and
// the filter wheel (names and focus offsets from the driver or the filter table, selecting
// a filter with a bounded wait). Both own their driver slot's use, report through the
// station's status and log, wait under the caller's operation context and never touch a
// control.

#include <optional>
#include <string>
#include <vector>

namespace noctarbel {

class OperationContext;
class StationState;
class IFilterWheel;

// Polls of one second a focuser move may take; arriving at the last one counts as late.
inline constexpr int kFocuserPolls = 16;
// Polls of one second the filter wheel may take to reach a slot.
inline constexpr int kFilterWheelPolls = 30;

struct FocuserReading {
  int Position = 0;
  double Celsius = 0;
};

class FocuserOperations {
 public:
  explicit FocuserOperations(StationState& state) : core_(state) {}
  FocuserOperations(const FocuserOperations&) = delete;
  FocuserOperations& operator=(const FocuserOperations&) = delete;

  // Makes and links the driver named by FocuserObject; false with the reason in *error.
  bool Connect(std::string* error);
  void Disconnect();
  bool HasDriver() const;
  // The focuser counts as connected while its object exists and it reports the link.
  bool Linked();
  // Position and temperature (the driver reports half-kelvin units). Throws DeviceError.
  FocuserReading Read();
  // Moves to the target and waits, 1 s polls: true when the focuser reports the target
  // before the 16th poll. False without a focuser, on a driver error (status), when it stops
  // short, or when interrupted (nothing more is sent then). Never throws.
  bool MoveTo(OperationContext& op, int target);

 private:
  StationState& core_;
};

class FilterWheelOperations {
 public:
  explicit FilterWheelOperations(StationState& state) : core_(state) {}
  FilterWheelOperations(const FilterWheelOperations&) = delete;
  FilterWheelOperations& operator=(const FilterWheelOperations&) = delete;

  // Connects the wheel named by FilterwheelObject, takes its names and focus offsets (or the
  // filter table's, when the names come from the file) into the station's filter lists and
  // waits until it reports a slot. Returns the 0-based slot; -1 when no wheel is configured
  // or it does not connect (the reason in *error).
  int Connect(OperationContext& op, std::string* error);
  void Disconnect();
  bool HasDriver() const;
  // The 0-based slot the wheel reports; nothing without a connected wheel or when it fails.
  std::optional<int> Slot();
  // Turns the wheel to the 0-based slot and waits for it, at most kFilterWheelPolls
  // seconds. True when the wheel stands there (or no wheel is used); false with a status and
  // log message when it does not arrive or fails, or when interrupted.
  bool Select(OperationContext& op, int slot);

 private:
  // Waits for the wheel to stand at a slot (any slot when slot < 0); the last position read,
  // or nothing when interrupted.
  std::optional<int> WaitForWheel(OperationContext& op, IFilterWheel& wheel, int slot);
  void FillFilterLists(const std::vector<std::string>& names, const std::vector<int>& offsets);
  void Report(const std::string& text);

  StationState& core_;
};

}  // namespace noctarbel
