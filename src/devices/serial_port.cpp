#include "devices/serial_port.h"

#include <algorithm>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace noctarbel {

namespace {

using Clock = std::chrono::steady_clock;

speed_t BaudConstant(int baud) {
  switch (baud) {
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return B0;
  }
}

tcflag_t DataBitsFlag(int bits) {
  switch (bits) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

std::string ErrnoText() { return std::strerror(errno); }

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

}  // namespace

std::string SerialDevicePath(const std::string& pattern, int portNumber) {
  std::string path = pattern;
  ReplaceAll(path, "{n-1}", std::to_string(portNumber - 1));
  ReplaceAll(path, "{n}", std::to_string(portNumber));
  return path;
}

SerialPort::~SerialPort() { Close(); }

void SerialPort::Fail(const std::string& what) const { throw SerialError(path_ + ": " + what); }

void SerialPort::Open(const std::string& path, const SerialSettings& settings) {
  Close();
  path_ = path;
  const speed_t speed = BaudConstant(settings.Baud);
  if (speed == B0) Fail("unsupported baud rate " + std::to_string(settings.Baud));
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) Fail("cannot open: " + ErrnoText());
  // Two programs talking to one controller would mix their bytes: the line is ours alone.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    throw SerialBusyError(path_ + ": in use by another program");
  }
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) {
    std::string reason = ErrnoText();
    ::close(fd);
    Fail("not a serial line: " + reason);
  }
  ::cfmakeraw(&tio);
  tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= DataBitsFlag(settings.DataBits) | CLOCAL | CREAD;
  if (settings.StopBits == 2) tio.c_cflag |= CSTOPB;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0 || ::tcsetattr(fd, TCSANOW, &tio) != 0) {
    std::string reason = ErrnoText();
    ::close(fd);
    Fail("cannot configure: " + reason);
  }
  ::tcflush(fd, TCIOFLUSH);
  fd_ = fd;
}

void SerialPort::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

void SerialPort::Write(std::string_view bytes, std::chrono::milliseconds timeout) {
  if (fd_ < 0) Fail("not open");
  const auto deadline = Clock::now() + timeout;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) Fail("write failed: " + ErrnoText());
    pollfd p{fd_, POLLOUT, 0};
    int ready = ::poll(&p, 1, RemainingMs(deadline));
    if (ready < 0 && errno != EINTR) Fail("write failed: " + ErrnoText());
    if (ready == 0) Fail("write timed out");
    if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) Fail("line hung up");
  }
}

void SerialPort::WriteByte(std::uint8_t byte) {
  char c = static_cast<char>(byte);
  Write(std::string_view(&c, 1));
}

std::optional<std::uint8_t> SerialPort::ReadByte(std::chrono::milliseconds timeout) {
  if (fd_ < 0) Fail("not open");
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    unsigned char c = 0;
    ssize_t n = ::read(fd_, &c, 1);
    if (n == 1) return c;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) Fail("read failed: " + ErrnoText());
    int wait = RemainingMs(deadline);
    if (wait <= 0) return std::nullopt;
    pollfd p{fd_, POLLIN, 0};
    int ready = ::poll(&p, 1, wait);
    if (ready < 0 && errno != EINTR) Fail("read failed: " + ErrnoText());
    if (ready > 0 && !(p.revents & POLLIN) && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) Fail("line hung up");
  }
}

std::optional<std::string> SerialPort::ReadLine(std::chrono::milliseconds timeout, size_t maxLength) {
  const auto deadline = Clock::now() + timeout;
  std::string line;
  for (;;) {
    auto c = ReadByte(std::chrono::milliseconds(RemainingMs(deadline)));
    if (!c) return std::nullopt;
    line.push_back(static_cast<char>(*c));
    if (line.size() >= 2 && line[line.size() - 2] == '\r' && line.back() == '\n') {
      line.resize(line.size() - 2);
      return line;
    }
    if (line.size() > maxLength + 2) Fail("line too long");
  }
}

std::string SerialPort::ReadAvailable(size_t maxBytes) {
  if (fd_ < 0) Fail("not open");
  std::string bytes;
  char buffer[256];
  while (bytes.size() < maxBytes) {
    const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, maxBytes - bytes.size()));
    if (n > 0) {
      bytes.append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) Fail("read failed: " + ErrnoText());
    break;
  }
  return bytes;
}

void SerialPort::Purge() {
  if (fd_ < 0) Fail("not open");
  if (::tcflush(fd_, TCIOFLUSH) != 0) Fail("purge failed: " + ErrnoText());
}

void SerialPort::DiscardInput() {
  if (fd_ < 0) Fail("not open");
  if (::tcflush(fd_, TCIFLUSH) != 0) Fail("purge failed: " + ErrnoText());
}

}  // namespace noctarbel
