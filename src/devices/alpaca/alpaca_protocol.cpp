#include "devices/alpaca/alpaca_protocol.h"

#include "common/number_text.h"

namespace noctarbel::alpaca {

namespace {

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
         c == '.' || c == '~';
}

void AppendEncoded(std::string& out, std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : text) {
    if (IsUnreserved(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> Decoded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

// A decimal number without sign or anything else, within 0..max.
std::optional<int> ParseBounded(std::string_view text, int max) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  auto value = ParseInt64(text);
  if (!value || *value > max) return std::nullopt;
  return static_cast<int>(*value);
}

}  // namespace

const char* UrlTypeName(DeviceType type) {
  switch (type) {
    case DeviceType::Telescope:
      return "telescope";
    case DeviceType::Camera:
      return "camera";
    case DeviceType::Focuser:
      return "focuser";
    case DeviceType::FilterWheel:
      return "filterwheel";
  }
  return "";
}

std::optional<DeviceType> DeviceTypeFromUrlName(std::string_view name) {
  for (DeviceType type : AllDeviceTypes()) {
    if (name == UrlTypeName(type)) return type;
  }
  return std::nullopt;
}

const char* ManagementTypeName(DeviceType type) {
  switch (type) {
    case DeviceType::Telescope:
      return "Telescope";
    case DeviceType::Camera:
      return "Camera";
    case DeviceType::Focuser:
      return "Focuser";
    case DeviceType::FilterWheel:
      return "FilterWheel";
  }
  return "";
}

std::optional<DeviceType> DeviceTypeFromAnyName(std::string_view name) {
  return DeviceTypeFromUrlName(ToLowerAscii(TrimBlanks(name)));
}

std::string Endpoint::Text() const {
  const bool ipv6 = Host.find(':') != std::string::npos;
  return (ipv6 ? "[" + Host + "]" : Host) + ":" + std::to_string(Port);
}

std::optional<Endpoint> ParseEndpoint(std::string_view text) {
  text = TrimBlanks(text);
  Endpoint endpoint;
  std::string_view port;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') return std::nullopt;
    endpoint.Host = std::string(text.substr(1, close - 1));
    port = text.substr(close + 2);
  } else {
    const size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || text.find(':') != colon) return std::nullopt;
    endpoint.Host = std::string(text.substr(0, colon));
    port = text.substr(colon + 1);
  }
  if (endpoint.Host.empty() || endpoint.Host.find_first_of(" /?#@") != std::string::npos) return std::nullopt;
  auto number = ParseBounded(port, 65535);
  if (!number || *number == 0) return std::nullopt;
  endpoint.Port = *number;
  return endpoint;
}

std::vector<Endpoint> ParseHostList(std::string_view text) {
  std::vector<Endpoint> hosts;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = text.find_first_of(",; \t", start);
    const std::string_view entry = text.substr(start, end == std::string_view::npos ? text.npos : end - start);
    if (auto endpoint = ParseEndpoint(entry)) {
      bool known = false;
      for (const auto& host : hosts) known = known || host == *endpoint;
      if (!known) hosts.push_back(*endpoint);
    }
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return hosts;
}

std::string DeviceAddress::Identifier() const {
  return "alpaca://" + Server.Text() + "/" + UrlTypeName(Type) + "/" + std::to_string(Number);
}

std::string DeviceAddress::MemberPath(std::string_view member) const {
  return "/api/v1/" + std::string(UrlTypeName(Type)) + "/" + std::to_string(Number) + "/" + std::string(member);
}

DeviceAddress ParseIdentifier(std::string_view identifier) {
  const std::string_view text = TrimBlanks(identifier);
  auto fail = [&](const std::string& why) -> DeviceError {
    return DeviceError("\"" + std::string(identifier) + "\" is not an Alpaca device (" + why +
                       "; expected alpaca://HOST:PORT/TYPE/N)");
  };
  constexpr std::string_view kScheme = "alpaca://";
  if (text.size() < kScheme.size() || !EqualsIgnoreCase(text.substr(0, kScheme.size()), kScheme)) {
    throw fail("no alpaca:// prefix");
  }
  const std::string_view rest = text.substr(kScheme.size());
  const size_t typeStart = rest.find('/', rest.empty() || rest.front() != '[' ? 0 : rest.find(']'));
  if (typeStart == std::string_view::npos) throw fail("no device type");
  auto server = ParseEndpoint(rest.substr(0, typeStart));
  if (!server) throw fail("no HOST:PORT");
  const std::string_view path = rest.substr(typeStart + 1);
  const size_t slash = path.find('/');
  if (slash == std::string_view::npos) throw fail("no device number");
  auto type = DeviceTypeFromAnyName(path.substr(0, slash));
  if (!type) throw fail("unknown device type \"" + std::string(path.substr(0, slash)) + "\"");
  auto number = ParseBounded(path.substr(slash + 1), 2147483647);
  if (!number) throw fail("device number \"" + std::string(path.substr(slash + 1)) + "\"");
  return DeviceAddress{*server, *type, *number};
}

std::string FormEncode(const Params& params) {
  std::string out;
  for (const auto& [key, value] : params) {
    if (!out.empty()) out += '&';
    AppendEncoded(out, key);
    out += '=';
    AppendEncoded(out, value);
  }
  return out;
}

std::optional<std::map<std::string, std::string>> FormDecode(std::string_view text) {
  std::map<std::string, std::string> params;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('&', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view pair = text.substr(start, end - start);
    start = end + 1;
    if (pair.empty()) continue;
    const size_t equals = pair.find('=');
    auto key = Decoded(pair.substr(0, equals));
    auto value = Decoded(equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1));
    if (!key || !value) return std::nullopt;
    params.emplace(ToLowerAscii(*key), std::move(*value));
  }
  return params;
}

std::string NumberText(double value) { return FormatShortest(value); }

std::optional<bool> ParseBool(std::string_view text) {
  text = TrimBlanks(text);
  if (EqualsIgnoreCase(text, "true")) return true;
  if (EqualsIgnoreCase(text, "false")) return false;
  return std::nullopt;
}

}  // namespace noctarbel::alpaca
