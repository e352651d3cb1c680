#include "operations/focuser_wheel_operations.h"

#include "station/station_state.h"
#include "common/number_text.h"

namespace noctarbel {

bool FocuserOperations::HasDriver() const { return core_.Devices.Focuser != nullptr; }

bool FocuserOperations::Linked() {
  auto focuser = core_.Devices.Focuser;
  if (!focuser) return false;
  try {
    return focuser->Link();
  } catch (const std::exception&) {
    return false;
  }
}

bool FocuserOperations::Connect(std::string* error) {
  const std::string& id = core_.Settings.FocuserObject;
  if (id.empty()) return false;
  if (core_.Devices.Focuser) return Linked();
  try {
    DeviceContext context = core_.MakeDeviceContext();
    std::shared_ptr<IFocuser> focuser = core_.Devices.Registry.CreateFocuser(id, context);
    focuser->SetLink(true);
    core_.Devices.Focuser = focuser;
    return true;
  } catch (const std::exception& e) {
    core_.Devices.Focuser.reset();
    if (error) *error = e.what();
    return false;
  }
}

void FocuserOperations::Disconnect() {
  auto focuser = core_.Devices.Focuser;
  core_.Devices.Focuser.reset();
  if (!focuser) return;
  try {
    focuser->SetLink(false);
  } catch (const std::exception&) {
    // Released all the same.
  }
}

FocuserReading FocuserOperations::Read() {
  auto focuser = core_.Devices.Focuser;
  if (!focuser) throw DeviceError("Focuser disconnected");
  return FocuserReading{focuser->Position(), focuser->Temperature() * 0.5 - 273.0};
}

bool FocuserOperations::MoveTo(OperationContext& op, int target) {
  auto focuser = core_.Devices.Focuser;
  if (!focuser || !op.MayContinue()) return false;
  try {
    if (focuser->Absolute()) {
      focuser->Move(target);
    } else {
      focuser->Move(target - focuser->Position());
    }
    for (int poll = 1; poll <= kFocuserPolls; ++poll) {
      if (!op.Wait(1000)) {
        core_.SetStatus("Focuser move to " + std::to_string(target) + ": " + op.StopText());
        return false;
      }
      if (focuser->Position() == target) return poll < kFocuserPolls;
    }
    return false;
  } catch (const std::exception& e) {
    core_.SetStatus(std::string("Focuser error: ") + e.what());
    return false;
  }
}

bool FilterWheelOperations::HasDriver() const { return core_.Devices.FilterWheel != nullptr; }

void FilterWheelOperations::FillFilterLists(const std::vector<std::string>& names, const std::vector<int>& offsets) {
  FilterTable& table = core_.Filters;
  std::vector<std::string> filterNames;
  std::vector<std::string> filterOffsets;
  for (size_t i = 0; i < names.size(); ++i) {
    const int row = static_cast<int>(i) + 1;
    if (core_.Settings.FilternamesFromFile) {
      filterNames.push_back(table.Filtertable.Cell(1, row));
      filterOffsets.push_back(table.Filtertable.Cell(2, row));
    } else {
      filterNames.push_back(names[i]);
      filterOffsets.push_back(std::to_string(i < offsets.size() ? offsets[i] : 0));
    }
  }
  table.FilterNames = filterNames;
  table.FilterOffsets = filterOffsets;
  if (core_.Settings.FilternamesFromFile) return;
  table.Filtertable.Batch([&] {
    for (int row = 1; row <= kFilterGridRows; ++row) {
      const bool listed = row <= static_cast<int>(filterNames.size());
      table.Filtertable.SetCell(0, row, std::to_string(row));
      table.Filtertable.SetCell(1, row, listed ? filterNames[static_cast<size_t>(row - 1)] : "");
      table.Filtertable.SetCell(2, row, listed ? filterOffsets[static_cast<size_t>(row - 1)] : "");
    }
  });
}

std::optional<int> FilterWheelOperations::WaitForWheel(OperationContext& op, IFilterWheel& wheel, int slot) {
  int position = wheel.Position();
  for (int poll = 0; poll < kFilterWheelPolls && (slot < 0 ? position < 0 : position != slot); ++poll) {
    if (!op.Wait(1000)) return std::nullopt;
    position = wheel.Position();
  }
  return position;
}

int FilterWheelOperations::Connect(OperationContext& op, std::string* error) {
  const std::string& id = core_.Settings.FilterwheelObject;
  if (id.empty()) return -1;
  try {
    auto wheel = core_.Devices.FilterWheel;
    if (!wheel) {
      DeviceContext context = core_.MakeDeviceContext();
      wheel = core_.Devices.Registry.CreateFilterWheel(id, context);
      core_.Devices.FilterWheel = wheel;
    }
    wheel->SetConnected(true);
    if (!wheel->Connected()) {
      if (error) *error = "the filter wheel does not report a connection";
      return -1;
    }
    FillFilterLists(wheel->Names(), wheel->FocusOffsets());
    auto position = WaitForWheel(op, *wheel, -1);
    if (!position) {
      if (error) *error = op.StopText();
      return -1;
    }
    return *position;
  } catch (const std::exception& e) {
    core_.Devices.FilterWheel.reset();
    if (error) *error = e.what();
    return -1;
  }
}

std::optional<int> FilterWheelOperations::Slot() {
  auto wheel = core_.Devices.FilterWheel;
  if (!wheel) return std::nullopt;
  try {
    if (!wheel->Connected()) return std::nullopt;
    const int slot = wheel->Position();
    return slot >= 0 ? std::optional<int>(slot) : std::nullopt;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

void FilterWheelOperations::Disconnect() {
  auto wheel = core_.Devices.FilterWheel;
  core_.Devices.FilterWheel.reset();
  if (!wheel) return;
  try {
    wheel->SetConnected(false);
  } catch (const std::exception&) {
  }
}

void FilterWheelOperations::Report(const std::string& text) {
  core_.SetStatus(text);
  core_.LogTimed(": " + text);
}

bool FilterWheelOperations::Select(OperationContext& op, int slot) {
  auto wheel = core_.Devices.FilterWheel;
  if (core_.Settings.FilterwheelObject.empty() || !wheel) return true;
  try {
    if (!wheel->Connected()) return true;
    if (wheel->Position() == slot) return true;
    if (!op.MayContinue()) return false;
    wheel->SetPosition(slot);
    auto position = WaitForWheel(op, *wheel, slot);
    if (!position) {
      Report("Filter " + std::to_string(slot + 1) + ": " + op.StopText());
      return false;
    }
    if (*position == slot) return true;
    Report("Filter wheel did not reach filter " + std::to_string(slot + 1) + " within " +
           std::to_string(kFilterWheelPolls) + " s");
  } catch (const std::exception& e) {
    Report(std::string("Filter wheel error: ") + e.what());
  }
  return false;
}

}  // namespace noctarbel
