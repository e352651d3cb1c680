#include "automation/test_row_actions.h"

#include <cmath>

#include "station/site_sky.h"
#include "automation/plan_run.h"
#include "operations/station_core.h"
#include "astro/horizon.h"
#include "astro/transforms.h"
#include "common/number_text.h"

namespace noctarbel {

namespace {

constexpr double kSlewDays = 0.0007;       // about a minute of slewing
constexpr double kAutofocusDays = 0.0014;  // about two minutes of focusing
constexpr double kSyncDays = 0.0007;
constexpr double kSettleSeconds = 5;

// Hour angle in degrees, -180 < h <= 180.
double HourAngleDeg(StationCore& station, const TargetPosition& ofDate) {
  double h = (StationSiderealTime(station, station.Run.TestClock) - ofDate.RaHours) * 15.0;
  h = std::fmod(h, 360.0);
  if (h < 0) h += 360.0;
  if (h > 180) h -= 360.0;
  return h;
}

bool BelowHorizon(StationCore& station, const TargetPosition& ofDate) {
  const HorizontalPosition here =
      StationEquatorialToHorizontal(station, ofDate.RaHours * 15.0, ofDate.DecDeg, station.Run.TestClock);
  return HorizonAltitude(station.Horizon, here.Azimuth) > here.Altitude;
}

}  // namespace

const char* CommandMessage(RowCommand command) {
  switch (command) {
    case RowCommand::Park1:
      return ": Going to park position 1";
    case RowCommand::Park2:
      return ": Going to park position 2";
    case RowCommand::Home:
      return ": Home Position, Calibration";
    case RowCommand::OpenRoof:
      return ": Park position, open roof";
    case RowCommand::CloseRoof:
      return ": Park position, close roof";
    case RowCommand::ShutDown:
      return ": Going to park position";
    case RowCommand::DarkFrames:
      return ": Darkframes exposure";
    case RowCommand::CoolerOn:
      return ": Camera cooler on";
    default:
      return "";
  }
}

TestRowActions::TestRowActions(PlanRun& run) : station_(run.Core) {}

DateTime TestRowActions::Now() { return station_.Run.TestClock; }

void TestRowActions::Advance(double seconds) { station_.Run.TestClock += seconds / kSecondsPerDay; }

void TestRowActions::Error(const std::string& message) {
  station_.LogTimed(message);
  ++station_.Run.TestErrorCount;
}

TargetPosition TestRowActions::OfDate(const TargetPosition& j2000) const {
  const EquatorialPosition ofDate =
      J2000ToDate(j2000.RaHours, j2000.DecDeg, JulianCenturiesSince2000(station_.Run.TestClock), 0);
  return TargetPosition{ofDate.Ra, ofDate.Dec};
}

bool TestRowActions::WaitForStart(const StartTime& start) {
  RunState& run = station_.Run;
  // As the real run: the nearest occurrence, a late row starting at once.
  const double days = DaysUntil(start, run.TestClock);
  if (days > 0) run.TestClock += days;
  return true;
}

void TestRowActions::RunCommand(RowCommand command, int) {
  const std::string message = CommandMessage(command);
  if (message.empty()) return;
  if (command != RowCommand::DarkFrames && command != RowCommand::CoolerOn) station_.SetStatus(message);
  station_.LogTimed(message);
}

TargetOutcome TestRowActions::GoToTarget(const std::string& name, const TargetPosition& target, const RowCells&,
                                         std::optional<TargetPosition>& lastTarget) {
  const TargetPosition ofDate = OfDate(target);
  const HorizontalPosition here =
      StationEquatorialToHorizontal(station_, ofDate.RaHours * 15.0, ofDate.DecDeg, station_.Run.TestClock);
  if (HorizonAltitude(station_.Horizon, here.Azimuth) > here.Altitude) {
    Error(": Object " + name + " not visible");
    return TargetOutcome::NotVisible;
  }
  station_.LogTimed(": Going to object " + name);
  station_.LogUntimed("Altitude=" + FormatFixed(here.Altitude, 2));
  station_.Run.TestClock += kSlewDays;
  lastTarget = ofDate;
  return TargetOutcome::Reached;
}

bool TestRowActions::Settle() {
  Advance(kSettleSeconds);
  return true;
}

void TestRowActions::RunExposures(int, const std::string& name, const std::optional<TargetPosition>& position,
                                  bool ownPosition, const RowExposure& e, const RowCells&) {
  // The row's own position is J2000; the last target is kept as of date already.
  std::optional<TargetPosition> ofDate;
  if (position) ofDate = ownPosition ? OfDate(*position) : *position;
  const double startHourAngle = ofDate ? HourAngleDeg(station_, *ofDate) : 0;

  // Each image is k sub-exposures, each with its read-out, then the pause.
  const double readout = station_.Settings.CameraReadTime / (e.Binning * e.Zoom);
  const double perImage = (readout + e.Seconds) * e.SubExposures + e.Pause;
  Advance(perImage * e.Number * static_cast<double>(e.Filters.size()));
  if (e.Kind == ExposureKind::Autofocus) {
    station_.LogTimed(": Autofocus");
    station_.Run.TestClock += kAutofocusDays;
  } else if (e.Kind == ExposureKind::Sync) {
    station_.LogTimed(": Sync");
    station_.Run.TestClock += kSyncDays;
  } else {
    station_.LogTimed(": exposed " + std::to_string(e.Number) + " images *" + std::to_string(e.Filters.size()) +
                      " filters");
  }
  if (!ofDate) return;
  if (BelowHorizon(station_, *ofDate)) {
    Error(": Objekt " + name + "bei Aufnahmeende nicht mehr sichtbar");
    return;
  }
  if (startHourAngle < -7 && HourAngleDeg(station_, *ofDate) > 0)
    Error(": Objekt " + name + ": Meridianflip erforderlich");
}

}  // namespace noctarbel
