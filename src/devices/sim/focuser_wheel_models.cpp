#include "devices/sim/focuser_wheel_models.h"

#include <algorithm>
#include <cmath>

#include "devices/device_interfaces.h"
#include "devices/sim/sim_world.h"

namespace noctarbel {

double FocuserModel::PositionAt(DateTime now) const {
  if (now >= end_ || end_ <= start_) return to_;
  const double f = (now - start_) / (end_ - start_);
  return from_ + (to_ - from_) * std::clamp(f, 0.0, 1.0);
}

int FocuserModel::Position() { return static_cast<int>(std::lround(PositionAt(world_.Now()))); }

bool FocuserModel::Moving() { return world_.Now() < end_; }

void FocuserModel::Move(int value) {
  const DateTime now = world_.Now();
  const double here = std::round(PositionAt(now));
  double target = Config.Absolute ? value : here + value;
  target = std::clamp(target, 0.0, static_cast<double>(Config.MaxStep));
  if (Config.StopShortSteps > 0 && target != here) {
    const double shortBy = std::min<double>(Config.StopShortSteps, std::abs(target - here));
    target -= target > here ? shortBy : -shortBy;
  }
  from_ = here;
  to_ = target;
  start_ = now;
  end_ = now + std::abs(target - here) / std::max(1.0, Config.StepsPerSecond) / kSecondsPerDay;
  ++movesReceived_;
  lastMoveArgument_ = value;
}

double FocuserModel::TemperatureHalfKelvin() const { return (world_.AmbientCelsius + 273.0) * 2.0; }

void FocuserModel::Place(int position) {
  from_ = to_ = position;
  start_ = end_ = 0;
}

void FilterWheelModel::Update(DateTime now) {
  if (moving_ && !Config.NeverArrives && now >= arrival_) {
    moving_ = false;
    slot_ = target_;
  }
}

int FilterWheelModel::Position() {
  Update(world_.Now());
  return moving_ ? -1 : slot_;
}

void FilterWheelModel::SetPosition(int slot) {
  if (slot < 0 || slot >= SlotCount()) throw DeviceError("Filter wheel: no slot " + std::to_string(slot));
  const DateTime now = world_.Now();
  Update(now);
  if (!moving_ && slot == slot_) return;
  const int from = moving_ ? target_ : slot_;
  // The wheel turns the short way round.
  const int n = SlotCount();
  const int forward = ((slot - from) % n + n) % n;
  const int steps = std::min(forward, n - forward);
  target_ = slot;
  moving_ = true;
  arrival_ = now + (0.2 + steps * Config.SecondsPerSlot) / kSecondsPerDay;
}

int FilterWheelModel::FilterInBeam() {
  Update(world_.Now());
  return slot_;
}

double FilterWheelModel::ThroughputOf(int slot) const {
  if (slot < 0 || slot >= static_cast<int>(Config.Throughput.size())) return 1.0;
  return Config.Throughput[static_cast<size_t>(slot)];
}

int FilterWheelModel::FocusOffsetOf(int slot) const {
  if (slot < 0 || slot >= static_cast<int>(Config.FocusOffsets.size())) return 0;
  return Config.FocusOffsets[static_cast<size_t>(slot)];
}

void FilterWheelModel::Place(int slot) {
  slot_ = target_ = std::clamp(slot, 0, std::max(0, SlotCount() - 1));
  moving_ = false;
}

}  // namespace noctarbel
