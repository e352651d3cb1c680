#include "operations/watchdog_operations.h"

#include <signal.h>

#include <cerrno>

namespace noctarbel {

WatchJudgement JudgeHeartbeat(const Heartbeat& beat, long long age, int limitSeconds, bool processAlive) {
  const std::string station = "the station (process " + std::to_string(beat.Pid) + ")";
  if (beat.Ended) return {WatchVerdict::EndedInOrder, station + " ended in good order"};
  std::string why;
  if (!processAlive) {
    why = station + " is gone";
  } else if (age > limitSeconds) {
    why = station + " has not beaten for " + std::to_string(age) + " s";
  } else {
    return {WatchVerdict::Alive, station + " is alive"};
  }
  why += " (roof " + RoofStateWord(beat.Roof) + ", rain " + RainStateWord(beat.Rain) +
         (beat.RunActive ? ", a run was active" : ", no run active") + ")";
  if (!beat.RunActive && beat.Roof == RoofState::Closed) return {WatchVerdict::NothingToSecure, why};
  return {WatchVerdict::TakeOver, why};
}

bool ProcessAlive(pid_t pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

namespace {

bool ConnectMount(StationCore& core, TakeOverResult& result) {
  if (core.Settings.TelescopeObject.empty()) {
    result.Steps.push_back("No telescope is chosen (TelescopeObject)");
    return false;
  }
  std::string error;
  if (core.Mount.Connect(&error)) return true;
  result.Steps.push_back("Telescope " + core.Settings.TelescopeObject + " could not be connected: " + error);
  return false;
}

void Park(StationCore& core, OperationContext& op, TakeOverResult& result) {
  result.Parked = core.Mount.GotoParkPosition1(op);
  result.Steps.push_back(result.Parked ? "Telescope parked at park position 1"
                                       : "Telescope not parked: " + core.Status());
}

}  // namespace

TakeOverResult TakeOver(StationCore& core, OperationContext& op) {
  TakeOverResult result;
  const bool mount = ConnectMount(core, result);
  ObservatoryOperations& obs = core.Observatory;
  if (!obs.ControlEnabled()) {
    result.RoofClosed = true;  // nothing to close: the roof is not controlled
    result.Steps.push_back("Observatory control is off: no roof to close");
    if (mount) Park(core, op, result);
  } else if (!obs.ConnectObservatory(op)) {
    result.Steps.push_back("Observatory I/O error: " + obs.LineError());
    if (mount) Park(core, op, result);
  } else if (obs.GetRoofState() == RoofState::Closed) {
    result.RoofClosed = true;
    result.Steps.push_back("The roof is closed");
    if (mount) Park(core, op, result);
  } else {
    // The station's own close: the guard, the park, the motor.
    const RoofMoveResult close = obs.CloseRoof(op);
    result.RoofClosed = close.Ok;
    result.Parked = mount && !close.ParkFailed && !close.Refused && core.Mount.AtParkPosition1();
    result.Steps.push_back(close.Ok ? "Telescope parked, roof closed" : core.Status());
  }
  result.Ok = result.RoofClosed && (result.Parked || core.Settings.TelescopeObject.empty());
  if (core.Mount.HasDriver()) core.Mount.Disconnect();
  return result;
}

RoofGlance GlanceAtRoof(StationCore& core, OperationContext& op) {
  RoofGlance glance;
  ObservatoryOperations& obs = core.Observatory;
  if (!obs.ControlEnabled()) {
    glance.Error = "observatory control is off";
    return glance;
  }
  if (!obs.ConnectObservatory(op)) {
    glance.Error = obs.LineError();
    return glance;
  }
  const std::optional<std::uint8_t> status = obs.QueryControllerStatus();
  obs.ReleaseController();
  if (!status) {
    glance.Error = obs.LineError();
    return glance;
  }
  glance.Read = true;
  glance.Roof = RoofStateFromStatus(*status);
  glance.Rain = RainStateFromStatus(*status);
  return glance;
}

bool RainNeedsClosing(const RoofGlance& glance) {
  return glance.Read && glance.Rain == RainState::Wet && glance.Roof != RoofState::Closed;
}

}  // namespace noctarbel
