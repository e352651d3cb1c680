#pragma once
// Where an INDI device is: "indi://HOST:PORT/DEVICE NAME" (the port defaults to 7624, an IPv6
// host is written in brackets) and the servers of the IndiServers setting ("HOST:PORT" items
// separated by commas).

#include <string>
#include <string_view>
#include <vector>

namespace noctarbel {

inline constexpr int kIndiDefaultPort = 7624;

struct IndiServerAddress {
  std::string Host;
  int Port = kIndiDefaultPort;

  // "HOST:PORT", with brackets around an IPv6 host.
  std::string Text() const;
  bool operator==(const IndiServerAddress&) const = default;
};

struct IndiDeviceAddress {
  IndiServerAddress Server;
  std::string Device;  // as the driver names it, blanks inside kept

  std::string Identifier() const;
};

// Throws DeviceError saying what is wrong with the identifier.
IndiDeviceAddress ParseIndiIdentifier(std::string_view identifier);
// "HOST" or "HOST:PORT"; nothing on a malformed entry.
bool ParseIndiServer(std::string_view text, IndiServerAddress& server);
// The servers of a comma-separated list, in order, duplicates and malformed entries left out.
std::vector<IndiServerAddress> ParseIndiServerList(std::string_view list);

}  // namespace noctarbel
