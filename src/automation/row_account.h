#pragma once
// The account of a run's rows: which were skipped (a cell that does not convert, a target
// below the horizon) and which ran without doing all they were asked (an autofocus that
// failed, a sync that did not sync, a stack not saved), each with why. A night counts as done
// only when every row ran and did what it was asked.

#include <string>
#include <vector>

#include "station/run_state.h"

namespace noctarbel {

struct RowAccount {
  std::vector<RowSpan> Skipped;
  std::vector<RowSpan> Failed;
  bool AllDone() const { return Skipped.empty() && Failed.empty(); }
};

RowAccount AccountRows(const std::vector<RowSpan>& timeline);
// "row 5 M 31: exposure 'nan' is not a number".
std::string RowAccountLine(const RowSpan& row);

}  // namespace noctarbel
