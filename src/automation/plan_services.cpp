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

std::optional<CalibrationHistory> PlanCalibrate(Station& station, Timgbuffer& image, const CalibrationRequest& request) {
  const CalibrationResult result = station.Calibration.Calibrate(image, request);
  if (!result.Any()) return std::nullopt;
  return result.History;
}

}  // namespace noctarbel
