#include "windows/device_windows.h"

#include "windows/station.h"
#include "windows/camera_window.h"
#include "windows/window_support.h"
#include "windows/autofocus_window.h"
#include "windows/focuser_window.h"
#include "windows/guiding_window.h"
#include "windows/horizon_window.h"
#include "windows/observatory_window.h"
#include "windows/telescope_window.h"
#include "windows/viewer_window.h"

namespace noctarbel {

namespace {

constexpr const char* kMain = "PilotForm1";

bool CameraCoolerOn(Station& station) {
  try {
    return station.Camera.Connected() && station.Camera.CoolerOn();
  } catch (const std::exception&) {
    return false;
  }
}

// The core let a device go (a mount that stopped answering, the night's shut-down).
void ShowReleased(Station& station, DeviceType type) {
  switch (type) {
    case DeviceType::Telescope:
      DisconnectTelescope(station);
      break;
    case DeviceType::Focuser:
      DisconnectFocuser(station);
      break;
    case DeviceType::Camera:
      CamDisconnectButtonClick(station);
      break;
    case DeviceType::FilterWheel:
      DisconnectFilterWheel(station);
      break;
  }
}

void ShowParkStarted(Station& station) {
  for (const char* field : {"RAEdit1", "DECEdit1", "PiersideEdit"}) station.Main.SetText(field, "..");
}

void ShowRoofMoving(Station& station) {
  station.Main.SetText("DachStatusEdit", "?");
  station.Main.SetColour("DachStatusEdit", kColourYellow);
}

}  // namespace

void ConnectAllBtnClick(Station& station) {
  const SettingsRecord& s = station.Settings;
  if (!s.TelescopeObject.empty() && !station.Mount.Connected()) {
    // A slot left filled by a driver that dropped its connection is replaced.
    if (station.Mount.HasDriver()) DisconnectTelescope(station);
    ConnectTelescope(station);
  }
  if (s.EnableObservatoryControl) IOConnectButtonClick(station);
  if (!s.CameraObject.empty() && !station.Camera.Connected() && station.Hooks.ConnectCamera) {
    station.Hooks.ConnectCamera();
  }
  if (!s.FocuserObject.empty() && !station.Focuser.Linked()) {
    if (station.Focuser.HasDriver()) DisconnectFocuser(station);
    ConnectFocuser(station);
  }
  station.Main.SetEnabled("ConnectAllBtn", false);
}

void DisconnectDevices(Station& station) {
  if (station.Mount.Connected()) DisconnectTelescope(station);
  if (station.Camera.Connected()) {
    if (station.Hooks.DisconnectCamera) {
      station.Hooks.DisconnectCamera();
    } else {
      station.DisconnectCamera();
    }
  }
  if (station.Focuser.HasDriver()) DisconnectFocuser(station);
}

bool AnyDeviceConnected(Station& station) {
  return station.Mount.Connected() || station.Camera.Connected() || station.Focuser.Linked();
}

void InstallDeviceHandlers(Station& station) {
  station.SetHandler(kMain, "BtnConnect", BtnConnectClick);
  station.SetHandler(kMain, "BtnGoto", BtnGotoClick);
  station.SetHandler(kMain, "AbortSlewBtn", AbortSlewBtnClick);
  station.SetHandler(kMain, "TrackCheckBox", TrackCheckBoxClick);
  station.SetHandler(kMain, "ParkButton", ParkButtonClick);
  station.SetHandler(kMain, "ParkButton2", ParkButton2Click);
  station.SetHandler(kMain, "HomeButton", HomeButtonClick);

  station.SetHandler(kMain, "IOConnectButton", IOConnectButtonClick);
  station.SetHandler(kMain, "SimulationButton", SimulationButtonClick);
  station.SetHandler(kMain, "DachAufButton", DachAufButtonClick);
  station.SetHandler(kMain, "DachZuButton", DachZuButtonClick);

  station.SetHandler(kMain, "FocusConnectButton", FocusConnectButtonClick);
  station.SetHandler(kMain, "FocusSetButton", FocusSetButtonClick);
  station.SetHandler(kMain, "FocusResetButton", FocusResetButtonClick);
  station.SetHandler(kMain, "FilterEdit", FilterEditChange);

  station.SetHandler(kMain, "ConnectAllBtn", ConnectAllBtnClick);
  InstallHorizonWindow(station);
  InstallCameraHandlers(station);
  InstallViewerWindow(station);
  InstallFocusWindows(station);
  InstallGuidingWindows(station);

  Station* st = &station;
  station.OnMountTick = [st](const MountTick& tick) { ShowMountTick(*st, tick); };
  station.OnObservatoryTick = [st](const ObservatoryTick& tick) { ShowObservatoryTick(*st, tick); };
  station.OnDeviceReleased = [st](DeviceType type) { ShowReleased(*st, type); };
  station.FocusTimer.SetHandler([st] { FocusTimerTimer(*st); });
  station.Mount.OnParkStarted = [st] { ShowParkStarted(*st); };
  station.Observatory.OnRoofMoving = [st] { ShowRoofMoving(*st); };

  // Focusing and centring images are calibrated as the manual exposure's are.
  auto calibrate = [st](Timgbuffer& image, int filter) {
    if (!st->Main.Checked("CalibrationCheckbox")) return;
    bool dark = true;
    bool flat = true;
    bool rotate = false;
    st->Calibration.CalibrateImage(image, filter, 1, 0, 0, dark, flat, rotate);
  };
  station.Autofocus.Hooks.Calibrate = calibrate;
  station.Centring.Hooks.Calibrate = calibrate;

  station.Hooks.AnyDeviceConnected = [st] { return AnyDeviceConnected(*st); };
  station.Hooks.CameraCoolerOn = [st] { return CameraCoolerOn(*st); };
  station.Hooks.DisconnectDevices = [st] { DisconnectDevices(*st); };
}

}  // namespace noctarbel
