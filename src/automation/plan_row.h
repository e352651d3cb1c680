#pragma once
// What the cells of one plan row say, read only when the row runs: its start time, its
// command in "RA(h)", its target position, and the exposure part ("exp.(s)" with AF, FS and
// SY, binning and zoom, filters, number, file-name base, pause). Pure functions over the
// cells' texts.

#include <optional>
#include <string>
#include <vector>

#include "common/datetime.h"

namespace noctarbel {

struct SettingsRecord;
class StringGrid;

// Cells of columns 0..16 of one row.
using RowCells = std::vector<std::string>;
RowCells CellsOfRow(const StringGrid& grid, int row);

struct StartTime {
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
};
// Only when "UT(h)" is not empty and the three cells are integers.
std::optional<StartTime> ParseStartTime(const RowCells& cells);
// Days from `utcNow` to the start time's nearest occurrence (within half a day either way):
// negative when the row is late, so a row runs at once rather than a day later.
double DaysUntil(const StartTime& start, DateTime utcNow);
// "21:5:0": the numbers as they are, without leading zeros.
std::string StartTimeText(const StartTime& start);

enum class RowCommand {
  NoSlew,  // "RA(h)" empty: the telescope stays where it is
  Target,
  Park1,  // "P0", "P1"
  Park2,
  Home,
  TrackingOff,
  TrackingOn,
  OpenRoof,   // "ZA"
  CloseRoof,  // "Z0"
  ShutDown,   // "ZZ"
  DarkFrames,
  CoolerOn,
};
RowCommand CommandOf(const RowCells& cells);

struct TargetPosition {
  double RaHours = 0;
  double DecDeg = 0;
};
// The J2000 position of columns 5..10; a "-" in front of the degrees (or negative degrees)
// makes the whole declination negative, so "-0" with 30 minutes is -0.5 degrees. Nothing
// when a cell does not convert (`why` then says which and how).
std::optional<TargetPosition> ParseTargetPosition(const RowCells& cells, std::string* why = nullptr);

enum class ExposureKind {
  None,        // "exp.(s)" empty: no images
  Autofocus,   // "AF"
  FocusShift,  // "FS"
  Sync,        // "SY"
  Images,
};

struct RowExposure {
  ExposureKind Kind = ExposureKind::None;
  double Seconds = 0;        // t, one (sub-)exposure
  int SubExposures = 1;      // k
  int Binning = 1;           // b
  double Zoom = 1;           // z
  int Number = 1;            // n, images per filter
  std::vector<int> Filters;  // 1-based filter numbers, 1..5 of them
  // The filter cell was empty in an AF or SY row: the standard filter is written into it.
  bool WriteStandardFilter = false;
  std::string Base;              // file-name base; "-" saves nothing
  int Pause = 0;                 // seconds before each image after the first
  bool NoSettlingPause = false;  // "Pause(s)" is "0"
  int FocusShift = 0;            // "FS": steps
};

// The exposure part of a row (row number for the default base); nothing when a cell does not
// convert or the file-name base names a folder (`why` then says which cell and how).
std::optional<RowExposure> ParseRowExposure(const RowCells& cells, int row, const SettingsRecord& settings,
                                            std::string* why = nullptr);

}  // namespace noctarbel
