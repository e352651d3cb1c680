#pragma once
// Fitting the two lines of a V curve to calibration measurements: a least-squares line per
// flank, leaving out the points near the tip, where a real star's HFD rounds off and no
// longer follows the line, and points that could not be measured or were saturated.

#include <optional>
#include <string>
#include <vector>

#include "guiding/autofocus_math.h"

namespace noctarbel {

struct VCurvePoint {
  int Position = 0;
  double Hfd = -1;  // -1: not measured
  bool Saturated = false;
};

// Points whose HFD is below this many times the smallest HFD of the scan lie near the tip.
inline constexpr double kTipHfdFactor = 2.0;

struct LineFit {
  bool Fitted = false;
  double Slope = 0;
  double Intercept = 0;
  double Residual = 0;  // root mean square of the HFD residuals, pixels
  int PointsUsed = 0;
  std::string Problem;  // why the flank was not fitted
};

// A least-squares line through the points; not fitted (with the reason) with fewer than two
// points at different positions.
LineFit FitLine(const std::vector<VCurvePoint>& points);

// The points of a flank that a fit uses: measured, not saturated, and at least
// kTipHfdFactor times the smallest HFD seen in the whole scan (`smallestHfd`).
std::vector<VCurvePoint> FlankPointsForFit(const std::vector<VCurvePoint>& flank, double smallestHfd);

struct VFit {
  LineFit Left;
  LineFit Right;
  // Both flanks fitted and the lines form a V.
  bool Usable() const;
  std::string Problem() const;
  VLines Lines() const;
};

// Fits both flanks of a scan; `tipHfd` is the HFD measured at the mean position (any value
// <= 0 when not measured).
VFit FitVCurve(const std::vector<VCurvePoint>& left, const std::vector<VCurvePoint>& right, double tipHfd);

}  // namespace noctarbel
