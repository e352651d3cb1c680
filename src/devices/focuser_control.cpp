#include "devices/focuser_control.h"

#include "app/station.h"
#include "common/number_text.h"
#include "devices/device_support.h"

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

// Waits for the wheel to stand at a slot (any slot when slot < 0); the last position read.
int WaitForWheel(Station& station, IFilterWheel& wheel, int slot) {
  int position = wheel.Position();
  for (int poll = 0; poll < kFilterWheelPolls && (slot < 0 ? position < 0 : position != slot); ++poll) {
    WaitPumping(station, 1000);
    position = wheel.Position();
  }
  return position;
}

void FillFilterLists(Station& station, const std::vector<std::string>& names, const std::vector<int>& offsets) {
  FilterTable& table = station.Filters;
  std::vector<std::string> filterNames;
  std::vector<std::string> filterOffsets;
  for (size_t i = 0; i < names.size(); ++i) {
    const int row = static_cast<int>(i) + 1;
    if (station.Settings.FilternamesFromFile) {
      filterNames.push_back(table.Filtertable.Cell(1, row));
      filterOffsets.push_back(table.Filtertable.Cell(2, row));
    } else {
      filterNames.push_back(names[i]);
      filterOffsets.push_back(std::to_string(i < offsets.size() ? offsets[i] : 0));
    }
  }
  table.FilterNames = filterNames;
  table.FilterOffsets = filterOffsets;
  if (station.Settings.FilternamesFromFile) return;
  table.Filtertable.Batch([&] {
    for (int row = 1; row <= kFilterGridRows; ++row) {
      const bool listed = row <= static_cast<int>(filterNames.size());
      table.Filtertable.SetCell(0, row, std::to_string(row));
      table.Filtertable.SetCell(1, row, listed ? filterNames[static_cast<size_t>(row - 1)] : "");
      table.Filtertable.SetCell(2, row, listed ? filterOffsets[static_cast<size_t>(row - 1)] : "");
    }
  });
}

void ReportWheelProblem(Station& station, const std::string& text) {
  station.SetStatus(text);
  station.LogTimed(": " + text);
}

}  // namespace

bool ConnectFocuser(Station& station) {
  const std::string& id = station.Settings.FocuserObject;
  if (id.empty()) return false;
  if (station.Devices.Focuser) return FocuserLinked(station);
  try {
    DeviceContext context = MakeDeviceContext(station);
    std::shared_ptr<IFocuser> focuser = station.Devices.Registry.CreateFocuser(id, context);
    focuser->SetLink(true);
    station.Devices.Focuser = focuser;
    station.Main.SetColour("LED3", kColourGreen);
    station.Main.SetCaption("FocusConnectButton", "Disconnect");
    station.FocusTimer.Start();
    station.Main.SetEnabled("AutofocusButton", true);
    return true;
  } catch (const std::exception& e) {
    station.Devices.Focuser.reset();
    ShowFocuserDisconnected(station);
    ReportDeviceProblem(station, std::string("Focuser could not be connected: ") + e.what());
    return false;
  }
}

void DisconnectFocuser(Station& station) {
  auto focuser = station.Devices.Focuser;
  station.Devices.Focuser.reset();
  if (focuser) {
    try {
      focuser->SetLink(false);
    } catch (const std::exception&) {
      // Released all the same.
    }
  }
  station.FocusTimer.Stop();
  ShowFocuserDisconnected(station);
}

void FocusConnectButtonClick(Station& station) {
  if (station.Settings.FocuserObject.empty()) return;
  if (station.Devices.Focuser) {
    DisconnectFocuser(station);
  } else {
    ConnectFocuser(station);
  }
}

void FocusTimerTimer(Station& station) {
  auto focuser = station.Devices.Focuser;
  if (!focuser) return;
  try {
    station.Main.SetText("FocusEdit1", std::to_string(focuser->Position()));
    station.Main.SetText("TemperaturEdit", FormatFixed(focuser->Temperature() * 0.5 - 273.0, 1));
  } catch (const std::exception&) {
    station.Main.SetText("FocusEdit1", "?");
    station.Main.SetText("TemperaturEdit", "?");
  }
}

bool MoveFocuserTo(Station& station, int target) {
  auto focuser = station.Devices.Focuser;
  if (!focuser) return false;
  try {
    if (focuser->Absolute()) {
      focuser->Move(target);
    } else {
      focuser->Move(target - focuser->Position());
    }
    for (int poll = 1; poll <= kFocuserPolls; ++poll) {
      station.Clock.Sleep(1000);
      station.Clock.Pump();
      if (focuser->Position() == target) return poll < kFocuserPolls;
    }
    return false;
  } catch (const std::exception& e) {
    station.SetStatus(std::string("Focuser error: ") + e.what());
    return false;
  }
}

void FocusSetButtonClick(Station& station) {
  const int index = station.Main.Selection("FocusComboBox");
  if (index < 0) return;
  const auto& positions = station.Focus.FocusPositions;
  if (station.Devices.Focuser && index < static_cast<int>(positions.size())) {
    auto value = ParseInt(positions[static_cast<size_t>(index)]);
    if (value && FocuserLinked(station)) MoveFocuserTo(station, *value);
  }
  station.Run.BaseFocusPosition = -1;
}

void FocusResetButtonClick(Station& station) { station.Run.BaseFocusPosition = -1; }

bool ConnectFilterWheel(Station& station) {
  const std::string& id = station.Settings.FilterwheelObject;
  if (id.empty()) return false;
  try {
    auto wheel = station.Devices.FilterWheel;
    if (!wheel) {
      DeviceContext context = MakeDeviceContext(station);
      wheel = station.Devices.Registry.CreateFilterWheel(id, context);
      station.Devices.FilterWheel = wheel;
    }
    wheel->SetConnected(true);
    if (!wheel->Connected()) return false;
    FillFilterLists(station, wheel->Names(), wheel->FocusOffsets());
    const int position = WaitForWheel(station, *wheel, -1);
    Controls& main = station.Main;
    main.SetValue("FilterEdit", position + 1);
    main.SetText("FilternameEdit", FilterName(station.Filters, main.IntValue("FilterEdit")));
    main.SetEnabled("FilterEdit", true);
    return true;
  } catch (const std::exception& e) {
    station.Devices.FilterWheel.reset();
    ReportDeviceProblem(station, std::string("Filter wheel error: ") + e.what());
    return false;
  }
}

void DisconnectFilterWheel(Station& station) {
  auto wheel = station.Devices.FilterWheel;
  station.Devices.FilterWheel.reset();
  if (wheel) {
    try {
      wheel->SetConnected(false);
    } catch (const std::exception&) {
    }
  }
  station.Main.SetEnabled("FilterEdit", false);
}

void FilterEditChange(Station& station) {
  station.Main.SetText("FilternameEdit", FilterName(station.Filters, station.Main.IntValue("FilterEdit")));
}

bool SelectFilter(Station& station, int slot) {
  auto wheel = station.Devices.FilterWheel;
  if (station.Settings.FilterwheelObject.empty() || !wheel) return true;
  try {
    if (!wheel->Connected()) return true;
    if (wheel->Position() == slot) return true;
    wheel->SetPosition(slot);
    if (WaitForWheel(station, *wheel, slot) == slot) return true;
    ReportWheelProblem(station, "Filter wheel did not reach filter " + std::to_string(slot + 1) + " within " +
                                    std::to_string(kFilterWheelPolls) + " s");
  } catch (const std::exception& e) {
    ReportWheelProblem(station, std::string("Filter wheel error: ") + e.what());
  }
  return false;
}

}  // namespace noctarbel
