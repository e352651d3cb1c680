#include "tests/devices/indi/indi_fixture.h"

#include <chrono>

namespace noctarbel::testing {

namespace {

class SharedServerEnvironment : public ::testing::Environment {
 public:
  static SharedServerEnvironment*& Instance() {
    static SharedServerEnvironment* instance = nullptr;
    return instance;
  }
  IndiTestServer& Server() {
    if (!server_) server_ = std::make_unique<IndiTestServer>(folder_.Path());
    return *server_;
  }
  void TearDown() override { server_.reset(); }

 private:
  TempDir folder_;
  std::unique_ptr<IndiTestServer> server_;
};

// gtest stops the server after the last test, also when tests failed.
const bool kRegistered = [] {
  SharedServerEnvironment::Instance() =
      static_cast<SharedServerEnvironment*>(::testing::AddGlobalTestEnvironment(new SharedServerEnvironment));
  return true;
}();

void SendAndConfirm(const IndiTestServer& server, const std::string& device,
                    const std::function<bool(IndiClient&)>& send) {
  IndiClient client(IndiServerAddress{"localhost", server.Port()}, device);
  ASSERT_TRUE(client.WaitForProperty(device, {"CONNECTION"}, 5000));
  client.WaitUntilQuiet(200, 3000);
  ASSERT_TRUE(send(client));
}

}  // namespace

IndiTestServer& SharedIndiServer() { return SharedServerEnvironment::Instance()->Server(); }

void SetDeviceNumbers(const IndiTestServer& server, const std::string& device, const std::string& property,
                      const IndiNumbers& values) {
  SendAndConfirm(server, device,
                 [&](IndiClient& client) { return client.SendNumbers(device, property, values, IndiCompleted, 5000); });
}

void SetDeviceSwitches(const IndiTestServer& server, const std::string& device, const std::string& property,
                       const IndiSwitches& values) {
  SendAndConfirm(server, device,
                 [&](IndiClient& client) { return client.SendSwitches(device, property, values, IndiAnswered, 5000); });
}

IndiStationTest::IndiStationTest(IndiTestServer* server) : server_(server ? server : &SharedIndiServer()) {
  core = std::make_unique<StationCore>(*clock, StationPaths{dir.Path(), NOCTARBEL_SOURCE_DATA_DIR});
  core->Horizon = DefaultHorizonTable();
}

bool IndiStationTest::WaitUntil(const std::function<bool()>& test, int timeoutMs) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!test()) {
    if (std::chrono::steady_clock::now() > until) return false;
    clock->Sleep(50);
  }
  return true;
}

void IndiStationTest::WaitWhileSlewing(ITelescope& scope, int timeoutMs) {
  ASSERT_TRUE(WaitUntil([&] { return !scope.Slewing(); }, timeoutMs)) << "the mount is still slewing";
}

}  // namespace noctarbel::testing
