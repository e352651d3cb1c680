#include "devices/indi/indi_address.h"

#include <algorithm>

#include "common/number_text.h"
#include "devices/device_interfaces.h"

namespace noctarbel {

namespace {

constexpr std::string_view kScheme = "indi://";

bool ValidHost(std::string_view host) {
  if (host.empty()) return false;
  return std::all_of(host.begin(), host.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == '_' || c == ':';
  });
}

}  // namespace

std::string IndiServerAddress::Text() const {
  const bool ipv6 = Host.find(':') != std::string::npos;
  return (ipv6 ? "[" + Host + "]" : Host) + ":" + std::to_string(Port);
}

std::string IndiDeviceAddress::Identifier() const { return std::string(kScheme) + Server.Text() + "/" + Device; }

bool ParseIndiServer(std::string_view text, IndiServerAddress& server) {
  text = TrimBlanks(text);
  std::string_view host = text;
  std::string_view port;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string_view::npos) return false;
    host = text.substr(1, close - 1);
    std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      port = rest.substr(1);
      if (port.empty()) return false;
    }
  } else {
    const size_t colon = text.find(':');
    if (colon != std::string_view::npos) {
      if (text.find(':', colon + 1) != std::string_view::npos) return false;  // IPv6 needs brackets
      host = text.substr(0, colon);
      port = text.substr(colon + 1);
      if (port.empty()) return false;
    }
  }
  if (!ValidHost(host)) return false;
  int number = kIndiDefaultPort;
  if (!port.empty()) {
    auto parsed = ParseInt(port);
    if (!parsed || *parsed < 1 || *parsed > 65535 || port.find_first_not_of("0123456789") != std::string_view::npos) {
      return false;
    }
    number = *parsed;
  }
  server = IndiServerAddress{std::string(host), number};
  return true;
}

IndiDeviceAddress ParseIndiIdentifier(std::string_view identifier) {
  const std::string_view text = TrimBlanks(identifier);
  const std::string quoted = "\"" + std::string(text) + "\"";
  if (text.size() < kScheme.size() || !EqualsIgnoreCase(text.substr(0, kScheme.size()), kScheme)) {
    throw DeviceError(quoted + " is not an INDI identifier (indi://HOST:PORT/DEVICE NAME)");
  }
  const std::string_view rest = text.substr(kScheme.size());
  const size_t slash = rest.find('/');
  if (slash == std::string_view::npos) throw DeviceError(quoted + " names no device (indi://HOST:PORT/DEVICE NAME)");
  IndiDeviceAddress address;
  if (!ParseIndiServer(rest.substr(0, slash), address.Server)) {
    throw DeviceError(quoted + ": \"" + std::string(rest.substr(0, slash)) + "\" is not a HOST:PORT");
  }
  address.Device = std::string(TrimBlanks(rest.substr(slash + 1)));
  if (address.Device.empty()) throw DeviceError(quoted + " names no device (indi://HOST:PORT/DEVICE NAME)");
  return address;
}

std::vector<IndiServerAddress> ParseIndiServerList(std::string_view list) {
  std::vector<IndiServerAddress> servers;
  while (!list.empty()) {
    const size_t comma = list.find(',');
    const std::string_view item = list.substr(0, comma);
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    IndiServerAddress server;
    if (!ParseIndiServer(item, server)) continue;
    if (std::find(servers.begin(), servers.end(), server) == servers.end()) servers.push_back(server);
  }
  return servers;
}

}  // namespace noctarbel
