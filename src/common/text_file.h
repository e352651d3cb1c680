#pragma once
// Reading and writing the small text files of a station: settings, tables, plans, logs.
// Readers accept LF and CR LF; writers use CR LF so the files stay exchangeable.

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace noctarbel {

// Reads a file line by line without ever holding more than one (bounded) line in memory.
class LineReader {
 public:
  // Lines longer than maxLineLength are cut there and reported as overlong.
  explicit LineReader(const std::filesystem::path& path, size_t maxLineLength = 1 << 16);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  bool IsOpen() const { return file_ != nullptr; }
  // Next line without its line end. False at the end of the file or on a read error.
  bool Next(std::string& line);
  // The line last returned was longer than the limit (and was cut).
  bool LastLineOverlong() const { return overlong_; }
  size_t LineNumber() const { return lineNumber_; }
  bool ReadError() const { return readError_; }

 private:
  bool Fill();

  std::FILE* file_ = nullptr;
  size_t maxLineLength_;
  std::vector<char> buffer_;
  size_t begin_ = 0;
  size_t end_ = 0;
  bool eof_ = false;
  bool readError_ = false;
  bool overlong_ = false;
  size_t lineNumber_ = 0;
};

bool IsValidUtf8(std::string_view text);
// Text that is not valid UTF-8 is taken as Latin-1 and converted; valid UTF-8 stays as it is.
std::string ToUtf8FromUtf8OrLatin1(std::string_view text);
// At most maxBytes bytes, never cutting a UTF-8 sequence in two.
std::string TruncateUtf8(std::string_view text, size_t maxBytes);
// Removes NUL and other C0 control characters except the tab.
std::string RemoveControlCharacters(std::string_view text);

// Writes the whole content to a temporary file beside the target and renames it over the
// target, so a failed write never leaves a half-written file. On failure returns false and
// puts a one-line reason into *error (when given).
bool WriteFileAtomically(const std::filesystem::path& path, std::string_view content, std::string* error = nullptr);
// Joins lines, each followed by CR LF.
std::string JoinLinesCrLf(const std::vector<std::string>& lines);

// Reads a whole (small) file. False when it cannot be opened or is larger than maxBytes.
bool ReadSmallFile(const std::filesystem::path& path, std::string& content, size_t maxBytes = 64u << 20);

}  // namespace noctarbel
