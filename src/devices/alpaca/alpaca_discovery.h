#pragma once
// Finding Alpaca servers: the UDP discovery request (servers answer {"AlpacaPort": PORT}),
// the management API's list of configured devices, and the responder a server runs.

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "devices/alpaca/alpaca_client.h"

namespace noctarbel::alpaca {

struct DiscoveryOptions {
  int Port = kDiscoveryPort;
  // Where the request goes. Empty: the broadcast address of every interface, the limited
  // broadcast address and the loopback address (a server bound to 127.0.0.1 listens there).
  std::vector<std::string> Targets;
  int WaitMs = 1000;
};

// The servers that answered within WaitMs, each once, in the order they answered. A
// network without a usable interface gives none.
std::vector<Endpoint> DiscoverServers(const DiscoveryOptions& options);

struct ConfiguredDevice {
  std::string Name;
  DeviceType Type = DeviceType::Telescope;
  int Number = 0;
  std::string UniqueId;
};

// The devices a server lists, of the types the station drives (others are left out).
// DeviceError when the server does not answer within the time-outs or answers garbage.
std::vector<ConfiguredDevice> ConfiguredDevices(const Endpoint& server, const Timeouts& timeouts);

// Answers discovery requests on a UDP port with {"AlpacaPort": alpacaPort}, on a thread of
// its own, until destroyed.
class DiscoveryResponder {
 public:
  // A loopback bind address listens on 127.0.0.1 only; any other on every IPv4 interface
  // (broadcasts do not reach a socket bound to one unicast address). Port 0 takes a free
  // port. Throws std::runtime_error when the port cannot be bound.
  DiscoveryResponder(const std::string& bindAddress, int port, int alpacaPort);
  ~DiscoveryResponder();
  DiscoveryResponder(const DiscoveryResponder&) = delete;
  DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

  int Port() const { return port_; }
  int RequestsAnswered() const { return answered_; }

 private:
  void Serve();

  int socket_ = -1;
  int wake_[2] = {-1, -1};
  int port_ = 0;
  int alpacaPort_ = 0;
  std::atomic<int> answered_{0};
  std::thread thread_;
};

// True for "localhost" and 127.x.x.x / ::1.
bool IsLoopbackAddress(const std::string& address);

}  // namespace noctarbel::alpaca
