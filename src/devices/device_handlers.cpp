#include "devices/device_handlers.h"

#include "app/station.h"
#include "devices/device_support.h"
#include "devices/focuser_control.h"
#include "devices/horizon_window.h"
#include "devices/observatory.h"
#include "devices/telescope_control.h"

namespace noctarbel {

namespace {

constexpr const char* kMain = "PilotForm1";

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

}  // namespace

void ConnectAllBtnClick(Station& station) {
  const SettingsRecord& s = station.Settings;
  if (!s.TelescopeObject.empty() && !TelescopeConnected(station)) {
    // A slot left filled by a driver that dropped its connection is replaced.
    if (station.Devices.Telescope) DisconnectTelescope(station);
    ConnectTelescope(station);
  }
  if (s.EnableObservatoryControl) IOConnectButtonClick(station);
  if (!s.CameraObject.empty() && !CameraConnected(station)) station.Activate(kMain, "CCDConnectBtn");
  if (!s.FocuserObject.empty() && !FocuserLinked(station)) {
    if (station.Devices.Focuser) DisconnectFocuser(station);
    ConnectFocuser(station);
  }
  station.Main.SetEnabled("ConnectAllBtn", false);
}

void DisconnectDevices(Station& station) {
  if (TelescopeConnected(station)) DisconnectTelescope(station);
  if (CameraConnected(station)) {
    if (!station.Activate(kMain, "CamDisconnectButton")) ReleaseCamera(station);
  }
  if (station.Devices.Focuser) DisconnectFocuser(station);
}

bool AnyDeviceConnected(Station& station) {
  return TelescopeConnected(station) || CameraConnected(station) || FocuserLinked(station);
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

  Station* st = &station;
  station.Timer1.SetHandler([st] { Timer1Timer(*st); });
  station.StatusTimer.SetHandler([st] { StatusTimerTimer(*st); });
  station.FocusTimer.SetHandler([st] { FocusTimerTimer(*st); });

  station.Hooks.AnyDeviceConnected = [st] { return AnyDeviceConnected(*st); };
  station.Hooks.CameraCoolerOn = [st] { return CameraCoolerOn(*st); };
  station.Hooks.DisconnectDevices = [st] { DisconnectDevices(*st); };
}

}  // namespace noctarbel
