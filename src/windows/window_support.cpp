#include "windows/window_support.h"

#include <cmath>

#include "windows/astro_window.h"
#include "windows/station.h"
#include "common/datetime.h"

namespace noctarbel {

void ReportDeviceProblem(Station& station, const std::string& text) {
  station.LogTimed(": " + text);
  if (station.Run.PlanRunning) {
    station.SetStatus(text);
  } else {
    station.UiPort.ShowMessage(text);
  }
}

void ShowUtcAndSiderealTime(Station& station) {
  const DateTime utc = station.Clock.UtcNow();
  station.Main.SetText("UTCEdit", FormatTime(utc));
  const double lst = StationSiderealTime(station, utc);
  // Sidereal time as a time of day: hours are days / 24.
  station.Main.SetText("SternzeitEdit", FormatTime(std::floor(lst * 3600.0) / kSecondsPerDay));
}

}  // namespace noctarbel
