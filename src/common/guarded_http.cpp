#include "common/guarded_http.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/number_text.h"

namespace noctarbel {

namespace {

using Clock = std::chrono::steady_clock;

// How often deadlines are looked at: they hold to within this.
constexpr auto kSweepInterval = std::chrono::milliseconds(100);
// After a refusal the connection is read (and what comes dropped) this long, so that the
// client sees the answer before the close, then closed.
constexpr auto kLinger = std::chrono::milliseconds(1000);
constexpr std::size_t kMostDrained = 1u << 20;
// Read per readiness report, so that one fast sender cannot keep the others waiting.
constexpr std::size_t kReadTurnBytes = 64 * 1024;
// Files the process keeps for itself beyond its connections.
constexpr rlim_t kOtherFiles = 128;

std::string StatusText(int status) {
  switch (status) {
    case 400:
      return "Bad Request";
    case 408:
      return "Request Timeout";
    case 411:
      return "Length Required";
    case 413:
      return "Payload Too Large";
    case 431:
      return "Request Header Fields Too Large";
    default:
      return "Error";
  }
}

std::string RawAnswer(int status, const std::string& reason) {
  const std::string body = reason + "\n";
  return "HTTP/1.1 " + std::to_string(status) + " " + StatusText(status) +
         "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

std::string KiB(std::size_t bytes) { return std::to_string(bytes / 1024) + " KB"; }

// What the headers say of the body that follows them.
struct Framing {
  std::size_t BodyBytes = 0;
  bool ExpectsContinue = false;
  int RefusedStatus = 0;  // 0: acceptable
  std::string Reason;
};

bool SameName(std::string_view name, std::string_view lower) {
  return name.size() == lower.size() && ToLowerAscii(name) == lower;
}

Framing ReadFraming(std::string_view head, std::size_t maxBody) {
  Framing framing;
  std::optional<std::uint64_t> length;
  std::size_t at = head.find('\n');  // past the request line
  while (at != std::string_view::npos && at + 1 < head.size()) {
    const std::size_t end = head.find('\n', at + 1);
    std::string_view line = head.substr(at + 1, end == std::string_view::npos ? head.npos : end - at - 1);
    at = end;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view name = TrimBlanks(line.substr(0, colon));
    const std::string_view value = TrimBlanks(line.substr(colon + 1));
    if (SameName(name, "transfer-encoding")) {
      framing.RefusedStatus = 411;
      framing.Reason = "A request body must come with Content-Length (Transfer-Encoding is not accepted)";
      return framing;
    }
    if (SameName(name, "expect")) framing.ExpectsContinue = ToLowerAscii(value) == "100-continue";
    if (!SameName(name, "content-length")) continue;
    const auto number = value.empty() || value.size() > 19 ||
                                !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })
                            ? std::nullopt
                            : std::optional<std::uint64_t>(std::stoull(std::string(value)));
    if (!number || (length && *length != *number)) {
      framing.RefusedStatus = 400;
      framing.Reason = "Content-Length is not one number: \"" + std::string(value) + "\"";
      return framing;
    }
    length = number;
  }
  if (length && *length > maxBody) {
    framing.RefusedStatus = 413;
    framing.Reason = "The request body of " + std::to_string(*length) + " bytes is larger than the " + KiB(maxBody) +
                     " this server accepts";
    return framing;
  }
  framing.BodyBytes = length ? static_cast<std::size_t>(*length) : 0;
  return framing;
}

// Where the headers end (past the empty line), or 0 while they have not.
std::size_t HeaderEnd(const std::string& buffer, std::size_t from) {
  for (std::size_t i = from; i < buffer.size(); ++i) {
    if (buffer[i] != '\n') continue;
    if (i + 1 < buffer.size() && buffer[i + 1] == '\n') return i + 2;
    if (i + 2 < buffer.size() && buffer[i + 1] == '\r' && buffer[i + 2] == '\n') return i + 3;
  }
  return 0;
}

void SendBestEffort(int fd, const std::string& text) {
  ::send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

std::string AddressText(const sockaddr_storage& address, int& port) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    port = ntohs(v4.sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    port = ntohs(v6.sin6_port);
  }
  return text;
}

// One complete request, read from memory; the answer goes to the socket, waiting at most
// `stallMs` whenever the client does not take it.
class RequestStream : public httplib::Stream {
 public:
  RequestStream(int fd, std::string_view request, int stallMs) : fd_(fd), request_(request), stallMs_(stallMs) {}

  bool is_readable() const override { return offset_ < request_.size(); }
  bool is_writable() const override { return WaitWritable(); }
  ssize_t read(char* ptr, size_t size) override {
    const std::size_t n = std::min(size, request_.size() - offset_);
    std::copy_n(request_.data() + offset_, n, ptr);
    offset_ += n;
    return static_cast<ssize_t>(n);
  }
  ssize_t write(const char* ptr, size_t size) override {
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = ::send(fd_, ptr + done, size - done, MSG_NOSIGNAL);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (!WaitWritable()) return -1;
      } else {
        return -1;
      }
    }
    return static_cast<ssize_t>(size);
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) ip = AddressText(address, port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) ip = AddressText(address, port);
  }
  socket_t socket() const override { return fd_; }

 private:
  bool WaitWritable() const {
    pollfd p{fd_, POLLOUT, 0};
    for (;;) {
      const int ready = ::poll(&p, 1, stallMs_);
      if (ready < 0 && errno == EINTR) continue;
      return ready > 0 && (p.revents & POLLOUT);
    }
  }

  int fd_;
  std::string_view request_;
  std::size_t offset_ = 0;
  int stallMs_;
};

}  // namespace

class GuardedHttpServer::Front {
 public:
  Front(GuardedHttpServer& server, HttpLimits limits) : server_(server), limits_(limits) {
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY) {
      const rlim_t room = files.rlim_cur > 2 * kOtherFiles ? files.rlim_cur - kOtherFiles : files.rlim_cur / 2;
      limits_.MaxConnections = static_cast<int>(std::min<rlim_t>(static_cast<rlim_t>(limits_.MaxConnections), room));
    }
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (epoll_ < 0 || wake_ < 0) throw std::runtime_error("cannot set up the server's connection poll");
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = wake_;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &event);
    poller_ = std::thread([this] { Poll(); });
    for (int i = 0; i < std::max(1, limits_.Workers); ++i) workers_.emplace_back([this] { Work(); });
  }

  ~Front() {
    Stop();
    ::close(epoll_);
    ::close(wake_);
  }

  const HttpLimits& Limits() const { return limits_; }

  // A connection just accepted (on the listener thread).
  void Adopt(int fd) {
    const int flags = ::fcntl(fd, F_GETFL, 0);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    {
      std::lock_guard lock(mutex_);
      if (stopping_) {
        ::close(fd);
        return;
      }
      arriving_.push_back(fd);
    }
    Wake();
  }

  // Closes every connection and ends the threads; requests being answered are finished.
  void Stop() {
    {
      std::lock_guard lock(mutex_);
      if (stopped_) return;
      stopping_ = true;
      stopped_ = true;
    }
    Wake();
    work_.notify_all();
    if (poller_.joinable()) poller_.join();
    for (auto& worker : workers_) worker.join();
    std::lock_guard lock(mutex_);
    for (int fd : arriving_) ::close(fd);
    for (auto& connection : returning_) ::close(connection->Fd);
    for (auto& connection : jobs_) ::close(connection->Fd);
    arriving_.clear();
    returning_.clear();
    jobs_.clear();
  }

 private:
  struct Connection {
    int Fd = -1;
    std::string Buffer;
    std::size_t Scanned = 0;  // the search for the end of the headers goes on from here
    std::size_t Needed = 0;   // bytes of the whole request, once its headers are in
    bool Continued = false;   // "100 Continue" sent
    bool Draining = false;    // answered and closing: what still comes is dropped
    std::size_t Drained = 0;
    Clock::time_point Deadline;  // of the request, of the idle wait, or of the draining
    Clock::time_point LastActive;
    int Served = 0;
  };
  using Owned = std::unique_ptr<Connection>;

  void Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
  }

  // ---- the poll thread: every connection that waits for its client

  void Poll() {
    std::vector<epoll_event> events(256);
    auto nextSweep = Clock::now();
    for (;;) {
      {
        std::lock_guard lock(mutex_);
        if (stopping_) break;
      }
      const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextSweep - Clock::now()).count();
      const int n = ::epoll_wait(epoll_, events.data(), static_cast<int>(events.size()),
                                 static_cast<int>(std::clamp<long long>(wait, 0, 1000)));
      for (int i = 0; i < n; ++i) {
        const int fd = events[static_cast<std::size_t>(i)].data.fd;
        if (fd == wake_) {
          std::uint64_t count = 0;
          [[maybe_unused]] const ssize_t r = ::read(wake_, &count, sizeof count);
          TakeArrivals();
          continue;
        }
        const auto found = open_.find(fd);
        if (found != open_.end()) Receive(found->first);
      }
      const auto now = Clock::now();
      if (now >= nextSweep) {
        Sweep(now);
        nextSweep = now + kSweepInterval;
      }
    }
    while (!open_.empty()) Close(open_.begin()->first);
  }

  void TakeArrivals() {
    std::deque<int> arriving;
    std::deque<Owned> returning;
    {
      std::lock_guard lock(mutex_);
      arriving.swap(arriving_);
      returning.swap(returning_);
    }
    const auto now = Clock::now();
    for (int fd : arriving) {
      auto connection = std::make_unique<Connection>();
      connection->Fd = fd;
      connection->LastActive = now;
      connection->Deadline = now + std::chrono::milliseconds(limits_.KeepAliveMs);
      Watch(std::move(connection));
    }
    for (auto& connection : returning) {
      const int fd = connection->Fd;
      const bool pending = !connection->Buffer.empty();
      Watch(std::move(connection));
      // A request that came right behind the last one is looked at now.
      if (pending) Examine(fd);
    }
  }

  void Watch(Owned connection) {
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP;
    event.data.fd = connection->Fd;
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, connection->Fd, &event) != 0) {
      ::close(connection->Fd);
      return;
    }
    open_[connection->Fd] = std::move(connection);
  }

  void Close(int fd) {
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    ::close(fd);
    open_.erase(fd);
  }

  void Receive(int fd) {
    Connection& c = *open_.at(fd);
    char chunk[16 * 1024];
    for (std::size_t turn = 0; turn < kReadTurnBytes;) {
      const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) {
        Close(fd);  // the client has gone (or closed after its answer)
        return;
      }
      if (n < 0) {
        if (errno == EINTR) continue;
        return;  // all read for now
      }
      turn += static_cast<std::size_t>(n);
      const auto now = Clock::now();
      if (c.Draining) {
        c.Drained += static_cast<std::size_t>(n);
        if (c.Drained > kMostDrained) return Close(fd);
        continue;
      }
      if (c.Buffer.empty()) c.Deadline = now + std::chrono::milliseconds(limits_.RequestDeadlineMs);
      c.LastActive = now;
      c.Buffer.append(chunk, static_cast<std::size_t>(n));
      if (!Examine(fd)) return;
    }
  }

  // Looks at what a connection has gathered: dispatches a complete request, refuses one that
  // breaks a limit. False once the connection has left the poll's reading.
  bool Examine(int fd) {
    Connection& c = *open_.at(fd);
    if (c.Needed == 0) {
      // Empty lines between requests are allowed.
      const std::size_t text = c.Buffer.find_first_not_of("\r\n");
      if (text == std::string::npos) {
        c.Buffer.clear();
        c.Deadline = Clock::now() + std::chrono::milliseconds(limits_.KeepAliveMs);
        return true;
      }
      if (text > 0) c.Buffer.erase(0, text);
      const std::size_t end = HeaderEnd(c.Buffer, c.Scanned);
      if (end == 0 ? c.Buffer.size() > limits_.MaxHeaderBytes : end > limits_.MaxHeaderBytes) {
        Refuse(
            fd, 431,
            "The request line and headers are longer than the " + KiB(limits_.MaxHeaderBytes) + " this server accepts");
        return false;
      }
      if (end == 0) {
        c.Scanned = c.Buffer.size() > 2 ? c.Buffer.size() - 2 : 0;
        return true;
      }
      const Framing framing = ReadFraming(std::string_view(c.Buffer).substr(0, end), limits_.MaxBodyBytes);
      if (framing.RefusedStatus != 0) {
        Refuse(fd, framing.RefusedStatus, framing.Reason);
        return false;
      }
      c.Needed = end + framing.BodyBytes;
      if (framing.ExpectsContinue && c.Buffer.size() < c.Needed && !c.Continued) {
        SendBestEffort(fd, "HTTP/1.1 100 Continue\r\n\r\n");
        c.Continued = true;
      }
    }
    if (c.Buffer.size() < c.Needed) return true;
    Dispatch(fd);
    return false;
  }

  // Answers with the reason and closes after a short while in which what the client still
  // sends is read and dropped (a close with data unread would reset the connection, and the
  // client could lose the answer).
  void Refuse(int fd, int status, const std::string& reason) {
    Connection& c = *open_.at(fd);
    SendBestEffort(fd, RawAnswer(status, reason));
    ::shutdown(fd, SHUT_WR);
    c.Buffer.clear();
    c.Buffer.shrink_to_fit();
    c.Draining = true;
    c.Deadline = Clock::now() + kLinger;
  }

  void Sweep(Clock::time_point now) {
    std::vector<int> due;
    for (const auto& [fd, c] : open_) {
      if (now >= c->Deadline) due.push_back(fd);
    }
    for (int fd : due) {
      Connection& c = *open_.at(fd);
      if (c.Draining || c.Buffer.empty()) {
        Close(fd);
      } else {
        Refuse(fd, 408,
               "The request did not arrive in full within " + FormatGeneral(limits_.RequestDeadlineMs / 1000.0) +
                   " s of its first byte");
      }
    }
    const std::size_t most = static_cast<std::size_t>(std::max(1, limits_.MaxConnections));
    if (open_.size() <= most) return;
    // Too many: the longest idle go first, then the slowest senders.
    std::vector<std::pair<std::pair<bool, Clock::time_point>, int>> order;
    for (const auto& [fd, c] : open_) order.push_back({{!c->Buffer.empty() && !c->Draining, c->LastActive}, fd});
    std::sort(order.begin(), order.end());
    for (std::size_t i = 0; i < order.size() && open_.size() > most; ++i) Close(order[i].second);
  }

  void Dispatch(int fd) {
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    Owned connection = std::move(open_.at(fd));
    open_.erase(fd);
    {
      std::lock_guard lock(mutex_);
      jobs_.push_back(std::move(connection));
    }
    work_.notify_one();
  }

  // ---- the workers: one complete request at a time

  void Work() {
    for (;;) {
      Owned connection;
      {
        std::unique_lock lock(mutex_);
        work_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty()) return;
        connection = std::move(jobs_.front());
        jobs_.pop_front();
      }
      const bool keep = Serve(*connection);
      const int fd = connection->Fd;
      bool handedBack = false;
      if (keep) {
        std::lock_guard lock(mutex_);
        if (!stopping_) {
          returning_.push_back(std::move(connection));
          handedBack = true;
        }
      }
      if (handedBack) {
        Wake();
      } else {
        ::close(fd);
      }
    }
  }

  // True when the connection is kept for the client's next request.
  bool Serve(Connection& c) {
    ++c.Served;
    bool closeAfter = c.Served >= limits_.MaxRequestsPerConnection;
    {
      std::lock_guard lock(mutex_);
      closeAfter = closeAfter || stopping_;
    }
    RequestStream stream(c.Fd, std::string_view(c.Buffer).substr(0, c.Needed), limits_.WriteStallMs);
    bool clientCloses = false;
    bool answered = false;
    try {
      answered = server_.Answer(stream, closeAfter, clientCloses);
    } catch (const std::exception&) {
      // The library answers what a handler throws; anything else ends the connection.
    }
    c.Buffer.erase(0, c.Needed);
    c.Scanned = 0;
    c.Needed = 0;
    c.Continued = false;
    const auto now = Clock::now();
    c.LastActive = now;
    c.Deadline = now + std::chrono::milliseconds(c.Buffer.empty() ? limits_.KeepAliveMs : limits_.RequestDeadlineMs);
    return answered && !clientCloses && !closeAfter;
  }

  GuardedHttpServer& server_;
  HttpLimits limits_;
  int epoll_ = -1;
  int wake_ = -1;
  std::map<int, Owned> open_;  // the poll thread's alone

  std::mutex mutex_;
  std::condition_variable work_;
  bool stopping_ = false;
  bool stopped_ = false;
  std::deque<int> arriving_;
  std::deque<Owned> returning_;
  std::deque<Owned> jobs_;

  std::thread poller_;
  std::vector<std::thread> workers_;
};

namespace {

// The listener hands each accepted connection straight to the poll (which costs nothing):
// no worker is taken before a request is complete.
class HandOver : public httplib::TaskQueue {
 public:
  void enqueue(std::function<void()> fn) override { fn(); }
  void shutdown() override {}
};

}  // namespace

GuardedHttpServer::GuardedHttpServer(HttpLimits limits) : front_(std::make_unique<Front>(*this, limits)) {
  const HttpLimits& l = front_->Limits();
  set_payload_max_length(l.MaxBodyBytes);
  set_keep_alive_max_count(static_cast<size_t>(l.MaxRequestsPerConnection));
  set_keep_alive_timeout(std::max(1, l.KeepAliveMs / 1000));
  new_task_queue = [] { return new HandOver; };
}

GuardedHttpServer::~GuardedHttpServer() { Shutdown(); }

void GuardedHttpServer::ListenOnThread() {
  listener_ = std::thread([this] { listen_after_bind(); });
  const auto giveUp = Clock::now() + std::chrono::seconds(5);
  while (!is_running() && Clock::now() < giveUp) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void GuardedHttpServer::Shutdown() {
  stop();
  if (listener_.joinable()) listener_.join();
  front_->Stop();
  // Bound but never listened on: the library's stop leaves the socket open.
  const socket_t listening = svr_sock_.exchange(INVALID_SOCKET);
  if (listening != INVALID_SOCKET) ::close(listening);
}

const HttpLimits& GuardedHttpServer::Limits() const { return front_->Limits(); }

int GuardedHttpServer::Bind(const std::string& host, int port) {
  int bound = -1;
  if (port == 0) {
    bound = bind_to_any_port(host);
  } else if (bind_to_port(host, port)) {
    bound = port;
  }
  // The library listens with a backlog of 5: a burst of clients would wait for SYN retries.
  if (bound > 0) ::listen(svr_sock_, SOMAXCONN);
  return bound;
}

bool GuardedHttpServer::process_and_close_socket(socket_t sock) {
  front_->Adopt(sock);
  return true;
}

bool GuardedHttpServer::Answer(httplib::Stream& stream, bool closeAfter, bool& clientCloses) {
  return process_request(stream, closeAfter, clientCloses, nullptr);
}

}  // namespace noctarbel
