#include "automation/plan_services.h"

#include "automation/executor.h"
#include "automation/plan_run.h"
#include "operations/station_core.h"
#include "operations/camera_operations.h"

namespace noctarbel {

bool PlanAutofocus(PlanRun& run, OperationContext& op, int filter) {
  StationCore& station = run.Core;
  AutofocusOptions options;
  options.HotPixelFilter = run.Options.HotPixelFilter;
  const AutofocusResult result = station.Autofocus.RunAutofocus(op, filter - 1, options);
  if (!result.Ok && !result.Error.empty()) station.LogTimed(": " + result.Error);
  return result.Ok;
}

void PlanCenterAndSync(PlanRun& run, OperationContext& op, const SyncTarget& target, const SyncExposure& exposure) {
  StationCore& station = run.Core;
  ExposureRequest frame;
  try {
    frame = ExposureGeometry(station.Camera.CameraXSize(), station.Camera.CameraYSize(), exposure.Binning, 1);
  } catch (const std::exception& e) {
    station.LogTimed(std::string(": Camera error (") + e.what() + ")! aborted.");
    station.Run.AbortRequested = true;
    return;
  }
  frame.Exposure = exposure.Seconds;
  frame.Filter = exposure.Filter - 1;
  const SyncResult result =
      station.Centring.CenterAndSync(op, target.RaHours, target.DecDeg, frame, run.Options.SyncRangeArcsec);
  if (!result.Synced && op.MayContinue()) NoteRowFailure(station, "not synced");
}

bool PlanGuideStep(PlanRun& run, OperationContext& op, GuidingSeries& series, Timgbuffer& image) {
  StationCore& station = run.Core;
  if (series.State == 0) return false;
  if (series.State == 1) station.Guiding.BeginSeries();
  const GuideDecision decision = station.Guiding.GuideStep(op, image);
  if (decision.Ended) {
    series.State = 0;
    series.Ended = true;
    return false;
  }
  series.State = 2;
  return decision.Measured;
}

std::optional<CalibrationHistory> PlanCalibrate(PlanRun& run, Timgbuffer& image, const CalibrationRequest& request) {
  StationCore& station = run.Core;
  const CalibrationResult result = station.Calibration.Calibrate(image, request);
  if (!result.Any()) return std::nullopt;
  return result.History;
}

}  // namespace noctarbel
