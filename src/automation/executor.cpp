#include "automation/executor.h"

#include "automation/plan_run.h"
#include "operations/station_core.h"
#include "station/plan_columns.h"

namespace noctarbel {

void WaitWhilePaused(StationState& station) {
  station.Clock.Pump();
  RunState& run = station.Run;
  if (!run.PauseRequested) return;
  station.LogTimed(" Execution is paused..");
  station.SetStatus("Paused: Play goes on, Stop ends the run");
  OperationContext op = station.BeginRunOperation();
  while (run.PauseRequested && op.Wait(500)) {
  }
  run.PauseRequested = false;
  station.LogTimed(" Execution is continued");
}

void EndRowUnreadable(StationState& station) { station.Run.PlanRunning = false; }

void NoteRowFailure(StationState& station, const std::string& what) {
  std::string& failure = station.Run.RowFailure;
  failure += (failure.empty() ? "" : ", ") + what;
}

void EndRowAborted(StationState& station, const char* status) {
  station.Run.PlanRunning = false;
  station.SetStatus(status);
}

PlanExecutor::PlanExecutor(PlanRun& run, RowActions& actions) : station_(run.Core), actions_(actions) {}

void PlanExecutor::ExecutePlanRow(int row) {
  // The running row is the grid's current cell, so the operator sees where the night is.
  station_.Planer1.SetCurrent(kColObject, row);
  station_.Clock.Pump();
  const RowCells cells = CellsOfRow(station_.Planer1, row);
  station_.Run.RowFailure.clear();
  station_.Run.RowFlips.clear();
  skipped_.clear();
  if (actions_.RainEndsRow()) return Record(row, cells, actions_.Now(), RowOutcome::Stopped);
  if (station_.Run.AbortRequested) {
    Record(row, cells, actions_.Now(), RowOutcome::Stopped);
    return EndRowAborted(station_);
  }
  if (auto start = ParseStartTime(cells)) {
    if (!actions_.WaitForStart(*start)) {
      Record(row, cells, actions_.Now(), RowOutcome::Stopped);
      return EndRowAborted(station_);
    }
  }
  const DateTime began = actions_.Now();
  const int problemsBefore = station_.Run.TestErrorCount;
  RowOutcome outcome = RunRowAfterStart(row, cells);
  if (station_.Run.AbortRequested) {
    outcome = RowOutcome::Stopped;
  } else if (station_.Run.TestErrorCount > problemsBefore ||
             (outcome == RowOutcome::Done && !station_.Run.RowFailure.empty())) {
    outcome = RowOutcome::Problem;
  }
  Record(row, cells, began, outcome, skipped_.empty() ? station_.Run.RowFailure : skipped_);
}

void PlanExecutor::Record(int row, const RowCells& cells, DateTime start, RowOutcome outcome, std::string note) {
  Timeline.push_back(
      RowSpan{row, cells[kColObject], start, actions_.Now(), outcome, std::move(note), station_.Run.RowFlips});
}

RowOutcome PlanExecutor::SkipUnreadable(int row, const std::string& why) {
  station_.LogTimed(": row " + std::to_string(row) + ": " + why + " - row skipped");
  if (station_.Run.TestMode) ++station_.Run.TestErrorCount;
  skipped_ = why;
  EndRowUnreadable(station_);
  return RowOutcome::Skipped;
}

RowOutcome PlanExecutor::RunRowAfterStart(int row, const RowCells& cells) {
  const RowCommand command = CommandOf(cells);
  if (command != RowCommand::NoSlew && command != RowCommand::Target) {
    actions_.RunCommand(command, row);
    return RowOutcome::Done;
  }
  const std::string& name = cells[kColObject];
  std::optional<TargetPosition> position = LastTarget;
  const bool ownPosition = command == RowCommand::Target;
  if (ownPosition) {
    std::string why;
    auto target = ParseTargetPosition(cells, &why);
    if (!target) return SkipUnreadable(row, why);
    switch (actions_.GoToTarget(name, *target, cells, LastTarget)) {
      case TargetOutcome::Reached:
        break;
      case TargetOutcome::NotVisible:
        skipped_ = "not visible";
        return RowOutcome::Skipped;
      case TargetOutcome::Stopped:
        return RowOutcome::Stopped;
    }
    position = *target;
  }
  if (!actions_.Settle()) {
    EndRowAborted(station_);
    return RowOutcome::Stopped;
  }
  return RunExposurePart(row, cells, name, position, ownPosition);
}

RowOutcome PlanExecutor::RunExposurePart(int row, const RowCells& cells, const std::string& name,
                                         const std::optional<TargetPosition>& position, bool ownPosition) {
  std::string why;
  auto exposure = ParseRowExposure(cells, row, station_.Settings, &why);
  if (!exposure) return SkipUnreadable(row, why);
  switch (exposure->Kind) {
    case ExposureKind::None:
      return RowOutcome::Done;
    case ExposureKind::FocusShift:
      station_.Run.FocusShift = exposure->FocusShift;
      station_.LogUntimed("Focus shift = " + std::to_string(exposure->FocusShift));
      return RowOutcome::Done;
    default:
      break;
  }
  if (exposure->WriteStandardFilter) {
    station_.Planer1.SetCell(kColFilter, row, std::to_string(station_.Settings.Standardfilter));
  }
  actions_.RunExposures(row, name, position, ownPosition, *exposure, cells);
  return RowOutcome::Done;
}

}  // namespace noctarbel
