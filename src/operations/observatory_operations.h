#pragma once
// The observatory: the roll-off roof's motor controller with its end switches and rain
// sensor on one serial line, the temperature/humidity sensor on another, the open and close
// sequences with their telescope preconditions and the rain emergency. These operations own
// both lines and the roof's safety rules; the window's observatory controls are adapters
// over them (observatory.h), and the command line uses them directly.
//
// Safety rules kept here:
// - the roof moves only behind a verified park at park position 1 (a failed, timed-out or
//   interrupted park leaves it where it is);
// - a failed or garbled status query never reads as "open" or "dry";
// - rain, or a rain sensor that cannot be read, keeps the roof from opening;
// - the motor output is never left on: the pulse's "off" is sent whatever happens between.
//
// Controller protocol (1200 baud, 8N1): "set output o" is 0x10, 50 ms later the byte o
// (0x00 or 0x01, no reply); the status query 0xA0 is answered by one byte within 200 ms,
// bit 0 the open switch, bit 1 the closed switch, bit 2 rain. The motor is started by a
// pulse on the output. A reply with any other bit set, or more than one byte, is line noise
// and fails the query.
//
// Sensor line (9600 baud, 8 data bits, no parity, 1 stop bit): the sensor sends CR LF lines
// holding "Feuchte:" and "Temperatur:", each followed by its value. One stop bit is what
// termios offers short of two; a receiver checks only the first stop bit, so lines sent
// with 1.5 or 2 stop bits read the same, and the one byte we send is accepted by any UART.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "common/datetime.h"
#include "devices/device_states.h"
#include "devices/serial_port.h"

namespace noctarbel {

class OperationContext;
class StationState;
class MountOperations;

// What a status byte says; undetermined/unknown for a byte that is not a valid reply.
RoofState RoofStateFromStatus(std::uint8_t status);
RainState RainStateFromStatus(std::uint8_t status);

struct SensorReading {
  double Temperature = 0;  // degrees Celsius
  double Humidity = 0;     // percent
};
// Reads the values from one sensor line; nothing when the line holds no valid pair.
std::optional<SensorReading> ParseSensorLine(const std::string& line);

// How a roof sequence ended.
struct RoofMoveResult {
  bool Ok = false;
  bool Refused = false;      // the roof guard: a simulated telescope in front of a real roof
  bool Declined = false;     // the operator answered No
  bool ParkFailed = false;   // park position 1 was not reached: the roof was not moved
  bool RainBlocked = false;  // rain, or a rain state that could not be read
};

// How the rain emergency ended.
enum class EmergencyOutcome {
  NotNeeded,       // the roof was closed
  AlreadyRunning,  // an emergency runs already (this call changed nothing)
  RoofClosed,      // parked and closed; the plan stops
  CloseFailed,     // parked, but the roof did not close (alarm 1); the plan stops
  NotParked,       // telescope not connected or not parked: the roof stays (alarm 2)
};

class ObservatoryOperations {
 public:
  ObservatoryOperations(StationState& state, MountOperations& mount) : core_(state), mount_(mount) {}
  ObservatoryOperations(const ObservatoryOperations&) = delete;
  ObservatoryOperations& operator=(const ObservatoryOperations&) = delete;

  // Device paths that replace the port-number mapping (command line --port, tests).
  std::string ControllerPathOverride;
  std::string SensorPathOverride;
  // Set by the observatory's "Simulator" button for the rest of the run: no controller line,
  // the roof is a variable (starting closed), rain a variable (dry unless told otherwise),
  // and the park-position checks before opening are skipped.
  bool SimulationMode = false;
  RoofState SimRoof = RoofState::Closed;
  RainState SimRain = RainState::Dry;

  bool ControlEnabled() const;
  std::string ControllerLinePath() const;
  std::string SensorLinePath() const;
  // The controller line is open (or no line is needed: control off, or the simulator).
  bool ControllerReady() const;
  // The controller line's file descriptor, -1 when it is not open: a signal handler that
  // must end the program switches the motor output off through it.
  int ControllerLineFd() const { return controllerLine_.Fd(); }
  // Why the last command or query on the controller line failed ("no reply from the roof
  // controller on /dev/ttyUSB0"); empty after a good one.
  const std::string& LineError() const { return lineError_; }

  // Controller protocol; both report failure instead of throwing.
  bool SetControllerOutput(std::uint8_t value);
  std::optional<std::uint8_t> QueryControllerStatus();

  // Opens the controller line and checks that the controller answers (up to five queries
  // half a second apart, under `op`). False also when the first "set output 0x00" fails: a
  // controller we cannot command must not count as connected. True without any I/O when
  // observatory control is off or the simulator runs.
  // A line held by another program (the watchdog looking at the rain) is tried again for a few
  // seconds before the connect fails.
  bool ConnectObservatory(OperationContext& op);
  // Lets the controller line go (the watchdog, between its looks at the rain).
  void ReleaseController();
  RoofState GetRoofState();
  RainState GetRainState();
  // Output on, 500 ms, output off. The pause does not pump: nothing else may use the line
  // between the two, and the "off" is always sent.
  bool PulseRoofMotor();
  bool OpenRoofMotor(OperationContext& op);
  bool CloseRoofMotor(OperationContext& op);

  // False when the sensor line could not be opened (or control is off). Nothing is awaited:
  // the sensor sends a line every few seconds by itself, and its first (perhaps cut) line is
  // dropped when it comes.
  bool ConnectSensor();
  bool SensorConnected() const { return sensorLineOpen_; }
  // The newest valid reading among the lines that arrived since the last call; nothing when
  // no complete valid line came. Never waits: a sensor that stopped sending must not hold
  // up the observatory's watch (and with it the rain check).
  std::optional<SensorReading> ReadSensor();
  // UT of the last good reading; 0 before the first.
  DateTime LastGoodSensorTime = 0;
  // The last good reading is older than a minute (the window shows "?" then).
  bool SensorStale() const;

  // The one roof guard, which every move of a real roof passes (the window's buttons, the
  // roof command, a plan's ZA, Z0 and ZZ, the clean-up of a run and the rain emergency): the
  // simulated telescope parks nothing real, so it cannot vouch for the telescope under a
  // real roof. Nothing when the roof may move: observatory control off, the roof simulator,
  // a pseudo-terminal (the roof emulator), a real telescope, or the operator's permission
  // (AllowSimulatedTelescope, --allow-simulated-telescope). Otherwise why it may not.
  std::optional<std::string> SimulatedTelescopeRefusal() const;
  // A controller line that is a pseudo-terminal (the roof emulator), symbolic links resolved.
  // Tests name another folder for pseudo-terminals in NOCTARBEL_PTY_FOLDER, so that their
  // emulator stands for a real line.
  static bool IsPseudoTerminal(const std::string& path);

  // The full sequences. `ask` is the operator's Yes/No for an interactive sequence (empty:
  // not interactive, as in a plan run or from the command line). A real roof behind the
  // simulated telescope is refused (Refused) without moving anything.
  using Confirm = std::function<bool(const std::string& question)>;
  RoofMoveResult OpenRoof(OperationContext& op, const Confirm& ask = {});
  RoofMoveResult CloseRoof(OperationContext& op, const Confirm& ask = {});

  // Rain while the roof is not closed: park, close the roof, stop the plan (alarm when that
  // cannot be done). It preempts every running operation and is never preempted itself.
  EmergencyOutcome RainEmergency();
  // The status timer's rule: rain with the roof open and no alarm starts the emergency.
  bool EmergencyDue(RoofState roof, RainState rain) const;

  // Told when the roof is about to move (the window shows "?" then).
  std::function<void()> OnRoofMoving;

 private:
  bool OpenControllerLine(OperationContext& op);
  bool MoveRoofMotor(OperationContext& op, RoofState from, RoofState to);
  bool WaitForEndSwitch(OperationContext& op);
  bool ParkForRoof(OperationContext& op, const char* refused);
  // The close behind a park: `parked` when the caller has just verified park position 1.
  RoofMoveResult CloseRoofSequence(OperationContext& op, const Confirm& ask, bool parked);
  bool ApproachParkForOpening(OperationContext& op);
  void FailLine(const std::string& why);

  StationState& core_;
  MountOperations& mount_;
  SerialPort controllerLine_;
  SerialPort sensorLine_;
  bool sensorLineOpen_ = false;
  std::string sensorBuffer_;  // bytes of a line not complete yet
  bool dropFirstSensorLine_ = false;
  std::string lineError_;
};

}  // namespace noctarbel
