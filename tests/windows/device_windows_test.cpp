// "Connect all", the station's device hooks and the horizon scan window.

#include <gtest/gtest.h>

#include "windows/device_windows.h"
#include "windows/focuser_window.h"
#include "windows/horizon_window.h"
#include "windows/observatory_window.h"
#include "tests/operations/device_fixture.h"

namespace noctarbel::testing {
namespace {

class DeviceHandlersTest : public DeviceFixture {
 protected:
  Controls& Horizon() { return station->Form("HorizonForm"); }
};

TEST_F(DeviceHandlersTest, ConnectAllConnectsTheChosenDevicesInOrder) {
  Settings().EnableObservatoryControl = true;
  Settings().CameraObject = "sim:camera";
  station->Observatory.ControllerPathOverride = (dir / "no-controller").string();
  std::vector<std::string> seen;
  // The camera part's connect; here it records what was connected before it.
  station->Hooks.ConnectCamera = [&] {
    seen.push_back(std::string("camera after telescope=") + (station->Mount.Connected() ? "yes" : "no") +
                   " io-message=" + (ui.messages.empty() ? "no" : ui.messages.front()) +
                   " focuser=" + (station->Devices.Focuser ? "yes" : "no"));
  };
  station->Activate("ConnectAllBtn");
  EXPECT_TRUE(station->Mount.Connected());
  EXPECT_TRUE(station->Focuser.Linked());
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], "camera after telescope=yes io-message=Observatory I/O error focuser=no");
  EXPECT_FALSE(Main().Enabled("ConnectAllBtn"));
}

TEST_F(DeviceHandlersTest, ConnectAllSkipsWhatIsNotChosenOrAlreadyConnected) {
  ConnectScope();
  auto scope = station->Devices.Telescope;
  Settings().FocuserObject.clear();
  station->Activate("ConnectAllBtn");
  EXPECT_EQ(station->Devices.Telescope, scope);
  EXPECT_FALSE(station->Devices.Focuser);
  EXPECT_TRUE(ui.messages.empty());  // observatory control is off: no I/O connect
}

TEST_F(DeviceHandlersTest, HooksReportAndDisconnectTheDevices) {
  EXPECT_FALSE(station->Hooks.AnyDeviceConnected());
  ConnectScope();
  station->Activate("FocusConnectButton");
  EXPECT_TRUE(station->Hooks.AnyDeviceConnected());
  EXPECT_FALSE(station->Hooks.CameraCoolerOn());
  station->Hooks.DisconnectDevices();
  EXPECT_FALSE(station->Devices.Telescope);
  EXPECT_FALSE(station->Devices.Focuser);
  EXPECT_FALSE(station->Hooks.AnyDeviceConnected());
  EXPECT_FALSE(station->Timer1.Enabled());
  EXPECT_FALSE(station->FocusTimer.Enabled());
}

TEST_F(DeviceHandlersTest, TheHorizonWindowNeedsATelescope) {
  station->Activate("HorizonButton");
  EXPECT_EQ(ui.LastMessage(), "Telescope not connected");
  EXPECT_TRUE(ui.shownForms.empty());
  EXPECT_EQ(Horizon().Text("FilenameEdit"), "horizon0.txt");
}

TEST_F(DeviceHandlersTest, TheHorizonWindowRecordsPointsAndSavesThem) {
  ConnectScope();
  PlaceMount(0.4, 12.34);
  station->Activate("HorizonButton");
  EXPECT_EQ(ui.shownForms, (std::vector<std::string>{"HorizonForm"}));
  clock->Sleep(1000);
  EXPECT_EQ(Horizon().Text("AZEdit"), "0");
  EXPECT_EQ(Horizon().Text("HeightEdit"), "12.3");
  station->Activate("HorizonForm", "RegisterButton");
  PlaceMount(123.6, 5.06);
  clock->Sleep(1000);
  station->Activate("HorizonForm", "FormKeyDown");  // the space bar
  HorizonFormKeyDown(*station, 'a');                // other keys do nothing
  EXPECT_EQ(Horizon().Text("Memo1"), "0 12.3\n124 5.1");

  station->Activate("HorizonForm", "Savebutton");
  EXPECT_EQ(ReadFile(dir / "horizon0.txt"), "0 12.3\r\n124 5.1\r\n");
  EXPECT_TRUE(ui.questions.empty());

  // The file exists now: asked, and No keeps it.
  Horizon().SetText("Memo1", "10 1.0");
  station->Activate("HorizonForm", "Savebutton");
  EXPECT_EQ(ui.questions.back(), "Overwrite existing file? ");
  EXPECT_EQ(ReadFile(dir / "horizon0.txt"), "0 12.3\r\n124 5.1\r\n");
  ui.answers = {true};
  station->Activate("HorizonForm", "Savebutton");
  EXPECT_EQ(ReadFile(dir / "horizon0.txt"), "10 1.0\r\n");

  // Only the file name counts: the file stays in the station folder.
  Horizon().SetText("FilenameEdit", "../elsewhere/mine.txt");
  station->Activate("HorizonForm", "Savebutton");
  EXPECT_TRUE(std::filesystem::exists(dir / "mine.txt"));

  station->Activate("HorizonForm", "Cancel");
  EXPECT_EQ(ui.hiddenForms, (std::vector<std::string>{"HorizonForm"}));
  PlaceMount(200, 40);
  clock->Sleep(2000);
  EXPECT_EQ(Horizon().Text("AZEdit"), "124");  // the timer stopped with the window
}

}  // namespace
}  // namespace noctarbel::testing
