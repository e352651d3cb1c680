#pragma once
// The plan table's columns: titles in row 0 and the header line of plan files.

#include <string>
#include <vector>

namespace noctarbel {

inline constexpr int kPlanColumns = 17;

enum PlanColumn {
  kColIndex = 0,
  kColUtHour = 1,
  kColUtMinute = 2,
  kColUtSecond = 3,
  kColObject = 4,
  kColRaHour = 5,
  kColRaMinute = 6,
  kColRaSecond = 7,
  kColDecDegree = 8,
  kColDecMinute = 9,
  kColDecSecond = 10,
  kColExposure = 11,
  kColBinZoom = 12,
  kColFilter = 13,
  kColNumber = 14,
  kColFilename = 15,
  kColPause = 16,
};

// The 17 titles, "index" first.
const std::vector<std::string>& PlanColumnTitles();
// Default column widths in pixels.
const std::vector<int>& PlanColumnWidths();

}  // namespace noctarbel
