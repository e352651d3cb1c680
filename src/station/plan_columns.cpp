#include "station/plan_columns.h"

namespace noctarbel {

const std::vector<std::string>& PlanColumnTitles() {
  static const std::vector<std::string> titles = {
      "index",  "UT(h)",   "UT(m)",   "UT(s)",    "Object name",  "RA(h)",  "RA(m)",    "RA(s)",   "DEC(°)",
      "DEC(')", "DEC(\")", "exp.(s)", "bin/zoom", "filter(1..n)", "number", "filename", "Pause(s)"};
  return titles;
}

const std::vector<int>& PlanColumnWidths() {
  static const std::vector<int> widths = {30, 33, 33, 30, 98, 38, 36, 36, 35, 37, 35, 38, 51, 44, 40, 125, 40};
  return widths;
}

}  // namespace noctarbel
