#pragma once
// The arithmetic of V-curve focusing. Far from focus a star's half-flux diameter grows
// linearly with the focuser's distance from best focus on either side; the two lines of
// that V, once known, turn two HFD measurements into a jump to best focus.

#include <optional>
#include <string>
#include <vector>

namespace noctarbel {

// HFD = slope * position + intercept on each flank; the left slope is negative, the right
// one positive.
struct VLines {
  double LeftSlope = 0;
  double LeftIntercept = 0;
  double RightSlope = 0;
  double RightIntercept = 0;
};

// Why stored lines cannot guide a jump: a zero slope (not calibrated), or two lines that do
// not form a V (the wrong signs, so they meet nowhere useful or never). Empty when usable.
std::string VLinesProblem(const VLines& lines);

// Where the two lines meet: the position of best focus.
double VTipPosition(const VLines& lines);

// The first correction: the steps along the left line from HFD h1 to the target HFD.
int FirstFocusStep(double h1, double targetHfd, const VLines& lines);
// The second: from a position whose HFD is h2 on the left line to where the lines meet.
int SecondFocusStep(double h2, const VLines& lines);

// Whether a step along the left line from h1 towards targetHfd went away from focus instead:
// from above the target the HFD grew (the star lay right of best focus, where the left
// line's direction leads further out).
bool StepWentAwayFromFocus(double h1, double h2, double targetHfd, double tolerance);
// How far (pixels) the second measurement may lie from the target HFD and still be taken as
// a point of the left line: three times the calibration's residual (0: not known), at least
// a pixel and a tenth of the target.
double SecondMeasurementTolerance(double targetHfd, double residual);
// Why the second measurement does not agree with the left line the run followed from the
// first one (h1 to h2, aiming at targetHfd): the HFD grew where it should have shrunk (the
// first measurement lay right of best focus and the step went further out), or it ended
// away from the target. Empty when the jump may follow the lines.
std::string SecondMeasurementProblem(double h1, double h2, double targetHfd, double tolerance);

// The outer radius of the HFD measurement (and half-size of its centroid window) for a
// subframe side: subframe div 2 - 50.
int HfdRadius(int subframe);

// The positions a calibration visits: N steps of Round(range / N) from P - range on. A
// positive range scans the left flank up towards P, a negative one the right flank down.
std::vector<int> CalibrationPositions(int meanPosition, int range, int count);

// A star found on a frame of binning b, as a 0-based pixel of a frame of binning afBinning.
int ToFocusBinning(int position1Based, int b, int afBinning);

// The subframe an HFD measurement reads (binned pixels), placed so that the star is in its
// middle where the sensor allows.
struct HfdSubframe {
  int X0 = 0;
  int Y0 = 0;
  int Width = 0;
  int Height = 0;
};
// A width x height subframe (at most the sensor) with its origin half its size before the
// star, kept on the sensor: near an edge the star is not in its middle then. Sensor sizes in
// pixels of the frame's binning.
HfdSubframe PlaceSubframe(int column, int row, int width, int height, int sensorWidth, int sensorHeight);
// The square subframe of an HFD measurement.
HfdSubframe PlaceHfdSubframe(int column, int row, int subframe, int sensorWidth, int sensorHeight);
// The focus loop's 200 x 150 subframe around a star found on a frame of that binning.
HfdSubframe PlaceFocusLoopSubframe(int column, int row, int sensorWidth, int sensorHeight);
// Whether the star (0-based in the focus binning) lies inside the centroid window of the
// subframe: the middle ± radius.
bool StarInCentroidWindow(int column, int row, const HfdSubframe& frame, int radius);

}  // namespace noctarbel
