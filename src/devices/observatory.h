#pragma once
// The observatory: the roll-off roof's motor controller with its end switches and rain
// sensor on one serial line, the temperature/humidity sensor on another, the open and close
// sequences with their telescope preconditions, the status timer and the rain emergency.
//
// Controller protocol (1200 baud, 8N1): "set output o" is 0x10, 50 ms later the byte o
// (0x00 or 0x01, no reply); the status query 0xA0 is answered by one byte within 200 ms,
// bit 0 the open switch, bit 1 the closed switch, bit 2 rain. The motor is started by a
// pulse on the output. A reply with any other bit set, or more than one byte, is line noise
// and fails the query: a failed query never reads as "open" or "dry".
//
// Sensor line (9600 baud, 8 data bits, no parity, 1 stop bit): the sensor sends CR LF lines
// holding "Feuchte:" and "Temperatur:", each followed by its value. One stop bit is what
// termios offers short of two; a receiver checks only the first stop bit, so lines sent
// with 1.5 or 2 stop bits read the same, and the one byte we send is accepted by any UART.

#include <cstdint>
#include <optional>
#include <string>

namespace noctarbel {

class Station;

inline constexpr int kRoofOpen = 1;
inline constexpr int kRoofClosed = 0;
inline constexpr int kRoofUnknown = -1;
inline constexpr int kRainWet = 1;
inline constexpr int kRainDry = 0;
inline constexpr int kRainUnknown = -1;

// The device paths of the two lines: the override when set, else the port number through
// the SerialPortPattern setting.
std::string ControllerLinePath(Station& station);
std::string SensorLinePath(Station& station);

// Controller protocol; both report failure instead of throwing.
bool SetControllerOutput(Station& station, std::uint8_t value);
std::optional<std::uint8_t> QueryControllerStatus(Station& station);
// What a status byte says; -1 for a byte that is not a valid reply.
int RoofStateFromStatus(std::uint8_t status);
int RainStateFromStatus(std::uint8_t status);

// Opens the controller line and checks that the controller answers. False also when the
// first "set output 0x00" fails: a controller we cannot command must not count as
// connected. True without any I/O when observatory control is off or the simulator runs.
bool ConnectObservatory(Station& station);
int GetRoofState(Station& station);
int GetRainState(Station& station);
bool PulseRoofMotor(Station& station);
bool OpenRoofMotor(Station& station);
bool CloseRoofMotor(Station& station);
// False when the sensor line could not be opened (or control is off).
bool ConnectSensor(Station& station);

struct SensorReading {
  double Temperature = 0;  // degrees Celsius
  double Humidity = 0;     // percent
};
// Reads the values from one sensor line; nothing when the line holds no valid pair.
std::optional<SensorReading> ParseSensorLine(const std::string& line);
bool ReadSensor(Station& station, double& temperature, double& humidity);

// The full sequences; interactive asks the operator first. The roof never moves unless the
// telescope is connected and parked.
bool OpenRoof(Station& station, bool interactive);
bool CloseRoof(Station& station, bool interactive);

// Rain while the roof is open: park, close the roof, stop the plan (RoofErrorState when
// that cannot be done).
void RainEmergency(Station& station);

void IOConnectButtonClick(Station& station);
void SimulationButtonClick(Station& station);
void DachAufButtonClick(Station& station);
void DachZuButtonClick(Station& station);
void StatusTimerTimer(Station& station);

}  // namespace noctarbel
