#pragma once
// indiserver with the INDI simulator drivers, for tests and benchmarks: started on a free
// port in a folder of its own (private HOME, its own local socket, the stand-in star
// catalogue on the drivers' PATH), ready once every driver's device has answered, and stopped
// with all its drivers by its process group when the object goes, also when a test fails.
// Should the test program itself die, the server is killed with it.

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace noctarbel::testing {

class IndiTestServer {
 public:
  // The four simulators: "Telescope Simulator", "CCD Simulator", "Focuser Simulator",
  // "Filter Simulator".
  static std::vector<std::string> SimulatorDrivers();

  // Throws std::runtime_error (with the server's log) when it does not come up in time.
  IndiTestServer(std::filesystem::path folder, std::vector<std::string> drivers = SimulatorDrivers());
  ~IndiTestServer();
  IndiTestServer(const IndiTestServer&) = delete;
  IndiTestServer& operator=(const IndiTestServer&) = delete;

  int Port() const { return port_; }
  pid_t Pid() const { return pid_; }
  // The pid of a driver (its executable's name), from the server's log; -1 when not found.
  pid_t DriverPid(const std::string& executable) const;
  std::string Log() const;

  // SIGSTOP and SIGCONT to the server alone (its drivers keep running).
  void Pause();
  void Resume();
  // SIGKILL to the server alone: its clients see the connection close, its drivers end.
  void Kill();
  // Ends the server and every driver; waits for them. Called by the destructor.
  void Stop();

 private:
  bool Launch();
  bool WaitUntilReady(int timeoutMs);

  std::filesystem::path folder_;
  std::vector<std::string> drivers_;
  int port_ = 0;
  pid_t pid_ = -1;
  bool reaped_ = false;
};

}  // namespace noctarbel::testing
