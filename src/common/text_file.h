#pragma once
// Reading and writing the small text files of a station: settings, tables, plans, logs.
// Readers skip a UTF-8 byte-order mark and take CR, LF and CR LF alike as line ends (old
// spreadsheet exports end lines in CR alone); writers use CR LF so the files stay exchangeable.

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace noctarbel {

// Reads a file line by line without ever holding more than one (bounded) line in memory. A
// byte-order mark at the start is skipped; every CR, LF or CR LF ends a line.
class LineReader {
 public:
  // Lines longer than maxLineLength are cut there and reported as overlong. Anything but a
  // regular file (a folder, a device, a pipe) is not opened.
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
  void SkipByteOrderMark();
  // The first CR or LF in [start, start + size), nullptr when there is none.
  static const char* FindLineEnd(const char* start, size_t size);

  std::FILE* file_ = nullptr;
  size_t maxLineLength_;
  std::vector<char> buffer_;
  size_t begin_ = 0;
  size_t end_ = 0;
  bool eof_ = false;
  bool readError_ = false;
  bool overlong_ = false;
  bool skipLf_ = false;  // the last line ended in CR: an LF right after it belongs to that end
  size_t lineNumber_ = 0;
};

inline constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

bool IsValidUtf8(std::string_view text);
// Text that is not valid UTF-8 is taken as Windows-1252 (the code page old files were written
// in; Latin-1 apart from 0x80-0x9F, which hold "€", "–", "„" and the like) and converted;
// valid UTF-8 stays as it is. The five bytes Windows-1252 leaves undefined become U+FFFD.
std::string ToUtf8FromUtf8OrWindows1252(std::string_view text);
// At most maxBytes bytes, never cutting a UTF-8 sequence in two.
std::string TruncateUtf8(std::string_view text, size_t maxBytes);
// Removes NUL and other C0 control characters except the tab, and byte-order marks left
// inside the text (where two files were joined): invisible, they would only make two equal
// names differ.
std::string RemoveControlCharacters(std::string_view text);
// One line of text: each line break (CR LF, CR or LF) becomes a blank, other control
// characters except the tab are removed.
std::string JoinedToOneLine(std::string_view text);
// Text from outside (file contents, device answers) made fit to quote in a message: control
// characters and bytes that are not UTF-8 are written as \xHH, so the message stays printable
// and on one line.
std::string PrintableText(std::string_view text);

// A file written under a temporary name beside its target and renamed over the target only
// when everything was written, so a failed write (a full disk) leaves the earlier file as it
// was. The temporary file is removed when the replacement is not committed.
class FileReplacement {
 public:
  explicit FileReplacement(std::filesystem::path target);
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // The temporary file's descriptor for writing; -1 when it could not be created (Error()
  // says why).
  int Descriptor() const { return fd_; }
  bool Write(const void* data, size_t size);
  // Closes the temporary file and renames it over the target. False with Error() set when a
  // write, the close or the rename failed; the target is then untouched.
  bool Commit();
  // As Commit, for large files replaced again and again (images): an earlier regular file of
  // the target's name is swapped with the temporary file in one step (renameat2 with
  // RENAME_EXCHANGE) and then removed. ext4 starts writing a file back at once when it is
  // renamed over another (its guard for programs that replace files without fsync), and the
  // next replacement must then free the written blocks and wait for them; swapped, the new
  // file is written back in the kernel's own time, as a file saved under a new name is. Where
  // the file system cannot swap, or there is no earlier file, it is renamed as by Commit.
  bool CommitSwapping();
  const std::string& Error() const { return error_; }

 private:
  void Fail(const std::string& what, int errorNumber);
  bool Close();
  bool RenameOver();

  std::filesystem::path target_;
  std::filesystem::path temporary_;
  int fd_ = -1;
  bool failed_ = false;
  bool committed_ = false;
  std::string error_;
};

// Writes the whole content through a FileReplacement. On failure returns false and puts a
// one-line reason into *error (when given).
bool WriteFileAtomically(const std::filesystem::path& path, std::string_view content, std::string* error = nullptr);
// Joins lines, each followed by CR LF.
std::string JoinLinesCrLf(const std::vector<std::string>& lines);

// Reads a whole (small) file. False when it is not a regular file, cannot be opened or is
// larger than maxBytes.
bool ReadSmallFile(const std::filesystem::path& path, std::string& content, size_t maxBytes = 64u << 20);

}  // namespace noctarbel
