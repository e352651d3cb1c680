#pragma once
// Small catalogue files written record by record, for cases the shipped catalogue lacks.

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/test_support.h"

namespace noctarbel::testing {

// A 102-byte record: `head` from position 1 ("NGC 5194", "IC 4725"), RA hours at 14, RA
// minutes at 17, Dec sign and degrees at 23, arcminutes at 27, CR LF at the end.
inline std::string CatalogueRecord(const std::string& head, const std::string& raHours, const std::string& raMinutes,
                                   const std::string& decDegrees, const std::string& decMinutes) {
  std::string record(100, ' ');
  auto put = [&](size_t position, const std::string& text) { record.replace(position - 1, text.size(), text); };
  put(1, head);
  put(14, raHours);
  put(17, raMinutes);
  put(23, decDegrees);
  put(27, decMinutes);
  return record + "\r\n";
}

// Index bytes: entry n (little-endian) holds entries[n].
inline std::string IndexFile(const std::vector<std::pair<int, std::uint16_t>>& entries, int size) {
  std::string bytes(2 * static_cast<size_t>(size), '\0');
  for (const auto& [number, record] : entries) {
    bytes[2 * number] = static_cast<char>(record & 0xFF);
    bytes[2 * number + 1] = static_cast<char>(record >> 8);
  }
  return bytes;
}

// Writes ngc2000.dat, ngc.idx and ic.idx into `folder`.
inline void WriteCatalogue(const std::filesystem::path& folder, const std::vector<std::string>& records,
                           const std::vector<std::pair<int, std::uint16_t>>& ngcIndex,
                           const std::vector<std::pair<int, std::uint16_t>>& icIndex) {
  std::filesystem::create_directories(folder);
  std::string data;
  for (const auto& record : records) data += record;
  WriteFile(folder / "ngc2000.dat", data);
  WriteFile(folder / "ngc.idx", IndexFile(ngcIndex, 7841));
  WriteFile(folder / "ic.idx", IndexFile(icIndex, 5387));
}

}  // namespace noctarbel::testing
