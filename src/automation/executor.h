#pragma once
// The plan executor: one row of the plan table at a time. The row logic is written once
// (ExecutePlanRow); what each step does — wait for the start time, run a command, go to the
// target, settle, take the exposures — is asked of a RowActions, of which there are two:
// the real run on the devices (live_row_actions.h) and the test run on the simulated clock
// (test_row_actions.h). The row logic has no "if test run" of its own.

#include <optional>
#include <string>

#include "station/run_state.h"
#include "automation/plan_row.h"

namespace noctarbel {

class PlanRun;
class StationCore;
class StationState;

enum class TargetOutcome {
  Reached,     // slewed (or nothing to slew: no telescope) and ready for the exposures
  NotVisible,  // below the local horizon: the row is skipped, the run goes on
  Stopped,     // the run must stop (AbortRequested is set)
};

// What a row asks of the run mode.
class RowActions {
 public:
  virtual ~RowActions() = default;
  // UT on the run's clock (the simulated one in a test run).
  virtual DateTime Now() = 0;
  // Before anything: true when the weather ended the row (rain with the roof not closed).
  virtual bool RainEndsRow() = 0;
  // Waits for the row's start time; false when the run was stopped meanwhile.
  virtual bool WaitForStart(const StartTime& start) = 0;
  virtual void RunCommand(RowCommand command, int row) = 0;
  // Goes to the target's J2000 position and records it in `lastTarget` (where the run's last
  // target was; rows without a position expose there).
  virtual TargetOutcome GoToTarget(const std::string& name, const TargetPosition& target, const RowCells& cells,
                                   std::optional<TargetPosition>& lastTarget) = 0;
  // Lets the mount settle after a slew; false when the run was stopped meanwhile.
  virtual bool Settle() = 0;
  // The exposure part of a row (AF, SY or images) at `position`: the row's own J2000 target,
  // else the run's last target, else nothing known.
  virtual void RunExposures(int row, const std::string& name, const std::optional<TargetPosition>& position,
                            bool ownPosition, const RowExposure& exposure, const RowCells& cells) = 0;
};

class PlanExecutor {
 public:
  PlanExecutor(PlanRun& run, RowActions& actions);

  void ExecutePlanRow(int row);

  // The run's last target position; set by the start of a run and by every slew.
  std::optional<TargetPosition> LastTarget;
  // Every row run so far: when it worked and how it ended.
  std::vector<RowSpan> Timeline;

 private:
  // What follows the start-time wait; how the row ended.
  RowOutcome RunRowAfterStart(int row, const RowCells& cells);
  void Record(int row, const RowCells& cells, DateTime start, RowOutcome outcome, std::string note = {});
  // A cell that does not convert: logged with the row, the column and the text; the row is
  // skipped and counted (a problem of the test run).
  RowOutcome SkipUnreadable(int row, const std::string& why);
  RowOutcome RunExposurePart(int row, const RowCells& cells, const std::string& name,
                             const std::optional<TargetPosition>& position, bool ownPosition);

  StationCore& station_;
  RowActions& actions_;
  std::string skipped_;  // why the running row was skipped
};

// Pause point of a run: while Pause is pressed, waits until Play (or Stop, or the rain
// emergency).
void WaitWhilePaused(StationState& station);
// The row ends early without a message: the run goes on with the next row.
void EndRowUnreadable(StationState& station);
// The running row did not do all it was asked; the run goes on, the row counts as failed.
void NoteRowFailure(StationState& station, const std::string& what);
// The row ends because Stop was pressed: "Function aborted" in the status bar.
void EndRowAborted(StationState& station, const char* status = "Function aborted");

}  // namespace noctarbel
