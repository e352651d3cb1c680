#include "devices/alpaca/alpaca_discovery.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

#include "common/number_text.h"

namespace noctarbel::alpaca {

namespace {

class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int Fd() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

std::vector<std::string> DefaultTargets() {
  std::vector<std::string> targets;
  ifaddrs* interfaces = nullptr;
  if (::getifaddrs(&interfaces) == 0) {
    for (ifaddrs* i = interfaces; i; i = i->ifa_next) {
      if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP) ||
          !(i->ifa_flags & IFF_BROADCAST) || !i->ifa_broadaddr) {
        continue;
      }
      char text[INET_ADDRSTRLEN] = {};
      const auto* broadcast = reinterpret_cast<const sockaddr_in*>(i->ifa_broadaddr);
      if (::inet_ntop(AF_INET, &broadcast->sin_addr, text, sizeof text)) targets.emplace_back(text);
    }
    ::freeifaddrs(interfaces);
  }
  targets.emplace_back("255.255.255.255");
  targets.emplace_back("127.0.0.1");
  return targets;
}

std::optional<sockaddr_in> Ipv4(const std::string& address, int port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::inet_pton(AF_INET, address.c_str(), &to.sin_addr) != 1) return std::nullopt;
  return to;
}

// {"AlpacaPort": N} with 1 <= N <= 65535; anything else is not an answer.
int AlpacaPortOf(std::string_view datagram) {
  const nlohmann::json answer = nlohmann::json::parse(datagram, nullptr, false);
  if (answer.is_discarded() || !answer.is_object()) return 0;
  for (const auto& [key, value] : answer.items()) {
    if (EqualsIgnoreCase(key, "AlpacaPort") && value.is_number_integer()) {
      const auto port = value.get<std::int64_t>();
      return port >= 1 && port <= 65535 ? static_cast<int>(port) : 0;
    }
  }
  return 0;
}

}  // namespace

bool IsLoopbackAddress(const std::string& address) {
  return address == "localhost" || address == "::1" || address.rfind("127.", 0) == 0;
}

std::vector<Endpoint> DiscoverServers(const DiscoveryOptions& options) {
  std::vector<Endpoint> servers;
  Socket socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (socket.Fd() < 0) return servers;
  const int on = 1;
  ::setsockopt(socket.Fd(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  const std::vector<std::string> targets = options.Targets.empty() ? DefaultTargets() : options.Targets;
  for (const auto& target : targets) {
    if (auto to = Ipv4(target, options.Port)) {
      // An unreachable network is no reason to stop asking the others.
      ::sendto(socket.Fd(), kDiscoveryMessage.data(), kDiscoveryMessage.size(), 0, reinterpret_cast<sockaddr*>(&*to),
               sizeof *to);
    }
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.WaitMs);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    pollfd ready{socket.Fd(), POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(left)) <= 0) continue;
    char buffer[1024];
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t length =
        ::recvfrom(socket.Fd(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (length <= 0) continue;
    const int port = AlpacaPortOf(std::string_view(buffer, static_cast<size_t>(length)));
    char host[INET_ADDRSTRLEN] = {};
    if (port == 0 || !::inet_ntop(AF_INET, &from.sin_addr, host, sizeof host)) continue;
    Endpoint server{host, port};
    bool known = false;
    for (const auto& s : servers) known = known || s == server;
    if (!known) servers.push_back(server);
  }
  return servers;
}

std::vector<ConfiguredDevice> ConfiguredDevices(const Endpoint& server, const Timeouts& timeouts) {
  const nlohmann::json list = GetManagementValue(server, "/management/v1/configureddevices", timeouts);
  if (!list.is_array()) throw DeviceError(server.Text() + ": the configured devices are not a list");
  std::vector<ConfiguredDevice> devices;
  for (const auto& entry : list) {
    if (!entry.is_object()) continue;
    const auto name = entry.find("DeviceName");
    const auto type = entry.find("DeviceType");
    const auto number = entry.find("DeviceNumber");
    const auto unique = entry.find("UniqueID");
    if (type == entry.end() || !type->is_string() || number == entry.end() || !number->is_number_integer()) continue;
    const auto deviceType = DeviceTypeFromAnyName(type->get<std::string>());
    const auto deviceNumber = number->get<std::int64_t>();
    if (!deviceType || deviceNumber < 0 || deviceNumber > 2147483647) continue;
    ConfiguredDevice device;
    device.Type = *deviceType;
    device.Number = static_cast<int>(deviceNumber);
    device.Name = name != entry.end() && name->is_string() ? name->get<std::string>() : "";
    device.UniqueId = unique != entry.end() && unique->is_string() ? unique->get<std::string>() : "";
    devices.push_back(std::move(device));
  }
  return devices;
}

DiscoveryResponder::DiscoveryResponder(const std::string& bindAddress, int port, int alpacaPort)
    : alpacaPort_(alpacaPort) {
  Socket socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (socket.Fd() < 0) throw std::runtime_error(std::string("discovery: no UDP socket: ") + std::strerror(errno));
  // Several servers on one computer share the discovery port; each gets the broadcasts.
  const int on = 1;
  ::setsockopt(socket.Fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(IsLoopbackAddress(bindAddress) ? INADDR_LOOPBACK : INADDR_ANY);
  if (::bind(socket.Fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    throw std::runtime_error("discovery: cannot listen on UDP port " + std::to_string(port) + ": " +
                             std::strerror(errno));
  }
  socklen_t length = sizeof address;
  ::getsockname(socket.Fd(), reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  if (::pipe2(wake_, O_CLOEXEC) != 0) throw std::runtime_error("discovery: no pipe");
  socket_ = socket.Release();
  thread_ = std::thread([this] { Serve(); });
}

DiscoveryResponder::~DiscoveryResponder() {
  const char stop = 'x';
  [[maybe_unused]] auto written = ::write(wake_[1], &stop, 1);
  if (thread_.joinable()) thread_.join();
  ::close(socket_);
  ::close(wake_[0]);
  ::close(wake_[1]);
}

void DiscoveryResponder::Serve() {
  const std::string answer = "{\"AlpacaPort\":" + std::to_string(alpacaPort_) + "}";
  for (;;) {
    pollfd ready[2] = {{socket_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(ready, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (ready[1].revents) return;
    if (!(ready[0].revents & POLLIN)) continue;
    char buffer[256];
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t length =
        ::recvfrom(socket_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (length < static_cast<ssize_t>(kDiscoveryMessage.size()) ||
        std::string_view(buffer, kDiscoveryMessage.size()) != kDiscoveryMessage) {
      continue;
    }
    if (::sendto(socket_, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLength) > 0) {
      ++answered_;
    }
  }
}

}  // namespace noctarbel::alpaca
