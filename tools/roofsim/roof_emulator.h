#pragma once
// A roll-off roof controller and a temperature/humidity sensor as the station sees them on
// their serial lines, behind pseudo-terminals, so the observatory can be tried and tested
// without hardware.
//
// Controller: 0x10 followed by an output byte sets the motor output; a rising edge starts
// the roof towards the other end switch (a pulse while it moves stops it, the next one
// reverses it). 0xA0 is answered with one status byte: bit 0 open switch, bit 1 closed
// switch, bit 2 rain. Sensor: a line "Temperatur:tt.tt Feuchte:hh.hh" with CR LF at a fixed
// interval.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace noctarbel::roofsim {

enum class RoofFault {
  None,
  StuckMotor,    // pulses are ignored: the roof stays where it is
  NoReply,       // status queries get no answer
  BothSwitches,  // both end switches report closed contacts (status 0x03 plus rain)
};

struct RoofConfig {
  double TravelSeconds = 10.0;  // from one end switch to the other
  bool StartOpen = false;
  bool Rain = false;
  // Rain starts at this time of the emulator's clock (seconds since it started, unless a
  // test gives its own clock); negative: never.
  double RainAtSeconds = -1;
  RoofFault Fault = RoofFault::None;
};

// The controller's logic, free of I/O: bytes in at a time (seconds), reply bytes out.
class RoofController {
 public:
  explicit RoofController(const RoofConfig& config);

  std::string Receive(std::string_view bytes, double now);
  std::uint8_t StatusByte(double now) const;
  // 0 closed .. 1 open.
  double Position(double now) const;
  bool Moving(double now) const;
  int Pulses() const { return pulses_; }
  // The motor output as last set (on between the two halves of a pulse).
  bool Output() const { return output_; }
  int Queries() const { return queries_; }

  void SetRain(bool rain) { config_.Rain = rain; }
  void SetFault(RoofFault fault) { config_.Fault = fault; }
  const RoofConfig& Config() const { return config_; }

 private:
  void SetOutput(std::uint8_t value, double now);
  void Pulse(double now);

  RoofConfig config_;
  bool expectOutputValue_ = false;
  bool output_ = false;
  double position_ = 0;  // at since_
  double since_ = 0;
  int direction_ = 0;      // +1 opening, -1 closing, 0 still
  int lastDirection_ = 0;  // where it went last, for a pulse between the switches
  int pulses_ = 0;
  int queries_ = 0;
};

struct SensorConfig {
  double Temperature = 12.3;  // degrees Celsius
  double Humidity = 65.4;     // percent
  double IntervalSeconds = 1.0;
};

// The sensor's line, values written in exactly five characters each.
std::string SensorLine(double temperature, double humidity);

// A pseudo-terminal whose far end a thread serves. The path of the near end is what the
// station opens.
class PtyEmulator {
 public:
  using Clock = std::function<double()>;  // seconds, for the roof's travel

  // A roof controller; clock defaults to seconds since the emulator started.
  static std::unique_ptr<PtyEmulator> Roof(const RoofConfig& config, Clock clock = {});
  static std::unique_ptr<PtyEmulator> Sensor(const SensorConfig& config);
  ~PtyEmulator();
  PtyEmulator(const PtyEmulator&) = delete;
  PtyEmulator& operator=(const PtyEmulator&) = delete;

  const std::string& Path() const { return path_; }

  // Thread-safe controls.
  void SetRain(bool rain);
  void SetFault(RoofFault fault);
  void SetSensorValues(double temperature, double humidity);
  // Sensor: send this text instead of the values (line noise); empty goes back to values.
  void SetSensorText(const std::string& text);
  // Sensor: stop sending (a sensor that fell silent) or start again.
  void SetSensorSilent(bool silent);
  // Closes the far end, as if the cable were pulled; returns once it is closed.
  void Hangup();
  // The roof's state, read under the lock.
  std::uint8_t RoofStatus();
  double RoofPosition();
  int RoofPulses();
  bool RoofOutput();
  int RoofQueries();

 private:
  PtyEmulator() = default;
  void Open();
  void Run();
  void ServeRoof();
  void ServeSensor(double& nextLineAt);
  double Now() const;

  double started_ = 0;

  bool isRoof_ = true;
  Clock clock_;
  RoofController roof_{RoofConfig{}};
  SensorConfig sensor_;
  std::string sensorText_;
  bool sensorSilent_ = false;
  int master_ = -1;
  int slaveKeeper_ = -1;
  std::string path_;
  std::mutex mutex_;
  std::condition_variable hungUp_;
  bool hangupRequested_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace noctarbel::roofsim
