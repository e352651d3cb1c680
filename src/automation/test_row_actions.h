#pragma once
// The test run's row actions: nothing is moved, exposed or saved. Each step advances the
// simulated clock TestClock by the time it would take, reports what it would do, and counts
// the problems it foresees (a target below the horizon, at the start or at the end of its
// exposures, and, with meridian flips off, a crossing of the meridian) in TestErrorCount. With
// flips on a crossing is planned as the run makes it: the wait, the flip, the rest of the row.

#include <map>
#include <utility>

#include "automation/executor.h"

namespace noctarbel {
class MeridianFlipWatch;
class PlanRun;
}  // namespace noctarbel

namespace noctarbel {

class TestRowActions : public RowActions {
 public:
  explicit TestRowActions(PlanRun& run);

  DateTime Now() override;
  bool RainEndsRow() override { return false; }
  bool WaitForStart(const StartTime& start) override;
  void RunCommand(RowCommand command, int row) override;
  TargetOutcome GoToTarget(const std::string& name, const TargetPosition& target, const RowCells& cells,
                           std::optional<TargetPosition>& lastTarget) override;
  bool Settle() override;
  void RunExposures(int row, const std::string& name, const std::optional<TargetPosition>& position, bool ownPosition,
                    const RowExposure& exposure, const RowCells& cells) override;

 private:
  void Advance(double seconds);
  void FlipMeridian(MeridianFlipWatch& flip, double exposureSeconds);
  // Right ascension (hours) and declination of date at TestClock.
  TargetPosition OfDate(const TargetPosition& j2000) const;
  void Error(const std::string& message);
  // The filters and binning the station has, and file names another row (or the same row)
  // uses already: each a problem.
  void CheckEquipment(int row, const RowExposure& exposure);
  void CheckFileNames(int row, const RowExposure& exposure);
  int FilterSlots() const;
  int MaxBinning() const;

  StationCore& station_;
  std::map<std::pair<std::string, int>, int> names_;
  bool centred_ = false;  // a "SY" row centred the last target  // (base, filter) -> the row that uses it first
};

// The status and log text of a command; empty for the commands without one (T0, T1).
const char* CommandMessage(RowCommand command);

}  // namespace noctarbel
