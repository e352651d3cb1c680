#pragma once
// How the server describes a device's members: for each lower-case member name what a GET
// returns and what a PUT does, both run on the simulators' thread. Members read their
// parameters through CallParams, which refuses a missing or malformed one (HTTP 400); a
// device-level refusal is a Fault with its error number (HTTP 200 with ErrorNumber).
// Members read their parameters before they touch the device, and reach the device through
// accessors that refuse while it is disconnected (0x407): a malformed request is told so
// whatever the device's state, as a server that parses before it calls its driver does.

#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>

#include "common/datetime.h"
#include "devices/alpaca/alpaca_protocol.h"
#include "devices/device_interfaces.h"

namespace noctarbel::alpaca {

struct SimDevices;

// The request cannot be understood: HTTP 400 with this text.
class BadRequest : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The device refuses: HTTP 200 with this error number and text.
class Fault : public std::runtime_error {
 public:
  Fault(int number, const std::string& what) : std::runtime_error(what), number_(number) {}
  int Number() const { return number_; }

 private:
  int number_;
};

// A request's parameters, keys lower-cased (names are case-insensitive).
class CallParams {
 public:
  explicit CallParams(std::map<std::string, std::string> values) : values_(std::move(values)) {}

  // Each throws BadRequest naming the parameter when it is missing or does not parse.
  double Double(const char* name) const;
  int Int(const char* name) const;
  bool Bool(const char* name) const;
  std::string String(const char* name) const;

 private:
  const std::string& Raw(const char* name) const;

  std::map<std::string, std::string> values_;
};

using JsonValue = nlohmann::ordered_json;
using MemberGet = std::function<JsonValue(SimDevices&, const CallParams&)>;
using MemberPut = std::function<void(SimDevices&, const CallParams&)>;
using MemberImage = std::function<std::shared_ptr<const ImageArrayData>(SimDevices&)>;

struct MemberEntry {
  MemberGet Get;  // empty: no GET (a method)
  MemberPut Put;  // empty: read-only
  MemberImage Image;
  // A synchronous method: the answer waits until the mount stops slewing.
  bool AwaitsSlew = false;
};

using MemberTable = std::map<std::string, MemberEntry>;

// A value the device has not got (0x402) unless set.
template <typename T>
const T& Known(const std::optional<T>& value, const char* what) {
  if (!value) throw Fault(kValueNotSet, std::string(what) + " has not been set");
  return *value;
}

// Refuses with 0x407 unless connected.
void RequireConnected(bool connected, const char* device);

// "YYYY-MM-DDThh:mm:ss.sss", with a trailing "Z" when zulu is set.
std::string UtcIsoText(DateTime utc, bool zulu);

// Refuses a value outside [low, high] with 0x401.
void CheckRange(double value, double low, double high, const char* name);

// The members of each device type, over the simulators.
MemberTable TelescopeMembers();
MemberTable CameraMembers();
MemberTable FocuserMembers();
MemberTable FilterWheelMembers();
// The members every device type has (connected, description, ...), given how to reach the
// device's connection and texts.
struct CommonInfo {
  std::function<bool(SimDevices&)> Connected;
  std::function<void(SimDevices&, bool)> SetConnected;
  std::function<std::string(SimDevices&)> Name;
  std::function<std::string(SimDevices&)> Description;
  std::function<std::string(SimDevices&)> DriverInfo;
  std::function<std::string(SimDevices&)> DriverVersion;
  int InterfaceVersion = 1;
};
void AddCommonMembers(MemberTable& table, const CommonInfo& info);

// A getter that returns a value known without parameters.
template <typename F>
MemberGet Value(F f) {
  return [f](SimDevices& d, const CallParams&) { return JsonValue(f(d)); };
}

// A member the simulators do not have.
MemberGet NotImplementedGet(const char* what);
MemberPut NotImplementedPut(const char* what);

}  // namespace noctarbel::alpaca
