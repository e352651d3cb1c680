#pragma once
// An Alpaca server for the built-in simulators: telescope 0, camera 0, focuser 0 and filter
// wheel 0 under the device API, the management API, the discovery responder and minimal
// setup pages. Any Alpaca client can drive the simulators through it, our own backend's
// tests included.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "astro/transforms.h"
#include "common/datetime.h"
#include "devices/alpaca/alpaca_protocol.h"
#include "common/guarded_http.h"

namespace noctarbel {
struct SimWorld;
}

namespace noctarbel::alpaca {

struct ServerOptions {
  // Loopback unless told otherwise: the simulators are nobody else's business by default.
  std::string BindAddress = "127.0.0.1";
  int Port = kDefaultServerPort;  // 0: any free port
  bool Discovery = true;
  int DiscoveryPort = kDiscoveryPort;  // 0: any free port
  // Where the simulated mount stands (the observatory's site, for a station that uses it).
  SiteLocation Site{49.91806, -8.24889};
  std::string Location;
  // The simulators' UT: the computer's clock when empty, else the time published here. A
  // station on a simulated clock that serves itself the simulators in its own process keeps
  // them on its time this way, while every request still crosses real HTTP.
  std::shared_ptr<const std::atomic<DateTime>> Time;
  // Where the devices' UniqueIDs are kept (per port); empty: new ones for every server.
  std::filesystem::path ConfigFolder;
  // Request deadline, size limits, workers (common/guarded_http.h).
  HttpLimits Http;
};

class AlpacaServer {
 public:
  explicit AlpacaServer(ServerOptions options = {});
  ~AlpacaServer();
  AlpacaServer(const AlpacaServer&) = delete;
  AlpacaServer& operator=(const AlpacaServer&) = delete;

  // Binds and serves on threads of its own. std::runtime_error when a port cannot be bound
  // or the UniqueIDs cannot be kept.
  void Start();
  // Finishes the requests under way, then stops serving; also done on destruction.
  void Stop();

  int Port() const;
  int DiscoveryPort() const;  // 0 without the responder
  const ServerOptions& Options() const;
  // Answers sent so far (ServerTransactionID of the latest).
  std::uint32_t Transactions() const;

  // Runs f on the simulators' thread: how tests and the program set up the simulated world.
  void WithWorld(const std::function<void(SimWorld&)>& f);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace noctarbel::alpaca
