#include "windows/main_window.h"

#include "windows/astro_window.h"
#include "windows/plan_window.h"
#include "windows/rehearsal.h"
#include "station/plan_columns.h"
#include "windows/setup_window.h"
#include "windows/station.h"
#include "common/text_file.h"

namespace noctarbel {

namespace {

bool Call(const std::function<bool()>& hook) { return hook && hook(); }
void Call(const std::function<void()>& hook) {
  if (hook) hook();
}

void SetRunLamp(Station& station, const char* colour) { station.Main.SetColour("ExecLight", colour); }

}  // namespace

const std::vector<std::string>& FormCreationOrder() {
  static const std::vector<std::string> order = {"PilotForm1",  "SetupForm1",      "TestForm1",
                                                 "ImgShowform", "CalibrateForm1",  "AutofocusForm",
                                                 "HorizonForm", "GuidingtestForm", "CameraInfo"};
  return order;
}

void CreateForms(Station& station) {
  station.CreatedForms.clear();
  for (const auto& name : FormCreationOrder()) {
    if (name == "PilotForm1") {
      PilotFormCreate(station);
    } else if (name == "SetupForm1") {
      SetupFormCreate(station);
    } else {
      station.Form(name);
    }
    station.CreatedForms.push_back(name);
  }
  StartStatusPage(station);
}

void PilotFormCreate(Station& station) {
  RunState& run = station.Run;
  run.PlanRunning = false;
  run.AbortRequested = false;
  station.Main.SetColour("LED2", "red");
  station.Main.SetText("DachStatusEdit", "?");
  station.Main.SetText("RegensensorEdit", "?");
  run.RoofErrorState = RoofAlarm::None;
  station.Main.SetText("ExposeSecEdit", "1");
  run.TestMode = false;
  run.TestErrorCount = 0;
  run.CameraErrorFlag = false;
  run.BaseFocusPosition = -1;
  run.FocusShift = 0;
  station.Main.SetCaption("Versionheader", "Noctarbel V. 1.212.1");
  run.PierSideAvailable = true;
  run.PauseRequested = false;
}

void RefreshMirroredSettings(Station& station) {
  Controls& main = station.Main;
  main.SetValue("CoolerTempEdit", station.Settings.CameraCoolerTemp);
  std::vector<std::string> names = station.Focus.FocusNames;
  main.SetItems("FocusComboBox", std::move(names));
  main.SetValue("SYrangeEdit", station.Settings.SyncRange);
  main.SetText("ProfilenameEdit", station.Settings.ProfileName);
  ShowObservatoryControl(station);
}

void PilotFormShow(Station& station) {
  LoadHorizon(station);
  Controls& main = station.Main;
  main.SetValue("CoolerTempEdit", station.Settings.CameraCoolerTemp);
  main.SetItems("FocusComboBox", station.Focus.FocusNames);
  if (!station.Settings.EnableObservatoryControl) ShowObservatoryControl(station);
  main.SetValue("SYrangeEdit", station.Settings.SyncRange);
  station.StatusTimer.Start();
  main.SetText("ProfilenameEdit", station.Settings.ProfileName);
  const SettingsRecord& s = station.Settings;
  if (s.TelescopeObject.empty() && s.CameraObject.empty() && s.FocuserObject.empty()) {
    station.SetStatus("A new station: Setup chooses its devices (the built-in simulators are offered by name), "
                      "or load a plan and Rehearse it on the simulators");
  }
}

void ShowObservatoryControl(Station& station) {
  Controls& main = station.Main;
  const bool enabled = station.Settings.EnableObservatoryControl;
  if (!enabled) {
    for (const char* name :
         {"DomeGroupBox", "IOConnectButton", "DachAufButton", "DachZuButton", "SimulationButton", "DachzuCheckBox"}) {
      main.SetEnabled(name, false);
    }
    main.SetColour("LED2", "grey");
    return;
  }
  // Switched on in the settings dialog: the roof controller or its simulator may be connected now.
  if (main.Enabled("DomeGroupBox") || station.Run.PlanRunning) return;
  const bool connected = station.Observatory.ControllerReady();
  for (const char* name : {"DomeGroupBox", "DachzuCheckBox"}) main.SetEnabled(name, true);
  main.SetEnabled("IOConnectButton", !connected);
  main.SetEnabled("SimulationButton", !connected);
  main.SetColour("LED2", connected ? "lime" : "red");
}

void InstallMainWindowHandlers(Station& station) {
  station.SetHandler("PilotForm1", "PauseButton", PauseButtonClick);
  station.SetHandler("PilotForm1", "PlayButton", PlayButtonClick);
  station.SetHandler("PilotForm1", "StopBtn", StopBtnClick);
  station.SetHandler("PilotForm1", "WebmonitorCheck", WebmonitorCheckClick);
  station.SetHandler("PilotForm1", "ViewerControlCheck", ViewerControlCheckClick);
}

void PauseButtonClick(Station& station) {
  station.Run.PauseRequested = true;
  station.Main.SetEnabled("PauseButton", false);
  station.Main.SetEnabled("PlayButton", true);
  SetRunLamp(station, "yellow");
  ShowRunProgress(station);
}

void PlayButtonClick(Station& station) {
  station.Run.PauseRequested = false;
  station.Main.SetEnabled("PauseButton", true);
  station.Main.SetEnabled("PlayButton", false);
  SetRunLamp(station, "lime");
  ShowRunProgress(station);
}

void StopBtnClick(Station& station) {
  if (station.ActiveRehearsal) {
    station.ActiveRehearsal->Stop();
  } else if (station.Run.PlanRunning && !station.Run.AbortRequested) {
    station.LogTimed(": Stop pressed: the run stops");
  }
  station.Run.AbortRequested = true;
  station.Main.SetEnabled("StopBtn", false);
}

bool ExitButtonClick(Station& station) {
  Controls& main = station.Main;
  main.SetEnabled("ExitButton", false);
  Call(station.Hooks.StopManualFocusSeries);
  if (station.Run.PlanRunning && !station.UiPort.Ask("Abort procedure? ")) {
    main.SetEnabled("ExitButton", true);
    return false;
  }
  station.Run.AbortRequested = true;
  station.Clock.Pump();
  station.UiPort.SetBusy(true);
  // Gives a running plan time to reach its abort checks.
  station.Clock.Sleep(2000);
  station.UiPort.SetBusy(false);
  if (Call(station.Hooks.CameraCoolerOn)) {
    station.UiPort.ShowMessage("Camera warm up (or cooler off) required");
    main.SetEnabled("ExitButton", true);
    return false;
  }
  Call(station.Hooks.DisconnectDevices);
  return true;
}

bool FormCloseQuery(Station& station) {
  if (!Call(station.Hooks.AnyDeviceConnected)) {
    // The program ends: a run still waiting somewhere must stop at its next check.
    station.Run.AbortRequested = true;
    return true;
  }
  if (!station.UiPort.Ask("Disconnect all devices?")) return false;
  return ExitButtonClick(station);
}

void WebmonitorCheckClick(Station& station) {
  if (!station.Main.Checked("WebmonitorCheck")) return;
  const std::string& setting = station.Settings.WebmonitorPathname;
  if (setting.empty() || !WriteFileAtomically(station.ResolveFile(setting).parent_path() / "test.txt", "test\r\n")) {
    station.UiPort.ShowMessage("webpath not found");
  }
}

void ViewerControlCheckClick(Station& station) {
  station.Main.SetEnabled("WebmonitorCheck", station.Main.Checked("ViewerControlCheck"));
}

}  // namespace noctarbel
