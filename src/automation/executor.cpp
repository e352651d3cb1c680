#include "automation/executor.h"

#include "app/plan_columns.h"
#include "app/station.h"

namespace noctarbel {

void WaitWhilePaused(Station& station) {
  station.Clock.Pump();
  RunState& run = station.Run;
  if (!run.PauseRequested) return;
  station.LogTimed(" Execution is paused..");
  while (run.PauseRequested && !run.AbortRequested) {
    station.Clock.Sleep(500);
    station.Clock.Pump();
  }
  run.PauseRequested = false;
  station.LogTimed(" Execution is continued");
}

void EndRowUnreadable(Station& station) { station.Run.PlanRunning = false; }

void EndRowAborted(Station& station, const char* status) {
  station.Run.PlanRunning = false;
  station.SetStatus(status);
}

void PlanExecutor::ExecutePlanRow(int row) {
  // The running row is the grid's current cell, so the operator sees where the night is.
  station_.Planer1.SetCurrent(kColObject, row);
  station_.Clock.Pump();
  if (actions_.RainEndsRow()) return;
  if (station_.Run.AbortRequested) return EndRowAborted(station_);

  const RowCells cells = CellsOfRow(station_.Planer1, row);
  if (auto start = ParseStartTime(cells)) {
    if (!actions_.WaitForStart(*start)) return EndRowAborted(station_);
  }

  const RowCommand command = CommandOf(cells);
  if (command != RowCommand::NoSlew && command != RowCommand::Target) return actions_.RunCommand(command, row);

  const std::string& name = cells[kColObject];
  std::optional<TargetPosition> position = LastTarget;
  const bool ownPosition = command == RowCommand::Target;
  if (ownPosition) {
    auto target = ParseTargetPosition(cells);
    if (!target) return EndRowUnreadable(station_);
    if (actions_.GoToTarget(name, *target, cells, LastTarget) != TargetOutcome::Reached) return;
    position = *target;
  }
  if (!actions_.Settle()) return EndRowAborted(station_);
  RunExposurePart(row, cells, name, position, ownPosition);
}

void PlanExecutor::RunExposurePart(int row, const RowCells& cells, const std::string& name,
                                   const std::optional<TargetPosition>& position, bool ownPosition) {
  auto exposure = ParseRowExposure(cells, row, station_.Settings);
  if (!exposure) return EndRowUnreadable(station_);
  switch (exposure->Kind) {
    case ExposureKind::None:
      return;
    case ExposureKind::FocusShift:
      station_.Run.FocusShift = exposure->FocusShift;
      station_.LogUntimed("Focus shift = " + std::to_string(exposure->FocusShift));
      return;
    default:
      break;
  }
  if (exposure->WriteStandardFilter) {
    station_.Planer1.SetCell(kColFilter, row, std::to_string(station_.Settings.Standardfilter));
  }
  actions_.RunExposures(row, name, position, ownPosition, *exposure, cells);
}

}  // namespace noctarbel
