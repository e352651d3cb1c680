#include "devices/alpaca/alpaca_backend.h"

#include <set>

#include "common/number_text.h"
#include "devices/alpaca/alpaca_drivers.h"

namespace noctarbel::alpaca {

namespace {

constexpr auto kListingLifetime = std::chrono::seconds(5);

}  // namespace

const std::vector<AlpacaBackend::ServerListing>& AlpacaBackend::Listings(const std::string& hosts) const {
  const auto now = std::chrono::steady_clock::now();
  if (cachedAt_ && hosts == cachedHosts_ && now - *cachedAt_ < kListingLifetime) return cache_;
  std::vector<Endpoint> servers = ParseHostList(hosts);
  if (options_.Discover) {
    for (const auto& found : DiscoverServers(options_.Discovery)) {
      bool known = false;
      for (const auto& s : servers) known = known || s == found;
      if (!known) servers.push_back(found);
    }
  }
  cache_.clear();
  for (const auto& server : servers) {
    try {
      cache_.push_back({server, ConfiguredDevices(server, options_.Listing)});
    } catch (const DeviceError&) {
      // A server that does not answer now offers nothing; the others still do.
    }
  }
  cachedHosts_ = hosts;
  cachedAt_ = now;
  return cache_;
}

std::vector<DeviceChoice> AlpacaBackend::Choices(DeviceType type, const DeviceContext& context) const {
  std::vector<DeviceChoice> choices;
  // A server reached under two addresses (discovered on loopback and on the network) lists
  // its devices once.
  std::set<std::string> seen;
  for (const auto& listing : Listings(context.Servers.AlpacaHosts)) {
    for (const auto& device : listing.Devices) {
      if (device.Type != type) continue;
      if (!device.UniqueId.empty() && !seen.insert(device.UniqueId + "/" + std::to_string(device.Number)).second) {
        continue;
      }
      const DeviceAddress address{listing.Server, device.Type, device.Number};
      const std::string name = device.Name.empty() ? ManagementTypeName(type) : device.Name;
      choices.push_back({address.Identifier(), name + " (Alpaca, " + listing.Server.Text() + ")"});
    }
  }
  return choices;
}

DeviceAddress AlpacaBackend::CheckedAddress(const std::string& identifier, DeviceType type) const {
  const DeviceAddress address = ParseIdentifier(identifier);
  if (address.Type != type) {
    throw DeviceError("\"" + identifier + "\" is not a " + ToLowerAscii(DeviceTypeName(type)) + " driver");
  }
  DeviceClient(address, options_.Calls).GetInt("interfaceversion");
  return address;
}

std::unique_ptr<ITelescope> AlpacaBackend::CreateTelescope(const std::string& identifier, DeviceContext& context) {
  return MakeTelescope(CheckedAddress(identifier, DeviceType::Telescope), options_.Calls,
                       StationFrame{&context.Clock, context.Site});
}

std::unique_ptr<ICamera> AlpacaBackend::CreateCamera(const std::string& identifier, DeviceContext&) {
  return MakeCamera(CheckedAddress(identifier, DeviceType::Camera), options_.Calls);
}

std::unique_ptr<IFocuser> AlpacaBackend::CreateFocuser(const std::string& identifier, DeviceContext&) {
  return MakeFocuser(CheckedAddress(identifier, DeviceType::Focuser), options_.Calls);
}

std::unique_ptr<IFilterWheel> AlpacaBackend::CreateFilterWheel(const std::string& identifier, DeviceContext&) {
  return MakeFilterWheel(CheckedAddress(identifier, DeviceType::FilterWheel), options_.Calls);
}

}  // namespace noctarbel::alpaca

namespace noctarbel {

std::unique_ptr<DeviceBackend> MakeAlpacaBackend(alpaca::BackendOptions options) {
  return std::make_unique<alpaca::AlpacaBackend>(std::move(options));
}

}  // namespace noctarbel
