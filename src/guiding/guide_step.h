#pragma once
// Layer guiding: pure algorithms over measurements (guide step, pulse plan, guiding-test
// angle, star offset, centring move, autofocus jump, V-line fit). Uses common, astro and
// imaging; no devices, no station.
//
// One step of guiding on the images of a series. The first image fixes a reference star;
// every later one measures how far the star has drifted from it and decides the correction.
// Free of devices: the caller searches the guide star where Search() says, hands the result
// in, and carries out the decision (log lines, status, the pulse, the viewer's marker, the
// settling wait).

#include <string>
#include <vector>

#include "imaging/guide_star.h"

namespace noctarbel {

enum class GuidingState : int {
  Off = 0,      // no guiding
  Acquire = 1,  // the next image fixes the reference star
  Track = 2,    // later images are measured against it
};

// Where FindGuideStar looks: the whole image in tiles (x0 = y0 = 0) or a box around a point.
struct GuideSearch {
  int X0 = 0;
  int Y0 = 0;
  int R = 0;
};

// The scale of the image being guided on.
struct GuideScale {
  double ArcsecX = 1.5;  // per unbinned pixel
  double ArcsecY = 1.5;
  int BinX = 1;
  int BinY = 1;
};

struct GuideDecision {
  bool Measured = false;         // the star was measured on this image
  bool Ended = false;            // the drift left the box: guiding is over for the series
  std::vector<std::string> Log;  // messages for the log, without time stamp
  std::string Status;            // for the status bar; empty when unchanged
  // A correction to pulse-guide, arc seconds on the sky (right ascension, declination).
  bool Correct = false;
  double CorrectionX = 0;
  double CorrectionY = 0;
  // Let the mount settle before the next image.
  bool Settle = false;
  // The viewer's guide marker: the tracking box around the reference star.
  bool MarkerOn = false;
  int MarkerBox = 0;
  double MarkerX = -1;
  double MarkerY = -1;
};

// A lost star (too faint, outside the box) keeps tracking on, so the next image looks again
// around the same reference; only a drift beyond 0.8 of the box ends guiding.
class GuideTracker {
 public:
  // The signal a guide star needs: (peak - background) / sqrt(peak) above this.
  static constexpr double kMinSignal = 10;
  // Guiding ends when the star drifted further than this part of the box.
  static constexpr double kLossFraction = 0.8;

  GuidingState State() const { return state_; }
  // The first image of a series fixes a new reference; the offsets start at zero.
  void BeginSeries();
  void SetState(GuidingState state) { state_ = state; }
  void Stop() { state_ = GuidingState::Off; }

  // Acquiring searches the whole image in tiles of twice the tracking range; tracking, the
  // box of the marker's half-size around the reference.
  GuideSearch Search(int trackingRange) const;
  // Takes the star found where Search() said. Nothing is decided while guiding is off.
  GuideDecision Step(const GuideStarResult& star, int trackingRange, const GuideScale& scale);

  double ReferenceX() const { return refX_; }
  double ReferenceY() const { return refY_; }
  double CurrentX() const { return curX_; }
  double CurrentY() const { return curY_; }
  // Current minus reference in pixels; 0 when the last measurement failed.
  double GuideX() const { return guideX_; }
  double GuideY() const { return guideY_; }
  int Box() const { return box_; }

 private:
  GuideDecision Acquire(const GuideStarResult& star, int trackingRange);
  GuideDecision Track(const GuideStarResult& star, const GuideScale& scale);
  GuideDecision Lost();

  GuidingState state_ = GuidingState::Off;
  double refX_ = -1;
  double refY_ = -1;
  double curX_ = -1;
  double curY_ = -1;
  double guideX_ = 0;
  double guideY_ = 0;
  int box_ = 0;
};

}  // namespace noctarbel
