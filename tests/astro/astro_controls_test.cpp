// The main window's astronomy controls on a station with the virtual clock.

#include "windows/astro_window.h"
#include "windows/install_windows.h"

#include <gtest/gtest.h>

#include "astro/time.h"
#include "station/plan_columns.h"
#include "tests/astro/catalogue_fixture.h"
#include "tests/station_fixture.h"
#include "windows/main_window.h"

namespace noctarbel {
namespace {

using testing::WriteFile;

// The controls are clicked and changed through their handlers, as the window does.
class AstroControls : public testing::StationFixture {
 protected:
  void SetUp() override { InstallHandlers(*station); }
  void Click(const char* control) { EXPECT_TRUE(station->Activate(control)) << control; }
  Controls& main() { return station->Main; }
  StringGrid& plan() { return station->Planer1; }
  std::vector<int> SpinFields() {
    std::vector<int> values;
    for (const char* name : {"RAHourEdit", "RAminEdit", "RAsecEdit", "DECdegEdit", "DECminEdit", "DECsecEdit"}) {
      values.push_back(main().IntValue(name));
    }
    return values;
  }
  std::vector<std::string> CoordinateCells(int row = 1) {
    std::vector<std::string> cells;
    for (int col = kColRaHour; col <= kColDecSecond; ++col) cells.push_back(plan().Cell(col, row));
    return cells;
  }
};

// The setting names the file beside the station (or anywhere); showing the window loads it,
// a missing file gives no horizon, and points beyond 200 are logged.
TEST_F(AstroControls, TheHorizonComesFromTheSettingWhenTheWindowIsShown) {
  WriteFile(station->SettingsFilePath(), "[GEO]\r\nHorizontdatei=scan.txt\r\n");
  WriteFile(dir / "scan.txt", "100 10\n110 30\n");
  Restart();
  CreateForms(*station);
  PilotFormShow(*station);
  EXPECT_EQ(station->Horizon.Count, 2);
  EXPECT_DOUBLE_EQ(HorizonAltitude(station->Horizon, 105), 20);
  station->Settings.Horizontdatei = (dir / "scan.txt").string();
  LoadHorizon(*station);
  EXPECT_EQ(station->Horizon.Count, 2);
  station->Settings.Horizontdatei = "missing.txt";
  LoadHorizon(*station);
  EXPECT_EQ(station->Horizon.Count, 0);
  EXPECT_EQ(station->Log.Size(), 0u);

  std::string content;
  for (int i = 0; i < 230; ++i) content += std::to_string(i * 1.5) + " 5\n";
  WriteFile(dir / "horizon.txt", content);
  station->Settings.Horizontdatei = "horizon.txt";
  LoadHorizon(*station);
  EXPECT_EQ(station->Horizon.Count, 200);
  ASSERT_EQ(station->Log.Size(), 1u);
  EXPECT_NE(station->Log.Last().find("30 were ignored"), std::string::npos) << station->Log.Last();
}

TEST_F(AstroControls, FindFillsTheSpinFields) {
  main().SetText("CatEdit", "M51");
  Click("KatalogButton");
  EXPECT_EQ(SpinFields(), (std::vector<int>{13, 29, 54, 47, 12, 0}));
  EXPECT_EQ(main().SelectedItem("NSbox"), "N");

  main().SetText("CatEdit", "NGC1976");
  Click("KatalogButton");
  EXPECT_EQ(SpinFields(), (std::vector<int>{5, 35, 18, -5, 23, 0}));
  EXPECT_EQ(main().SelectedItem("NSbox"), "S");
  EXPECT_DOUBLE_EQ(MainWindowDeclination(*station), -(5 + 23 / 60.0));

  // Unknown names and names with blanks around them change nothing, without a message.
  for (const char* name : {"M111", " M51", "Ngc224", "IC1064", ""}) {
    main().SetText("CatEdit", name);
    Click("KatalogButton");
    EXPECT_EQ(SpinFields(), (std::vector<int>{5, 35, 18, -5, 23, 0})) << name;
  }
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(AstroControls, DeclinationJustSouthOfTheEquatorKeepsItsSign) {
  testing::TempDir data;
  testing::WriteCatalogue(data / "catalog", {testing::CatalogueRecord("NGC    3", "00", "07.3", "-00", "30")}, {{3, 1}},
                          {});
  station->Paths.Data = data.Path();
  main().SetText("CatEdit", "ngc3");
  Click("KatalogButton");
  EXPECT_EQ(SpinFields(), (std::vector<int>{0, 7, 18, 0, 30, 0}));
  EXPECT_EQ(main().SelectedItem("NSbox"), "S");
  // Goto's reading of the fields and the plan's reading of the cells agree.
  EXPECT_DOUBLE_EQ(MainWindowDeclination(*station), -0.5);
  plan().SetCell(kColObject, 1, "NGC3");
  Click("ObjektBtn");
  EXPECT_EQ(CoordinateCells(), (std::vector<std::string>{"0", "7", "18", "-0", "30", "0"}));
}

TEST_F(AstroControls, InsertRaDecFillsThePlanRow) {
  plan().SetRowCount(3);
  plan().SetCell(kColObject, 2, "  m25 ");
  plan().SetCell(kColExposure, 2, "300");
  plan().SetCurrent(kColObject, 2);
  Click("ObjektBtn");
  EXPECT_EQ(CoordinateCells(2), (std::vector<std::string>{"18", "31", "48", "-19", "7", "0"}));
  EXPECT_EQ(plan().Cell(kColFilename, 2), "M25");
  EXPECT_EQ(plan().Cell(kColExposure, 2), "300");
  EXPECT_EQ(CoordinateCells(1), (std::vector<std::string>(6, "")));
  EXPECT_TRUE(ui.messages.empty());

  plan().SetCell(kColObject, 2, "ngc 224");
  Click("ObjektBtn");
  EXPECT_EQ(plan().Cell(kColFilename, 2), "NGC224");
  EXPECT_EQ(CoordinateCells(2), (std::vector<std::string>{"0", "42", "42", "41", "16", "0"}));

  plan().SetCell(kColObject, 2, "Vega");
  Click("ObjektBtn");
  EXPECT_EQ(ui.LastMessage(), "Object not found");
  EXPECT_EQ(plan().Cell(kColFilename, 2), "NGC224") << "nothing changes on failure";
}

TEST_F(AstroControls, MissingCatalogueFileIsReportedByName) {
  testing::TempDir data;
  station->Paths.Data = data.Path();
  plan().SetCell(kColObject, 1, "M51");
  Click("ObjektBtn");
  EXPECT_EQ(ui.LastMessage(), "Catalogue file not found: " + (data.Path() / "catalog" / "ngc.idx").string());
  EXPECT_EQ(CoordinateCells(), (std::vector<std::string>(6, "")));

  main().SetText("CatEdit", "M51");
  Click("KatalogButton");
  EXPECT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(SpinFields(), (std::vector<int>(6, 0)));
  // M40 needs no file.
  main().SetText("CatEdit", "M40");
  Click("KatalogButton");
  EXPECT_EQ(SpinFields(), (std::vector<int>{12, 22, 24, 58, 5, 0}));
}

TEST_F(AstroControls, PasteFillsOrEmptiesTheCoordinateCells) {
  plan().SetCell(kColObject, 1, "M42");
  ui.clipboard = "05:35:17.30 -05:23:28.0";
  Click("PasteposBtn");
  EXPECT_EQ(CoordinateCells(), (std::vector<std::string>{"05", "35", "17.30", "-05", "23", "28.0"}));
  EXPECT_TRUE(ui.messages.empty());

  ui.clipboard = "5 35 17 -5 23 28";
  Click("PasteposBtn");
  EXPECT_EQ(CoordinateCells(), (std::vector<std::string>(6, "")));
  EXPECT_EQ(ui.LastMessage(), "Coordinates could not be converted: 5 35 17 -5 23 28");
  EXPECT_EQ(plan().Cell(kColObject, 1), "M42") << "other cells are not touched";

  ui.clipboard = std::string(300, 'x') + "\xff\xfe";
  Click("PasteposBtn");
  EXPECT_EQ(ui.LastMessage(), "Coordinates could not be converted: " + std::string(127, 'x'));
}

TEST_F(AstroControls, SignBoxAndDegreeFieldFollowEachOther) {
  main().SetValue("DECdegEdit", 12);
  main().SetSelection("NSbox", 1);  // "S"
  Click("NSbox");
  EXPECT_EQ(main().IntValue("DECdegEdit"), -12);
  main().SetSelection("NSbox", 0);  // "N"
  Click("NSbox");
  EXPECT_EQ(main().IntValue("DECdegEdit"), 12);

  main().SetValue("DECdegEdit", -3);
  Click("DECdegEdit");
  EXPECT_EQ(main().SelectedItem("NSbox"), "S");
  main().SetValue("DECdegEdit", 0);
  Click("DECdegEdit");
  EXPECT_EQ(main().SelectedItem("NSbox"), "S") << "0 leaves the box alone";
  Click("NSbox");
  EXPECT_EQ(main().IntValue("DECdegEdit"), 0);
  main().SetValue("DECminEdit", 30);
  EXPECT_DOUBLE_EQ(MainWindowDeclination(*station), -0.5) << "0 degrees with S is south";
  main().SetValue("DECdegEdit", 7);
  Click("DECdegEdit");
  EXPECT_EQ(main().SelectedItem("NSbox"), "N");
}

TEST_F(AstroControls, SiderealTimeUsesTheStationsClockAndLongitude) {
  station->Settings.Glaenge = -8.24889;
  const DateTime planned = EncodeDateTime(2026, 12, 7, 1, 30, 0);
  EXPECT_DOUBLE_EQ(StationSiderealTime(*station, planned), SiteSiderealTime(planned, -8.24889));
  EXPECT_DOUBLE_EQ(StationSiderealTime(*station), SiteSiderealTime(clock->UtcNow(), -8.24889));
}

}  // namespace
}  // namespace noctarbel
