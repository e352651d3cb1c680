#pragma once
// The filter table "filterwheel.txt" (a name and a focus offset per filter slot) and the
// focus table "focustable.txt" (named focuser positions), each with the grid the settings
// dialog shows. Lines are "name,number" with CR LF; fields are taken as they stand.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "station/string_grid.h"

namespace noctarbel {

inline constexpr const char* kFilterTableFileName = "filterwheel.txt";
inline constexpr const char* kFocusTableFileName = "focustable.txt";
inline constexpr int kFilterGridRows = 10;
inline constexpr int kFocusGridRows = 19;
// A focus table is a short list; more lines than this are not read.
inline constexpr int kMaxFocusEntries = 1000;

struct FilterTable {
  // Entry i-1 belongs to filter slot i.
  std::vector<std::string> FilterNames;
  std::vector<std::string> FilterOffsets;
  StringGrid Filtertable{3, kFilterGridRows + 1};
};

struct FocusTable {
  std::vector<std::string> FocusNames;
  std::vector<std::string> FocusPositions;
  StringGrid Focustable{3, kFocusGridRows + 1};
};

// The n-th (1-based) field of a line split at any of the separator characters; a missing
// field is empty.
std::string LineField(std::string_view line, int n, std::string_view separators);

void LoadFilterTable(FilterTable& table, const std::filesystem::path& folder, bool filternamesFromFile);
// Only when filter names come from the file; false when the file cannot be written.
bool SaveFilterTable(FilterTable& table, const std::filesystem::path& folder, bool filternamesFromFile);
void LoadFocusTable(FocusTable& table, const std::filesystem::path& folder);
bool SaveFocusTable(FocusTable& table, const std::filesystem::path& folder);

// Filter name of slot n (1-based), empty when unknown.
std::string FilterName(const FilterTable& table, int slot);
// Focus offset of slot n as an integer; an empty or unreadable entry counts as 0.
int FilterOffset(const FilterTable& table, int slot);

}  // namespace noctarbel
