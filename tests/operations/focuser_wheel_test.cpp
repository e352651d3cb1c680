// Focuser and filter wheel control with the simulators on the virtual clock.

#include <gtest/gtest.h>

#include "tests/operations/device_fixture.h"
#include "windows/focuser_window.h"

namespace noctarbel::testing {
namespace {

class FocuserWheelTest : public DeviceFixture {
 protected:
  FocuserModel& Focuser() { return World().Focuser; }
  FilterWheelModel& Wheel() { return World().Wheel; }
  bool Move(int target) {
    OperationContext op = Op();
    return station->Focuser.MoveTo(op, target);
  }
  bool Select(int slot) {
    OperationContext op = Op();
    return station->FilterWheel.Select(op, slot);
  }
};

TEST_F(FocuserWheelTest, ConnectShowsPositionAndTemperatureEverySecond) {
  World().AmbientCelsius = 20;  // the driver reports 586 half-kelvins
  station->Activate("FocusConnectButton");
  ASSERT_TRUE(station->Devices.Focuser);
  EXPECT_EQ(Main().Colour("LED3"), "lime");
  EXPECT_EQ(Main().Caption("FocusConnectButton"), "Disconnect");
  EXPECT_TRUE(Main().Enabled("AutofocusButton"));
  clock->Sleep(1000);
  EXPECT_EQ(Main().Text("FocusEdit1"), "5000");
  EXPECT_EQ(Main().Text("TemperaturEdit"), "20.0");

  station->Activate("FocusConnectButton");
  EXPECT_FALSE(station->Devices.Focuser);
  EXPECT_EQ(Main().Colour("LED3"), "red");
  EXPECT_EQ(Main().Caption("FocusConnectButton"), "Connect");
  EXPECT_EQ(Main().Text("FocusEdit1"), "");
  EXPECT_EQ(Main().Text("TemperaturEdit"), "");
  EXPECT_FALSE(Main().Enabled("AutofocusButton"));
  EXPECT_FALSE(station->FocusTimer.Enabled());
}

TEST_F(FocuserWheelTest, ARelativeFocuserIsMovedByTheDifference) {
  Focuser().Config.Absolute = false;
  Focuser().Place(1200);
  station->Activate("FocusConnectButton");
  EXPECT_TRUE(Move(1000));
  EXPECT_EQ(Focuser().LastMoveArgument(), -200);
  EXPECT_EQ(Focuser().Position(), 1000);

  Focuser().Config.Absolute = true;
  EXPECT_TRUE(Move(1500));
  EXPECT_EQ(Focuser().LastMoveArgument(), 1500);
}

TEST_F(FocuserWheelTest, AFocuserMustArriveBeforeTheSixteenthPoll) {
  station->Activate("FocusConnectButton");
  Focuser().Config.StepsPerSecond = 100;
  EXPECT_TRUE(Move(6450));   // 14.5 s: seen at poll 15
  EXPECT_FALSE(Move(4900));  // 15.5 s: seen at poll 16, too late
  EXPECT_EQ(Focuser().Position(), 4900);
  Focuser().Config.StepsPerSecond = 250;
  Focuser().Config.StopShortSteps = 3;
  const double start = SecondsNow();
  EXPECT_FALSE(Move(5000));
  EXPECT_NEAR(SecondsNow() - start, 16, 0.1);

  station->Activate("FocusConnectButton");  // disconnected
  EXPECT_FALSE(Move(5000));
}

TEST_F(FocuserWheelTest, AFocuserThatFailsEndsTheMoveWithoutAnException) {
  station->Activate("FocusConnectButton");
  Focuser().Config.FailAll = true;
  EXPECT_FALSE(Move(5100));
  EXPECT_NE(station->Status().find("Focuser error"), std::string::npos);
  clock->Sleep(1000);
  EXPECT_EQ(Main().Text("FocusEdit1"), "?");
}

TEST_F(FocuserWheelTest, NamedPositionsMoveTheFocuserAndFreeTheReference) {
  station->Focus.FocusNames = {"Home", "Broken", "Far"};
  station->Focus.FocusPositions = {"4200", "x12", "5600"};
  Main().SetItems("FocusComboBox", station->Focus.FocusNames);
  station->Activate("FocusConnectButton");
  station->Run.BaseFocusPosition = 4321;

  Main().SetSelection("FocusComboBox", -1);
  station->Activate("FocusSetButton");
  EXPECT_EQ(station->Run.BaseFocusPosition, 4321);  // no selection: nothing at all

  Main().SetSelection("FocusComboBox", 0);
  station->Activate("FocusSetButton");
  EXPECT_EQ(Focuser().Position(), 4200);
  EXPECT_EQ(station->Run.BaseFocusPosition, -1);

  station->Run.BaseFocusPosition = 4321;
  Main().SetSelection("FocusComboBox", 1);
  station->Activate("FocusSetButton");
  EXPECT_EQ(Focuser().Position(), 4200);  // not a number: ignored
  EXPECT_EQ(station->Run.BaseFocusPosition, -1);

  station->Run.BaseFocusPosition = 77;
  station->Activate("FocusResetButton");
  EXPECT_EQ(station->Run.BaseFocusPosition, -1);
}

TEST_F(FocuserWheelTest, TheWheelsNamesAndOffsetsComeFromTheDriver) {
  Wheel().Place(2);
  ASSERT_TRUE(ConnectFilterWheel(*station));
  EXPECT_EQ(Main().Value("FilterEdit"), 3);
  EXPECT_EQ(Main().Text("FilternameEdit"), "G");
  EXPECT_TRUE(Main().Enabled("FilterEdit"));
  EXPECT_EQ(station->Filters.FilterNames, (std::vector<std::string>{"L", "R", "G", "B", "Ha"}));
  EXPECT_EQ(station->Filters.FilterOffsets, (std::vector<std::string>{"0", "15", "10", "25", "-40"}));
  EXPECT_EQ(station->Filters.Filtertable.Cell(1, 5), "Ha");
  EXPECT_EQ(station->Filters.Filtertable.Cell(2, 5), "-40");
  EXPECT_EQ(station->Filters.Filtertable.Cell(1, 6), "");

  Main().SetValue("FilterEdit", 5);
  station->Activate("FilterEdit");
  EXPECT_EQ(Main().Text("FilternameEdit"), "Ha");
}

TEST_F(FocuserWheelTest, WithNamesFromFileTheTableRowsAreUsed) {
  Settings().FilternamesFromFile = true;
  LoadFilterTable(station->Filters, station->Paths.Home, true);  // ten default rows
  station->Filters.Filtertable.SetCell(1, 2, "Red");
  station->Filters.Filtertable.SetCell(2, 2, "33");
  ASSERT_TRUE(ConnectFilterWheel(*station));
  ASSERT_EQ(station->Filters.FilterNames.size(), 5u);
  EXPECT_EQ(station->Filters.FilterNames[1], "Red");
  EXPECT_EQ(station->Filters.FilterOffsets[1], "33");
  EXPECT_EQ(station->Filters.FilterNames[0], "Filter 1");
  EXPECT_EQ(Main().Text("FilternameEdit"), "Filter 1");
}

TEST_F(FocuserWheelTest, SelectingAFilterWaitsForTheWheelButNotForever) {
  ASSERT_TRUE(ConnectFilterWheel(*station));
  EXPECT_TRUE(Select(3));
  EXPECT_EQ(Wheel().Position(), 3);

  Wheel().Config.NeverArrives = true;
  const double start = SecondsNow();
  EXPECT_FALSE(Select(1));
  EXPECT_NEAR(SecondsNow() - start, kFilterWheelPolls, 0.5);
  EXPECT_EQ(station->Status(), "Filter wheel did not reach filter 2 within 30 s");
  EXPECT_NE(station->Log.Last().find("Filter wheel did not reach filter 2"), std::string::npos);

  Wheel().Config.NeverArrives = false;
  Wheel().Config.FailAll = true;
  EXPECT_FALSE(Select(0));
  EXPECT_NE(station->Status().find("Filter wheel error"), std::string::npos);
}

}  // namespace
}  // namespace noctarbel::testing
