#include "station/event_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/text_file.h"

namespace noctarbel {

void EventLog::Append(std::string line) {
  // Messages may quote device texts with line breaks; the log keeps one entry per line.
  if (line.find_first_of("\r\n") != std::string::npos) line = JoinedToOneLine(line);
  lines_.push_back(std::move(line));
  if (fd_ >= 0) WriteAlong(written_);
  Notify(static_cast<long>(lines_.size()) - 1);
}

void EventLog::AppendTimed(DateTime stamp, const std::string& message) { Append(FormatLogTimestamp(stamp) + message); }

void EventLog::ReplaceAll(std::vector<std::string> lines) {
  lines_ = std::move(lines);
  // What the file holds stays; the edited memo is not written into it again.
  written_ = lines_.size();
  Notify(-1);
}

const std::string& EventLog::Last() const {
  static const std::string kEmpty;
  return lines_.empty() ? kEmpty : lines_.back();
}

bool EventLog::SaveTo(const std::filesystem::path& folder, std::string* error) const {
  return WriteFileAtomically(folder / kLogFileName, JoinLinesCrLf(lines_), error);
}

EventLog::~EventLog() { StopWritingAlong(); }

bool EventLog::WriteAlongTo(const std::filesystem::path& folder) {
  StopWritingAlong();
  const std::filesystem::path file = folder / kLogFileName;
  if (file != file_) written_ = 0;
  file_ = file;
  fileError_.clear();
  fd_ = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd_ < 0) {
    fileError_ = "cannot write " + file.string() + ": " + std::strerror(errno);
    return false;
  }
  WriteAlong(written_);
  return fd_ >= 0;
}

void EventLog::StopWritingAlong() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void EventLog::WriteAlong(size_t from) {
  for (size_t i = from; i < lines_.size() && fd_ >= 0; ++i) {
    const std::string text = lines_[i] + "\r\n";
    const ssize_t n = ::write(fd_, text.data(), text.size());
    if (n != static_cast<ssize_t>(text.size())) {
      fileError_ = "cannot write " + file_.string() + ": " + std::strerror(n < 0 ? errno : ENOSPC);
      StopWritingAlong();
      return;
    }
    written_ = i + 1;
  }
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
