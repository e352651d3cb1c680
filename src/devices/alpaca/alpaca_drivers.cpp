#include "devices/alpaca/alpaca_drivers.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <optional>

#include "common/angles.h"
#include "common/runtime.h"
#include "devices/altaz_targets.h"

namespace noctarbel::alpaca {

namespace {

Params One(const char* name, std::string value) { return {{name, std::move(value)}}; }
Params One(const char* name, double value) { return One(name, NumberText(value)); }
Params One(const char* name, int value) { return One(name, std::to_string(value)); }
Params One(const char* name, bool value) { return One(name, std::string(BoolText(value))); }

// Angle between two places on a sphere, longitudes and latitudes in degrees.
double SeparationDeg(double longitude1, double latitude1, double longitude2, double latitude2) {
  const double c =
      SinDeg(latitude1) * SinDeg(latitude2) + CosDeg(latitude1) * CosDeg(latitude2) * CosDeg(longitude1 - longitude2);
  return std::acos(std::clamp(c, -1.0, 1.0)) * kRadToDeg;
}

double WrapHours24(double hours) {
  const double h = std::fmod(hours, 24.0);
  return h < 0 ? h + 24.0 : (h >= 24.0 ? 0.0 : h);
}

double WrapHours12(double hours) {
  const double h = WrapHours24(hours);
  return h > 12.0 ? h - 24.0 : h;
}

class AlpacaTelescope : public ITelescope {
 public:
  AlpacaTelescope(const DeviceAddress& address, const Timeouts& timeouts, StationFrame frame)
      : c_(address, timeouts), frame_(frame) {}

  bool Connected() override { return c_.GetBool("connected"); }
  void SetConnected(bool connected) override {
    goal_.reset();
    c_.Put("connected", One("Connected", connected));
    if (connected) RefuseIfItCannotSlew();
  }
  std::string Description() override { return c_.GetString("description"); }
  std::string DriverInfo() override { return c_.GetString("driverinfo"); }

  double RightAscension() override { return c_.GetDouble("rightascension"); }
  double Declination() override { return c_.GetDouble("declination"); }
  double Azimuth() override { return c_.GetDouble("azimuth"); }
  double Altitude() override { return c_.GetDouble("altitude"); }
  PierSide SideOfPier() override { return PierSideFromInt(c_.GetInt("sideofpier")); }
  bool Slewing() override {
    const bool slewing = c_.GetBool("slewing");
    if (slewing || !goal_) return slewing;
    return ContinueTowardsGoal();
  }
  bool Tracking() override { return c_.GetBool("tracking"); }
  void SetTracking(bool tracking) override {
    goal_.reset();
    c_.Put("tracking", One("Tracking", tracking));
  }
  bool CanSetTracking() override { return c_.GetBool("cansettracking"); }
  bool CanFindHome() override { return c_.GetBool("canfindhome"); }
  int EquatorialSystem() override { return c_.GetInt("equatorialsystem"); }

  void SetTargetRightAscension(double hours) override {
    c_.Put("targetrightascension", One("TargetRightAscension", hours));
  }
  void SetTargetDeclination(double degrees) override { c_.Put("targetdeclination", One("TargetDeclination", degrees)); }
  double GuideRateRightAscension() override { return c_.GetDouble("guideraterightascension"); }
  void SetGuideRateRightAscension(double rate) override {
    c_.Put("guideraterightascension", One("GuideRateRightAscension", rate));
  }
  double GuideRateDeclination() override { return c_.GetDouble("guideratedeclination"); }
  void SetGuideRateDeclination(double rate) override {
    c_.Put("guideratedeclination", One("GuideRateDeclination", rate));
  }
  bool CanSetGuideRates() override { return c_.GetBool("cansetguiderates"); }

  // The device's synchronous slew, under the same time-out as every call: a slew that takes
  // longer ends in DeviceError. The station itself slews asynchronously and waits outside.
  void SlewToTarget() override {
    goal_.reset();
    LeavePark();
    Track(true);
    c_.Put("slewtotarget");
  }
  void SlewToTargetAsync() override {
    goal_.reset();
    LeavePark();
    Track(true);
    c_.Put("slewtotargetasync");
  }
  // A mount without alt/az slews gets the equivalent coordinates of the date, as an INDI
  // mount does; Slewing() then brings it the rest of the way (see ContinueTowardsGoal).
  void SlewToAltAz(double azimuth, double altitude) override {
    goal_.reset();
    LeavePark();
    if (Capability("canslewaltazasync")) {
      Track(false);
      c_.Put("slewtoaltazasync", {{"Azimuth", NumberText(azimuth)}, {"Altitude", NumberText(altitude)}});
      return;
    }
    if (!AltAzInRange(azimuth, altitude)) throw Failure("SlewToAltAz: position out of range");
    if (!frame_.Clock) throw Failure("the mount has no alt/az slews, and the station's clock and site are unknown");
    goal_ = AltAzGoal{azimuth, altitude, kCorrections};
    Track(true);
    const DateTime now = frame_.Clock->UtcNow();
    SlewTo(InMountsEquinox(EquatorialForAltAz(azimuth, altitude, now, frame_.Site), now));
  }
  void Park() override {
    goal_.reset();
    c_.Put("park");
  }
  void FindHome() override {
    goal_.reset();
    LeavePark();
    c_.Put("findhome");
  }
  void AbortSlew() override {
    goal_.reset();
    c_.Put("abortslew");
  }
  void PulseGuide(int direction, int milliseconds) override {
    c_.Put("pulseguide", {{"Direction", std::to_string(direction)}, {"Duration", std::to_string(milliseconds)}});
  }
  void SyncToCoordinates(double raHours, double decDeg) override {
    goal_.reset();
    LeavePark();
    c_.Put("synctocoordinates", {{"RightAscension", NumberText(raHours)}, {"Declination", NumberText(decDeg)}});
  }

 private:
  // The station treats a park as a position it later slews away from, while an Alpaca mount
  // refuses to move until it is unparked: whatever moves the mount unparks it first.
  void LeavePark() {
    bool parked = false;
    try {
      parked = c_.GetBool("atpark");
    } catch (const AlpacaError&) {
      return;  // a mount that cannot tell has no park state to leave
    }
    if (parked) c_.Put("unpark");
  }

  // The device API refuses a slew to coordinates while the mount does not track, and one to
  // alt/az while it does: the mount is switched as the slew needs. A mount whose tracking
  // cannot be switched, or that cannot tell, is left to answer the slew itself.
  void Track(bool on) {
    try {
      if (c_.GetBool("tracking") == on || !c_.GetBool("cansettracking")) return;
    } catch (const AlpacaError&) {
      return;
    }
    c_.Put("tracking", One("Tracking", on));
  }

  // A capability the device does not implement counts as absent.
  bool Capability(const char* member) {
    try {
      return c_.GetBool(member);
    } catch (const AlpacaError& e) {
      if (e.NotImplemented()) return false;
      throw;
    }
  }

  // Every slew the station makes, parks included, needs one kind or the other.
  void RefuseIfItCannotSlew() {
    if (Capability("canslewasync") || Capability("canslewaltazasync")) return;
    try {
      c_.Put("connected", One("Connected", false));
    } catch (const DeviceError&) {
      // Refused all the same.
    }
    throw Failure(
        "the mount cannot slew (neither CanSlewAsync nor CanSlewAltAzAsync), so the station could "
        "neither point nor park it");
  }

  DeviceError Failure(const std::string& why) const { return DeviceError(c_.Address().Identifier() + ": " + why); }

  // An alt/az position reached by coordinates. Where the mount arrives is off by what it
  // tracked while it slewed, and by whatever its own frame differs in from the station's
  // transform (its equinox, its model of the sky): while the mount's own altitude and
  // azimuth lie farther than kArrivedDeg from the position, it is sent on by the way left
  // (at most kCorrections times); then tracking stops, and it stands at the position as
  // after an alt/az slew.
  struct AltAzGoal {
    double Azimuth = 0;
    double Altitude = 0;
    int CorrectionsLeft = 0;
  };
  static constexpr int kCorrections = 2;
  static constexpr double kArrivedDeg = 0.05;

  // Coordinates of the date as the mount takes them: those of J2000 unless it works in
  // coordinates of the date, as the station's gotos assume.
  EquatorialTarget InMountsEquinox(const EquatorialTarget& ofDate, DateTime utc) {
    int system = kEquatorialOfDate;
    try {
      system = c_.GetInt("equatorialsystem");
    } catch (const AlpacaError&) {
      // A mount that cannot tell is taken to work in coordinates of the date.
    }
    if (system == kEquatorialOfDate) return ofDate;
    const EquatorialPosition j2000 = DateToJ2000(ofDate.RaHours, ofDate.DecDeg, JulianCenturiesSince2000(utc));
    return {WrapHours24(j2000.Ra), j2000.Dec};
  }

  void SlewTo(const EquatorialTarget& target) {
    c_.Put("targetrightascension", One("TargetRightAscension", target.RaHours));
    c_.Put("targetdeclination", One("TargetDeclination", std::clamp(target.DecDeg, -90.0, 90.0)));
    c_.Put("slewtotargetasync");
  }

  // Called when the mount has stopped: true while it still has a way to go.
  bool ContinueTowardsGoal() {
    const AltAzGoal goal = *goal_;
    const double azimuth = c_.GetDouble("azimuth");
    const double altitude = c_.GetDouble("altitude");
    if (goal.CorrectionsLeft > 0 && SeparationDeg(azimuth, altitude, goal.Azimuth, goal.Altitude) > kArrivedDeg) {
      --goal_->CorrectionsLeft;
      // The way left, in the station's transform, added to the mount's own coordinates.
      const DateTime now = frame_.Clock->UtcNow();
      const EquatorialTarget here = EquatorialForAltAz(azimuth, altitude, now, frame_.Site);
      const EquatorialTarget there = EquatorialForAltAz(goal.Azimuth, goal.Altitude, now, frame_.Site);
      SlewTo({WrapHours24(c_.GetDouble("rightascension") + WrapHours12(there.RaHours - here.RaHours)),
              c_.GetDouble("declination") + there.DecDeg - here.DecDeg});
      return true;
    }
    goal_.reset();
    Track(false);
    return false;
  }

  DeviceClient c_;
  StationFrame frame_;
  std::optional<AltAzGoal> goal_;
};

class AlpacaCamera : public ICamera {
 public:
  AlpacaCamera(const DeviceAddress& address, const Timeouts& timeouts) : c_(address, timeouts) {}
  ~AlpacaCamera() override { Dispose(); }

  bool Connected() override { return c_.GetBool("connected"); }
  void SetConnected(bool connected) override { c_.Put("connected", One("Connected", connected)); }
  int CameraXSize() override { return c_.GetInt("cameraxsize"); }
  int CameraYSize() override { return c_.GetInt("cameraysize"); }
  int MaxBinX() override { return c_.GetInt("maxbinx"); }
  bool CanSetCCDTemperature() override { return c_.GetBool("cansetccdtemperature"); }
  double CCDTemperature() override { return c_.GetDouble("ccdtemperature"); }
  double CoolerPower() override { return c_.GetDouble("coolerpower"); }
  int Gain() override { return c_.GetInt("gain"); }
  std::string Name() override { return c_.GetString("name"); }
  std::string Description() override { return c_.GetString("description"); }
  std::string DriverVersion() override { return c_.GetString("driverversion"); }
  std::string SensorName() override { return c_.GetString("sensorname"); }
  int SensorType() override { return c_.GetInt("sensortype"); }
  double PixelSizeX() override { return c_.GetDouble("pixelsizex"); }
  double PixelSizeY() override { return c_.GetDouble("pixelsizey"); }
  double ElectronsPerAdu() override { return c_.GetDouble("electronsperadu"); }
  int MaxADU() override { return c_.GetInt("maxadu"); }

  bool CoolerOn() override { return c_.GetBool("cooleron"); }
  void SetCoolerOn(bool on) override { c_.Put("cooleron", One("CoolerOn", on)); }
  int BinX() override { return c_.GetInt("binx"); }
  void SetBinX(int bin) override { c_.Put("binx", One("BinX", bin)); }
  int BinY() override { return c_.GetInt("biny"); }
  void SetBinY(int bin) override { c_.Put("biny", One("BinY", bin)); }
  int StartX() override { return c_.GetInt("startx"); }
  void SetStartX(int x) override { c_.Put("startx", One("StartX", x)); }
  int StartY() override { return c_.GetInt("starty"); }
  void SetStartY(int y) override { c_.Put("starty", One("StartY", y)); }
  int NumX() override { return c_.GetInt("numx"); }
  void SetNumX(int width) override { c_.Put("numx", One("NumX", width)); }
  int NumY() override { return c_.GetInt("numy"); }
  void SetNumY(int height) override { c_.Put("numy", One("NumY", height)); }
  void SetCCDTemperature(double celsius) override { c_.Put("setccdtemperature", One("SetCCDTemperature", celsius)); }

  void StartExposure(double seconds, bool light) override {
    DropDownload();
    c_.Put("startexposure", {{"Duration", NumberText(seconds)}, {"Light", BoolText(light)}});
  }
  void StopExposure() override { c_.Put("stopexposure"); }

  // Ready once the frame is here: the camera's own ImageReady starts the download on a
  // thread of its own, so the station's timers keep running however long the frame takes.
  bool ImageReady() override {
    if (download_.valid()) return Arrived(std::chrono::milliseconds(0));
    if (!c_.GetBool("imageready")) return false;
    abandon_ = false;
    download_ = std::async(std::launch::async, [this] { return c_.GetImageArray(&abandon_); });
    // On a quick link the frame is here within a moment; otherwise a later call says so.
    return Arrived(std::chrono::milliseconds(std::min(c_.Limits().ReadMs, kReadyWaitMs)));
  }
  // The downloaded frame (waiting for it if it is still on its way), else fetched now.
  ImageArrayData ImageArray() override {
    if (!download_.valid()) return c_.GetImageArray();
    auto download = std::move(download_);
    return download.get();
  }
  void Dispose() override { DropDownload(); }

 private:
  static constexpr int kReadyWaitMs = 1000;

  bool Arrived(std::chrono::milliseconds wait) { return download_.wait_for(wait) == std::future_status::ready; }
  // A frame nobody will ask for: its transfer ends at the next piece that arrives (or the
  // read time-out), and it is forgotten.
  void DropDownload() {
    if (!download_.valid()) return;
    abandon_ = true;
    download_.wait();
    download_ = {};
  }

  DeviceClient c_;  // makes every request on a connection of its own, so the download may share it
  std::atomic<bool> abandon_{false};
  std::future<ImageArrayData> download_;
};

class AlpacaFocuser : public IFocuser {
 public:
  AlpacaFocuser(const DeviceAddress& address, const Timeouts& timeouts) : c_(address, timeouts) {}

  bool Link() override { return c_.GetBool("connected"); }
  void SetLink(bool link) override { c_.Put("connected", One("Connected", link)); }
  int Position() override { return c_.GetInt("position"); }
  bool Absolute() override { return c_.GetBool("absolute"); }
  // The device reports degrees Celsius; the station counts in half kelvins.
  double Temperature() override { return (c_.GetDouble("temperature") + 273.0) * 2.0; }
  void Move(int value) override { c_.Put("move", One("Position", value)); }

 private:
  DeviceClient c_;
};

class AlpacaFilterWheel : public IFilterWheel {
 public:
  AlpacaFilterWheel(const DeviceAddress& address, const Timeouts& timeouts) : c_(address, timeouts) {}

  bool Connected() override { return c_.GetBool("connected"); }
  void SetConnected(bool connected) override { c_.Put("connected", One("Connected", connected)); }
  std::vector<std::string> Names() override { return c_.GetStrings("names"); }
  std::vector<int> FocusOffsets() override { return c_.GetInts("focusoffsets"); }
  int Position() override { return c_.GetInt("position"); }
  void SetPosition(int slot) override { c_.Put("position", One("Position", slot)); }

 private:
  DeviceClient c_;
};

}  // namespace

std::unique_ptr<ITelescope> MakeTelescope(const DeviceAddress& address, const Timeouts& timeouts, StationFrame frame) {
  return std::make_unique<AlpacaTelescope>(address, timeouts, frame);
}

std::unique_ptr<ICamera> MakeCamera(const DeviceAddress& address, const Timeouts& timeouts) {
  return std::make_unique<AlpacaCamera>(address, timeouts);
}

std::unique_ptr<IFocuser> MakeFocuser(const DeviceAddress& address, const Timeouts& timeouts) {
  return std::make_unique<AlpacaFocuser>(address, timeouts);
}

std::unique_ptr<IFilterWheel> MakeFilterWheel(const DeviceAddress& address, const Timeouts& timeouts) {
  return std::make_unique<AlpacaFilterWheel>(address, timeouts);
}

}  // namespace noctarbel::alpaca
