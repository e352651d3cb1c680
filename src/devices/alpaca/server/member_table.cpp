#include "devices/alpaca/server/member_table.h"

#include <cstdio>

#include "common/number_text.h"

namespace noctarbel::alpaca {

const std::string& CallParams::Raw(const char* name) const {
  const auto it = values_.find(ToLowerAscii(name));
  if (it == values_.end()) throw BadRequest(std::string("Missing parameter ") + name);
  return it->second;
}

double CallParams::Double(const char* name) const {
  const std::string& text = Raw(name);
  auto value = ParseFloat(text);
  if (!value) throw BadRequest(std::string("Parameter ") + name + " is not a number: \"" + text + "\"");
  return *value;
}

int CallParams::Int(const char* name) const {
  const std::string& text = Raw(name);
  auto value = ParseInt(text);
  if (!value) throw BadRequest(std::string("Parameter ") + name + " is not an integer: \"" + text + "\"");
  return *value;
}

bool CallParams::Bool(const char* name) const {
  const std::string& text = Raw(name);
  auto value = ParseBool(text);
  if (!value) throw BadRequest(std::string("Parameter ") + name + " is not true or false: \"" + text + "\"");
  return *value;
}

std::string CallParams::String(const char* name) const { return Raw(name); }

void RequireConnected(bool connected, const char* device) {
  if (!connected) throw Fault(kNotConnected, std::string("The ") + device + " is not connected");
}

std::string UtcIsoText(DateTime utc, bool zulu) {
  const CivilDateTime t = DecodeDateTime(utc);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%s", t.year, t.month, t.day, t.hour, t.minute,
                t.second, t.millisecond, zulu ? "Z" : "");
  return text;
}

void CheckRange(double value, double low, double high, const char* name) {
  if (!(value >= low && value <= high)) {
    throw Fault(kInvalidValue, std::string(name) + " " + FormatGeneral(value) + " is outside " + FormatGeneral(low) +
                                   " to " + FormatGeneral(high));
  }
}

MemberGet NotImplementedGet(const char* what) {
  const std::string text = std::string(what) + " is not implemented by this simulator";
  return [text](SimDevices&, const CallParams&) -> JsonValue { throw Fault(kNotImplemented, text); };
}

MemberPut NotImplementedPut(const char* what) {
  const std::string text = std::string(what) + " cannot be set on this simulator";
  return [text](SimDevices&, const CallParams&) { throw Fault(kNotImplemented, text); };
}

void AddCommonMembers(MemberTable& table, const CommonInfo& info) {
  auto common = [&](const char* member, MemberGet get) { table[member].Get = std::move(get); };
  common("connected", Value(info.Connected));
  table["connected"].Put = [set = info.SetConnected](SimDevices& d, const CallParams& p) {
    set(d, p.Bool("Connected"));
  };
  common("description", Value(info.Description));
  common("driverinfo", Value(info.DriverInfo));
  common("driverversion", Value(info.DriverVersion));
  common("interfaceversion", Value([version = info.InterfaceVersion](SimDevices&) { return version; }));
  common("name", Value(info.Name));
  common("supportedactions", Value([](SimDevices&) { return std::vector<std::string>{}; }));

  // Actions and raw commands: the simulators have none. Their parameters are still read,
  // so that a malformed request is told so.
  table["action"].Put = [](SimDevices&, const CallParams& p) {
    const std::string name = p.String("Action");
    p.String("Parameters");
    throw Fault(kActionNotImplemented, "Action \"" + name + "\" is not implemented by this simulator");
  };
  for (const char* command : {"commandblind", "commandbool", "commandstring"}) {
    table[command].Put = [command](SimDevices&, const CallParams& p) {
      p.String("Command");
      p.String("Raw");
      throw Fault(kNotImplemented, std::string(command) + " is not implemented by this simulator");
    };
  }
}

}  // namespace noctarbel::alpaca
