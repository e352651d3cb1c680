#pragma once
// The simulated cooled camera: exposures that take their time plus read-out, a cooler that
// approaches its set-point over minutes, and images of the simulated sky where the mount
// points, focused by the focuser's distance from the filter's best focus.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/datetime.h"
#include "devices/device_interfaces.h"
#include "devices/sim/mount_model.h"
#include "devices/sim/star_field_renderer.h"

namespace noctarbel {

struct SimWorld;

struct CameraConfig {
  int Width = 1280;
  int Height = 1024;
  double PixelSizeUm = 6.45;
  int MaxBin = 4;
  // The simulated telescope's image scale and the camera's angle on the sky (what the
  // settings ArcsecX/ArcsecY and CameraRotation should say).
  double ArcsecPerPixel = 1.5;
  double RotationDeg = 0;
  int MaxAdu = 65535;
  int Gain = 100;
  double ElectronsPerAdu = 1.5;
  double BiasAdu = 1000;
  double ReadNoiseElectrons = 8;
  double DarkElectronsPerSecondAt0C = 0.2;
  double DarkDoublingKelvin = 6.3;
  double HotPixelFraction = 2e-4;
  double SkyElectronsPerSecond = 15;
  double FluxAtMagnitudeZero = 5e7;
  double FullReadoutSeconds = 1.5;
  // Cooler: first-order approach to the set-point, limited to this far below ambient.
  bool CanSetCCDTemperature = true;
  double CoolerTimeConstantSeconds = 90;
  double MaxCoolingKelvin = 40;
  // Focus: half-flux diameter in unbinned pixels, a V around the best focus position of the
  // clear filter (plus the filter's focus offset, plus a drift with temperature).
  double BestFocusPosition = 5000;
  double MinHfdPixels = 2.5;
  double HfdPerStep = 0.04;
  double FocusStepsPerKelvin = 0;
  std::uint64_t Seed = 0x63616d657261ull;
  // Fault switches.
  bool FailAll = false;
  bool NeverReady = false;
  bool ImageArrayFails = false;
  bool ImageWrongSize = false;   // the image array is one row short
  bool ImageOutOfRange = false;  // the image array holds values beyond 16 bits
  std::string Name = "Noctarbel camera simulator";
  std::string Description = "Simulated cooled monochrome CCD camera";
  std::string DriverVersion = "1.0";
  std::string SensorName = "SIM1280";
};

class CameraModel {
 public:
  explicit CameraModel(SimWorld& world) : world_(world) {}
  CameraModel(const CameraModel&) = delete;
  CameraModel& operator=(const CameraModel&) = delete;

  CameraConfig Config;

  double CCDTemperature();
  double CoolerPower();
  bool CoolerOn() const { return coolerOn_; }
  void SetCoolerOn(bool on);
  void SetSetPoint(double celsius);
  double SetPoint() const { return setPoint_; }

  int BinX = 1;
  int BinY = 1;
  int StartX = 0;
  int StartY = 0;
  int NumX = 1280;
  int NumY = 1024;

  void StartExposure(double seconds, bool light);
  void StopExposure();
  bool ImageReady();
  ImageArrayData ImageArray();
  bool Exposing();

  // The focus a frame would have now, in unbinned pixels (tests and the focusing work).
  double CurrentHfdPixels();
  int ExposuresStarted() const { return exposuresStarted_; }
  int StopsReceived() const { return stopsReceived_; }

 private:
  void FoldTemperature(DateTime now);
  double TemperatureAt(DateTime now) const;
  double CoolerTarget() const;
  double TimeConstant() const;
  void CheckFrame() const;
  void NoteCompletion(DateTime now);

  SimWorld& world_;
  bool coolerOn_ = false;
  double setPoint_ = 0;
  bool temperatureKnown_ = false;
  double temperature_ = 0;  // at temperatureSince_
  DateTime temperatureSince_ = 0;

  bool exposing_ = false;
  DateTime exposureStart_ = 0;
  double exposureSeconds_ = 0;
  double readoutSeconds_ = 0;
  bool completionNoted_ = false;
  FrameRequest frame_;
  std::optional<ImageArrayData> image_;
  std::vector<HotPixel> hotPixels_;
  int hotPixelsFor_[2] = {0, 0};
  int exposuresStarted_ = 0;
  int stopsReceived_ = 0;
};

}  // namespace noctarbel
