#include "operations/guiding_operations.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "station/station_state.h"
#include "operations/mount_operations.h"
#include "operations/centring_operations.h"
#include "common/number_text.h"
#include "imaging/guide_star.h"
#include "imaging/image_buffer.h"

namespace noctarbel {

std::string GuidingCheckMessage(GuidingCheckEnd end) {
  switch (end) {
    case GuidingCheckEnd::NotConnected:
      return "Telescope not connected";
    case GuidingCheckEnd::NoStar:
      return "No star found. Exit.";
    case GuidingCheckEnd::TooSmall:
      return "error";
    case GuidingCheckEnd::PulseFailed:
      return "Telescope error";
    default:
      return {};
  }
}

void GuidingOperations::BeginSeries() {
  Tracker.BeginSeries();
  core_.GuideX = 0;
  core_.GuideY = 0;
}

void GuidingOperations::Stop() {
  Tracker.Stop();
  if (OnMarker) OnMarker(GuideMarker{});
}

GuideDecision GuidingOperations::GuideStep(OperationContext& op, const Timgbuffer& image) {
  if (Tracker.State() == GuidingState::Off || !image.HasPixels()) return GuideDecision{};
  const SettingsRecord& s = core_.Settings;
  const GuideSearch search = Tracker.Search(s.TrackingRange);
  const GuideStarResult star = FindGuideStar(image, search.X0, search.Y0, search.R);
  const GuideScale scale{s.ArcsecX, s.ArcsecY, std::max<int>(1, image.XBinning), std::max<int>(1, image.YBinning)};
  const GuideDecision d = Tracker.Step(star, s.TrackingRange, scale);
  core_.GuideX = Tracker.GuideX();
  core_.GuideY = Tracker.GuideY();
  for (const std::string& line : d.Log) core_.LogTimed(": " + line);
  if (!d.Status.empty()) core_.SetStatus(d.Status);
  if (OnMarker) OnMarker(GuideMarker{d.MarkerOn, d.MarkerBox, d.MarkerX, d.MarkerY});
  int longest = 0;
  if (d.Correct) mount_.PulseGuideXY(op, d.CorrectionX, d.CorrectionY, &longest);
  // The next image is measured against a mount that has finished its correction.
  if (d.Settle && op.Pump()) op.Wait(std::max(kSettleMs, longest));
  return d;
}

std::pair<double, double> GuidingOperations::PrepareGuideRates() {
  const double speed = core_.PulseGuideSpeed();
  if (!mount_.HasDriver()) return {speed, speed};
  if (mount_.Connected()) mount_.SetGuideRates(speed / 3600.0);
  ratesSet_ = true;
  if (auto rates = mount_.GuideRates()) return {rates->first * 3600.0, rates->second * 3600.0};
  return {speed, speed};
}

std::optional<StarOffset> GuidingOperations::Measure(OperationContext& op, const StarOffsetSource& measure) {
  std::optional<StarOffset> offset = measure(op);
  if (!op.Wait(kAfterExposureMs)) return std::nullopt;
  return offset;
}

bool GuidingOperations::Pulse(OperationContext& op, double x, double y, int* longestMs) {
  return mount_.PulseGuideXY(op, x, y, longestMs);
}

GuidingTestResult GuidingOperations::RunGuidingTest(OperationContext& op, int moveArcsec,
                                                    const StarOffsetSource& measure, const Acknowledge& acknowledge) {
  GuidingTestResult result;
  const double speed = core_.PulseGuideSpeed();
  const SettingsRecord& s = core_.Settings;
  result.RaRate = result.DecRate = speed;
  if (ratesSet_) {
    if (auto rates = mount_.GuideRates()) {
      result.RaRate = rates->first * 3600.0;
      result.DecRate = rates->second * 3600.0;
    }
  }
  if (!mount_.Connected()) {
    result.End = GuidingCheckEnd::NotConnected;
    return result;
  }
  auto ended = [&](GuidingCheckEnd end) {
    result.End = op.MayContinue() ? end : GuidingCheckEnd::Interrupted;
    return result;
  };
  const std::optional<StarOffset> first = Measure(op, measure);
  if (!first) return ended(GuidingCheckEnd::NoStar);
  if (acknowledge) acknowledge(GuidingTestMoveText(moveArcsec));
  // The pulse may be turned round on the west side of the pier; the image is turned round
  // there in any case.
  const bool west = mount_.SideOfPier() == PierSide::West;
  const bool mirrored = west && s.InvertPiersideguiding;
  int longest = 0;
  if (!Pulse(op, moveArcsec, 0, &longest)) return ended(GuidingCheckEnd::PulseFailed);
  // One and a half times the pulse: the pulse actually sent, which the declination and the
  // overcorrection may have made longer than the move over the speed.
  result.WaitMs = std::max(static_cast<int>(RoundHalfEven(1500.0 * moveArcsec / speed)),
                           static_cast<int>(RoundHalfEven(1.5 * longest)));
  if (!op.Wait(result.WaitMs)) return ended(GuidingCheckEnd::Interrupted);
  const std::optional<StarOffset> second = Measure(op, measure);
  if (!second) return ended(GuidingCheckEnd::NoStar);
  // The star positions are the negated offsets.
  result.Dx = -second->X - -first->X;
  result.Dy = -second->Y - -first->Y;
  const std::optional<double> angle = DisplacementAngle(result.Dx, result.Dy);
  if (!angle) return ended(GuidingCheckEnd::TooSmall);
  result.Angle = EastSideAngle(*angle, west, mirrored);
  return result;
}

MovementCheckResult GuidingOperations::RunMovementCheck(OperationContext& op, int moveArcsec,
                                                        const StarOffsetSource& measure,
                                                        const Acknowledge& acknowledge) {
  MovementCheckResult result;
  auto ended = [&](GuidingCheckEnd end) {
    result.End = op.MayContinue() ? end : GuidingCheckEnd::Interrupted;
    return result;
  };
  if (!mount_.Connected()) return ended(GuidingCheckEnd::NotConnected);
  std::optional<StarOffset> offset = Measure(op, measure);
  if (!offset) return ended(GuidingCheckEnd::NoStar);
  // Centre the star as the centre button does: the move, the settling, a new exposure.
  centring_.MoveBy(op, *offset);
  if (!op.MayContinue()) return ended(GuidingCheckEnd::Interrupted);
  const std::optional<StarOffset> before = Measure(op, measure);
  if (!before) return ended(GuidingCheckEnd::NoStar);
  if (acknowledge) acknowledge("Now the scope should move " + std::to_string(moveArcsec) + "\" in RA and DEC");

  // The check measures the plain move: no overcorrection for it, whatever happens.
  SettingsRecord& s = core_.Settings;
  const int overcorrection = s.OvercorrectionGuiding;
  s.OvercorrectionGuiding = 0;
  int longest = 0;
  const bool pulsed = Pulse(op, moveArcsec, -moveArcsec, &longest);
  s.OvercorrectionGuiding = overcorrection;
  if (!pulsed) return ended(GuidingCheckEnd::PulseFailed);
  if (!op.Wait(std::max(moveArcsec * 200, longest))) return ended(GuidingCheckEnd::Interrupted);
  const std::optional<StarOffset> after = Measure(op, measure);
  if (!after) return ended(GuidingCheckEnd::NoStar);
  result.Moved = MeasuredMovement(before->X, before->Y, after->X, after->Y);
  return result;
}

}  // namespace noctarbel
