#pragma once
// Layer devices: the driver interfaces, the registry and the backends only (sim/, indi/,
// alpaca/, the serial line). Uses the layers below; knows nothing of the station.
//
// The four kinds of device driver the station drives, typed, with the members it uses under
// their driver names. Every backend (built-in simulators, network backends) implements them;
// a failing call throws DeviceError, which the callers catch where their operation ends.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "devices/device_states.h"

namespace noctarbel {

class DeviceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Guide directions of PulseGuide.
enum GuideDirection : int { kGuideNorth = 0, kGuideSouth = 1, kGuideEast = 2, kGuideWest = 3 };

// EquatorialSystem results: 1 means the mount works in coordinates of the date.
inline constexpr int kEquatorialOther = 0;
inline constexpr int kEquatorialOfDate = 1;
inline constexpr int kEquatorialJ2000 = 2;

class ITelescope {
 public:
  virtual ~ITelescope() = default;

  virtual bool Connected() = 0;
  virtual void SetConnected(bool connected) = 0;
  virtual std::string Description() = 0;
  virtual std::string DriverInfo() = 0;

  virtual double RightAscension() = 0;  // hours
  virtual double Declination() = 0;     // degrees
  virtual double Azimuth() = 0;         // degrees from north through east
  virtual double Altitude() = 0;        // degrees
  virtual PierSide SideOfPier() = 0;
  virtual bool Slewing() = 0;
  virtual bool Tracking() = 0;
  virtual void SetTracking(bool tracking) = 0;
  virtual bool CanSetTracking() = 0;
  virtual bool CanFindHome() = 0;
  virtual int EquatorialSystem() = 0;

  virtual void SetTargetRightAscension(double hours) = 0;
  virtual void SetTargetDeclination(double degrees) = 0;
  virtual double GuideRateRightAscension() = 0;  // degrees per second
  virtual void SetGuideRateRightAscension(double degreesPerSecond) = 0;
  virtual double GuideRateDeclination() = 0;
  virtual void SetGuideRateDeclination(double degreesPerSecond) = 0;
  virtual bool CanSetGuideRates() = 0;

  // Returns when the slew is done. The station itself only uses the asynchronous slews and
  // waits for them under its operation context, so that a slew can be interrupted.
  virtual void SlewToTarget() = 0;
  // Returns at once; Slewing() is true until the mount arrives.
  virtual void SlewToTargetAsync() = 0;
  // Returns at once, like SlewToTargetAsync.
  virtual void SlewToAltAz(double azimuth, double altitude) = 0;
  // May return before the mount is parked; Slewing() is true until it is.
  virtual void Park() = 0;
  // May return before the home position is found; Slewing() is true until it is.
  virtual void FindHome() = 0;
  virtual void AbortSlew() = 0;
  virtual void PulseGuide(int direction, int milliseconds) = 0;
  virtual void SyncToCoordinates(double rightAscensionHours, double declinationDeg) = 0;
};

// A camera image, x running fastest: the value of column x, row y (0-based) is element
// y * Width + x. Drivers deliver 32-bit values, or 16-bit unsigned ones when that is what
// the camera sends (a 26-megapixel frame then never exists in 32 bits).
struct ImageArrayData {
  int Width = 0;
  int Height = 0;
  std::vector<std::int32_t> Pixels;     // used when Pixels16 is empty
  std::vector<std::uint16_t> Pixels16;  // unsigned 16-bit values

  bool Is16Bit() const { return !Pixels16.empty(); }
  size_t Count() const { return Is16Bit() ? Pixels16.size() : Pixels.size(); }
  std::int32_t At(int x, int y) const {
    const size_t i = static_cast<size_t>(y) * static_cast<size_t>(Width) + static_cast<size_t>(x);
    return Is16Bit() ? Pixels16[i] : Pixels[i];
  }
};

class ICamera {
 public:
  virtual ~ICamera() = default;

  virtual bool Connected() = 0;
  virtual void SetConnected(bool connected) = 0;
  virtual int CameraXSize() = 0;
  virtual int CameraYSize() = 0;
  virtual int MaxBinX() = 0;
  virtual bool CanSetCCDTemperature() = 0;
  virtual double CCDTemperature() = 0;  // degrees Celsius
  virtual double CoolerPower() = 0;     // percent
  virtual int Gain() = 0;
  virtual bool ImageReady() = 0;
  virtual ImageArrayData ImageArray() = 0;
  virtual std::string Name() = 0;
  virtual std::string Description() = 0;
  virtual std::string DriverVersion() = 0;
  virtual std::string SensorName() = 0;
  virtual int SensorType() = 0;     // 0 monochrome
  virtual double PixelSizeX() = 0;  // micrometres
  virtual double PixelSizeY() = 0;
  virtual double ElectronsPerAdu() = 0;
  virtual int MaxADU() = 0;

  virtual bool CoolerOn() = 0;
  virtual void SetCoolerOn(bool on) = 0;
  virtual int BinX() = 0;
  virtual void SetBinX(int bin) = 0;
  virtual int BinY() = 0;
  virtual void SetBinY(int bin) = 0;
  // The sub-frame, in binned pixels.
  virtual int StartX() = 0;
  virtual void SetStartX(int x) = 0;
  virtual int StartY() = 0;
  virtual void SetStartY(int y) = 0;
  virtual int NumX() = 0;
  virtual void SetNumX(int width) = 0;
  virtual int NumY() = 0;
  virtual void SetNumY(int height) = 0;
  // The cooler's set-point (the driver's SetCCDTemperature property, written).
  virtual void SetCCDTemperature(double celsius) = 0;

  virtual void StartExposure(double seconds, bool light) = 0;
  virtual void StopExposure() = 0;
  // Releases the driver; the object is not used afterwards.
  virtual void Dispose() {}
};

class IFocuser {
 public:
  virtual ~IFocuser() = default;

  virtual bool Link() = 0;
  virtual void SetLink(bool link) = 0;
  virtual int Position() = 0;  // steps
  virtual bool Absolute() = 0;
  // In half-kelvin units: degrees Celsius = Temperature() * 0.5 - 273.
  virtual double Temperature() = 0;
  // Absolute focusers go to the position, relative ones move by the number of steps.
  virtual void Move(int value) = 0;
};

class IFilterWheel {
 public:
  virtual ~IFilterWheel() = default;

  virtual bool Connected() = 0;
  virtual void SetConnected(bool connected) = 0;
  virtual std::vector<std::string> Names() = 0;
  virtual std::vector<int> FocusOffsets() = 0;
  // 0-based slot; a wheel in motion reports -1 until it arrives.
  virtual int Position() = 0;
  virtual void SetPosition(int slot) = 0;
};

}  // namespace noctarbel
