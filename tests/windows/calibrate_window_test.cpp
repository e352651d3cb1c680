// The calibration window without a display: the main window's "Corrections" box, OK with its
// messages, the configuration file through the window's buttons and dialogs.

#include "windows/calibrate_window.h"

#include <gtest/gtest.h>

#include <functional>

#include "common/event_runtime.h"
#include "windows/station.h"
#include "windows/install_windows.h"
#include "tests/test_support.h"

namespace noctarbel {
namespace {

using testing::ReadFile;
using testing::WriteFile;

// Scripted answers; a modal window runs `whileShown` as the operator's actions inside it.
class ModalUi : public ScriptedUi {
 public:
  void ShowForm(const std::string& form, bool modal) override {
    ScriptedUi::ShowForm(form, modal);
    if (modal && whileShown) whileShown();
  }
  std::function<void()> whileShown;
};

class CalibrateFormTest : public ::testing::Test {
 protected:
  CalibrateFormTest()
      : clock_(EventRuntime::WithVirtualClock(EncodeDateTime(2026, 12, 6, 18, 0, 0))),
        station_(*clock_, ui_, StationPaths{dir_.Path(), NOCTARBEL_SOURCE_DATA_DIR}) {
    InstallHandlers(station_);
  }

  Controls& form() { return station_.Form(kCalibrateForm); }
  void Click(const char* control) { ASSERT_TRUE(station_.Activate(kCalibrateForm, control)) << control; }
  // Ticks the main window's "Corrections" box, as a click does.
  void TickCorrections(std::function<void()> inside) {
    ui_.whileShown = std::move(inside);
    station_.Main.SetChecked("CalibrationCheckbox", true);
    station_.Activate("CalibrationCheckbox");
  }
  bool CorrectionsTicked() { return station_.Main.Checked("CalibrationCheckbox"); }
  void WriteMaster(const std::string& name, int value, double exposure = 10) {
    Timgbuffer image;
    image.SetSize(4, 3, PixelType::Bits16);
    for (int y = 1; y <= 3; ++y) {
      for (int x = 1; x <= 4; ++x) image.SetPixel(x, y, value + x);
    }
    image.Exposure = exposure;
    ASSERT_TRUE(image.SaveFits((dir_ / name).string()));
  }

  testing::TempDir dir_;
  ModalUi ui_;
  std::unique_ptr<EventRuntime> clock_;
  Station station_;
};

TEST_F(CalibrateFormTest, TheCorrectionsBoxStaysTickedOnlyWhenTheWindowClosesWithOK) {
  CalibrationConfig stored;
  stored.HotPixelMax = "42000";
  stored.DarkFiles[0] = "dark1.fit";
  ASSERT_TRUE(SaveCalibrationConfig(dir_ / "imgcalib.cfg", stored, nullptr));

  TickCorrections([this] { Click("OKbutton"); });
  EXPECT_TRUE(CorrectionsTicked());
  EXPECT_EQ(ui_.shownForms, (std::vector<std::string>{kCalibrateForm}));
  EXPECT_EQ(ui_.hiddenForms, (std::vector<std::string>{kCalibrateForm}));
  // The configuration was read before the window showed.
  EXPECT_EQ(form().Text("hotpixelEdit"), "42000");
  EXPECT_EQ(form().Text("darkfilenameEdit"), "dark1.fit");
  EXPECT_EQ(form().Text("cfgfileEdit"), "imgcalib.cfg");
  EXPECT_EQ(station_.Calibration.Options.HotPixelMax, 42000);
  EXPECT_EQ(ui_.questions, (std::vector<std::string>{"save configuration? "}));

  // Read once per run: a changed file is not read again when the window is shown again.
  stored.HotPixelMax = "1000";
  ASSERT_TRUE(SaveCalibrationConfig(dir_ / "imgcalib.cfg", stored, nullptr));
  TickCorrections([this] { Click("CancelButton"); });
  EXPECT_FALSE(CorrectionsTicked());
  EXPECT_EQ(form().Text("hotpixelEdit"), "42000");

  TickCorrections({});  // closed with the window's close box
  EXPECT_FALSE(CorrectionsTicked());

  // Unticking does not show the window.
  station_.Main.SetChecked("CalibrationCheckbox", false);
  station_.Activate("CalibrationCheckbox");
  EXPECT_EQ(ui_.shownForms.size(), 3u);
}

TEST_F(CalibrateFormTest, OKLoadsTheMastersAndStopsAtTheFirstMissingOne) {
  WriteMaster("dark1.fit", 100);
  WriteMaster("bias2.fit", 10);
  WriteMaster("flat.fit", 1000);
  form().SetChecked("Darkcheckbox", true);
  form().SetText("darkfilenameEdit", "dark1.fit");
  form().SetText("darkfilenameEdit2", (dir_ / "missing.fit").string());
  form().SetText("BiasFilenameEdit2", "bias2.fit");

  // A missing dark: the message, and the window stays open.
  TickCorrections([this] { Click("OKbutton"); });
  EXPECT_EQ(ui_.messages, (std::vector<std::string>{"dark image (2x2) not found"}));
  EXPECT_TRUE(ui_.hiddenForms.empty());
  EXPECT_FALSE(CorrectionsTicked());
  EXPECT_NE(station_.Log.Last().find("missing.fit"), std::string::npos) << "the log says which file and why";

  // A missing flat closes the window as Cancel.
  form().SetText("darkfilenameEdit2", "");
  form().SetChecked("FlatCheckBox", true);
  station_.Calibration.Tables.FlatFiles[0] = "flat.fit";
  station_.Calibration.Tables.FlatFiles[4] = "nowhere.fit";
  ui_.messages.clear();
  TickCorrections([this] { Click("OKbutton"); });
  EXPECT_EQ(ui_.messages, (std::vector<std::string>{"flat image not found"}));
  EXPECT_EQ(ui_.hiddenForms.size(), 1u);
  EXPECT_FALSE(CorrectionsTicked());

  // Everything there: the masters are held, the flat normalized; a bad number gets its default.
  station_.Calibration.Tables.FlatFiles[4] = "";
  form().SetText("BiasConstantEdit", "1OO");
  ui_.messages.clear();
  TickCorrections([this] { Click("OKbutton"); });
  EXPECT_TRUE(CorrectionsTicked());
  EXPECT_EQ(ui_.messages, (std::vector<std::string>{"Bias constant not correct"}));
  EXPECT_EQ(form().Text("BiasConstantEdit"), "100");
  ASSERT_NE(station_.Calibration.Dark(0), nullptr);
  EXPECT_EQ(station_.Calibration.Dark(0)->GetPixel(1, 1), 101);
  EXPECT_EQ(station_.Calibration.Dark(1), nullptr);
  EXPECT_NE(station_.Calibration.Bias(1), nullptr);
  ASSERT_NE(station_.Calibration.Flat(1), nullptr);
  EXPECT_TRUE(station_.Calibration.Flat(1)->NormalizedFlat);
  EXPECT_EQ(station_.Calibration.Flat(5), nullptr);
}

TEST_F(CalibrateFormTest, TheWindowsBoxesCountForImagesAtOnce) {
  ImageCalibration& calibration = station_.Calibration;
  EXPECT_TRUE(calibration.Options.Optimize);
  EXPECT_FALSE(calibration.Options.DarkSubtract);
  form().SetChecked("Darkcheckbox", true);
  form().SetChecked("FlatCheckBox", true);
  form().SetChecked("darkAdjustCheckBox", false);
  form().SetText("hotpixelEdit", "40000");
  EXPECT_TRUE(calibration.Options.DarkSubtract);
  EXPECT_TRUE(calibration.Options.FlatCorrection);
  EXPECT_FALSE(calibration.Options.Optimize);
  EXPECT_EQ(calibration.Options.HotPixelMax, 40000);
  form().SetText("hotpixelEdit", "40000x");
  EXPECT_EQ(calibration.Options.HotPixelMax, 40000) << "a half-typed value keeps the last number";
  // Hot-pixel correction and sigma count from OK on.
  form().SetChecked("HotpixelCheckbox", true);
  EXPECT_FALSE(calibration.Options.HotPixelCorrection);
}

TEST_F(CalibrateFormTest, SaveAndReadGoThroughTheStationFolderAndTheDialogs) {
  form().SetText("darkfilenameEdit4", "dark4.fit");
  form().SetText("hotpixelEdit", "45000");
  form().SetValue("HotpixelSigmaEdit", 5);
  form().SetChecked("HotpixelCheckbox", true);
  station_.Calibration.Tables.FlatFiles[2] = "flat3.fit";
  station_.Calibration.Tables.FlatIds[1] = {"3", "", "3"};
  Click("SaveBtn");
  const std::string text = ReadFile(dir_ / "imgcalib.cfg");
  EXPECT_NE(text.find("\r\nmasterflat number to filter\r\n,,\r\n3,,3\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\ncfg file name\r\nimgcalib.cfg\r\n"), std::string::npos);
  EXPECT_TRUE(station_.Calibration.ConfigurationSaved);

  // Saved in this run: OK asks no question.
  TickCorrections([this] { Click("OKbutton"); });
  EXPECT_TRUE(ui_.questions.empty());

  Click("ClearButton");
  EXPECT_EQ(station_.Calibration.Tables.FlatFiles[2], "");
  EXPECT_EQ(station_.Calibration.Tables.FlatIds[1][0], "");
  form().SetText("hotpixelEdit", "1");
  Click("ReadConfigBtn");
  EXPECT_EQ(station_.Calibration.Tables.FlatFiles[2], "flat3.fit");
  EXPECT_EQ(station_.Calibration.Tables.FlatIds[1][2], "3");
  EXPECT_EQ(form().Text("hotpixelEdit"), "45000");
  EXPECT_EQ(form().IntValue("HotpixelSigmaEdit"), 5);

  // "Save as " and "Read from file" with a file chosen in a dialog.
  ui_.files.push_back((dir_ / "winter.cfg").string());
  Click("SaveAsBtn");
  ASSERT_EQ(ui_.fileRequests.size(), 1u);
  EXPECT_EQ(ui_.fileRequests[0].filter, "calibration configuration|*calib.cfg|configuration|*.cfg");
  EXPECT_EQ(ui_.fileRequests[0].initialName, "imgcalib.cfg");
  EXPECT_TRUE(ui_.fileRequests[0].confirmOverwrite);
  EXPECT_NE(ReadFile(dir_ / "winter.cfg").find("\r\ncfg file name\r\nwinter.cfg\r\n"), std::string::npos);
  EXPECT_EQ(form().Text("cfgfileEdit"), "winter.cfg");

  // An old file without the later groups keeps what the window shows for them.
  const std::string old = text.substr(0, text.find("Hot pixel max"));
  WriteFile(dir_ / "old.cfg", old);
  form().SetText("hotpixelEdit", "47000");
  form().SetValue("HotpixelSigmaEdit", 6);
  ui_.files.push_back((dir_ / "old.cfg").string());
  Click("ReadFromBtn");
  EXPECT_EQ(ui_.fileRequests[1].initialName, "imgcalib.cfg");
  EXPECT_EQ(form().Text("hotpixelEdit"), "47000");
  EXPECT_EQ(form().IntValue("HotpixelSigmaEdit"), 6);
  EXPECT_EQ(form().Text("darkfilenameEdit4"), "dark4.fit");
  EXPECT_TRUE(ui_.messages.empty()) << ::testing::PrintToString(ui_.messages);
}

TEST_F(CalibrateFormTest, BadFilesAndValuesAreReportedAndChangeNothing) {
  // No file yet: the automatic read says nothing, the button says "read error".
  TickCorrections({});
  EXPECT_TRUE(ui_.messages.empty());
  Click("ReadConfigBtn");
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].rfind("read error", 0), 0u);

  // A damaged line: the rest is read and the message names what was not.
  CalibrationConfig stored;
  stored.DarkFiles = {"a.fit", "b.fit", "c.fit"};
  std::string text = CalibrationConfigText(stored);
  text.replace(text.find("a.fit"), 5, std::string("a\0\x02.fit", 7));
  WriteFile(dir_ / "imgcalib.cfg", text);
  form().SetText("darkfilenameEdit", "kept.fit");
  ui_.messages.clear();
  Click("ReadConfigBtn");
  EXPECT_EQ(form().Text("darkfilenameEdit"), "kept.fit");
  EXPECT_EQ(form().Text("darkfilenameEdit2"), "b.fit");
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_NE(ui_.messages[0].find("line 23 (master dark 1x1): not text"), std::string::npos) << ui_.messages[0];

  // A name that would break the file is refused; the good file stays.
  const std::string good = ReadFile(dir_ / "imgcalib.cfg");
  station_.Calibration.Tables.FlatFiles[0] = "flat\n1.fit";
  ui_.messages.clear();
  Click("SaveBtn");
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].rfind("Configuration not saved: the master flat file name of flat ID 1", 0), 0u);
  EXPECT_EQ(ReadFile(dir_ / "imgcalib.cfg"), good);
  EXPECT_FALSE(station_.Calibration.ConfigurationSaved);
}

TEST_F(CalibrateFormTest, FileButtonsWriteTheChosenNames) {
  ui_.files.push_back("/masters/flat7.fit");
  form().SetValue("StringGrid1", 7);  // the grid's current row
  Click("SetfileBtn");
  EXPECT_EQ(station_.Calibration.Tables.FlatFiles[6], "/masters/flat7.fit");
  EXPECT_EQ(ui_.fileRequests[0].filter, "FITS image|*.fit;*.fits;*.fts|all files|*");

  ui_.files.push_back("/masters/bias4.fit");
  Click("BiasfileBtn4");
  EXPECT_EQ(form().Text("BiasfilenameEdit4"), "/masters/bias4.fit");
  form().SetText("darkfilenameEdit2", "/masters/dark2.fit");
  Click("DarkfileBtn2");  // cancelled: the field keeps its name
  EXPECT_EQ(form().Text("darkfilenameEdit2"), "/masters/dark2.fit");
  EXPECT_EQ(ui_.fileRequests.back().initialFolder, "/masters");
}

}  // namespace
}  // namespace noctarbel
