#pragma once
// The run's journal beside its images ("run-journal.jsonl"): one JSON object per line,
// written and flushed as it happens, so that a night cut short by a kill, a crash or a
// power cut can be resumed after its last saved image:
//   {"event":"run-start","plan":PATH,"checksum":HEX,"resumed":BOOL,"ut":UT}
//   {"event":"row-start","row":N,"object":NAME}
//   {"event":"image","row":N,"image":I,"slot":S,"file":PATH}
//   {"event":"row-end","row":N}
//   {"event":"row-span","row":N,"object":NAME,"start":UT,"end":UT,"outcome":WORD,"why":TEXT}
//   {"event":"run-end","completed":BOOL}
// A run that is not a resumption begins a new night in the journal; a resumed run adds to
// the night it resumes.

#include <filesystem>
#include <map>
#include <optional>
#include <vector>
#include <set>
#include <string>
#include <utility>

#include "common/datetime.h"
#include "station/run_state.h"

namespace noctarbel {

class StringGrid;

inline constexpr const char* kRunJournalFileName = "run-journal.jsonl";

// The plan table's rows as a checksum (hex): a journal belongs to the plan it was run from.
// An empty filter cell counts as the standard filter, which a run writes into it.
std::string PlanChecksum(const StringGrid& plan, int standardFilter);

// What a journal says about the last night it records.
struct JournalNight {
  std::string PlanPath;
  std::string Checksum;
  bool Completed = false;  // its last run went through every row
  std::set<int> FinishedRows;
  // Row -> the (image, filter slot) pairs saved.
  std::map<int, std::set<std::pair<int, int>>> Saved;
  int LastRow = 0;  // the last row started
  std::string LastFile;
  // For the night's report: when it started, each row's span on the time line (a resumed
  // night's too) and every image saved, in order.
  DateTime StartUt = 0;
  std::vector<RowSpan> Spans;
  std::vector<std::string> Files;

  bool RowFinished(int row) const { return FinishedRows.count(row) > 0; }
  bool ImageSaved(int row, int image, int slot) const;
  // Where a run goes on, for the log: "row 3 (M 51) after image 2".
  std::string WhereText() const;
};

// The night recorded in folder's journal; nothing when there is none (or no run start in it).
std::optional<JournalNight> ReadRunJournal(const std::filesystem::path& folder);

// Whether the journal in the image folder lets a run of this plan resume.
enum class ResumeVerdict { NoJournal, Completed, OtherPlan, Resumable };
struct ResumeCheck {
  ResumeVerdict Verdict = ResumeVerdict::NoJournal;
  std::optional<JournalNight> Night;
  // A sentence for the operator (empty for NoJournal).
  std::string Message;
};
ResumeCheck CheckResume(const std::filesystem::path& folder, const std::string& checksum);

class RunJournal {
 public:
  RunJournal() = default;
  ~RunJournal();
  RunJournal(const RunJournal&) = delete;
  RunJournal& operator=(const RunJournal&) = delete;

  // Opens folder's journal for appending. False with the reason when it cannot.
  bool Open(const std::filesystem::path& folder, std::string* error);
  void RunStarted(const std::string& planPath, const std::string& checksum, bool resumed, DateTime ut);
  void RowStarted(int row, const std::string& object);
  void ImageSaved(int row, int image, int slot, const std::string& file);
  void RowFinished(int row);
  // Every row, however it ended (skipped, stopped): its span and why.
  void RowSpanned(const RowSpan& span);
  void RunEnded(bool completed);

 private:
  void Write(const std::string& line);
  int fd_ = -1;
};

}  // namespace noctarbel
