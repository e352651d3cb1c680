#pragma once
// What the four INDI drivers share: the connection to the device's server, the device's
// CONNECTION switch, reads of its properties and commands with their bounded confirmation.
// Every failure is a DeviceError that names the device.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "devices/device_interfaces.h"
#include "devices/indi/indi_client.h"

namespace noctarbel {

// DRIVER_INTERFACE bits of the device types the station drives.
inline constexpr int kIndiTelescopeInterface = 1 << 0;
inline constexpr int kIndiCcdInterface = 1 << 1;
inline constexpr int kIndiGuiderInterface = 1 << 2;
inline constexpr int kIndiFocuserInterface = 1 << 3;
inline constexpr int kIndiFilterInterface = 1 << 4;

class IndiDevice {
 public:
  // One of these properties must be there once the device is connected.
  using Essential = std::vector<std::string>;

  // Connects to the server and waits until it has told the device's properties. Throws
  // DeviceError when the server cannot be reached, does not offer the device, or the
  // device's driver is not of `interfaceBit` ("telescope" etc. in `typeName`).
  IndiDevice(const IndiDeviceAddress& address, int interfaceBit, const std::string& typeName,
             std::vector<Essential> essentials, std::string blobProperty = {}, IndiTimeouts timeouts = {});

  const std::string& Name() const { return address_.Device; }
  const IndiDeviceAddress& Address() const { return address_; }
  IndiClient& Client() { return *client_; }

  // The CONNECTION switch. Throws DeviceError when the server or the device is lost.
  bool Connected();
  // Connecting waits until the driver reports the connection and has told its essential
  // properties. Disconnecting a device whose server is gone does nothing.
  void SetConnected(bool connected);

  // Reads of a connected device. Get throws when the device does not offer the property.
  std::optional<IndiProperty> Find(const std::string& property);
  IndiProperty Get(const std::string& property);
  bool Has(const std::string& property) { return Find(property).has_value(); }
  double Number(const std::string& property, const std::string& element);
  bool IsOn(const std::string& property, const std::string& element);
  // Also while not connected (DRIVER_INFO is there before).
  std::string TextOf(const std::string& property, const std::string& element);
  // "CCD Simulator 1.0 (indi_simulator_ccd) on localhost:7624".
  std::string DriverInfo();

  // Commands on a connected device: throw DeviceError when the driver refuses them or does
  // not answer within the answer bound.
  void SetNumbers(const std::string& property, const IndiNumbers& values, const IndiAnswerTest& test);
  void SetSwitches(const std::string& property, const IndiSwitches& states, const IndiAnswerTest& test);
  // The same, but false instead of an error when no answer came within `waitMs`.
  bool TrySetNumbers(const std::string& property, const IndiNumbers& values, const IndiAnswerTest& test, int waitMs);

  // An error about this device.
  DeviceError Error(const std::string& what) const;
  // A command the driver did not answer in time, with the device's last message.
  DeviceError NoAnswer(const std::string& property);

 private:
  void RequireConnected();
  void WaitForEssentials();

  IndiDeviceAddress address_;
  std::vector<Essential> essentials_;
  std::unique_ptr<IndiClient> client_;
};

// Names of the types a DRIVER_INTERFACE offers, e.g. "telescope, guider".
std::string IndiInterfaceText(int interfaceBits);

}  // namespace noctarbel
