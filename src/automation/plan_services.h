#pragma once
// What a plan row asks of focusing, centring, guiding and calibration: the entry points the
// exposure sequence calls, each under the row's operation context.

#include <optional>

#include "imaging/calibration.h"
#include "imaging/header_cards.h"

namespace noctarbel {

class OperationContext;
class PlanRun;
class Timgbuffer;

// The plan's autofocus through the filter (1-based); true when it found focus and fixed
// BaseFocusPosition.
bool PlanAutofocus(PlanRun& run, OperationContext& op, int filter);

// The "SY" row: centre the brightest star and sync the mount to the slew's target (right
// ascension in hours and declination as they were sent to the mount).
struct SyncTarget {
  double RaHours = 0;
  double DecDeg = 0;
};
struct SyncExposure {
  double Seconds = 0.1;
  int Binning = 2;
  int Filter = 1;
};
void PlanCenterAndSync(PlanRun& run, OperationContext& op, const SyncTarget& target, const SyncExposure& exposure);

// The guiding state of a series: 0 off, 1 take the next image as reference, 2 correct.
struct GuidingSeries {
  int State = 0;
  // The drift left the tracking box: guiding stays off for the rest of the series.
  bool Ended = false;
};
// One image of a guided series; false when guiding failed (the state is then 0).
bool PlanGuideStep(PlanRun& run, OperationContext& op, GuidingSeries& series, Timgbuffer& image);

// The calibration of a plan image with the wanted steps; the steps done, or nothing when
// none was applied.
std::optional<CalibrationHistory> PlanCalibrate(PlanRun& run, Timgbuffer& image, const CalibrationRequest& request);

}  // namespace noctarbel
