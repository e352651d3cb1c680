#include "common/text_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

#include <unistd.h>

namespace noctarbel {

namespace {
constexpr size_t kChunk = 1 << 16;
}

LineReader::LineReader(const std::filesystem::path& path, size_t maxLineLength)
    : maxLineLength_(maxLineLength == 0 ? 1 : maxLineLength) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return;
  file_ = std::fopen(path.c_str(), "rb");
  buffer_.resize(kChunk + maxLineLength_ + 1);
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
    // Look for the line end in what is buffered.
    const char* start = buffer_.data() + begin_;
    const void* hit = std::memchr(start, '\n', end_ - begin_);
    if (hit) {
      size_t len = static_cast<const char*>(hit) - start;
      size_t take = len;
      if (line.size() + take > maxLineLength_) {
        take = maxLineLength_ > line.size() ? maxLineLength_ - line.size() : 0;
        overlong_ = true;
      }
      line.append(start, take);
      begin_ += len + 1;
      break;
    }
    // No line end buffered: keep what fits, drop the rest of an overlong line.
    size_t avail = end_ - begin_;
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
  if (!line.empty() && line.back() == '\r') line.pop_back();
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

std::string ToUtf8FromUtf8OrLatin1(std::string_view text) {
  if (IsValidUtf8(text)) return std::string(text);
  std::string out;
  out.reserve(text.size() * 2);
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out.push_back(ch);
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
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
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 && c != '\t') continue;
    if (c == 0x7F) continue;
    out.push_back(ch);
  }
  return out;
}

bool WriteFileAtomically(const std::filesystem::path& path, std::string_view content, std::string* error) {
  auto fail = [&](const std::string& what) {
    if (error) *error = what;
    return false;
  };
  std::filesystem::path tmp = path;
  tmp += ".tmp" + std::to_string(::getpid());
  std::FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) return fail("cannot create " + path.string() + ": " + std::strerror(errno));
  size_t written = content.empty() ? 0 : std::fwrite(content.data(), 1, content.size(), f);
  bool ok = written == content.size();
  int savedErrno = errno;
  if (std::fflush(f) != 0) {
    ok = false;
    savedErrno = errno;
  }
  if (std::fclose(f) != 0) {
    ok = false;
    savedErrno = errno;
  }
  if (!ok) {
    std::remove(tmp.c_str());
    return fail("cannot write " + path.string() + ": " + std::strerror(savedErrno));
  }
  std::error_code ec;
  std::filesystem::rename(tmp, path, ec);
  if (ec) {
    std::remove(tmp.c_str());
    return fail("cannot replace " + path.string() + ": " + ec.message());
  }
  return true;
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
  if (std::filesystem::is_directory(path, ec)) return false;
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
