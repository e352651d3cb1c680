#include "guiding/autofocus_math.h"

#include <algorithm>
#include <cmath>

#include "common/number_text.h"

namespace noctarbel {

std::string VLinesProblem(const VLines& lines) {
  if (lines.LeftSlope == 0 || lines.RightSlope == 0) return "not calibrated";
  // Lines of the wrong signs meet somewhere, but not at the bottom of a V: a jump there would
  // drive the focuser away from focus.
  if (!(lines.LeftSlope < 0 && lines.RightSlope > 0)) return "the V lines do not form a V";
  return {};
}

double VTipPosition(const VLines& lines) {
  return (lines.RightIntercept - lines.LeftIntercept) / (lines.LeftSlope - lines.RightSlope);
}

int FirstFocusStep(double h1, double targetHfd, const VLines& lines) {
  return static_cast<int>(RoundHalfEven((targetHfd - h1) / lines.LeftSlope));
}

int SecondFocusStep(double h2, const VLines& lines) {
  return static_cast<int>(RoundHalfEven((lines.LeftIntercept - h2) / lines.LeftSlope + VTipPosition(lines)));
}

double SecondMeasurementTolerance(double targetHfd, double residual) {
  return std::max({1.0, 0.1 * targetHfd, 3.0 * residual});
}

bool StepWentAwayFromFocus(double h1, double h2, double targetHfd, double tolerance) {
  return h1 > targetHfd + tolerance && h2 >= h1;
}

std::string SecondMeasurementProblem(double h1, double h2, double targetHfd, double tolerance) {
  const std::string measured = "HFD " + FormatFixed(h1, 2) + " then " + FormatFixed(h2, 2);
  // Stepping along the left line from above the target must bring the HFD down; from the
  // right flank the same step goes away from focus and the HFD grows.
  if (StepWentAwayFromFocus(h1, h2, targetHfd, tolerance)) {
    return measured + ": the HFD grew, the star was right of best focus";
  }
  if (std::abs(h2 - targetHfd) > tolerance) {
    return measured + ", not within " + FormatFixed(tolerance, 2) + " of the target " + FormatFixed(targetHfd, 2) +
           ": the star is off the calibrated left flank";
  }
  return {};
}

int HfdRadius(int subframe) { return subframe / 2 - 50; }

std::vector<int> CalibrationPositions(int meanPosition, int range, int count) {
  std::vector<int> positions;
  if (count <= 0) return positions;
  const int step = static_cast<int>(RoundHalfEven(static_cast<double>(range) / count));
  int p = meanPosition - range;
  for (int i = 0; i < count; ++i) {
    positions.push_back(p);
    p += step;
  }
  return positions;
}

int ToFocusBinning(int position1Based, int b, int afBinning) {
  if (afBinning <= 0) afBinning = 1;
  return static_cast<int>(RoundHalfEven(static_cast<double>(position1Based - 1) * b / afBinning));
}

HfdSubframe PlaceSubframe(int column, int row, int width, int height, int sensorWidth, int sensorHeight) {
  HfdSubframe frame;
  frame.Width = std::max(1, std::min(width, sensorWidth));
  frame.Height = std::max(1, std::min(height, sensorHeight));
  // The camera refuses a subframe that reaches past the sensor.
  frame.X0 = std::clamp(column - frame.Width / 2, 0, std::max(0, sensorWidth - frame.Width));
  frame.Y0 = std::clamp(row - frame.Height / 2, 0, std::max(0, sensorHeight - frame.Height));
  return frame;
}

HfdSubframe PlaceHfdSubframe(int column, int row, int subframe, int sensorWidth, int sensorHeight) {
  return PlaceSubframe(column, row, subframe, subframe, sensorWidth, sensorHeight);
}

HfdSubframe PlaceFocusLoopSubframe(int column, int row, int sensorWidth, int sensorHeight) {
  return PlaceSubframe(column, row, 200, 150, sensorWidth, sensorHeight);
}

bool StarInCentroidWindow(int column, int row, const HfdSubframe& frame, int radius) {
  const int x = column - frame.X0 + 1;
  const int y = row - frame.Y0 + 1;
  return x >= frame.Width / 2 - radius + 1 && x <= frame.Width / 2 + radius && y >= frame.Height / 2 - radius + 1 &&
         y <= frame.Height / 2 + radius;
}

}  // namespace noctarbel
