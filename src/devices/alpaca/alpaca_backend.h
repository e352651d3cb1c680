#pragma once
// The "alpaca" driver backend: identifiers "alpaca://HOST:PORT/TYPE/N" (TYPE telescope,
// camera, focuser or filterwheel). The chooser lists the configured devices of the servers
// that answer discovery and of those in the AlpacaHosts setting.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "devices/alpaca/alpaca_client.h"
#include "devices/alpaca/alpaca_discovery.h"
#include "devices/device_registry.h"

namespace noctarbel::alpaca {

struct BackendOptions {
  // Every driver call.
  Timeouts Calls;
  // The chooser's questions to each server.
  Timeouts Listing{1000, 2000};
  bool Discover = true;
  DiscoveryOptions Discovery;
};

class AlpacaBackend : public DeviceBackend {
 public:
  explicit AlpacaBackend(BackendOptions options = {}) : options_(std::move(options)) {}

  std::string Scheme() const override { return "alpaca"; }
  std::vector<DeviceChoice> Choices(DeviceType type, const DeviceContext& context) const override;
  // Each asks the device once whether it is there, so that a wrong identifier fails here
  // with the server's answer rather than at the first use.
  std::unique_ptr<ITelescope> CreateTelescope(const std::string& identifier, DeviceContext& context) override;
  std::unique_ptr<ICamera> CreateCamera(const std::string& identifier, DeviceContext& context) override;
  std::unique_ptr<IFocuser> CreateFocuser(const std::string& identifier, DeviceContext& context) override;
  std::unique_ptr<IFilterWheel> CreateFilterWheel(const std::string& identifier, DeviceContext& context) override;

 private:
  struct ServerListing {
    Endpoint Server;
    std::vector<ConfiguredDevice> Devices;
  };
  // The identifier's address; DeviceError when it names another type or nothing answers.
  DeviceAddress CheckedAddress(const std::string& identifier, DeviceType type) const;
  // Every server's devices, kept a few seconds so that listing the four types asks once.
  const std::vector<ServerListing>& Listings(const std::string& hosts) const;

  BackendOptions options_;
  mutable std::string cachedHosts_;
  mutable std::optional<std::chrono::steady_clock::time_point> cachedAt_;
  mutable std::vector<ServerListing> cache_;
};

}  // namespace noctarbel::alpaca

namespace noctarbel {

std::unique_ptr<DeviceBackend> MakeAlpacaBackend(alpaca::BackendOptions options = {});

}  // namespace noctarbel
