#include "cli/run_summary.h"

#include <iostream>
#include <nlohmann/json.hpp>

#include "common/datetime.h"
#include "common/number_text.h"

namespace noctarbel::cli {

namespace {

nlohmann::ordered_json RowsJson(const std::vector<RowSpan>& rows) {
  nlohmann::ordered_json out = nlohmann::json::array();
  for (const RowSpan& r : rows) out.push_back({{"row", r.Row}, {"object", r.Name}, {"why", r.Note}});
  return out;
}

void PrintRows(const char* title, const std::vector<RowSpan>& rows) {
  std::cout << title << rows.size() << "\n";
  for (const RowSpan& r : rows) std::cout << "  " << RowAccountLine(r) << "\n";
}

}  // namespace

void PrintRunSummary(const RunSummary& s, bool json) {
  if (json) {
    nlohmann::ordered_json out = {{"event", "summary"},
                                  {"rows", s.Rows},
                                  {"images", s.Images},
                                  {"stacks", s.Stacks},
                                  {"errors", s.Errors},
                                  {"skipped", RowsJson(s.Account.Skipped)},
                                  {"failed", RowsJson(s.Account.Failed)},
                                  {"aborted", s.Aborted},
                                  {"all_done", s.AllDone()},
                                  {"simulated_hours", s.Hours},
                                  {"wall_seconds", s.WallSeconds},
                                  {"log", s.LogFile},
                                  {"log_saved", s.LogSaved},
                                  {"report", nullptr},
                                  {"roof_closed", nullptr},
                                  {"parked", nullptr},
                                  {"resumed", s.Resumed},
                                  {"row_spans", nlohmann::json::array()}};
    if (!s.ReportFile.empty()) out["report"] = s.ReportFile;
    if (s.RoofClosed) out["roof_closed"] = *s.RoofClosed;
    if (s.Parked) out["parked"] = *s.Parked;
    if (!s.Signal.empty()) out["signal"] = s.Signal;
    for (const RowSpan& r : s.Timeline) {
      out["row_spans"].push_back({{"row", r.Row}, {"start", FormatDateTime(r.Start)}, {"end", FormatDateTime(r.End)}});
    }
    std::cout << out.dump() << "\n";
    return;
  }
  std::cout << "rows run: " << s.Rows << "\n";
  PrintRows("rows skipped: ", s.Account.Skipped);
  PrintRows("rows failed: ", s.Account.Failed);
  std::cout << "images written: " << s.Images << "\n"
            << "stacks written: " << s.Stacks << "\n"
            << "errors: " << s.Errors << "\n"
            << "run: " << (s.Aborted ? "aborted" : s.AllDone() ? "completed" : "completed with rows not done") << "\n"
            << (s.Simulated ? "simulated time: " : "time: ") << FormatFixed(s.Hours, 2) << " h\n"
            << "wall time: " << FormatFixed(s.WallSeconds, 1) << " s\n"
            << "images in: " << s.ImageFolder << "\n"
            << "log: " << s.LogFile << (s.LogSaved ? "" : " (a copy: the image folder's log could not be written)")
            << "\n";
  if (!s.ReportFile.empty()) std::cout << "report: " << s.ReportFile << "\n";
  if (s.RoofClosed) std::cout << "roof: " << (*s.RoofClosed ? "closed" : "NOT closed") << "\n";
  if (s.Parked) std::cout << "parked: " << (*s.Parked ? "yes" : "NO") << "\n";
}

}  // namespace noctarbel::cli
