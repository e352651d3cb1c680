// The INDI focuser: absolute moves through ABS_FOCUS_POSITION, moves by steps through
// FOCUS_MOTION and REL_FOCUS_POSITION, temperature from FOCUS_TEMPERATURE (degrees Celsius,
// reported in the station's half-kelvin units).

#include <cmath>
#include <cstdlib>

#include "common/number_text.h"
#include "devices/indi/indi_device.h"
#include "devices/indi/indi_devices.h"

namespace noctarbel {

namespace {

constexpr const char* kAbsolute = "ABS_FOCUS_POSITION";
constexpr const char* kRelative = "REL_FOCUS_POSITION";
constexpr const char* kMotion = "FOCUS_MOTION";
// A move is taken on within this; many drivers (the simulator among them) answer only when
// the move is over, which the station watches through Position.
constexpr int kMoveAnswerMs = 1000;

class IndiFocuser : public IFocuser {
 public:
  IndiFocuser(const IndiDeviceAddress& address, bool stepMoves)
      : device_(address, kIndiFocuserInterface, "focuser", {{kAbsolute, kRelative}}), stepMoves_(stepMoves) {}

  bool Link() override { return device_.Connected(); }
  void SetLink(bool link) override {
    device_.SetConnected(link);
    countedSteps_ = 0;
  }
  // Without an absolute position the steps moved since connecting stand in for it.
  int Position() override {
    if (auto absolute = device_.Find(kAbsolute)) {
      const IndiElement* e = absolute->Element("FOCUS_ABSOLUTE_POSITION");
      if (!e) throw device_.Error(std::string(kAbsolute) + " has no element FOCUS_ABSOLUTE_POSITION");
      return static_cast<int>(RoundHalfEven(e->Number));
    }
    device_.Get(kRelative);
    return countedSteps_;
  }
  bool Absolute() override { return !stepMoves_ && device_.Has(kAbsolute); }
  double Temperature() override {
    if (!device_.Find("FOCUS_TEMPERATURE")) throw device_.Error("the focuser reports no temperature");
    return (device_.Number("FOCUS_TEMPERATURE", "TEMPERATURE") + 273.0) * 2.0;
  }
  void Move(int value) override {
    if (Absolute()) {
      MoveTo(value);
    } else {
      MoveBy(value);
    }
  }

 private:
  void MoveTo(int target) {
    const IndiProperty absolute = device_.Get(kAbsolute);
    const IndiElement* e = absolute.Element("FOCUS_ABSOLUTE_POSITION");
    if (!e) throw device_.Error(std::string(kAbsolute) + " has no element FOCUS_ABSOLUTE_POSITION");
    if (e->Max > e->Min && (target < e->Min || target > e->Max)) {
      throw device_.Error("position " + std::to_string(target) + " is outside " + FormatGeneral(e->Min) + ".." +
                          FormatGeneral(e->Max));
    }
    device_.TrySetNumbers(kAbsolute, {{"FOCUS_ABSOLUTE_POSITION", target}}, IndiAnswered, kMoveAnswerMs);
  }

  void MoveBy(int steps) {
    if (steps == 0) return;
    const IndiProperty relative = device_.Get(kRelative);
    const IndiElement* e = relative.Element("FOCUS_RELATIVE_POSITION");
    if (!e) throw device_.Error(std::string(kRelative) + " has no element FOCUS_RELATIVE_POSITION");
    const int size = std::abs(steps);
    if (e->Max > e->Min && size > e->Max) {
      throw device_.Error("a move of " + std::to_string(steps) + " steps is more than the focuser's " +
                          FormatGeneral(e->Max));
    }
    // Inward shortens the focuser: its position goes down.
    const char* direction = steps < 0 ? "FOCUS_INWARD" : "FOCUS_OUTWARD";
    if (auto motion = device_.Find(kMotion)) {
      const IndiElement* on = motion->Element(direction);
      if (!on) throw device_.Error(std::string(kMotion) + " has no element " + direction);
      if (!on->On) {
        device_.SetSwitches(kMotion, {{"FOCUS_INWARD", steps < 0}, {"FOCUS_OUTWARD", steps > 0}},
                            [direction](const IndiProperty& p) {
                              if (p.State == IndiState::Alert) return IndiVerdict::Refused;
                              const IndiElement* d = p.Element(direction);
                              return d && d->On ? IndiVerdict::Done : IndiVerdict::Wait;
                            });
      }
    } else if (steps < 0) {
      throw device_.Error("the focuser cannot move inward (no FOCUS_MOTION)");
    }
    device_.TrySetNumbers(kRelative, {{"FOCUS_RELATIVE_POSITION", size}}, IndiAnswered, kMoveAnswerMs);
    countedSteps_ += steps;
  }

  IndiDevice device_;
  bool stepMoves_;
  int countedSteps_ = 0;
};

}  // namespace

std::unique_ptr<IFocuser> MakeIndiFocuser(const IndiDeviceAddress& address, bool stepMoves) {
  return std::make_unique<IndiFocuser>(address, stepMoves);
}

}  // namespace noctarbel
