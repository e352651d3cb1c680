// The camera's members over the camera simulator: a cooled monochrome camera with binning
// and sub-frames, no fast read-out, gain fixed at its configured value, no on-camera guide
// port. The exposure's start and length are kept in SimDevices::Exposure for CameraState,
// PercentCompleted and the LastExposure members.

#include <algorithm>

#include "devices/alpaca/server/member_table.h"
#include "devices/alpaca/server/sim_host.h"

namespace noctarbel::alpaca {

namespace {

enum CameraState { kIdle = 0, kExposing = 2, kReading = 3, kError = 5 };

constexpr double kLongestExposure = 86400;

ICamera& Camera(SimDevices& d) {
  RequireConnected(d.Camera->Connected(), "camera");
  return *d.Camera;
}
CameraModel& Model(SimDevices& d) {
  Camera(d);
  return d.World().Camera;
}
const CameraConfig& Config(SimDevices& d) { return Model(d).Config; }

double SecondsSinceStart(SimDevices& d) { return (d.Now() - *d.Exposure.Start) * kSecondsPerDay; }

int State(SimDevices& d) {
  if (!d.Exposure.Start || Model(d).ImageReady()) return kIdle;
  if (Model(d).Exposing()) {
    return !d.Exposure.Stopped && SecondsSinceStart(d) < d.Exposure.Seconds ? kExposing : kReading;
  }
  return kError;  // the exposure ended without an image
}

void RequireCooler(SimDevices& d, const char* what) {
  if (!Config(d).CanSetCCDTemperature)
    throw Fault(kNotImplemented, std::string(what) + " is not available on this camera");
}

void CheckFrame(SimDevices& d) {
  const CameraModel& m = Model(d);
  const CameraConfig& c = m.Config;
  if ((m.StartX + m.NumX) * m.BinX > c.Width || (m.StartY + m.NumY) * m.BinY > c.Height) {
    throw Fault(kInvalidValue, "The sub-frame " + std::to_string(m.StartX) + "," + std::to_string(m.StartY) + " " +
                                   std::to_string(m.NumX) + "x" + std::to_string(m.NumY) + " at binning " +
                                   std::to_string(m.BinX) + "x" + std::to_string(m.BinY) + " lies outside the sensor");
  }
}

// A whole-number member with a lower bound and a setter on the simulator.
void IntMember(MemberTable& t, const char* member, const char* parameter, int (ICamera::*get)(),
               void (ICamera::*set)(int), int low, int (*high)(SimDevices&)) {
  t[member].Get = Value([get](SimDevices& d) { return (Camera(d).*get)(); });
  t[member].Put = [parameter, set, low, high](SimDevices& d, const CallParams& p) {
    const int value = p.Int(parameter);
    CheckRange(value, low, high ? high(d) : 2147483647, parameter);
    (Camera(d).*set)(value);
  };
}

void StartExposure(SimDevices& d, const CallParams& p) {
  const double seconds = p.Double("Duration");
  const bool light = p.Bool("Light");
  CheckRange(seconds, 0, kLongestExposure, "Duration");
  if (Model(d).Exposing()) throw Fault(kInvalidOperation, "An exposure is already running");
  CheckFrame(d);
  Camera(d).StartExposure(seconds, light);
  d.Exposure.Start = d.Now();
  d.Exposure.Seconds = seconds;
  d.Exposure.Stopped = false;
  d.Exposure.Frame.reset();
}

void StopExposure(SimDevices& d) {
  if (!d.Exposure.Start || !Model(d).Exposing()) return;
  Camera(d).StopExposure();
  if (!d.Exposure.Stopped) d.Exposure.Seconds = std::min(d.Exposure.Seconds, SecondsSinceStart(d));
  d.Exposure.Stopped = true;
}

std::shared_ptr<const ImageArrayData> LastImage(SimDevices& d) {
  if (!Camera(d).ImageReady()) throw Fault(kInvalidOperation, "No image is ready");
  if (!d.Exposure.Frame) d.Exposure.Frame = std::make_shared<const ImageArrayData>(Camera(d).ImageArray());
  return d.Exposure.Frame;
}

}  // namespace

MemberTable CameraMembers() {
  MemberTable t;
  CommonInfo common;
  common.Connected = [](SimDevices& d) { return d.Camera->Connected(); };
  common.SetConnected = [](SimDevices& d, bool on) { d.Camera->SetConnected(on); };
  common.Name = [](SimDevices& d) { return d.Camera->Name(); };
  common.Description = [](SimDevices& d) { return d.Camera->Description(); };
  common.DriverInfo = [](SimDevices& d) { return d.Camera->Name() + ", served by noctarbel-alpaca"; };
  common.DriverVersion = [](SimDevices& d) { return d.Camera->DriverVersion(); };
  common.InterfaceVersion = 3;
  AddCommonMembers(t, common);

  auto always = [](auto value) { return Value([value](SimDevices&) { return value; }); };

  // The sensor.
  t["cameraxsize"].Get = Value([](SimDevices& d) { return Camera(d).CameraXSize(); });
  t["cameraysize"].Get = Value([](SimDevices& d) { return Camera(d).CameraYSize(); });
  t["pixelsizex"].Get = Value([](SimDevices& d) { return Camera(d).PixelSizeX(); });
  t["pixelsizey"].Get = Value([](SimDevices& d) { return Camera(d).PixelSizeY(); });
  t["sensorname"].Get = Value([](SimDevices& d) { return Camera(d).SensorName(); });
  t["sensortype"].Get = Value([](SimDevices& d) { return Camera(d).SensorType(); });
  t["bayeroffsetx"].Get = NotImplementedGet("BayerOffsetX (monochrome sensor)");
  t["bayeroffsety"].Get = NotImplementedGet("BayerOffsetY (monochrome sensor)");
  t["maxadu"].Get = Value([](SimDevices& d) { return Camera(d).MaxADU(); });
  t["electronsperadu"].Get = Value([](SimDevices& d) { return Camera(d).ElectronsPerAdu(); });
  t["fullwellcapacity"].Get = Value([](SimDevices& d) { return Camera(d).MaxADU() * Camera(d).ElectronsPerAdu(); });
  t["hasshutter"].Get = always(true);
  t["exposuremin"].Get = always(0.0);
  t["exposuremax"].Get = always(kLongestExposure);
  t["exposureresolution"].Get = always(0.001);

  // Gain is fixed: the range holds the one value.
  t["gain"].Get = Value([](SimDevices& d) { return Camera(d).Gain(); });
  t["gain"].Put = [](SimDevices& d, const CallParams& p) {
    const int gain = p.Int("Gain");
    CheckRange(gain, Config(d).Gain, Config(d).Gain, "Gain");
  };
  t["gainmin"].Get = Value([](SimDevices& d) { return Config(d).Gain; });
  t["gainmax"].Get = Value([](SimDevices& d) { return Config(d).Gain; });
  t["gains"].Get = NotImplementedGet("Gains (the gain is a value)");
  for (const char* member : {"offset", "offsetmin", "offsetmax", "offsets"})
    t[member].Get = NotImplementedGet("Offset");
  t["offset"].Put = NotImplementedPut("Offset");
  t["readoutmode"].Get = always(0);
  t["readoutmode"].Put = [](SimDevices& d, const CallParams& p) {
    const int mode = p.Int("ReadoutMode");
    Camera(d);
    CheckRange(mode, 0, 0, "ReadoutMode");
  };
  t["readoutmodes"].Get = Value([](SimDevices&) { return std::vector<std::string>{"Normal"}; });
  t["canfastreadout"].Get = always(false);
  t["fastreadout"].Get = NotImplementedGet("FastReadout");
  t["fastreadout"].Put = NotImplementedPut("FastReadout");
  t["subexposureduration"].Get = NotImplementedGet("SubExposureDuration");
  t["subexposureduration"].Put = NotImplementedPut("SubExposureDuration");

  // Binning and sub-frame (checked as a whole when an exposure starts).
  auto maxBin = [](SimDevices& d) { return Config(d).MaxBin; };
  t["maxbinx"].Get = Value(maxBin);
  t["maxbiny"].Get = Value(maxBin);
  t["canasymmetricbin"].Get = always(true);
  IntMember(t, "binx", "BinX", &ICamera::BinX, &ICamera::SetBinX, 1, maxBin);
  IntMember(t, "biny", "BinY", &ICamera::BinY, &ICamera::SetBinY, 1, maxBin);
  IntMember(t, "startx", "StartX", &ICamera::StartX, &ICamera::SetStartX, 0, nullptr);
  IntMember(t, "starty", "StartY", &ICamera::StartY, &ICamera::SetStartY, 0, nullptr);
  IntMember(t, "numx", "NumX", &ICamera::NumX, &ICamera::SetNumX, 1, nullptr);
  IntMember(t, "numy", "NumY", &ICamera::NumY, &ICamera::SetNumY, 1, nullptr);

  // Cooling.
  t["cansetccdtemperature"].Get = Value([](SimDevices& d) { return Camera(d).CanSetCCDTemperature(); });
  t["cangetcoolerpower"].Get = Value([](SimDevices& d) { return Config(d).CanSetCCDTemperature; });
  t["ccdtemperature"].Get = Value([](SimDevices& d) { return Camera(d).CCDTemperature(); });
  t["heatsinktemperature"].Get = Value([](SimDevices& d) {
    Camera(d);
    return d.World().AmbientCelsius;
  });
  t["cooleron"].Get = Value([](SimDevices& d) { return Camera(d).CoolerOn(); });
  t["cooleron"].Put = [](SimDevices& d, const CallParams& p) {
    const bool on = p.Bool("CoolerOn");
    RequireCooler(d, "Cooler control");
    Camera(d).SetCoolerOn(on);
  };
  t["coolerpower"].Get = Value([](SimDevices& d) {
    RequireCooler(d, "CoolerPower");
    return Camera(d).CoolerPower();
  });
  t["setccdtemperature"].Get = Value([](SimDevices& d) {
    RequireCooler(d, "SetCCDTemperature");
    return Model(d).SetPoint();
  });
  t["setccdtemperature"].Put = [](SimDevices& d, const CallParams& p) {
    const double celsius = p.Double("SetCCDTemperature");
    RequireCooler(d, "SetCCDTemperature");
    CheckRange(celsius, -100, 50, "SetCCDTemperature");
    Camera(d).SetCCDTemperature(celsius);
  };

  // Exposures.
  t["canabortexposure"].Get = always(false);
  t["canstopexposure"].Get = always(true);
  t["canpulseguide"].Get = always(false);
  t["ispulseguiding"].Get = NotImplementedGet("IsPulseGuiding (no guide port)");
  t["pulseguide"].Put = [](SimDevices&, const CallParams& p) {
    p.Int("Direction");
    p.Int("Duration");
    throw Fault(kNotImplemented, "PulseGuide is not implemented by this camera (no guide port)");
  };
  t["abortexposure"].Put = NotImplementedPut("AbortExposure (use StopExposure)");
  t["startexposure"].Put = StartExposure;
  t["stopexposure"].Put = [](SimDevices& d, const CallParams&) { StopExposure(d); };
  t["camerastate"].Get = Value(State);
  t["imageready"].Get = Value([](SimDevices& d) { return Camera(d).ImageReady(); });
  t["percentcompleted"].Get = Value([](SimDevices& d) {
    if (!d.Exposure.Start) throw Fault(kInvalidOperation, "No exposure has been started");
    if (Model(d).ImageReady()) return 100;
    const double total = std::max(1e-3, d.Exposure.Seconds);
    return static_cast<int>(std::clamp(100.0 * SecondsSinceStart(d) / total, 0.0, 99.0));
  });
  t["lastexposureduration"].Get = Value([](SimDevices& d) {
    if (!d.Exposure.Start) throw Fault(kValueNotSet, "No exposure has been taken");
    return d.Exposure.Seconds;
  });
  t["lastexposurestarttime"].Get = Value([](SimDevices& d) {
    if (!d.Exposure.Start) throw Fault(kValueNotSet, "No exposure has been taken");
    return UtcIsoText(*d.Exposure.Start, false);
  });
  t["imagearray"].Image = LastImage;
  t["imagearrayvariant"].Image = LastImage;
  return t;
}

}  // namespace noctarbel::alpaca
