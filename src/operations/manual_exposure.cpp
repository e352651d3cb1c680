#include "operations/manual_exposure.h"

#include "operations/station_core.h"
#include "imaging/hot_pixel_filter.h"
#include "imaging/image_buffer.h"

namespace noctarbel {

namespace {

// Moves the focuser to the base position plus the filter's offset and the plan's shift,
// when the base position is fixed.
void FocusForFilter(StationCore& core, OperationContext& op, int filter) {
  const int base = core.Run.BaseFocusPosition;
  if (!core.Focuser.HasDriver() || !core.Focuser.Linked() || base < 0) return;
  const int offset = core.Settings.FilterwheelObject.empty() ? 0 : FilterOffset(core.Filters, filter);
  const int target = base + offset + core.Run.FocusShift;
  try {
    if (core.Focuser.Read().Position == target) return;
  } catch (const std::exception&) {
    return;
  }
  core.Focuser.MoveTo(op, target);
}

}  // namespace

ManualExposureResult TakeManualExposure(StationCore& core, OperationContext& op, const ManualExposure& request,
                                        Timgbuffer& image) {
  ManualExposureResult result;
  try {
    result.Frame =
        ExposureGeometry(core.Camera.CameraXSize(), core.Camera.CameraYSize(), request.Binning, request.Zoom);
  } catch (const std::exception& e) {
    result.Exposure = ExposureResult{ExposureEnd::Failed, std::string("Camera error: ") + e.what()};
    return result;
  }
  result.Frame.Filter = request.Filter - 1;
  result.Frame.Exposure = request.Exposure;
  result.Frame.Light = request.Light;
  FocusForFilter(core, op, request.Filter);
  result.Exposure = core.Camera.TakeImage(op, result.Frame, image);
  if (!result.Exposure.HasImage()) return result;

  if (request.HotPixelFilter) HotPixelFilter(image, 4);
  result.Star = FindBrightestStar(image);
  if (result.Star.Found) {
    const SettingsRecord& s = core.Settings;
    result.Offset = OffsetOfStar(image.Width(), image.Height(), result.Star.X, result.Star.Y,
                                 request.Binning * s.ArcsecX, request.Binning * s.ArcsecY, s.CameraRotation);
  }
  core.StarOffsetArcsec = result.Offset;

  const int darkFilter = core.Settings.Darkfilter;
  if (request.Calibrate && darkFilter != 0 && request.Filter == darkFilter) {
    result.CalibrationMissed = "filter " + std::to_string(request.Filter) + " is the dark filter";
  } else if (request.Calibrate) {
    const auto side = core.Mount.ReadPierSide();
    CalibrationRequest calibration;
    calibration.FilterNumber = request.Filter;
    calibration.Zoom = static_cast<int>(request.Zoom);
    calibration.SubFrameX = result.Frame.StartX;
    calibration.SubFrameY = result.Frame.StartY;
    calibration.Rotate = side && core.Settings.CameraPiersideRotate == ToInt(*side) + 1;
    const CalibrationResult done = core.Calibration.Calibrate(image, calibration);
    result.Calibrated = done.Any();
    result.Dark = done.Dark;
    result.Flat = done.Flat;
    result.Rotated = done.Rotate;
    result.CalibrationMissed = done.MissedStepsText(calibration.Dark, calibration.Flat);
  }
  return result;
}

StarOffsetSource ManualExposureSource(StationCore& core, const ManualExposure& request) {
  auto image = std::make_shared<Timgbuffer>();
  return [&core, request, image](OperationContext& op) -> std::optional<StarOffset> {
    const ManualExposureResult result = TakeManualExposure(core, op, request, *image);
    if (!result.Exposure.HasImage() || !result.Star.Found) return std::nullopt;
    return result.Offset;
  };
}

}  // namespace noctarbel
