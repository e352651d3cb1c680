#pragma once
// What the Alpaca client and server share: error numbers, device type names, the
// identifiers "alpaca://HOST:PORT/TYPE/N", and the text forms of parameters (form-encoded
// bodies, "." decimals, true/false).

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "devices/device_interfaces.h"
#include "devices/device_registry.h"

namespace noctarbel::alpaca {

// Error numbers a device answers with (0 is success; 0x500 and up are the driver's own).
inline constexpr int kNotImplemented = 0x400;
inline constexpr int kInvalidValue = 0x401;
inline constexpr int kValueNotSet = 0x402;
inline constexpr int kNotConnected = 0x407;
inline constexpr int kInvalidWhileParked = 0x408;
inline constexpr int kInvalidWhileSlaved = 0x409;
inline constexpr int kInvalidOperation = 0x40B;
inline constexpr int kActionNotImplemented = 0x40C;
inline constexpr int kDriverError = 0x500;

inline constexpr int kDefaultServerPort = 11111;
inline constexpr int kDiscoveryPort = 32227;
inline constexpr std::string_view kDiscoveryMessage = "alpacadiscovery1";
inline constexpr const char* kImageBytesType = "application/imagebytes";

// A device's answer with a non-zero ErrorNumber, carrying the device's own text.
class AlpacaError : public DeviceError {
 public:
  AlpacaError(int number, const std::string& what) : DeviceError(what), number_(number) {}
  int Number() const { return number_; }
  bool NotImplemented() const { return number_ == kNotImplemented || number_ == kActionNotImplemented; }

 private:
  int number_;
};

// "telescope", "camera", "focuser", "filterwheel": the names in device API paths.
const char* UrlTypeName(DeviceType type);
std::optional<DeviceType> DeviceTypeFromUrlName(std::string_view name);
// "Telescope", "Camera", "Focuser", "FilterWheel": the names the management API lists.
const char* ManagementTypeName(DeviceType type);
// Case-insensitive; what a server lists may be written either way.
std::optional<DeviceType> DeviceTypeFromAnyName(std::string_view name);

struct Endpoint {
  std::string Host;
  int Port = 0;
  // "HOST:PORT", an IPv6 address in brackets.
  std::string Text() const;
  bool operator==(const Endpoint& other) const = default;
};

// "HOST:PORT" (IPv6 as "[ADDR]:PORT"); nothing when it is not one.
std::optional<Endpoint> ParseEndpoint(std::string_view text);
// The AlpacaHosts setting: HOST:PORT entries separated by commas (blanks and semicolons are
// tolerated); entries that are not HOST:PORT are left out.
std::vector<Endpoint> ParseHostList(std::string_view text);

struct DeviceAddress {
  Endpoint Server;
  DeviceType Type = DeviceType::Telescope;
  int Number = 0;
  // "alpaca://HOST:PORT/TYPE/N".
  std::string Identifier() const;
  // "/api/v1/TYPE/N/MEMBER".
  std::string MemberPath(std::string_view member) const;
};

// Reads "alpaca://HOST:PORT/TYPE/N" (scheme and type in any case); DeviceError saying what is
// wrong otherwise.
DeviceAddress ParseIdentifier(std::string_view identifier);

using Params = std::vector<std::pair<std::string, std::string>>;

// application/x-www-form-urlencoded, also used for query strings.
std::string FormEncode(const Params& params);
// Keys lower-cased (parameter names are case-insensitive); the first of repeated keys wins.
// Nothing when the text is not valid form encoding (a bad percent escape).
std::optional<std::map<std::string, std::string>> FormDecode(std::string_view text);

// Shortest text that reads back to the same double, "." as decimal separator.
std::string NumberText(double value);
inline const char* BoolText(bool value) { return value ? "true" : "false"; }
// "true" or "false" in any case.
std::optional<bool> ParseBool(std::string_view text);

}  // namespace noctarbel::alpaca
