// The INDI mount. It works in equatorial coordinates of the date (EQUATORIAL_EOD_COORD);
// alt/az positions are the station's own transform of those for its site and clock, so park
// positions and horizon checks agree with the station whatever the mount knows of alt/az.

#include <cmath>
#include <optional>

#include "astro/transforms.h"
#include "common/angles.h"
#include "common/number_text.h"
#include "common/runtime.h"
#include "devices/altaz_targets.h"
#include "devices/indi/indi_device.h"
#include "devices/indi/indi_devices.h"

namespace noctarbel {

namespace {

constexpr const char* kCoordinates = "EQUATORIAL_EOD_COORD";
constexpr const char* kCoordinateMode = "ON_COORD_SET";
constexpr const char* kPark = "TELESCOPE_PARK";
constexpr const char* kTrackState = "TELESCOPE_TRACK_STATE";
constexpr const char* kPierSide = "TELESCOPE_PIER_SIDE";
constexpr const char* kGuideRate = "GUIDE_RATE";
constexpr const char* kSite = "GEOGRAPHIC_COORD";
// The sidereal rate in degrees per second: guide rates are multiples of it in INDI.
constexpr double kSiderealDegPerSecond = 360.0 / 86164.0905;
// A mount that answers a goto without ever reporting Busy counts as arrived within this.
constexpr double kArrivedDeg = 1.0 / 60.0;
// A sync is confirmed when the mount reports the synced position within this.
constexpr double kSyncedDeg = 0.01;

// Angle between two equatorial positions in degrees (hours, degrees).
double Separation(double ra1, double dec1, double ra2, double dec2) {
  const double c = SinDeg(dec1) * SinDeg(dec2) + CosDeg(dec1) * CosDeg(dec2) * CosDeg((ra1 - ra2) * 15.0);
  return std::acos(std::clamp(c, -1.0, 1.0)) * kRadToDeg;
}

class IndiTelescope : public ITelescope {
 public:
  IndiTelescope(const IndiDeviceAddress& address, const DeviceContext& context)
      : device_(address, kIndiTelescopeInterface, "telescope", {{kCoordinates}}),
        clock_(&context.Clock),
        site_(context.Site) {}

  bool Connected() override { return device_.Connected(); }
  void SetConnected(bool connected) override {
    if (!connected) return device_.SetConnected(false);
    const bool wasConnected = device_.Connected();
    device_.SetConnected(true);
    RefuseIfItCannotSlew();
    TellSite();
    // A driver that has just connected reports its position at its next poll; until then
    // the property holds its defaults, and a relative move would start from them.
    if (!wasConnected)
      device_.Client().WaitForUpdate(device_.Name(), kCoordinates, device_.Client().Timeouts().AnswerMs);
  }
  std::string Description() override { return device_.Name(); }
  std::string DriverInfo() override { return device_.DriverInfo(); }

  double RightAscension() override { return device_.Number(kCoordinates, "RA"); }
  double Declination() override { return device_.Number(kCoordinates, "DEC"); }
  double Azimuth() override { return Horizontal().Azimuth; }
  double Altitude() override { return Horizontal().Altitude; }
  PierSide SideOfPier() override {
    auto side = device_.Find(kPierSide);
    if (!side) throw device_.Error("the mount does not report its pier side");
    const IndiElement* east = side->Element("PIER_EAST");
    const IndiElement* west = side->Element("PIER_WEST");
    if (east && east->On) return PierSide::East;
    if (west && west->On) return PierSide::West;
    return PierSide::Unknown;
  }
  bool Slewing() override {
    if (device_.Get(kCoordinates).State == IndiState::Busy) return true;
    auto park = device_.Find(kPark);
    return park && park->State == IndiState::Busy;
  }
  bool Tracking() override {
    if (Parked()) return false;
    auto track = device_.Find(kTrackState);
    if (!track) return device_.Get(kCoordinates).State == IndiState::Ok;  // INDI's meaning of Ok
    const IndiElement* on = track->Element("TRACK_ON");
    return on && on->On;
  }
  void SetTracking(bool tracking) override {
    auto track = device_.Find(kTrackState);
    if (!track || !track->Writable) throw device_.Error("tracking cannot be set on this mount");
    if (Parked()) {
      if (!tracking) return;  // a parked mount does not track
      Unpark();
    }
    if (Tracking() == tracking) return;
    device_.SetSwitches(kTrackState, {{"TRACK_ON", tracking}, {"TRACK_OFF", !tracking}},
                        [tracking](const IndiProperty& p) {
                          if (p.State == IndiState::Alert) return IndiVerdict::Refused;
                          const IndiElement* on = p.Element("TRACK_ON");
                          return on && on->On == tracking ? IndiVerdict::Done : IndiVerdict::Wait;
                        });
  }
  bool CanSetTracking() override {
    auto track = device_.Find(kTrackState);
    return track && track->Writable;
  }
  bool CanFindHome() override { return device_.Get(kCoordinates), false; }
  int EquatorialSystem() override { return device_.Get(kCoordinates), kEquatorialOfDate; }

  void SetTargetRightAscension(double hours) override {
    device_.Get(kCoordinates);
    if (!(hours >= 0 && hours < 24)) throw device_.Error("TargetRightAscension out of range: " + FormatGeneral(hours));
    targetRa_ = hours;
  }
  void SetTargetDeclination(double degrees) override {
    device_.Get(kCoordinates);
    if (!(degrees >= -90 && degrees <= 90)) {
      throw device_.Error("TargetDeclination out of range: " + FormatGeneral(degrees));
    }
    targetDec_ = degrees;
  }
  double GuideRateRightAscension() override { return GuideRate("GUIDE_RATE_WE"); }
  void SetGuideRateRightAscension(double degreesPerSecond) override { SetGuideRate("GUIDE_RATE_WE", degreesPerSecond); }
  double GuideRateDeclination() override { return GuideRate("GUIDE_RATE_NS"); }
  void SetGuideRateDeclination(double degreesPerSecond) override { SetGuideRate("GUIDE_RATE_NS", degreesPerSecond); }
  bool CanSetGuideRates() override {
    auto rate = device_.Find(kGuideRate);
    return rate && rate->Writable;
  }

  // A slew that returned only on arrival would hold the station's thread, timers and rain
  // emergency included, for the whole slew: refused, the station slews asynchronously.
  void SlewToTarget() override {
    throw device_.Error("SlewToTarget is not offered (it would block the station): use SlewToTargetAsync");
  }
  void SlewToTargetAsync() override {
    device_.Get(kCoordinates);
    if (!targetRa_ || !targetDec_) throw device_.Error("Slew: target not set");
    Goto(*targetRa_, *targetDec_);
  }
  void SlewToAltAz(double azimuth, double altitude) override {
    device_.Get(kCoordinates);
    if (!AltAzInRange(azimuth, altitude)) throw device_.Error("SlewToAltAz: position out of range");
    const EquatorialTarget target = EquatorialForAltAz(azimuth, altitude, clock_->UtcNow(), site_);
    Goto(target.RaHours, target.DecDeg);
  }
  void Park() override {
    if (!device_.Find(kPark)) throw device_.Error("the mount cannot park");
    if (Parked()) return;
    device_.SetSwitches(kPark, {{"PARK", true}, {"UNPARK", false}}, [](const IndiProperty& p) {
      if (p.State == IndiState::Alert) return IndiVerdict::Refused;
      const IndiElement* park = p.Element("PARK");
      return p.State == IndiState::Busy || (park && park->On) ? IndiVerdict::Done : IndiVerdict::Wait;
    });
  }
  void FindHome() override { throw device_.Error("FindHome: this mount has no home search (CanFindHome is false)"); }
  void AbortSlew() override { device_.SetSwitches("TELESCOPE_ABORT_MOTION", {{"ABORT", true}}, IndiAnswered); }
  void PulseGuide(int direction, int milliseconds) override {
    if (direction < kGuideNorth || direction > kGuideWest) {
      throw device_.Error("PulseGuide: direction " + std::to_string(direction) + " is not 0..3");
    }
    if (milliseconds < 0) throw device_.Error("PulseGuide: negative duration");
    if (Parked()) throw device_.Error("PulseGuide: the mount is parked");
    if (milliseconds == 0) return;
    const bool declination = direction == kGuideNorth || direction == kGuideSouth;
    const std::string property = declination ? "TELESCOPE_TIMED_GUIDE_NS" : "TELESCOPE_TIMED_GUIDE_WE";
    const IndiProperty guide = device_.Get(property);
    const double ms = milliseconds;
    const IndiNumbers values = declination ? IndiNumbers{{"TIMED_GUIDE_N", direction == kGuideNorth ? ms : 0},
                                                         {"TIMED_GUIDE_S", direction == kGuideSouth ? ms : 0}}
                                           : IndiNumbers{{"TIMED_GUIDE_W", direction == kGuideWest ? ms : 0},
                                                         {"TIMED_GUIDE_E", direction == kGuideEast ? ms : 0}};
    for (const auto& [name, value] : values) {
      const IndiElement* element = guide.Element(name);
      if (!element) throw device_.Error(property + " has no element " + name);
      if (element->Max > element->Min && value > element->Max) {
        throw device_.Error("PulseGuide: " + std::to_string(milliseconds) + " ms is longer than the mount's " +
                            FormatGeneral(element->Max) + " ms");
      }
    }
    device_.SetNumbers(property, values, IndiAnswered);
  }
  void SyncToCoordinates(double ra, double dec) override {
    device_.Get(kCoordinates);
    if (!(ra >= 0 && ra < 24) || !(dec >= -90 && dec <= 90)) throw device_.Error("SyncToCoordinates: out of range");
    if (Parked()) throw device_.Error("SyncToCoordinates: the mount is parked");
    const std::string before = CoordinateMode();
    SetCoordinateMode("SYNC");
    const bool synced = device_.TrySetNumbers(
        kCoordinates, {{"RA", ra}, {"DEC", dec}},
        [ra, dec](const IndiProperty& p) {
          if (p.State == IndiState::Alert) return IndiVerdict::Refused;
          const IndiElement* r = p.Element("RA");
          const IndiElement* d = p.Element("DEC");
          return r && d && Separation(r->Number, d->Number, ra, dec) < kSyncedDeg ? IndiVerdict::Done
                                                                                  : IndiVerdict::Wait;
        },
        device_.Client().Timeouts().AnswerMs);
    // A later goto from anyone must not become a sync.
    if (!before.empty() && before != "SYNC") SetCoordinateMode(before);
    if (!synced) throw device_.NoAnswer(std::string(kCoordinates) + " (sync)");
  }

 private:
  HorizontalPosition Horizontal() {
    const double ra = RightAscension();
    const double dec = Declination();
    return EquatorialToHorizontal(ra * 15.0, dec, clock_->UtcNow(), site_);
  }

  bool Parked() {
    auto park = device_.Find(kPark);
    if (!park) return false;
    const IndiElement* parked = park->Element("PARK");
    return parked && parked->On && park->State != IndiState::Busy;
  }

  // The station has no Unpark: a mount parked by its driver is unparked by the next command
  // that moves it. The station's interlocks (roof open, horizon) decide before that.
  void Unpark() {
    device_.SetSwitches(kPark, {{"PARK", false}, {"UNPARK", true}}, [](const IndiProperty& p) {
      if (p.State == IndiState::Alert) return IndiVerdict::Refused;
      const IndiElement* unpark = p.Element("UNPARK");
      return unpark && unpark->On && p.State != IndiState::Busy ? IndiVerdict::Done : IndiVerdict::Wait;
    });
  }

  std::string CoordinateMode() {
    auto mode = device_.Find(kCoordinateMode);
    if (!mode) return {};
    for (const auto& element : mode->Elements) {
      if (element.On) return element.Name;
    }
    return {};
  }

  void SetCoordinateMode(const std::string& wanted) {
    auto mode = device_.Find(kCoordinateMode);
    if (!mode) {
      if (wanted == "SYNC") throw device_.Error("the mount cannot sync (no ON_COORD_SET)");
      return;
    }
    if (CoordinateMode() == wanted) return;
    IndiSwitches states;
    for (const auto& element : mode->Elements) states.emplace_back(element.Name, element.Name == wanted);
    device_.SetSwitches(kCoordinateMode, states, [wanted](const IndiProperty& p) {
      if (p.State == IndiState::Alert) return IndiVerdict::Refused;
      const IndiElement* on = p.Element(wanted);
      return on && on->On ? IndiVerdict::Done : IndiVerdict::Wait;
    });
  }

  // Starts a slew to coordinates of the date; returns once the mount reports it slewing.
  void Goto(double raHours, double decDeg) {
    if (Parked()) Unpark();
    SetCoordinateMode(Tracking() ? "TRACK" : "SLEW");
    // Periodic position reports (Ok, Idle) may come before the answer: only Busy tells that
    // this goto runs.
    const bool started = device_.TrySetNumbers(
        kCoordinates, {{"RA", raHours}, {"DEC", decDeg}},
        [](const IndiProperty& p) {
          if (p.State == IndiState::Alert) return IndiVerdict::Refused;
          return p.State == IndiState::Busy ? IndiVerdict::Done : IndiVerdict::Wait;
        },
        device_.Client().Timeouts().AnswerMs);
    if (started) return;
    if (Separation(RightAscension(), Declination(), raHours, decDeg) < kArrivedDeg) return;
    const std::string message = device_.Client().LastMessage(device_.Name());
    throw device_.Error("the mount did not start the slew" + (message.empty() ? "" : ": " + message));
  }

  double GuideRate(const std::string& element) {
    auto rate = device_.Find(kGuideRate);
    if (!rate) throw device_.Error("the mount reports no guide rate");
    const IndiElement* e = rate->Element(element);
    if (!e) throw device_.Error(std::string(kGuideRate) + " has no element " + element);
    return e->Number * kSiderealDegPerSecond;
  }

  void SetGuideRate(const std::string& element, double degreesPerSecond) {
    auto rate = device_.Find(kGuideRate);
    if (!rate || !rate->Writable) throw device_.Error("guide rates cannot be set on this mount");
    const double multiple = degreesPerSecond / kSiderealDegPerSecond;
    IndiNumbers values;
    for (const auto& e : rate->Elements) {
      const double value = e.Name == element ? multiple : e.Number;
      if (e.Name == element && e.Max > e.Min && (value < e.Min || value > e.Max)) {
        throw device_.Error("guide rate " + FormatGeneral(degreesPerSecond) + " deg/s (" + FormatGeneral(multiple, 4) +
                            " x sidereal) is outside " + FormatGeneral(e.Min) + ".." + FormatGeneral(e.Max) +
                            " x sidereal");
      }
      values.emplace_back(e.Name, value);
    }
    device_.SetNumbers(kGuideRate, values, IndiCompleted);
  }

  // Every slew, parks by the station included, goes to coordinates of the date: a mount that
  // only reports them could be neither pointed nor parked.
  void RefuseIfItCannotSlew() {
    if (device_.Get(kCoordinates).Writable) return;
    try {
      device_.SetConnected(false);
    } catch (const DeviceError&) {
      // Refused all the same.
    }
    throw device_.Error("the mount cannot slew (" + std::string(kCoordinates) +
                        " is read-only), so the station could neither point nor park it");
  }

  // The mount's pier side and limits follow from its site: it gets the station's.
  void TellSite() {
    auto site = device_.Find(kSite);
    if (!site || !site->Writable) return;
    const IndiElement* lat = site->Element("LAT");
    const IndiElement* lon = site->Element("LONG");
    const IndiElement* elev = site->Element("ELEV");
    if (!lat || !lon) return;
    double east = std::fmod(360.0 - site_.LongitudeWestDeg, 360.0);
    if (east < 0) east += 360.0;
    if (std::abs(lat->Number - site_.LatitudeDeg) < 1e-6 && std::abs(lon->Number - east) < 1e-6) return;
    IndiNumbers values{{"LAT", site_.LatitudeDeg}, {"LONG", east}};
    if (elev) values.emplace_back("ELEV", elev->Number);
    device_.SetNumbers(kSite, values, IndiCompleted);
  }

  IndiDevice device_;
  Runtime* clock_;
  SiteLocation site_;
  std::optional<double> targetRa_;
  std::optional<double> targetDec_;
};

}  // namespace

std::unique_ptr<ITelescope> MakeIndiTelescope(const IndiDeviceAddress& address, const DeviceContext& context) {
  return std::make_unique<IndiTelescope>(address, context);
}

}  // namespace noctarbel
