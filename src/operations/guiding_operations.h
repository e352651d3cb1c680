#pragma once
// Guiding on the images of a series (the guide star, its drift from the reference, the
// pulses that correct it) and the two guiding checks: the test that measures the camera's
// angle from a known pulse in right ascension, and the setup dialog's movement check. Every
// wait runs under the caller's operation context; results are returned and logged, never
// shown in a control.

#include <functional>
#include <optional>
#include <string>

#include "operations/camera_operations.h"
#include "guiding/guide_step.h"
#include "guiding/guiding_test_math.h"
#include "guiding/star_offset.h"

namespace noctarbel {

class OperationContext;
class StationState;
class MountOperations;
class CentringOperations;
class Timgbuffer;

// The viewer's guide marker: the tracking box around the reference star.
struct GuideMarker {
  bool On = false;
  int Box = 0;
  double X = -1;
  double Y = -1;
};

// One exposure of a guiding check and the offset of its brightest star from the centre (the
// station's star offset); nothing when the exposure failed or showed no star.
using StarOffsetSource = std::function<std::optional<StarOffset>(OperationContext&)>;
// Says a text and returns when the operator has read it (nothing is asked when unattended).
using Acknowledge = std::function<void(const std::string&)>;

enum class GuidingCheckEnd {
  Done,
  NotConnected,  // "Telescope not connected"
  NoStar,        // "No star found. Exit."
  TooSmall,      // the star moved too little to tell a direction: "error"
  Interrupted,   // Stop or an emergency
  PulseFailed,   // the mount refused the pulse (the status says why)
};

struct GuidingTestResult {
  GuidingCheckEnd End = GuidingCheckEnd::Done;
  double RaRate = 0;  // guide rates, arc seconds per second
  double DecRate = 0;
  double Dx = 0;  // displacement along the image's axes, arc seconds
  double Dy = 0;
  double Angle = 0;  // degrees, for the camera on the east side of the pier
  int WaitMs = 0;    // the wait before the second exposure
  bool Ok() const { return End == GuidingCheckEnd::Done; }
};

struct MovementCheckResult {
  GuidingCheckEnd End = GuidingCheckEnd::Done;
  MovementCheck Moved;
  bool Ok() const { return End == GuidingCheckEnd::Done; }
};

// The message for a check that did not get done; empty for Done and Interrupted.
std::string GuidingCheckMessage(GuidingCheckEnd end);

class GuidingOperations {
 public:
  // The guided images wait this long after a correction (longer while the pulse runs).
  static constexpr int kSettleMs = 2000;
  // The guiding test and the movement check wait this long after each exposure.
  static constexpr int kAfterExposureMs = 1000;

  GuidingOperations(StationState& state, MountOperations& mount, CentringOperations& centring) : core_(state), mount_(mount), centring_(centring) {}
  GuidingOperations(const GuidingOperations&) = delete;
  GuidingOperations& operator=(const GuidingOperations&) = delete;

  GuideTracker Tracker;
  std::function<void(const GuideMarker&)> OnMarker;

  // The first image of a guided series fixes a new reference star.
  void BeginSeries();
  void Stop();
  // One guided image: the guide star searched where the tracker says, the drift measured
  // (GuideX, GuideY of the station), the log lines, the pulse and the settling wait. The
  // decision's Measured is false when the star was lost; Ended when guiding is over for
  // the series.
  GuideDecision GuideStep(OperationContext& op, const Timgbuffer& image);

  // The guiding test window's rates: set to PulseGuideSpeed when the mount lets them be
  // set; the rates the mount reports (arc seconds per second), or the setting's.
  std::pair<double, double> PrepareGuideRates();
  // The guiding test: an exposure, a pulse of moveArcsec east in right ascension, a wait of
  // one and a half times the pulse, a second exposure; the star's displacement and angle.
  GuidingTestResult RunGuidingTest(OperationContext& op, int moveArcsec, const StarOffsetSource& measure,
                                   const Acknowledge& acknowledge);
  // The setup dialog's movement check: an exposure, centring (the move, the settling and a
  // new exposure), a move of +n in RA and -n in DEC without overcorrection, an exposure.
  MovementCheckResult RunMovementCheck(OperationContext& op, int moveArcsec, const StarOffsetSource& measure,
                                       const Acknowledge& acknowledge);


 private:
  std::optional<StarOffset> Measure(OperationContext& op, const StarOffsetSource& measure);
  bool Pulse(OperationContext& op, double x, double y, int* longestMs);

  StationState& core_;
  MountOperations& mount_;
  CentringOperations& centring_;
  bool ratesSet_ = false;  // the rates were set when the test window was shown
};

}  // namespace noctarbel
