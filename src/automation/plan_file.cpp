#include "automation/plan_file.h"

#include <system_error>

#include "station/plan_columns.h"
#include "station/string_grid.h"
#include "common/number_text.h"
#include "common/text_file.h"

namespace noctarbel {

namespace {

bool IsSeparator(char c) { return c == ';' || c == '\\'; }

}  // namespace

PlanRow SplitPlanLine(const std::string& line) {
  PlanRow cells(kPlanFileColumns);
  size_t start = 0;
  for (int col = 0; col < kPlanFileColumns && start <= line.size(); ++col) {
    size_t end = start;
    while (end < line.size() && !IsSeparator(line[end])) ++end;
    cells[static_cast<size_t>(col)] = line.substr(start, end - start);
    start = end + 1;
  }
  return cells;
}

PlanFileContent ReadPlanFile(const std::filesystem::path& path) {
  PlanFileContent content;
  LineReader reader(path, kMaxPlanLineLength);
  if (!reader.IsOpen()) {
    std::error_code ec;
    const bool other = std::filesystem::exists(path, ec) && !std::filesystem::is_regular_file(path, ec);
    content.error = other ? path.string() + " is not a regular file" : "cannot open " + path.string();
    return content;
  }
  std::string line;
  bool header = true;
  while (reader.Next(line)) {
    if (reader.LastLineOverlong()) {
      content.error = path.string() + ": line " + std::to_string(reader.LineNumber()) + " is longer than " +
                      std::to_string(kMaxPlanLineLength) + " characters; not a plan file";
      return content;
    }
    if (line.find('\0') != std::string::npos) {
      content.error =
          path.string() + ": line " + std::to_string(reader.LineNumber()) + " holds binary data; not a plan file";
      return content;
    }
    if (header) {
      header = false;  // the header line is skipped whatever it holds
      continue;
    }
    if (line.empty()) continue;
    if (static_cast<int>(content.rows.size()) >= kMaxPlanRows) {
      content.error = path.string() + ": more than " + std::to_string(kMaxPlanRows) + " rows; not a plan file";
      return content;
    }
    PlanRow cells = SplitPlanLine(ToUtf8FromUtf8OrWindows1252(RemoveControlCharacters(line)));
    for (const auto& cell : cells) {
      if (cell.size() > kMaxPlanCellLength) {
        content.error = path.string() + ": line " + std::to_string(reader.LineNumber()) + " has a cell longer than " +
                        std::to_string(kMaxPlanCellLength) + " characters; not a plan file";
        return content;
      }
    }
    content.rows.push_back(std::move(cells));
  }
  if (reader.ReadError()) {
    content.error = "read error in " + path.string();
    return content;
  }
  content.ok = true;
  return content;
}

std::string PlanFileText(const StringGrid& grid) {
  const auto& titles = PlanColumnTitles();
  std::string text;
  for (int col = 1; col <= kPlanFileColumns; ++col) text += titles[static_cast<size_t>(col)] + ";";
  text += "\r\n";
  for (int row = 1; row < grid.RowCount(); ++row) {
    for (int col = 1; col <= kPlanFileColumns; ++col) text += grid.Cell(col, row) + ";";
    text += "\r\n";
  }
  return text;
}

std::string FindUnstorableCell(const StringGrid& grid) {
  const auto& titles = PlanColumnTitles();
  for (int row = 1; row < grid.RowCount(); ++row) {
    for (int col = 1; col <= kPlanFileColumns; ++col) {
      const std::string& cell = grid.Cell(col, row);
      if (cell.find_first_of(";\\\r\n") != std::string::npos) {
        return "row " + std::to_string(row) + ", column " + titles[static_cast<size_t>(col)] + ": \"" + cell + "\"";
      }
    }
  }
  return {};
}

bool SavePlanFile(const StringGrid& grid, const std::filesystem::path& path, std::string* error) {
  // A ";" or "\" inside a cell would split it when the file is read again.
  if (std::string cell = FindUnstorableCell(grid); !cell.empty()) {
    if (error) *error = "a plan cell cannot hold \";\", \"\\\" or a line break (" + cell + ")";
    return false;
  }
  return WriteFileAtomically(path, PlanFileText(grid), error);
}

bool PlanHasRows(const StringGrid& grid) {
  for (int row = 1; row < grid.RowCount(); ++row) {
    for (int col = 1; col <= kPlanFileColumns; ++col) {
      if (!TrimBlanks(grid.Cell(col, row)).empty()) return true;
    }
  }
  return false;
}

void ReplacePlanRows(StringGrid& grid, const std::vector<PlanRow>& rows) {
  grid.Batch([&] {
    for (int row = 1; row < grid.RowCount(); ++row) grid.ClearRow(row);
    grid.SetRowCount(static_cast<int>(rows.size()) + 1);
    for (size_t i = 0; i < rows.size(); ++i) {
      const int row = static_cast<int>(i) + 1;
      grid.SetCell(0, row, std::to_string(row));
      for (int col = 1; col <= kPlanFileColumns; ++col) grid.SetCell(col, row, rows[i][static_cast<size_t>(col - 1)]);
    }
    if (grid.RowCount() < 2) grid.SetRowCount(2);
  });
}

}  // namespace noctarbel
