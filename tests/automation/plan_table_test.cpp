// The plan table's controls reached by name. Inserting, deleting, adding and clearing rows
// are shown through the grid by the GUI main window test (PlanGridInsertAndDeleteRenumberTheRows).

#include "windows/plan_table_window.h"

#include <gtest/gtest.h>

#include "tests/station_fixture.h"
#include "windows/install_windows.h"
#include "windows/main_window.h"

namespace noctarbel {
namespace {

class PlanTable : public testing::StationFixture {
 protected:
  void SetUp() override { PilotFormCreate(*station); }
  StringGrid& grid() { return station->Planer1; }
};

TEST_F(PlanTable, ControlsAreActivatedByName) {
  InstallHandlers(*station);
  grid().SetRowCount(3);
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
