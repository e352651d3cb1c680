#pragma once
// The station's heartbeat: a small file in the station folder that a living station replaces
// on every observatory status tick, so that a separate watchdog (`noctarbel-cli watch`) can
// tell a station that died (killed, crashed, hung) from one that works, and knows what it
// left behind: whether a run was active, the roof and rain states it last read, whether a
// mount was connected. A station that ends in good order says so (Ended), and the watchdog
// leaves its observatory alone.
//
// The file is replaced atomically (temporary file and rename): a reader never sees half of it.
// It is an ini file ([Heartbeat], key=value, CR LF), read with the tolerance of every
// station file.

#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>

#include "devices/device_states.h"

namespace noctarbel {

inline constexpr const char* kHeartbeatFileName = "heartbeat.ini";

struct Heartbeat {
  long long UnixTime = 0;  // seconds since 1970 on the computer's clock (never a simulated one)
  pid_t Pid = 0;
  bool RunActive = false;   // a plan run on the devices (a test run moves nothing: false)
  std::string Status;       // the station's status line
  RoofState Roof = RoofState::Undetermined;
  RainState Rain = RainState::Unknown;
  bool MountConnected = false;
  std::string LogFolder;  // where the station saves its log (the image folder or the station folder)
  bool Ended = false;  // the station ended in good order
};

std::filesystem::path HeartbeatPath(const std::filesystem::path& stationFolder);
// The file's text: the time also as a UT for people.
std::string HeartbeatText(const Heartbeat& beat);
// False with a one-line reason in *error when the file could not be replaced.
bool WriteHeartbeat(const std::filesystem::path& path, const Heartbeat& beat, std::string* error = nullptr);
// Nothing when the file is missing (*error empty) or not a heartbeat (*error says why).
std::optional<Heartbeat> ReadHeartbeat(const std::filesystem::path& path, std::string* error);

// Keeps one station's heartbeat: the full state on each status tick, the time refreshed in
// between (a status tick held up by a long emergency must not look like a dead station), and
// "ended" when the station ends in good order. A write that fails is said once (Problem) and
// tried again on the next beat.
class HeartbeatWriter {
 public:
  explicit HeartbeatWriter(std::filesystem::path path) : path_(std::move(path)) {}
  ~HeartbeatWriter() { End(); }
  HeartbeatWriter(const HeartbeatWriter&) = delete;
  HeartbeatWriter& operator=(const HeartbeatWriter&) = delete;

  // The state of a status tick, with this process and the time now. False when the write failed.
  bool Beat(Heartbeat beat);
  // The last state again with the time now, when the last write is older than `seconds`.
  void Refresh(int seconds);
  // Ended, when this writer wrote a heartbeat before and the file is still this process's.
  void End();
  // A failed write not reported yet (once per failure spell); empty otherwise.
  std::string TakeProblem();

 private:
  std::filesystem::path path_;
  std::optional<Heartbeat> last_;
  std::string problem_;
  bool failing_ = false;
};

// The states as the file writes them ("open", "dry", ...).
std::string RoofStateWord(RoofState roof);
std::string RainStateWord(RainState rain);

// The computer's clock, seconds since 1970, and such a time as "YYYY-MM-DD HH:MM:SS" UT.
long long UnixTimeNow();
std::string UnixTimeText(long long unixTime);

}  // namespace noctarbel
