#include "automation/plan_run.h"

#include <filesystem>

#include "astro/transforms.h"
#include "automation/executor.h"
#include "automation/live_row_actions.h"
#include "automation/plan_file.h"
#include "automation/plan_row.h"
#include "automation/test_row_actions.h"
#include "operations/station_core.h"

namespace noctarbel {

namespace {

// A resumed night skips its finished rows, except those that set up what the rows after them
// need and that a stop or a kill may have undone: the cooler's row, and the roof's opening
// when no finished row closed it again and the roof is not open now.
bool SkippedOnResume(PlanRun& run, int row) {
  if (!run.Resume || !run.Resume->RowFinished(row)) return false;
  StationCore& core = run.Core;
  const RowCommand command = CommandOf(CellsOfRow(core.Planer1, row));
  if (command == RowCommand::CoolerOn) return false;
  if (command != RowCommand::OpenRoof) return true;
  for (int later = row + 1; later < core.Planer1.RowCount(); ++later) {
    if (run.Resume->RowFinished(later) && CommandOf(CellsOfRow(core.Planer1, later)) == RowCommand::CloseRoof) {
      return true;
    }
  }
  return core.Observatory.GetRoofState() == RoofState::Open;
}

// Rows 1, 2, ... while there are rows (the count read anew: rows added meanwhile run too)
// and the run is not stopped.
void RunRows(PlanRun& run, PlanExecutor& executor, bool showAbort) {
  StationCore& core = run.Core;
  RunState& state = core.Run;
  for (int row = 1; row < core.Planer1.RowCount() && !state.AbortRequested; ++row) {
    if (SkippedOnResume(run, row)) continue;
    if (run.Events.RowStarted) run.Events.RowStarted(row, core.Planer1.Cell(kColObject, row));
    if (run.Journal()) run.Journal()->RowStarted(row, core.Planer1.Cell(kColObject, row));
    const size_t spans = executor.Timeline.size();
    executor.ExecutePlanRow(row);
    if (executor.Timeline.size() > spans) {
      if (run.Journal()) run.Journal()->RowSpanned(executor.Timeline.back());
      if (run.Events.RowEnded) run.Events.RowEnded(executor.Timeline.back());
    }
    if (state.AbortRequested) {
      state.PlanRunning = false;
      if (showAbort) core.SetStatus(state.CameraErrorFlag ? "Camera error!" : "Function aborted");
    } else if (run.Journal()) {
      run.Journal()->RowFinished(row);
    }
  }
}

// Where the mount points now, as a J2000 position.
std::optional<TargetPosition> MountPosition(StationCore& core) {
  if (!core.Mount.Connected()) return std::nullopt;
  try {
    const auto status = core.Mount.ReadStatus();
    if (!status) return std::nullopt;
    double ra = status->RightAscension;
    double dec = status->Declination;
    if (core.Mount.WorksInCoordinatesOfDate()) {
      const EquatorialPosition j2000 = DateToJ2000(ra, dec, JulianCenturiesSince2000(core.Clock.LocalNow()));
      ra = j2000.Ra;
      dec = j2000.Dec;
    }
    return TargetPosition{ra, dec};
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace

PlanRun::PlanRun(StationCore& core, RunOptions options, RunEvents events)
    : Core(core), Options(std::move(options)), Events(std::move(events)) {}

std::filesystem::path PlanRun::ImageFolder() const {
  std::filesystem::path folder = Options.ImageFolder.empty() ? Core.Paths.Home : Core.ResolveFile(Options.ImageFolder);
  std::string text = folder.string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

void PlanRun::FixBaseFocusPosition() {
  RunState& run = Core.Run;
  if (!Core.Focuser.HasDriver() || !Core.Focuser.Linked()) {
    run.BaseFocusPosition = -1;
    return;
  }
  if (run.BaseFocusPosition >= 0) return;
  try {
    run.BaseFocusPosition = Core.Focuser.Read().Position;
  } catch (const std::exception&) {
    run.BaseFocusPosition = -1;
  }
}

bool PlanRun::StartChecks(const RunPrompts& prompts) {
  RunState& run = Core.Run;
  auto tell = [&prompts](const std::string& text) {
    if (prompts.Tell) prompts.Tell(text);
  };
  auto ask = [&prompts](const std::string& question) { return prompts.Ask && prompts.Ask(question); };
  run.AbortRequested = false;
  if (!Core.Mount.HasDriver()) {
    tell("Telescope not connected (click connect button)");
    return false;
  }
  if (Core.Settings.EnableObservatoryControl) {
    ObservatoryOperations& obs = Core.Observatory;
    if (!obs.ControllerReady()) {
      tell("Observatory IO not connected(click connect button)");
      return false;
    }
    if (obs.GetRoofState() == RoofState::Undetermined) {
      tell("Cannot start: Observatory status undefined.");
      return false;
    }
    if (obs.GetRainState() != RainState::Dry && !ask("Rain sensor aktive or faulty. Start anyway? ")) return false;
  }
  if (!Core.Camera.HasDriver()) {
    tell("Cannot start: Camera not connected (Click connect button).");
    return false;
  }
  if (Options.CoolerOff && !ask("Start without cooling? ")) {
    tell("Switch on cooler and wait for final temperature.");
    return false;
  }
  if (!Options.Corrections && !ask("Start without corrections? ")) {
    tell("Activate corrections.");
    return false;
  }
  if (Options.ImageFolder.empty()) {
    if (prompts.ChooseImageFolder) Options.ImageFolder = prompts.ChooseImageFolder();
    if (Options.ImageFolder.empty()) return false;
  }
  return true;
}

void PlanRun::NotifyNightEnd(bool completed) {
  std::string message = completed ? "The night ended" : "The night was aborted: " + Core.Status();
  if (EndState.RoofClosed) message += *EndState.RoofClosed ? "; the roof is closed" : "; the roof is NOT closed";
  Core.Notify(EndState.Failed ? "night-unsafe" : completed ? "night-ended" : "night-aborted", message);
}

void PlanRun::CleanUp(bool completed) {
  RunState& run = Core.Run;
  // Stop has set AbortRequested: the clean-up's own waits must not end on it.
  OperationContext op = Core.BeginOperation();
  ObservatoryOperations& obs = Core.Observatory;
  EndState = {};
  if (Options.CloseRoofAtEnd && obs.GetRoofState() != RoofState::Closed) {
    Core.StatusTimer.Stop();
    const RoofMoveResult closed = obs.CloseRoof(op);
    Core.StatusTimer.Start();
    if (closed.Ok || closed.ParkFailed) EndState.Parked = !closed.ParkFailed;
    if (obs.GetRoofState() != RoofState::Closed) {
      run.RoofErrorState = RoofAlarm::CloseFailed;
      Core.LogTimed(": Error closing roof! " + Core.Status());
      EndState.Failed = obs.ControlEnabled() || closed.ParkFailed;
    }
  }
  if (obs.ControlEnabled()) EndState.RoofClosed = obs.GetRoofState() == RoofState::Closed;
  if (Core.Focuser.HasDriver() && Core.Focuser.Linked() && run.BaseFocusPosition >= 0) {
    if (Core.Focuser.MoveTo(op, run.BaseFocusPosition)) {
      Core.LogTimed(": focus position: " + std::to_string(run.BaseFocusPosition));
    }
  }
  if (Core.Viewer.State() == StackState::PlanDisplay) Core.Viewer.StopStack();
  run.FocusShift = 0;
  NotifyNightEnd(completed);
  EndState.LogSaved = Core.SaveLogFile();
  if (!EndState.LogSaved) Core.SetStatus("The log file could not be written");
  Core.Log.StopWritingAlong();
  run.AbortRequested = false;
  run.PlanRunning = false;
}

bool PlanRun::Run() {
  RunState& run = Core.Run;
  run.PlanRunning = true;
  Core.ImagePath = Options.ImageFolder;
  FixBaseFocusPosition();

  LiveRowActions actions(*this);
  PlanExecutor executor(*this, actions);
  executor.LastTarget = MountPosition(Core);
  // The images go where the image path says; a folder that is not there yet is made.
  std::error_code ec;
  std::filesystem::create_directories(ImageFolder(), ec);
  Core.StartLogFile(ImageFolder());
  Core.LogUntimed("---------- Autopilot Start ----------------");
  Core.LogUntimed("Time: local system time");
  OpenJournal();
  bool completed = false;
  try {
    RunRows(*this, executor, true);
    completed = !run.AbortRequested;
  } catch (const std::exception& e) {
    Core.LogTimed(std::string(": Error: ") + e.what());
    Core.SetStatus(std::string("Error: ") + e.what());
  }
  CleanUp(completed);
  if (journal_) journal_->RunEnded(completed);
  journal_.reset();
  run.Timeline = std::move(executor.Timeline);
  return completed;
}

void PlanRun::OpenJournal() {
  journal_ = std::make_unique<RunJournal>();
  std::string error;
  if (!journal_->Open(ImageFolder(), &error)) {
    Core.LogTimed(": The run's journal cannot be kept (" + error + "): this night cannot be resumed");
    journal_.reset();
    return;
  }
  journal_->RunStarted(Options.PlanFile, PlanChecksum(Core.Planer1, Core.Settings.Standardfilter), Resume.has_value(), Core.Clock.UtcNow());
  if (!Resume) return;
  // Where the roof and the telescope are is read now, never taken from the journal.
  ObservatoryOperations& obs = Core.Observatory;
  const RoofState roof = obs.GetRoofState();
  const char* roofText = roof == RoofState::Open     ? "open"
                         : roof == RoofState::Closed ? "closed"
                                                     : "undetermined";
  std::string mount = "telescope not connected";
  if (Core.Mount.Connected()) {
    mount = Core.Mount.AtParkPosition1() ? "telescope at park position 1" : "telescope not at park position 1";
  }
  Core.LogTimed(": Resumed the night " + Resume->WhereText() + "; roof " + roofText +
                (obs.ControlEnabled() ? "" : " (no observatory control)") + ", " + mount);
}

int PlanRun::Test(DateTime startUt) {
  RunState& run = Core.Run;
  run.TestClock = startUt;
  run.TestMode = true;
  run.PlanRunning = true;
  run.TestErrorCount = 0;
  run.AbortRequested = false;
  Core.LogUntimed("---------Test run start--------------");
  Core.LogUntimed("All times in UT! ");
  Core.LogUntimed("Start date: " + FormatDate(startUt));

  TestRowActions actions(*this);
  PlanExecutor executor(*this, actions);
  if (!PlanHasRows(Core.Planer1)) {
    Core.LogTimed(": the plan has no rows");
    ++run.TestErrorCount;
  }
  int errors = -1;
  try {
    RunRows(*this, executor, false);
    if (!run.AbortRequested) errors = run.TestErrorCount;
  } catch (const std::exception& e) {
    Core.LogTimed(std::string(": Error: ") + e.what());
  }
  run.Timeline = std::move(executor.Timeline);
  run.TestMode = false;
  run.AbortRequested = false;
  run.PlanRunning = false;
  Core.LogUntimed("---------Test run end--------------");
  return errors;
}

}  // namespace noctarbel
