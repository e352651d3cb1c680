#include "station/event_log.h"

#include "common/text_file.h"

namespace noctarbel {

void EventLog::Append(std::string line) {
  // Messages may quote device texts with line breaks; the log keeps one entry per line.
  if (line.find_first_of("\r\n") != std::string::npos) line = JoinedToOneLine(line);
  lines_.push_back(std::move(line));
  Notify(static_cast<long>(lines_.size()) - 1);
}

void EventLog::AppendTimed(DateTime stamp, const std::string& message) { Append(FormatLogTimestamp(stamp) + message); }

void EventLog::ReplaceAll(std::vector<std::string> lines) {
  lines_ = std::move(lines);
  Notify(-1);
}

const std::string& EventLog::Last() const {
  static const std::string kEmpty;
  return lines_.empty() ? kEmpty : lines_.back();
}

bool EventLog::SaveTo(const std::filesystem::path& folder, std::string* error) const {
  return WriteFileAtomically(folder / kLogFileName, JoinLinesCrLf(lines_), error);
}

int EventLog::Subscribe(Listener listener) {
  int token = nextToken_++;
  listeners_.emplace(token, std::move(listener));
  return token;
}

void EventLog::Unsubscribe(int token) { listeners_.erase(token); }

void EventLog::Notify(long index) {
  if (listeners_.empty()) return;
  auto listeners = listeners_;
  for (auto& [token, listener] : listeners) listener(index);
}

}  // namespace noctarbel
