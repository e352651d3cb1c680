#include "guiding/guide_step.h"

#include <cmath>

#include "common/number_text.h"

namespace noctarbel {

namespace {

bool HasSignal(const GuideStarResult& star) { return star.Found && GuideSignal(star) > GuideTracker::kMinSignal; }

}  // namespace

void GuideTracker::BeginSeries() {
  state_ = GuidingState::Acquire;
  guideX_ = 0;
  guideY_ = 0;
}

GuideSearch GuideTracker::Search(int trackingRange) const {
  // Tracking without a reference (it was never fixed) can only start over.
  if (state_ != GuidingState::Track || refX_ < 0 || refY_ < 0) return GuideSearch{0, 0, 2 * trackingRange};
  return GuideSearch{static_cast<int>(RoundHalfEven(refX_)), static_cast<int>(RoundHalfEven(refY_)), box_};
}

GuideDecision GuideTracker::Step(const GuideStarResult& star, int trackingRange, const GuideScale& scale) {
  switch (state_) {
    case GuidingState::Off:
      return GuideDecision{};
    case GuidingState::Acquire:
      return Acquire(star, trackingRange);
    case GuidingState::Track:
      if (refX_ < 0 || refY_ < 0) return Acquire(star, trackingRange);
      return Track(star, scale);
  }
  return GuideDecision{};
}

GuideDecision GuideTracker::Acquire(const GuideStarResult& star, int trackingRange) {
  if (!HasSignal(star)) {
    refX_ = refY_ = -1;
    guideX_ = guideY_ = 0;
    GuideDecision d;
    d.Log.push_back("star guiding: kein Stern");
    return d;
  }
  refX_ = star.X;
  refY_ = star.Y;
  curX_ = curY_ = -1;
  guideX_ = guideY_ = 0;
  box_ = trackingRange;
  state_ = GuidingState::Track;
  GuideDecision d;
  d.Measured = true;
  d.Log.push_back("star guiding: X=" + FormatFixed(refX_, 2) + " Y=" + FormatFixed(refY_, 2));
  d.MarkerOn = true;
  d.MarkerBox = box_;
  d.MarkerX = refX_;
  d.MarkerY = refY_;
  return d;
}

GuideDecision GuideTracker::Lost() {
  curX_ = curY_ = -1;
  guideX_ = guideY_ = 0;
  GuideDecision d;
  d.Log.push_back("star guiding: kein Stern");
  return d;
}

GuideDecision GuideTracker::Track(const GuideStarResult& star, const GuideScale& scale) {
  if (!HasSignal(star)) return Lost();
  curX_ = star.X;
  curY_ = star.Y;
  if (curX_ > 0) {
    guideX_ = curX_ - refX_;
    guideY_ = curY_ - refY_;
  }
  GuideDecision d;
  d.Status = "GuideX=" + FormatFixed(guideX_, 2) + " GuideY=" + FormatFixed(guideY_, 2);
  d.Log.push_back("star guiding: dX=" + FormatFixed(guideX_, 2) + " dY=" + FormatFixed(guideY_, 2));
  const double limit = kLossFraction * box_;
  if (std::abs(guideX_) > limit || std::abs(guideY_) > limit) {
    d.Log.push_back("star guiding: error");
    d.Ended = true;
    state_ = GuidingState::Off;
    // The images that follow are not shifted by a drift guiding no longer follows.
    guideX_ = guideY_ = 0;
    return d;
  }
  d.Measured = true;
  d.MarkerOn = true;
  d.MarkerBox = box_;
  d.MarkerX = refX_;
  d.MarkerY = refY_;
  // A drift of a pixel or less is left alone: correcting it would chase the noise.
  if (guideX_ * guideX_ + guideY_ * guideY_ > 1) {
    d.Correct = true;
    d.CorrectionX = -scale.ArcsecX * scale.BinX * guideX_;
    d.CorrectionY = -scale.ArcsecY * scale.BinY * guideY_;
  }
  d.Settle = true;
  return d;
}

}  // namespace noctarbel
