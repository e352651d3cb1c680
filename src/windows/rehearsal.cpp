#include "windows/rehearsal.h"

#include <algorithm>
#include <cmath>
#include <system_error>

#include "automation/night_setup.h"
#include "automation/night_timeline.h"
#include "automation/plan_file.h"
#include "automation/plan_row.h"
#include "automation/plan_run.h"
#include "common/event_runtime.h"
#include "common/number_text.h"
#include "devices/sim/sim_devices.h"
#include "devices/sim/sim_world.h"
#include "station/plan_columns.h"
#include "station/site_sky.h"
#include "windows/camera_window.h"
#include "windows/plan_window.h"
#include "windows/station.h"

namespace noctarbel {

namespace {

constexpr const char* kMain = "PilotForm1";

// The speed box's choices, in its order.
constexpr double kSpeeds[] = {60, 600, 0};

std::string SpeedText(double speed) {
  return speed > 0 ? "x " + std::to_string(static_cast<int>(speed)) : "as fast as possible";
}

// The plan table's rows as a plan file holds them (columns 1..16).
std::vector<PlanRow> PlanRows(const StringGrid& grid) {
  std::vector<PlanRow> rows;
  for (int row = 1; row < grid.RowCount(); ++row) {
    RowCells cells = CellsOfRow(grid, row);
    rows.emplace_back(cells.begin() + 1, cells.end());
  }
  return rows;
}

// True when `inner` is `folder` or lies within it.
bool WithinFolder(const std::filesystem::path& inner, const std::filesystem::path& folder) {
  std::error_code ec;
  const std::filesystem::path a = std::filesystem::weakly_canonical(inner, ec);
  const std::filesystem::path b = std::filesystem::weakly_canonical(folder, ec);
  auto mismatch = std::mismatch(b.begin(), b.end(), a.begin(), a.end());
  return mismatch.first == b.end();
}

// The station's own image folders must never be the scratch folder a rehearsal empties.
std::string ImageFolderInScratch(Station& station, const std::filesystem::path& scratch) {
  for (const std::string& setting : {station.Main.Text("ImgPathEdit"), station.Settings.RootImagePath}) {
    if (!TrimBlanks(setting).empty() && WithinFolder(station.ResolveFile(setting), scratch)) return setting;
  }
  return {};
}

bool EmptyScratchFolder(const std::filesystem::path& folder, std::string* error) {
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  if (!ec) std::filesystem::create_directories(folder, ec);
  if (ec) *error = folder.string() + ": " + ec.message();
  return !ec;
}

// What the window shows of the rehearsal's run: its images in the preview, its rows in the
// table and on the time line, its status in the status bar.
RunEvents RehearsalEvents(Station& window) {
  Station* st = &window;
  RunEvents events;
  events.RowStarted = [st](int row, const std::string&) { st->Planer1.SetCurrent(kColObject, row); };
  events.ImageDone = [st](Timgbuffer& image, const std::string& object) {
    ShowInPreview(*st, image);
    st->Main.SetText("ImgMaxEdit", std::to_string(image.Maximum));
    st->Main.SetText("ImgMeanEdit", "");
    st->Main.SetText("ImageInfoEdit", object + " (rehearsal)");
  };
  events.RowEnded = [st](const RowSpan& span) {
    st->Run.Timeline.push_back(span);
    if (st->OnTimelineChanged) st->OnTimelineChanged();
  };
  return events;
}

// The window's run controls while a rehearsal runs, and after it.
void ShowRehearsing(Station& window, bool rehearsing, const std::string& label) {
  Controls& main = window.Main;
  if (rehearsing) {
    DisableRunControls(window);
  } else {
    EnableRunControls(window);
  }
  main.SetEnabled("RehearseButton", !rehearsing);
  main.SetEnabled("StopBtn", rehearsing);
  main.SetEnabled("PauseButton", rehearsing);
  main.SetEnabled("PlayButton", false);
  main.SetColour("ExecLight", rehearsing ? "lime" : "silver");
  main.SetCaption("RehearsalLabel", label);
  main.SetVisible("RehearsalLabel", rehearsing);
}

}  // namespace

std::filesystem::path RehearsalFolder(const Station& station) { return station.Paths.Home / "rehearsal"; }

double RehearsalSpeed(const Controls& main) {
  const int choice = main.Selection("RehearseSpeedBox");
  return choice >= 0 && choice < 3 ? kSpeeds[choice] : kSpeeds[1];
}

Rehearsal::Rehearsal(Station& window, DateTime start) : window_(window) {
  const double offsetHours = (window.Clock.LocalNow() - window.Clock.UtcNow()) * 24.0;
  clock_ = EventRuntime::WithVirtualClock(start, std::round(offsetHours * 4) / 4);
  // The station's settings and tables as the command line's simulated night reads them.
  core_ = std::make_unique<StationCore>(*clock_, window.Paths);
  core_->LoadSettingsAndTables();
  LoadHorizon(*core_);
  core_->StatusTimer.Start();
}

Rehearsal::~Rehearsal() { clock_->SetPace(0, nullptr); }

void Rehearsal::SetSpeed(double speed) {
  Station* window = &window_;
  StationCore* core = core_.get();
  clock_->SetPace(speed, [window, core](int milliseconds) {
    // The window's Pause and Stop act on the rehearsal.
    if (milliseconds > 0) {
      window->Clock.Sleep(milliseconds);
    } else {
      window->Clock.Pump();
    }
    core->Run.PauseRequested = window->Run.PauseRequested;
    if (window->Run.AbortRequested) core->Run.AbortRequested = true;
  });
}

void Rehearsal::Stop() {
  if (core_->Run.AbortRequested) return;
  core_->LogTimed(": Stop pressed: the run stops");
  core_->Run.AbortRequested = true;
}

void Rehearsal::ApplySimulatorSwitches() {
  const Controls& main = window_.Main;
  core_->Observatory.SimRain = main.Checked("RehearseRainCheck") ? RainState::Wet : RainState::Dry;
  SimWorld* world = SimulatedWorld(core_->Devices.Registry);
  if (!world) return;
  world->Camera.Config.NeverReady = main.Checked("RehearseCameraFaultCheck");
  SkyModel& sky = world->Sky;
  if (!skyKnown_) {
    // The sky as the simulators made it, for clouds that clear again.
    skyKnown_ = true;
    faintStars_ = sky.FaintStarsPerCell;
    brightMin_ = sky.BrightMagnitudeMin;
    brightMax_ = sky.BrightMagnitudeMax;
    starAtTargets_ = sky.StarAtSlewTargets;
  }
  if (main.Checked("RehearseCloudsCheck")) {
    sky.FaintStarsPerCell = 0;
    sky.BrightMagnitudeMin = sky.BrightMagnitudeMax = 40;
    sky.StarAtSlewTargets = false;
  } else {
    sky.FaintStarsPerCell = faintStars_;
    sky.BrightMagnitudeMin = brightMin_;
    sky.BrightMagnitudeMax = brightMax_;
    sky.StarAtSlewTargets = starAtTargets_;
  }
}

bool RehearsePlan(Station& station, const RehearsalOptions& options) {
  if (station.Run.PlanRunning || station.ActiveRehearsal) {
    station.UiPort.ShowMessage("A run is going on: the rehearsal waits until it has ended");
    return false;
  }
  if (!PlanHasRows(station.Planer1)) {
    station.UiPort.ShowMessage("The plan table is empty: load a plan (Load table) or type its rows, then Rehearse");
    return false;
  }
  const std::filesystem::path folder = RehearsalFolder(station);
  if (std::string images = ImageFolderInScratch(station, folder); !images.empty()) {
    station.UiPort.ShowMessage("The image folder " + images + " lies in the rehearsals' scratch folder " +
                               folder.string() + ", which a rehearsal empties: choose another image folder first");
    return false;
  }
  std::string error;
  if (!EmptyScratchFolder(folder, &error)) {
    station.UiPort.ShowMessage("The rehearsal's folder cannot be made: " + error);
    return false;
  }
  const std::vector<PlanRow> rows = PlanRows(station.Planer1);
  const DateTime start = options.Start ? *options.Start : DefaultSimulationStart(rows, station.Clock.UtcNow());
  const double speed = options.Speed ? *options.Speed : RehearsalSpeed(station.Main);
  for (int choice = 0; choice < 3; ++choice) {
    if (kSpeeds[choice] == speed) station.Main.SetSelection("RehearseSpeedBox", choice);
  }

  Rehearsal rehearsal(station, start);
  StationCore& core = rehearsal.Core();
  ReplacePlanRows(core.Planer1, rows);
  SimulatedFaults faults(core);
  if (options.RainAt) faults.RainAt(*options.RainAt);

  NightOptions night;
  night.Simulate = true;
  night.Corrections = station.Main.Checked("CalibrationCheckbox");
  night.CloseRoofAtEnd = station.Main.Checked("DachzuCheckBox");
  night.Stacking = station.Main.Checked("StackingCheckBox");
  night.Guiding = station.Main.Checked("starguideCheckBox");
  night.ImageFolder = folder;
  PreparedNight prepared = PrepareNight(core, night);
  PlanRun run(core, prepared.Options, RehearsalEvents(station));
  FollowRunProgress(station, run.Events);
  run.Options.PlanFile.clear();

  // The window follows the rehearsal.
  station.ActiveRehearsal = &rehearsal;
  station.Run.PlanRunning = true;
  station.Run.AbortRequested = false;
  station.Run.PauseRequested = false;
  station.Run.Timeline.clear();
  ShowRehearsing(station, true, "REHEARSAL " + SpeedText(speed) + ": simulators, simulated clock");
  station.Main.SetHint("RehearsalLabel", "A rehearsal on the simulators and a simulated clock; its images go to " +
                                             folder.string() + ". The station's own devices are not used.");
  station.UiPort.ShowForm(kNightTimelineForm, false);
  station.Log.Append("---------- Rehearsal from " + FormatDateTime(start) + " UT (" + SpeedText(speed) +
                     "), images in " + folder.string() + " ----------");
  for (const std::string& note : prepared.Notes) station.Log.Append("Rehearsal: " + note);
  const int token = core.Log.Subscribe([&station, &core](long index) {
    if (index >= 0) station.Log.Append(core.Log.Lines()[static_cast<size_t>(index)]);
  });
  core.OnStatus = [&station, &core](const std::string& text) {
    const size_t begin = text.find_first_not_of(": ");
    station.Main.SetText("StatusBar1", "Rehearsal " + FormatTime(core.Clock.UtcNow()) + " UT: " +
                                           (begin == std::string::npos ? "" : text.substr(begin)));
  };
  rehearsal.ApplySimulatorSwitches();
  rehearsal.SetSpeed(speed);

  RunPrompts prompts;
  // Nothing is asked: the start checks' questions are the real night's, answered Yes here.
  prompts.Tell = [&station](const std::string& text) { station.Log.Append("Rehearsal: " + text); };
  prompts.Ask = [&station](const std::string& question) {
    station.Log.Append("Rehearsal: " + question + "-> Yes");
    return true;
  };
  bool completed = false;
  if (run.StartChecks(prompts)) {
    completed = run.Run();
  } else {
    station.Log.Append("Rehearsal: the run did not start");
  }

  core.Log.Unsubscribe(token);
  core.OnStatus = nullptr;
  station.Run.Timeline = core.Run.Timeline;
  if (station.OnTimelineChanged) station.OnTimelineChanged();
  EndRunProgress(station, completed ? "The rehearsal has ended" : "The rehearsal was stopped");
  station.Log.Append(std::string("---------- Rehearsal ") + (completed ? "ended" : "aborted") + " at " +
                     FormatDateTime(core.Clock.UtcNow()) + " UT ----------");
  station.ActiveRehearsal = nullptr;
  station.Run.PlanRunning = false;
  station.Run.AbortRequested = false;
  station.Run.PauseRequested = false;
  ShowRehearsing(station, false, "");
  station.Main.SetText("StatusBar1", std::string("Rehearsal ") + (completed ? "ended" : "aborted") + ": images in " +
                                         folder.string());
  return completed;
}

void RehearseButtonClick(Station& station) { RehearsePlan(station); }

void InstallRehearsalHandlers(Station& station) {
  Station* st = &station;
  station.SetHandler(kMain, "RehearseButton", RehearseButtonClick);
  station.SetHandler(kMain, "RehearseSpeedBox", [st] {
    if (st->ActiveRehearsal) st->ActiveRehearsal->SetSpeed(RehearsalSpeed(st->Main));
  });
  for (const char* name : {"RehearseRainCheck", "RehearseCloudsCheck", "RehearseCameraFaultCheck"}) {
    station.SetHandler(kMain, name, [st] {
      if (st->ActiveRehearsal) st->ActiveRehearsal->ApplySimulatorSwitches();
    });
  }
}

}  // namespace noctarbel
