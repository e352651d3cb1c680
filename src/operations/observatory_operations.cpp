#include "operations/observatory_operations.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "common/number_text.h"
#include "devices/device_registry.h"
#include "operations/mount_operations.h"
#include "station/station_state.h"

namespace noctarbel {

namespace {

using std::chrono::milliseconds;

constexpr std::uint8_t kSetOutput = 0x10;
constexpr std::uint8_t kStatusQuery = 0xA0;
constexpr std::uint8_t kStatusBits = 0x07;
constexpr int kMotorPolls = 16;
constexpr int kPulseMs = 500;
constexpr int kBusyLineTries = 16;  // 4 s for a line another program holds
constexpr int kBusyLineRetryMs = 250;
constexpr size_t kMaxSensorLine = 256;
// A sensor silent for longer than this (days, about 60 s) shows "?".
constexpr double kSensorStaleDays = 0.0007;

const SerialSettings kControllerLine{1200, 8, 1};
const SerialSettings kSensorLine{9600, 8, 1};

std::optional<double> ValueAfter(const std::string& line, const std::string& label) {
  const size_t at = line.find(label);
  if (at == std::string::npos) return std::nullopt;
  return ParseFloat(line.substr(at + label.size(), 5));
}

}  // namespace

RoofState RoofStateFromStatus(std::uint8_t status) {
  if (status & ~kStatusBits) return RoofState::Undetermined;
  const bool openSwitch = status & 0x01;
  const bool closedSwitch = status & 0x02;
  if (openSwitch && !closedSwitch) return RoofState::Open;
  if (!openSwitch && closedSwitch) return RoofState::Closed;
  return RoofState::Undetermined;
}

RainState RainStateFromStatus(std::uint8_t status) {
  if (status & ~kStatusBits) return RainState::Unknown;
  return (status & 0x04) ? RainState::Wet : RainState::Dry;
}

std::optional<SensorReading> ParseSensorLine(const std::string& line) {
  auto humidity = ValueAfter(line, "Feuchte:");
  auto temperature = ValueAfter(line, "Temperatur:");
  if (!humidity || !temperature) return std::nullopt;
  // Values no sensor can report are line noise.
  if (*humidity < 0 || *humidity > 100 || *temperature < -80 || *temperature > 80) return std::nullopt;
  return SensorReading{*temperature, *humidity};
}

std::optional<std::string> ObservatoryOperations::SimulatedTelescopeRefusal() const {
  const SettingsRecord& s = core_.Settings;
  if (!ControlEnabled() || SimulationMode || s.AllowSimulatedTelescope) return std::nullopt;
  if (IdentifierScheme(s.TelescopeObject) != "sim") return std::nullopt;
  const std::string line = ControllerLinePath();
  if (IsPseudoTerminal(line)) return std::nullopt;
  return "the simulated telescope \"" + s.TelescopeObject + "\" cannot vouch for the real roof controller on " + line;
}

bool ObservatoryOperations::IsPseudoTerminal(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path real = std::filesystem::canonical(path, ec);
  if (ec) return false;
  const char* folder = std::getenv("NOCTARBEL_PTY_FOLDER");
  std::string ptys = folder && *folder ? folder : "/dev/pts";
  if (ptys.back() != '/') ptys += '/';
  const std::string text = real.string();
  return text.rfind(ptys, 0) == 0 || (ptys == "/dev/pts/" && text == "/dev/ptmx");
}

bool ObservatoryOperations::ControlEnabled() const { return core_.Settings.EnableObservatoryControl; }

std::string ObservatoryOperations::ControllerLinePath() const {
  if (!ControllerPathOverride.empty()) return ControllerPathOverride;
  return SerialDevicePath(core_.Settings.SerialPortPattern, core_.Settings.Comport1);
}

std::string ObservatoryOperations::SensorLinePath() const {
  if (!SensorPathOverride.empty()) return SensorPathOverride;
  return SerialDevicePath(core_.Settings.SerialPortPattern, core_.Settings.TempComport1);
}

bool ObservatoryOperations::ControllerReady() const {
  return !ControlEnabled() || SimulationMode || controllerLine_.IsOpen();
}

void ObservatoryOperations::FailLine(const std::string& why) { lineError_ = why; }

bool ObservatoryOperations::SetControllerOutput(std::uint8_t value) {
  if (!controllerLine_.IsOpen()) {
    FailLine("the roof controller on " + ControllerLinePath() + " is not connected");
    return false;
  }
  try {
    controllerLine_.WriteByte(kSetOutput);
    // Not a pumping wait: a status query sent between the two bytes would be taken for the
    // output value.
    std::this_thread::sleep_for(milliseconds(50));
    controllerLine_.WriteByte(value);
    return true;
  } catch (const SerialError& e) {
    FailLine(e.what());
    return false;
  }
}

std::optional<std::uint8_t> ObservatoryOperations::QueryControllerStatus() {
  if (!controllerLine_.IsOpen()) {
    FailLine("the roof controller on " + ControllerLinePath() + " is not connected");
    return std::nullopt;
  }
  try {
    // A late reply to an earlier query must not pass for this one.
    controllerLine_.DiscardInput();
    controllerLine_.WriteByte(kStatusQuery);
    auto reply = controllerLine_.ReadByte(milliseconds(200));
    if (!reply) {
      FailLine("no reply from the roof controller on " + controllerLine_.Path());
      return std::nullopt;
    }
    // The controller sends one byte: anything more is noise or an echo, and so is a reply
    // with bits it never sets.
    if (controllerLine_.ReadByte(milliseconds(20)) || (*reply & ~kStatusBits)) {
      FailLine("garbled reply from the roof controller on " + controllerLine_.Path());
      return std::nullopt;
    }
    lineError_.clear();
    return reply;
  } catch (const SerialError& e) {
    FailLine(e.what());
    return std::nullopt;
  }
}

bool ObservatoryOperations::OpenControllerLine(OperationContext& op) {
  for (int attempt = 1;; ++attempt) {
    try {
      controllerLine_.Open(ControllerLinePath(), kControllerLine);
      return true;
    } catch (const SerialBusyError& e) {
      // The watchdog takes the line for about a second now and then to look at the rain.
      if (attempt >= kBusyLineTries || !op.Wait(kBusyLineRetryMs)) {
        FailLine(e.what());
        return false;
      }
    } catch (const SerialError& e) {
      FailLine(e.what());
      return false;
    }
  }
}

void ObservatoryOperations::ReleaseController() { controllerLine_.Close(); }

bool ObservatoryOperations::ConnectObservatory(OperationContext& op) {
  if (!ControlEnabled() || SimulationMode) return true;
  if (!OpenControllerLine(op)) return false;
  if (!op.Wait(100) || !SetControllerOutput(0x00)) {
    // The motor output is in an unknown state and cannot be commanded: not connected.
    if (!op.MayContinue()) FailLine("connecting the roof controller: " + op.StopText());
    controllerLine_.Close();
    return false;
  }
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (!op.Wait(500)) {
      FailLine("connecting the roof controller: " + op.StopText());
      break;
    }
    if (QueryControllerStatus()) return true;
  }
  controllerLine_.Close();
  return false;
}

RoofState ObservatoryOperations::GetRoofState() {
  if (!ControlEnabled()) return RoofState::Open;
  if (SimulationMode) return SimRoof;
  auto status = QueryControllerStatus();
  return status ? RoofStateFromStatus(*status) : RoofState::Undetermined;
}

RainState ObservatoryOperations::GetRainState() {
  if (!ControlEnabled()) return RainState::Dry;
  if (SimulationMode) return SimRain;
  auto status = QueryControllerStatus();
  return status ? RainStateFromStatus(*status) : RainState::Unknown;
}

bool ObservatoryOperations::PulseRoofMotor() {
  if (!ControlEnabled()) return true;
  if (SimulationMode) {
    SimRoof = SimRoof == RoofState::Open ? RoofState::Closed : RoofState::Open;
    return true;
  }
  const bool on = SetControllerOutput(0x01);
  std::this_thread::sleep_for(milliseconds(kPulseMs));
  bool off = SetControllerOutput(0x00);
  if (!off) {
    // The output must not stay on: one more try.
    std::this_thread::sleep_for(milliseconds(100));
    off = SetControllerOutput(0x00);
  }
  return on && off;
}

bool ObservatoryOperations::MoveRoofMotor(OperationContext& op, RoofState from, RoofState to) {
  // Without observatory control there is no roof to move: the command succeeds.
  if (!ControlEnabled()) return true;
  if (!op.MayContinue()) return false;
  RoofState state = GetRoofState();
  if (state != from) return state == to;
  if (!op.MayContinue()) return false;
  PulseRoofMotor();
  for (int poll = 0; poll < kMotorPolls; ++poll) {
    if (!op.Wait(1000)) return false;
    state = GetRoofState();
    if (state == to) break;
  }
  return state == to;
}

bool ObservatoryOperations::OpenRoofMotor(OperationContext& op) {
  return MoveRoofMotor(op, RoofState::Closed, RoofState::Open);
}

bool ObservatoryOperations::CloseRoofMotor(OperationContext& op) {
  return MoveRoofMotor(op, RoofState::Open, RoofState::Closed);
}

bool ObservatoryOperations::WaitForEndSwitch(OperationContext& op) {
  for (int poll = 0; poll < kMotorPolls && GetRoofState() == RoofState::Undetermined; ++poll) {
    if (!op.Wait(1000)) return false;
  }
  return GetRoofState() != RoofState::Undetermined;
}

bool ObservatoryOperations::ConnectSensor() {
  if (!ControlEnabled()) return false;
  if (core_.Settings.TempComport1 == 0 || sensorLineOpen_) return true;
  try {
    sensorLine_.Open(SensorLinePath(), kSensorLine);
    sensorLine_.DiscardInput();
    sensorLine_.WriteByte(0x00);
    sensorBuffer_.clear();
    // The first line may be cut: it is dropped when it comes (a silent sensor is noticed
    // by the watch a minute later).
    dropFirstSensorLine_ = true;
    sensorLineOpen_ = true;
    return true;
  } catch (const SerialError& e) {
    sensorLine_.Close();
    core_.SetStatus(e.what());
    return false;
  }
}

std::optional<SensorReading> ObservatoryOperations::ReadSensor() {
  if (!sensorLineOpen_) return std::nullopt;
  try {
    sensorBuffer_ += sensorLine_.ReadAvailable();
  } catch (const SerialError&) {
    return std::nullopt;
  }
  std::optional<SensorReading> newest;
  for (size_t end; (end = sensorBuffer_.find("\r\n")) != std::string::npos;) {
    const std::string line = sensorBuffer_.substr(0, end);
    sensorBuffer_.erase(0, end + 2);
    if (dropFirstSensorLine_) {
      dropFirstSensorLine_ = false;
      continue;
    }
    if (auto reading = ParseSensorLine(line)) newest = reading;
  }
  // No sensor sends such a line: what is there is noise, and the next line starts afresh.
  if (sensorBuffer_.size() > kMaxSensorLine) sensorBuffer_.clear();
  if (newest) LastGoodSensorTime = core_.Clock.UtcNow();
  return newest;
}

bool ObservatoryOperations::SensorStale() const {
  return core_.Clock.UtcNow() - LastGoodSensorTime > kSensorStaleDays;
}

bool ObservatoryOperations::ParkForRoof(OperationContext& op, const char* refused) {
  if (mount_.GotoParkPosition1(op)) return true;
  // Keep the park's own reason: a time-out, a position error or an interruption.
  const std::string why = core_.Status();
  core_.SetStatus(std::string(refused) + ": park position 1 not reached" + (why.empty() ? "" : " (" + why + ")"));
  return false;
}

// The interactive opening's own approach to park position 1: a slew to its azimuth and
// altitude, then the same check as a park.
bool ObservatoryOperations::ApproachParkForOpening(OperationContext& op) {
  if (!mount_.ApproachParkPosition1(op, "Roof not opened")) return false;
  if (mount_.AtParkPosition1()) return true;
  core_.SetStatus("Roof not opened: park position 1 not reached");
  return false;
}

RoofMoveResult ObservatoryOperations::OpenRoof(OperationContext& op, const Confirm& ask) {
  RoofMoveResult result;
  if (auto refusal = SimulatedTelescopeRefusal()) {
    result.Refused = true;
    core_.SetStatus("Roof not opened: " + *refusal);
    return result;
  }
  const bool interactive = static_cast<bool>(ask);
  if (mount_.Connected() && GetRainState() == RainState::Dry) {
    core_.SetStatus("Roof is opened...");
    if (interactive && !ask("Park telescope and open roof?")) {
      result.Declined = true;
    } else if (!(interactive ? ApproachParkForOpening(op) : ParkForRoof(op, "Roof not opened"))) {
      result.ParkFailed = true;
    } else if (GetRainState() != RainState::Dry) {
      // It began to rain while the telescope went to its park position: the roof stays shut
      // (said below).
    } else {
      // The roof only moves with the telescope in park position 1.
      if (OnRoofMoving) OnRoofMoving();
      op.Pump();
      result.Ok = OpenRoofMotor(op);
      if (result.Ok) {
        core_.SetStatus(interactive ? "Roof is opened" : "Roof is open");
      } else if (!op.MayContinue()) {
        // Whoever interrupted the opening owns the observatory now: nothing more is sent.
        core_.SetStatus("Open error! " + op.StopText());
        return result;
      } else {
        core_.SetStatus(lineError_.empty() ? "Open error!" : "Open error! " + lineError_);
      }
    }
  }
  const RainState rain = GetRainState();
  if (rain != RainState::Dry) {
    result.RainBlocked = true;
    // A line that does not answer is not a wet sensor.
    core_.SetStatus(rain == RainState::Unknown && !lineError_.empty() ? "Error: " + lineError_ : "Error: Rain sensor!");
  }
  return result;
}

RoofMoveResult ObservatoryOperations::CloseRoof(OperationContext& op, const Confirm& ask) {
  return CloseRoofSequence(op, ask, false);
}

RoofMoveResult ObservatoryOperations::CloseRoofSequence(OperationContext& op, const Confirm& ask, bool parked) {
  RoofMoveResult result;
  // The emergency closes all the same: rain on an open observatory is worse than a roof
  // closing over a telescope whose park nobody checked (it says so).
  if (auto refusal = SimulatedTelescopeRefusal(); refusal && !op.IsEmergency()) {
    result.Refused = true;
    core_.SetStatus("Roof not closed: " + *refusal);
    return result;
  }
  if (GetRoofState() == RoofState::Closed) {
    result.Ok = true;
    return result;
  }
  if (mount_.Connected()) {
    core_.SetStatus("Roof is closing...");
    if (ask && !ask("Park telescope and close roof?")) {
      result.Declined = true;
    } else {
      if (!parked && !ParkForRoof(op, "Roof not closed")) {
        result.ParkFailed = true;
        return result;
      }
      if (OnRoofMoving) OnRoofMoving();
      op.Pump();
      // In an emergency a roof between its switches may still be moving: it is given the
      // motor's time to reach one before the close is decided.
      if (op.IsEmergency() && GetRoofState() == RoofState::Undetermined) WaitForEndSwitch(op);
      result.Ok = CloseRoofMotor(op);
    }
  }
  if (result.Ok) {
    core_.SetStatus("Roof was closed");
    core_.Run.RoofErrorState = RoofAlarm::None;
  } else if (!op.MayContinue()) {
    core_.SetStatus("Error closing roof: " + op.StopText());
  } else if (!mount_.Connected()) {
    core_.SetStatus("Error closing roof: telescope not connected");
  } else {
    core_.SetStatus(lineError_.empty() ? "Error closing roof" : "Error closing roof: " + lineError_);
  }
  return result;
}

bool ObservatoryOperations::EmergencyDue(RoofState roof, RainState rain) const {
  return roof == RoofState::Open && rain == RainState::Wet && core_.Run.RoofErrorState == RoofAlarm::None;
}

EmergencyOutcome ObservatoryOperations::RainEmergency() {
  auto lease = core_.Operations.BeginEmergency("the rain emergency");
  if (!lease) return EmergencyOutcome::AlreadyRunning;
  OperationContext& op = lease->Context();
  if (GetRoofState() == RoofState::Closed) return EmergencyOutcome::NotNeeded;
  if (!mount_.Connected() || !mount_.GotoParkPosition1(op)) {
    // Closing the roof onto a telescope that is not parked would wreck it.
    core_.Run.RoofErrorState = RoofAlarm::RainNotParked;
    core_.Notify("rain-emergency-failed", "Rain: the telescope could not be parked; the roof was left open");
    return EmergencyOutcome::NotParked;
  }
  core_.SetStatus("Emergency! Going to park position");
  core_.LogTimed(": Emergency! Going to park position");
  if (auto refusal = SimulatedTelescopeRefusal()) {
    core_.LogTimed(": The roof closes although " + *refusal + ": the real telescope's park was not checked");
  }
  // The telescope has just been parked: the close does not park it a second time.
  const bool closed = CloseRoofSequence(op, {}, true).Ok;
  std::string message;
  if (closed) {
    message = " roof is closed!";
  } else {
    core_.LogTimed(": " + core_.Status());
    core_.Run.RoofErrorState = RoofAlarm::CloseFailed;
    message = " error occured closing roof!";
  }
  core_.SetStatus(message);
  core_.LogTimed(": " + message);
  core_.SaveLogFile();
  core_.Run.AbortRequested = true;
  core_.Notify(closed ? "rain-emergency" : "rain-emergency-failed",
               closed ? "Rain: the telescope was parked and the roof closed"
                      : "Rain: the telescope was parked but the roof did NOT close");
  return closed ? EmergencyOutcome::RoofClosed : EmergencyOutcome::CloseFailed;
}

}  // namespace noctarbel
