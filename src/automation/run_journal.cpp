#include "automation/run_journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "automation/night_timeline.h"
#include "common/text_file.h"
#include "station/plan_columns.h"
#include "station/string_grid.h"

namespace noctarbel {

std::string PlanChecksum(const StringGrid& plan, int standardFilter) {
  std::uint64_t hash = 1469598103934665603ULL;  // FNV-1a
  auto add = [&hash](unsigned char byte) {
    hash ^= byte;
    hash *= 1099511628211ULL;
  };
  for (int row = 1; row < plan.RowCount(); ++row) {
    for (int col = 1; col < plan.ColCount(); ++col) {
      const std::string& cell = plan.Cell(col, row);
      for (unsigned char c : col == kColFilter && cell.empty() ? std::to_string(standardFilter) : cell) add(c);
      add(0x1F);
    }
    add(0x1E);
  }
  char text[20];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

bool JournalNight::ImageSaved(int row, int image, int slot) const {
  auto found = Saved.find(row);
  return found != Saved.end() && found->second.count({image, slot}) > 0;
}

std::string JournalNight::WhereText() const {
  if (LastRow == 0) return "before the first row";
  auto saved = Saved.find(LastRow);
  const int images = saved == Saved.end() ? 0 : static_cast<int>(saved->second.size());
  if (RowFinished(LastRow)) return "after row " + std::to_string(LastRow);
  return "in row " + std::to_string(LastRow) + " after " + std::to_string(images) + " saved image" +
         (images == 1 ? "" : "s");
}

std::optional<JournalNight> ReadRunJournal(const std::filesystem::path& folder) {
  LineReader reader(folder / kRunJournalFileName, 1 << 20);
  if (!reader.IsOpen()) return std::nullopt;
  std::optional<JournalNight> night;
  std::string line;
  while (reader.Next(line)) {
    // A line cut short by a kill is not a record.
    const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
    if (!record.is_object() || !record.contains("event")) continue;
    const std::string event = record.value("event", "");
    if (event == "run-start") {
      if (!night || !record.value("resumed", false)) night = JournalNight{};
      if (night->StartUt == 0) night->StartUt = ParseIsoDateTime(record.value("ut", "")).value_or(0);
      night->PlanPath = record.value("plan", "");
      night->Checksum = record.value("checksum", "");
      night->Completed = false;
      continue;
    }
    if (!night) continue;
    const int row = record.value("row", 0);
    if (event == "row-start") {
      night->LastRow = row;
    } else if (event == "image") {
      night->Saved[row].insert({record.value("image", 0), record.value("slot", 0)});
      night->LastFile = record.value("file", "");
      night->Files.push_back(night->LastFile);
    } else if (event == "row-end") {
      night->FinishedRows.insert(row);
    } else if (event == "row-span") {
      RowSpan span;
      span.Row = row;
      span.Name = record.value("object", "");
      span.Start = ParseIsoDateTime(record.value("start", "")).value_or(0);
      span.End = ParseIsoDateTime(record.value("end", "")).value_or(span.Start);
      span.Outcome = RowOutcomeFromName(record.value("outcome", "")).value_or(RowOutcome::Done);
      span.Note = record.value("why", "");
      night->Spans.push_back(std::move(span));
    } else if (event == "run-end") {
      night->Completed = record.value("completed", false);
    }
  }
  return night;
}

ResumeCheck CheckResume(const std::filesystem::path& folder, const std::string& checksum) {
  ResumeCheck check;
  check.Night = ReadRunJournal(folder);
  const std::string journal = (folder / kRunJournalFileName).string();
  if (!check.Night) return check;
  if (check.Night->Checksum != checksum) {
    check.Verdict = ResumeVerdict::OtherPlan;
    const std::string& plan = check.Night->PlanPath;
    check.Message = "the journal " + journal + " is of another plan (" + (plan.empty() ? "" : plan + ", ") +
                    "or of this plan before it was changed)";
  } else if (check.Night->Completed) {
    check.Verdict = ResumeVerdict::Completed;
    check.Message = "the night in " + journal + " was completed: nothing to resume";
  } else {
    check.Verdict = ResumeVerdict::Resumable;
    check.Message = "the night in " + journal + " stopped " + check.Night->WhereText();
  }
  return check;
}

RunJournal::~RunJournal() {
  if (fd_ >= 0) ::close(fd_);
}

bool RunJournal::Open(const std::filesystem::path& folder, std::string* error) {
  const std::filesystem::path file = folder / kRunJournalFileName;
  fd_ = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd_ < 0 && error) *error = "cannot write " + file.string() + ": " + std::strerror(errno);
  return fd_ >= 0;
}

void RunJournal::Write(const std::string& line) {
  if (fd_ < 0) return;
  const std::string text = line + "\n";
  // One write per record: a kill leaves at most this line incomplete.
  if (::write(fd_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    ::close(fd_);
    fd_ = -1;
    return;
  }
  ::fdatasync(fd_);
}

void RunJournal::RunStarted(const std::string& planPath, const std::string& checksum, bool resumed, DateTime ut) {
  nlohmann::ordered_json record = {{"event", "run-start"},  {"plan", planPath},          {"checksum", checksum},
                                   {"resumed", resumed},     {"ut", FormatDateTime(ut)}};
  Write(record.dump());
}

void RunJournal::RowStarted(int row, const std::string& object) {
  Write(nlohmann::ordered_json{{"event", "row-start"}, {"row", row}, {"object", object}}.dump());
}

void RunJournal::ImageSaved(int row, int image, int slot, const std::string& file) {
  Write(nlohmann::ordered_json{{"event", "image"}, {"row", row}, {"image", image}, {"slot", slot}, {"file", file}}
            .dump());
}

void RunJournal::RowFinished(int row) { Write(nlohmann::ordered_json{{"event", "row-end"}, {"row", row}}.dump()); }

void RunJournal::RowSpanned(const RowSpan& span) {
  Write(nlohmann::ordered_json{{"event", "row-span"},
                               {"row", span.Row},
                               {"object", span.Name},
                               {"start", FormatDateTime(span.Start)},
                               {"end", FormatDateTime(span.End)},
                               {"outcome", RowOutcomeName(span.Outcome)},
                               {"why", span.Note}}
            .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

void RunJournal::RunEnded(bool completed) {
  Write(nlohmann::ordered_json{{"event", "run-end"}, {"completed", completed}}.dump());
}

}  // namespace noctarbel
