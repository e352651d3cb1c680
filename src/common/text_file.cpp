#include "common/text_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <system_error>

namespace noctarbel {

namespace {
constexpr size_t kChunk = 1 << 16;
}

LineReader::LineReader(const std::filesystem::path& path, size_t maxLineLength)
    : maxLineLength_(maxLineLength == 0 ? 1 : maxLineLength) {
  // Only regular files: a device (/dev/zero) or a pipe would never end.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return;
  file_ = std::fopen(path.c_str(), "rb");
  buffer_.resize(kChunk + maxLineLength_ + 1);
  if (file_) SkipByteOrderMark();
}

void LineReader::SkipByteOrderMark() {
  while (end_ - begin_ < kUtf8ByteOrderMark.size() && Fill()) {
  }
  if (std::string_view(buffer_.data() + begin_, end_ - begin_).substr(0, 3) == kUtf8ByteOrderMark) begin_ += 3;
}

const char* LineReader::FindLineEnd(const char* start, size_t size) {
  const void* lf = std::memchr(start, '\n', size);
  const size_t beforeLf = lf ? static_cast<size_t>(static_cast<const char*>(lf) - start) : size;
  const void* cr = std::memchr(start, '\r', beforeLf);
  return static_cast<const char*>(cr ? cr : lf);
}

LineReader::~LineReader() {
  if (file_) std::fclose(file_);
}

bool LineReader::Fill() {
  if (eof_ || !file_) return false;
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  size_t room = buffer_.size() - end_;
  if (room == 0) return false;
  size_t got = std::fread(buffer_.data() + end_, 1, room, file_);
  if (got == 0) {
    if (std::ferror(file_)) readError_ = true;
    eof_ = true;
    return false;
  }
  end_ += got;
  return true;
}

bool LineReader::Next(std::string& line) {
  if (!file_) return false;
  overlong_ = false;
  line.clear();
  bool collectedAny = false;
  for (;;) {
    if (skipLf_ && begin_ < end_) {
      if (buffer_[begin_] == '\n') ++begin_;
      skipLf_ = false;
    }
    // Look for the line end in what is buffered.
    const char* start = buffer_.data() + begin_;
    const size_t avail = end_ - begin_;
    if (const char* hit = FindLineEnd(start, avail)) {
      size_t len = static_cast<size_t>(hit - start);
      size_t take = len;
      if (line.size() + take > maxLineLength_) {
        take = maxLineLength_ > line.size() ? maxLineLength_ - line.size() : 0;
        overlong_ = true;
      }
      line.append(start, take);
      begin_ += len + 1;
      skipLf_ = *hit == '\r';
      break;
    }
    // No line end buffered: keep what fits, drop the rest of an overlong line.
    if (avail > 0) {
      collectedAny = true;
      size_t take = avail;
      if (line.size() + take > maxLineLength_) {
        take = maxLineLength_ > line.size() ? maxLineLength_ - line.size() : 0;
        overlong_ = true;
      }
      line.append(start, take);
      begin_ = end_;
    }
    if (!Fill()) {
      if (line.empty() && !collectedAny && !overlong_) return false;
      break;
    }
  }
  ++lineNumber_;
  return true;
}

bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    int extra = 0;
    unsigned minCode = 0;
    unsigned code = 0;
    if ((c & 0xE0) == 0xC0) {
      extra = 1;
      code = c & 0x1F;
      minCode = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      code = c & 0x0F;
      minCode = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      code = c & 0x07;
      minCode = 0x10000;
    } else {
      return false;
    }
    if (i + extra >= s.size()) return false;
    for (int k = 1; k <= extra; ++k) {
      auto cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      code = (code << 6) | (cc & 0x3F);
    }
    if (code < minCode || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

namespace {

// Code points of the bytes 0x80-0x9F in Windows-1252; 0 where the code page defines none.
constexpr char32_t kWindows1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                           0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                           0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                           0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

}  // namespace

std::string ToUtf8FromUtf8OrWindows1252(std::string_view text) {
  if (IsValidUtf8(text)) return std::string(text);
  std::string out;
  out.reserve(text.size() * 2);
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    char32_t code = c;
    if (c >= 0x80 && c < 0xA0) code = kWindows1252High[c - 0x80] ? kWindows1252High[c - 0x80] : 0xFFFD;
    AppendUtf8(out, code);
  }
  return out;
}

std::string TruncateUtf8(std::string_view text, size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  size_t end = maxBytes;
  // Step back over continuation bytes to the start of the cut sequence.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return std::string(text.substr(0, end));
}

std::string RemoveControlCharacters(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 && c != '\t') continue;
    if (c == 0x7F) continue;
    if (c == 0xEF && text.substr(i, 3) == kUtf8ByteOrderMark) {
      i += 2;
      continue;
    }
    out.push_back(text[i]);
  }
  return out;
}

std::string JoinedToOneLine(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out.push_back(' ');
    } else if ((c >= 0x20 && c != 0x7F) || c == '\t') {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

std::string PrintableText(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
      ++i;
      continue;
    }
    // A whole UTF-8 sequence stays as it is; a stray byte or a C1 control (which a terminal
    // may obey) is escaped.
    const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    const bool c1Control = c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0;
    if (c >= 0x80 && !c1Control && i + length <= text.size() && IsValidUtf8(text.substr(i, length))) {
      out.append(text.substr(i, length));
      i += length;
      continue;
    }
    out += "\\x";
    out.push_back(kHex[c >> 4]);
    out.push_back(kHex[c & 0x0F]);
    ++i;
  }
  return out;
}

namespace {

// The process id in a temporary name of ours ("<name>.tmp<pid>-<n>"); 0 when it is not one.
long TemporaryOwner(const std::string& name) {
  const size_t tmp = name.rfind(".tmp");
  if (tmp == std::string::npos || tmp == 0) return 0;
  const size_t dash = name.find('-', tmp + 4);
  if (dash == std::string::npos || dash == tmp + 4 || dash + 1 == name.size()) return 0;
  for (size_t i = tmp + 4; i < name.size(); ++i) {
    if (i != dash && (name[i] < '0' || name[i] > '9')) return 0;
  }
  return std::strtol(name.c_str() + tmp + 4, nullptr, 10);
}

bool ProcessGone(long pid) { return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; }

// The temporary files a killed save left in the folder: removed the first time this process
// saves there (only names of our pattern whose process is gone).
void RemoveStaleTemporaries(const std::filesystem::path& folder) {
  static std::mutex mutex;
  static std::set<std::filesystem::path> swept;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!swept.insert(folder).second) return;
  }
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder.empty() ? "." : folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    const long owner = TemporaryOwner(it->path().filename().string());
    if (owner == 0 || owner == ::getpid() || !ProcessGone(owner)) continue;
    std::error_code ignored;
    if (it->is_regular_file(ignored)) std::filesystem::remove(it->path(), ignored);
  }
}

}  // namespace

FileReplacement::FileReplacement(std::filesystem::path target) : target_(std::move(target)) {
  static std::atomic<unsigned> counter{0};
  RemoveStaleTemporaries(target_.parent_path());
  // O_EXCL with a fresh name: never writes through a file someone else prepared.
  int errorNumber = 0;
  for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    temporary_ = target_;
    temporary_ += ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    errorNumber = errno;
    if (fd_ < 0 && errorNumber != EEXIST) break;
  }
  if (fd_ < 0) {
    temporary_.clear();
    Fail("cannot create", errorNumber);
  }
}

FileReplacement::~FileReplacement() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_ && !temporary_.empty()) ::unlink(temporary_.c_str());
}

void FileReplacement::Fail(const std::string& what, int errorNumber) {
  if (failed_) return;  // the first failure is the reason
  failed_ = true;
  error_ = what + " " + target_.string() + ": " + std::strerror(errorNumber);
}

bool FileReplacement::Write(const void* data, size_t size) {
  if (failed_ || fd_ < 0) return false;
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd_, static_cast<const char*>(data) + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Fail("cannot write", n < 0 ? errno : ENOSPC);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool FileReplacement::Close() {
  if (failed_ || fd_ < 0) return false;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) {
    Fail("cannot write", errno);
    return false;
  }
  return true;
}

bool FileReplacement::RenameOver() {
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
    Fail("cannot replace", errno);
    return false;
  }
  committed_ = true;
  return true;
}

bool FileReplacement::Commit() { return Close() && RenameOver(); }

bool FileReplacement::CommitSwapping() {
  if (!Close()) return false;
  struct stat info {};
  if (::lstat(target_.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
      ::renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, target_.c_str(), RENAME_EXCHANGE) != 0) {
    return RenameOver();
  }
  committed_ = true;
  // The temporary name now holds the earlier file.
  ::unlink(temporary_.c_str());
  return true;
}

bool WriteFileAtomically(const std::filesystem::path& path, std::string_view content, std::string* error) {
  FileReplacement file(path);
  if (file.Write(content.data(), content.size()) && file.Commit()) return true;
  if (error) *error = file.Error();
  return false;
}

std::string JoinLinesCrLf(const std::vector<std::string>& lines) {
  size_t total = 0;
  for (const auto& l : lines) total += l.size() + 2;
  std::string out;
  out.reserve(total);
  for (const auto& l : lines) {
    out += l;
    out += "\r\n";
  }
  return out;
}

bool ReadSmallFile(const std::filesystem::path& path, std::string& content, size_t maxBytes) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  in.seekg(0, std::ios::end);
  auto size = in.tellg();
  if (size < 0 || static_cast<size_t>(size) > maxBytes) return false;
  in.seekg(0);
  content.resize(static_cast<size_t>(size));
  if (size > 0) in.read(content.data(), size);
  return static_cast<bool>(in) || in.eof();
}

}  // namespace noctarbel
