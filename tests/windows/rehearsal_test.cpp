// A rehearsal in the window runs the plan table through the same run as the command line's
// simulated night, on a station of its own, while the window shows what it does.

#include "windows/rehearsal.h"

#include <gtest/gtest.h>

#include "automation/plan_file.h"
#include "common/event_runtime.h"
#include "operations/station_core.h"
#include "tests/station_fixture.h"
#include "windows/install_windows.h"

namespace noctarbel {
namespace {

using testing::ReadFile;

const std::string kDemoPlan = std::string(NOCTARBEL_SOURCE_DATA_DIR) + "/examples/demo-night.csv";

class Rehearse : public testing::StationFixture {
 protected:
  Rehearse() {
    // The window's clock in UTC, as the recorded night was.
    station.reset();
    clock = EventRuntime::WithVirtualClock(EncodeDateTime(2026, 12, 7, 12, 0, 0), 0);
    Restart();
    // The station folder as the command line's recorded night found it: the simulated
    // focuser's V lines, nothing else.
    testing::WriteFile(station->SettingsFilePath(),
                       "[Autofocus]\r\nAFposition=5000\r\nAFLslope=-0.0345\r\nAFLic=172.2\r\nAFRslope=0.0345\r\n"
                       "AFRic=-173.3\r\n");
    InstallHandlers(*station);
    const PlanFileContent plan = ReadPlanFile(kDemoPlan);
    EXPECT_TRUE(plan.ok);
    ReplacePlanRows(station->Planer1, plan.rows);
    // The command line's options: no corrections, stacking, the roof closed at the end.
    station->Main.SetChecked("CalibrationCheckbox", false);
    station->Main.SetChecked("StackingCheckBox", true);
    station->Main.SetChecked("DachzuCheckBox", true);
    options.Start = EncodeDateTime(2026, 12, 7, 17, 20, 0);
    options.Speed = 0;
  }

  // `act` runs on the window's clock while the rehearsal goes on, with the rehearsal's UT.
  void WhileRehearsing(std::function<void(DateTime)> act) {
    watch = std::make_unique<Timer>(*clock, 1);
    watch->SetHandler([this, act] {
      if (station->ActiveRehearsal) act(station->ActiveRehearsal->Clock().UtcNow());
    });
    watch->Start();
  }

  std::string WindowLog() const {
    std::string text;
    for (const std::string& line : station->Log.Lines()) text += line + "\n";
    return text;
  }

  RehearsalOptions options;
  std::unique_ptr<Timer> watch;
};

TEST_F(Rehearse, TheExampleNightEndsWithTheCommandLinesImagesAndLog) {
  ASSERT_TRUE(RehearsePlan(*station, options));
  const std::filesystem::path folder = RehearsalFolder(*station);
  std::string log = ReadFile(folder / "logfile.txt");
  for (size_t at; (at = log.find(folder.string())) != std::string::npos;)
    log.replace(at, folder.string().size(), "IMAGES");
  const std::string recorded = std::string(NOCTARBEL_TEST_DATA_DIR) + "/demo_night/";
  EXPECT_EQ(log, ReadFile(recorded + "logfile.txt"));
  std::istringstream images(ReadFile(recorded + "images.txt"));
  int files = 0;
  for (std::string name, hash; images >> name >> hash; ++files)
    EXPECT_TRUE(std::filesystem::exists(folder / name)) << name;
  EXPECT_GT(files, 20);
  // The window followed it: the log, the time line, the counts; and it is over.
  EXPECT_NE(WindowLog().find("saved to " + (folder / "m31-L-001.fit").string()), std::string::npos);
  EXPECT_EQ(station->Run.Timeline.size(), 11u);
  EXPECT_EQ(station->Main.Caption("RunProgress"), "The rehearsal has ended: 24 images saved");
  EXPECT_FALSE(station->ActiveRehearsal || station->Run.PlanRunning);
  EXPECT_FALSE(station->Main.Visible("RehearsalLabel"));
  EXPECT_FALSE(station->Camera.HasDriver()) << "the station's own devices are not used";
}

TEST_F(Rehearse, RainSwitchedOnMidNightGivesTheEmergency) {
  bool raining = false;
  WhileRehearsing([&](DateTime ut) {
    if (raining || ut < EncodeDateTime(2026, 12, 7, 19, 50, 0)) return;
    raining = true;
    station->Main.SetChecked("RehearseRainCheck", true);
    station->Activate("RehearseRainCheck");
  });
  EXPECT_FALSE(RehearsePlan(*station, options));
  EXPECT_TRUE(raining);
  EXPECT_NE(WindowLog().find("Emergency! Going to park position"), std::string::npos) << WindowLog();
  EXPECT_EQ(station->Main.Caption("RunProgress").rfind("The rehearsal was stopped", 0), 0u);
}

TEST_F(Rehearse, TheStatusLineOfAWaitNamesTheNextRowAndItsTimeAndStopIsLogged) {
  std::string seen;
  const int token = station->Main.Subscribe([&](const std::string& name, ControlProperty) {
    const std::string status = station->Main.Text("StatusBar1");
    if (name != "StatusBar1" || !seen.empty() || status.find("Waiting for row 5") == std::string::npos) return;
    seen = status;
    station->Activate("StopBtn");
  });
  EXPECT_FALSE(RehearsePlan(*station, options));
  station->Main.Unsubscribe(token);
  EXPECT_EQ(seen.substr(seen.find("UT: ") + 4, seen.find(": 0:") - seen.find("UT: ") - 4),
            "Waiting for row 5 (M 31) at 18:15:00 UT")
      << seen;
  // The stop is logged at the rehearsal's time, not the window's.
  const std::string log = WindowLog();
  const size_t stop = log.find(": Stop pressed: the run stops");
  ASSERT_NE(stop, std::string::npos) << log;
  const std::string stoppedAt = log.substr(stop - 8, 8);
  EXPECT_TRUE(stoppedAt >= "17:20:00" && stoppedAt < "18:15:00") << stoppedAt;
}

TEST_F(Rehearse, NeverEmptiesTheStationsImageFolder) {
  const std::filesystem::path images = RehearsalFolder(*station) / "night";
  std::filesystem::create_directories(images);
  testing::WriteFile(images / "m31-L-001.fit", "an image of a real night");
  station->Main.SetText("ImgPathEdit", images.string());
  EXPECT_FALSE(RehearsePlan(*station, options));
  EXPECT_TRUE(std::filesystem::exists(images / "m31-L-001.fit"));
  EXPECT_NE(ui.messages.back().find("choose another image folder"), std::string::npos);
}

}  // namespace
}  // namespace noctarbel
