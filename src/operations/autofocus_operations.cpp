#include "operations/autofocus_operations.h"

#include <algorithm>

#include "station/station_state.h"
#include "operations/camera_operations.h"
#include "operations/focuser_wheel_operations.h"
#include "common/number_text.h"
#include "imaging/hot_pixel_filter.h"

namespace noctarbel {

namespace {

constexpr int kMaxCalibrationPositions = 10;
constexpr int kFirstMeasurementFrames = 2;
constexpr int kSecondMeasurementFrames = 5;
constexpr int kCalibrationFrames = 2;
constexpr int kFramePauseMs = 100;
// The calibration window searches its star with a stronger filter than the run.
constexpr int kCalibrationHotPixelFactor = 5;
constexpr int kRunHotPixelFactor = 4;

FocusFailure ExposureFailure(const ExposureResult& result) {
  return result.End == ExposureEnd::Stopped || result.End == ExposureEnd::Interrupted ? FocusFailure::Interrupted
                                                                                      : FocusFailure::CameraError;
}

int WindowMaximum(const Timgbuffer& image, int x1, int x2, int y1, int y2) {
  int largest = 0;
  for (int y = std::max(1, y1); y <= std::min(image.Height(), y2); ++y) {
    for (int x = std::max(1, x1); x <= std::min(image.Width(), x2); ++x)
      largest = std::max(largest, image.GetPixel(x, y));
  }
  return largest;
}

// A diameter, or why there is none: a value of 0 or below is never shown as one.
std::string HfdText(const HfdMeasurement& m) {
  if (m.Ok()) return FormatFixed(m.Hfd, 2);
  const size_t open = m.Error.find('(');
  return "none" + (open == std::string::npos ? std::string() : " " + m.Error.substr(open));
}

std::string TableLine(int position, const HfdMeasurement& m) {
  return "Pos=" + std::to_string(position) + "  HFD=" + HfdText(m);
}

}  // namespace

std::string CalibrationMessage(FocusFailure failure) {
  switch (failure) {
    case FocusFailure::NoFocuser:
    case FocusFailure::FocuserMove:
      return "error";
    case FocusFailure::NotLinked:
      return "focuser not connected";
    case FocusFailure::NoStar:
      return "kein Stern gefunden";
    case FocusFailure::CameraError:
      return "camera error";
    case FocusFailure::BadSettings:
      return "Autofocus subframe too small";
    default:
      return {};
  }
}

int AutofocusOperations::SearchBinning() {
  try {
    return camera_.MaxBinX() == 1 ? 1 : 2;
  } catch (const std::exception&) {
    return 2;
  }
}

ExposureResult AutofocusOperations::Expose(OperationContext& op, const ExposureRequest& request, int hotPixelFactor) {
  ExposureResult result = camera_.TakeImage(op, request, frame_);
  if (!result.HasImage()) return result;
  if (hotPixelFactor > 0) HotPixelFilter(frame_, hotPixelFactor);
  if (Hooks.Calibrate) {
    Hooks.Calibrate(frame_, request.Filter + 1);
    frame_.ComputeMinMax();
  }
  if (Hooks.Show) Hooks.Show(frame_);
  return result;
}

bool AutofocusOperations::MoveFocuser(OperationContext& op, int target) {
  if (!focuser_.HasDriver()) return false;
  return focuser_.MoveTo(op, target);
}

FocusStar AutofocusOperations::LocateFocusStar(OperationContext& op, int b, int filterIndex, int hotPixelFactor) {
  FocusStar result;
  const SettingsRecord& s = core_.Settings;
  const int afBinning = std::max(1, s.AFbinning);
  const int radius = HfdRadius(s.AFsubframe);
  int sensorWidth = 0;
  int sensorHeight = 0;
  try {
    sensorWidth = camera_.CameraXSize();
    sensorHeight = camera_.CameraYSize();
  } catch (const std::exception& e) {
    result.Failure = FocusFailure::CameraError;
    result.Error = std::string("camera error: ") + e.what();
    return result;
  }
  if (radius < 1) {
    result.Failure = FocusFailure::BadSettings;
    result.Error = "the autofocus subframe (AFsubframe " + std::to_string(s.AFsubframe) + ") leaves no HFD radius";
    return result;
  }
  const ExposureRequest request{b, sensorWidth / b, sensorHeight / b, 0, 0, filterIndex, s.AFexptime, true};
  const ExposureResult exposure = Expose(op, request, hotPixelFactor);
  if (!exposure.HasImage()) {
    result.Failure = ExposureFailure(exposure);
    result.Error = result.Failure == FocusFailure::Interrupted ? op.StopText() : "camera error";
    return result;
  }
  result.Star = FindBrightestStar(frame_);
  if (!result.Star.Found) {
    result.Failure = FocusFailure::NoStar;
    result.Error = "no star found";
    return result;
  }
  result.Column = ToFocusBinning(result.Star.X, b, afBinning);
  result.Row = ToFocusBinning(result.Star.Y, b, afBinning);
  // Near an edge the subframe cannot be centred on the star; measured off its middle the
  // HFD would be of whatever the centroid window holds.
  const HfdSubframe frame =
      PlaceHfdSubframe(result.Column, result.Row, s.AFsubframe, sensorWidth / afBinning, sensorHeight / afBinning);
  if (!StarInCentroidWindow(result.Column, result.Row, frame, radius)) {
    result.Failure = FocusFailure::NoStar;
    result.Error = "no star found: the brightest star is too near the frame edge";
  }
  return result;
}

HfdMeasurement AutofocusOperations::MeasureMeanHfd(OperationContext& op, int n, int column, int row, int filterIndex) {
  HfdMeasurement m;
  const SettingsRecord& s = core_.Settings;
  const int afBinning = std::max(1, s.AFbinning);
  const int radius = HfdRadius(s.AFsubframe);
  if (radius < 1 || n < 1) {
    m.Failure = FocusFailure::BadSettings;
    m.Error = "no HFD radius for AFsubframe " + std::to_string(s.AFsubframe);
    return m;
  }
  HfdSubframe frame;
  try {
    frame = PlaceHfdSubframe(column, row, s.AFsubframe, camera_.CameraXSize() / afBinning,
                             camera_.CameraYSize() / afBinning);
  } catch (const std::exception& e) {
    m.Failure = FocusFailure::CameraError;
    m.Error = std::string("camera error: ") + e.what();
    return m;
  }
  const ExposureRequest request{afBinning, frame.Width, frame.Height, frame.X0,
                                frame.Y0,  filterIndex, s.AFexptime,  true};
  const int x1 = frame.Width / 2 - radius + 1;
  const int x2 = frame.Width / 2 + radius;
  const int y1 = frame.Height / 2 - radius + 1;
  const int y2 = frame.Height / 2 + radius;
  double sum = 0;
  for (int i = 0; i < n; ++i) {
    const ExposureResult exposure = Expose(op, request);
    if (!exposure.HasImage()) {
      m.Failure = ExposureFailure(exposure);
      m.Error = m.Failure == FocusFailure::Interrupted ? op.StopText() : "camera error";
      return m;
    }
    if (WindowMaximum(frame_, x1, x2, y1, y2) >= kSaturatedAdu) m.Saturated = true;
    int cx = 0;
    int cy = 0;
    HfdReading reading;
    reading.Problem = "no star in the subframe";
    if (StarCentroid(frame_, x1, x2, y1, y2, frame_.Minimum, cx, cy)) reading = ReadHalfFluxDiameter(frame_, cx, cy, radius);
    // A frame without an HFD must not pull the mean: the whole measurement fails.
    if (!reading.Ok()) {
      m.Failure = FocusFailure::NoHfd;
      m.Error = "no HFD measured (" + (m.Saturated ? std::string("saturated") : reading.Problem) + ")";
      return m;
    }
    sum += reading.Hfd;
    if (!op.Wait(kFramePauseMs)) {
      m.Failure = FocusFailure::Interrupted;
      m.Error = op.StopText();
      return m;
    }
  }
  m.Hfd = sum / n;
  return m;
}

AutofocusResult AutofocusOperations::Fail(AutofocusResult result, FocusFailure failure, const std::string& error) {
  result.Ok = false;
  result.Failure = failure;
  result.Error = "Autofocus error: " + error;
  core_.SetStatus(result.Error);
  return result;
}

AutofocusResult AutofocusOperations::RunAutofocus(OperationContext& op, int filterIndex, const AutofocusOptions& options) {
  AutofocusResult result;
  SettingsRecord& s = core_.Settings;
  RunState& run = core_.Run;
  int p = run.BaseFocusPosition;
  if (p < 0) {
    run.BaseFocusPosition = s.AFposition;
    p = s.AFposition;
  }
  if (p <= 0) return Fail(result, FocusFailure::NoFocusPosition, "no focus position (AFposition)");
  const VLines lines{s.AFLslope, s.AFLic, s.AFRslope, s.AFRic};
  if (std::string problem = VLinesProblem(lines); !problem.empty()) {
    return Fail(result, FocusFailure::NotCalibrated, problem);
  }

  if (focuser_.HasDriver() && focuser_.Linked()) {
    if (!MoveFocuser(op, p)) return Fail(result, FocusFailure::FocuserMove, "focuser move to " + std::to_string(p));
    result.Position = p;
  }
  const FocusStar star =
      LocateFocusStar(op, SearchBinning(), filterIndex, options.HotPixelFilter ? kRunHotPixelFactor : 0);
  if (!star.Found()) return Fail(result, star.Failure, star.Error);

  // Two measurements on the left flank, each checked: a failed or saturated one must not
  // steer the jump.
  std::string noHfd;
  auto measure = [&](int target, int frames, double& hfd) -> FocusFailure {
    if (!MoveFocuser(op, target)) return FocusFailure::FocuserMove;
    result.Position = target;
    const HfdMeasurement m = MeasureMeanHfd(op, frames, star.Column, star.Row, filterIndex);
    noHfd = m.Error;
    if (!m.Ok()) return m.Failure;
    hfd = m.Hfd;
    return m.Saturated ? FocusFailure::Saturated : FocusFailure::None;
  };
  auto failure = [&](FocusFailure f, int target) {
    switch (f) {
      case FocusFailure::FocuserMove:
        return Fail(result, f, "focuser move to " + std::to_string(target));
      case FocusFailure::Saturated:
        return Fail(result, f, "star saturated at " + std::to_string(target));
      case FocusFailure::NoHfd:
        return Fail(result, f, noHfd + " at " + std::to_string(target));
      case FocusFailure::Interrupted:
        return Fail(result, f, op.StopText());
      default:
        return Fail(result, f, "camera error");
    }
  };

  result.P0 = p - kFirstOffsetSteps;
  if (FocusFailure f = measure(result.P0, kFirstMeasurementFrames, result.HfdFirst); f != FocusFailure::None) {
    return failure(f, result.P0);
  }
  result.P1 = result.P0 + FirstFocusStep(result.HfdFirst, s.AFHFDlow, lines);
  if (FocusFailure f = measure(result.P1, kSecondMeasurementFrames, result.HfdSecond); f != FocusFailure::None) {
    return failure(f, result.P1);
  }
  // The jump trusts the left line: a second measurement that does not lie on it (the run began
  // right of best focus, or the star's V is not the calibrated one) would send the focuser
  // anywhere. The focuser stays at P1 and AFposition as it was.
  const double tolerance = SecondMeasurementTolerance(s.AFHFDlow, CalibrationResidual(lines));
  std::string problem = SecondMeasurementProblem(result.HfdFirst, result.HfdSecond, s.AFHFDlow, tolerance);
  // A first measurement near best focus lies on the V's rounded tip, off the line, and the
  // step from it misses the target; the second one, further out, may well be on the line.
  // One more step from there, unless the HFD grew (the run went away from focus).
  if (!problem.empty() && !StepWentAwayFromFocus(result.HfdFirst, result.HfdSecond, s.AFHFDlow, tolerance)) {
    const double previous = result.HfdSecond;
    const int from = result.P1;
    result.P1 = from + FirstFocusStep(previous, s.AFHFDlow, lines);
    if (FocusFailure f = measure(result.P1, kSecondMeasurementFrames, result.HfdSecond); f != FocusFailure::None) {
      return failure(f, result.P1);
    }
    problem = SecondMeasurementProblem(previous, result.HfdSecond, s.AFHFDlow, tolerance);
    if (!problem.empty()) problem += " (after a second step from " + std::to_string(from) + ")";
  }
  if (!problem.empty()) {
    return Fail(result, FocusFailure::OffTheLine, problem + " at " + std::to_string(result.P1));
  }
  const int best = result.P1 + SecondFocusStep(result.HfdSecond, lines);
  if (best < 0) return Fail(result, FocusFailure::NotCalibrated, "best focus would be at " + std::to_string(best));
  if (!MoveFocuser(op, best)) return failure(FocusFailure::FocuserMove, best);
  result.Position = best;

  // The stored position is the standard filter's: the offset of the filter in use comes off.
  const int base = best - FilterOffset(core_.Filters, filterIndex + 1);
  run.BaseFocusPosition = base;
  s.AFposition = base;
  result.BaseFocusPosition = base;
  std::string error;
  if (!SaveSettingsFile(core_.SettingsFilePath(), s, &error)) {
    core_.LogTimed(": settings not saved: " + error);
  }

  int width = 0;
  int height = 0;
  try {
    width = camera_.CameraXSize();
    height = camera_.CameraYSize();
  } catch (const std::exception& e) {
    return Fail(result, FocusFailure::CameraError, std::string("camera error: ") + e.what());
  }
  const ExposureResult last = Expose(op, ExposureRequest{1, width, height, 0, 0, filterIndex, s.AFexptime, true});
  if (!last.HasImage()) {
    const FocusFailure f = ExposureFailure(last);
    return Fail(result, f, f == FocusFailure::Interrupted ? op.StopText() : "camera error");
  }
  result.Ok = true;
  core_.SetStatus("Autofocus: focus=" + std::to_string(base));
  return result;
}

double AutofocusOperations::CalibrationResidual(const VLines& lines) const {
  if (!scan_.Fitted || !scan_.Fit.Usable()) return 0;
  const VLines fitted = scan_.Fit.Lines();
  // The settings hold the lines in single precision.
  auto same = [](double a, double b) { return static_cast<float>(a) == static_cast<float>(b); };
  if (!same(fitted.LeftSlope, lines.LeftSlope) || !same(fitted.LeftIntercept, lines.LeftIntercept) ||
      !same(fitted.RightSlope, lines.RightSlope) || !same(fitted.RightIntercept, lines.RightIntercept)) {
    return 0;
  }
  return std::max(scan_.Fit.Left.Residual, scan_.Fit.Right.Residual);
}

void AutofocusOperations::ScanChanged() {
  if (OnScanChanged) OnScanChanged();
}

FocusFailure AutofocusOperations::MeasureFlank(OperationContext& op, const FocusStar& star, int meanPosition, int range,
                                           int count, int filterIndex, std::vector<VCurvePoint>& points,
                                           const std::function<void(const std::string&)>& onLine) {
  for (int position : CalibrationPositions(meanPosition, range, count)) {
    if (!MoveFocuser(op, position)) return op.MayContinue() ? FocusFailure::FocuserMove : FocusFailure::Interrupted;
    const HfdMeasurement m = MeasureMeanHfd(op, kCalibrationFrames, star.Column, star.Row, filterIndex);
    // A position without an HFD stays in the table as -1 (the fit leaves it out); camera
    // errors and interruptions end the scan.
    if (!m.Ok() && m.Failure != FocusFailure::NoHfd) return m.Failure;
    points.push_back(VCurvePoint{position, m.Hfd, m.Saturated});
    if (onLine) onLine(TableLine(position, m));
    ScanChanged();
  }
  return FocusFailure::None;
}

VCurveScan AutofocusOperations::CalibrateVCurve(OperationContext& op, const VCurveRequest& request,
                                            const std::function<void(const std::string&)>& onLine) {
  scan_ = VCurveScan{};
  ScanChanged();
  auto fail = [&](FocusFailure failure, const std::string& error) {
    scan_.Failure = failure;
    scan_.Error = error.empty() ? CalibrationMessage(failure) : error;
    if (failure == FocusFailure::Interrupted) scan_.Error = op.StopText();
    ScanChanged();
    return scan_;
  };
  const int p = request.MeanPosition;
  scan_.MeanPosition = p;
  if (!focuser_.HasDriver()) return fail(FocusFailure::NoFocuser, "");
  if (!focuser_.Linked() || p < 0) return fail(FocusFailure::NotLinked, "");
  if (!MoveFocuser(op, p)) return fail(op.MayContinue() ? FocusFailure::FocuserMove : FocusFailure::Interrupted, "");

  const FocusStar star = LocateFocusStar(op, SearchBinning(), request.FilterIndex, kCalibrationHotPixelFactor);
  if (!star.Found()) return fail(star.Failure, star.Error);

  const HfdMeasurement tip = MeasureMeanHfd(op, kCalibrationFrames, star.Column, star.Row, request.FilterIndex);
  if (!tip.Ok() && tip.Failure != FocusFailure::NoHfd) return fail(tip.Failure, "");
  scan_.TipHfd = tip.Hfd;
  scan_.TipSaturated = tip.Saturated;
  if (onLine) onLine("HFD(0)=" + HfdText(tip));
  ScanChanged();

  const int count = std::clamp(request.Count, 1, kMaxCalibrationPositions);
  const int range = request.BothFlanks ? std::abs(request.Range) : request.Range;
  FocusFailure f =
      MeasureFlank(op, star, p, range, count, request.FilterIndex, range >= 0 ? scan_.Left : scan_.Right, onLine);
  if (f != FocusFailure::None) return fail(f, "");
  if (request.BothFlanks) {
    f = MeasureFlank(op, star, p, -range, count, request.FilterIndex, scan_.Right, onLine);
    if (f != FocusFailure::None) return fail(f, "");
    scan_.Fit = FitVCurve(scan_.Left, scan_.Right, scan_.TipSaturated ? -1.0 : scan_.TipHfd);
    scan_.Fitted = true;
  }
  ScanChanged();
  return scan_;
}

bool AutofocusOperations::StoreLines(const VFit& fit, std::string* error) {
  if (!fit.Usable()) {
    if (error) *error = fit.Problem();
    return false;
  }
  SettingsRecord& s = core_.Settings;
  s.AFLslope = static_cast<float>(fit.Left.Slope);
  s.AFLic = static_cast<float>(fit.Left.Intercept);
  s.AFRslope = static_cast<float>(fit.Right.Slope);
  s.AFRic = static_cast<float>(fit.Right.Intercept);
  return SaveSettingsFile(core_.SettingsFilePath(), s, error);
}

std::vector<std::string> FitReportLines(const VFit& fit) {
  std::vector<std::string> lines;
  auto line = [&](const char* name, const LineFit& f) {
    if (!f.Fitted) {
      lines.push_back(std::string(name) + " flank not fitted: " + f.Problem);
      return;
    }
    lines.push_back(std::string(name) + " line: slope=" + FormatFixed(f.Slope, 5) +
                    " intercept=" + FormatFixed(f.Intercept, 5) + " residual=" + FormatFixed(f.Residual, 2) + " (" +
                    std::to_string(f.PointsUsed) + " points)");
  };
  line("Left", fit.Left);
  line("Right", fit.Right);
  if (fit.Usable()) {
    lines.push_back("Best focus at " + FormatFixed(VTipPosition(fit.Lines()), 0));
  } else if (fit.Left.Fitted && fit.Right.Fitted) {
    lines.push_back(fit.Problem());
  }
  return lines;
}

}  // namespace noctarbel
