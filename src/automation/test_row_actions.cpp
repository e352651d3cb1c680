#include "automation/test_row_actions.h"

#include <cmath>

#include "station/site_sky.h"
#include "automation/plan_run.h"
#include "operations/station_core.h"
#include "automation/meridian_flip.h"
#include "astro/horizon.h"
#include "astro/transforms.h"
#include "common/number_text.h"
#include "station/filter_tables.h"

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
  centred_ = false;
  lastTarget = ofDate;
  return TargetOutcome::Reached;
}

void TestRowActions::FlipMeridian(MeridianFlipWatch& flip, double exposureSeconds) {
  RunState& run = station_.Run;
  if (run.TestClock < flip.FlipTime()) {
    station_.LogTimed(": " + flip.WaitLine(exposureSeconds));
    run.TestClock = flip.FlipTime();
  }
  station_.LogTimed(": " + flip.FlipLine());
  station_.SetStatus("Meridian flip");
  run.RowFlips.push_back(run.TestClock);
  run.TestClock = flip.SlewTime() + kSlewDays;
  Advance(kSettleSeconds);
  if (centred_ || station_.Settings.MeridianFlipCentre) run.TestClock += kSyncDays;
  if (station_.Settings.MeridianFlipAutofocus) run.TestClock += kAutofocusDays;
  flip.Done();
}

bool TestRowActions::Settle() {
  Advance(kSettleSeconds);
  return true;
}

int TestRowActions::FilterSlots() const {
  if (station_.Settings.FilterNumber > 0) return station_.Settings.FilterNumber;
  int named = 0;
  const auto& names = station_.Filters.FilterNames;
  for (size_t i = 0; i < names.size(); ++i) {
    if (!TrimBlanks(names[i]).empty()) named = static_cast<int>(i) + 1;
  }
  return named;
}

int TestRowActions::MaxBinning() const {
  if (station_.Camera.HasDriver()) {
    try {
      if (const int max = station_.Camera.MaxBinX(); max > 0) return max;
    } catch (const std::exception&) {
    }
  }
  return station_.Settings.CameraMaxBinning;
}

void TestRowActions::CheckEquipment(int row, const RowExposure& e) {
  const std::string at = ": row " + std::to_string(row) + ": ";
  const int slots = FilterSlots();
  for (const int filter : e.Filters) {
    if (filter < 1) {
      Error(at + "filter 0 does not exist (the slots count from 1)");
    } else if (slots > 0 && filter > slots) {
      Error(at + "filter " + std::to_string(filter) + " is beyond the wheel's " + std::to_string(slots) + " slots");
    }
  }
  const int maxBinning = MaxBinning();
  if (maxBinning > 0 && e.Binning > maxBinning) {
    Error(at + "binning " + std::to_string(e.Binning) + " is beyond the camera's " + std::to_string(maxBinning));
  }
}

void TestRowActions::CheckFileNames(int row, const RowExposure& e) {
  if (e.Kind != ExposureKind::Images || e.Base == "-") return;
  for (const int filter : e.Filters) {
    const auto [at, first] = names_.try_emplace({e.Base, filter}, row);
    if (first) continue;
    const std::string name = e.Base + "-" + std::string(TrimBlanks(FilterName(station_.Filters, filter)));
    Error(": row " + std::to_string(row) + ": the file names " + name + "-nnn.fit are used by row " +
          std::to_string(at->second) + " too: the numbers go on from there");
  }
}

void TestRowActions::RunExposures(int row, const std::string& name, const std::optional<TargetPosition>& position,
                                  bool ownPosition, const RowExposure& e, const RowCells&) {
  CheckEquipment(row, e);
  CheckFileNames(row, e);
  // The row's own position is J2000; the last target is kept as of date already.
  std::optional<TargetPosition> ofDate;
  if (position) ofDate = ownPosition ? OfDate(*position) : *position;
  const double startHourAngle = ofDate ? HourAngleDeg(station_, *ofDate) : 0;

  // Each image is k sub-exposures, each with its read-out, then the pause.
  const double perImage = ExposureSlotSeconds(station_.Settings, e) + e.Pause;
  const int exposures = e.Number * static_cast<int>(e.Filters.size());
  MeridianFlipWatch flip(station_);
  if (ofDate && e.Kind == ExposureKind::Images) flip.Start(name, *ofDate, Now(), std::nullopt);
  int beforeFlip = 0;
  while (beforeFlip < exposures &&
         !flip.DueBefore(Now() + beforeFlip * perImage / kSecondsPerDay, ExposureSlotSeconds(station_.Settings, e))) {
    ++beforeFlip;
  }
  if (beforeFlip < exposures) {
    Advance(perImage * beforeFlip);
    FlipMeridian(flip, ExposureSlotSeconds(station_.Settings, e));
    Advance(perImage * (exposures - beforeFlip));
  } else {
    Advance(perImage * exposures);
  }
  if (e.Kind == ExposureKind::Autofocus) {
    station_.LogTimed(": Autofocus");
    station_.Run.TestClock += kAutofocusDays;
  } else if (e.Kind == ExposureKind::Sync) {
    station_.LogTimed(": Sync");
    station_.Run.TestClock += kSyncDays;
    centred_ = true;
  } else {
    station_.LogTimed(": exposed " + std::to_string(e.Number) + " images *" + std::to_string(e.Filters.size()) +
                      " filters");
  }
  if (!ofDate) return;
  if (BelowHorizon(station_, *ofDate)) {
    Error(": Objekt " + name + "bei Aufnahmeende nicht mehr sichtbar");
    return;
  }
  // With flips on the crossing was planned above; without them the mount may stop at its limit.
  if (!station_.Settings.MeridianFlip && startHourAngle < -7 && HourAngleDeg(station_, *ofDate) > 0)
    Error(": Objekt " + name + ": Meridianflip erforderlich");
}

}  // namespace noctarbel
