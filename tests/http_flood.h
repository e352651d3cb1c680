#pragma once
// Clients that press on an HTTP server of ours: connections that send a request's start and
// then trickle the rest (or nothing), kept up while a test asks its ordinary questions.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace noctarbel::testing {

inline int Connect(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Keeps `count` connections open that each send `opening`, then `trickle` every 200 ms (or
// nothing); one the server closes is opened again, so the pressure lasts.
class Flood {
 public:
  Flood(int port, int count, std::string opening, std::string trickle)
      : port_(port), opening_(std::move(opening)), trickle_(std::move(trickle)), fds_(static_cast<size_t>(count), -1) {
    for (int& fd : fds_) Open(fd);
    thread_ = std::thread([this] {
      while (!stop_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        for (int& fd : fds_) Keep(fd);
      }
    });
  }
  ~Flood() {
    stop_ = true;
    thread_.join();
    for (int fd : fds_) {
      if (fd >= 0) ::close(fd);
    }
  }
  // Connections the server closed.
  int Closed() const { return closed_; }

 private:
  void Open(int& fd) {
    fd = Connect(port_);
    if (fd >= 0 && !opening_.empty()) ::send(fd, opening_.data(), opening_.size(), MSG_NOSIGNAL);
  }
  void Keep(int& fd) {
    if (fd < 0) return Open(fd);
    pollfd p{fd, POLLIN, 0};
    const bool closedByServer =
        ::poll(&p, 1, 0) > 0 ||
        (!trickle_.empty() && ::send(fd, trickle_.data(), trickle_.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0);
    if (!closedByServer) return;
    ::close(fd);
    ++closed_;
    Open(fd);
  }

  int port_;
  std::string opening_;
  std::string trickle_;
  std::vector<int> fds_;
  std::atomic<bool> stop_{false};
  std::atomic<int> closed_{0};
  std::thread thread_;
};

}  // namespace noctarbel::testing
