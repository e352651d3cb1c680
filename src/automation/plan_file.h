#pragma once
// Plan files: a header line, then one line per plan row with the 16 cells of columns 1..16,
// each followed by ";". Lines end in CR LF. Readers take ";" and "\" as separators, skip
// empty lines, accept a byte-order mark, CR, LF or CR LF line ends and Windows-1252 bytes.

#include <filesystem>
#include <string>
#include <vector>

namespace noctarbel {

class StringGrid;

inline constexpr int kPlanFileColumns = 16;
inline constexpr const char* kPlanFileFilter = "autopilot table|*.csv|text file|*.txt";
// Limits that keep a wrong file (a picture, a log) from flooding the table.
inline constexpr size_t kMaxPlanLineLength = 1 << 18;
inline constexpr size_t kMaxPlanCellLength = 4096;
inline constexpr int kMaxPlanRows = 10000;

using PlanRow = std::vector<std::string>;  // cells of columns 1..16

struct PlanFileContent {
  bool ok = false;
  std::string error;  // one line, when not ok
  std::vector<PlanRow> rows;
};

// Reads the rows of a plan file without touching any table.
PlanFileContent ReadPlanFile(const std::filesystem::path& path);
// Splits one line into the 16 cells.
PlanRow SplitPlanLine(const std::string& line);

// The header line and the lines of rows 1..n of the grid.
std::string PlanFileText(const StringGrid& grid);
// A cell that would not read back as it stands (";", "\" or a line break inside): the
// position and text for a message, empty when every cell can be stored.
std::string FindUnstorableCell(const StringGrid& grid);
bool SavePlanFile(const StringGrid& grid, const std::filesystem::path& path, std::string* error);

// The rows into the table in place of what it held (rows numbered, at least one row).
// Some row of the table holds something (an empty plan keeps one blank row).
bool PlanHasRows(const StringGrid& grid);
void ReplacePlanRows(StringGrid& grid, const std::vector<PlanRow>& rows);

}  // namespace noctarbel
