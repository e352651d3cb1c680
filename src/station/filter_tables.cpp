#include "station/filter_tables.h"

#include <system_error>

#include "common/number_text.h"
#include "common/text_file.h"

namespace noctarbel {

namespace {

constexpr size_t kMaxTableLine = 1 << 16;
// Names and numbers are short; a longer field is cut so that a saved line always reads back.
constexpr size_t kMaxTableField = 1024;

std::string DefaultFilterName(int n) { return "Filter " + std::to_string(n); }

// A saved line must read back as the same two fields: a comma or a line break inside a cell
// would split it, so those become blanks.
std::string StorableField(const std::string& cell) {
  std::string out = RemoveControlCharacters(cell);
  for (char& c : out) {
    if (c == ',') c = ' ';
  }
  return out;
}

void WriteGridHeader(StringGrid& grid, const char* nameTitle, const char* numberTitle) {
  grid.SetCell(0, 0, "N");
  grid.SetCell(1, 0, nameTitle);
  grid.SetCell(2, 0, numberTitle);
}

std::string CleanLine(const std::string& line) { return ToUtf8FromUtf8OrWindows1252(RemoveControlCharacters(line)); }

std::string Field(const std::string& line, int n) { return TruncateUtf8(LineField(line, n, ","), kMaxTableField); }

}  // namespace

std::string LineField(std::string_view line, int n, std::string_view separators) {
  if (n < 1) return {};
  size_t start = 0;
  for (int field = 1;; ++field) {
    size_t end = line.find_first_of(separators, start);
    if (field == n) return std::string(line.substr(start, end == std::string_view::npos ? line.npos : end - start));
    if (end == std::string_view::npos) return {};
    start = end + 1;
  }
}

void LoadFilterTable(FilterTable& table, const std::filesystem::path& folder, bool filternamesFromFile) {
  table.FilterNames.clear();
  table.FilterOffsets.clear();
  table.Filtertable.Batch([&] {
    WriteGridHeader(table.Filtertable, "Filter name", "Focus offset");
    if (!filternamesFromFile) return;  // the filter wheel's driver fills the lists when it connects
    const auto path = folder / kFilterTableFileName;
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
      LineReader reader(path, kMaxTableLine);
      std::string line;
      while (reader.IsOpen() && reader.LineNumber() < kFilterGridRows && reader.Next(line)) {
        if (reader.LastLineOverlong()) continue;
        line = CleanLine(line);
        std::string name = Field(line, 1);
        if (name.empty()) continue;
        table.FilterNames.push_back(name);
        table.FilterOffsets.push_back(Field(line, 2));
      }
    } else {
      std::vector<std::string> lines;
      for (int n = 1; n <= kFilterGridRows; ++n) {
        lines.push_back(DefaultFilterName(n) + ",0");
        table.FilterNames.push_back(DefaultFilterName(n));
        table.FilterOffsets.push_back("0");
      }
      WriteFileAtomically(path, JoinLinesCrLf(lines));  // a folder we cannot write is skipped
    }
    for (int row = 1; row <= kFilterGridRows; ++row) {
      table.Filtertable.SetCell(0, row, std::to_string(row));
      bool listed = static_cast<int>(table.FilterNames.size()) >= row;
      table.Filtertable.SetCell(1, row, listed ? table.FilterNames[row - 1] : DefaultFilterName(row));
      table.Filtertable.SetCell(2, row, listed ? table.FilterOffsets[row - 1] : "0");
    }
  });
}

bool SaveFilterTable(FilterTable& table, const std::filesystem::path& folder, bool filternamesFromFile) {
  if (!filternamesFromFile) return true;
  std::vector<std::string> lines;
  for (int row = 1; row <= kFilterGridRows; ++row) {
    const std::string& name = table.Filtertable.Cell(1, row);
    const std::string& offset = table.Filtertable.Cell(2, row);
    if (static_cast<int>(table.FilterNames.size()) >= row) {
      table.FilterNames[row - 1] = name;
      table.FilterOffsets[row - 1] = offset;
    }
    lines.push_back(StorableField(name) + "," + StorableField(offset));
  }
  return WriteFileAtomically(folder / kFilterTableFileName, JoinLinesCrLf(lines));
}

void LoadFocusTable(FocusTable& table, const std::filesystem::path& folder) {
  table.FocusNames.clear();
  table.FocusPositions.clear();
  const auto path = folder / kFocusTableFileName;
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    WriteFileAtomically(path, "");
  } else {
    LineReader reader(path, kMaxTableLine);
    std::string line;
    while (reader.IsOpen() && reader.LineNumber() < kMaxFocusEntries && reader.Next(line)) {
      if (reader.LastLineOverlong()) continue;
      line = CleanLine(line);
      table.FocusNames.push_back(Field(line, 1));
      table.FocusPositions.push_back(Field(line, 2));
    }
  }
  table.Focustable.Batch([&] {
    // The grid grows so that every entry can be seen and saved again.
    int rows = std::max<int>(kFocusGridRows, static_cast<int>(table.FocusNames.size())) + 1;
    table.Focustable.SetRowCount(0);
    table.Focustable.SetRowCount(rows);
    WriteGridHeader(table.Focustable, "Focus name", "Focus position");
    for (size_t i = 0; i < table.FocusNames.size(); ++i) {
      int row = static_cast<int>(i) + 1;
      table.Focustable.SetCell(0, row, std::to_string(row));
      table.Focustable.SetCell(1, row, table.FocusNames[i]);
      table.Focustable.SetCell(2, row, table.FocusPositions[i]);
    }
  });
}

bool SaveFocusTable(FocusTable& table, const std::filesystem::path& folder) {
  table.FocusNames.clear();
  table.FocusPositions.clear();
  std::vector<std::string> lines;
  for (int row = 1; row < table.Focustable.RowCount(); ++row) {
    const std::string& name = table.Focustable.Cell(1, row);
    const std::string& position = table.Focustable.Cell(2, row);
    if (name.empty() || position.empty()) continue;
    table.FocusNames.push_back(name);
    table.FocusPositions.push_back(position);
    lines.push_back(StorableField(name) + "," + StorableField(position));
  }
  return WriteFileAtomically(folder / kFocusTableFileName, JoinLinesCrLf(lines));
}

std::string FilterName(const FilterTable& table, int slot) {
  if (slot < 1 || slot > static_cast<int>(table.FilterNames.size())) return {};
  return table.FilterNames[static_cast<size_t>(slot - 1)];
}

int FilterOffset(const FilterTable& table, int slot) {
  if (slot < 1 || slot > static_cast<int>(table.FilterOffsets.size())) return 0;
  return ParseInt(table.FilterOffsets[static_cast<size_t>(slot - 1)]).value_or(0);
}

}  // namespace noctarbel
