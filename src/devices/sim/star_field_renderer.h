#pragma once
// Renders a simulated camera frame: the sky model's stars projected onto the sensor for the
// pointing (trailed when the pointing moved during the exposure), each a Gaussian whose
// half-flux diameter the caller gives, on sky background and dark current, with hot pixels,
// shot and read noise and bias. Works at the binned resolution of the sub-frame only, so a
// full frame stays cheap.

#include <cstdint>
#include <vector>

#include "devices/device_interfaces.h"
#include "devices/sim/mount_model.h"
#include "devices/sim/sky_model.h"

namespace noctarbel {

struct HotPixel {
  int X = 0;  // unbinned sensor column
  int Y = 0;
  double ElectronsPerSecond = 0;  // at 0 degrees Celsius
};

struct FrameRequest {
  int SensorWidth = 0;
  int SensorHeight = 0;
  int BinX = 1;
  int BinY = 1;
  int StartX = 0;  // binned pixels
  int StartY = 0;
  int NumX = 0;
  int NumY = 0;
  double ArcsecPerPixel = 1.5;  // unbinned
  double RotationDeg = 0;
  SimPointing Start;
  SimPointing End;
  bool Light = true;
  double ExposureSeconds = 0;
  double HfdPixels = 3;  // unbinned
  double Throughput = 1;
  double FluxAtMagnitudeZero = 5e7;     // electrons per second
  double SkyElectronsPerSecond = 15;    // per unbinned pixel, clear filter
  double DarkElectronsPerSecond = 0.2;  // per unbinned pixel, at the sensor's temperature
  double HotPixelScale = 1;             // dark current at the sensor's temperature over that at 0 degrees
  double ElectronsPerAdu = 1.5;
  double BiasAdu = 1000;
  double ReadNoiseElectrons = 8;
  int MaxAdu = 65535;
  std::uint64_t NoiseSeed = 1;
  const std::vector<HotPixel>* HotPixels = nullptr;
};

ImageArrayData RenderFrame(const FrameRequest& request, const SkyModel& sky);

// Where a sky position falls on the sensor, in unbinned pixel coordinates (pixel i spans
// [i, i + 1)), for a camera on the given pier side. The optical axis falls on the pixel the
// image-centre formulas name, column W div 2 and row H div 2 counted from 1.
struct SensorPoint {
  double X = 0;
  double Y = 0;
  bool InFront = true;  // false for positions 90 degrees or more from the axis
};
SensorPoint ProjectToSensor(double raHours, double decDeg, const SimPointing& axis, int sensorWidth, int sensorHeight,
                            double arcsecPerPixel, double rotationDeg);

std::vector<HotPixel> MakeHotPixels(int sensorWidth, int sensorHeight, double fraction, std::uint64_t seed);

}  // namespace noctarbel
