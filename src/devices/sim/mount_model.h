#pragma once
// The simulated German equatorial mount. Its axes are modelled as an hour angle and a
// declination that move at a settable slew rate; with tracking off the hour angle stands
// still (so the right ascension drifts with the sky), with tracking on the right ascension
// does. It reports positions through a sync offset and points, in truth, with a settable
// pointing error and tracking drift, which the camera sees and centring and guiding correct.

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "common/datetime.h"
#include "devices/device_interfaces.h"

namespace noctarbel {

struct SimWorld;

enum class PierSideMode {
  ByHourAngle,  // decided at the end of every slew: west of the meridian gives east
  AlwaysEast,
  AlwaysWest,
  Unknown,       // reports an unknown side
  CannotReport,  // SideOfPier throws
};

struct MountConfig {
  double SlewRateDegPerSec = 4.0;
  double SettleSeconds = 1.0;  // added to every slew
  double FindHomeSeconds = 5.0;
  int EquatorialSystem = kEquatorialJ2000;
  PierSideMode PierSide = PierSideMode::ByHourAngle;
  // With the pier side by hour angle: on the pier's west side (the tube east of the meridian)
  // the mount tracks this many degrees past the meridian at most, then it stops tracking, as
  // a real mount stops before the tube reaches the pier. 0: no limit.
  double TrackingLimitDeg = 15.0;
  bool CanSetTracking = true;
  bool CanFindHome = true;
  bool CanSetGuideRates = true;
  // What the driver slews to: right ascension and declination, and altitude and azimuth
  // (a mount with neither can still park and search home, which it does by itself).
  bool CanSlew = true;
  bool CanSlewAltAz = true;
  // The driver's own park position and the position its home search ends at.
  double ParkAzimuth = 0;
  double ParkAltitude = 0;
  double HomeAzimuth = 0;
  double HomeAltitude = 0;
  // Where the optics point minus where the mount reports, in arc seconds on the sky.
  double PointingErrorRaArcsec = 0;
  double PointingErrorDecArcsec = 0;
  // Tracking error, arc seconds on the sky per minute of tracking; a slew starts it afresh.
  double DriftRaArcsecPerMin = 0;
  double DriftDecArcsecPerMin = 0;
  // Fault switch: every member of the driver throws.
  bool FailAll = false;
  std::string Description = "Noctarbel mount simulator";
  std::string DriverInfo = "Noctarbel simulator 1.0 (German equatorial mount model)";
};

// A slew the mount was asked for (tests follow a park's path with it).
struct SimSlew {
  bool AltAz = false;
  double First = 0;   // azimuth, or right ascension in hours
  double Second = 0;  // altitude, or declination
};

// Where the optics point, in the mount's frame, and the side of the pier the tube is on.
struct SimPointing {
  double RaHours = 0;
  double DecDeg = 0;
  noctarbel::PierSide PierSide = noctarbel::PierSide::East;
};

class MountModel {
 public:
  explicit MountModel(SimWorld& world) : world_(world) {}
  MountModel(const MountModel&) = delete;
  MountModel& operator=(const MountModel&) = delete;

  MountConfig Config;
  // Told the moment a slew is found ended, inside the driver call that finds it (tests stop
  // an operation exactly there, with no pump between the report and the operation's check).
  std::function<void()> OnArrived;
  double GuideRateRa = 5.0 / 3600.0;  // degrees per second of the right-ascension axis
  double GuideRateDec = 5.0 / 3600.0;

  // What the driver reports.
  double RightAscension();
  double Declination();
  double Azimuth();
  double Altitude();
  noctarbel::PierSide SideOfPier();
  // The side a slew to these coordinates (the reported frame) would end on, as of now.
  noctarbel::PierSide DestinationSideOfPier(double raHours, double decDeg);
  bool Slewing();
  bool Tracking();
  void SetTracking(bool tracking);

  // Start a slew and return at once (positions in the reported frame).
  void SlewToCoordinates(double raHours, double decDeg);
  void SlewToAltAz(double azimuth, double altitude);
  void Park();
  void StartFindHome();
  void AbortSlew();
  void PulseGuide(int direction, int milliseconds);
  void SyncToCoordinates(double raHours, double decDeg);

  // The truth, for the camera.
  SimPointing ActualPointing();
  // Places the mount somewhere at once, tracking off (tests).
  void PlaceAtAltAz(double azimuth, double altitude);
  int SlewsStarted() const { return static_cast<int>(slews_.size()); }
  // Every slew started, oldest first (the last 256).
  const std::vector<SimSlew>& Slews() const { return slews_; }
  int PulsesReceived() const { return pulsesReceived_; }
  // Every guide pulse received, oldest first (the last 256): direction and milliseconds.
  const std::vector<std::pair<int, int>>& Pulses() const { return pulses_; }
  // True while a guide pulse still moves an axis.
  bool PulseGuiding();
  // Tracking stopped at the limit past the meridian (until the next slew).
  bool StoppedAtLimit();

 private:
  struct AxisPosition {
    double HaHours = 0;
    double DecDeg = 0;
  };
  struct Pulse {
    DateTime Start = 0;
    DateTime End = 0;
    double DegPerSecond = 0;  // signed: declination, or the right-ascension axis
  };

  void Update(DateTime now);
  void EnsurePlaced(DateTime now);
  // The mechanical axes at a time (slew interpolation and running pulses included).
  AxisPosition Mechanical(DateTime now);
  AxisPosition RestPosition(DateTime now) const;
  void SetRest(DateTime now, const AxisPosition& position);
  double PulseOffsetDeg(const Pulse& pulse, DateTime now) const;
  void FoldPulses(DateTime now, bool finishedOnly);
  void FoldDrift(DateTime now);
  // Slews the axes to a target hour angle (a function of the arrival time) and declination.
  template <typename HourAngleAt>
  void BeginSlew(HourAngleAt targetHa, double targetDec);
  void DecidePierSide(double haHours);
  // Tracking ends where the tube would pass the limit on the pier's west side.
  void StopAtTrackingLimit(DateTime now);
  // Where the axes stand when tracking starts (after a slew, or switched on).
  void NoteTrackingStart(DateTime now);
  void Journal(const SimSlew& slew);
  double Lst(DateTime utc) const;
  double HaFromAltAz(double azimuth, double altitude, double& decDeg) const;

  SimWorld& world_;
  bool placed_ = false;
  bool tracking_ = false;
  double restRa_ = 0;  // hours, while tracking
  double restHa_ = 0;  // hours, while not tracking
  double restDec_ = 0;
  bool slewing_ = false;
  DateTime slewStart_ = 0;
  DateTime slewEnd_ = 0;
  AxisPosition slewFrom_;
  AxisPosition slewTo_;
  noctarbel::PierSide pierSide_ = noctarbel::PierSide::East;
  double trackStartHa_ = 0;  // hours
  bool stoppedAtLimit_ = false;
  double syncRa_ = 0;  // hours, reported minus mechanical
  double syncDec_ = 0;
  double driftRa_ = 0;  // arc seconds accumulated up to driftSince_
  double driftDec_ = 0;
  DateTime driftSince_ = 0;
  Pulse pulseRa_;
  Pulse pulseDec_;
  std::vector<SimSlew> slews_;
  int pulsesReceived_ = 0;
  std::vector<std::pair<int, int>> pulses_;
};

// Hours into [0, 24) and into (-12, 12].
double WrapHours24(double hours);
double WrapHours12(double hours);

}  // namespace noctarbel
