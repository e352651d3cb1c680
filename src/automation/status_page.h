#pragma once
// The status page: a read-only web page of what the station is doing now (the run's state,
// the roof and rain, the mount, the camera, the last image and its star, the night's time
// line so far, the last log lines), updated by Server-Sent Events, and the same as JSON at
// GET /api/status. Nothing can be changed through it. It serves on loopback alone unless a
// token is set, which every request must then carry (Authorization: Bearer TOKEN, or
// ?token=TOKEN), wherever the server listens.

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "automation/run_status.h"
#include "common/guarded_http.h"

namespace noctarbel {

struct RunEvents;

struct StatusPageAddress {
  std::string Host;
  int Port = 0;  // 0: any free port
};

// "HOST:PORT" (IPv4 or a name; PORT 0..65535); nothing, with the reason, otherwise.
std::optional<StatusPageAddress> ParseStatusPageAddress(const std::string& text, std::string* error);
bool IsLoopbackHost(const std::string& host);

// The JSON of /api/status and of each event.
std::string StatusJson(const RunStatusBoard& board);

class StatusPage {
 public:
  explicit StatusPage(const RunStatusBoard& board, HttpLimits limits = {});
  ~StatusPage();
  StatusPage(const StatusPage&) = delete;
  StatusPage& operator=(const StatusPage&) = delete;

  // Serves at `address` on threads of its own. False with the reason when the address is not
  // one, when it is not loopback and there is no token, or when it cannot be bound.
  bool Start(const std::string& address, const std::string& token, std::string* error);
  void Stop();
  int Port() const { return port_; }
  // How long one event stream lasts before the browser opens the next (it does on its own).
  void SetStreamSeconds(int seconds) { streamSeconds_ = seconds; }

 private:
  void Route();
  bool Authorized(const httplib::Request& request) const;

  const RunStatusBoard& board_;
  GuardedHttpServer http_;
  std::string token_;
  int port_ = -1;
  int streamSeconds_ = 30;
  std::atomic<bool> stopping_{false};
  std::atomic<int> streams_{0};  // event streams open
};

// The station's status page as the window program and the command line run it: the board
// that follows the station and the page that shows it.
class StatusService {
 public:
  explicit StatusService(StationCore& core);
  // Starts serving at the setting StatusPage with the setting StatusToken (or `address` when
  // given); false with the reason.
  bool Start(const std::string& address, std::string* error);
  // Follows a run until RunEnded.
  void Follow(RunEvents& events) { board_.Follow(events); }
  void RunEnded(bool completed) { board_.RunEnded(completed); }
  int Port() const { return page_.Port(); }
  const RunStatusBoard& Board() const { return board_; }

 private:
  StationCore& core_;
  RunStatusBoard board_;
  StatusPage page_;
};

}  // namespace noctarbel
