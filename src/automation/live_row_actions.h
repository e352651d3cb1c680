#pragma once
// The real run's row actions: the devices are driven on the station's clock. Every wait runs
// under the run's operation context, so Stop ends it and the rain emergency (from the
// observatory's status timer, between two waits) takes the devices over.

#include <optional>

#include "automation/executor.h"
#include "automation/plan_services.h"
#include "common/datetime.h"

namespace noctarbel {
class PlanRun;
class StationCore;
}  // namespace noctarbel

namespace noctarbel {

class LiveRowActions : public RowActions {
 public:
  explicit LiveRowActions(PlanRun& run);

  DateTime Now() override;
  bool RainEndsRow() override;
  bool WaitForStart(const StartTime& start) override;
  void RunCommand(RowCommand command, int row) override;
  TargetOutcome GoToTarget(const std::string& name, const TargetPosition& target, const RowCells& cells,
                           std::optional<TargetPosition>& lastTarget) override;
  bool Settle() override;
  void RunExposures(int row, const std::string& name, const std::optional<TargetPosition>& position, bool ownPosition,
                    const RowExposure& exposure, const RowCells& cells) override;

 private:
  void Park(int position, const char* message);
  void HomeCalibration();
  void OpenRoof();
  void CloseRoof();
  void ShutDown();
  void CoolerOn();

  PlanRun& run_;
  StationCore& station_;
  // The last target as it was sent to the mount (of date, with the spectrum offset): a "SY"
  // row syncs to it.
  std::optional<SyncTarget> slewed_;
  // The exposure of the "SY" row that centred the last target (a meridian flip centres again).
  std::optional<SyncExposure> centred_;
};

}  // namespace noctarbel
