#pragma once
// The event log: the record of an unattended night. The memo's lines are the log; the
// program only appends, and "logfile.txt" is always rewritten from the whole memo.

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

  // Observers hear about every appended line (index) and, with -1, about a replacement.
  using Listener = std::function<void(long index)>;
  int Subscribe(Listener listener);
  void Unsubscribe(int token);

 private:
  void Notify(long index);

  std::vector<std::string> lines_;
  std::map<int, Listener> listeners_;
  int nextToken_ = 1;
};

}  // namespace noctarbel
