#pragma once
// The last words of `run`: what the night did, the rows it skipped and the rows that did not
// do all they were asked, as text or as the --json-events "summary" object.

#include <optional>
#include <string>
#include <vector>

#include "automation/row_account.h"

namespace noctarbel::cli {

struct RunSummary {
  int Rows = 0;
  size_t Images = 0;
  size_t Stacks = 0;
  int Errors = 0;
  bool Aborted = false;
  bool Simulated = false;
  double Hours = 0;
  double WallSeconds = 0;
  std::string ImageFolder;
  std::string LogFile;
  bool LogSaved = true;  // false: LogFile is the station folder's copy
  std::string ReportFile;  // empty: the night's report could not be written
  std::optional<bool> RoofClosed;  // no value: no observatory control
  std::optional<bool> Parked;      // no value: the clean-up did not park
  bool Resumed = false;
  std::string Signal;  // the signal that stopped the run, if any
  bool EmptyPlan = false;
  RowAccount Account;
  std::vector<RowSpan> Timeline;  // every row: from the end of its wait to its end

  // Every row ran and did what it was asked, and the log was written.
  bool AllDone() const { return !Aborted && LogSaved && !EmptyPlan && Account.AllDone(); }
};

void PrintRunSummary(const RunSummary& summary, bool json);

}  // namespace noctarbel::cli
