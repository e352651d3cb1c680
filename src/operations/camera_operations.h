#pragma once
// The cooled camera: connecting, the cooler, and TakeImage, the one exposure every part of
// the station takes its images through (manual exposures, the plan run, focusing, guiding,
// centring). Like the other device areas it owns its driver slot's use, reports through the
// station's status, waits under the caller's operation context and never touches a control;
// the window follows an exposure through OnProgress.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace noctarbel {

class OperationContext;
class StationState;
class FilterWheelOperations;
class Timgbuffer;
struct ImageArrayData;

// One exposure: the sub-frame in binned pixels, the 0-based filter slot, the exposure time.
struct ExposureRequest {
  int Binning = 1;
  int Width = 0;
  int Height = 0;
  int StartX = 0;
  int StartY = 0;
  int Filter = 0;
  double Exposure = 1;  // seconds
  bool Light = true;
};

enum class ExposureEnd {
  Image,         // the image was read
  NotConnected,  // nothing happened; the flags are as they were
  Stopped,       // Stop (AbortRequested): the exposure was stopped
  Interrupted,   // an emergency took over: the exposure was stopped
  TimedOut,      // no image within the time limit (CameraErrorFlag)
  Failed,        // the driver failed or the image could not be read (CameraErrorFlag)
};

struct ExposureResult {
  ExposureEnd End = ExposureEnd::NotConnected;
  std::string Error;  // why there is no image
  bool HasImage() const { return End == ExposureEnd::Image; }
};

// What the window shows of a running exposure.
struct ExposureProgress {
  bool Running = false;
  int Maximum = 0;
  int Position = 0;
  bool LightOn = false;
};

// The geometry of an exposure: the whole sensor binned, or a centred sub-frame of 1/zoom of
// each side.
ExposureRequest ExposureGeometry(int cameraXSize, int cameraYSize, int binning, double zoom);
// The time limit of an exposure: CameraTimeout + CameraReadTime / binning + exposure, seconds.
double ExposureTimeLimit(int cameraTimeout, int cameraReadTime, int binning, double exposure);
// The warm-up's target: 15 degrees above the cooler's set-point, at most 20.
double WarmUpTarget(double coolerSetPoint);
// The driver's image array as the 16-bit image of a read-out, in `image` (a new header; the
// pixel block is reused when it has the size), with its Minimum and Maximum. Values outside
// 0..65535 mean a driver that delivers something else than this camera's counts: false with
// the reason, and `image` is left without pixels.
bool ImageFromArray(const ImageArrayData& array, Timgbuffer& image, std::string& error);

class CameraOperations {
 public:
  CameraOperations(StationState& state, FilterWheelOperations& filterWheel) : core_(state), filterWheel_(filterWheel) {}
  CameraOperations(const CameraOperations&) = delete;
  CameraOperations& operator=(const CameraOperations&) = delete;

  // Makes the driver named by CameraObject (unless the slot holds one), writes and reads back
  // "connected", and reads the gain. False with the reason in *error; "No connection to
  // camera." when the driver says it is not connected.
  bool Connect(std::string* error);
  // Disconnects, disposes and empties the slot, also when the driver fails.
  void Disconnect();
  bool HasDriver() const;
  bool Connected();
  // The gain read at connect; nothing when it could not be read (no GAIN card then).
  const std::optional<int>& Gain() const { return gain_; }

  bool CanSetTemperature();
  int MaxBinX();
  int CameraXSize();
  int CameraYSize();
  bool CoolerOn();
  void SetCoolerOn(bool on);
  // The cooler's set-point (written to the driver), and what the driver holds now.
  void SetSetPoint(double celsius);
  // The set-point the operator (or a plan's "CC") chose last; the warm-up counts from it.
  std::optional<double> ChosenSetPoint;
  // The chosen set-point, then cooler on: a plan's "CC". False with the reason in *error.
  bool SwitchCoolerOn(double celsius, std::string* error);
  double CCDTemperature();
  // Nothing when the driver cannot tell its cooler power.
  std::optional<double> CoolerPower();

  // One exposure into `image` (whose pixel block is reused when it has the size already):
  // sub-frame, filter, exposure, the wait for ImageReady under the time limit, the read-out
  // and the capture cards. Stop or an emergency stop the exposure; a time-out or a failed
  // read-out sets CameraErrorFlag and AbortRequested, with the reason in the status bar.
  ExposureResult TakeImage(OperationContext& op, const ExposureRequest& request, Timgbuffer& image);
  // The plan executor's own stop of the exposure running now (the wait ends without error).
  void StopExposureEarly();
  std::function<void(const ExposureProgress&)> OnProgress;

  // The camera properties window's lines; "camera not connected" alone when it is not.
  std::vector<std::string> InfoLines();

 private:
  void Progress(const ExposureProgress& progress);
  ExposureResult Fail(ExposureEnd end, const std::string& error);
  bool ReadImage(Timgbuffer& image, std::string& error);
  std::string FilterNameInUse();

  StationState& core_;
  FilterWheelOperations& filterWheel_;
  std::optional<int> gain_;
  bool exposureStopped_ = false;
};

}  // namespace noctarbel
