#pragma once
// What the device handlers share: making drivers for the station, the connection tests,
// reporting a driver's failure, waiting while the window stays alive, and lamp colours.

#include <string>

#include "devices/device_registry.h"

namespace noctarbel {

class Station;

inline constexpr const char* kColourGreen = "lime";
inline constexpr const char* kColourRed = "red";
inline constexpr const char* kColourYellow = "yellow";
inline constexpr const char* kColourGrey = "grey";

DeviceContext MakeDeviceContext(Station& station);

// A filled slot whose driver says it is connected (a driver that fails to answer is not).
bool TelescopeConnected(Station& station);
bool CameraConnected(Station& station);
// The focuser counts as connected while its object exists and it reports the link.
bool FocuserLinked(Station& station);

// A driver failure: always logged; shown in a message box when the operator is at the
// window, in the status bar during a plan run (nothing may wait for a click then).
void ReportDeviceProblem(Station& station, const std::string& text);

// Waits while the window stays responsive: each step pumps, then sleeps 100 ms.
void WaitPumping(Station& station, int milliseconds);

// The UTC and sidereal time fields of the main window.
void ShowUtcAndSiderealTime(Station& station);

// Angle from one azimuth to another, -180 < d <= 180 (0 and 359.9 are 0.1 apart).
double AzimuthDifference(double from, double to);

}  // namespace noctarbel
