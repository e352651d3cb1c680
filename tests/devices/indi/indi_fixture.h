#pragma once
// The INDI tests run against the real indiserver and its simulator drivers. Most share one
// server (started on first use, stopped after the last test); the fault tests start their own
// to kill or stop it. A station core on the real clock has the simulators' identifiers in its
// settings.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "common/event_runtime.h"
#include "operations/station_core.h"
#include "devices/indi/indi_address.h"
#include "devices/indi/indi_client.h"
#include "devices/indi/indi_devices.h"
#include "indi_test_server.h"
#include "tests/test_support.h"

namespace noctarbel::testing {

inline constexpr const char* kTelescope = "Telescope Simulator";
inline constexpr const char* kCcd = "CCD Simulator";
inline constexpr const char* kFocuser = "Focuser Simulator";
inline constexpr const char* kWheel = "Filter Simulator";

// The server the tests of this program share.
IndiTestServer& SharedIndiServer();

inline IndiDeviceAddress AddressOn(const IndiTestServer& server, const std::string& device) {
  return IndiDeviceAddress{IndiServerAddress{"localhost", server.Port()}, device};
}

// Sets numbers of a device as a client of its own would (simulator settings the station never
// touches), confirmed by the driver.
void SetDeviceNumbers(const IndiTestServer& server, const std::string& device, const std::string& property,
                      const IndiNumbers& values);
void SetDeviceSwitches(const IndiTestServer& server, const std::string& device, const std::string& property,
                       const IndiSwitches& values);

class IndiStationTest : public ::testing::Test {
 protected:
  explicit IndiStationTest(IndiTestServer* server = nullptr);

  IndiTestServer& Server() { return *server_; }
  IndiDeviceAddress Address(const std::string& device) { return AddressOn(*server_, device); }
  std::string Id(const std::string& device) { return Address(device).Identifier(); }
  DeviceContext Context() { return core->MakeDeviceContext(); }
  OperationContext Op() { return core->BeginOperation(); }

  // Pumps the station's runtime until the test holds; false after `timeoutMs`.
  bool WaitUntil(const std::function<bool()>& test, int timeoutMs);
  // The mount's slew, waited for as the station waits.
  void WaitWhileSlewing(ITelescope& scope, int timeoutMs = 60000);

  TempDir dir;
  std::unique_ptr<EventRuntime> clock = EventRuntime::WithRealClock();
  std::unique_ptr<StationCore> core;

 private:
  IndiTestServer* server_;
};

}  // namespace noctarbel::testing
