#include "automation/row_account.h"

namespace noctarbel {

RowAccount AccountRows(const std::vector<RowSpan>& timeline) {
  RowAccount account;
  for (const RowSpan& row : timeline) {
    if (row.Outcome == RowOutcome::Skipped) account.Skipped.push_back(row);
    if (row.Outcome == RowOutcome::Problem) account.Failed.push_back(row);
  }
  return account;
}

std::string RowAccountLine(const RowSpan& row) {
  return "row " + std::to_string(row.Row) + (row.Name.empty() ? "" : " " + row.Name) +
         (row.Note.empty() ? "" : ": " + row.Note);
}

}  // namespace noctarbel
