#include "automation/plan_row.h"

#include <cmath>

#include "automation/image_names.h"
#include "station/plan_columns.h"
#include "station/settings.h"
#include "station/string_grid.h"
#include "common/number_text.h"

namespace noctarbel {

namespace {

const std::string& Cell(const RowCells& cells, int column) {
  static const std::string empty;
  return column < static_cast<int>(cells.size()) ? cells[static_cast<size_t>(column)] : empty;
}

// Cells are typed by hand: blanks around a number are no reason to lose a night's row.
std::optional<int> IntCell(const RowCells& cells, int column) { return ParseInt(TrimBlanks(Cell(cells, column))); }
std::optional<double> FloatCell(const RowCells& cells, int column) {
  return ParseFloat(TrimBlanks(Cell(cells, column)));
}
bool EmptyCell(const RowCells& cells, int column) { return TrimBlanks(Cell(cells, column)).empty(); }

// Why a cell does not convert, as the log says it: "exposure 'nan' is not a number".
std::string Unreadable(const char* column, std::string_view text, const char* problem) {
  return std::string(column) + " '" + std::string(TrimBlanks(text)) + "' " + problem;
}

void Say(std::string* why, std::string text) {
  if (why) *why = std::move(text);
}

// "t" or "k*t".
bool ParseSeconds(std::string_view text, double& seconds, int& subExposures, std::string* why) {
  const size_t star = text.find('*');
  if (star == std::string_view::npos) {
    auto t = ParseFloat(TrimBlanks(text));
    if (!t) return Say(why, Unreadable("exposure", text, "is not a number")), false;
    if (*t < 0) return Say(why, Unreadable("exposure", text, "is negative")), false;
    seconds = *t;
    subExposures = 1;
    return true;
  }
  auto k = ParseInt(TrimBlanks(text.substr(0, star)));
  auto t = ParseFloat(TrimBlanks(text.substr(star + 1)));
  if (!k || !t) return Say(why, Unreadable("exposure", text, "is not k*t")), false;
  if (*k < 1 || *t < 0) return Say(why, Unreadable("exposure", text, "needs k of 1 or more and t of 0 or more")), false;
  seconds = *t;
  subExposures = *k;
  return true;
}

// "SY", "SY0.5", "SY 0.5", "SY 3*2": the exposure part is forgiving, an unreadable time
// being 0.1 s and an unreadable count 1.
void ParseSyncSeconds(const std::string& cell, double& seconds, int& subExposures) {
  seconds = 0.1;
  subExposures = 1;
  if (cell.size() <= 2) return;
  const std::string rest = cell.substr(2);
  const size_t star = rest.find('*');
  if (star == std::string::npos) {
    if (auto t = ParseFloat(TrimBlanks(rest.substr(0, 6))); t && *t > 0) seconds = *t;
    return;
  }
  const std::string part = rest.substr(0, 9);
  const size_t at = part.find('*');
  if (auto k = ParseInt(TrimBlanks(part.substr(0, at))); k && *k >= 1) subExposures = *k;
  if (at != std::string::npos) {
    if (auto t = ParseFloat(TrimBlanks(part.substr(at + 1))); t && *t > 0) seconds = *t;
  }
}

// "b" or "b/z".
bool ParseBinZoom(std::string_view text, int& binning, double& zoom, std::string* why = nullptr) {
  const size_t slash = text.find('/');
  auto b = ParseInt(TrimBlanks(text.substr(0, slash)));
  if (!b || *b < 1 || *b > 16) return Say(why, Unreadable("binning", text, "needs a binning of 1 to 16")), false;
  binning = *b;
  zoom = 1;
  if (slash == std::string_view::npos) return true;
  auto z = ParseFloat(TrimBlanks(text.substr(slash + 1)));
  if (!z || *z < 1 || *z > 100) return Say(why, Unreadable("binning", text, "needs a zoom of 1 to 100")), false;
  zoom = *z;
  return true;
}

bool ParseFilters(std::string_view cell, std::vector<int>& filters, std::string* why) {
  filters.clear();
  const std::string_view trimmed = TrimBlanks(cell);
  if (trimmed.empty()) {
    filters.push_back(1);
    return true;
  }
  for (size_t i = 0; i < trimmed.size() && i < 5; ++i) {
    const char c = trimmed[i];
    if (c < '0' || c > '9') return Say(why, Unreadable("filter", cell, "is not a list of filter digits")), false;
    filters.push_back(c - '0');
  }
  return true;
}

}  // namespace

RowCells CellsOfRow(const StringGrid& grid, int row) {
  RowCells cells;
  for (int column = 0; column <= kColPause; ++column) cells.push_back(grid.Cell(column, row));
  return cells;
}

std::optional<StartTime> ParseStartTime(const RowCells& cells) {
  if (EmptyCell(cells, kColUtHour)) return std::nullopt;
  auto hour = IntCell(cells, kColUtHour);
  auto minute = IntCell(cells, kColUtMinute);
  auto second = IntCell(cells, kColUtSecond);
  if (!hour || !minute || !second) return std::nullopt;
  return StartTime{*hour, *minute, *second};
}

double DaysUntil(const StartTime& start, DateTime utcNow) {
  const double target = start.Hour * 3600.0 + start.Minute * 60.0 + start.Second;
  const double now = (utcNow - std::floor(utcNow)) * kSecondsPerDay;
  double d = (target - now) / kSecondsPerDay;
  if (d < -0.5) {
    d += 1;
  } else if (d > 0.5) {
    d -= 1;
  }
  return d;
}

std::string StartTimeText(const StartTime& start) {
  return std::to_string(start.Hour) + ":" + std::to_string(start.Minute) + ":" + std::to_string(start.Second);
}

RowCommand CommandOf(const RowCells& cells) {
  const std::string& ra = Cell(cells, kColRaHour);
  if (ra.empty()) return RowCommand::NoSlew;
  if (ra == "P0" || ra == "P1") return RowCommand::Park1;
  if (ra == "P2") return RowCommand::Park2;
  if (ra == "H0") return RowCommand::Home;
  if (ra == "T0") return RowCommand::TrackingOff;
  if (ra == "T1") return RowCommand::TrackingOn;
  if (ra == "ZA") return RowCommand::OpenRoof;
  if (ra == "Z0") return RowCommand::CloseRoof;
  if (ra == "ZZ") return RowCommand::ShutDown;
  if (ra == "CD") return RowCommand::DarkFrames;
  if (ra == "CC") return RowCommand::CoolerOn;
  return RowCommand::Target;
}

std::optional<TargetPosition> ParseTargetPosition(const RowCells& cells, std::string* why) {
  auto raH = IntCell(cells, kColRaHour);
  auto raM = IntCell(cells, kColRaMinute);
  auto raS = FloatCell(cells, kColRaSecond);
  auto decD = IntCell(cells, kColDecDegree);
  auto decM = IntCell(cells, kColDecMinute);
  auto decS = FloatCell(cells, kColDecSecond);
  const std::pair<bool, std::pair<int, const char*>> parts[] = {
      {raH.has_value(), {kColRaHour, "RA(h)"}},      {raM.has_value(), {kColRaMinute, "RA(m)"}},
      {raS.has_value(), {kColRaSecond, "RA(s)"}},    {decD.has_value(), {kColDecDegree, "Dec(deg)"}},
      {decM.has_value(), {kColDecMinute, "Dec(m)"}}, {decS.has_value(), {kColDecSecond, "Dec(s)"}}};
  for (const auto& [read, column] : parts) {
    if (!read) {
      Say(why, Unreadable(column.second, Cell(cells, column.first), "is not a number (nor a command)"));
      return std::nullopt;
    }
  }
  const double ra = *raH + *raM / 60.0 + *raS / 3600.0;
  // The sign belongs to the whole declination; "-0" carries it for a declination above -1.
  const bool south = TrimBlanks(Cell(cells, kColDecDegree)).front() == '-' || *decD < 0;
  const double dec = south ? *decD - *decM / 60.0 - *decS / 3600.0 : *decD + *decM / 60.0 + *decS / 3600.0;
  if (!(ra >= 0 && ra < 24)) {
    Say(why, "RA " + FormatGeneral(ra, 8) + " h is outside 0..24");
    return std::nullopt;
  }
  if (!(dec >= -90 && dec <= 90)) {
    Say(why, "Dec " + FormatGeneral(dec, 8) + " deg is outside -90..90");
    return std::nullopt;
  }
  return TargetPosition{ra, dec};
}

std::optional<RowExposure> ParseRowExposure(const RowCells& cells, int row, const SettingsRecord& settings,
                                            std::string* why) {
  RowExposure e;
  const std::string exposure(TrimBlanks(Cell(cells, kColExposure)));
  if (exposure.empty()) return e;

  if (exposure == "FS") {
    e.Kind = ExposureKind::FocusShift;
    e.FocusShift = IntCell(cells, kColNumber).value_or(0);
    return e;
  }
  if (exposure == "AF") {
    e.Kind = ExposureKind::Autofocus;
    e.Seconds = settings.AFexptime;
    e.Binning = 3;
  } else if (exposure.compare(0, 2, "SY") == 0) {
    e.Kind = ExposureKind::Sync;
    ParseSyncSeconds(exposure, e.Seconds, e.SubExposures);
    e.Binning = settings.SyncBinning;
    if (!EmptyCell(cells, kColBinZoom)) {
      double ignoredZoom = 1;
      if (!ParseBinZoom(Cell(cells, kColBinZoom), e.Binning, ignoredZoom, why)) return std::nullopt;
    }
  } else {
    e.Kind = ExposureKind::Images;
    if (!ParseSeconds(exposure, e.Seconds, e.SubExposures, why)) return std::nullopt;
    if (!EmptyCell(cells, kColBinZoom) && !ParseBinZoom(Cell(cells, kColBinZoom), e.Binning, e.Zoom, why)) {
      return std::nullopt;
    }
    if (!EmptyCell(cells, kColNumber)) {
      auto n = IntCell(cells, kColNumber);
      if (!n || *n < 1) return Say(why, Unreadable("number", Cell(cells, kColNumber), "needs 1 or more")), std::nullopt;
      e.Number = *n;
    }
  }

  if (e.Kind != ExposureKind::Images && EmptyCell(cells, kColFilter)) {
    e.WriteStandardFilter = true;
    e.Filters = {settings.Standardfilter};
  } else if (!ParseFilters(Cell(cells, kColFilter), e.Filters, why)) {
    return std::nullopt;
  }

  e.Base = Cell(cells, kColFilename).empty() ? "img" + std::to_string(row) + "_" : Cell(cells, kColFilename);
  if (const std::string problem = FileBaseProblem(e.Base); !problem.empty()) return Say(why, problem), std::nullopt;
  if (EmptyCell(cells, kColPause)) {
    e.Pause = settings.CameraPauseTime;
  } else {
    auto pause = IntCell(cells, kColPause);
    if (!pause || *pause < 0) return Say(why, Unreadable("pause", Cell(cells, kColPause), "needs 0 or more seconds")), std::nullopt;
    e.Pause = *pause;
    e.NoSettlingPause = *pause == 0 && TrimBlanks(Cell(cells, kColPause)) == "0";
  }
  return e;
}

}  // namespace noctarbel
