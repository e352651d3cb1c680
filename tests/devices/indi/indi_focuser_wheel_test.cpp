// The INDI focuser and filter wheel simulators through the station's focuser and filter
// wheel operations: absolute moves and moves by steps, the range, the temperature, the
// wheel's names from the driver and filter changes.

#include <gtest/gtest.h>

#include "tests/devices/indi/indi_fixture.h"

namespace noctarbel::testing {
namespace {

class IndiFocuserTest : public IndiStationTest {
 protected:
  void SetUp() override {
    core->Settings.FocuserObject = Id(kFocuser);
    std::string error;
    ASSERT_TRUE(core->Focuser.Connect(&error)) << error;
    focuser = core->Devices.Focuser;
  }
  void TearDown() override { core->Focuser.Disconnect(); }

  std::shared_ptr<IFocuser> focuser;
};

TEST_F(IndiFocuserTest, MovesToPositionsWithinItsRangeAndReadsItsTemperature) {
  ASSERT_TRUE(focuser->Absolute());
  OperationContext op = Op();
  ASSERT_TRUE(core->Focuser.MoveTo(op, 36700)) << core->Status();
  EXPECT_EQ(focuser->Position(), 36700);
  ASSERT_TRUE(core->Focuser.MoveTo(op, 30000)) << core->Status();
  EXPECT_EQ(focuser->Position(), 30000);
  // The simulator's sensor reads 0 C: 546 half-kelvin.
  EXPECT_DOUBLE_EQ(focuser->Temperature(), 546.0);
  EXPECT_DOUBLE_EQ(core->Focuser.Read().Celsius, 0.0);

  EXPECT_FALSE(core->Focuser.MoveTo(op, 100001));
  EXPECT_NE(core->Status().find("outside 0..100000"), std::string::npos) << core->Status();
  EXPECT_EQ(focuser->Position(), 30000);
}

TEST_F(IndiFocuserTest, MovesBySteps) {
  OperationContext op = Op();
  ASSERT_TRUE(core->Focuser.MoveTo(op, 40000));
  auto stepper = MakeIndiFocuser(Address(kFocuser), true);
  stepper->SetLink(true);
  EXPECT_FALSE(stepper->Absolute());
  stepper->Move(-1500);  // inward
  EXPECT_TRUE(WaitUntil([&] { return focuser->Position() == 38500; }, 5000)) << focuser->Position();
  stepper->Move(700);
  EXPECT_TRUE(WaitUntil([&] { return focuser->Position() == 39200; }, 5000)) << focuser->Position();
  // The station's move of a relative focuser: the difference to the target, from where the
  // stepper's own connection has the focuser (each connection hears the server on its own,
  // and the driver answers the move a moment before it reports the new position).
  ASSERT_TRUE(WaitUntil([&] { return stepper->Position() == 39200; }, 5000)) << stepper->Position();
  core->Devices.Focuser = std::move(stepper);
  ASSERT_TRUE(core->Focuser.MoveTo(op, 37000)) << core->Status();
  EXPECT_EQ(focuser->Position(), 37000);
}

class IndiFilterWheelTest : public IndiStationTest {
 protected:
  void SetUp() override { core->Settings.FilterwheelObject = Id(kWheel); }
  void TearDown() override { core->FilterWheel.Disconnect(); }
};

TEST_F(IndiFilterWheelTest, TakesTheDriversNamesAndTurnsToFilters) {
  OperationContext op = Op();
  std::string error;
  const int slot = core->FilterWheel.Connect(op, &error);
  ASSERT_GE(slot, 0) << error;
  const std::vector<std::string> names = {"Red", "Green", "Blue", "H_Alpha", "SII", "OIII", "LPR", "Luminance"};
  EXPECT_EQ(core->Filters.FilterNames, names);
  EXPECT_EQ(core->Filters.FilterOffsets, std::vector<std::string>(8, "0"));

  ASSERT_TRUE(core->FilterWheel.Select(op, 3)) << core->Status();
  auto wheel = core->Devices.FilterWheel;
  EXPECT_EQ(wheel->Position(), 3);
  IndiClient look(Address(kWheel).Server, kWheel);
  ASSERT_TRUE(look.WaitForProperty(kWheel, {"FILTER_SLOT"}, 5000));
  EXPECT_EQ(look.Find(kWheel, "FILTER_SLOT")->Element("FILTER_SLOT_VALUE")->Number, 4);  // INDI counts from 1

  wheel->SetPosition(0);
  EXPECT_EQ(wheel->Position(), -1);  // turning
  EXPECT_TRUE(WaitUntil([&] { return wheel->Position() == 0; }, 5000));
  EXPECT_THROW(wheel->SetPosition(8), DeviceError);
  EXPECT_FALSE(core->FilterWheel.Select(op, 8));
}

}  // namespace
}  // namespace noctarbel::testing
