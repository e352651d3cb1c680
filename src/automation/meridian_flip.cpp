#include "automation/meridian_flip.h"

#include <cmath>

#include "common/number_text.h"
#include "station/site_sky.h"
#include "station/station_state.h"

namespace noctarbel {

namespace {

// Solar days per sidereal hour.
constexpr double kDaysPerSiderealHour = 1.0 / 24.0 / 1.00273790935;

// Hour angle in hours, -12 < h <= 12.
double HourAngleHours(StationState& station, const TargetPosition& ofDate, DateTime utc) {
  double h = std::fmod(StationSiderealTime(station, utc) - ofDate.RaHours, 24.0);
  if (h < 0) h += 24.0;
  return h > 12.0 ? h - 24.0 : h;
}

std::string UtText(DateTime utc) { return FormatTime(utc) + " UT"; }

}  // namespace

double ExposureSlotSeconds(const SettingsRecord& settings, const RowExposure& e) {
  const double readout = settings.CameraReadTime / (e.Binning * e.Zoom);
  return (readout + e.Seconds) * e.SubExposures;
}

MeridianFlipWatch::MeridianFlipWatch(StationState& station) : station_(station) {}

void MeridianFlipWatch::Start(const std::string& name, const TargetPosition& ofDate, DateTime now,
                              std::optional<PierSide> side) {
  name_ = name;
  flipAt_.reset();
  const SettingsRecord& s = station_.Settings;
  if (!s.MeridianFlip) return;
  const double ha = HourAngleHours(station_, ofDate, now);
  const bool westSide = side ? *side == PierSide::West : ha < 0;
  if (!westSide) return;
  // A target already west of the meridian with the tube still on the west side is flipped
  // as soon as its minutes past the meridian are reached (at once when they are).
  transit_ = now - ha * kDaysPerSiderealHour;
  flipAt_ = transit_ + s.MeridianFlipMinutes / 1440.0;
}

bool MeridianFlipWatch::DueBefore(DateTime now, double seconds) const {
  return flipAt_ && now + seconds / kSecondsPerDay > *flipAt_;
}

DateTime MeridianFlipWatch::SlewTime() const {
  return FlipTime() + station_.Settings.MeridianFlipPause / kSecondsPerDay;
}

std::string MeridianFlipWatch::FlipLine() const {
  return "Meridian flip: " + name_ + " passed the meridian at " + UtText(transit_) + "; " +
         std::to_string(station_.Settings.MeridianFlipMinutes) +
         " min past it the mount goes to the other side of the pier";
}

std::string MeridianFlipWatch::WaitLine(double seconds) const {
  return "Meridian flip: the next image of " + name_ + " (" + FormatFixed(seconds, 0) +
         " s) would not end before the flip at " + UtText(FlipTime()) + ": it waits";
}

}  // namespace noctarbel
