#include "devices/sim/camera_model.h"

#include <algorithm>
#include <cmath>

#include "devices/sim/sim_random.h"
#include "devices/sim/sim_world.h"

namespace noctarbel {

double CameraModel::CoolerTarget() const {
  const double ambient = world_.AmbientCelsius;
  if (!coolerOn_) return ambient;
  return std::max(setPoint_, ambient - Config.MaxCoolingKelvin);
}

double CameraModel::TimeConstant() const {
  // Without the cooler the sensor warms up more slowly than it cools.
  return std::max(1.0, coolerOn_ ? Config.CoolerTimeConstantSeconds : 2.0 * Config.CoolerTimeConstantSeconds);
}

double CameraModel::TemperatureAt(DateTime now) const {
  if (!temperatureKnown_) return world_.AmbientCelsius;
  const double target = CoolerTarget();
  const double seconds = std::max(0.0, (now - temperatureSince_) * kSecondsPerDay);
  return target + (temperature_ - target) * std::exp(-seconds / TimeConstant());
}

void CameraModel::FoldTemperature(DateTime now) {
  temperature_ = TemperatureAt(now);
  temperatureSince_ = now;
  temperatureKnown_ = true;
}

// Reported to a tenth of a degree, as camera drivers do: a sensor warming towards a target
// reaches it rather than creeping up on it for ever.
double CameraModel::CCDTemperature() { return std::round(TemperatureAt(world_.Now()) * 10.0) / 10.0; }

double CameraModel::CoolerPower() {
  if (!coolerOn_) return 0;
  const double t = CCDTemperature();
  const double holding = 100.0 * (world_.AmbientCelsius - t) / std::max(1.0, Config.MaxCoolingKelvin);
  const double pulling = 30.0 * std::clamp((t - CoolerTarget()) / 5.0, 0.0, 1.0);
  return std::clamp(holding + pulling, 0.0, 100.0);
}

void CameraModel::SetCoolerOn(bool on) {
  FoldTemperature(world_.Now());
  coolerOn_ = on;
}

void CameraModel::SetSetPoint(double celsius) {
  if (celsius < -100 || celsius > 50)
    throw DeviceError("SetCCDTemperature: " + std::to_string(celsius) + " out of range");
  FoldTemperature(world_.Now());
  setPoint_ = celsius;
}

void CameraModel::CheckFrame() const {
  if (BinX < 1 || BinY < 1 || BinX > Config.MaxBin || BinY > Config.MaxBin) throw DeviceError("Binning not supported");
  if (NumX < 1 || NumY < 1 || StartX < 0 || StartY < 0 || (StartX + NumX) * BinX > Config.Width ||
      (StartY + NumY) * BinY > Config.Height) {
    throw DeviceError("Sub-frame outside the sensor");
  }
}

double CameraModel::CurrentHfdPixels() {
  const int slot = world_.Wheel.FilterInBeam();
  const double best = Config.BestFocusPosition + world_.Wheel.FocusOffsetOf(slot) +
                      Config.FocusStepsPerKelvin * (world_.AmbientCelsius - 10.0);
  return Config.MinHfdPixels + Config.HfdPerStep * std::abs(world_.Focuser.Position() - best);
}

void CameraModel::StartExposure(double seconds, bool light) {
  const DateTime now = world_.Now();
  if (Exposing()) throw DeviceError("An exposure is already running");
  if (!(seconds >= 0) || seconds > 86400) throw DeviceError("Exposure time out of range");
  CheckFrame();
  if (hotPixels_.empty() || hotPixelsFor_[0] != Config.Width || hotPixelsFor_[1] != Config.Height) {
    hotPixels_ = MakeHotPixels(Config.Width, Config.Height, Config.HotPixelFraction, Config.Seed);
    hotPixelsFor_[0] = Config.Width;
    hotPixelsFor_[1] = Config.Height;
  }
  const double temperature = CCDTemperature();
  const double darkScale = std::pow(2.0, temperature / std::max(0.1, Config.DarkDoublingKelvin));
  const int slot = world_.Wheel.FilterInBeam();

  FrameRequest f;
  f.SensorWidth = Config.Width;
  f.SensorHeight = Config.Height;
  f.BinX = BinX;
  f.BinY = BinY;
  f.StartX = StartX;
  f.StartY = StartY;
  f.NumX = NumX;
  f.NumY = NumY;
  f.ArcsecPerPixel = Config.ArcsecPerPixel;
  f.RotationDeg = Config.RotationDeg;
  f.Start = world_.Mount.ActualPointing();
  f.End = f.Start;
  f.Light = light;
  f.ExposureSeconds = seconds;
  f.HfdPixels = CurrentHfdPixels();
  f.Throughput = world_.Wheel.ThroughputOf(slot);
  f.FluxAtMagnitudeZero = Config.FluxAtMagnitudeZero;
  f.SkyElectronsPerSecond = Config.SkyElectronsPerSecond;
  f.DarkElectronsPerSecond = Config.DarkElectronsPerSecondAt0C * darkScale;
  f.HotPixelScale = darkScale;
  f.ElectronsPerAdu = Config.ElectronsPerAdu;
  f.BiasAdu = Config.BiasAdu;
  f.ReadNoiseElectrons = Config.ReadNoiseElectrons;
  f.MaxAdu = Config.MaxAdu;
  f.NoiseSeed = sim::HashCombine(Config.Seed, static_cast<std::uint64_t>(exposuresStarted_));
  f.HotPixels = &hotPixels_;
  frame_ = f;

  exposing_ = true;
  exposureStart_ = now;
  exposureSeconds_ = seconds;
  readoutSeconds_ = 0.1 + Config.FullReadoutSeconds * (static_cast<double>(NumX) * NumY) /
                              (static_cast<double>(Config.Width) * Config.Height);
  completionNoted_ = false;
  image_.reset();
  ++exposuresStarted_;
}

void CameraModel::StopExposure() {
  const DateTime now = world_.Now();
  ++stopsReceived_;
  if (!exposing_) return;
  const double elapsed = (now - exposureStart_) * kSecondsPerDay;
  if (elapsed < exposureSeconds_) {
    exposureSeconds_ = std::max(0.0, elapsed);
    frame_.ExposureSeconds = exposureSeconds_;
  }
}

bool CameraModel::Exposing() {
  if (!exposing_) return false;
  return (world_.Now() - exposureStart_) * kSecondsPerDay < exposureSeconds_ + readoutSeconds_;
}

void CameraModel::NoteCompletion(DateTime) {
  if (completionNoted_) return;
  completionNoted_ = true;
  // Where the optics pointed at the end: stars trail when the mount moved meanwhile.
  frame_.End = world_.Mount.ActualPointing();
}

bool CameraModel::ImageReady() {
  if (Config.NeverReady || !exposing_) return false;
  const DateTime now = world_.Now();
  if ((now - exposureStart_) * kSecondsPerDay < exposureSeconds_ + readoutSeconds_) return false;
  NoteCompletion(now);
  return true;
}

ImageArrayData CameraModel::ImageArray() {
  if (Config.ImageArrayFails) throw DeviceError("ImageArray: the camera did not deliver the image");
  if (!ImageReady()) throw DeviceError("ImageArray: no image ready");
  if (!image_) image_ = RenderFrame(frame_, world_.Sky);
  ImageArrayData image = *image_;
  if (Config.ImageWrongSize) --image.Height;
  if (Config.ImageOutOfRange) {
    // A driver that hands over counts of another range: 32-bit values beyond 16 bits.
    image.Pixels.assign(image.Count(), 1000);
    image.Pixels16.clear();
    image.Pixels[image.Pixels.size() / 2] = 70000;
  }
  return image;
}

}  // namespace noctarbel
