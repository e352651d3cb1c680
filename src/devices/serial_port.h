#pragma once
// A serial line on a POSIX terminal device (USB adapters, pseudo-terminals). Every failed
// operation throws SerialError, so callers turn any problem into their own failure result.

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace noctarbel {

class SerialError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// The line is held by another program (it is locked while open): worth another try later.
class SerialBusyError : public SerialError {
 public:
  using SerialError::SerialError;
};

struct SerialSettings {
  int Baud = 9600;
  int DataBits = 8;
  int StopBits = 1;  // 1 or 2
  // No parity and no flow control on every line the station uses.
};

// The device path of port number n: "{n}" in the pattern becomes n, "{n-1}" becomes n - 1
// (so "/dev/ttyUSB{n-1}" maps port 1 to /dev/ttyUSB0). A pattern without either is a fixed
// path.
std::string SerialDevicePath(const std::string& pattern, int portNumber);

class SerialPort {
 public:
  SerialPort() = default;
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens and configures the line (raw bytes, no echo, no flow control).
  void Open(const std::string& path, const SerialSettings& settings);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }
  // The file descriptor (-1 when closed), for a last write from a signal handler.
  int Fd() const { return fd_; }

  // Writes every byte or throws (a line that takes more than timeout to accept them fails).
  void Write(std::string_view bytes, std::chrono::milliseconds timeout = std::chrono::milliseconds(1000));
  void WriteByte(std::uint8_t byte);
  // One byte, or nothing when none arrived within the time-out. Throws on a line error.
  std::optional<std::uint8_t> ReadByte(std::chrono::milliseconds timeout);
  // Bytes up to and including "\r\n", without them; nothing when no complete line arrived in
  // time. A line longer than maxLength fails (no sensor sends such a line).
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout, size_t maxLength = 256);
  // What has arrived and not been read yet, at most maxBytes, without waiting.
  std::string ReadAvailable(size_t maxBytes = 4096);
  // Discards what was received and not yet read, and what was written and not yet sent.
  void Purge();
  // Discards only what was received and not yet read (bytes still being sent go out).
  void DiscardInput();

 private:
  void Fail(const std::string& what) const;

  int fd_ = -1;
  std::string path_;
};

}  // namespace noctarbel
