#include "automation/plan_services.h"

#include "app/station.h"

namespace noctarbel {

bool PlanAutofocus(Station&, OperationContext&, int) { return false; }

void PlanCenterAndSync(Station& station, OperationContext&, const SyncTarget&, const SyncExposure&) {
  station.LogTimed(": Center&Sync star position");
  station.LogTimed(": no bright star found");
}

bool PlanGuideStep(Station&, OperationContext&, GuidingSeries& series, Timgbuffer&) {
  series.State = 0;
  return false;
}

std::optional<CalibrationHistory> PlanCalibrate(Station&, Timgbuffer&, const CalibrationRequest&) {
  return std::nullopt;
}

}  // namespace noctarbel
