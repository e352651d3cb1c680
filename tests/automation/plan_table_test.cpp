#include "automation/plan_table.h"

#include <gtest/gtest.h>

#include "app/main_window.h"
#include "automation/station_setup.h"
#include "tests/station_fixture.h"

namespace noctarbel {
namespace {

class PlanTable : public testing::StationFixture {
 protected:
  void SetUp() override { PilotFormCreate(*station); }
  StringGrid& grid() { return station->Planer1; }
  void Fill(int rows) {
    grid().SetRowCount(rows + 1);
    for (int row = 1; row <= rows; ++row) {
      grid().SetCell(0, row, std::to_string(row));
      grid().SetCell(4, row, "object " + std::to_string(row));
    }
  }
  std::vector<std::string> Column(int col) {
    std::vector<std::string> cells;
    for (int row = 1; row < grid().RowCount(); ++row) cells.push_back(grid().Cell(col, row));
    return cells;
  }
};

TEST_F(PlanTable, InsertBeforeTheFirstRowRenumbers) {
  Fill(3);
  grid().SetCurrent(4, 1);
  Zeileeinfuegen1Click(*station);
  EXPECT_EQ(Column(4), (std::vector<std::string>{"", "object 1", "object 2", "object 3"}));
  EXPECT_EQ(Column(0), (std::vector<std::string>{"1", "2", "3", "4"}));
  EXPECT_EQ(grid().Cell(4, 0), "Object name");
}

TEST_F(PlanTable, DeleteMovesTheRowsBelowUp) {
  Fill(3);
  grid().SetCurrent(4, 2);
  Zeileloeschen1Click(*station);
  EXPECT_EQ(Column(4), (std::vector<std::string>{"object 1", "object 3"}));
  EXPECT_EQ(Column(0), (std::vector<std::string>{"1", "2"}));
}

TEST_F(PlanTable, DeletingTheOnlyRowClearsIt) {
  Fill(1);
  grid().SetCurrent(4, 1);
  Zeileloeschen1Click(*station);
  EXPECT_EQ(grid().RowCount(), 2);
  EXPECT_EQ(grid().Row(1), std::vector<std::string>(17));
}

TEST_F(PlanTable, AddAndClear) {
  Fill(2);
  AddRowBtnClick(*station);
  EXPECT_EQ(grid().RowCount(), 4);
  EXPECT_EQ(grid().Cell(0, 3), "") << "nothing is written into the new row";
  ClearBtnClick(*station);
  EXPECT_EQ(grid().RowCount(), 2);
  EXPECT_EQ(grid().Row(1), std::vector<std::string>(17));
  EXPECT_EQ(grid().Cell(1, 0), "UT(h)");
}

TEST_F(PlanTable, ControlsAreActivatedByName) {
  InstallHandlers(*station);
  Fill(2);
  EXPECT_TRUE(station->Activate("AddRowBtn"));
  EXPECT_EQ(grid().RowCount(), 4);
  station->Main.SetEnabled("PauseButton", true);
  EXPECT_TRUE(station->Activate("PauseButton"));
  EXPECT_EQ(station->Main.Colour("ExecLight"), "yellow");
  EXPECT_FALSE(station->Activate("CoordinateSystemLabel")) << "a control without a handler is inert";
  station->Setup.SetText("ProfileNameEdit", "");
  EXPECT_TRUE(station->Activate("SetupForm1", "SaveConfigBtn"));
  EXPECT_EQ(ui.LastMessage(), "insert profile name first");
}

}  // namespace
}  // namespace noctarbel
