#include "guiding/v_line_fit.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace noctarbel {

LineFit FitLine(const std::vector<VCurvePoint>& points) {
  LineFit fit;
  fit.PointsUsed = static_cast<int>(points.size());
  if (points.size() < 2) {
    fit.Problem = "fewer than two usable points";
    return fit;
  }
  // About the mean position: focuser positions run to tens of thousands, their squares would
  // swallow the spread.
  double meanX = 0;
  double meanY = 0;
  for (const VCurvePoint& p : points) {
    meanX += p.Position;
    meanY += p.Hfd;
  }
  meanX /= static_cast<double>(points.size());
  meanY /= static_cast<double>(points.size());
  double sxx = 0;
  double sxy = 0;
  for (const VCurvePoint& p : points) {
    const double dx = p.Position - meanX;
    sxx += dx * dx;
    sxy += dx * (p.Hfd - meanY);
  }
  if (sxx <= 0) {
    fit.Problem = "all usable points at one position";
    return fit;
  }
  fit.Fitted = true;
  fit.Slope = sxy / sxx;
  fit.Intercept = meanY - fit.Slope * meanX;
  double squares = 0;
  for (const VCurvePoint& p : points) {
    const double r = p.Hfd - (fit.Slope * p.Position + fit.Intercept);
    squares += r * r;
  }
  fit.Residual = std::sqrt(squares / static_cast<double>(points.size()));
  return fit;
}

std::vector<VCurvePoint> FlankPointsForFit(const std::vector<VCurvePoint>& flank, double smallestHfd) {
  std::vector<VCurvePoint> used;
  for (const VCurvePoint& p : flank) {
    if (p.Hfd <= 0 || p.Saturated) continue;
    if (smallestHfd > 0 && p.Hfd < kTipHfdFactor * smallestHfd) continue;
    used.push_back(p);
  }
  return used;
}

bool VFit::Usable() const { return Left.Fitted && Right.Fitted && VLinesProblem(Lines()).empty(); }

std::string VFit::Problem() const {
  if (!Left.Fitted) return "left flank not fitted: " + Left.Problem;
  if (!Right.Fitted) return "right flank not fitted: " + Right.Problem;
  if (Left.Slope >= 0) return "the left flank does not fall towards focus";
  if (Right.Slope <= 0) return "the right flank does not rise away from focus";
  return {};
}

VLines VFit::Lines() const { return VLines{Left.Slope, Left.Intercept, Right.Slope, Right.Intercept}; }

VFit FitVCurve(const std::vector<VCurvePoint>& left, const std::vector<VCurvePoint>& right, double tipHfd) {
  double smallest = std::numeric_limits<double>::infinity();
  if (tipHfd > 0) smallest = tipHfd;
  for (const auto* flank : {&left, &right}) {
    for (const VCurvePoint& p : *flank) {
      if (p.Hfd > 0 && !p.Saturated) smallest = std::min(smallest, p.Hfd);
    }
  }
  if (!std::isfinite(smallest)) smallest = 0;
  VFit fit;
  fit.Left = FitLine(FlankPointsForFit(left, smallest));
  fit.Right = FitLine(FlankPointsForFit(right, smallest));
  return fit;
}

}  // namespace noctarbel
