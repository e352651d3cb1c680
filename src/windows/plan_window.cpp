#include "windows/plan_window.h"

#include <algorithm>

#include "automation/night_report.h"
#include "automation/night_timeline.h"
#include "common/number_text.h"
#include "windows/camera_window.h"
#include "windows/station.h"
#include "windows/viewer_window.h"

namespace noctarbel {

namespace {

constexpr const char* kMain = "PilotForm1";
constexpr const char* kTestForm = "TestForm1";

void SetLamp(Station& station, const char* colour) { station.Main.SetColour("ExecLight", colour); }

std::string TwoDigits(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

// The options an operator may change while the run goes on, each with its control: the run
// follows the control's changes.
struct LiveOption {
  const char* Control;
  void (*Take)(const Controls& main, RunOptions& options);
};

const std::vector<LiveOption>& LiveOptions() {
  static const std::vector<LiveOption> options = {
      {"CalibrationCheckbox", [](const Controls& m, RunOptions& o) { o.Corrections = m.Checked("CalibrationCheckbox"); }},
      {"DachzuCheckBox", [](const Controls& m, RunOptions& o) { o.CloseRoofAtEnd = m.Checked("DachzuCheckBox"); }},
      {"StackingCheckBox", [](const Controls& m, RunOptions& o) { o.Stacking = m.Checked("StackingCheckBox"); }},
      {"starguideCheckBox", [](const Controls& m, RunOptions& o) { o.Guiding = m.Checked("starguideCheckBox"); }},
      {"HotpixelCheckbox", [](const Controls& m, RunOptions& o) { o.HotPixelFilter = m.Checked("HotpixelCheckbox"); }},
      {"ViewerControlCheck", [](const Controls& m, RunOptions& o) { o.ExtraViewer = m.Checked("ViewerControlCheck"); }},
      {"WebmonitorCheck", [](const Controls& m, RunOptions& o) { o.WebMonitor = m.Checked("WebmonitorCheck"); }},
      {"SYrangeEdit", [](const Controls& m, RunOptions& o) { o.SyncRangeArcsec = m.Value("SYrangeEdit"); }},
      {"CoolerTempEdit", [](const Controls& m, RunOptions& o) { o.CoolerSetPoint = m.Value("CoolerTempEdit"); }},
  };
  return options;
}

// Runs `work` with the run's options following the operator's changes while it lasts.
template <typename Work>
auto WithLiveOptions(Station& station, PlanRun& run, Work work) {
  const int token = station.Main.Subscribe([&station, &run](const std::string& name, ControlProperty what) {
    if (what != ControlProperty::Checked && what != ControlProperty::Value) return;
    for (const LiveOption& option : LiveOptions()) {
      if (name == option.Control) option.Take(station.Main, run.Options);
    }
  });
  struct Unsubscribe {
    Controls& main;
    int token;
    ~Unsubscribe() { main.Unsubscribe(token); }
  } unsubscribe{station.Main, token};
  return work();
}

}  // namespace

RunOptions RunOptionsFromWindow(Station& station) {
  RunOptions options;
  const Controls& main = station.Main;
  for (const LiveOption& option : LiveOptions()) option.Take(main, options);
  options.ImageFolder = main.Text("ImgPathEdit");
  options.CoolerOff = main.Enabled("CoolerCheckBox") && !main.Checked("CoolerCheckBox");
  options.ShutdownAllowed = station.ShutdownAllowed;
  return options;
}

RunEvents WindowRunEvents(Station& station) {
  Station* st = &station;
  RunEvents events;
  events.ImageDone = [st](Timgbuffer& image, const std::string& object) {
    ShowInPreview(*st, image);
    st->Main.SetText("ImgMaxEdit", std::to_string(image.Maximum));
    st->Main.SetText("ImgMeanEdit", "");
    st->Main.SetText("ImageInfoEdit", object);
  };
  events.ViewerChanged = [st](bool webMonitor) {
    ViewerRedraw(*st);
    if (webMonitor) ViewerWebMonitor(*st);
  };
  events.ViewerFile = [st](const std::string& file, bool webMonitor) {
    ViewerShowFile(*st, file);
    if (webMonitor) ViewerWebMonitor(*st);
  };
  events.SyncExposure = [st](double seconds, int filter, int binning) {
    // The exposure field, the filter and the binning show what the sync takes.
    st->Main.SetText("ExposeSecEdit", FormatGeneral(seconds));
    st->Main.SetValue("FilterEdit", filter);
    st->Main.SetValue("BinningEdit1", binning);
  };
  events.CoolerSwitchedOn = [st] {
    st->Main.SetChecked("CoolerCheckBox", true);
    st->Main.SetEnabled("WarmUpBtn", true);
  };
  return events;
}

void ShowRunProgress(Station& station) {
  const Station::RunProgressState& p = station.Progress;
  std::string text;
  if (p.Row > 0) {
    text = "Row " + std::to_string(p.Row) + " of " + std::to_string(p.Rows) + (p.Object.empty() ? "" : " (" + p.Object + ")");
  }
  if (p.Image > 0) {
    text += ", image " + std::to_string(p.Image) + " of " + std::to_string(p.Images) +
            (p.Filter.empty() ? "" : " " + p.Filter);
  }
  if (p.Saved > 0) text += (text.empty() ? "" : ", ") + std::to_string(p.Saved) + " images saved";
  if (station.Run.PauseRequested && station.Run.PlanRunning) {
    text += p.Exposing ? " - pauses after this image" : " - pauses at the next step";
  }
  station.Main.SetCaption("RunProgress", text);
}

void FollowRunProgress(Station& station, RunEvents& events) {
  Station* st = &station;
  st->Progress = {};
  st->Progress.Rows = std::max(st->Planer1.RowCount() - 1, 0);
  ShowRunProgress(station);
  events.RowStarted = [st, before = events.RowStarted](int row, const std::string& object) {
    Station::RunProgressState& p = st->Progress;
    p.Row = row;
    p.Rows = std::max(st->Planer1.RowCount() - 1, row);
    p.Object = object;
    p.Image = p.Images = 0;
    p.Exposing = false;
    st->Main.SetValue("Planer1", row);
    ShowRunProgress(*st);
    if (before) before(row, object);
  };
  events.ImageStarted = [st, before = events.ImageStarted](int image, int images, const std::string& filter) {
    Station::RunProgressState& p = st->Progress;
    p.Image = image;
    p.Images = images;
    p.Filter = filter;
    p.Exposing = true;
    ShowRunProgress(*st);
    if (before) before(image, images, filter);
  };
  events.ImageDone = [st, before = events.ImageDone](Timgbuffer& image, const std::string& object) {
    st->Progress.Exposing = false;
    if (before) before(image, object);
  };
  events.FileSaved = [st, before = events.FileSaved](const std::string& file, bool stack) {
    if (!stack) ++st->Progress.Saved;
    ShowRunProgress(*st);
    if (before) before(file, stack);
  };
}

void EndRunProgress(Station& station, const std::string& text) {
  station.Progress.Exposing = false;
  station.Main.SetValue("Planer1", 0);
  station.Main.SetCaption("RunProgress", text + (station.Progress.Saved > 0
                                                  ? ": " + std::to_string(station.Progress.Saved) + " images saved"
                                                  : ""));
}

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

bool StartChecks(Station& station, PlanRun& run) {
  RunPrompts prompts;
  prompts.Tell = [&station](const std::string& text) { station.UiPort.ShowMessage(text); };
  prompts.Ask = [&station](const std::string& question) { return station.UiPort.Ask(question); };
  prompts.ChooseImageFolder = [&station] {
    FolderselectButtonClick(station);
    return station.Main.Text("ImgPathEdit");
  };
  return run.StartChecks(prompts);
}

bool RunPlan(Station& station, PlanRun& run) {
  Controls& main = station.Main;
  DisableRunControls(station);
  SetLamp(station, "lime");
  main.SetEnabled("StopBtn", true);
  Controls& viewer = station.Form(kViewerForm);
  viewer.SetEnabled("StackedCheck", run.Options.Stacking);
  viewer.SetChecked("StackedCheck", run.Options.Stacking);
  main.SetEnabled("PauseButton", true);
  FollowRunProgress(station, run.Events);
  const bool completed = WithLiveOptions(station, run, [&run] { return run.Run(); });
  EndRunProgress(station, completed ? "The run has ended" : "The run was stopped");
  // The status keeps why a run stopped; a night that ran to its end says so and where it went.
  if (completed && run.EndState.LogSaved) station.SetStatus("The run has ended: images and log in " + run.ImageFolder().string());
  if (ViewerStacking(station)) station.Viewer.StopStack();
  EnableRunControls(station);
  SetLamp(station, "silver");
  for (const char* name : {"StopBtn", "PauseButton", "PlayButton"}) main.SetEnabled(name, false);
  return completed;
}

int RunTestPlan(Station& station, DateTime startUt) { return RunTestPlan(station, startUt, WindowRunEvents(station)); }

int RunTestPlan(Station& station, DateTime startUt, RunEvents events) {
  Controls& main = station.Main;
  DisableRunControls(station);
  SetLamp(station, "yellow");
  main.SetEnabled("StopBtn", true);
  PlanRun run(station, RunOptionsFromWindow(station), std::move(events));
  const int errors = run.Test(startUt);
  if (errors >= 0) station.UiPort.ShowMessage(std::to_string(errors) + " errors found");
  EnableRunControls(station);
  SetLamp(station, "silver");
  main.SetEnabled("StopBtn", false);
  return errors;
}

// A night of this plan cut short in the image folder: the operator may go on with it.
void OfferResume(Station& station, PlanRun& run) {
  const ResumeCheck check = CheckResume(run.ImageFolder(), PlanChecksum(station.Planer1, station.Settings.Standardfilter));
  if (check.Verdict != ResumeVerdict::Resumable) return;
  if (station.UiPort.Ask("The image folder holds an unfinished night of this plan: " + check.Message +
                         ". Go on with it (finished rows and saved images are not taken again)? ")) {
    run.Resume = check.Night;
  }
}

void ExecuteButtonClick(Station& station) {
  PlanRun run(station, RunOptionsFromWindow(station), WindowRunEvents(station));
  if (!StartChecks(station, run)) return;
  OfferResume(station, run);
  if (station.StatusPage) station.StatusPage->Follow(run.Events);
  const size_t firstLine = station.Log.Size();
  const bool completed = RunPlan(station, run);
  if (station.StatusPage) station.StatusPage->RunEnded(completed);
  std::string error;
  if (!WriteRunReport(station, run.ImageFolder(), firstLine, &error)) {
    station.SetStatus("The night's report was not written: " + error);
  }
  station.UiPort.ShowForm(kNightTimelineForm, false);
}

void StartStatusPage(Station& station) {
  if (station.Settings.StatusPage.empty() || station.StatusPage) return;
  auto service = std::make_unique<StatusService>(station);
  std::string error;
  if (!service->Start("", &error)) {
    station.LogTimed(": The status page did not start: " + error);
    station.SetStatus("The status page did not start: " + error);
    return;
  }
  station.StatusPage = std::move(service);
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
  const size_t firstLine = station.Log.Size();
  RunTestPlan(station, *start);
  // The forecast of the night beside the settings.
  std::string error;
  if (!WriteNightReport(ForecastReport(station, firstLine), station.Paths.Home / kNightReportFileName, &error)) {
    station.SetStatus("The night's forecast was not written: " + error);
  }
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
