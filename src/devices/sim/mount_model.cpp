#include "devices/sim/mount_model.h"

#include <algorithm>
#include <cmath>

#include "common/angles.h"
#include "astro/time.h"
#include "astro/transforms.h"
#include "devices/sim/sim_world.h"

namespace noctarbel {

namespace {

// Days since 1899-12-30 to Modified Julian Date.
constexpr double kMjdOfDateTimeZero = 15018.0;

double Clamp01(double x) { return std::clamp(x, 0.0, 1.0); }

double SecondsBetween(DateTime from, DateTime to) { return (to - from) * kSecondsPerDay; }

// Right ascension hours for an offset on the sky at a declination (none at the poles).
double RaHoursForSkyDegrees(double skyDeg, double decDeg) {
  const double c = std::cos(decDeg * kDegToRad);
  return std::abs(c) < 1e-6 ? 0.0 : skyDeg / c / 15.0;
}

// A guide pulse turns the right-ascension axis at the guide rate, as a real mount does: on
// the sky that is the rate times cos(declination), which is why guiding stretches its
// right-ascension pulses by 1 / cos(declination).
double RaHoursForAxisDegrees(double axisDeg) { return axisDeg / 15.0; }

}  // namespace

double WrapHours24(double hours) {
  double h = std::fmod(hours, 24.0);
  if (h < 0) h += 24.0;
  return h >= 24.0 ? 0.0 : h;
}

double WrapHours12(double hours) {
  double h = WrapHours24(hours);
  return h > 12.0 ? h - 24.0 : h;
}

double MountModel::Lst(DateTime utc) const {
  // Continuous in time (the system's own sidereal time drops the milliseconds).
  return LocalMeanSiderealTime(utc + kMjdOfDateTimeZero, world_.Site.LongitudeWestDeg);
}

double MountModel::HaFromAltAz(double azimuth, double altitude, double& decDeg) const {
  // The hour angle does not depend on the time: any sidereal time gives the same answer.
  EquatorialPosition eq = HorizontalToEquatorialAt(azimuth, altitude, 0.0, world_.Site.LatitudeDeg);
  decDeg = eq.Dec;
  return WrapHours12(-eq.Ra / 15.0);
}

void MountModel::EnsurePlaced(DateTime now) {
  if (placed_) return;
  placed_ = true;
  double dec = 0;
  double ha = HaFromAltAz(Config.ParkAzimuth, Config.ParkAltitude, dec);
  tracking_ = false;
  restHa_ = ha;
  restDec_ = dec;
  driftSince_ = now;
  DecidePierSide(ha);
}

namespace {

PierSide SideForHourAngle(double haHours) { return WrapHours12(haHours) >= 0 ? PierSide::East : PierSide::West; }

}  // namespace

void MountModel::DecidePierSide(double haHours) { pierSide_ = SideForHourAngle(haHours); }

void MountModel::NoteTrackingStart(DateTime now) { trackStartHa_ = WrapHours12(RestPosition(now).HaHours); }

void MountModel::StopAtTrackingLimit(DateTime now) {
  if (!tracking_ || slewing_ || Config.TrackingLimitDeg <= 0 || Config.PierSide != PierSideMode::ByHourAngle ||
      pierSide_ != PierSide::West) {
    return;
  }
  // A mount switched on past its limit stops where it stands.
  const double limit = std::max(Config.TrackingLimitDeg / 15.0, trackStartHa_);
  if (WrapHours12(Lst(now) - restRa_) <= limit) return;
  FoldDrift(now);
  tracking_ = false;
  restHa_ = limit;
  stoppedAtLimit_ = true;
}

bool MountModel::StoppedAtLimit() {
  Update(world_.Now());
  return stoppedAtLimit_;
}

PierSide MountModel::DestinationSideOfPier(double raHours, double) {
  const DateTime now = world_.Now();
  Update(now);
  return SideForHourAngle(Lst(now) - (raHours - syncRa_));
}

MountModel::AxisPosition MountModel::RestPosition(DateTime now) const {
  AxisPosition p;
  p.HaHours = tracking_ ? Lst(now) - restRa_ : restHa_;
  p.DecDeg = restDec_;
  return p;
}

void MountModel::SetRest(DateTime now, const AxisPosition& position) {
  restDec_ = std::clamp(position.DecDeg, -90.0, 90.0);
  if (tracking_) {
    restRa_ = WrapHours24(Lst(now) - position.HaHours);
  } else {
    restHa_ = WrapHours12(position.HaHours);
  }
}

double MountModel::PulseOffsetDeg(const Pulse& pulse, DateTime now) const {
  if (pulse.End <= pulse.Start) return 0;
  const double total = SecondsBetween(pulse.Start, pulse.End);
  const double done = std::clamp(SecondsBetween(pulse.Start, now), 0.0, total);
  return pulse.DegPerSecond * done;
}

void MountModel::FoldPulses(DateTime now, bool finishedOnly) {
  for (Pulse* pulse : {&pulseRa_, &pulseDec_}) {
    if (pulse->End <= pulse->Start) continue;
    if (finishedOnly && now < pulse->End) continue;
    const double offset = PulseOffsetDeg(*pulse, now);
    AxisPosition rest = RestPosition(now);
    if (pulse == &pulseRa_) {
      rest.HaHours -= RaHoursForAxisDegrees(offset);
    } else {
      rest.DecDeg += offset;
    }
    SetRest(now, rest);
    *pulse = Pulse{};
  }
}

void MountModel::FoldDrift(DateTime now) {
  if (tracking_ && !slewing_) {
    const double minutes = SecondsBetween(driftSince_, now) / 60.0;
    driftRa_ += Config.DriftRaArcsecPerMin * minutes;
    driftDec_ += Config.DriftDecArcsecPerMin * minutes;
  }
  driftSince_ = now;
}

void MountModel::Update(DateTime now) {
  EnsurePlaced(now);
  if (slewing_ && now >= slewEnd_) {
    slewing_ = false;
    SetRest(slewEnd_, slewTo_);
    DecidePierSide(slewTo_.HaHours);
    NoteTrackingStart(slewEnd_);
    driftSince_ = slewEnd_;
    if (OnArrived) {
      auto arrived = OnArrived;  // the listener may replace itself
      arrived();
    }
  }
  FoldPulses(now, true);
  StopAtTrackingLimit(now);
}

MountModel::AxisPosition MountModel::Mechanical(DateTime now) {
  Update(now);
  AxisPosition p;
  if (slewing_) {
    const double f = Clamp01(SecondsBetween(slewStart_, now) / std::max(1e-9, SecondsBetween(slewStart_, slewEnd_)));
    p.HaHours = slewFrom_.HaHours + (slewTo_.HaHours - slewFrom_.HaHours) * f;
    p.DecDeg = slewFrom_.DecDeg + (slewTo_.DecDeg - slewFrom_.DecDeg) * f;
    return p;
  }
  p = RestPosition(now);
  p.HaHours -= RaHoursForAxisDegrees(PulseOffsetDeg(pulseRa_, now));
  p.DecDeg = std::clamp(p.DecDeg + PulseOffsetDeg(pulseDec_, now), -90.0, 90.0);
  return p;
}

double MountModel::RightAscension() {
  const DateTime now = world_.Now();
  AxisPosition p = Mechanical(now);
  return WrapHours24(Lst(now) - p.HaHours + syncRa_);
}

double MountModel::Declination() {
  AxisPosition p = Mechanical(world_.Now());
  return std::clamp(p.DecDeg + syncDec_, -90.0, 90.0);
}

double MountModel::Azimuth() {
  const DateTime now = world_.Now();
  AxisPosition p = Mechanical(now);
  const double ra = Lst(now) - p.HaHours + syncRa_;
  const double dec = std::clamp(p.DecDeg + syncDec_, -90.0, 90.0);
  return EquatorialToHorizontalAt(ra * 15.0, dec, Lst(now), world_.Site.LatitudeDeg).Azimuth;
}

double MountModel::Altitude() {
  const DateTime now = world_.Now();
  AxisPosition p = Mechanical(now);
  const double ra = Lst(now) - p.HaHours + syncRa_;
  const double dec = std::clamp(p.DecDeg + syncDec_, -90.0, 90.0);
  return EquatorialToHorizontalAt(ra * 15.0, dec, Lst(now), world_.Site.LatitudeDeg).Altitude;
}

PierSide MountModel::SideOfPier() {
  Update(world_.Now());
  switch (Config.PierSide) {
    case PierSideMode::ByHourAngle:
      return pierSide_;
    case PierSideMode::AlwaysEast:
      return PierSide::East;
    case PierSideMode::AlwaysWest:
      return PierSide::West;
    case PierSideMode::Unknown:
      return PierSide::Unknown;
    case PierSideMode::CannotReport:
      break;
  }
  throw DeviceError("SideOfPier is not implemented by this mount");
}

bool MountModel::Slewing() {
  Update(world_.Now());
  return slewing_;
}

bool MountModel::Tracking() {
  Update(world_.Now());
  return tracking_;
}

void MountModel::SetTracking(bool tracking) {
  const DateTime now = world_.Now();
  Update(now);
  if (tracking == tracking_) return;
  FoldDrift(now);
  if (slewing_) {
    // The slew's end position is an axis position and stays one; only the rest changes.
    tracking_ = tracking;
    return;
  }
  AxisPosition rest = RestPosition(now);
  tracking_ = tracking;
  SetRest(now, rest);
  if (tracking) NoteTrackingStart(now);
}

template <typename HourAngleAt>
void MountModel::BeginSlew(HourAngleAt targetHa, double targetDec) {
  const DateTime now = world_.Now();
  AxisPosition from = Mechanical(now);
  pulseRa_ = Pulse{};
  pulseDec_ = Pulse{};
  targetDec = std::clamp(targetDec, -90.0, 90.0);
  // The arrival time depends on the target's hour angle and the other way round; two
  // rounds settle it well below a second.
  double seconds = Config.SettleSeconds;
  double dHa = 0;
  for (int round = 0; round < 3; ++round) {
    const DateTime end = now + seconds / kSecondsPerDay;
    dHa = WrapHours12(targetHa(end) - from.HaHours);
    const double distanceDeg = std::max(std::abs(dHa) * 15.0, std::abs(targetDec - from.DecDeg));
    seconds = distanceDeg / std::max(1e-6, Config.SlewRateDegPerSec) + Config.SettleSeconds;
  }
  slewFrom_ = from;
  slewTo_.HaHours = from.HaHours + dHa;
  slewTo_.DecDeg = targetDec;
  slewStart_ = now;
  slewEnd_ = now + seconds / kSecondsPerDay;
  slewing_ = true;
  stoppedAtLimit_ = false;
  driftRa_ = 0;
  driftDec_ = 0;
}

void MountModel::SlewToCoordinates(double raHours, double decDeg) {
  Journal(SimSlew{false, raHours, decDeg});
  // A goto to a target places the target's star (where the mount was asked to go, not where
  // it will really point), once. A short slew is a relative move (centring, a guiding
  // correction): it must not put a fresh star in the middle of the new frame.
  const double distanceDeg = AngularDistanceDeg(RightAscension(), Declination(), raHours, decDeg);
  const double mechanicalRa = raHours - syncRa_;
  BeginSlew([&](DateTime end) { return Lst(end) - mechanicalRa; }, decDeg - syncDec_);
  SkyModel& sky = world_.Sky;
  if (sky.StarAtSlewTargets && distanceDeg >= sky.RelativeMoveDeg &&
      !sky.HasPlacedStarNear(raHours, decDeg, sky.SameTargetArcsec / 3600.0)) {
    sky.PlaceStar(SimStar{WrapHours24(raHours), decDeg, sky.SlewTargetMagnitude});
  }
}

void MountModel::SlewToAltAz(double azimuth, double altitude) {
  Journal(SimSlew{true, azimuth, altitude});
  double dec = 0;
  const double ha = HaFromAltAz(azimuth, altitude, dec);
  BeginSlew([&](DateTime) { return ha + syncRa_; }, dec - syncDec_);
}

void MountModel::Journal(const SimSlew& slew) {
  slews_.push_back(slew);
  if (slews_.size() > 256) slews_.erase(slews_.begin());
}

void MountModel::Park() {
  SetTracking(false);
  SlewToAltAz(Config.ParkAzimuth, Config.ParkAltitude);
}

void MountModel::StartFindHome() {
  SetTracking(false);
  SlewToAltAz(Config.HomeAzimuth, Config.HomeAltitude);
  slewEnd_ += Config.FindHomeSeconds / kSecondsPerDay;
}

void MountModel::AbortSlew() {
  const DateTime now = world_.Now();
  Update(now);
  if (!slewing_) return;
  AxisPosition here = Mechanical(now);
  slewing_ = false;
  SetRest(now, here);
  DecidePierSide(here.HaHours);
  driftSince_ = now;
}

bool MountModel::PulseGuiding() {
  const DateTime now = world_.Now();
  for (const Pulse* pulse : {&pulseRa_, &pulseDec_}) {
    if (pulse->End > pulse->Start && now < pulse->End) return true;
  }
  return false;
}

void MountModel::PulseGuide(int direction, int milliseconds) {
  const DateTime now = world_.Now();
  Update(now);
  if (direction < kGuideNorth || direction > kGuideWest) throw DeviceError("PulseGuide: invalid direction");
  if (milliseconds < 0) throw DeviceError("PulseGuide: negative duration");
  if (slewing_) throw DeviceError("PulseGuide: the mount is slewing");
  const bool raAxis = direction == kGuideEast || direction == kGuideWest;
  Pulse& pulse = raAxis ? pulseRa_ : pulseDec_;
  // A new pulse on an axis ends the one still running there.
  if (pulse.End > pulse.Start) {
    const double offset = PulseOffsetDeg(pulse, now);
    AxisPosition rest = RestPosition(now);
    if (raAxis) {
      rest.HaHours -= RaHoursForAxisDegrees(offset);
    } else {
      rest.DecDeg += offset;
    }
    SetRest(now, rest);
  }
  const double rate = raAxis ? GuideRateRa : GuideRateDec;
  const bool positive = direction == kGuideNorth || direction == kGuideEast;
  pulse.Start = now;
  pulse.End = now + milliseconds / kMillisecondsPerDay;
  pulse.DegPerSecond = positive ? rate : -rate;
  if (pulses_.size() == 256) pulses_.erase(pulses_.begin());
  pulses_.emplace_back(direction, milliseconds);
  ++pulsesReceived_;
}

void MountModel::SyncToCoordinates(double raHours, double decDeg) {
  const DateTime now = world_.Now();
  AxisPosition p = Mechanical(now);
  syncRa_ = WrapHours12(raHours - (Lst(now) - p.HaHours));
  syncDec_ = decDeg - p.DecDeg;
}

SimPointing MountModel::ActualPointing() {
  const DateTime now = world_.Now();
  AxisPosition p = Mechanical(now);
  FoldDrift(now);
  SimPointing pointing;
  pointing.DecDeg = std::clamp(p.DecDeg + (Config.PointingErrorDecArcsec + driftDec_) / 3600.0, -90.0, 90.0);
  pointing.RaHours = WrapHours24(Lst(now) - p.HaHours +
                                 RaHoursForSkyDegrees((Config.PointingErrorRaArcsec + driftRa_) / 3600.0, p.DecDeg));
  pointing.PierSide = pierSide_;
  return pointing;
}

void MountModel::PlaceAtAltAz(double azimuth, double altitude) {
  const DateTime now = world_.Now();
  EnsurePlaced(now);
  slewing_ = false;
  pulseRa_ = Pulse{};
  pulseDec_ = Pulse{};
  tracking_ = false;
  double dec = 0;
  const double ha = HaFromAltAz(azimuth, altitude, dec);
  restHa_ = ha + syncRa_;
  restDec_ = dec - syncDec_;
  DecidePierSide(restHa_);
  driftSince_ = now;
}

}  // namespace noctarbel
