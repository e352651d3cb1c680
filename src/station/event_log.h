#pragma once
// The event log: the record of an unattended night. The memo's lines are the log; the
// program only appends. While a run goes on, every line is also appended to the night's
// "logfile.txt" as it is logged, so that a kill loses at most the line being written.

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/datetime.h"

namespace noctarbel {

inline constexpr const char* kLogFileName = "logfile.txt";

class EventLog {
 public:
  EventLog() = default;
  ~EventLog();
  EventLog(const EventLog&) = delete;
  EventLog& operator=(const EventLog&) = delete;

  // Line breaks inside the text become blanks: one entry is one line of the file.
  void Append(std::string line);
  // A time stamp ("YYYY-MM-DD HH:MM:SS", the date alone at exactly midnight) directly
  // followed by the message, which callers usually begin with ": ".
  void AppendTimed(DateTime stamp, const std::string& message);
  // The operator may type into the memo; the desktop program hands the edited text back.
  void ReplaceAll(std::vector<std::string> lines);

  const std::vector<std::string>& Lines() const { return lines_; }
  size_t Size() const { return lines_.size(); }
  const std::string& Last() const;

  // Writes every line followed by CR LF into folder/logfile.txt, replacing the file.
  bool SaveTo(const std::filesystem::path& folder, std::string* error = nullptr) const;

  // From now on each line is appended to folder/logfile.txt (followed by CR LF, one write
  // each) as it is logged; the lines this file does not hold yet go first. False when the
  // file cannot be written; FileError() then, or after a later failure, says why.
  bool WriteAlongTo(const std::filesystem::path& folder);
  void StopWritingAlong();
  bool WritingAlong() const { return fd_ >= 0; }
  // Why writing along failed (empty while it works).
  const std::string& FileError() const { return fileError_; }

  // Observers hear about every appended line (index) and, with -1, about a replacement.
  using Listener = std::function<void(long index)>;
  int Subscribe(Listener listener);
  void Unsubscribe(int token);

 private:
  void Notify(long index);
  void WriteAlong(size_t from);

  std::vector<std::string> lines_;
  std::map<int, Listener> listeners_;
  int nextToken_ = 1;

  int fd_ = -1;
  std::filesystem::path file_;  // the file written along to (also after it was closed)
  size_t written_ = 0;          // the memo's lines that file holds
  std::string fileError_;
};

}  // namespace noctarbel
