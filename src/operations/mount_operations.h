#pragma once
// The telescope mount's operations: connecting, reading its status, goto with the horizon
// refusal, relative moves, stop, tracking, the two park positions and the home calibration.
// They own the telescope slot's use and its interlocks (no goto or home calibration unless
// the roof is open), report through the station's status and log, and never touch a
// control. Every wait runs under the caller's operation context: an interrupted park or
// slew sends nothing more to the mount.

#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "devices/device_states.h"

namespace noctarbel {

class OperationContext;
class StationState;
class ObservatoryOperations;
class ITelescope;

// The once-a-second status of a connected mount.
struct MountStatus {
  double RightAscension = 0;     // hours
  double Declination = 0;        // degrees
  double Altitude = 0;           // degrees, now
  std::optional<PierSide> Side;  // nothing while the mount cannot report it
  bool Tracking = false;
};

enum class GotoOutcome {
  Sent,          // the slew runs in the mount
  NotConnected,  // nothing sent
  RoofNotOpen,   // nothing sent
  BelowHorizon,  // nothing sent ("Object under horizon")
  Failed,        // a driver error; the reason is in the status
};

// The operator's check before opening the roof by hand.
enum class ParkCheck {
  Ok,
  WrongPierSide,  // "Pierside incorrect, check park position!"
  TooFar,         // "Too large deviation from park position, check!"
  Failed,         // a driver error; the reason is in the status
};

enum class HomeOutcome { Done, NotPossible, NotConnected, RoofNotOpen, Interrupted, Failed };

class MountOperations {
 public:
  MountOperations(StationState& state, ObservatoryOperations& observatory) : core_(state), observatory_(observatory) {}
  MountOperations(const MountOperations&) = delete;
  MountOperations& operator=(const MountOperations&) = delete;

  // Makes the driver named by TelescopeObject and connects it; false with the reason in
  // *error (nothing happens without an identifier).
  bool Connect(std::string* error);
  // Disconnects and empties the slot, also when the driver fails to answer.
  void Disconnect();
  // A filled slot whose driver says it is connected (a driver that fails to answer is not).
  bool Connected();
  bool HasDriver() const;
  // The driver's Description and DriverInfo.
  std::string DriverText();

  // Reads position, altitude, pier side and tracking; nothing when the driver says it is not
  // connected. Throws DeviceError; a pier side that cannot be read clears PierSideAvailable
  // for the rest of the run and is left out.
  std::optional<MountStatus> ReadStatus();

  // The pier side while the mount can tell it (a mount that cannot is not asked again this
  // run); nothing otherwise.
  std::optional<PierSide> ReadPierSide();
  // Where the mount points, azimuth and altitude in degrees. Throws DeviceError.
  std::pair<double, double> AzimuthAltitude();

  // Goto to a J2000 position: refused with the roof not open and below the local horizon;
  // converted to the date for a mount of date; tracking on; returns as soon as the slew runs.
  GotoOutcome GotoJ2000(double raHours, double decDeg);
  // Slews to coordinates in the mount's own frame and waits until it arrives; refused (false)
  // with the roof not open. False when interrupted or the driver fails (the status says why).
  bool SlewAndWait(OperationContext& op, double raHours, double decDeg);
  // Relative move: x along right ascension on the sky, y in declination, both in degrees;
  // waits for the mount. False when not connected, interrupted or failed.
  bool MoveXY(OperationContext& op, double x, double y);
  // Pulse-guides by x, y arc seconds on the sky (right ascension, declination), converted
  // with the guiding settings; nothing without a connected mount. False on a driver error or
  // when the operation may not go on. *longestPulseMs, when given, gets the longest pulse
  // sent (0 for none): whoever measures the move next waits for it.
  bool PulseGuideXY(OperationContext& op, double x, double y, int* longestPulseMs = nullptr);
  // Tells the mount it points at these coordinates (its own frame). False without a
  // connected mount or on a driver error (the status says which).
  bool SyncToCoordinates(double raHours, double decDeg);
  // The side of the pier; nothing when the mount cannot tell.
  std::optional<PierSide> SideOfPier();
  // Sets both guide rates (degrees per second) when the mount lets them be set; false when
  // it does not or fails.
  bool SetGuideRates(double degreesPerSecond);
  // The guide rates in right ascension and declination, degrees per second.
  std::optional<std::pair<double, double>> GuideRates();
  void AbortSlew();
  // Switches tracking when the mount lets it be set.
  void SetTracking(bool on);

  // The park procedures: true when the mount ends within tolerance of the park position.
  // False at once when not connected; false with the status text on a time-out, a position
  // error, an interruption or a driver error.
  bool GotoParkPosition1(OperationContext& op);
  bool GotoParkPosition2(OperationContext& op);
  // True when the mount stands within the verify tolerance of park position 1 now.
  bool AtParkPosition1();
  // The roof's interactive opening approaches park position 1 on its own: tracking off, one
  // slew to its azimuth and altitude, waited for at most 60 s, tracking off. False with the
  // status beginning `refused` when it times out, is interrupted or the driver fails; the
  // caller still checks the position.
  bool ApproachParkPosition1(OperationContext& op, const char* refused);
  // The pier side (when the mount can tell it) must be park position 1's, and the pointing
  // within 0.1 h in right ascension and 1.5 degrees in declination of where park position 1
  // lies on the sky now.
  ParkCheck CheckParkPosition1();
  HomeOutcome HomeCalibration(OperationContext& op);
  // The mount's home search alone (from where it stands), waited for. False on an
  // interruption or a driver error.
  bool FindHome(OperationContext& op);
  // Driver facts the plan run asks for; throw DeviceError.
  bool CanFindHome();
  // The mount takes coordinates of the date (else J2000).
  bool WorksInCoordinatesOfDate();

  // Told when a park begins (the window shows ".." for the position then).
  std::function<void()> OnParkStarted;

 private:
  struct ParkPosition;
  bool GotoPark(OperationContext& op, const ParkPosition& park);
  bool ParkSteps(OperationContext& op, ITelescope& scope, const ParkPosition& park);
  // Waits while the mount slews, pumping; false on an interruption or after limitSteps
  // steps of 100 ms (no limit when 0), with the status saying which.
  bool WaitWhileSlewing(OperationContext& op, ITelescope& scope, int limitSteps);
  // Tracking on, a slew to the position and the wait for it (`what` names the interrupted step).
  bool TrackAndSlewTo(OperationContext& op, ITelescope& scope, double raHours, double decDeg, const char* what);
  bool Interrupted(OperationContext& op, const char* what);
  void ReportFailure(const std::string& what, const std::exception& e);

  StationState& core_;
  ObservatoryOperations& observatory_;
};

// Angle from one azimuth to another, -180 < d <= 180 (0 and 359.9 are 0.1 apart).
double AzimuthDifference(double from, double to);
// An azimuth in [0, 360): 360 reads as 0.
double NormalizeAzimuth(double azimuth);

}  // namespace noctarbel
