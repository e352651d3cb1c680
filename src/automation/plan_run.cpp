#include "automation/plan_run.h"

#include <cmath>
#include <filesystem>

#include "station/plan_columns.h"
#include "windows/station.h"
#include "astro/transforms.h"
#include "automation/executor.h"
#include "automation/live_row_actions.h"
#include "automation/night_timeline.h"
#include "automation/test_row_actions.h"
#include "common/number_text.h"
#include "windows/camera_window.h"
#include "windows/viewer_window.h"

namespace noctarbel {

namespace {

constexpr const char* kMain = "PilotForm1";
constexpr const char* kTestForm = "TestForm1";

void SetLamp(Station& station, const char* colour) { station.Main.SetColour("ExecLight", colour); }

// Rows 1, 2, ... while there are rows (the count read anew: rows added meanwhile run too)
// and the run is not stopped.
void RunRows(Station& station, PlanExecutor& executor, bool showAbort) {
  RunState& run = station.Run;
  for (int row = 1; row < station.Planer1.RowCount() && !run.AbortRequested; ++row) {
    if (station.Reports.RowStarted) station.Reports.RowStarted(row, station.Planer1.Cell(kColObject, row));
    executor.ExecutePlanRow(row);
    if (run.AbortRequested) {
      run.PlanRunning = false;
      if (showAbort) station.SetStatus(run.CameraErrorFlag ? "Camera error!" : "Function aborted");
    }
  }
}

// Where the mount points now, as a J2000 position.
std::optional<TargetPosition> MountPosition(Station& station) {
  if (!station.Mount.Connected()) return std::nullopt;
  try {
    const auto status = station.Mount.ReadStatus();
    if (!status) return std::nullopt;
    double ra = status->RightAscension;
    double dec = status->Declination;
    if (station.Mount.WorksInCoordinatesOfDate()) {
      const EquatorialPosition j2000 = DateToJ2000(ra, dec, JulianCenturiesSince2000(station.Clock.LocalNow()));
      ra = j2000.Ra;
      dec = j2000.Dec;
    }
    return TargetPosition{ra, dec};
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

void FixBaseFocusPosition(Station& station) {
  RunState& run = station.Run;
  if (!station.Focuser.HasDriver() || !station.Focuser.Linked()) {
    run.BaseFocusPosition = -1;
    return;
  }
  if (run.BaseFocusPosition >= 0) return;
  try {
    run.BaseFocusPosition = station.Focuser.Read().Position;
  } catch (const std::exception&) {
    run.BaseFocusPosition = -1;
  }
}

// The clean-up after every real run, whatever ended it.
void CleanUpAfterRun(Station& station) {
  RunState& run = station.Run;
  // Stop has set AbortRequested: the clean-up's own waits must not end on it.
  OperationContext op = station.BeginOperation();
  ObservatoryOperations& obs = station.Observatory;
  if (station.Main.Checked("DachzuCheckBox") && obs.GetRoofState() != RoofState::Closed) {
    station.StatusTimer.Stop();
    obs.CloseRoof(op);
    station.StatusTimer.Start();
    if (obs.GetRoofState() != RoofState::Closed) {
      run.RoofErrorState = RoofAlarm::CloseFailed;
      station.LogTimed(": Error closing roof! " + station.Status());
    }
  }
  if (station.Focuser.HasDriver() && station.Focuser.Linked() && run.BaseFocusPosition >= 0) {
    if (station.Focuser.MoveTo(op, run.BaseFocusPosition)) {
      station.LogTimed(": focus position: " + std::to_string(run.BaseFocusPosition));
    }
  }
  if (ViewerStacking(station) || station.Viewer.State() == StackState::PlanDisplay) station.Viewer.StopStack();
  run.FocusShift = 0;
  if (!station.SaveLogFile()) station.SetStatus("The log file could not be written");
  EnableRunControls(station);
  SetLamp(station, "silver");
  for (const char* name : {"StopBtn", "PauseButton", "PlayButton"}) station.Main.SetEnabled(name, false);
  run.AbortRequested = false;
  run.PlanRunning = false;
}

std::string TwoDigits(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

}  // namespace

void DisableRunControls(Station& station) {
  Controls& main = station.Main;
  for (const char* name :
       {"TelescopeGroupBox", "CCDGroupBox", "DomeGroupBox", "SaveButton", "ExecuteButton", "CheckButton", "ClearBtn",
        "LoadButton", "Centerbutton", "Zeileloeschen1", "Zeileeinfuegen1"}) {
    main.SetEnabled(name, false);
  }
  station.Form(kViewerForm).SetEnabled("ExpStartBtn", false);
  station.Form(kViewerForm).SetEnabled("ExpStopBtn", false);
}

void EnableRunControls(Station& station) {
  Controls& main = station.Main;
  for (const char* name : {"TelescopeGroupBox", "CCDGroupBox", "SaveButton", "ExecuteButton", "CheckButton", "ClearBtn",
                           "LoadButton", "Zeileloeschen1", "Zeileeinfuegen1"}) {
    main.SetEnabled(name, true);
  }
  // Without observatory control the observatory's group stays off, as at start-up.
  main.SetEnabled("DomeGroupBox", station.Settings.EnableObservatoryControl);
  station.Form(kViewerForm).SetEnabled("ExpStartBtn", true);
}

bool StartChecks(Station& station) {
  RunState& run = station.Run;
  Ui& ui = station.UiPort;
  Controls& main = station.Main;
  run.AbortRequested = false;
  if (!station.Mount.HasDriver()) {
    ui.ShowMessage("Telescope not connected (click connect button)");
    return false;
  }
  if (station.Settings.EnableObservatoryControl) {
    ObservatoryOperations& obs = station.Observatory;
    if (!obs.ControllerReady()) {
      ui.ShowMessage("Observatory IO not connected(click connect button)");
      return false;
    }
    if (obs.GetRoofState() == RoofState::Undetermined) {
      ui.ShowMessage("Cannot start: Observatory status undefined.");
      return false;
    }
    if (obs.GetRainState() != RainState::Dry && !ui.Ask("Rain sensor aktive or faulty. Start anyway? ")) return false;
  }
  if (!station.Camera.HasDriver()) {
    ui.ShowMessage("Cannot start: Camera not connected (Click connect button).");
    return false;
  }
  if (main.Enabled("CoolerCheckBox") && !main.Checked("CoolerCheckBox") && !ui.Ask("Start without cooling? ")) {
    ui.ShowMessage("Switch on cooler and wait for final temperature.");
    return false;
  }
  if (!main.Checked("CalibrationCheckbox") && !ui.Ask("Start without corrections? ")) {
    ui.ShowMessage("Activate corrections.");
    return false;
  }
  if (main.Text("ImgPathEdit").empty()) {
    FolderselectButtonClick(station);
    if (main.Text("ImgPathEdit").empty()) return false;
  }
  return true;
}

bool RunPlan(Station& station) {
  RunState& run = station.Run;
  Controls& main = station.Main;
  DisableRunControls(station);
  SetLamp(station, "lime");
  main.SetEnabled("StopBtn", true);
  run.PlanRunning = true;
  FixBaseFocusPosition(station);

  LiveRowActions actions(station);
  PlanExecutor executor(station, actions);
  executor.LastTarget = MountPosition(station);
  Controls& viewer = station.Form(kViewerForm);
  viewer.SetEnabled("StackedCheck", main.Checked("StackingCheckBox"));
  viewer.SetChecked("StackedCheck", main.Checked("StackingCheckBox"));
  station.LogUntimed("---------- Autopilot Start ----------------");
  station.LogUntimed("Time: local system time");
  main.SetEnabled("PauseButton", true);
  // The images go where the image path says; a folder that is not there yet is made.
  std::error_code ec;
  std::filesystem::create_directories(station.ResolveFile(main.Text("ImgPathEdit")), ec);
  bool completed = false;
  try {
    RunRows(station, executor, true);
    completed = !run.AbortRequested;
  } catch (const std::exception& e) {
    station.LogTimed(std::string(": Error: ") + e.what());
    station.SetStatus(std::string("Error: ") + e.what());
  }
  CleanUpAfterRun(station);
  run.Timeline = std::move(executor.Timeline);
  return completed;
}

int RunTestPlan(Station& station, DateTime startUt) {
  RunState& run = station.Run;
  Controls& main = station.Main;
  run.TestClock = startUt;
  run.TestMode = true;
  DisableRunControls(station);
  SetLamp(station, "yellow");
  main.SetEnabled("StopBtn", true);
  run.PlanRunning = true;
  run.TestErrorCount = 0;
  run.AbortRequested = false;
  station.LogUntimed("---------Test run start--------------");
  station.LogUntimed("All times in UT! ");
  station.LogUntimed("Start date: " + FormatDate(startUt));

  TestRowActions actions(station);
  PlanExecutor executor(station, actions);
  int errors = -1;
  try {
    RunRows(station, executor, false);
    if (!run.AbortRequested) errors = run.TestErrorCount;
  } catch (const std::exception& e) {
    station.LogTimed(std::string(": Error: ") + e.what());
  }
  run.Timeline = std::move(executor.Timeline);
  if (errors >= 0) station.UiPort.ShowMessage(std::to_string(errors) + " errors found");
  run.TestMode = false;
  EnableRunControls(station);
  SetLamp(station, "silver");
  main.SetEnabled("StopBtn", false);
  run.AbortRequested = false;
  run.PlanRunning = false;
  station.LogUntimed("---------Test run end--------------");
  return errors;
}

void ExecuteButtonClick(Station& station) {
  if (!StartChecks(station)) return;
  RunPlan(station);
  station.UiPort.ShowForm(kNightTimelineForm, false);
}

std::optional<DateTime> ParseTestStart(const std::string& date, const std::string& time) {
  return ParseIsoDateTime(std::string(TrimBlanks(date)) + " " + std::string(TrimBlanks(time)));
}

void CheckButtonClick(Station& station) {
  Controls& form = station.Form(kTestForm);
  form.SetText("Result", "");
  station.Activate(kTestForm, "FormShow");
  station.UiPort.ShowForm(kTestForm, true);
  auto start = ParseTestStart(form.Text("DateEdit"), form.Text("TimeEdit"));
  if (form.Text("Result") != "OK" || !start) {
    station.Run.TestMode = false;
    return;
  }
  RunTestPlan(station, *start);
  station.UiPort.ShowForm(kNightTimelineForm, false);
}

void DeclareTestFormControls(Controls& form) {
  form.Declare("DateEdit", ControlKind::Edit).caption = "Startdatum (UT)";
  form.Declare("TimeEdit", ControlKind::Edit).caption = "Startzeit (UT)";
  form.Declare("Startbutton", ControlKind::Button).caption = "Start";
  form.Declare("CancelButton", ControlKind::Button).caption = "Abbruch";
  form.Declare("AktuellButton", ControlKind::Button).caption = "Aktuelle Zeit";
  // How the dialog was closed: "OK" or empty.
  form.Declare("Result", ControlKind::Label).visible = false;
}

void InstallPlanRunHandlers(Station& station) {
  Controls& form = station.Form(kTestForm);
  if (!form.Has("DateEdit")) DeclareTestFormControls(form);
  Station* st = &station;
  station.SetHandler(kMain, "ExecuteButton", ExecuteButtonClick);
  station.SetHandler(kMain, "CheckButton", CheckButtonClick);
  auto now = [st](bool overwrite) {
    Controls& f = st->Form(kTestForm);
    const CivilDateTime utc = DecodeDateTime(st->Clock.UtcNow());
    const std::string date = std::to_string(utc.year) + "-" + TwoDigits(utc.month) + "-" + TwoDigits(utc.day);
    const std::string time = TwoDigits(utc.hour) + ":" + TwoDigits(utc.minute) + ":" + TwoDigits(utc.second);
    if (overwrite || f.Text("DateEdit").empty()) f.SetText("DateEdit", date);
    if (overwrite || f.Text("TimeEdit").empty()) f.SetText("TimeEdit", time);
  };
  station.SetHandler(kTestForm, "FormShow", [now] { now(false); });
  station.SetHandler(kTestForm, "AktuellButton", [now] { now(true); });
  station.SetHandler(kTestForm, "Startbutton", [st] {
    Controls& f = st->Form(kTestForm);
    if (!ParseTestStart(f.Text("DateEdit"), f.Text("TimeEdit"))) {
      st->UiPort.ShowMessage("'" + f.Text("DateEdit") + " " + f.Text("TimeEdit") + "' is not a valid date and time");
      return;
    }
    f.SetText("Result", "OK");
    st->UiPort.HideForm(kTestForm);
  });
  station.SetHandler(kTestForm, "CancelButton", [st] {
    st->Form(kTestForm).SetText("Result", "");
    st->UiPort.HideForm(kTestForm);
  });
}

}  // namespace noctarbel
