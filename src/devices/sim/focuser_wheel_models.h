#pragma once
// The simulated focuser and filter wheel: both take time to move.

#include <string>
#include <vector>

#include "common/datetime.h"

namespace noctarbel {

struct SimWorld;

struct FocuserConfig {
  bool Absolute = true;
  int MaxStep = 20000;
  double StepsPerSecond = 250;
  // Fault switch: every move ends this many steps before its target.
  int StopShortSteps = 0;
  bool FailAll = false;
  std::string Description = "Noctarbel focuser simulator";
};

class FocuserModel {
 public:
  explicit FocuserModel(SimWorld& world) : world_(world) {}
  FocuserModel(const FocuserModel&) = delete;
  FocuserModel& operator=(const FocuserModel&) = delete;

  FocuserConfig Config;

  int Position();
  bool Moving();
  // An absolute focuser goes to value; a relative one moves by value steps.
  void Move(int value);
  // Half-kelvin units of the ambient temperature.
  double TemperatureHalfKelvin() const;
  // Sets the position at once (tests).
  void Place(int position);
  int MovesReceived() const { return movesReceived_; }
  int LastMoveArgument() const { return lastMoveArgument_; }

 private:
  double PositionAt(DateTime now) const;

  SimWorld& world_;
  double from_ = 5000;
  double to_ = 5000;
  DateTime start_ = 0;
  DateTime end_ = 0;
  int movesReceived_ = 0;
  int lastMoveArgument_ = 0;
};

struct FilterWheelConfig {
  std::vector<std::string> Names = {"L", "R", "G", "B", "Ha"};
  // Steps to add to the clear filter's best focus; also where each filter's focus truly is.
  std::vector<int> FocusOffsets = {0, 15, 10, 25, -40};
  // Fraction of the clear filter's light each filter passes.
  std::vector<double> Throughput = {1.0, 0.3, 0.35, 0.3, 0.05};
  double SecondsPerSlot = 0.8;
  // Fault switch: a move never ends (the wheel keeps reporting -1).
  bool NeverArrives = false;
  bool FailAll = false;
  std::string Description = "Noctarbel filter wheel simulator";
};

class FilterWheelModel {
 public:
  explicit FilterWheelModel(SimWorld& world) : world_(world) {}
  FilterWheelModel(const FilterWheelModel&) = delete;
  FilterWheelModel& operator=(const FilterWheelModel&) = delete;

  FilterWheelConfig Config;

  int SlotCount() const { return static_cast<int>(Config.Names.size()); }
  // -1 while moving.
  int Position();
  void SetPosition(int slot);
  // The filter in the light path: while moving, the one it left.
  int FilterInBeam();
  double ThroughputOf(int slot) const;
  int FocusOffsetOf(int slot) const;
  void Place(int slot);

 private:
  void Update(DateTime now);

  SimWorld& world_;
  int slot_ = 0;
  int target_ = 0;
  bool moving_ = false;
  DateTime arrival_ = 0;
};

}  // namespace noctarbel
