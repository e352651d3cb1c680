#include "windows/setup_window.h"

#include <gtest/gtest.h>

#include "windows/main_window.h"
#include "tests/station_fixture.h"

namespace noctarbel {
namespace {

using testing::ReadFile;
using testing::WriteFile;

class SetupForm : public testing::StationFixture {
 protected:
  void SetUp() override { SetupFormCreate(*station); }
  Controls& setup() { return station->Setup; }
  SettingsRecord saved() { return LoadSettingsFile(station->SettingsFilePath()); }
};

TEST_F(SetupForm, ShowsTheSettingsInTheirFormats) {
  WriteFile(station->SettingsFilePath(),
            "[Autofocus]\r\nAFLslope=-0.05\r\nAFHFDlow=10\r\nAFexptime=1\r\nAFposition=1234\r\n"
            "[Teleskop]\r\nPark1Az=12.5\r\nParkMethod=0\r\n[COM]\r\nEnableObservatoryControl=1\r\n");
  LoadSettings(*station);
  EXPECT_EQ(setup().Text("LslopeEdit"), "-0.05000");
  EXPECT_EQ(setup().Text("HFDlowEdit"), "10.00");
  EXPECT_EQ(setup().Text("AFExptimeEdit"), "1.0");
  EXPECT_EQ(setup().Text("AFEdit"), "1234");
  EXPECT_EQ(setup().Text("Park1AzimutEdit"), "12.5");
  EXPECT_EQ(setup().Text("LaengeEdit"), "-8.24889");
  EXPECT_EQ(setup().Selection("ParkGroup"), 0);
  EXPECT_TRUE(setup().Checked("ObservatoryControlCheck"));
  EXPECT_EQ(setup().Text("ProfileNameEdit"), "") << "the default profile name is not shown";
  EXPECT_TRUE(setup().Enabled("ASCOMCameraEdit"));
  EXPECT_FALSE(setup().Enabled("CamCOMEdit"));
}

TEST_F(SetupForm, ValidationStopsAtTheFirstBadFieldKeepingThoseBefore) {
  setup().SetText("LaengeEdit", "10.5");
  setup().SetText("BreiteEdit", "51.25");
  setup().SetText("Park1AzimutEdit", "180");
  setup().SetText("HomeAltEdit", "5");
  setup().SetText("LslopeEdit", "-0.1");
  setup().SetText("HistogramMaxlevelEdit", "0,95");
  setup().SetText("ArcsecXEdit", "2.5");
  EXPECT_FALSE(SetupOKButtonClick(*station));
  EXPECT_EQ(ui.messages, (std::vector<std::string>{"Histogram max level not correct"}));
  EXPECT_DOUBLE_EQ(station->Settings.Glaenge, 10.5);
  EXPECT_DOUBLE_EQ(station->Settings.Gbreite, 51.25);
  EXPECT_DOUBLE_EQ(station->Settings.Park1Az, 180);
  EXPECT_DOUBLE_EQ(station->Settings.HomeAlt, 5);
  EXPECT_DOUBLE_EQ(station->Settings.ArcsecX, 2.5);
  EXPECT_FLOAT_EQ(station->Settings.AFLslope, -0.1f);
  EXPECT_DOUBLE_EQ(station->Settings.HistogramMaxLevel, 0.99);
  EXPECT_FALSE(std::filesystem::exists(station->SettingsFilePath())) << "nothing is written";
}

TEST_F(SetupForm, EachFieldHasItsOwnMessage) {
  struct Case {
    const char* control;
    const char* message;
  };
  for (const Case& c : {Case{"LaengeEdit", "Longitude not correct"}, Case{"AFEdit", "Autofocus focus pos. not correct"},
                        Case{"AFrangeEdit", "Autofocus range not correct"},
                        Case{"RicEdit", "Autofocus right intercept pos. not correct"}}) {
    ShowSettingsInForm(*station);
    ui.messages.clear();
    setup().SetText(c.control, "12x");
    EXPECT_FALSE(ValidateSetupForm(*station));
    EXPECT_EQ(ui.LastMessage(), c.message);
  }
  ShowSettingsInForm(*station);
  setup().SetText("AFEdit", "1500.5");
  EXPECT_FALSE(ValidateSetupForm(*station)) << "the focus position must be an integer";
}

TEST_F(SetupForm, OkSavesSettingsAndTablesAndOffersTheProfile) {
  setup().SetText("ObserverEdit", "Anna Berg");
  setup().SetValue("TrackingEdit1", 70);
  setup().SetText("ProfileNameEdit", "winter");
  ui.answers = {true};
  EXPECT_TRUE(SetupOKButtonClick(*station));
  EXPECT_EQ(ui.questions, (std::vector<std::string>{"Save Profile as winter ?"}));
  EXPECT_EQ(saved().Observername, "Anna Berg");
  EXPECT_EQ(saved().TrackingRange, 70);
  EXPECT_EQ(saved().ProfileName, "winter");
  EXPECT_TRUE(std::filesystem::exists(dir / "winter.ssf"));
  EXPECT_TRUE(std::filesystem::exists(dir / "focustable.txt"));
  // Shown again after a saved profile: OK asks once more only after a new showing.
  ui.questions.clear();
  SetupFormShow(*station);
  SaveConfigBtnClick(*station);
  EXPECT_TRUE(SetupOKButtonClick(*station));
  EXPECT_EQ(ui.questions, (std::vector<std::string>{"Overwrite Profile?"}));
}

TEST_F(SetupForm, SwitchingToFilterDataFromFileKeepsTheFilterFile) {
  const std::string filters =
      "L,0\r\nR,25\r\nG,-10\r\nB,15\r\nHa,40\r\nOIII,35\r\nSII,38\r\nDark,0\r\nC,5\r\nIR,12\r\n";
  WriteFile(dir / "filterwheel.txt", filters);
  Restart();
  SetupFormCreate(*station);
  ASSERT_FALSE(station->Settings.FilternamesFromFile);
  setup().SetSelection("FilternamesGroup", 1);  // "Filter data from file"
  EXPECT_EQ(station->Filters.Filtertable.Cell(1, 2), "R") << "the grid shows the file";
  EXPECT_TRUE(SetupOKButtonClick(*station));
  EXPECT_EQ(ReadFile(dir / "filterwheel.txt"), filters);

  // The same through a profile that has it on.
  setup().SetSelection("FilternamesGroup", 0);
  EXPECT_TRUE(SetupOKButtonClick(*station));
  Restart();
  SetupFormCreate(*station);
  WriteFile(dir / "files.ssf", "[Filterwheel]\r\nFilternamesFromFile=1\r\n");
  FillProfileList(*station);
  setup().SetSelection("ProfileComboBox", 1);
  LoadConfigBtnClick(*station);
  EXPECT_TRUE(SetupOKButtonClick(*station));
  EXPECT_EQ(ReadFile(dir / "filterwheel.txt"), filters);
}

TEST_F(SetupForm, AtOnceSettingsSurviveCancelButNotInTheFile) {
  setup().SetValue("CoolerTempEdit", -20);
  setup().SetSelection("ParkGroup", 0);
  setup().SetText("ObserverEdit", "not taken");
  SetupCancelButtonClick(*station);
  EXPECT_EQ(station->Settings.CameraCoolerTemp, -20);
  EXPECT_EQ(station->Settings.ParkMethod, 0);
  EXPECT_EQ(station->Settings.Observername, "");
  EXPECT_FALSE(std::filesystem::exists(station->SettingsFilePath()));
}

TEST_F(SetupForm, ProfilesAreListedSortedWithoutDefault) {
  for (const char* name : {"winter.ssf", "default.ssf", "Alpha.ssf", "notes.txt", "beta.ssf"}) {
    WriteFile(dir / name, "[GEO]\r\n");
  }
  FillProfileList(*station);
  EXPECT_EQ(setup().Items("ProfileComboBox"), (std::vector<std::string>{"", "Alpha", "beta", "winter"}));
  setup().SetText("ProfileNameEdit", "default");
  SaveConfigBtnClick(*station);
  EXPECT_EQ(setup().Items("ProfileComboBox").size(), 4u) << "a profile named default is saved but never listed";
}

TEST_F(SetupForm, DecliningTheOverwriteKeepsTheOldProfileButTheSettingsFileIsNew) {
  WriteFile(dir / "winter.ssf", "[GEO]\r\nGlaenge=1\r\n");
  setup().SetText("ProfileNameEdit", "winter");
  setup().SetText("ObserverEdit", "Anna");
  ui.answers = {false};
  SaveConfigBtnClick(*station);
  EXPECT_EQ(ui.questions, (std::vector<std::string>{"Overwrite Profile?"}));
  EXPECT_EQ(ui.LastMessage(), "Profile saved to winter.ssf");
  EXPECT_EQ(ReadFile(dir / "winter.ssf"), "[GEO]\r\nGlaenge=1\r\n");
  EXPECT_EQ(saved().Observername, "Anna");
}

TEST_F(SetupForm, LoadingAProfileReplacesTheSettings) {
  WriteFile(dir / "summer.ssf", "[GEO]\r\nGlaenge=11.5\r\n[Kamera]\r\nCameraCoolerTemp=-15\r\n");
  FillProfileList(*station);
  LoadConfigBtnClick(*station);
  EXPECT_EQ(ui.LastMessage(), "no profile selected");
  setup().SetSelection("ProfileComboBox", 1);
  LoadConfigBtnClick(*station);
  EXPECT_DOUBLE_EQ(station->Settings.Glaenge, 11.5);
  EXPECT_EQ(station->Settings.CameraCoolerTemp, -15);
  EXPECT_EQ(station->Settings.ProfileName, "summer");
  EXPECT_EQ(setup().Text("ProfileNameEdit"), "summer");
  EXPECT_EQ(setup().Text("LaengeEdit"), "11.5");
  EXPECT_EQ(ReadFile(station->SettingsFilePath()), ReadFile(dir / "summer.ssf"));
}

TEST_F(SetupForm, ProfileNamesCannotLeaveTheStationFolder) {
  // The station folder sits one level down in the test's own folder, so that a regression
  // writes "../evil.ssf" where this test cleans up, not beside other tests' folders.
  const std::filesystem::path home = dir / "station";
  std::filesystem::create_directories(home);
  Station nested(*clock, ui, StationPaths{home, NOCTARBEL_SOURCE_DATA_DIR});
  SetupFormCreate(nested);
  nested.Setup.SetText("ProfileNameEdit", "");
  SaveConfigBtnClick(nested);
  EXPECT_EQ(ui.LastMessage(), "insert profile name first");
  nested.Setup.SetText("ProfileNameEdit", "../evil");
  SaveConfigBtnClick(nested);
  EXPECT_EQ(ui.LastMessage(), "invalid profile name: ../evil");
  EXPECT_FALSE(std::filesystem::exists(dir / "evil.ssf"));
  EXPECT_FALSE(std::filesystem::exists(home / "evil.ssf"));
}

TEST_F(SetupForm, ChoosersStoreTheirResultAtOnce) {
  station->Settings.TelescopeObject = "sim:telescope";
  setup().SetText("TelescopeEdit", "sim:telescope");
  TelscopeSelectButtonClick(*station);  // cancelled
  EXPECT_EQ(setup().Text("TelescopeEdit"), "");
  EXPECT_EQ(station->Settings.TelescopeObject, "sim:telescope");
  ui.devices = {"sim:camera"};
  CameraChooserBtnClick(*station);
  EXPECT_EQ(station->Settings.CameraObject, "sim:camera");
  CameraChooserBtnClick(*station);  // cancelled: nothing changes
  EXPECT_EQ(setup().Text("ASCOMCameraEdit"), "sim:camera");
  EXPECT_EQ(ui.deviceRequests, (std::vector<std::string>{"Telescope", "Camera", "Camera"}));
  station->Settings.FilterwheelObject = "sim:filterwheel";
  FilterradClearBtnClick(*station);
  EXPECT_EQ(station->Settings.FilterwheelObject, "");
}

}  // namespace
}  // namespace noctarbel
