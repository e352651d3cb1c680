#pragma once
// What the cells of one plan row say, read only when the row runs: its start time, its
// command in "RA(h)", its target position, and the exposure part ("exp.(s)" with AF, FS and
// SY, binning and zoom, filters, number, file-name base, pause). Pure functions over the
// cells' texts.

#include <optional>
#include <string>
#include <vector>

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
// when a cell does not convert.
std::optional<TargetPosition> ParseTargetPosition(const RowCells& cells);

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
// convert (the row then ends without a log line).
std::optional<RowExposure> ParseRowExposure(const RowCells& cells, int row, const SettingsRecord& settings);

}  // namespace noctarbel
