#pragma once
// The Alpaca tests' parts: our server for the simulators on a free loopback port (made
// quick: fast slews and moves, a small sensor, short read-out), raw HTTP requests written
// by hand, the server program as a child process, and servers that misbehave (one that
// accepts connections and never answers, one that answers what a test tells it to).

#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "devices/alpaca/alpaca_backend.h"
#include "devices/alpaca/alpaca_drivers.h"
#include "devices/alpaca/server/alpaca_server.h"
#include "devices/sim/sim_world.h"
#include "tests/test_support.h"

namespace noctarbel::testing {

using namespace alpaca;

inline void MakeQuick(SimWorld& world) {
  world.Mount.Config.SlewRateDegPerSec = 60;
  world.Mount.Config.SettleSeconds = 0.1;
  world.Mount.Config.FindHomeSeconds = 0.3;
  world.Focuser.Config.StepsPerSecond = 20000;
  world.Wheel.Config.SecondsPerSlot = 0.05;
  world.Camera.Config.Width = 64;
  world.Camera.Config.Height = 48;
  world.Camera.Config.FullReadoutSeconds = 0.05;
}

inline ServerOptions FreePorts() {
  ServerOptions options;
  options.Port = 0;
  options.DiscoveryPort = 0;
  return options;
}

// Calls with short time-outs, so that the fault cases end quickly.
inline Timeouts QuickTimeouts() { return Timeouts{500, 1000}; }

// A device of a server on this computer, as the station names it.
inline std::string LoopbackId(int port, const std::string& type, int number = 0) {
  return "alpaca://127.0.0.1:" + std::to_string(port) + "/" + type + "/" + std::to_string(number);
}

inline std::chrono::milliseconds Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

// Waits in real time until `done` holds or `seconds` pass; whether it held.
inline bool WaitUntil(const std::function<bool()>& done, double seconds = 10) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<int>(seconds * 1000));
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

struct RawReply {
  int Status = 0;
  std::string ContentType;
  std::string Body;
  nlohmann::json Json() const { return nlohmann::json::parse(Body); }
};

inline RawReply Raw(int port, const std::string& method, const std::string& path, const std::string& body = {},
                    const httplib::Headers& headers = {}) {
  httplib::Client http("127.0.0.1", port);
  http.set_connection_timeout(2);
  http.set_read_timeout(10);
  httplib::Result result = method == "GET"    ? http.Get(path, headers)
                           : method == "POST" ? http.Post(path, headers, body, "application/x-www-form-urlencoded")
                                              : http.Put(path, headers, body, "application/x-www-form-urlencoded");
  RawReply reply;
  if (!result) return reply;
  reply.Status = result->status;
  reply.ContentType = result->get_header_value("Content-Type");
  reply.Body = result->body;
  return reply;
}

class AlpacaServerTest : public ::testing::Test {
 protected:
  AlpacaServerTest() : server(FreePorts()) {
    server.WithWorld(MakeQuick);
    server.Start();
  }

  int Port() const { return server.Port(); }
  std::string Id(const char* type, int number = 0) const { return LoopbackId(Port(), type, number); }
  DeviceAddress Address(const char* type) const { return ParseIdentifier(Id(type)); }
  RawReply Get(const std::string& path, const httplib::Headers& headers = {}) {
    return Raw(Port(), "GET", path, {}, headers);
  }
  RawReply Put(const std::string& path, const std::string& body) { return Raw(Port(), "PUT", path, body); }
  // A PUT that must succeed at the device.
  void Do(const std::string& path, const std::string& body = {}) {
    const RawReply reply = Put(path, body);
    ASSERT_EQ(reply.Status, 200) << path << ": " << reply.Body;
    ASSERT_EQ(reply.Json()["ErrorNumber"], 0) << path << ": " << reply.Body;
  }

  // Reads the simulated world on the server's thread.
  template <typename T>
  T FromServer(const std::function<T(SimWorld&)>& read) {
    T value{};
    server.WithWorld([&](SimWorld& world) { value = read(world); });
    return value;
  }

  AlpacaServer server;
};

inline sockaddr_in Loopback(int port = 0) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

// A TCP socket bound to a free loopback port; the port.
inline int BindFreePort(int fd) {
  sockaddr_in address = Loopback();
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

// A port on which nothing listens.
inline int DeadPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  const int port = BindFreePort(fd);
  ::close(fd);
  return port;
}

// Accepts connections (the kernel does, into the backlog) and never answers.
class HungServer {
 public:
  HungServer() : fd_(::socket(AF_INET, SOCK_STREAM, 0)), port_(BindFreePort(fd_)) { ::listen(fd_, 16); }
  ~HungServer() { ::close(fd_); }
  int Port() const { return port_; }
  int Fd() const { return fd_; }

 private:
  int fd_;
  int port_;
};

// Takes each connection, reads the request and closes without answering.
class ClosingServer {
 public:
  ClosingServer() {
    thread_ = std::thread([this] {
      for (;;) {
        const int fd = ::accept(hung_.Fd(), nullptr, nullptr);
        if (fd < 0 || stop_) {
          if (fd >= 0) ::close(fd);
          return;
        }
        char buffer[4096];
        [[maybe_unused]] const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        ::close(fd);
      }
    });
  }
  ~ClosingServer() {
    stop_ = true;
    // A last connection wakes the waiting accept.
    const int wake = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = Loopback(Port());
    ::connect(wake, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    thread_.join();
    ::close(wake);
  }
  int Port() const { return hung_.Port(); }

 private:
  HungServer hung_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// An HTTP server whose handlers the test writes.
class ScriptedServer {
 public:
  explicit ScriptedServer(const std::function<void(httplib::Server&)>& routes) {
    routes(http_);
    port_ = http_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { http_.listen_after_bind(); });
    WaitUntil([this] { return http_.is_running(); }, 5);
  }
  ~ScriptedServer() {
    http_.stop();
    thread_.join();
  }
  int Port() const { return port_; }

 private:
  httplib::Server http_;
  std::thread thread_;
  int port_ = 0;
};

// The noctarbel-alpaca program on a free port, with its UniqueIDs kept in a folder of its
// own, ended (and reaped) with the object.
class ServerProcess {
 public:
  explicit ServerProcess(std::vector<std::string> options = {}) {
    std::vector<std::string> args = {NOCTARBEL_ALPACA, "--port",       "0",
                                     "--no-discovery", "--config-dir", config_.Path().string()};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int out[2];
    if (::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      // Never outlive the test program, whatever becomes of it.
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      ::execv(NOCTARBEL_ALPACA, argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    std::string line;
    char c = 0;
    while (::read(out[0], &c, 1) == 1 && c != '\n') line += c;
    ::close(out[0]);
    const size_t at = line.find("127.0.0.1:");
    if (at != std::string::npos) port_ = std::atoi(line.c_str() + at + 10);
  }
  ~ServerProcess() { Kill(SIGTERM); }
  int Port() const { return port_; }
  // Ends the program with the signal and waits for it; its exit code (-1 when killed).
  int Kill(int signal) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, signal);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  TempDir config_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace noctarbel::testing
