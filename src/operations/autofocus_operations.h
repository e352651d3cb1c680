#pragma once
// V-curve focusing on the station's camera and focuser: finding a focus star, measuring its
// mean half-flux diameter on subframes, the calibration scan of the V (one flank as the
// calibration window lists it, or both with fitted lines), and the autofocus run that jumps
// to best focus from two measurements with the stored lines. Images go through the camera's
// TakeImage; every wait runs under the caller's operation context; results are reported
// through the returned values and the station's status, never through a control.

#include <functional>
#include <string>
#include <vector>

#include "guiding/autofocus_math.h"
#include "imaging/star_measure.h"
#include "guiding/v_line_fit.h"
#include "imaging/image_buffer.h"

namespace noctarbel {

class OperationContext;
class StationState;
class CameraOperations;
class FocuserOperations;
struct ExposureRequest;
struct ExposureResult;

// What a focusing image is handed to after it was taken: the station's calibration (filter
// number counted from 1) and the display. Empty hooks do nothing.
struct FocusImageHooks {
  std::function<void(Timgbuffer&, int filterNumber)> Calibrate;
  std::function<void(Timgbuffer&)> Show;
};

enum class FocusFailure {
  None,
  NotCalibrated,    // no usable V lines
  NoFocusPosition,  // no base position and no stored AFposition
  NoFocuser,        // no focuser object
  NotLinked,        // the focuser does not report its link
  FocuserMove,      // a move failed or stopped short
  CameraError,      // an exposure failed or timed out
  NoStar,           // no star, or one too near the frame edge to measure
  NoHfd,            // the star gave no half-flux diameter
  Saturated,        // the star's core is saturated: its HFD would be wrong
  OffTheLine,       // the second measurement does not lie on the left line the run followed
  BadSettings,      // a subframe too small for an HFD radius
  Interrupted,      // Stop or an emergency
};

// A star to focus on, found on a full frame.
struct FocusStar {
  FocusFailure Failure = FocusFailure::None;
  std::string Error;
  StarSearchResult Star;  // on the full frame of binning b
  int Column = 0;         // 0-based, in pixels of the focus binning
  int Row = 0;
  bool Found() const { return Failure == FocusFailure::None; }
};

struct HfdMeasurement {
  FocusFailure Failure = FocusFailure::None;
  std::string Error;
  double Hfd = -1;         // mean of the frames, -1 when any frame gave none (Error says why)
  bool Saturated = false;  // a frame's star reached the top of the range
  bool Ok() const { return Failure == FocusFailure::None; }
};

struct AutofocusOptions {
  bool HotPixelFilter = true;  // on the star search frame (the main window's hot-pixel box)
};

struct AutofocusResult {
  bool Ok = false;
  FocusFailure Failure = FocusFailure::None;
  std::string Error;           // "Autofocus error: <reason>" when it failed
  int P0 = -1;                 // the first measuring position
  int P1 = -1;                 // the second
  int Position = -1;           // where the focuser was sent last
  int BaseFocusPosition = -1;  // best focus of the standard filter, stored as AFposition
  double HfdFirst = -1;
  double HfdSecond = -1;
};

struct VCurveRequest {
  int MeanPosition = 0;     // P
  int Range = 500;          // > 0: the left flank; < 0: the right one
  int Count = 5;            // positions per flank, 1..10
  int FilterIndex = 0;      // filter slot - 1
  bool BothFlanks = false;  // scan both flanks (|Range| to either side) and fit their lines
};

struct VCurveScan {
  FocusFailure Failure = FocusFailure::None;
  std::string Error;
  int MeanPosition = 0;
  double TipHfd = -1;  // HFD(0), at the mean position
  bool TipSaturated = false;
  std::vector<VCurvePoint> Left;
  std::vector<VCurvePoint> Right;
  bool Fitted = false;  // a fit was asked for and done (its flanks may still be unusable)
  VFit Fit;
  bool Ok() const { return Failure == FocusFailure::None; }
};

class AutofocusOperations {
 public:
  // Steps the autofocus run measures its first HFD outside the base position.
  static constexpr int kFirstOffsetSteps = 400;
  // A frame whose star reaches this level is taken as saturated.
  static constexpr int kSaturatedAdu = kStarSaturatedAdu;

  AutofocusOperations(StationState& state, CameraOperations& camera, FocuserOperations& focuser) : core_(state), camera_(camera), focuser_(focuser) {}
  AutofocusOperations(const AutofocusOperations&) = delete;
  AutofocusOperations& operator=(const AutofocusOperations&) = delete;

  FocusImageHooks Hooks;

  // The binning of the star search frame: 2, or 1 for a camera that cannot bin.
  int SearchBinning();
  // A full frame at binning b with AFexptime, the hot-pixel filter of that strength (0: none),
  // the brightest star converted to the focus binning.
  FocusStar LocateFocusStar(OperationContext& op, int b, int filterIndex, int hotPixelFactor);
  // The mean HFD of n subframes of AFsubframe pixels around the star, at AFbinning and
  // AFexptime. Fails at the first camera error, frame without HFD or interruption.
  HfdMeasurement MeasureMeanHfd(OperationContext& op, int n, int column, int row, int filterIndex);
  // The autofocus run: from BaseFocusPosition (or AFposition), 400 steps out, one
  // measurement, along the left line to AFHFDlow, a second measurement, the jump to where
  // the lines meet. A second measurement off the left line ends the run before the jump. Best focus less the filter's offset becomes BaseFocusPosition and
  // AFposition (saved). The focuser stays where the last successful move put it.
  AutofocusResult RunAutofocus(OperationContext& op, int filterIndex, const AutofocusOptions& options = {});
  // The calibration scan: the focuser to P, the focus star, HFD(0) at P, then the positions
  // of the flank (or both flanks), with their fitted lines when both were scanned.
  // `onLine` hears the calibration table's lines as they come.
  VCurveScan CalibrateVCurve(OperationContext& op, const VCurveRequest& request,
                             const std::function<void(const std::string&)>& onLine = {});
  // The last scan, as it grows (the calibration window draws it).
  const VCurveScan& LastScan() const { return scan_; }
  std::function<void()> OnScanChanged;

  // Writes fitted lines into AFLslope, AFLic, AFRslope, AFRic and saves the settings; false
  // (nothing changed) when the fit is not usable, or with the reason when the file could not
  // be written (the record holds the lines then).
  bool StoreLines(const VFit& fit, std::string* error);

 private:
  // Takes the image, then the hot-pixel filter of that strength (0: none), the calibration
  // and the display.
  ExposureResult Expose(OperationContext& op, const ExposureRequest& request, int hotPixelFactor = 0);
  bool MoveFocuser(OperationContext& op, int target);
  FocusFailure MeasureFlank(OperationContext& op, const FocusStar& star, int meanPosition, int range, int count,
                            int filterIndex, std::vector<VCurvePoint>& points,
                            const std::function<void(const std::string&)>& onLine);
  AutofocusResult Fail(AutofocusResult result, FocusFailure failure, const std::string& error);
  // The residual of the last fitted calibration when the lines are still the ones it stored
  // (0: not known, the lines were typed or fitted in an earlier session).
  double CalibrationResidual(const VLines& lines) const;
  void ScanChanged();

  StationState& core_;
  CameraOperations& camera_;
  FocuserOperations& focuser_;
  Timgbuffer frame_;  // the pixel block is reused from one exposure to the next
  VCurveScan scan_;
};

// The focus failure as the calibration window says it ("kein Stern gefunden", "error", ...).
std::string CalibrationMessage(FocusFailure failure);

// The fitted lines in words: slope, intercept and residual of each flank (or why it was not
// fitted), and where they meet.
std::vector<std::string> FitReportLines(const VFit& fit);

}  // namespace noctarbel
