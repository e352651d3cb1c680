// The INDI filter wheel: FILTER_SLOT (1-based) and the names of FILTER_NAME. INDI keeps no
// focus offsets per filter: they read as 0 (the filter table holds the station's own).

#include "common/number_text.h"
#include "devices/indi/indi_device.h"
#include "devices/indi/indi_devices.h"

namespace noctarbel {

namespace {

constexpr const char* kSlot = "FILTER_SLOT";
constexpr const char* kSlotValue = "FILTER_SLOT_VALUE";

class IndiFilterWheel : public IFilterWheel {
 public:
  explicit IndiFilterWheel(const IndiDeviceAddress& address)
      : device_(address, kIndiFilterInterface, "filter wheel", {{kSlot}}) {}

  bool Connected() override { return device_.Connected(); }
  void SetConnected(bool connected) override { device_.SetConnected(connected); }
  std::vector<std::string> Names() override {
    std::vector<std::string> names;
    if (auto named = device_.Find("FILTER_NAME")) {
      for (const auto& element : named->Elements) names.push_back(element.Text);
    }
    if (names.empty()) {
      for (int slot = 1; slot <= Slots(); ++slot) names.push_back("Filter " + std::to_string(slot));
    }
    return names;
  }
  std::vector<int> FocusOffsets() override { return std::vector<int>(Names().size(), 0); }
  int Position() override {
    const IndiProperty slot = device_.Get(kSlot);
    if (slot.State == IndiState::Busy) return -1;  // turning
    const IndiElement* value = slot.Element(kSlotValue);
    if (!value) throw device_.Error(std::string(kSlot) + " has no element " + kSlotValue);
    return static_cast<int>(RoundHalfEven(value->Number)) - 1;
  }
  void SetPosition(int slot) override {
    const int slots = Slots();
    if (slot < 0 || slot >= slots) {
      throw device_.Error("filter slot " + std::to_string(slot) + " is outside 0.." + std::to_string(slots - 1));
    }
    const double wanted = slot + 1;
    device_.SetNumbers(kSlot, {{kSlotValue, wanted}}, [wanted](const IndiProperty& p) {
      if (p.State == IndiState::Alert) return IndiVerdict::Refused;
      if (p.State == IndiState::Busy) return IndiVerdict::Done;  // turning there
      const IndiElement* e = p.Element(kSlotValue);
      return e && e->Number == wanted ? IndiVerdict::Done : IndiVerdict::Wait;
    });
  }

 private:
  int Slots() {
    const IndiProperty slot = device_.Get(kSlot);
    const IndiElement* value = slot.Element(kSlotValue);
    if (!value) throw device_.Error(std::string(kSlot) + " has no element " + kSlotValue);
    return value->Max >= 1 ? static_cast<int>(value->Max) : 1;
  }

  IndiDevice device_;
};

}  // namespace

std::unique_ptr<IFilterWheel> MakeIndiFilterWheel(const IndiDeviceAddress& address) {
  return std::make_unique<IndiFilterWheel>(address);
}

}  // namespace noctarbel
