#include "devices/sim/sim_devices.h"

#include <cmath>
#include <optional>

#include "common/number_text.h"
#include "devices/sim/sim_world.h"

namespace noctarbel {

namespace {

void FailIf(bool fault, const char* device) {
  if (fault) throw DeviceError(std::string(device) + ": simulated driver failure");
}

class SimTelescope : public ITelescope {
 public:
  explicit SimTelescope(SimWorld& world) : world_(world), mount_(world.Mount) {}

  bool Connected() override {
    Fault();
    return connected_;
  }
  void SetConnected(bool connected) override {
    Fault();
    connected_ = connected;
  }
  std::string Description() override {
    Fault();
    return mount_.Config.Description;
  }
  std::string DriverInfo() override {
    Fault();
    return mount_.Config.DriverInfo;
  }
  double RightAscension() override { return Ready().RightAscension(); }
  double Declination() override { return Ready().Declination(); }
  double Azimuth() override { return Ready().Azimuth(); }
  double Altitude() override { return Ready().Altitude(); }
  PierSide SideOfPier() override { return Ready().SideOfPier(); }
  bool Slewing() override { return Ready().Slewing(); }
  bool Tracking() override { return Ready().Tracking(); }
  void SetTracking(bool tracking) override {
    if (!Ready().Config.CanSetTracking) throw DeviceError("Tracking cannot be set on this mount");
    mount_.SetTracking(tracking);
  }
  bool CanSetTracking() override { return Ready().Config.CanSetTracking; }
  bool CanFindHome() override { return Ready().Config.CanFindHome; }
  int EquatorialSystem() override { return Ready().Config.EquatorialSystem; }
  void SetTargetRightAscension(double hours) override {
    Ready();
    if (!(hours >= 0 && hours < 24)) throw DeviceError("TargetRightAscension out of range: " + FormatGeneral(hours));
    targetRa_ = hours;
  }
  void SetTargetDeclination(double degrees) override {
    Ready();
    if (!(degrees >= -90 && degrees <= 90))
      throw DeviceError("TargetDeclination out of range: " + FormatGeneral(degrees));
    targetDec_ = degrees;
  }
  double GuideRateRightAscension() override { return Ready().GuideRateRa; }
  void SetGuideRateRightAscension(double rate) override { mount_.GuideRateRa = CheckedGuideRate(rate); }
  double GuideRateDeclination() override { return Ready().GuideRateDec; }
  void SetGuideRateDeclination(double rate) override { mount_.GuideRateDec = CheckedGuideRate(rate); }
  bool CanSetGuideRates() override { return Ready().Config.CanSetGuideRates; }

  void SlewToTarget() override {
    SlewToTargetAsync();
    WaitWhileSlewing();
  }
  void SlewToTargetAsync() override {
    if (!Ready().Config.CanSlew) throw DeviceError("Slews to coordinates are not supported by this mount");
    if (!targetRa_ || !targetDec_) throw DeviceError("Slew: target not set");
    mount_.SlewToCoordinates(*targetRa_, *targetDec_);
  }
  void SlewToAltAz(double azimuth, double altitude) override {
    if (!Ready().Config.CanSlewAltAz)
      throw DeviceError("Slews to altitude and azimuth are not supported by this mount");
    if (!(azimuth >= 0 && azimuth <= 360) || !(altitude >= -90 && altitude <= 90)) {
      throw DeviceError("SlewToAltAz: position out of range");
    }
    mount_.SlewToAltAz(azimuth, altitude);
  }
  void Park() override { Ready().Park(); }
  // Returns at once, as network mounts do; Slewing() is true while the search runs.
  void FindHome() override {
    if (!Ready().Config.CanFindHome) throw DeviceError("FindHome is not supported by this mount");
    mount_.StartFindHome();
  }
  void AbortSlew() override { Ready().AbortSlew(); }
  void PulseGuide(int direction, int milliseconds) override { Ready().PulseGuide(direction, milliseconds); }
  void SyncToCoordinates(double ra, double dec) override {
    Ready();
    if (!(ra >= 0 && ra < 24) || !(dec >= -90 && dec <= 90)) throw DeviceError("SyncToCoordinates: out of range");
    mount_.SyncToCoordinates(ra, dec);
  }

 private:
  void Fault() const { FailIf(mount_.Config.FailAll, "Telescope"); }
  MountModel& Ready() {
    Fault();
    if (!connected_) throw DeviceError("Telescope: not connected");
    return mount_;
  }
  double CheckedGuideRate(double rate) {
    if (!Ready().Config.CanSetGuideRates) throw DeviceError("Guide rates cannot be set on this mount");
    if (!(rate > 0 && rate <= 1)) throw DeviceError("Guide rate out of range");
    return rate;
  }
  // A synchronous call keeps the station's clock running while the mount moves.
  void WaitWhileSlewing() {
    while (mount_.Slewing()) world_.Sleep(100);
  }

  SimWorld& world_;
  MountModel& mount_;
  bool connected_ = false;
  std::optional<double> targetRa_;
  std::optional<double> targetDec_;
};

class SimCamera : public ICamera {
 public:
  explicit SimCamera(SimWorld& world) : camera_(world.Camera) {}

  bool Connected() override {
    Fault();
    return connected_;
  }
  void SetConnected(bool connected) override {
    Fault();
    if (connected && !connected_) {
      camera_.BinX = camera_.BinY = 1;
      camera_.StartX = camera_.StartY = 0;
      camera_.NumX = camera_.Config.Width;
      camera_.NumY = camera_.Config.Height;
    }
    connected_ = connected;
  }
  int CameraXSize() override { return Ready().Config.Width; }
  int CameraYSize() override { return Ready().Config.Height; }
  int MaxBinX() override { return Ready().Config.MaxBin; }
  bool CanSetCCDTemperature() override { return Ready().Config.CanSetCCDTemperature; }
  double CCDTemperature() override { return Ready().CCDTemperature(); }
  double CoolerPower() override { return Ready().CoolerPower(); }
  int Gain() override { return Ready().Config.Gain; }
  bool ImageReady() override { return Ready().ImageReady(); }
  ImageArrayData ImageArray() override { return Ready().ImageArray(); }
  std::string Name() override {
    Fault();
    return camera_.Config.Name;
  }
  std::string Description() override {
    Fault();
    return camera_.Config.Description;
  }
  std::string DriverVersion() override {
    Fault();
    return camera_.Config.DriverVersion;
  }
  std::string SensorName() override { return Ready().Config.SensorName; }
  int SensorType() override { return Ready(), 0; }
  double PixelSizeX() override { return Ready().Config.PixelSizeUm; }
  double PixelSizeY() override { return Ready().Config.PixelSizeUm; }
  double ElectronsPerAdu() override { return Ready().Config.ElectronsPerAdu; }
  int MaxADU() override { return Ready().Config.MaxAdu; }
  bool CoolerOn() override { return Ready().CoolerOn(); }
  void SetCoolerOn(bool on) override {
    if (!Ready().Config.CanSetCCDTemperature) throw DeviceError("This camera has no cooler control");
    camera_.SetCoolerOn(on);
  }
  int BinX() override { return Ready().BinX; }
  void SetBinX(int bin) override { Ready().BinX = bin; }
  int BinY() override { return Ready().BinY; }
  void SetBinY(int bin) override { Ready().BinY = bin; }
  int StartX() override { return Ready().StartX; }
  void SetStartX(int x) override { Ready().StartX = x; }
  int StartY() override { return Ready().StartY; }
  void SetStartY(int y) override { Ready().StartY = y; }
  int NumX() override { return Ready().NumX; }
  void SetNumX(int width) override { Ready().NumX = width; }
  int NumY() override { return Ready().NumY; }
  void SetNumY(int height) override { Ready().NumY = height; }
  void SetCCDTemperature(double celsius) override {
    if (!Ready().Config.CanSetCCDTemperature) throw DeviceError("This camera has no cooler control");
    camera_.SetSetPoint(celsius);
  }
  void StartExposure(double seconds, bool light) override { Ready().StartExposure(seconds, light); }
  void StopExposure() override { Ready().StopExposure(); }
  void Dispose() override { connected_ = false; }

 private:
  void Fault() const { FailIf(camera_.Config.FailAll, "Camera"); }
  CameraModel& Ready() {
    Fault();
    if (!connected_) throw DeviceError("Camera: not connected");
    return camera_;
  }

  CameraModel& camera_;
  bool connected_ = false;
};

class SimFocuser : public IFocuser {
 public:
  explicit SimFocuser(SimWorld& world) : focuser_(world.Focuser) {}

  bool Link() override {
    Fault();
    return linked_;
  }
  void SetLink(bool link) override {
    Fault();
    linked_ = link;
  }
  int Position() override { return Ready().Position(); }
  bool Absolute() override { return Ready().Config.Absolute; }
  double Temperature() override { return Ready().TemperatureHalfKelvin(); }
  void Move(int value) override { Ready().Move(value); }

 private:
  void Fault() const { FailIf(focuser_.Config.FailAll, "Focuser"); }
  FocuserModel& Ready() {
    Fault();
    if (!linked_) throw DeviceError("Focuser: not linked");
    return focuser_;
  }

  FocuserModel& focuser_;
  bool linked_ = false;
};

class SimFilterWheel : public IFilterWheel {
 public:
  explicit SimFilterWheel(SimWorld& world) : wheel_(world.Wheel) {}

  bool Connected() override {
    Fault();
    return connected_;
  }
  void SetConnected(bool connected) override {
    Fault();
    connected_ = connected;
  }
  std::vector<std::string> Names() override { return Ready().Config.Names; }
  std::vector<int> FocusOffsets() override {
    const auto& config = Ready().Config;
    std::vector<int> offsets = config.FocusOffsets;
    offsets.resize(config.Names.size(), 0);
    return offsets;
  }
  int Position() override { return Ready().Position(); }
  void SetPosition(int slot) override { Ready().SetPosition(slot); }

 private:
  void Fault() const { FailIf(wheel_.Config.FailAll, "Filter wheel"); }
  FilterWheelModel& Ready() {
    Fault();
    if (!connected_) throw DeviceError("Filter wheel: not connected");
    return wheel_;
  }

  FilterWheelModel& wheel_;
  bool connected_ = false;
};

}  // namespace

std::vector<DeviceChoice> SimulatorBackend::Choices(DeviceType type, const DeviceContext&) const {
  switch (type) {
    case DeviceType::Telescope:
      return {{kSimTelescopeId, "Built-in mount simulator (German equatorial)"}};
    case DeviceType::Camera:
      return {{kSimCameraId, "Built-in camera simulator (cooled CCD, simulated sky)"}};
    case DeviceType::Focuser:
      return {{kSimFocuserId, "Built-in focuser simulator"}};
    case DeviceType::FilterWheel:
      return {{kSimFilterWheelId, "Built-in filter wheel simulator"}};
  }
  return {};
}

std::unique_ptr<ITelescope> SimulatorBackend::CreateTelescope(const std::string& id, DeviceContext& context) {
  Check(id, kSimTelescopeId);
  Bind(context);
  return std::make_unique<SimTelescope>(*world_);
}

std::unique_ptr<ICamera> SimulatorBackend::CreateCamera(const std::string& id, DeviceContext& context) {
  const std::string trimmed(TrimBlanks(id));
  const size_t query = trimmed.find('?');
  Check(trimmed.substr(0, query), kSimCameraId);
  if (query != std::string::npos) ConfigureCamera(trimmed.substr(query + 1), world_->Camera.Config);
  Bind(context);
  return std::make_unique<SimCamera>(*world_);
}

void SimulatorBackend::ConfigureCamera(const std::string& query, CameraConfig& config) {
  // "width=6248&height=4176&pixel=3.76&readout=2.5": a sensor of another size, for trying
  // the station with the frames of a large camera.
  size_t start = 0;
  while (start <= query.size()) {
    const size_t end = std::min(query.find('&', start), query.size());
    const std::string pair = query.substr(start, end - start);
    start = end + 1;
    if (pair.empty()) continue;
    const size_t equals = pair.find('=');
    const std::string key = ToLowerAscii(pair.substr(0, equals));
    const auto parsed = equals == std::string::npos ? std::nullopt : ParseFloat(pair.substr(equals + 1));
    const double value = parsed.value_or(-1);
    if ((key == "width" || key == "height") && value > 0 && value <= 20000 && value == std::floor(value)) {
      (key == "width" ? config.Width : config.Height) = static_cast<int>(value);
    } else if (key == "pixel" && value > 0 && value <= 100) {
      config.PixelSizeUm = value;
    } else if (key == "readout" && value >= 0 && value <= 600) {
      config.FullReadoutSeconds = value;
    } else {
      throw DeviceError("Simulated camera: \"" + pair + "\" is not a width, height, pixel or readout setting");
    }
  }
}

std::unique_ptr<IFocuser> SimulatorBackend::CreateFocuser(const std::string& id, DeviceContext& context) {
  Check(id, kSimFocuserId);
  Bind(context);
  return std::make_unique<SimFocuser>(*world_);
}

std::unique_ptr<IFilterWheel> SimulatorBackend::CreateFilterWheel(const std::string& id, DeviceContext& context) {
  Check(id, kSimFilterWheelId);
  Bind(context);
  return std::make_unique<SimFilterWheel>(*world_);
}

void SimulatorBackend::Check(const std::string& id, const char* expected) {
  if (!EqualsIgnoreCase(TrimBlanks(id), expected)) throw DeviceError("No simulator \"" + id + "\"");
}

void SimulatorBackend::Bind(DeviceContext& context) {
  world_->Clock = &context.Clock;
  world_->Site = context.Site;
}

SimulatorBackend::SimulatorBackend() : world_(std::make_unique<SimWorld>()) {}
SimulatorBackend::~SimulatorBackend() = default;

std::unique_ptr<DeviceBackend> MakeSimulatorBackend() { return std::make_unique<SimulatorBackend>(); }

SimWorld* SimulatedWorld(const DeviceRegistry& registry) {
  auto* backend = dynamic_cast<SimulatorBackend*>(registry.Backend("sim"));
  return backend ? &backend->World() : nullptr;
}

}  // namespace noctarbel
