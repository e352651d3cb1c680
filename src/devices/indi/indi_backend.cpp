#include "devices/indi/indi_backend.h"

#include <chrono>
#include <map>
#include <mutex>

#include "common/runtime.h"
#include "devices/indi/indi_client.h"
#include "devices/indi/indi_device.h"
#include "devices/indi/indi_devices.h"

namespace noctarbel {

namespace {

// How long a server may take to list its devices; one that does not answer offers none.
constexpr int kListingMs = 1500;
// The chooser asks per device type; one listing serves all four.
constexpr auto kListingKept = std::chrono::seconds(5);

int InterfaceOf(DeviceType type) {
  switch (type) {
    case DeviceType::Telescope:
      return kIndiTelescopeInterface;
    case DeviceType::Camera:
      return kIndiCcdInterface;
    case DeviceType::Focuser:
      return kIndiFocuserInterface;
    case DeviceType::FilterWheel:
      return kIndiFilterInterface;
  }
  return 0;
}

class IndiBackend : public DeviceBackend {
 public:
  std::string Scheme() const override { return "indi"; }

  std::vector<DeviceChoice> Choices(DeviceType type, const DeviceContext& context) const override {
    std::vector<DeviceChoice> choices;
    for (const IndiServerAddress& server : ParseIndiServerList(context.Servers.IndiServers)) {
      for (const IndiDeviceInfo& device : Listing(server)) {
        if (!(device.Interface & InterfaceOf(type))) continue;
        const IndiDeviceAddress address{server, device.Name};
        std::string description = device.Name;
        if (!device.DriverExec.empty()) description += " (" + device.DriverExec + ")";
        choices.push_back({address.Identifier(), description + " on INDI server " + server.Text()});
      }
    }
    return choices;
  }

  std::unique_ptr<ITelescope> CreateTelescope(const std::string& id, DeviceContext& context) override {
    return MakeIndiTelescope(Address(id, context), context);
  }
  std::unique_ptr<ICamera> CreateCamera(const std::string& id, DeviceContext& context) override {
    return MakeIndiCamera(Address(id, context));
  }
  std::unique_ptr<IFocuser> CreateFocuser(const std::string& id, DeviceContext& context) override {
    return MakeIndiFocuser(Address(id, context));
  }
  std::unique_ptr<IFilterWheel> CreateFilterWheel(const std::string& id, DeviceContext& context) override {
    return MakeIndiFilterWheel(Address(id, context));
  }

 private:
  // Real devices move in real time: a station on a simulated clock would time their moves
  // and exposures, and place its alt/az positions, by a clock they do not follow.
  static IndiDeviceAddress Address(const std::string& id, const DeviceContext& context) {
    IndiDeviceAddress address = ParseIndiIdentifier(id);
    if (context.Clock.IsVirtual()) {
      throw DeviceError("\"" + address.Identifier() + "\": INDI devices need the real clock, not a simulated one");
    }
    return address;
  }

  struct Listed {
    std::chrono::steady_clock::time_point When;
    std::vector<IndiDeviceInfo> Devices;
  };

  std::vector<IndiDeviceInfo> Listing(const IndiServerAddress& server) const {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex_);
    auto it = listings_.find(server.Text());
    if (it != listings_.end() && now - it->second.When < kListingKept) return it->second.Devices;
    Listed listed{now, ListIndiDevices(server, kListingMs)};
    listings_[server.Text()] = listed;
    return listed.Devices;
  }

  mutable std::mutex mutex_;
  mutable std::map<std::string, Listed> listings_;
};

}  // namespace

std::unique_ptr<DeviceBackend> MakeIndiBackend() { return std::make_unique<IndiBackend>(); }

}  // namespace noctarbel
