#pragma once
// The watchdog's side of the station: whether a station's heartbeat says it died leaving the
// observatory exposed, and taking the devices over to make it safe — the telescope parked and
// the roof closed behind that park, through the same operations (and the same roof guard) as
// the station's own close. Nothing is asked: the watchdog runs unattended.

#include <string>
#include <vector>

#include "operations/station_core.h"
#include "station/heartbeat.h"

namespace noctarbel {

enum class WatchVerdict {
  NoStation,        // no heartbeat in the station folder
  EndedInOrder,     // the station ended (or was made safe) and said so
  Alive,            // fresh heartbeat, process there: never fight a living station
  NothingToSecure,  // dead, but no run was active and the roof was closed
  TakeOver,         // dead with a run active or the roof not known closed
};

struct WatchJudgement {
  WatchVerdict Verdict = WatchVerdict::NoStation;
  std::string Why;  // one line: what the heartbeat says
};

// `age` is how old the heartbeat is in seconds, `limitSeconds` the age from which a station
// counts as dead even with its process there (hung), `processAlive` whether its process is.
WatchJudgement JudgeHeartbeat(const Heartbeat& beat, long long age, int limitSeconds, bool processAlive);

// Whether the process runs (a process of another user counts as running).
bool ProcessAlive(pid_t pid);

struct TakeOverResult {
  bool Ok = false;  // the roof closed (or not controlled) and the telescope parked (or none)
  bool Parked = false;
  bool RoofClosed = false;
  std::vector<std::string> Steps;  // what was done and what failed, one line each
};

// Connects the telescope and the roof controller named in the core's settings and makes the
// observatory safe: a roof not closed is closed behind a verified park (refused by the roof
// guard as any close is), with the roof closed already the telescope is only parked. The
// devices are let go at the end.
TakeOverResult TakeOver(StationCore& core, OperationContext& op);

// The roof and the rain as the controller reports them, read by a watchdog while no station
// holds the controller line: the line is opened, read and let go again at once, so that a
// station starting meanwhile gets it (it tries a busy line again for a few seconds).
struct RoofGlance {
  bool Read = false;  // false: control off, or the line could not be read (Error says why)
  RoofState Roof = RoofState::Undetermined;
  RainState Rain = RainState::Unknown;
  std::string Error;
};
RoofGlance GlanceAtRoof(StationCore& core, OperationContext& op);
// Rain on a roof not known closed: the watchdog parks and closes as for a dead station.
bool RainNeedsClosing(const RoofGlance& glance);

}  // namespace noctarbel
