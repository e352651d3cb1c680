// A lost server never hangs the station: a server killed or stopped (SIGSTOP) in the middle
// of an exposure or a slew, and a device whose driver dies, turn into DeviceError within a few
// seconds, while a timer of the station's runtime keeps firing. Each test has its own server.

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>

#include "tests/devices/indi/indi_fixture.h"

namespace noctarbel::testing {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Made before the station's fixture, which is given this server.
struct OwnServer {
  TempDir serverFolder;
  std::unique_ptr<IndiTestServer> server = std::make_unique<IndiTestServer>(serverFolder.Path());
};

class IndiFaultTest : private OwnServer, public IndiStationTest {
 protected:
  IndiFaultTest() : IndiStationTest(server.get()) {}

  // Calls `read` between the station's waits (the station's way of watching a device) until
  // it throws; returns the error and how long it took. A timer of the runtime counts its
  // ticks meanwhile.
  std::string FirstError(const std::function<void()>& read, double& seconds, int& ticks) {
    Timer timer(*clock, 100);
    int count = 0;
    timer.SetHandler([&] { ++count; });
    timer.Start();
    OperationContext op = Op();
    const auto start = SteadyClock::now();
    std::string error;
    while (error.empty() && SteadyClock::now() - start < std::chrono::seconds(20)) {
      op.Wait(100);
      try {
        read();
      } catch (const DeviceError& e) {
        error = e.what();
      }
    }
    seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
    ticks = count;
    return error;
  }
};

TEST_F(IndiFaultTest, ServerKilledMidExposure) {
  auto camera = MakeIndiCamera(Address(kCcd));
  camera->SetConnected(true);
  camera->StartExposure(10, true);
  clock->Sleep(300);
  Server().Kill();
  double seconds = 0;
  int ticks = 0;
  const std::string error = FirstError([&] { camera->ImageReady(); }, seconds, ticks);
  EXPECT_NE(error.find("closed the connection"), std::string::npos) << error;
  EXPECT_LT(seconds, 3.0);
  EXPECT_GE(ticks, static_cast<int>(seconds * 10) - 2);
  // Everything else fails the same way, at once; releasing it does not.
  EXPECT_THROW(camera->StopExposure(), DeviceError);
  EXPECT_THROW(camera->Connected(), DeviceError);
  camera->SetConnected(false);
  // A server that is gone cannot be connected to.
  EXPECT_THROW(MakeIndiCamera(Address(kCcd)), DeviceError);
}

TEST_F(IndiFaultTest, ServerStoppedMidExposureAndBackAgain) {
  auto camera = MakeIndiCamera(Address(kCcd));
  camera->SetConnected(true);
  auto wheel = MakeIndiFilterWheel(Address(kWheel));
  wheel->SetConnected(true);
  camera->StartExposure(10, true);
  clock->Sleep(300);
  Server().Pause();
  double seconds = 0;
  int ticks = 0;
  const std::string error = FirstError([&] { camera->ImageReady(); }, seconds, ticks);
  EXPECT_NE(error.find("does not answer"), std::string::npos) << error;
  EXPECT_LT(seconds, 6.0);
  EXPECT_GE(ticks, static_cast<int>(seconds * 10) - 2);
  // A command to the stopped server is bounded too.
  auto start = SteadyClock::now();
  EXPECT_THROW(camera->StopExposure(), DeviceError);
  EXPECT_LT(std::chrono::duration<double>(SteadyClock::now() - start).count(), 5.0);
  // So is letting go of a device whose connection has not noticed yet (as a program does on
  // its way out): by the ping's bound, not the 15 s a driver may take to (dis)connect.
  start = SteadyClock::now();
  try {
    wheel->SetConnected(false);
  } catch (const DeviceError& e) {
    EXPECT_NE(std::string(e.what()).find("does not answer"), std::string::npos) << e.what();
  }
  EXPECT_LT(std::chrono::duration<double>(SteadyClock::now() - start).count(), 10.0);
  // So is connecting to it (the kernel still takes the connection).
  try {
    MakeIndiFocuser(Address(kFocuser));
    ADD_FAILURE() << "connected to a stopped server";
  } catch (const DeviceError& e) {
    EXPECT_NE(std::string(e.what()).find("does not answer"), std::string::npos) << e.what();
  }

  Server().Resume();
  EXPECT_TRUE(WaitUntil(
      [&] {
        try {
          camera->ImageReady();
          return true;
        } catch (const DeviceError&) {
          return false;
        }
      },
      5000));
}

TEST_F(IndiFaultTest, ServerStoppedMidSlew) {
  core->Settings.TelescopeObject = Id(kTelescope);
  std::string connectError;
  ASSERT_TRUE(core->Mount.Connect(&connectError)) << connectError;
  auto scope = core->Devices.Telescope;
  // Far away: the slew takes longer than the test.
  scope->SetTracking(true);
  scope->SetTargetRightAscension(std::fmod(scope->RightAscension() + 10.0, 24.0));
  scope->SetTargetDeclination(-40);
  scope->SlewToTargetAsync();
  ASSERT_TRUE(scope->Slewing());
  Server().Pause();
  double seconds = 0;
  int ticks = 0;
  const std::string error = FirstError([&] { scope->Slewing(); }, seconds, ticks);
  EXPECT_NE(error.find("does not answer"), std::string::npos) << error;
  EXPECT_LT(seconds, 6.0);
  EXPECT_GE(ticks, static_cast<int>(seconds * 10) - 2);

  // To the station the mount is no longer connected: its own slew is refused at once.
  EXPECT_FALSE(core->Mount.Connected());
  OperationContext op = Op();
  EXPECT_FALSE(core->Mount.SlewAndWait(op, 1.0, -40));

  // A command that went out just before the server stopped fails within its bound.
  Server().Resume();
  ASSERT_TRUE(WaitUntil([&] { return core->Mount.Connected(); }, 5000));
  Server().Pause();
  const auto start = SteadyClock::now();
  EXPECT_THROW(scope->AbortSlew(), DeviceError);
  EXPECT_LT(std::chrono::duration<double>(SteadyClock::now() - start).count(), 5.0);
}

TEST_F(IndiFaultTest, ServerKilledMidSlew) {
  core->Settings.TelescopeObject = Id(kTelescope);
  std::string connectError;
  ASSERT_TRUE(core->Mount.Connect(&connectError)) << connectError;
  auto scope = core->Devices.Telescope;
  scope->SetTargetRightAscension(std::fmod(scope->RightAscension() + 10.0, 24.0));
  scope->SetTargetDeclination(-40);
  scope->SlewToTargetAsync();
  Server().Kill();
  double seconds = 0;
  int ticks = 0;
  const std::string error = FirstError([&] { scope->Slewing(); }, seconds, ticks);
  EXPECT_NE(error.find("closed the connection"), std::string::npos) << error;
  EXPECT_LT(seconds, 3.0);
  // The status poll sees a failing driver and the station lets it go.
  EXPECT_FALSE(core->Mount.Connected());
}

TEST_F(IndiFaultTest, DeviceWhoseDriverDies) {
  core->Settings.FocuserObject = Id(kFocuser);
  std::string connectError;
  ASSERT_TRUE(core->Focuser.Connect(&connectError)) << connectError;
  auto focuser = core->Devices.Focuser;
  const pid_t driver = Server().DriverPid("indi_simulator_focus");
  ASSERT_GT(driver, 0);
  ::kill(driver, SIGKILL);
  double seconds = 0;
  int ticks = 0;
  const std::string error = FirstError([&] { focuser->Position(); }, seconds, ticks);
  EXPECT_NE(error.find("\"Focuser Simulator\" has gone"), std::string::npos) << error;
  EXPECT_LT(seconds, 3.0);
  OperationContext op = Op();
  EXPECT_FALSE(core->Focuser.MoveTo(op, 1000));
  // The other devices of the server go on.
  auto wheel = MakeIndiFilterWheel(Address(kWheel));
  wheel->SetConnected(true);
  EXPECT_GE(wheel->Position(), -1);
  // A device the server does not have is named.
  try {
    MakeIndiFocuser(Address(kFocuser));
    ADD_FAILURE() << "made a focuser without its driver";
  } catch (const DeviceError& e) {
    EXPECT_NE(std::string(e.what()).find("offers no device \"Focuser Simulator\""), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace noctarbel::testing
