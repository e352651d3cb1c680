#include "windows/focuser_window.h"

#include "windows/station.h"
#include "common/number_text.h"
#include "windows/window_support.h"

namespace noctarbel {

namespace {

void ShowFocuserDisconnected(Station& station) {
  Controls& main = station.Main;
  main.SetColour("LED3", kColourRed);
  main.SetCaption("FocusConnectButton", "Connect");
  main.SetText("FocusEdit1", "");
  main.SetText("TemperaturEdit", "");
  main.SetEnabled("AutofocusButton", false);
}

}  // namespace

bool ConnectFocuser(Station& station) {
  if (station.Settings.FocuserObject.empty()) return false;
  if (station.Focuser.HasDriver()) return station.Focuser.Linked();
  std::string error;
  if (!station.StationCore::ConnectFocuser(&error)) {
    ShowFocuserDisconnected(station);
    ReportDeviceProblem(station, "Focuser could not be connected: " + error);
    return false;
  }
  station.Main.SetColour("LED3", kColourGreen);
  station.Main.SetCaption("FocusConnectButton", "Disconnect");
  station.FocusTimer.Start();
  station.Main.SetEnabled("AutofocusButton", true);
  return true;
}

void DisconnectFocuser(Station& station) {
  station.StationCore::DisconnectFocuser();
  station.FocusTimer.Stop();
  ShowFocuserDisconnected(station);
}

void FocusConnectButtonClick(Station& station) {
  if (station.Settings.FocuserObject.empty()) return;
  if (station.Focuser.HasDriver()) {
    DisconnectFocuser(station);
  } else {
    ConnectFocuser(station);
  }
}

void FocusTimerTimer(Station& station) {
  if (!station.Focuser.HasDriver()) return;
  try {
    const FocuserReading reading = station.Focuser.Read();
    station.Main.SetText("FocusEdit1", std::to_string(reading.Position));
    station.Main.SetText("TemperaturEdit", FormatFixed(reading.Celsius, 1));
  } catch (const std::exception&) {
    station.Main.SetText("FocusEdit1", "?");
    station.Main.SetText("TemperaturEdit", "?");
  }
}

void FocusSetButtonClick(Station& station) {
  const int index = station.Main.Selection("FocusComboBox");
  if (index < 0) return;
  const auto& positions = station.Focus.FocusPositions;
  if (station.Focuser.HasDriver() && index < static_cast<int>(positions.size())) {
    auto value = ParseInt(positions[static_cast<size_t>(index)]);
    if (value && station.Focuser.Linked()) {
      OperationContext op = station.BeginOperation();
      station.Focuser.MoveTo(op, *value);
    }
  }
  station.Run.BaseFocusPosition = -1;
}

void FocusResetButtonClick(Station& station) { station.Run.BaseFocusPosition = -1; }

bool ConnectFilterWheel(Station& station) {
  if (station.Settings.FilterwheelObject.empty()) return false;
  OperationContext op = station.BeginOperation();
  std::string error;
  if (station.StationCore::ConnectFilterWheel(op, &error) < 0) {
    if (!error.empty()) ReportDeviceProblem(station, "Filter wheel error: " + error);
    return false;
  }
  ShowFilterWheelConnected(station);
  return true;
}

void ShowFilterWheelConnected(Station& station) {
  Controls& main = station.Main;
  main.SetValue("FilterEdit", station.FilterWheel.Slot().value_or(0) + 1);
  main.SetText("FilternameEdit", FilterName(station.Filters, main.IntValue("FilterEdit")));
  main.SetEnabled("FilterEdit", true);
}

void DisconnectFilterWheel(Station& station) {
  station.FilterWheel.Disconnect();
  station.Main.SetEnabled("FilterEdit", false);
}

void FilterEditChange(Station& station) {
  station.Main.SetText("FilternameEdit", FilterName(station.Filters, station.Main.IntValue("FilterEdit")));
}

}  // namespace noctarbel
