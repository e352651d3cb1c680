#include "operations/camera_operations.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "station/station_state.h"
#include "operations/focuser_wheel_operations.h"
#include "astro/time.h"
#include "common/number_text.h"
#include "imaging/header_cards.h"
#include "imaging/image_buffer.h"
#include "imaging/pixel_copy.h"

namespace noctarbel {

namespace {

constexpr double kBlinkExposure = 1.5;  // longer exposures blink twice a second
constexpr int kShortPollMs = 50;         // shorter ones poll without spinning

int ProgressMaximum(double exposure) {
  return exposure >= 1.0 ? static_cast<int>(std::nearbyint(1.1 * exposure)) + 1 : 2;
}

double SecondsSince(DateTime start, DateTime now) { return (now - start) * kSecondsPerDay; }

// The 16-bit image from the driver's array, with its minimum and maximum. Values outside
// 0..65535 mean a driver that delivers something else than this camera's counts: the image is
// refused rather than cut.
bool CopyPixels(const ImageArrayData& array, Timgbuffer& image, std::string& error) {
  auto* out = image.PixelsAs<std::uint16_t>();
  const size_t count = array.Count();
  const std::optional<WordRange> range =
      array.Is16Bit() ? CopyWords(array.Pixels16.data(), out, count) : NarrowToWords(array.Pixels.data(), out, count);
  if (range) {
    image.Minimum = range->Low;
    image.Maximum = range->High;
    return true;
  }
  const std::int32_t* in = array.Pixels.data();
  const auto [lowest, highest] = std::minmax_element(in, in + count);
  error = "values out of range (" + std::to_string(std::min(0, *lowest)) + " .. " +
          std::to_string(std::max(0, *highest)) + ")";
  return false;
}

}  // namespace

ExposureRequest ExposureGeometry(int cameraXSize, int cameraYSize, int binning, double zoom) {
  ExposureRequest request;
  binning = std::max(1, binning);
  request.Binning = binning;
  const int fullWidth = cameraXSize / binning;
  const int fullHeight = cameraYSize / binning;
  request.Width = fullWidth;
  request.Height = fullHeight;
  if (zoom > 1) {
    request.Width = static_cast<int>(RoundHalfEven(static_cast<double>(fullWidth) / zoom));
    request.Height = static_cast<int>(RoundHalfEven(static_cast<double>(fullHeight) / zoom));
    request.StartX = (fullWidth - request.Width) / 2;
    request.StartY = (fullHeight - request.Height) / 2;
  }
  return request;
}

double ExposureTimeLimit(int cameraTimeout, int cameraReadTime, int binning, double exposure) {
  return cameraTimeout + static_cast<double>(cameraReadTime) / std::max(1, binning) + exposure;
}

double WarmUpTarget(double coolerSetPoint) { return std::min(coolerSetPoint + 15.0, 20.0); }

bool ImageFromArray(const ImageArrayData& array, Timgbuffer& image, std::string& error) {
  Timgbuffer fresh;
  if (fresh.SetSizeReusing(array.Width, array.Height, PixelType::Bits16, image) != 0) {
    error = "no memory for an image of " + std::to_string(array.Width) + " x " + std::to_string(array.Height) +
            " pixels";
    return false;
  }
  if (!CopyPixels(array, fresh, error)) return false;
  image = std::move(fresh);
  return true;
}

bool CameraOperations::HasDriver() const { return core_.Devices.Camera != nullptr; }

bool CameraOperations::Connected() {
  auto camera = core_.Devices.Camera;
  if (!camera) return false;
  try {
    return camera->Connected();
  } catch (const std::exception&) {
    return false;
  }
}

bool CameraOperations::Connect(std::string* error) {
  const std::string& id = core_.Settings.CameraObject;
  if (id.empty()) return false;
  try {
    if (!core_.Devices.Camera) {
      DeviceContext context = core_.MakeDeviceContext();
      core_.Devices.Camera = core_.Devices.Registry.CreateCamera(id, context);
    }
    auto camera = core_.Devices.Camera;
    camera->SetConnected(true);
    if (!camera->Connected()) {
      if (error) *error = "No connection to camera.";
      return false;
    }
    try {
      gain_ = camera->Gain();
    } catch (const std::exception&) {
      gain_.reset();
    }
    return true;
  } catch (const std::exception& e) {
    if (error) *error = e.what();
    return false;
  }
}

void CameraOperations::Disconnect() {
  auto camera = core_.Devices.Camera;
  core_.Devices.Camera.reset();
  gain_.reset();
  if (!camera) return;
  try {
    camera->SetConnected(false);
  } catch (const std::exception&) {
  }
  try {
    camera->Dispose();
  } catch (const std::exception&) {
    // Released all the same.
  }
}

namespace {
std::shared_ptr<ICamera> Require(StationState& core) {
  auto camera = core.Devices.Camera;
  if (!camera) throw DeviceError("Camera not connected");
  return camera;
}
}  // namespace

bool CameraOperations::CanSetTemperature() { return Require(core_)->CanSetCCDTemperature(); }
int CameraOperations::MaxBinX() { return Require(core_)->MaxBinX(); }
int CameraOperations::CameraXSize() { return Require(core_)->CameraXSize(); }
int CameraOperations::CameraYSize() { return Require(core_)->CameraYSize(); }
bool CameraOperations::CoolerOn() { return Require(core_)->CoolerOn(); }
void CameraOperations::SetCoolerOn(bool on) { Require(core_)->SetCoolerOn(on); }
void CameraOperations::SetSetPoint(double celsius) {
  Require(core_)->SetCCDTemperature(celsius);
}

bool CameraOperations::SwitchCoolerOn(double celsius, std::string* error) {
  try {
    if (!Connected()) return true;
    ChosenSetPoint = celsius;
    SetSetPoint(celsius);
    SetCoolerOn(true);
    return true;
  } catch (const std::exception& e) {
    if (error) *error = e.what();
    return false;
  }
}
double CameraOperations::CCDTemperature() { return Require(core_)->CCDTemperature(); }

std::optional<double> CameraOperations::CoolerPower() {
  try {
    return Require(core_)->CoolerPower();
  } catch (const DeviceError&) {
    return std::nullopt;
  }
}

void CameraOperations::Progress(const ExposureProgress& progress) {
  if (OnProgress) OnProgress(progress);
}

ExposureResult CameraOperations::Fail(ExposureEnd end, const std::string& error) {
  Progress(ExposureProgress{});
  if (end == ExposureEnd::TimedOut || end == ExposureEnd::Failed) {
    core_.Run.CameraErrorFlag = true;
    core_.Run.AbortRequested = true;
  }
  if (!error.empty()) core_.SetStatus(error);
  return ExposureResult{end, error};
}

void CameraOperations::StopExposureEarly() {
  exposureStopped_ = true;
  try {
    if (auto camera = core_.Devices.Camera) camera->StopExposure();
  } catch (const std::exception&) {
  }
}

std::string CameraOperations::FilterNameInUse() {
  if (core_.Settings.FilterwheelObject.empty() || !core_.Devices.FilterWheel) return {};
  try {
    return FilterName(core_.Filters, core_.Devices.FilterWheel->Position() + 1);
  } catch (const std::exception&) {
    return {};
  }
}

bool CameraOperations::ReadImage(Timgbuffer& image, std::string& error) {
  auto camera = Require(core_);
  const ImageArrayData array = camera->ImageArray();
  const int width = camera->NumX();
  const int height = camera->NumY();
  if (array.Width != width || array.Height != height ||
      array.Count() != static_cast<size_t>(std::max(0, width)) * static_cast<size_t>(std::max(0, height))) {
    error = "image of " + std::to_string(array.Width) + " x " + std::to_string(array.Height) + " pixels, " +
            std::to_string(width) + " x " + std::to_string(height) + " expected";
    return false;
  }
  return ImageFromArray(array, image, error);
}

ExposureResult CameraOperations::TakeImage(OperationContext& op, const ExposureRequest& request, Timgbuffer& image) {
  auto camera = core_.Devices.Camera;
  if (!camera || !Connected()) return ExposureResult{ExposureEnd::NotConnected, "Camera not connected"};
  const SettingsRecord& s = core_.Settings;
  try {
    camera->SetBinX(request.Binning);
    camera->SetBinY(request.Binning);
    camera->SetNumX(request.Width);
    camera->SetNumY(request.Height);
    camera->SetStartX(request.StartX);
    camera->SetStartY(request.StartY);
  } catch (const std::exception& e) {
    return Fail(ExposureEnd::Failed, std::string("Camera error: ") + e.what());
  }
  if (!filterWheel_.Select(op, request.Filter)) {
    if (!op.MayContinue()) return Fail(ExposureEnd::Interrupted, op.StopText());
    // Images through the wrong filter are of no use: the same as a camera failure.
    return Fail(ExposureEnd::Failed, core_.Status());
  }

  ExposureProgress progress{true, ProgressMaximum(request.Exposure), 0, false};
  Progress(progress);
  if (!op.Pump()) return Fail(op.Stop() == OperationStop::Preempted ? ExposureEnd::Interrupted : ExposureEnd::Stopped,
                              op.StopText());
  exposureStopped_ = false;
  std::string observationDate;
  DateTime start = 0;
  try {
    camera->StartExposure(request.Exposure, request.Light);
    start = core_.Clock.UtcNow();
    observationDate = UtcTimestampText(start);
  } catch (const std::exception& e) {
    return Fail(ExposureEnd::Failed, std::string("Camera error: ") + e.what());
  }
  const double limit = ExposureTimeLimit(s.CameraTimeout, s.CameraReadTime, request.Binning, request.Exposure);
  core_.Run.CameraErrorFlag = false;

  try {
    for (;;) {
      progress.LightOn = !progress.LightOn;
      Progress(progress);
      bool going = op.Pump();
      if (going && request.Exposure > kBlinkExposure) {
        going = op.Wait(500);
        progress.LightOn = !progress.LightOn;
        Progress(progress);
        going = going && op.Wait(500);
      } else if (going) {
        going = op.Wait(kShortPollMs);
      }
      // A stop first: the rain emergency's park and close may outlast the time limit, and the
      // exposure then ended for the rain, not for the camera.
      if (!going) {
        camera->StopExposure();
        const bool preempted = op.Stop() == OperationStop::Preempted;
        return Fail(preempted ? ExposureEnd::Interrupted : ExposureEnd::Stopped, preempted ? op.StopText() : "");
      }
      if (SecondsSince(start, core_.Clock.UtcNow()) > limit) {
        // The camera is not answering: no StopExposure it would not hear either.
        return Fail(ExposureEnd::TimedOut, "Camera error (timeout)");
      }
      if (progress.Position < progress.Maximum) ++progress.Position;
      if (camera->ImageReady() || exposureStopped_) break;
    }
  } catch (const std::exception& e) {
    return Fail(ExposureEnd::Failed, std::string("Camera error: ") + e.what());
  }
  Progress(ExposureProgress{});
  op.Pump();

  std::string error;
  try {
    if (!ReadImage(image, error)) return Fail(ExposureEnd::Failed, "Error accessing ImageArray: " + error);
  } catch (const std::exception& e) {
    return Fail(ExposureEnd::Failed, std::string("Error accessing ImageArray: ") + e.what());
  }

  CaptureCardValues values;
  values.ObservationDate = observationDate;
  values.Exposure = request.Exposure;
  values.FilterName = FilterNameInUse();
  values.Gain = gain_;
  try {
    values.Description = camera->Description();
    values.BinX = camera->BinX();
    values.BinY = camera->BinY();
    values.PixelSizeX = camera->PixelSizeX();
    values.PixelSizeY = camera->PixelSizeY();
    values.CcdTemperature = camera->CCDTemperature();
  } catch (const std::exception& e) {
    return Fail(ExposureEnd::Failed, std::string("Camera error: ") + e.what());
  }
  const CaptureCardSettings settings{s.ArcsecX, s.TelescopeDescription, s.Observername, s.Glaenge, s.Gbreite};
  WriteCaptureCards(image, values, settings);
  return ExposureResult{ExposureEnd::Image, {}};
}

std::vector<std::string> CameraOperations::InfoLines() {
  if (!Connected()) return {"camera not connected"};
  auto camera = core_.Devices.Camera;
  auto line = [](const char* label, const std::string& value) {
    std::string text = label;
    text.resize(20, ' ');
    return text + value;
  };
  auto sensorType = [](int type) -> std::string {
    static const char* const names[] = {"monochrome", "colour", "RGGB", "CMYG", "CMYG2", "LRGB"};
    return type >= 0 && type <= 5 ? names[type] : "unknown";
  };
  std::vector<std::string> lines = {"Camera properties:", "------------------"};
  lines.push_back(line("Description", camera->Description()));
  lines.push_back(line("Driver name", camera->Name()));
  lines.push_back(line("Driver version", camera->DriverVersion()));
  lines.push_back(line("Sensor name", camera->SensorName()));
  lines.push_back(line("Sensor type", sensorType(camera->SensorType())));
  lines.push_back(line("X size", std::to_string(camera->CameraXSize())));
  lines.push_back(line("Y size", std::to_string(camera->CameraYSize())));
  lines.push_back(line("X Pixel size", FormatFixed(camera->PixelSizeX(), 2)));
  lines.push_back(line("Y Pixel size", FormatFixed(camera->PixelSizeY(), 2)));
  lines.push_back(line("Max ADU", std::to_string(camera->MaxADU())));
  try {
    lines.push_back(line("gain", std::to_string(camera->Gain())));
  } catch (const std::exception&) {
    lines.push_back(line("gain", "n.a."));
  }
  try {
    lines.push_back(line("electrons/ADU", FormatFixed(camera->ElectronsPerAdu(), 3)));
  } catch (const std::exception&) {
    lines.push_back(line("electrons/ADU", "n.a."));
  }
  return lines;
}

}  // namespace noctarbel
