// The device registry: backends found by the scheme of the identifier. What the built-in
// simulators do as drivers is the driver contract's (contract/), run over every backend; their
// world (slews in time, drift, pointing errors, stars that move with the mount) is shown by the
// operations' tests and by the whole nights.

#include <gtest/gtest.h>

#include "common/event_runtime.h"
#include "devices/device_registry.h"

namespace noctarbel::testing {
namespace {

// A backend added later serves its scheme without changing any caller.
TEST(DeviceRegistry, BackendsPlugInByScheme) {
  class FakeNetworkBackend : public DeviceBackend {
   public:
    std::string Scheme() const override { return "indi"; }
    std::vector<DeviceChoice> Choices(DeviceType type, const DeviceContext&) const override {
      if (type != DeviceType::Focuser) return {};
      return {{"indi://localhost:7624/Focuser Simulator", "INDI focuser"}};
    }
  };
  DeviceRegistry registry = MakeDefaultDeviceRegistry();
  registry.Add(std::make_unique<FakeNetworkBackend>());
  auto clock = EventRuntime::WithVirtualClock(0);
  DeviceContext context{*clock, SiteLocation{}, {}};
  EXPECT_EQ(registry.Choices(DeviceType::Focuser, context).size(), 2u);
  EXPECT_EQ(registry.Choices(DeviceType::Focuser, context)[1].Description, "INDI focuser");
  EXPECT_THROW(registry.CreateFocuser("indi://localhost:7624/Focuser Simulator", context), DeviceError);
  EXPECT_THROW(registry.CreateFocuser("alpaca://localhost:11111/focuser/0", context), DeviceError);
  EXPECT_NO_THROW(registry.CreateFocuser("sim:focuser", context));
  EXPECT_EQ(IdentifierScheme("Alpaca://host:11111/telescope/0"), "alpaca");
  EXPECT_EQ(IdentifierScheme("Vendor.Telescope"), "");
}

}  // namespace
}  // namespace noctarbel::testing
