#include "devices/observatory.h"

#include <chrono>
#include <cmath>
#include <thread>

#include "app/astro_controls.h"
#include "app/station.h"
#include "common/number_text.h"
#include "devices/device_support.h"
#include "devices/telescope_control.h"

namespace noctarbel {

namespace {

using std::chrono::milliseconds;

constexpr std::uint8_t kSetOutput = 0x10;
constexpr std::uint8_t kStatusQuery = 0xA0;
constexpr std::uint8_t kStatusBits = 0x07;
constexpr int kMotorPolls = 16;
// A sensor silent for longer than this (days, about 60 s) shows "?".
constexpr double kSensorStaleDays = 0.0007;

const SerialSettings kControllerLine{1200, 8, 1};
const SerialSettings kSensorLine{9600, 8, 1};

ObservatoryState& Observatory(Station& station) { return station.Devices.Observatory; }

bool ControlEnabled(const Station& station) { return station.Settings.EnableObservatoryControl; }

void ShowRoofUnknown(Station& station) {
  station.Main.SetText("DachStatusEdit", "?");
  station.Main.SetColour("DachStatusEdit", kColourYellow);
}

// Parks for a roof move; a driver error counts as not parked.
bool ParkForRoof(Station& station) {
  try {
    return GotoParkPosition1(station);
  } catch (const std::exception& e) {
    station.SetStatus(std::string("Telescope error: ") + e.what());
    station.LogTimed(std::string(": Telescope error: ") + e.what());
    return false;
  }
}

// The interactive open's own approach to park position 1: a slew to its azimuth and
// altitude, then the same check as a park.
bool SlewToParkForOpening(Station& station) {
  try {
    auto scope = station.Devices.Telescope;
    if (!scope) return false;
    if (scope->CanSetTracking()) scope->SetTracking(false);
    scope->SlewToAltAz(station.Settings.Park1Az, station.Settings.Park1Alt);
    // Bounded like a park: a mount that never stops slewing must not hold the window.
    for (int step = 0; scope->Slewing(); ++step) {
      if (step >= 600) {
        station.SetStatus("Park position timeout error");
        return false;
      }
      station.Clock.Pump();
      station.Clock.Sleep(100);
    }
    if (scope->CanSetTracking()) scope->SetTracking(false);
    return AtParkPosition1(station);
  } catch (const std::exception& e) {
    station.SetStatus(std::string("Telescope error: ") + e.what());
    return false;
  }
}

void ShowRoof(Station& station, int roof) {
  Controls& main = station.Main;
  const bool enabled = ControlEnabled(station);
  const bool slotFilled = station.Devices.Telescope != nullptr;
  if (roof == kRoofClosed) {
    main.SetText("DachStatusEdit", "closed");
    main.SetColour("DachStatusEdit", enabled ? kColourRed : kColourGrey);
    if (slotFilled) main.SetEnabled("DachAufButton", TelescopeConnected(station));
    for (const char* button : {"DachZuButton", "HomeButton", "BtnGoto"}) main.SetEnabled(button, false);
  } else if (roof == kRoofOpen) {
    main.SetText("DachStatusEdit", "open");
    main.SetColour("DachStatusEdit", enabled ? kColourGreen : kColourGrey);
    if (slotFilled) main.SetEnabled("DachZuButton", TelescopeConnected(station));
    main.SetEnabled("DachAufButton", false);
    main.SetEnabled("HomeButton", true);
    main.SetEnabled("BtnGoto", true);
  } else {
    ShowRoofUnknown(station);
  }
}

void ShowRain(Station& station, int rain) {
  Controls& main = station.Main;
  const bool enabled = ControlEnabled(station);
  if (rain == kRainDry) {
    main.SetText("RegensensorEdit", "dry");
    main.SetColour("RegensensorEdit", enabled ? kColourGreen : kColourGrey);
  } else if (rain == kRainWet) {
    main.SetText("RegensensorEdit", "wet");
    main.SetColour("RegensensorEdit", enabled ? kColourRed : kColourGrey);
  } else {
    main.SetText("RegensensorEdit", "?");
    main.SetColour("RegensensorEdit", kColourYellow);
  }
}

void ShowSensor(Station& station) {
  if (station.Settings.TempComport1 <= 0) return;
  double temperature = 0;
  double humidity = 0;
  const DateTime now = station.Clock.UtcNow();
  ObservatoryState& obs = Observatory(station);
  if (ReadSensor(station, temperature, humidity)) {
    station.Main.SetText("TemperaturEdit1", FormatFixed(temperature, 1));
    station.Main.SetText("FeuchteEdit1", FormatFixed(humidity, 1));
    obs.LastGoodSensorTime = now;
  } else if (now - obs.LastGoodSensorTime > kSensorStaleDays) {
    station.Main.SetText("TemperaturEdit1", "?");
    station.Main.SetText("FeuchteEdit1", "?");
  }
}

std::optional<double> ValueAfter(const std::string& line, const std::string& label) {
  const size_t at = line.find(label);
  if (at == std::string::npos) return std::nullopt;
  return ParseFloat(line.substr(at + label.size(), 5));
}

}  // namespace

std::string ControllerLinePath(Station& station) {
  const ObservatoryState& obs = Observatory(station);
  if (!obs.ControllerPathOverride.empty()) return obs.ControllerPathOverride;
  return SerialDevicePath(station.Settings.SerialPortPattern, station.Settings.Comport1);
}

std::string SensorLinePath(Station& station) {
  const ObservatoryState& obs = Observatory(station);
  if (!obs.SensorPathOverride.empty()) return obs.SensorPathOverride;
  return SerialDevicePath(station.Settings.SerialPortPattern, station.Settings.TempComport1);
}

bool SetControllerOutput(Station& station, std::uint8_t value) {
  SerialPort& line = Observatory(station).ControllerLine;
  if (!line.IsOpen()) return false;
  try {
    line.WriteByte(kSetOutput);
    // Not a pumping wait: a status query sent between the two bytes would be taken for the
    // output value.
    std::this_thread::sleep_for(milliseconds(50));
    line.WriteByte(value);
    return true;
  } catch (const SerialError& e) {
    station.SetStatus(e.what());
    return false;
  }
}

std::optional<std::uint8_t> QueryControllerStatus(Station& station) {
  SerialPort& line = Observatory(station).ControllerLine;
  if (!line.IsOpen()) return std::nullopt;
  try {
    // A late reply to an earlier query must not pass for this one.
    line.DiscardInput();
    line.WriteByte(kStatusQuery);
    auto reply = line.ReadByte(milliseconds(200));
    if (!reply) return std::nullopt;
    // The controller sends one byte: anything more is noise or an echo, and so is a reply
    // with bits it never sets.
    if (line.ReadByte(milliseconds(20))) return std::nullopt;
    if (*reply & ~kStatusBits) return std::nullopt;
    return reply;
  } catch (const SerialError& e) {
    station.SetStatus(e.what());
    return std::nullopt;
  }
}

int RoofStateFromStatus(std::uint8_t status) {
  if (status & ~kStatusBits) return kRoofUnknown;
  const bool openSwitch = status & 0x01;
  const bool closedSwitch = status & 0x02;
  if (openSwitch && !closedSwitch) return kRoofOpen;
  if (!openSwitch && closedSwitch) return kRoofClosed;
  return kRoofUnknown;
}

int RainStateFromStatus(std::uint8_t status) {
  if (status & ~kStatusBits) return kRainUnknown;
  return (status & 0x04) ? kRainWet : kRainDry;
}

bool ConnectObservatory(Station& station) {
  if (!ControlEnabled(station) || station.Devices.SimulationMode) return true;
  SerialPort& line = Observatory(station).ControllerLine;
  try {
    line.Open(ControllerLinePath(station), kControllerLine);
  } catch (const SerialError& e) {
    station.SetStatus(e.what());
    return false;
  }
  station.Clock.Sleep(100);
  if (!SetControllerOutput(station, 0x00)) {
    // The motor output is in an unknown state and cannot be commanded: not connected.
    line.Close();
    return false;
  }
  for (int attempt = 0; attempt < 5; ++attempt) {
    station.Clock.Sleep(500);
    if (QueryControllerStatus(station)) return true;
  }
  line.Close();
  return false;
}

int GetRoofState(Station& station) {
  if (!ControlEnabled(station)) return kRoofOpen;
  if (station.Devices.SimulationMode) return Observatory(station).SimRoofState;
  auto status = QueryControllerStatus(station);
  return status ? RoofStateFromStatus(*status) : kRoofUnknown;
}

int GetRainState(Station& station) {
  if (!ControlEnabled(station)) return kRainDry;
  if (station.Devices.SimulationMode) return Observatory(station).SimRainState;
  auto status = QueryControllerStatus(station);
  return status ? RainStateFromStatus(*status) : kRainUnknown;
}

bool PulseRoofMotor(Station& station) {
  if (!ControlEnabled(station)) return true;
  ObservatoryState& obs = Observatory(station);
  if (station.Devices.SimulationMode) {
    obs.SimRoofState = obs.SimRoofState == kRoofOpen ? kRoofClosed : kRoofOpen;
    return true;
  }
  const bool on = SetControllerOutput(station, 0x01);
  station.Clock.Sleep(500);
  bool off = SetControllerOutput(station, 0x00);
  if (!off) {
    // The output must not stay on: one more try.
    std::this_thread::sleep_for(milliseconds(100));
    off = SetControllerOutput(station, 0x00);
  }
  return on && off;
}

bool OpenRoofMotor(Station& station) {
  if (!ControlEnabled(station)) return true;
  int state = GetRoofState(station);
  if (state != kRoofClosed) return state == kRoofOpen;
  PulseRoofMotor(station);
  for (int poll = 0; poll < kMotorPolls; ++poll) {
    WaitPumping(station, 1000);
    state = GetRoofState(station);
    if (state == kRoofOpen) break;
  }
  return state == kRoofOpen;
}

bool CloseRoofMotor(Station& station) {
  // Without observatory control there is no roof to move: the command succeeds.
  if (!ControlEnabled(station)) return true;
  int state = GetRoofState(station);
  if (state != kRoofOpen) return state == kRoofClosed;
  PulseRoofMotor(station);
  for (int poll = 0; poll < kMotorPolls; ++poll) {
    WaitPumping(station, 1000);
    state = GetRoofState(station);
    if (state == kRoofClosed) break;
  }
  return state == kRoofClosed;
}

bool ConnectSensor(Station& station) {
  if (!ControlEnabled(station)) return false;
  ObservatoryState& obs = Observatory(station);
  if (station.Settings.TempComport1 == 0 || obs.SensorLineOpen) return true;
  try {
    obs.SensorLine.Open(SensorLinePath(station), kSensorLine);
    station.Clock.Sleep(100);
    obs.SensorLine.WriteByte(0x00);
    // The first line may be cut; it is read and dropped (a silent sensor is noticed later).
    obs.SensorLine.ReadLine(milliseconds(10000));
    obs.SensorLineOpen = true;
    return true;
  } catch (const SerialError& e) {
    obs.SensorLine.Close();
    station.SetStatus(e.what());
    return false;
  }
}

std::optional<SensorReading> ParseSensorLine(const std::string& line) {
  auto humidity = ValueAfter(line, "Feuchte:");
  auto temperature = ValueAfter(line, "Temperatur:");
  if (!humidity || !temperature) return std::nullopt;
  // Values no sensor can report are line noise.
  if (*humidity < 0 || *humidity > 100 || *temperature < -80 || *temperature > 80) return std::nullopt;
  return SensorReading{*temperature, *humidity};
}

bool ReadSensor(Station& station, double& temperature, double& humidity) {
  ObservatoryState& obs = Observatory(station);
  if (!obs.SensorLineOpen) return false;
  try {
    auto line = obs.SensorLine.ReadLine(milliseconds(10000));
    obs.SensorLine.Purge();
    if (!line) return false;
    auto reading = ParseSensorLine(*line);
    if (!reading) return false;
    temperature = reading->Temperature;
    humidity = reading->Humidity;
    return true;
  } catch (const SerialError&) {
    return false;
  }
}

bool OpenRoof(Station& station, bool interactive) {
  bool result = false;
  if (TelescopeConnected(station) && GetRainState(station) == kRainDry) {
    station.SetStatus("Roof is opened...");
    if (!interactive || station.UiPort.Ask("Park telescope and open roof?")) {
      // The roof only moves with the telescope in park position 1.
      const bool parked = interactive ? SlewToParkForOpening(station) : ParkForRoof(station);
      if (parked) {
        station.Main.SetText("DachStatusEdit", "?");
        station.Clock.Pump();
        result = OpenRoofMotor(station);
      }
      station.SetStatus(result ? (interactive ? "Roof is opened" : "Roof is open") : "Open error!");
    }
  }
  if (GetRainState(station) != kRainDry) {
    station.SetStatus("Error: Rain sensor!");
    if (interactive) station.UiPort.ShowMessage("Rain sensor: wet!");
  }
  return result;
}

bool CloseRoof(Station& station, bool interactive) {
  if (GetRoofState(station) == kRoofClosed) return true;
  bool result = false;
  if (TelescopeConnected(station)) {
    station.SetStatus("Roof is closing...");
    if (!interactive || station.UiPort.Ask("Park telescope and close roof?")) {
      if (!ParkForRoof(station)) {
        if (interactive) station.UiPort.ShowMessage("Error park position");
        return false;
      }
      ShowRoofUnknown(station);
      station.Clock.Pump();
      result = CloseRoofMotor(station);
    }
  }
  if (result) {
    station.SetStatus("Roof was closed");
    station.Run.RoofErrorState = 0;
  } else {
    station.SetStatus("Error closing roof");
  }
  return result;
}

void RainEmergency(Station& station) {
  if (GetRoofState(station) == kRoofClosed) return;
  if (TelescopeConnected(station) && ParkForRoof(station)) {
    station.SetStatus("Emergency! Going to park position");
    station.LogTimed(": Emergency! Going to park position");
    std::string message;
    if (CloseRoof(station, false)) {
      message = " roof is closed!";
    } else {
      station.Run.RoofErrorState = 1;
      message = " error occured closing roof!";
    }
    station.SetStatus(message);
    station.LogTimed(": " + message);
    SaveLogFile(station);
    station.Run.AbortRequested = true;
  } else {
    // Closing the roof onto a telescope that is not parked would wreck it.
    station.Run.RoofErrorState = 2;
  }
}

void IOConnectButtonClick(Station& station) {
  Controls& main = station.Main;
  if (ConnectObservatory(station)) {
    main.SetColour("LED2", kColourGreen);
    station.StatusTimer.Start();
    main.SetEnabled("IOConnectButton", false);
    main.SetEnabled("SimulationButton", false);
  } else {
    main.SetColour("LED2", kColourRed);
    station.UiPort.ShowMessage("Observatory I/O error");
  }
  if (station.Settings.TempComport1 > 0 && !ConnectSensor(station)) {
    station.UiPort.ShowMessage("Error at temperature/humidity sensor 1");
  }
}

void SimulationButtonClick(Station& station) {
  station.Devices.SimulationMode = true;
  station.Main.SetEnabled("SimulationButton", false);
  IOConnectButtonClick(station);
  station.Main.SetVisible("SimulationLabel", true);
}

void DachAufButtonClick(Station& station) {
  if (TelescopeConnected(station) && !station.Devices.SimulationMode) {
    try {
      auto scope = station.Devices.Telescope;
      const SettingsRecord& s = station.Settings;
      if (station.Run.PierSideAvailable) {
        int side = kPierUnknown;
        bool known = true;
        try {
          side = scope->SideOfPier();
        } catch (const DeviceError&) {
          station.Run.PierSideAvailable = false;
          known = false;
        }
        if (known && side != s.Park1Pierside) {
          station.UiPort.ShowMessage("Pierside incorrect, check park position!");
          return;
        }
      }
      const EquatorialPosition park = StationHorizontalToEquatorial(station, s.Park1Az, s.Park1Alt);
      double raDiff = std::fmod(scope->RightAscension() - park.Ra / 15.0, 24.0);
      if (raDiff > 12) raDiff -= 24;
      if (raDiff < -12) raDiff += 24;
      if (std::abs(raDiff) > 0.1 || std::abs(scope->Declination() - park.Dec) > 1.5) {
        station.UiPort.ShowMessage("Too large deviation from park position, check!");
        return;
      }
    } catch (const std::exception& e) {
      ReportDeviceProblem(station, std::string("Telescope error: ") + e.what());
      return;
    }
  }
  if (station.Devices.SimulationMode) {
    Observatory(station).SimRoofState = kRoofOpen;
    return;
  }
  if (!station.UiPort.Ask("Telescope park position OK?")) return;
  station.StatusTimer.Stop();
  if (!OpenRoof(station, true)) station.UiPort.ShowMessage("Open error!");
  station.StatusTimer.Start();
}

void DachZuButtonClick(Station& station) {
  station.StatusTimer.Stop();
  if (station.Devices.SimulationMode) {
    Observatory(station).SimRoofState = kRoofClosed;
  } else if (!CloseRoof(station, true)) {
    station.UiPort.ShowMessage("Error closing roof!");
  }
  station.StatusTimer.Start();
}

void StatusTimerTimer(Station& station) {
  station.StatusTimer.Stop();
  try {
    ShowUtcAndSiderealTime(station);
    const int roof = GetRoofState(station);
    ShowRoof(station, roof);
    const int rain = GetRainState(station);
    ShowRain(station, rain);
    if (roof == kRoofOpen && rain == kRainWet && station.Run.RoofErrorState == 0) RainEmergency(station);
    ShowSensor(station);
  } catch (const std::exception& e) {
    station.LogTimed(std::string(": Observatory status error: ") + e.what());
  }
  if (station.Run.RoofErrorState > 0) station.SetStatus("ALARM " + std::to_string(station.Run.RoofErrorState));
  station.StatusTimer.Start();
}

}  // namespace noctarbel
