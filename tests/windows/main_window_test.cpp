#include "windows/main_window.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include "station/plan_columns.h"
#include "tests/station_fixture.h"

namespace noctarbel {
namespace {

using testing::ReadFile;
using testing::WriteFile;

class MainWindow : public testing::StationFixture {
 protected:
  void SetUp() override { CreateForms(*station); }
  Controls& main() { return station->Main; }
};

TEST_F(MainWindow, StartUpCreatesTheWindowsInOrderAndTheTables) {
  EXPECT_EQ(station->CreatedForms,
            (std::vector<std::string>{"PilotForm1", "SetupForm1", "TestForm1", "ImgShowform", "CalibrateForm1",
                                      "AutofocusForm", "HorizonForm", "GuidingtestForm", "CameraInfo"}));
  EXPECT_EQ(station->Planer1.Row(0), PlanColumnTitles());
  EXPECT_EQ(station->Planer1.RowCount(), 2);
  for (const char* name : {"ExecuteButton", "PauseButton", "PlayButton", "StopBtn", "WebmonitorCheck"}) {
    EXPECT_FALSE(main().Enabled(name)) << name << " before a plan is loaded";
  }
  EXPECT_TRUE(std::filesystem::exists(dir / "focustable.txt")) << "the settings dialog loads the tables";
}

TEST_F(MainWindow, FirstShowingMirrorsSettingsAndStartsTheStatusTimer) {
  WriteFile(station->SettingsFilePath(),
            "[Kamera]\r\nCameraCoolerTemp=-12\r\n[Teleskop]\r\nSyncRange=9\r\n"
            "[Profile]\r\nProfileName=winter\r\n");
  WriteFile(dir / "focustable.txt", "park,1000\r\nwinter,1450\r\n");
  Restart();
  CreateForms(*station);
  PilotFormShow(*station);
  EXPECT_EQ(main().IntValue("CoolerTempEdit"), -12);
  EXPECT_EQ(main().IntValue("SYrangeEdit"), 9);
  EXPECT_EQ(main().Text("ProfilenameEdit"), "winter");
  EXPECT_EQ(main().Items("FocusComboBox"), (std::vector<std::string>{"park", "winter"}));
  EXPECT_TRUE(station->StatusTimer.Enabled());
  // Observatory control is off by default: its controls are disabled and the lamp is grey.
  EXPECT_FALSE(main().Enabled("DomeGroupBox"));
  EXPECT_FALSE(main().Enabled("DachzuCheckBox"));
  EXPECT_EQ(main().Colour("LED2"), "grey");
}

// The status page serves from start-up when the setting names this computer, and is refused
// (with a log line) beyond it without a token.
TEST_F(MainWindow, TheStatusPageStartsWithTheWindowWhenSet) {
  struct Case {
    const char* Address;
    bool Serves;
  };
  for (const Case c : {Case{"127.0.0.1:0", true}, Case{"0.0.0.0:0", false}}) {
    WriteFile(station->SettingsFilePath(), std::string("[Linux]\r\nStatusPage=") + c.Address + "\r\n");
    Restart();
    CreateForms(*station);
    ASSERT_EQ(station->StatusPage != nullptr, c.Serves) << c.Address;
    if (c.Serves) {
      httplib::Client http("127.0.0.1", station->StatusPage->Port());
      const auto reply = http.Get("/api/status");
      ASSERT_TRUE(reply);
      EXPECT_EQ(reply->status, 200);
    } else {
      EXPECT_NE(station->Log.Last().find("The status page did not start"), std::string::npos) << station->Log.Last();
    }
  }
}

TEST_F(MainWindow, PauseAndPlaySwitchTheLamp) {
  main().SetEnabled("PauseButton", true);
  PauseButtonClick(*station);
  EXPECT_TRUE(station->Run.PauseRequested);
  EXPECT_EQ(main().Colour("ExecLight"), "yellow");
  EXPECT_FALSE(main().Enabled("PauseButton"));
  EXPECT_TRUE(main().Enabled("PlayButton"));
  PlayButtonClick(*station);
  EXPECT_FALSE(station->Run.PauseRequested);
  EXPECT_EQ(main().Colour("ExecLight"), "lime");
  EXPECT_TRUE(main().Enabled("PauseButton"));
  EXPECT_FALSE(main().Enabled("PlayButton"));
  main().SetEnabled("StopBtn", true);
  StopBtnClick(*station);
  EXPECT_TRUE(station->Run.AbortRequested);
  EXPECT_FALSE(main().Enabled("StopBtn"));
}

TEST_F(MainWindow, ClosingWithoutDevicesAsksNothing) {
  EXPECT_TRUE(FormCloseQuery(*station));
  EXPECT_TRUE(ui.questions.empty());
  EXPECT_TRUE(station->Run.AbortRequested) << "a test run waiting somewhere stops";
}

TEST_F(MainWindow, ExitDuringARunAnsweredNoLeavesTheRunGoing) {
  station->Run.PlanRunning = true;
  ui.answers = {false};
  EXPECT_FALSE(ExitButtonClick(*station));
  EXPECT_EQ(ui.questions, (std::vector<std::string>{"Abort procedure? "}));
  EXPECT_FALSE(station->Run.AbortRequested);
  EXPECT_TRUE(main().Enabled("ExitButton"));
}

TEST_F(MainWindow, ExitWithTheCoolerOnStopsWithTheWarmUpMessage) {
  bool disconnected = false;
  station->Hooks.CameraCoolerOn = [] { return true; };
  station->Hooks.DisconnectDevices = [&] { disconnected = true; };
  DateTime before = station->Clock.UtcNow();
  EXPECT_FALSE(ExitButtonClick(*station));
  EXPECT_EQ(ui.LastMessage(), "Camera warm up (or cooler off) required");
  EXPECT_FALSE(disconnected);
  EXPECT_TRUE(main().Enabled("ExitButton"));
  EXPECT_NEAR((station->Clock.UtcNow() - before) * kSecondsPerDay, 2.0, 0.01) << "waits 2 s for a running plan";
}

TEST_F(MainWindow, CloseQueryWithDevicesRunsExit) {
  bool disconnected = false;
  station->Hooks.AnyDeviceConnected = [] { return true; };
  station->Hooks.DisconnectDevices = [&] { disconnected = true; };
  ui.answers = {false};
  EXPECT_FALSE(FormCloseQuery(*station));
  EXPECT_FALSE(disconnected);
  ui.answers = {true};
  EXPECT_TRUE(FormCloseQuery(*station));
  EXPECT_TRUE(disconnected);
  EXPECT_FALSE(main().Enabled("ExitButton"));
}

TEST_F(MainWindow, WebmonitorCheckWritesATestFileOrComplains) {
  main().SetChecked("ViewerControlCheck", true);
  ViewerControlCheckClick(*station);
  EXPECT_TRUE(main().Enabled("WebmonitorCheck"));
  std::filesystem::create_directories(dir / "web");
  station->Settings.WebmonitorPathname = (dir / "web" / "monitor.jpg").string();
  main().SetChecked("WebmonitorCheck", true);
  WebmonitorCheckClick(*station);
  EXPECT_EQ(ReadFile(dir / "web" / "test.txt"), "test\r\n");
  EXPECT_TRUE(ui.messages.empty());
  station->Settings.WebmonitorPathname = (dir / "gone" / "monitor.jpg").string();
  WebmonitorCheckClick(*station);
  EXPECT_EQ(ui.LastMessage(), "webpath not found");
  main().SetChecked("ViewerControlCheck", false);
  ViewerControlCheckClick(*station);
  EXPECT_FALSE(main().Enabled("WebmonitorCheck"));
}

TEST_F(MainWindow, WaitTimerCountsTheTicksOfAPauseDown) {
  InstallMainWindowHandlers(*station);
  station->Run.WaitTicks = 3;
  station->WaitTimer.Start();
  station->Clock.Sleep(2500);
  EXPECT_EQ(station->Run.WaitTicks, 1);
  EXPECT_TRUE(station->WaitTimer.Enabled());
  station->Clock.Sleep(5000);
  EXPECT_EQ(station->Run.WaitTicks, 0) << "the last tick leaves the timer off";
  EXPECT_FALSE(station->WaitTimer.Enabled());
}

}  // namespace
}  // namespace noctarbel
