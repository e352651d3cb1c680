// The INDI camera (primary chip). Binning and sub-frame are kept as the station sets them
// (sub-frame in binned pixels) and sent together before each exposure, where INDI wants the
// frame in unbinned pixels; the image is the FITS BLOB of CCD1.

#include <chrono>
#include <cmath>

#include "common/number_text.h"
#include "devices/indi/indi_device.h"
#include "devices/indi/indi_devices.h"
#include "devices/indi/indi_image.h"

namespace noctarbel {

namespace {

constexpr const char* kInfo = "CCD_INFO";
constexpr const char* kExposure = "CCD_EXPOSURE";
constexpr const char* kBinning = "CCD_BINNING";
constexpr const char* kFrame = "CCD_FRAME";
constexpr const char* kFrameType = "CCD_FRAME_TYPE";
constexpr const char* kTemperature = "CCD_TEMPERATURE";
constexpr const char* kCooler = "CCD_COOLER";
constexpr const char* kImage = "CCD1";

struct Geometry {
  int BinX = 1;
  int BinY = 1;
  int StartX = 0;  // binned pixels
  int StartY = 0;
  int NumX = 0;
  int NumY = 0;
};

// Sets the one switch of a one-of-many property that is named, the others off.
IndiSwitches OnlyOn(const IndiProperty& property, const std::string& name) {
  IndiSwitches states;
  for (const auto& element : property.Elements) states.emplace_back(element.Name, element.Name == name);
  return states;
}

IndiAnswerTest SwitchIsOn(const std::string& name) {
  return [name](const IndiProperty& p) {
    if (p.State == IndiState::Alert) return IndiVerdict::Refused;
    const IndiElement* e = p.Element(name);
    return e && e->On && p.State != IndiState::Busy ? IndiVerdict::Done : IndiVerdict::Wait;
  };
}

class IndiCamera : public ICamera {
 public:
  explicit IndiCamera(const IndiDeviceAddress& address)
      : device_(address, kIndiCcdInterface, "camera", {{kInfo}, {kExposure}, {kImage}}, kImage) {}

  bool Connected() override { return device_.Connected(); }
  void SetConnected(bool connected) override {
    device_.SetConnected(connected);
    exposure_ = Exposure::None;
    if (!connected) return;
    ReceiveImagesAsFits();
    geometry_ = DriverGeometry();
  }
  int CameraXSize() override { return static_cast<int>(device_.Number(kInfo, "CCD_MAX_X")); }
  int CameraYSize() override { return static_cast<int>(device_.Number(kInfo, "CCD_MAX_Y")); }
  int MaxBinX() override {
    auto binning = device_.Find(kBinning);
    if (!binning) return 1;
    const IndiElement* x = binning->Element("HOR_BIN");
    return x && x->Max >= 1 ? static_cast<int>(x->Max) : 1;
  }
  bool CanSetCCDTemperature() override {
    auto temperature = device_.Find(kTemperature);
    return temperature && temperature->Writable;
  }
  double CCDTemperature() override {
    if (!device_.Find(kTemperature)) throw device_.Error("the camera reports no temperature");
    return device_.Number(kTemperature, "CCD_TEMPERATURE_VALUE");
  }
  double CoolerPower() override {
    if (!device_.Find("CCD_COOLER_POWER")) {
      throw device_.Error("CoolerPower not implemented: the driver reports no cooler power (CCD_COOLER_POWER)");
    }
    return device_.Number("CCD_COOLER_POWER", "CCD_COOLER_VALUE");
  }
  int Gain() override {
    if (!device_.Find("CCD_GAIN")) throw device_.Error("Gain not implemented: the driver has no CCD_GAIN");
    return static_cast<int>(RoundHalfEven(device_.Number("CCD_GAIN", "GAIN")));
  }
  bool ImageReady() override {
    if (exposure_ != Exposure::Running) {
      device_.Get(kExposure);
      return false;
    }
    AllowForImageInTransit();
    if (device_.Client().BlobSequence(device_.Name()) > startSequence_) {
      device_.Client().AllowSlowAnswer(0);
      return true;
    }
    if (device_.Get(kExposure).State == IndiState::Alert) {
      exposure_ = Exposure::None;
      const std::string message = device_.Client().LastMessage(device_.Name());
      throw device_.Error("the exposure failed" + (message.empty() ? "" : ": " + message));
    }
    return false;
  }
  ImageArrayData ImageArray() override {
    device_.Get(kExposure);
    const IndiBlob blob = device_.Client().LatestBlob(device_.Name());
    if (exposure_ != Exposure::Running || blob.Sequence <= startSequence_ || !blob.Bytes) {
      throw device_.Error("no image: ImageReady is false");
    }
    return DecodeIndiImage(blob.Bytes->data(), blob.Bytes->size(), blob.Format);
  }
  std::string Name() override { return device_.Name(); }
  std::string Description() override { return device_.DriverInfo(); }
  std::string DriverVersion() override { return device_.TextOf("DRIVER_INFO", "DRIVER_VERSION"); }
  // INDI does not name the sensor.
  std::string SensorName() override { return device_.Get(kInfo), std::string(); }
  int SensorType() override { return device_.Find("CCD_CFA") ? 2 : 0; }  // 2: Bayer mosaic
  double PixelSizeX() override { return device_.Number(kInfo, "CCD_PIXEL_SIZE_X"); }
  double PixelSizeY() override { return device_.Number(kInfo, "CCD_PIXEL_SIZE_Y"); }
  double ElectronsPerAdu() override {
    throw device_.Error("ElectronsPerAdu not implemented: INDI cameras do not report it");
  }
  int MaxADU() override {
    const double bits = device_.Number(kInfo, "CCD_BITSPERPIXEL");
    return bits >= 1 && bits <= 16 ? (1 << static_cast<int>(bits)) - 1 : 65535;
  }

  bool CoolerOn() override {
    auto cooler = device_.Find(kCooler);
    if (!cooler) return CanSetCCDTemperature() && coolerWanted_;
    const IndiElement* on = cooler->Element("COOLER_ON");
    return on && on->On;
  }
  void SetCoolerOn(bool on) override {
    auto cooler = device_.Find(kCooler);
    if (!cooler) {
      // Cameras that only take a set-point cool whenever they have one: the switch is ours.
      if (!CanSetCCDTemperature()) throw device_.Error("the camera has no cooler control");
      coolerWanted_ = on;
      return;
    }
    device_.SetSwitches(kCooler, OnlyOn(*cooler, on ? "COOLER_ON" : "COOLER_OFF"), [on](const IndiProperty& p) {
      if (p.State == IndiState::Alert) return IndiVerdict::Refused;
      const IndiElement* e = p.Element("COOLER_ON");
      return e && e->On == on ? IndiVerdict::Done : IndiVerdict::Wait;
    });
    coolerWanted_ = on;
  }
  int BinX() override { return device_.Get(kExposure), geometry_.BinX; }
  void SetBinX(int bin) override { geometry_.BinX = CheckedBin(bin); }
  int BinY() override { return device_.Get(kExposure), geometry_.BinY; }
  void SetBinY(int bin) override { geometry_.BinY = CheckedBin(bin); }
  int StartX() override { return device_.Get(kExposure), geometry_.StartX; }
  void SetStartX(int x) override { geometry_.StartX = CheckedNotNegative(x, "StartX"); }
  int StartY() override { return device_.Get(kExposure), geometry_.StartY; }
  void SetStartY(int y) override { geometry_.StartY = CheckedNotNegative(y, "StartY"); }
  int NumX() override { return device_.Get(kExposure), geometry_.NumX; }
  void SetNumX(int width) override { geometry_.NumX = CheckedNotNegative(width, "NumX"); }
  int NumY() override { return device_.Get(kExposure), geometry_.NumY; }
  void SetNumY(int height) override { geometry_.NumY = CheckedNotNegative(height, "NumY"); }
  void SetCCDTemperature(double celsius) override {
    auto temperature = device_.Find(kTemperature);
    if (!temperature || !temperature->Writable) throw device_.Error("the camera has no cooler control");
    const IndiElement* value = temperature->Element("CCD_TEMPERATURE_VALUE");
    if (value && value->Max > value->Min && (celsius < value->Min || celsius > value->Max)) {
      throw device_.Error("set-point " + FormatGeneral(celsius) + " C is outside " + FormatGeneral(value->Min) + ".." +
                          FormatGeneral(value->Max) + " C");
    }
    // Busy while the sensor ramps to the set-point: accepted.
    device_.SetNumbers(kTemperature, {{"CCD_TEMPERATURE_VALUE", celsius}}, IndiAnswered);
  }

  void StartExposure(double seconds, bool light) override {
    const IndiProperty exposure = device_.Get(kExposure);
    const IndiElement* duration = exposure.Element("CCD_EXPOSURE_VALUE");
    if (!duration) throw device_.Error("CCD_EXPOSURE has no element CCD_EXPOSURE_VALUE");
    if (!(seconds >= 0) || (duration->Max > duration->Min && (seconds < duration->Min || seconds > duration->Max))) {
      throw device_.Error("exposure " + FormatGeneral(seconds) + " s is outside " + FormatGeneral(duration->Min) +
                          ".." + FormatGeneral(duration->Max) + " s");
    }
    // The image of an earlier exposure is no longer the one asked for, whatever happens next.
    exposure_ = Exposure::None;
    SendFrameType(light);
    SendGeometry();
    startSequence_ = device_.Client().BlobSequence(device_.Name());
    device_.Client().AllowSlowAnswer(0);
    device_.SetNumbers(kExposure, {{"CCD_EXPOSURE_VALUE", seconds}}, IndiStarted);
    exposure_ = Exposure::Running;
    due_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<long>(seconds * 1000));
  }
  void StopExposure() override {
    exposure_ = Exposure::None;
    device_.Client().AllowSlowAnswer(0);
    device_.SetSwitches("CCD_ABORT_EXPOSURE", {{"ABORT", true}}, IndiAnswered);
  }

 private:
  enum class Exposure { None, Running };

  int CheckedBin(int bin) {
    const int most = MaxBinX();
    if (bin < 1 || bin > most)
      throw device_.Error("binning " + std::to_string(bin) + " is outside 1.." + std::to_string(most));
    return bin;
  }
  int CheckedNotNegative(int value, const char* what) {
    device_.Get(kExposure);
    if (value < 0) throw device_.Error(std::string(what) + " may not be negative");
    return value;
  }

  // The driver's present binning and frame, in the station's terms.
  Geometry DriverGeometry() {
    Geometry g;
    g.NumX = CameraXSize();
    g.NumY = CameraYSize();
    if (auto binning = device_.Find(kBinning)) {
      if (const auto* x = binning->Element("HOR_BIN")) g.BinX = std::max(1, static_cast<int>(x->Number));
      if (const auto* y = binning->Element("VER_BIN")) g.BinY = std::max(1, static_cast<int>(y->Number));
    }
    if (auto frame = device_.Find(kFrame)) {
      auto value = [&](const char* name, int fallback) {
        const IndiElement* e = frame->Element(name);
        return e ? static_cast<int>(e->Number) : fallback;
      };
      g.StartX = value("X", 0) / g.BinX;
      g.StartY = value("Y", 0) / g.BinY;
      g.NumX = value("WIDTH", g.NumX) / g.BinX;
      g.NumY = value("HEIGHT", g.NumY) / g.BinY;
    }
    return g;
  }

  void SendFrameType(bool light) {
    auto type = device_.Find(kFrameType);
    const char* wanted = light ? "FRAME_LIGHT" : "FRAME_DARK";
    if (!type) {
      if (!light) throw device_.Error("the camera cannot take dark frames (no CCD_FRAME_TYPE)");
      return;
    }
    const IndiElement* on = type->Element(wanted);
    if (!on) throw device_.Error(std::string(kFrameType) + " has no element " + wanted);
    if (on->On) return;
    device_.SetSwitches(kFrameType, OnlyOn(*type, wanted), SwitchIsOn(wanted));
  }

  // Binning first: the driver checks the frame against the binning it has.
  void SendGeometry() {
    const Geometry& g = geometry_;
    const int width = CameraXSize();
    const int height = CameraYSize();
    const long x = static_cast<long>(g.StartX) * g.BinX;
    const long y = static_cast<long>(g.StartY) * g.BinY;
    const long w = static_cast<long>(g.NumX) * g.BinX;
    const long h = static_cast<long>(g.NumY) * g.BinY;
    if (w < 1 || h < 1 || x + w > width || y + h > height) {
      throw device_.Error("sub-frame " + std::to_string(g.NumX) + " x " + std::to_string(g.NumY) + " at (" +
                          std::to_string(g.StartX) + ", " + std::to_string(g.StartY) + ") binned " +
                          std::to_string(g.BinX) + " x " + std::to_string(g.BinY) + " is outside the " +
                          std::to_string(width) + " x " + std::to_string(height) + " sensor");
    }
    const Geometry present = DriverGeometry();
    if (auto binning = device_.Find(kBinning); binning && (present.BinX != g.BinX || present.BinY != g.BinY)) {
      device_.SetNumbers(kBinning, {{"HOR_BIN", g.BinX}, {"VER_BIN", g.BinY}}, IndiCompleted);
    } else if (!binning && (g.BinX != 1 || g.BinY != 1)) {
      throw device_.Error("the camera cannot bin");
    }
    auto frame = device_.Find(kFrame);
    if (!frame) {
      if (x != 0 || y != 0 || w != width || h != height) throw device_.Error("the camera cannot take sub-frames");
      return;
    }
    const auto differs = [&](const char* name, long value) {
      const IndiElement* e = frame->Element(name);
      return !e || static_cast<long>(e->Number) != value;
    };
    if (differs("X", x) || differs("Y", y) || differs("WIDTH", w) || differs("HEIGHT", h)) {
      device_.SetNumbers(kFrame,
                         {{"X", static_cast<double>(x)},
                          {"Y", static_cast<double>(y)},
                          {"WIDTH", static_cast<double>(w)},
                          {"HEIGHT", static_cast<double>(h)}},
                         IndiCompleted);
    }
  }

  // Once the exposure is over, the image travels to us ahead of any answer to a ping: on a
  // slow link a large frame would look like a server that stopped. It is given a second per
  // megabyte it may take, base64 as INDI sends it.
  void AllowForImageInTransit() {
    if (std::chrono::steady_clock::now() < due_) return;
    const Geometry& g = geometry_;
    const double megabytes = static_cast<double>(g.NumX) * g.NumY * 2.0 * 4.0 / 3.0 / 1e6;
    device_.Client().AllowSlowAnswer(static_cast<int>(megabytes * 1000.0));
  }

  // The station reads images as FITS from the BLOB: a driver left saving its images on the
  // server's disk, or sending its native format, is switched over.
  void ReceiveImagesAsFits() {
    if (auto upload = device_.Find("UPLOAD_MODE")) {
      const IndiElement* local = upload->Element("UPLOAD_LOCAL");
      if (local && local->On && upload->Element("UPLOAD_CLIENT")) {
        device_.SetSwitches("UPLOAD_MODE", OnlyOn(*upload, "UPLOAD_CLIENT"), SwitchIsOn("UPLOAD_CLIENT"));
      }
    }
    if (auto format = device_.Find("CCD_TRANSFER_FORMAT")) {
      const IndiElement* fits = format->Element("FORMAT_FITS");
      if (fits && !fits->On) {
        device_.SetSwitches("CCD_TRANSFER_FORMAT", OnlyOn(*format, "FORMAT_FITS"), SwitchIsOn("FORMAT_FITS"));
      }
    }
  }

  IndiDevice device_;
  Geometry geometry_;
  Exposure exposure_ = Exposure::None;
  std::uint64_t startSequence_ = 0;
  std::chrono::steady_clock::time_point due_;
  bool coolerWanted_ = false;
};

}  // namespace

std::unique_ptr<ICamera> MakeIndiCamera(const IndiDeviceAddress& address) {
  return std::make_unique<IndiCamera>(address);
}

}  // namespace noctarbel
