#include "indi_test_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace noctarbel::testing {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kReadyMs = 15000;
constexpr int kStopMs = 3000;

// A port nobody listens on now (the server may still lose it to another program: then the
// start is tried again on a new one).
int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("no socket for a free port");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t size = sizeof(address);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    ::close(fd);
    throw std::runtime_error("no free port");
  }
  ::close(fd);
  return ntohs(address.sin_port);
}

int ConnectLoopback(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// How many devices have told their DRIVER_INFO on a fresh connection within the time left.
size_t DevicesAnswering(int port, SteadyClock::time_point until) {
  const int fd = ConnectLoopback(port);
  if (fd < 0) return 0;
  static const char kAsk[] = "<getProperties version='1.7'/>\n";
  if (::write(fd, kAsk, sizeof(kAsk) - 1) != static_cast<ssize_t>(sizeof(kAsk) - 1)) {
    ::close(fd);
    return 0;
  }
  static const std::regex kDriverInfo(R"(<defTextVector[^>]*device=["']([^"']+)["'][^>]*name=["']DRIVER_INFO["'])");
  std::string text;
  std::set<std::string> devices;
  char buffer[65536];
  const auto limit = std::min(until, SteadyClock::now() + std::chrono::milliseconds(1500));
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit - SteadyClock::now()).count();
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) break;
    const ssize_t n = ::read(fd, buffer, sizeof(buffer));
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
    for (std::sregex_iterator it(text.begin(), text.end(), kDriverInfo), end; it != end; ++it) devices.insert((*it)[1]);
  }
  ::close(fd);
  return devices.size();
}

// The program's full path along PATH (the child may only call exec after fork).
std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream folders(path ? path : "/usr/bin:/bin");
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    const std::filesystem::path candidate = std::filesystem::path(folder.empty() ? "." : folder) / name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  throw std::runtime_error(name + " not found on PATH (Debian package indi-bin)");
}

}  // namespace

std::vector<std::string> IndiTestServer::SimulatorDrivers() {
  return {"indi_simulator_telescope", "indi_simulator_ccd", "indi_simulator_focus", "indi_simulator_wheel"};
}

IndiTestServer::IndiTestServer(std::filesystem::path folder, std::vector<std::string> drivers)
    : folder_(std::move(folder)), drivers_(std::move(drivers)) {
  std::filesystem::create_directories(folder_ / "home");
  std::filesystem::create_directories(folder_ / "bin");
  std::error_code ec;
  std::filesystem::create_symlink(NOCTARBEL_GSC_STAND_IN, folder_ / "bin" / "gsc", ec);
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (Launch() && WaitUntilReady(kReadyMs)) return;
    Stop();
  }
  throw std::runtime_error("indiserver did not come up; its log:\n" + Log());
}

IndiTestServer::~IndiTestServer() { Stop(); }

bool IndiTestServer::Launch() {
  port_ = FreePort();
  reaped_ = false;
  const std::string program = FindProgram("indiserver");
  const std::string log = (folder_ / "indiserver.log").string();
  // The server's local socket is named by a path of at most 107 characters that is not in
  // the folder (indiserver puts it in the abstract namespace: no file appears).
  const std::string socket = "/tmp/noctarbel-indi-" + std::to_string(::getpid()) + "-" + std::to_string(port_);
  std::vector<std::string> args = {"indiserver", "-v", "-p", std::to_string(port_), "-u", socket, "-r", "0"};
  args.insert(args.end(), drivers_.begin(), drivers_.end());
  // The drivers keep their settings and park data under HOME, and find "gsc" on PATH.
  std::vector<std::string> environment;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    if (text.rfind("HOME=", 0) != 0 && text.rfind("PATH=", 0) != 0) environment.push_back(text);
  }
  environment.push_back("HOME=" + (folder_ / "home").string());
  const char* path = std::getenv("PATH");
  environment.push_back("PATH=" + (folder_ / "bin").string() + ":" + (path ? path : "/usr/bin:/bin"));
  // Everything the child needs is made before fork: the test program has threads.
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    // Its own process group (stopped as one with its drivers), killed should the test
    // program die first.
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = ::open("/dev/null", O_RDONLY);
    if (out >= 0) {
      ::dup2(out, STDOUT_FILENO);
      ::dup2(out, STDERR_FILENO);
    }
    if (in >= 0) ::dup2(in, STDIN_FILENO);
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  ::setpgid(pid, pid);
  pid_ = pid;
  return true;
}

bool IndiTestServer::WaitUntilReady(int timeoutMs) {
  const auto until = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
  while (SteadyClock::now() < until) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      reaped_ = true;
      return false;  // exited: most likely the port was taken meanwhile
    }
    if (DevicesAnswering(port_, until) >= drivers_.size()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

pid_t IndiTestServer::DriverPid(const std::string& executable) const {
  const std::regex line("Driver " + executable + ": pid=([0-9]+)");
  const std::string log = Log();
  std::smatch match;
  if (std::regex_search(log, match, line)) return static_cast<pid_t>(std::stol(match[1]));
  return -1;
}

std::string IndiTestServer::Log() const {
  std::ifstream in(folder_ / "indiserver.log");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void IndiTestServer::Pause() {
  if (pid_ > 0) ::kill(pid_, SIGSTOP);
}

void IndiTestServer::Resume() {
  if (pid_ > 0) ::kill(pid_, SIGCONT);
}

void IndiTestServer::Kill() {
  if (pid_ <= 0 || reaped_) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  reaped_ = true;
}

void IndiTestServer::Stop() {
  if (pid_ <= 0) return;
  // The group holds the server and its drivers (also once the server itself has gone).
  ::kill(-pid_, SIGCONT);
  ::kill(-pid_, SIGTERM);
  const auto until = SteadyClock::now() + std::chrono::milliseconds(kStopMs);
  while (!reaped_ && SteadyClock::now() < until) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) reaped_ = true;
    if (!reaped_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // Drivers that have not ended with their server are ended now.
  ::kill(-pid_, SIGKILL);
  if (!reaped_) ::waitpid(pid_, nullptr, 0);
  reaped_ = true;
  pid_ = -1;
}

}  // namespace noctarbel::testing
