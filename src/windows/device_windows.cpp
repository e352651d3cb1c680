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

bool CameraConnected(Station& station) {
  auto camera = station.Devices.Camera;
  if (!camera) return false;
  try {
    return camera->Connected();
  } catch (const std::exception&) {
    return false;
  }
}

// Without the camera part's own disconnect: release the camera and the wheel plainly.
void ReleaseCamera(Station& station) {
  auto camera = station.Devices.Camera;
  station.Devices.Camera.reset();
  if (camera) {
    try {
      camera->SetConnected(false);
      camera->Dispose();
    } catch (const std::exception&) {
    }
  }
  DisconnectFilterWheel(station);
}

bool CameraCoolerOn(Station& station) {
  if (!CameraConnected(station)) return false;
  try {
    return station.Devices.Camera->CoolerOn();
  } catch (const std::exception&) {
    return false;
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
  if (!s.CameraObject.empty() && !CameraConnected(station) && station.Hooks.ConnectCamera) {
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
  if (CameraConnected(station)) {
    if (station.Hooks.DisconnectCamera) {
      station.Hooks.DisconnectCamera();
    } else {
      ReleaseCamera(station);
    }
  }
  if (station.Focuser.HasDriver()) DisconnectFocuser(station);
}

bool AnyDeviceConnected(Station& station) {
  return station.Mount.Connected() || CameraConnected(station) || station.Focuser.Linked();
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
  station.Timer1.SetHandler([st] { Timer1Timer(*st); });
  station.StatusTimer.SetHandler([st] { StatusTimerTimer(*st); });
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
