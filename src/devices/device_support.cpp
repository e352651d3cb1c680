#include "devices/device_support.h"

#include <cmath>

#include "app/astro_controls.h"
#include "app/station.h"
#include "common/datetime.h"

namespace noctarbel {

DeviceContext MakeDeviceContext(Station& station) {
  return DeviceContext{station.Clock, station.Devices.World, StationSite(station)};
}

bool TelescopeConnected(Station& station) {
  auto scope = station.Devices.Telescope;
  if (!scope) return false;
  try {
    return scope->Connected();
  } catch (const std::exception&) {
    return false;
  }
}

bool CameraConnected(Station& station) {
  auto camera = station.Devices.Camera;
  if (!camera) return false;
  try {
    return camera->Connected();
  } catch (const std::exception&) {
    return false;
  }
}

bool FocuserLinked(Station& station) {
  auto focuser = station.Devices.Focuser;
  if (!focuser) return false;
  try {
    return focuser->Link();
  } catch (const std::exception&) {
    return false;
  }
}

void ReportDeviceProblem(Station& station, const std::string& text) {
  station.LogTimed(": " + text);
  if (station.Run.PlanRunning) {
    station.SetStatus(text);
  } else {
    station.UiPort.ShowMessage(text);
  }
}

void WaitPumping(Station& station, int milliseconds) {
  for (int waited = 0; waited < milliseconds; waited += 100) {
    station.Clock.Pump();
    station.Clock.Sleep(100);
  }
}

void ShowUtcAndSiderealTime(Station& station) {
  const DateTime utc = station.Clock.UtcNow();
  station.Main.SetText("UTCEdit", FormatTime(utc));
  const double lst = StationSiderealTime(station, utc);
  // Sidereal time as a time of day: hours are days / 24.
  station.Main.SetText("SternzeitEdit", FormatTime(std::floor(lst * 3600.0) / kSecondsPerDay));
}

double AzimuthDifference(double from, double to) {
  double d = std::fmod(to - from, 360.0);
  if (d <= -180.0) d += 360.0;
  if (d > 180.0) d -= 360.0;
  return d;
}

}  // namespace noctarbel
