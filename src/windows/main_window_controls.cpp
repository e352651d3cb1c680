#include "windows/main_window_controls.h"

namespace noctarbel {

namespace {

struct Declarer {
  Controls& c;
  std::string parent;

  ControlState& Add(const std::string& name, ControlKind kind, const std::string& caption = {},
                    const std::string& hint = {}) {
    ControlState& s = c.Declare(name, kind, parent);
    s.caption = caption;
    s.hint = hint;
    return s;
  }
  ControlState& Spin(const std::string& name, const std::string& caption, double minimum, double maximum,
                     double value) {
    ControlState& s = Add(name, ControlKind::SpinEdit, caption);
    s.minimum = minimum;
    s.maximum = maximum;
    s.value = value;
    return s;
  }
  ControlState& Lamp(const std::string& name, const std::string& colour) {
    ControlState& s = Add(name, ControlKind::Lamp);
    s.colour = colour;
    return s;
  }
  ControlState& Disabled(ControlState& s) {
    s.enabled = false;
    return s;
  }
};

void DeclareHeader(Declarer d) {
  d.Add("Versionheader", ControlKind::Label, kVersionText);
  d.Add("UTCEdit", ControlKind::Edit, "UTC time").readOnly = true;
  d.Add("SternzeitEdit", ControlKind::Edit, "Sidereal").readOnly = true;
  d.Add("ProfilenameEdit", ControlKind::Edit, "Profile ", "Name of active profile").readOnly = true;
  d.Add("SetupButton", ControlKind::Button, "Setup");
  d.Add("ConnectAllBtn", ControlKind::Button, "Connect all", "connect all selected devices");
}

void DeclareTelescopeGroup(Declarer d) {
  d.Add("TelescopeGroupBox", ControlKind::GroupBox, "Telescope");
  d.parent = "TelescopeGroupBox";
  d.Add("BtnConnect", ControlKind::Button, "Connect");
  d.Lamp("led1", "red");
  d.Add("Memo1", ControlKind::Memo).readOnly = true;
  d.Add("RAEdit1", ControlKind::Edit, "RA").readOnly = true;
  d.Add("DECEdit1", ControlKind::Edit, "DEC").readOnly = true;
  d.Add("AltEdit", ControlKind::Edit, "Alt.").readOnly = true;
  d.Add("AirmassEdit", ControlKind::Edit, "Airmass").readOnly = true;
  d.Add("PiersideEdit", ControlKind::Edit, "Pierside").readOnly = true;
  d.Add("TrackCheckBox", ControlKind::CheckBox, "Tracking");
  d.Add("CatEdit", ControlKind::Edit, "Object");
  d.Add("KatalogButton", ControlKind::Button, "Find");
  d.Spin("RAHourEdit", "RA (h m s)", 0, 23, 0);
  d.Spin("RAminEdit", "", 0, 59, 0);
  d.Spin("RAsecEdit", "", 0, 59, 0);
  d.Spin("DECdegEdit", "DEC (° ' \")", -90, 90, 0);
  d.Spin("DECminEdit", "", 0, 59, 0);
  d.Spin("DECsecEdit", "", 0, 59, 0);
  ControlState& ns = d.Add("NSbox", ControlKind::ComboBox);
  ns.items = {"N", "S"};
  ns.selection = 0;
  d.Add("BtnGoto", ControlKind::Button, "Goto", "Slew to the coordinates (J2000)");
  d.Add("AbortSlewBtn", ControlKind::Button, "Stop");
  d.Add("ParkButton", ControlKind::Button, "Park P1", "Go to park position 1 and stop tracking");
  d.Add("ParkButton2", ControlKind::Button, "Park P2", "Go to park position 2 and stop tracking");
  d.Add("HomeButton", ControlKind::Button, "Home calib.", "Go to home position and calibrate mount");
  d.Add("HorizonButton", ControlKind::Button, "Horizon", "Scan the local horizon with the telescope");
}

void DeclareObservatoryGroup(Declarer d) {
  d.Add("DomeGroupBox", ControlKind::GroupBox, "Observatory");
  d.parent = "DomeGroupBox";
  d.Add("IOConnectButton", ControlKind::Button, "Connect");
  d.Add("SimulationButton", ControlKind::Button, "Simulator",
        "Use the built-in roof and rain sensor simulator instead of the roof controller (until the program ends)");
  d.Add("SimulationLabel", ControlKind::Label, "SIMULATOR").visible = false;
  d.Lamp("LED2", "red");
  d.Disabled(d.Add("DachAufButton", ControlKind::Button, "Open"));
  d.Disabled(d.Add("DachZuButton", ControlKind::Button, "Close", "Goto Park position 1 and close roof"));
  ControlState& roof = d.Add("DachStatusEdit", ControlKind::Edit, "Roof");
  roof.text = "?";
  roof.readOnly = true;
  ControlState& rain = d.Add("RegensensorEdit", ControlKind::Edit, "Rain");
  rain.text = "?";
  rain.readOnly = true;
  d.Add("TemperaturEdit1", ControlKind::Edit, "Temp.°C").readOnly = true;
  d.Add("FeuchteEdit1", ControlKind::Edit, "RH(%)").readOnly = true;
}

void DeclareFocusGroup(Declarer d) {
  d.Add("FocusBox", ControlKind::GroupBox, "Focus");
  d.parent = "FocusBox";
  d.Add("FocusConnectButton", ControlKind::Button, "Connect");
  d.Lamp("LED3", "red");
  d.Add("FocusEdit1", ControlKind::Edit, "Position").readOnly = true;
  d.Add("TemperaturEdit", ControlKind::Edit, "°C").readOnly = true;
  d.Add("FocusComboBox", ControlKind::ComboBox, "Focus table");
  d.Add("FocusSetButton", ControlKind::Button, "<-Set", "Set selected focus position");
  d.Add("FocusResetButton", ControlKind::Button, "F.Reset", "focus position not fixed ");
  d.Disabled(d.Add("AutofocusButton", ControlKind::Button, "Autofocus", "Run the V-curve autofocus"));
  d.Add("FocusButton", ControlKind::Button, "Focus start", "Repeated short exposures for manual focusing");
  d.Add("FocusmaxConnect", ControlKind::Button, "Focus app", "Link the external focus application");
  d.Lamp("LED4", "red");
}

void DeclareCameraGroup(Declarer d) {
  d.Add("CCDGroupBox", ControlKind::GroupBox, "Camera/ Filter wheel");
  d.parent = "CCDGroupBox";
  d.Add("CCDConnectBtn", ControlKind::Button, "Connect");
  d.Disabled(d.Add("CamDisconnectButton", ControlKind::Button, "Disconnect"));
  d.Disabled(d.Add("CameraInfobutton", ControlKind::Button, "Info", "Show camera parameters"));
  d.Disabled(d.Add("ExposeButton", ControlKind::Button, "Exposure"));
  d.Disabled(d.Add("StopButton", ControlKind::Button, "Stop"));
  d.Add("ExposeSecEdit", ControlKind::Edit, "Exp. (s)").text = "1";
  d.Add("ExposureUpDown", ControlKind::UpDown, "", "Change the exposure time");
  d.Disabled(d.Spin("BinningEdit1", "Binning", 1, 4, 2));
  d.Spin("ZoomEdit1", "Zoom", 1, 5, 1);
  d.Disabled(d.Spin("FilterEdit", "Filter", 1, 9, 1));
  d.Add("FilternameEdit", ControlKind::Edit).readOnly = true;
  d.Spin("CoolerTempEdit", "Cooler (°C)", -99, 20, -5);
  d.Disabled(d.Add("setCoolerButton", ControlKind::Button, "Set"));
  d.Disabled(d.Add("CoolerCheckBox", ControlKind::CheckBox, "Cooler on"));
  d.Disabled(d.Add("WarmUpBtn", ControlKind::Button, "Warm Up"));
  d.Add("CamTempEdit", ControlKind::Edit, "T(°C)").readOnly = true;
  d.Add("CoolerPowerEdit", ControlKind::Edit, "power(%)").readOnly = true;
  d.Add("RepeatExpCheckBox", ControlKind::CheckBox, "Repeat");
  d.Add("HotpixelCheckbox", ControlKind::CheckBox, "hotpixel corr.").checked = true;
  d.Add("Markercheckbox", ControlKind::CheckBox, "Crosshair");
  d.Add("ImgPathEdit", ControlKind::Edit, "Image path");
  d.Add("FolderselectButton", ControlKind::Button, "..", "Choose the image folder");
  ControlState& paint = d.Add("PaintBox1", ControlKind::PaintBox);
  paint.minimum = 241;  // preview size in pixels: width
  paint.maximum = 153;  // and height
  d.Add("ImageInfoEdit", ControlKind::Edit).readOnly = true;
  d.Add("ImgMaxEdit", ControlKind::Edit, "Max").readOnly = true;
  d.Add("ImgMeanEdit", ControlKind::Edit, "Mean").readOnly = true;
  ControlState& bar = d.Add("ImgMaxBar", ControlKind::ProgressBar);
  bar.maximum = 100;
  d.Add("ExposeProgressBar", ControlKind::ProgressBar).maximum = 2;
  d.Lamp("exposeLight", "silver");
  d.Disabled(d.Add("Centerbutton", ControlKind::Button, "Center", "Move the brightest star to the image centre"));
  d.Disabled(d.Add("StackingButton", ControlKind::Button, "Start stacking"));
  d.Add("GuidingtestButton", ControlKind::Button, "Guiding test", "Measure the camera rotation with a guide pulse");
  d.Add("ViewerButton", ControlKind::Button, "Viewer", "Show the image viewer");
}

// A night of the plan table on the simulators and a simulated clock, with its switches.
void DeclareRehearsal(Declarer d) {
  d.Add("RehearseButton", ControlKind::Button, "Rehearse",
        "Run the plan table on the simulators and a simulated clock: the night in minutes, images in a scratch "
        "folder; the station's devices are not used");
  ControlState& speed = d.Add("RehearseSpeedBox", ControlKind::ComboBox, "Speed", "How fast the rehearsal's clock runs");
  speed.items = {"x 60", "x 600", "as fast as possible"};
  speed.selection = 1;
  d.Add("RehearseRainCheck", ControlKind::CheckBox, "Rain", "Rehearsal: the simulated rain sensor is wet");
  d.Add("RehearseCloudsCheck", ControlKind::CheckBox, "Clouds", "Rehearsal: the simulated sky shows no stars");
  d.Add("RehearseCameraFaultCheck", ControlKind::CheckBox, "Camera fault",
        "Rehearsal: the simulated camera stops delivering images");
  d.Add("RehearsalLabel", ControlKind::Label).visible = false;
}

void DeclareAutopilot(Declarer d) {
  d.Add("AutopilotGroupBox", ControlKind::GroupBox, "Autopilot");
  d.parent = "AutopilotGroupBox";
  d.Add("Planer1", ControlKind::Grid);
  d.Add("Zeileloeschen1", ControlKind::Button, "Delete line");
  d.Add("Zeileeinfuegen1", ControlKind::Button, "Insert line before this line");
  d.Add("LoadButton", ControlKind::Button, "Load table", "Load autopilot table");
  d.Add("SaveButton", ControlKind::Button, "Save table", "Save table");
  d.Add("AddRowBtn", ControlKind::Button, "Add line", "Add new line at end of table");
  d.Add("ClearBtn", ControlKind::Button, "Clear all", "Clear all lines");
  d.Add("CheckButton", ControlKind::Button, "Check", "Execute test run ");
  d.Add("ObjektBtn", ControlKind::Button, "insert RA/DEC", "Find and insert position of active object");
  d.Add("PasteposBtn", ControlKind::Button, "Paste", "Paste object position from clipboard");
  d.Disabled(d.Add("ExecuteButton", ControlKind::Button, "Start", "Start sequence"));
  d.Lamp("ExecLight", "silver");
  d.Disabled(d.Add("PauseButton", ControlKind::Button, "Pause", "Execution pause"));
  d.Disabled(d.Add("PlayButton", ControlKind::Button, "Play", "Resume execution"));
  d.Disabled(d.Add("StopBtn", ControlKind::Button, "Stop", "Stop execution"));
  d.Spin("SYrangeEdit", "SY range (arcsec)", 3, 30, 5);
  d.Add("DachzuCheckBox", ControlKind::CheckBox, "Close roof at end", "Close roof at end, error or stop");
  d.Add("CalibrationCheckbox", ControlKind::CheckBox, "Corrections", "dark-/ flat-calibration on the fly");
  d.Add("StackingCheckBox", ControlKind::CheckBox, "Stacking");
  d.Add("starguideCheckBox", ControlKind::CheckBox, "Star guiding");
  d.Add("ViewerControlCheck", ControlKind::CheckBox, "Extra Viewer");
  d.Disabled(d.Add("WebmonitorCheck", ControlKind::CheckBox, "Webmonitor"));
  d.Add("CoordinateSystemLabel", ControlKind::Label, "Coordinate system: J2000!");
  DeclareRehearsal(d);
}

}  // namespace

std::vector<std::string> HelpMemoLines() {
  return {
      "***** Autopilot Help *****",
      "Type an object name into the field \"Object name\" (example: NGC4711)",
      "and press the button \"insert RA/DEC\": coordinates of NGC and Messier objects are inserted.",
      "",
      "Commands in the field \"RA(h)\":",
      "  P0: go to park position 1",
      "  P1: go to park position 1",
      "  P2: go to park position 2",
      "  H0: go to home position, home calibration",
      "  T0: tracking off",
      "  T1: tracking on",
      "  ZA: park position 1, open roof",
      "  Z0: park position 1, close roof",
      "  ZZ: disconnect all, windows shutdown",
      "  CD: dark frames",
      "  CC: switch on camera cooler",
      "",
      "Commands in the field \"exp.(s)\":",
      "  AF: Autofocus",
      "  FS: Focus shift (.. steps in \"number\")",
      "  SY: center brightest star, sync to position of star",
      "  SY x.xxx exposure x.xxx seconds (default:0.1s)",
  };
}

void DeclareMainWindowControls(Controls& main) {
  Declarer d{main, {}};
  DeclareHeader(d);
  DeclareTelescopeGroup(d);
  DeclareObservatoryGroup(d);
  DeclareFocusGroup(d);
  DeclareCameraGroup(d);
  DeclareAutopilot(d);
  d.Add("LogMemo", ControlKind::Memo);
  ControlState& help = d.Add("HelpMemo", ControlKind::Memo);
  help.readOnly = true;
  for (const auto& line : HelpMemoLines()) help.text += line + "\n";
  d.Add("ExitButton", ControlKind::Button, "Disconnect all and exit");
  d.Add("StatusBar1", ControlKind::StatusBar);
  // Beside the status: the run's row and image counts.
  d.Add("RunProgress", ControlKind::Label);
}

}  // namespace noctarbel
