#include "windows/observatory_window.h"

#include "windows/station.h"
#include "common/number_text.h"
#include "windows/window_support.h"

namespace noctarbel {

namespace {

void ShowRoof(Station& station, RoofState roof) {
  Controls& main = station.Main;
  const bool enabled = station.Observatory.ControlEnabled();
  const bool slotFilled = station.Mount.HasDriver();
  if (roof == RoofState::Closed) {
    main.SetText("DachStatusEdit", "closed");
    main.SetColour("DachStatusEdit", enabled ? kColourRed : kColourGrey);
    if (slotFilled) main.SetEnabled("DachAufButton", station.Mount.Connected());
    for (const char* button : {"DachZuButton", "HomeButton", "BtnGoto"}) main.SetEnabled(button, false);
  } else if (roof == RoofState::Open) {
    main.SetText("DachStatusEdit", "open");
    main.SetColour("DachStatusEdit", enabled ? kColourGreen : kColourGrey);
    if (slotFilled) main.SetEnabled("DachZuButton", station.Mount.Connected());
    main.SetEnabled("DachAufButton", false);
    main.SetEnabled("HomeButton", true);
    main.SetEnabled("BtnGoto", true);
  } else {
    main.SetText("DachStatusEdit", "?");
    main.SetColour("DachStatusEdit", kColourYellow);
  }
}

void ShowRain(Station& station, RainState rain) {
  Controls& main = station.Main;
  const bool enabled = station.Observatory.ControlEnabled();
  if (rain == RainState::Dry) {
    main.SetText("RegensensorEdit", "dry");
    main.SetColour("RegensensorEdit", enabled ? kColourGreen : kColourGrey);
  } else if (rain == RainState::Wet) {
    main.SetText("RegensensorEdit", "wet");
    main.SetColour("RegensensorEdit", enabled ? kColourRed : kColourGrey);
  } else {
    main.SetText("RegensensorEdit", "?");
    main.SetColour("RegensensorEdit", kColourYellow);
  }
}

void ShowSensor(Station& station, const ObservatoryTick& tick) {
  if (!tick.SensorUsed) return;
  if (tick.Sensor) {
    station.Main.SetText("TemperaturEdit1", FormatFixed(tick.Sensor->Temperature, 1));
    station.Main.SetText("FeuchteEdit1", FormatFixed(tick.Sensor->Humidity, 1));
  } else if (tick.SensorStale) {
    station.Main.SetText("TemperaturEdit1", "?");
    station.Main.SetText("FeuchteEdit1", "?");
  }
}

// The open button's check of the telescope before anything is asked; false when a message
// was shown.
bool ParkPositionLooksRight(Station& station) {
  switch (station.Mount.CheckParkPosition1()) {
    case ParkCheck::Ok:
      return true;
    case ParkCheck::WrongPierSide:
      station.UiPort.ShowMessage("Pierside incorrect, check park position!");
      return false;
    case ParkCheck::TooFar:
      station.UiPort.ShowMessage("Too large deviation from park position, check!");
      return false;
    case ParkCheck::Failed:
      ReportDeviceProblem(station, station.Status());
      return false;
  }
  return false;
}

ObservatoryOperations::Confirm AskOperator(Station& station) {
  return [&station](const std::string& question) { return station.UiPort.Ask(question); };
}

}  // namespace

void IOConnectButtonClick(Station& station) {
  Controls& main = station.Main;
  OperationContext op = station.BeginOperation();
  std::string error;
  if (station.ConnectObservatory(op, &error)) {
    main.SetColour("LED2", kColourGreen);
    main.SetEnabled("IOConnectButton", false);
    main.SetEnabled("SimulationButton", false);
  } else {
    main.SetColour("LED2", kColourRed);
    station.SetStatus(station.Observatory.LineError());
    station.UiPort.ShowMessage("Observatory I/O error");
  }
  if (station.Settings.TempComport1 > 0 && !station.Observatory.SensorConnected()) {
    station.UiPort.ShowMessage("Error at temperature/humidity sensor 1");
  }
}

void SimulationButtonClick(Station& station) {
  station.Observatory.SimulationMode = true;
  station.Main.SetEnabled("SimulationButton", false);
  IOConnectButtonClick(station);
  station.Main.SetVisible("SimulationLabel", true);
}

void DachAufButtonClick(Station& station) {
  ObservatoryOperations& obs = station.Observatory;
  // Nothing is asked of a roof that may not move.
  if (auto refusal = obs.SimulatedTelescopeRefusal()) return station.UiPort.ShowMessage("Roof not opened: " + *refusal);
  if (station.Mount.Connected() && !obs.SimulationMode && !ParkPositionLooksRight(station)) return;
  if (obs.SimulationMode) {
    obs.SimRoof = RoofState::Open;
    return;
  }
  if (!station.UiPort.Ask("Telescope park position OK?")) return;
  station.StatusTimer.Stop();
  OperationContext op = station.BeginOperation();
  const RoofMoveResult result = obs.OpenRoof(op, AskOperator(station));
  if (result.Refused) {
    station.UiPort.ShowMessage(station.Status());
  } else if (result.RainBlocked) {
    station.UiPort.ShowMessage("Rain sensor: wet!");
  }
  if (!result.Ok && !result.Refused) station.UiPort.ShowMessage("Open error!");
  station.StatusTimer.Start();
}

void DachZuButtonClick(Station& station) {
  ObservatoryOperations& obs = station.Observatory;
  if (auto refusal = obs.SimulatedTelescopeRefusal()) return station.UiPort.ShowMessage("Roof not closed: " + *refusal);
  station.StatusTimer.Stop();
  if (obs.SimulationMode) {
    obs.SimRoof = RoofState::Closed;
  } else {
    OperationContext op = station.BeginOperation();
    const RoofMoveResult result = obs.CloseRoof(op, AskOperator(station));
    if (result.Refused) {
      station.UiPort.ShowMessage(station.Status());
    } else {
      if (result.ParkFailed) station.UiPort.ShowMessage("Error park position");
      if (!result.Ok) station.UiPort.ShowMessage("Error closing roof!");
    }
  }
  station.StatusTimer.Start();
}

void StatusTimerTimer(Station& station) { station.ObservatoryWatchTick(); }

void ShowObservatoryTick(Station& station, const ObservatoryTick& tick) {
  ShowUtcAndSiderealTime(station);
  if (!tick.Error.empty()) return;
  ShowRoof(station, tick.Roof);
  ShowRain(station, tick.Rain);
  ShowSensor(station, tick);
}

}  // namespace noctarbel
