#pragma once
// Star measurements on an image: the brightest star, the background, an intensity-weighted
// centroid and the half-flux diameter. Pixel coordinates count from 1; pixels outside the
// image read as 0.

#include <string>

#include "imaging/image_buffer.h"

namespace noctarbel {

struct StarSearchResult {
  bool Found = false;
  int X = 0;  // 1-based; 0, 0 without a candidate
  int Y = 0;
  int Background = 0;
  int Peak = 0;
  int Minimum = 65535;  // smallest local mean seen
};

// The position with the highest 9-pixel cross mean at least 11 pixels from every edge, whose
// centre is below 5 times its 8-pixel mean (a lone hot pixel is no star); on equal means the
// smaller column, then the smaller row wins. The background is the sum of the cross means over
// all scanned positions divided by the full pixel count.
StarSearchResult FindBrightestStar(const Timgbuffer& image);

// Centroid of max(pixel - t, 0) over columns x1..x2 and rows y1..y2. False (outputs untouched)
// when no pixel is above t.
bool StarCentroid(const Timgbuffer& image, int x1, int x2, int y1, int y2, int t, int& column, int& row);

// Sum of max(0, pixel - b) over the outline of the square of side 2r + 1 around (cx, cy); the
// centre pixel alone for r = 0.
double RingSum(const Timgbuffer& image, int cx, int cy, int r, int b);

inline constexpr int kMaxHfdRadius = 1000;
// Half-flux diameter in pixels inside outer radius R (1..1000), with twice the mean of the
// outer ring as background. -1 when R is out of range, when there is no flux above the
// background, or when the ring at the half-flux point holds no flux (the interpolation would
// divide by zero).
double HalfFluxDiameter(const Timgbuffer& image, int cx, int cy, int R);

}  // namespace noctarbel

namespace noctarbel {

// A star whose brightest pixel within the rings reaches this level is saturated: its core is
// cut flat and its diameter reads wrong.
inline constexpr int kStarSaturatedAdu = 65000;

// The half-flux diameter as a measurement: the formula's value when it is above 0, otherwise
// no value and why. The formula interpolates one ring too far in, so the diameter of a star
// whose half flux lies in its central pixels comes out at 0 or below.
struct HfdReading {
  double Hfd = -1;
  std::string Problem;  // empty when Hfd is a measurement
  bool Ok() const { return Problem.empty(); }
};
HfdReading ReadHalfFluxDiameter(const Timgbuffer& image, int cx, int cy, int R);

}  // namespace noctarbel
