#pragma once
// The manual exposure's work, free of the window: the sub-frame of the binning and zoom,
// the focuser to the filter's offset, the exposure, the hot-pixel filter, the brightest
// star and its offset from the centre. The main window's exposure button and
// `noctarbel-cli expose` both take their images through it.

#include "operations/guiding_operations.h"
#include "imaging/star_measure.h"
#include "guiding/star_offset.h"

namespace noctarbel {

class OperationContext;
class StationCore;
class Timgbuffer;

struct ManualExposure {
  double Exposure = 1;  // seconds
  int Binning = 2;
  int Zoom = 1;
  int Filter = 1;  // 1-based, as the filter field shows it
  bool Light = true;
  bool HotPixelFilter = true;
  // Dark and flat (and the 180 degree turn the pier side asks for) with the station's
  // calibration, unless the filter is the dark filter.
  bool Calibrate = false;
};

struct ManualExposureResult {
  ExposureResult Exposure;
  ExposureRequest Frame;  // the sub-frame that was asked for
  StarSearchResult Star;  // the brightest star (Found false without one)
  StarOffset Offset;      // its offset from the centre, arc seconds; zero without a star
  bool Calibrated = false;
  bool Dark = false;  // the calibration steps done
  bool Flat = false;
  bool Rotated = false;
  // What of the calibration asked for was not done, and why; empty when it all was.
  std::string CalibrationMissed;
};

ManualExposureResult TakeManualExposure(StationCore& core, OperationContext& op, const ManualExposure& request,
                                        Timgbuffer& image);

// Star offsets measured by manual exposures of `request` (the guiding test's measurements).
StarOffsetSource ManualExposureSource(StationCore& core, const ManualExposure& request);

}  // namespace noctarbel
