#pragma once
// What the device window handlers share: reporting a driver's failure, lamp colours and the
// time fields.

#include <string>

namespace noctarbel {

class Station;

inline constexpr const char* kColourGreen = "lime";
inline constexpr const char* kColourRed = "red";
inline constexpr const char* kColourYellow = "yellow";
inline constexpr const char* kColourGrey = "grey";

// A driver failure: always logged; shown in a message box when the operator is at the
// window, in the status bar during a plan run (nothing may wait for a click then).
void ReportDeviceProblem(Station& station, const std::string& text);

// The UTC and sidereal time fields of the main window.
void ShowUtcAndSiderealTime(Station& station);

}  // namespace noctarbel
