#include "devices/indi/indi_device.h"

#include "devices/device_interfaces.h"

namespace noctarbel {

namespace {

constexpr const char* kConnection = "CONNECTION";
// Quiet after the last definition that marks the end of a driver's burst of properties.
constexpr int kBurstMs = 150;

bool ConnectionIs(const IndiProperty& property, bool connected) {
  const IndiElement* element = property.Element(connected ? "CONNECT" : "DISCONNECT");
  return element && element->On;
}

}  // namespace

std::string IndiInterfaceText(int interfaceBits) {
  static const std::pair<int, const char*> kNames[] = {
      {kIndiTelescopeInterface, "telescope"}, {kIndiCcdInterface, "camera"},          {kIndiGuiderInterface, "guider"},
      {kIndiFocuserInterface, "focuser"},     {kIndiFilterInterface, "filter wheel"},
  };
  std::string text;
  for (const auto& [bit, name] : kNames) {
    if (!(interfaceBits & bit)) continue;
    if (!text.empty()) text += ", ";
    text += name;
  }
  return text.empty() ? "none of the station's device types" : text;
}

IndiDevice::IndiDevice(const IndiDeviceAddress& address, int interfaceBit, const std::string& typeName,
                       std::vector<Essential> essentials, std::string blobProperty, IndiTimeouts timeouts)
    : address_(address), essentials_(std::move(essentials)) {
  client_ = std::make_unique<IndiClient>(address_.Server, address_.Device, std::move(blobProperty), timeouts);
  if (!client_->WaitForProperty(address_.Device, {kConnection}, client_->Timeouts().DeviceMs)) {
    // A server that took the connection but said nothing at all is stopped, not empty.
    if (client_->Devices().empty()) throw DeviceError("INDI server " + address_.Server.Text() + " does not answer");
    throw DeviceError("INDI server " + address_.Server.Text() + " offers no device \"" + address_.Device + "\"");
  }
  client_->WaitUntilQuiet(kBurstMs, client_->Timeouts().DeviceMs);
  for (const IndiDeviceInfo& info : client_->Devices()) {
    if (info.Name == address_.Device && info.Interface != 0 && !(info.Interface & interfaceBit)) {
      throw DeviceError("INDI device \"" + address_.Device + "\" on " + address_.Server.Text() + " is not a " +
                        typeName + " (it is a " + IndiInterfaceText(info.Interface) + ")");
    }
  }
}

DeviceError IndiDevice::Error(const std::string& what) const { return DeviceError(address_.Device + ": " + what); }

bool IndiDevice::Connected() {
  auto connection = client_->Find(address_.Device, kConnection);
  return connection && connection->State != IndiState::Alert && ConnectionIs(*connection, true);
}

void IndiDevice::SetConnected(bool connected) {
  if (!connected) {
    try {
      client_->CheckAlive(address_.Device);
    } catch (const DeviceError&) {
      return;  // nothing left to disconnect
    }
  }
  auto connection = client_->Find(address_.Device, kConnection);
  if (!connection) throw Error("the driver has no CONNECTION switch");
  if (connection->State != IndiState::Busy && ConnectionIs(*connection, connected)) {
    if (connected) WaitForEssentials();
    return;
  }
  const bool answered = client_->SendSwitches(
      address_.Device, kConnection, {{"CONNECT", connected}, {"DISCONNECT", !connected}},
      [connected](const IndiProperty& p) {
        if (p.State == IndiState::Alert) return IndiVerdict::Refused;
        return p.State != IndiState::Busy && ConnectionIs(p, connected) ? IndiVerdict::Done : IndiVerdict::Wait;
      },
      client_->Timeouts().ConnectDeviceMs);
  if (!answered) {
    const std::string message = client_->LastMessage(address_.Device);
    throw Error(std::string(connected ? "did not connect" : "did not disconnect") + " within " +
                std::to_string(client_->Timeouts().ConnectDeviceMs / 1000) + " s" +
                (message.empty() ? "" : " (last message: " + message + ")"));
  }
  if (connected) WaitForEssentials();
}

void IndiDevice::WaitForEssentials() {
  // The driver tells its working properties in one burst right after it reports the
  // connection; the station reads none of them before the burst is over.
  for (const Essential& anyOf : essentials_) {
    if (!client_->WaitForProperty(address_.Device, anyOf, client_->Timeouts().DeviceMs)) {
      std::string names;
      for (const std::string& name : anyOf) names += (names.empty() ? "" : " or ") + name;
      throw Error("connected, but the driver does not offer " + names);
    }
  }
  client_->WaitUntilQuiet(kBurstMs, client_->Timeouts().DeviceMs);
}

void IndiDevice::RequireConnected() {
  if (!Connected()) throw Error("not connected");
}

std::optional<IndiProperty> IndiDevice::Find(const std::string& property) {
  RequireConnected();
  return client_->Find(address_.Device, property);
}

IndiProperty IndiDevice::Get(const std::string& property) {
  auto found = Find(property);
  if (!found) throw Error("the driver does not offer " + property);
  return *found;
}

namespace {

const IndiElement& RequireElement(const IndiDevice& device, const IndiProperty& property, const std::string& name) {
  const IndiElement* element = property.Element(name);
  if (!element) throw device.Error(property.Name + " has no element " + name);
  return *element;
}

}  // namespace

double IndiDevice::Number(const std::string& property, const std::string& element) {
  return RequireElement(*this, Get(property), element).Number;
}

bool IndiDevice::IsOn(const std::string& property, const std::string& element) {
  return RequireElement(*this, Get(property), element).On;
}

std::string IndiDevice::TextOf(const std::string& property, const std::string& element) {
  auto found = client_->Find(address_.Device, property);
  if (!found) return {};
  const IndiElement* e = found->Element(element);
  return e ? e->Text : std::string();
}

std::string IndiDevice::DriverInfo() {
  std::string text = TextOf("DRIVER_INFO", "DRIVER_NAME");
  if (text.empty()) text = address_.Device;
  const std::string version = TextOf("DRIVER_INFO", "DRIVER_VERSION");
  const std::string exec = TextOf("DRIVER_INFO", "DRIVER_EXEC");
  if (!version.empty()) text += " " + version;
  if (!exec.empty()) text += " (" + exec + ")";
  return text + " on " + address_.Server.Text();
}

DeviceError IndiDevice::NoAnswer(const std::string& property) {
  const std::string message = client_->LastMessage(address_.Device);
  return Error("no answer to " + property + " within " + std::to_string(client_->Timeouts().AnswerMs / 1000) + " s" +
               (message.empty() ? "" : " (last message: " + message + ")"));
}

void IndiDevice::SetNumbers(const std::string& property, const IndiNumbers& values, const IndiAnswerTest& test) {
  if (!TrySetNumbers(property, values, test, client_->Timeouts().AnswerMs)) throw NoAnswer(property);
}

bool IndiDevice::TrySetNumbers(const std::string& property, const IndiNumbers& values, const IndiAnswerTest& test,
                               int waitMs) {
  Get(property);
  return client_->SendNumbers(address_.Device, property, values, test, waitMs);
}

void IndiDevice::SetSwitches(const std::string& property, const IndiSwitches& states, const IndiAnswerTest& test) {
  Get(property);
  if (!client_->SendSwitches(address_.Device, property, states, test, client_->Timeouts().AnswerMs)) {
    throw NoAnswer(property);
  }
}

}  // namespace noctarbel
