#include "windows/setup_window.h"

#include <algorithm>
#include <cmath>
#include <system_error>

#include "station/setting_rules.h"
#include "windows/station.h"
#include "common/number_text.h"
#include "common/text_file.h"

namespace noctarbel {

namespace {

using S = SettingsRecord;

// The control that shows a setting.
struct Binding {
  const char* key;
  const char* control;
};

const std::vector<Binding>& Bindings() {
  static const std::vector<Binding> bindings = {
      {"EnableObservatoryControl", "ObservatoryControlCheck"},
      {"Comport1", "ComportEdit1"},
      {"TempComport1", "comportEdit2"},
      {"Glaenge", "LaengeEdit"},
      {"Gbreite", "BreiteEdit"},
      {"Horizontdatei", "HorizonFileEdit"},
      {"TelescopeObject", "TelescopeEdit"},
      {"ParkMethod", "ParkGroup"},
      {"Park1Az", "Park1AzimutEdit"},
      {"Park1Alt", "Park1AltEdit"},
      {"Park1Pierside", "Park1PiersideBox"},
      {"Park2Az", "Park2AzimutEdit"},
      {"Park2Alt", "Park2AltEdit"},
      {"Park2Pierside", "Park2Piersidebox"},
      {"HomeAz", "HomeAzEdit"},
      {"HomeAlt", "HomeAltEdit"},
      {"HomePierside", "HomePiersideBox"},
      {"TrackingRange", "TrackingEdit1"},
      {"PulseGuideSpeed", "PulseguidingEdit"},
      {"InvertRAguiding", "RAguideinvertCheck"},
      {"InvertDECguiding", "DECguideInvertCheck"},
      {"InvertPiersideguiding", "PiersideInvertCheck"},
      {"OvercorrectionGuiding", "OvercorrectionEdit"},
      {"SyncRange", "SYrangeEdit0"},
      {"MeridianFlip", "MeridianFlipCheck"},
      {"MeridianFlipMinutes", "MeridianFlipMinutesEdit"},
      {"MeridianFlipPause", "MeridianFlipPauseEdit"},
      {"MeridianFlipCentre", "MeridianFlipCentreCheck"},
      {"MeridianFlipAutofocus", "MeridianFlipAutofocusCheck"},
      {"CameraObject", "ASCOMCameraEdit"},
      {"ArcsecX", "ArcsecXEdit"},
      {"ArcsecY", "ArcsecYEdit"},
      {"CameraReadTime", "CamReadtimeEdit"},
      {"CameraTimeout", "CamTimeoutEdit"},
      {"CameraPauseTime", "CamPauseEdit"},
      {"DSLRautodark", "DSLRAutodarkCheckBox"},
      {"CameraCoolerTemp", "CoolerTempEdit"},
      {"CameraPiersideRotate", "RotateGroup"},
      {"CameraMode", "CamModeGroup"},
      {"CamCOMport", "CamCOMEdit"},
      {"CameraRotation", "CameraRotationEdit"},
      {"SyncBinning", "SyncbinningEdit"},
      {"HistogramMaxLevel", "HistogramMaxlevelEdit"},
      {"ConvRaw2Fits", "Raw2fitsCheckBox"},
      {"RootImagePath", "ImagepathEdit"},
      {"WebmonitorPathname", "WebmonitorEdit"},
      {"FocuserObject", "FocusEdit"},
      {"FilterwheelObject", "FilterwheelEdit"},
      {"Standardfilter", "StandardfilterEdit"},
      {"Darkfilter", "DarkfilterEdit"},
      {"FilternamesFromFile", "FilternamesGroup"},
      {"AFexptime", "AFExptimeEdit"},
      {"AFsubframe", "AFsubframeSpinEdit"},
      {"AFbinning", "AFbinningSpinEdit"},
      {"AFposition", "AFEdit"},
      {"AFHFDlow", "HFDlowEdit"},
      {"AFLslope", "LslopeEdit"},
      {"AFRslope", "RslopeEdit"},
      {"AFLic", "LicEdit"},
      {"AFRic", "RicEdit"},
      {"AFrange", "AFrangeEdit"},
      {"SpectrumRA", "SpectrumRAEdit"},
      {"SpectrumFilt", "SpectrumFilterEdit"},
      {"SpectrumMirror", "SpectrumMirrorGroup"},
      {"Observername", "ObserverEdit"},
      {"TelescopeDescription", "TelescopeNameEdit"},
      {"ProfileName", "ProfileNameEdit"},
      {"SerialPortPattern", "SerialPatternEdit"},
      {"ShutdownCommand", "ShutdownCommandEdit"},
      {"IndiServers", "IndiServersEdit"},
      {"AlpacaHosts", "AlpacaHostsEdit"},
      {"AllowSimulatedTelescope", "AllowSimulatedTelescopeCheck"},
      {"NotifyCommand", "NotifyCommandEdit"},
      {"WatchdogLimit", "WatchdogLimitEdit"},
      {"StatusPage", "StatusPageEdit"},
      {"StatusToken", "StatusTokenEdit"},
      {"FilterNumber", "FilterNumberEdit"},
      {"CameraMaxBinning", "CameraMaxBinningEdit"},
      {"SimMountLimit", "SimMountLimitEdit"},
  };
  return bindings;
}

const Binding* FindBinding(const std::string& key) {
  for (const auto& b : Bindings()) {
    if (EqualsIgnoreCase(b.key, key)) return &b;
  }
  return nullptr;
}

// How the control for a key shows it (a text field when the dialog has no rule for it).
SettingEntry EntryOf(const char* key) {
  const SettingRule* rule = FindSettingRule(key);
  return rule ? rule->Entry : SettingEntry::Text;
}

// Takes one control's value into the record (check boxes, spin edits, radio groups, texts).
void TakeFromControl(Station& station, const char* key) {
  const SettingKey* k = FindSettingKey(key);
  const Binding* b = FindBinding(key);
  if (!k || !b) return;
  Controls& c = station.Setup;
  switch (EntryOf(b->key)) {
    case SettingEntry::Check:
      SetIntSetting(station.Settings, *k, c.Checked(b->control) ? 1 : 0);
      break;
    case SettingEntry::Spin:
      SetIntSetting(station.Settings, *k, c.IntValue(b->control));
      break;
    case SettingEntry::Radio:
      SetIntSetting(station.Settings, *k, std::max(c.Selection(b->control), 0));
      break;
    case SettingEntry::Text:
    case SettingEntry::Profile:
      station.Settings.*std::get<std::string S::*>(k->field) = c.Text(b->control);
      break;
    default:
      break;
  }
}

// Mode 0 lets the camera be chosen by identifier; the DSLR switch port only counts in mode 2.
void ApplyCameraMode(Station& station) {
  int mode = station.Settings.CameraMode;
  station.Setup.SetEnabled("ASCOMCameraEdit", mode == 0);
  station.Setup.SetEnabled("CamCOMEdit", mode == 2);
}

// Settings whose controls store them the moment they change, even if the dialog is cancelled.
const std::vector<const char*>& AtOnceKeys() {
  static const std::vector<const char*> keys = {"CameraReadTime",      "CameraPauseTime",      "CameraCoolerTemp",
                                                "CameraTimeout",       "CameraPiersideRotate", "ParkMethod",
                                                "CamCOMport",          "Standardfilter",       "Darkfilter",
                                                "FilternamesFromFile", "DSLRautodark",         "CameraMode"};
  return keys;
}

// The grid must show the filter file before OK writes it back: the driver's names (or none)
// would otherwise replace the operator's names and focus offsets.
void ShowFilterFileWhenSwitchedOn(Station& station, bool namesWereFromFile) {
  if (!namesWereFromFile && station.Settings.FilternamesFromFile) {
    LoadFilterTable(station.Filters, station.Paths.Home, true);
  }
}

std::filesystem::path ProfilePath(const Station& station, const std::string& name) {
  return station.Paths.Home / (name + kProfileExtension);
}

// Copies a file in 32 KiB blocks; reports failures as the system always has.
bool CopyProfileFile(Station& station, const std::filesystem::path& from, const std::filesystem::path& to) {
  std::string content;
  if (!ReadSmallFile(from, content)) {
    station.UiPort.ShowMessage("read error");
    return false;
  }
  std::string error;
  if (!WriteFileAtomically(to, content, &error)) {
    station.UiPort.ShowMessage("write error: " + error);
    return false;
  }
  return true;
}

}  // namespace

void DeclareSetupFormControls(Controls& c) {
  auto add = [&c](const std::string& name, ControlKind kind, const std::string& parent, const std::string& caption,
                  const std::string& hint = {}) -> ControlState& {
    ControlState& s = c.Declare(name, kind, parent);
    s.caption = caption;
    s.hint = hint;
    return s;
  };
  auto spin = [&](const std::string& name, const std::string& parent, const std::string& caption, double lo, double hi,
                  double value, double step = 1) -> ControlState& {
    ControlState& s = add(name, ControlKind::SpinEdit, parent, caption);
    s.minimum = lo;
    s.maximum = hi;
    s.value = value;
    s.step = step;
    return s;
  };
  // A spin field of a setting takes its range from the setting's rule.
  auto settingSpin = [&](const char* key, const std::string& name, const std::string& parent,
                         const std::string& caption, double value, double step = 1) -> ControlState& {
    const SettingRule* rule = FindSettingRule(key);
    return spin(name, parent, caption, rule->Min, rule->Max, value, step);
  };
  auto radio = [&](const std::string& name, const std::string& parent, const std::string& caption,
                   std::vector<std::string> items) -> ControlState& {
    ControlState& s = add(name, ControlKind::RadioGroup, parent, caption);
    s.items = std::move(items);
    s.selection = 0;
    return s;
  };
  const std::vector<std::string> pierSides = {"east", "west"};

  add("PageControl1", ControlKind::PageControl, "", "");
  // Local coordinates and FITS header.
  const std::string local = "PageLocal";
  add(local, ControlKind::Page, "PageControl1", "Local coordinates/ Fits header");
  add("LaengeEdit", ControlKind::Edit, local, "Longitude (xxx.xxxxx degrees)");
  add("EastLongitudeLabel", ControlKind::Label, local, "easter long. negative!");
  add("BreiteEdit", ControlKind::Edit, local, "Latitude (xx.xxxxx)");
  add("HorizonFileEdit", ControlKind::Edit, local, "Horizon file");
  add("HorizonfileButton", ControlKind::Button, local, "..", "Choose the horizon file");
  add("FitsHeaderGroup", ControlKind::GroupBox, local, "Fits header");
  add("ObserverEdit", ControlKind::Edit, "FitsHeaderGroup", "OBSERVER");
  add("TelescopeNameEdit", ControlKind::Edit, "FitsHeaderGroup", "TELESCOP");
  // Telescope control.
  const std::string tel = "PageTelescope";
  add(tel, ControlKind::Page, "PageControl1", "Telescope control");
  add("TelescopeEdit", ControlKind::Edit, tel, "Telescope").readOnly = true;
  add("TelscopeSelectButton", ControlKind::Button, tel, "Telescope chooser");
  radio("ParkGroup", tel, "Park method (P0/P1)", {"Telescope", "Noctarbel"}).selection = 1;
  add("AzimuthNorthLabel", ControlKind::Label, tel, "Azimuth 0° at North !");
  add("HomeGroup", ControlKind::GroupBox, tel, "Home Position (H0)");
  add("HomeAzEdit", ControlKind::Edit, "HomeGroup", "Home Azimuth°");
  add("HomeAltEdit", ControlKind::Edit, "HomeGroup", "Home Altitude°");
  radio("HomePiersideBox", "HomeGroup", "Pierside", pierSides);
  add("Park1Group", ControlKind::GroupBox, tel, "Park Position 1 (P0/P1)");
  add("Park1AzimutEdit", ControlKind::Edit, "Park1Group", "Park1 Azimuth°");
  add("Park1AltEdit", ControlKind::Edit, "Park1Group", "Park1 Altitude°");
  radio("Park1PiersideBox", "Park1Group", "Pierside", pierSides);
  add("Park2Group", ControlKind::GroupBox, tel, "Park Position 2 (P2)");
  add("Park2AzimutEdit", ControlKind::Edit, "Park2Group", "Park2 Azimuth°");
  add("Park2AltEdit", ControlKind::Edit, "Park2Group", "Park2 Altitude°");
  radio("Park2Piersidebox", "Park2Group", "Pierside", pierSides);
  add("GuidingGroup", ControlKind::GroupBox, tel, "Guiding");
  settingSpin("TrackingRange", "TrackingEdit1", "GuidingGroup", "Tracking range (pixel)", 50);
  settingSpin("PulseGuideSpeed", "PulseguidingEdit", "GuidingGroup", "Pulse guiding (\"/s)", 5);
  add("RAguideinvertCheck", ControlKind::CheckBox, "GuidingGroup", "invert RA");
  add("DECguideInvertCheck", ControlKind::CheckBox, "GuidingGroup", "invert DEC");
  add("PiersideInvertCheck", ControlKind::CheckBox, "GuidingGroup", "Pierside inverting");
  settingSpin("OvercorrectionGuiding", "OvercorrectionEdit", "GuidingGroup", "Overcorrection (0-10)", 0);
  add("guidetestBtn", ControlKind::Button, "GuidingGroup", "Guiding test");
  spin("TestmoveEdit", "GuidingGroup", "testmove (\")", 10, 100, 30, 10);
  add("AutopilotGroup", ControlKind::GroupBox, tel, "Autopilot");
  settingSpin("SyncRange", "SYrangeEdit0", "AutopilotGroup", "default SY range (arcsec)", 5);
  add("MeridianFlipCheck", ControlKind::CheckBox, "AutopilotGroup", "Meridian flip",
      "Change the pier side during a row when the target passes the meridian (German equatorial mount)");
  settingSpin("MeridianFlipMinutes", "MeridianFlipMinutesEdit", "AutopilotGroup", "Flip past meridian (min)", 5);
  settingSpin("MeridianFlipPause", "MeridianFlipPauseEdit", "AutopilotGroup", "Pause before flip (s)", 30);
  add("MeridianFlipCentreCheck", ControlKind::CheckBox, "AutopilotGroup", "Centre after flip",
      "Centre the target again after the flip (a row centred by an SY row is centred again anyway)");
  add("MeridianFlipAutofocusCheck", ControlKind::CheckBox, "AutopilotGroup", "Autofocus after flip");
  settingSpin("SimMountLimit", "SimMountLimitEdit", "AutopilotGroup", "Simulated mount limit (° past meridian)", 15);
  // Camera.
  const std::string cam = "PageCamera";
  add(cam, ControlKind::Page, "PageControl1", "Camera");
  add("ASCOMCameraEdit", ControlKind::Edit, cam, "Camera (ASCOM)").readOnly = true;
  add("CameraChooserBtn", ControlKind::Button, cam, "Chooser");
  add("ArcsecXEdit", ControlKind::Edit, cam, "arcsec/pixel (X)");
  add("ArcsecYEdit", ControlKind::Edit, cam, "arcsec/pixel (Y)");
  settingSpin("CameraReadTime", "CamReadtimeEdit", cam, "Readtime full (s)", 5);
  settingSpin("CameraTimeout", "CamTimeoutEdit", cam, "Timeout (s)", 30);
  settingSpin("CameraPauseTime", "CamPauseEdit", cam, "Series pause (s)", 0);
  add("DSLRAutodarkCheckBox", ControlKind::CheckBox, cam, "DSLRAutodark");
  settingSpin("CameraCoolerTemp", "CoolerTempEdit", cam, "Set Cooler temp.", -5);
  radio("RotateGroup", cam, "180° Rotation", {"none", "Pierside 0 (East) rotate", "Pierside 1 (West) rotate"});
  radio("CamModeGroup", cam, "Control by", {"ASCOM", "(not available)", "DSLR switch"}).enabled = false;
  settingSpin("CamCOMport", "CamCOMEdit", cam, "COM Port (Switch)", 1).enabled = false;
  settingSpin("CameraRotation", "CameraRotationEdit", cam, "Rotation (Pierside east)", 0);
  settingSpin("SyncBinning", "SyncbinningEdit", cam, "Sync binning", 2);
  settingSpin("CameraMaxBinning", "CameraMaxBinningEdit", cam, "Highest binning (0: ask the camera)", 0);
  add("HistogramMaxlevelEdit", ControlKind::Edit, cam, "Histogram max level");
  add("Raw2fitsCheckBox", ControlKind::CheckBox, cam, "Raw to Fits conversion");
  add("CamFlipCheckBox", ControlKind::CheckBox, cam, "Flip (for screen only)");
  add("ImagepathEdit", ControlKind::Edit, cam, "Default image path");
  add("imagepathButton", ControlKind::Button, cam, "..", "Choose the default image folder");
  add("WebmonitorEdit", ControlKind::Edit, cam, "Webmonitor path/filename");
  // Observatory.
  const std::string obs = "PageObservatory";
  add(obs, ControlKind::Page, "PageControl1", "Observatory");
  add("ObservatoryControlCheck", ControlKind::CheckBox, obs, "Enable observatory control");
  settingSpin("Comport1", "ComportEdit1", obs, "COM-Port", 1);
  settingSpin("TempComport1", "comportEdit2", obs, "COM-Port", 0);
  add("RestartLabel", ControlKind::Label, obs, "Program restart after changes on this page required!");
  add("NoAscomObservatoryLabel", ControlKind::Label, obs, "Hint: No ASCOM support for observatory control  ");
  add("SerialPatternEdit", ControlKind::Edit, obs, "Serial device ({n} = COM-Port number)",
      "Device path of a serial port, e.g. /dev/ttyUSB{n-1} or /dev/ttyS{n}");
  add("ShutdownCommandEdit", ControlKind::Edit, obs, "Shutdown command",
      "Command that powers the computer off (plan command ZZ)");
  add("IndiServersEdit", ControlKind::Edit, obs, "INDI servers",
      "INDI servers whose devices the chooser lists, HOST:PORT separated by commas");
  add("AlpacaHostsEdit", ControlKind::Edit, obs, "Alpaca servers",
      "HOST:PORT of Alpaca servers to list besides those found on the network, separated by commas");
  add("AllowSimulatedTelescopeCheck", ControlKind::CheckBox, obs, "Roof may move behind the simulated telescope",
      "Only for testing the real roof without a mount: the simulated telescope's park protects nothing");
  add("NotifyCommandEdit", ControlKind::Edit, obs, "Notify command",
      "Command run for the rain emergency, the end of a night and when the watchdog made a dead station "
      "safe: the event as arguments, the message on standard input");
  settingSpin("WatchdogLimit", "WatchdogLimitEdit", obs, "Watchdog limit (s)", 30);
  add("StatusPageEdit", ControlKind::Edit, obs, "Status page (HOST:PORT)",
      "Serve a read-only status page of the night here, e.g. 127.0.0.1:8080; empty: none (read at start)");
  add("StatusTokenEdit", ControlKind::Edit, obs, "Status page token",
      "Needed by every request when the page is served beyond this computer (Bearer header or ?token=)");
  // Focus.
  const std::string foc = "PageFocus";
  add(foc, ControlKind::Page, "PageControl1", "Focus");
  add("FocusEdit", ControlKind::Edit, foc, "Focuser").readOnly = true;
  add("focusChoose", ControlKind::Button, foc, "focuser chooser");
  add("Focustable", ControlKind::Grid, foc, "Focus table");
  add("AutofocusGroup", ControlKind::GroupBox, foc, "Autofocus");
  add("AFExptimeEdit", ControlKind::Edit, "AutofocusGroup", "Exposure (s)");
  settingSpin("AFsubframe", "AFsubframeSpinEdit", "AutofocusGroup", "Subframe size", 300, 10);
  settingSpin("AFbinning", "AFbinningSpinEdit", "AutofocusGroup", "Focus binning", 1);
  add("AFEdit", ControlKind::Edit, "AutofocusGroup", "Focus");
  add("HFDlowEdit", ControlKind::Edit, "AutofocusGroup", "HFD low limit");
  add("LslopeEdit", ControlKind::Edit, "AutofocusGroup", "Left Slope");
  add("RslopeEdit", ControlKind::Edit, "AutofocusGroup", "Right Slope");
  add("LicEdit", ControlKind::Edit, "AutofocusGroup", "Left Intercept");
  add("RicEdit", ControlKind::Edit, "AutofocusGroup", "Right Intercept");
  add("AFrangeEdit", ControlKind::Edit, "AutofocusGroup", "AF range");
  add("CalibrateAutofocus", ControlKind::Button, "AutofocusGroup", "Calibrate Autofocus");
  // Filter wheel.
  const std::string fw = "PageFilterwheel";
  add(fw, ControlKind::Page, "PageControl1", "Filter wheel");
  add("FilterwheelEdit", ControlKind::Edit, fw, "Filter wheel").readOnly = true;
  add("FilterwheelChooser", ControlKind::Button, fw, "Filter wheel chooser");
  add("FilterradClearBtn", ControlKind::Button, fw, "clear");
  settingSpin("Standardfilter", "StandardfilterEdit", fw, "Standard filter for autofocus/sync", 1);
  settingSpin("Darkfilter", "DarkfilterEdit", fw, "Dark filter", 0);
  settingSpin("FilterNumber", "FilterNumberEdit", fw, "Filter slots (0: as the filter table)", 0);
  radio("FilternamesGroup", fw, "Filter names", {"Filter data by ASCOM", "Filter data from file"});
  add("Filtertable", ControlKind::Grid, fw, "Filter table");
  add("SaveFilterTableButton", ControlKind::Button, fw, "Save filter table");
  // Spectrum (the page is hidden; its keys are still loaded and saved).
  const std::string spectrum = "PageSpectrum";
  add(spectrum, ControlKind::Page, "PageControl1", "Spectrum").visible = false;
  add("SpectrumRAEdit", ControlKind::Edit, spectrum, "RA-Verschiebung in '");
  settingSpin("SpectrumFilt", "SpectrumFilterEdit", spectrum, "Filter no.", 0);
  radio("SpectrumMirrorGroup", spectrum, "Bild spiegeln",
        {"nicht spiegeln", "bei Pierside=0 spiegeln", "bei Pierside=1 spiegeln", "immer spiegeln"});
  // Below the pages.
  add("OKButton", ControlKind::Button, "", "OK");
  add("CancelButton", ControlKind::Button, "", "Cancel");
  add("LoadConfigBtn", ControlKind::Button, "", "Load profile", "Specific setup file (*.ssf) can be loaded");
  add("SaveConfigBtn", ControlKind::Button, "", "Save profile", "Setup can be saved to specific file (*.ssf)");
  add("ProfileNameEdit", ControlKind::Edit, "", "Profile name");
  add("ProfileComboBox", ControlKind::ComboBox, "", "Profiles");
}

void ShowSettingsInForm(Station& station) {
  Controls& c = station.Setup;
  const SettingsRecord& s = station.Settings;
  for (const auto& b : Bindings()) {
    const SettingKey* key = FindSettingKey(b.key);
    if (!key) continue;
    const SettingEntry entry = EntryOf(b.key);
    switch (entry) {
      case SettingEntry::Check:
        c.SetChecked(b.control, IntSetting(s, *key) != 0);
        break;
      case SettingEntry::Spin:
        c.SetValue(b.control, IntSetting(s, *key));
        break;
      case SettingEntry::Radio:
        c.SetSelection(b.control, IntSetting(s, *key));
        break;
      case SettingEntry::Profile:
        if (s.ProfileName != "default") c.SetText(b.control, s.ProfileName);
        break;
      default:
        c.SetText(b.control, ShowSettingText(s, *key, entry));
        break;
    }
  }
  ApplyCameraMode(station);
}

void LoadSettings(Station& station) {
  station.Settings = LoadSettingsFile(station.SettingsFilePath());
  ShowSettingsInForm(station);
}

void InstallSetupFormHandlers(Station& station) {
  station.Setup.Subscribe([&station](const std::string& name, ControlProperty what) {
    if (what != ControlProperty::Value && what != ControlProperty::Checked && what != ControlProperty::Selection) {
      return;
    }
    for (const char* key : AtOnceKeys()) {
      const Binding* b = FindBinding(key);
      if (b && name == b->control) {
        const bool namesWereFromFile = station.Settings.FilternamesFromFile;
        TakeFromControl(station, key);
        if (std::string(key) == "CameraMode") ApplyCameraMode(station);
        ShowFilterFileWhenSwitchedOn(station, namesWereFromFile);
      }
    }
  });
}

void SetupFormCreate(Station& station) {
  station.LoadSettingsAndTables();
  ShowSettingsInForm(station);
  FillProfileList(station);
}

void SetupFormShow(Station& station) { station.SetupProfileSaved = false; }

bool ValidateSetupForm(Station& station) {
  for (const auto& field : ValidatedSettings()) {
    if (std::string(field.Key) == "AFposition") {
      // The two autofocus spin fields come before the focus position and need no check.
      station.Settings.AFsubframe = station.Setup.IntValue("AFsubframeSpinEdit");
      station.Settings.AFbinning = station.Setup.IntValue("AFbinningSpinEdit");
    }
    const SettingKey* key = FindSettingKey(field.Key);
    if (!StoreValidated(station.Settings, *key, station.Setup.Text(FindBinding(field.Key)->control))) {
      station.UiPort.ShowMessage(field.Message);
      return false;
    }
  }
  station.Settings.EnableObservatoryControl = station.Setup.Checked("ObservatoryControlCheck");
  return true;
}

bool SaveSettings(Station& station) {
  static const char* const kDirectKeys[] = {"EnableObservatoryControl",
                                            "Comport1",
                                            "TempComport1",
                                            "Park1Pierside",
                                            "Park2Pierside",
                                            "HomePierside",
                                            "TrackingRange",
                                            "PulseGuideSpeed",
                                            "InvertRAguiding",
                                            "InvertDECguiding",
                                            "InvertPiersideguiding",
                                            "OvercorrectionGuiding",
                                            "SyncRange",
                                            "MeridianFlip",
                                            "MeridianFlipMinutes",
                                            "MeridianFlipPause",
                                            "MeridianFlipCentre",
                                            "MeridianFlipAutofocus",
                                            "SimMountLimit",
                                            "CameraRotation",
                                            "SyncBinning",
                                            "ConvRaw2Fits",
                                            "RootImagePath",
                                            "WebmonitorPathname",
                                            "FilternamesFromFile",
                                            "SpectrumFilt",
                                            "SpectrumMirror",
                                            "Observername",
                                            "TelescopeDescription",
                                            "ProfileName",
                                            "SerialPortPattern",
                                            "ShutdownCommand",
                                            "IndiServers",
                                            "AlpacaHosts",
                                            "AllowSimulatedTelescope",
                                            "NotifyCommand",
                                            "StatusPage",
                                            "StatusToken",
                                            "FilterNumber",
                                            "CameraMaxBinning"};
  for (const char* key : kDirectKeys) TakeFromControl(station, key);
  // Unreadable numbers keep the value the record holds.
  if (auto v = ParseFloat(station.Setup.Text("HistogramMaxlevelEdit"))) station.Settings.HistogramMaxLevel = *v;
  if (auto v = ParseFloat(station.Setup.Text("SpectrumRAEdit"))) station.Settings.SpectrumRA = *v;
  std::string error;
  if (!SaveSettingsFile(station.SettingsFilePath(), station.Settings, &error)) {
    station.UiPort.ShowMessage("Settings not saved: " + error);
    return false;
  }
  return true;
}

bool SetupOKButtonClick(Station& station) {
  if (!ValidateSetupForm(station)) return false;
  SaveSettings(station);
  const auto& home = station.Paths.Home;
  SaveFilterTable(station.Filters, home, station.Settings.FilternamesFromFile);
  SaveFocusTable(station.Focus, home);
  std::string name = station.Setup.Text("ProfileNameEdit");
  if (!station.SetupProfileSaved && !name.empty()) {
    if (station.UiPort.Ask("Save Profile as " + name + " ?")) SaveConfigBtnClick(station);
  }
  return true;
}

void SetupCancelButtonClick(Station& /*station*/) {
  // Nothing to undo: the settings that take effect at once stay for this run, the rest
  // was never taken over.
}

bool IsValidProfileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name) {
    if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20) return false;
  }
  return true;
}

std::vector<std::string> ListProfiles(const Station& station) {
  std::vector<std::string> names;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(station.Paths.Home, ec), end; !ec && it != end; it.increment(ec)) {
    const auto& path = it->path();
    if (path.extension() != kProfileExtension || !it->is_regular_file(ec)) continue;
    std::string name = path.stem().string();
    if (name == "default") continue;
    names.push_back(name);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    std::string la = ToLowerAscii(a);
    std::string lb = ToLowerAscii(b);
    return la == lb ? a < b : la < lb;
  });
  return names;
}

void FillProfileList(Station& station) {
  std::vector<std::string> items{""};
  for (auto& name : ListProfiles(station)) items.push_back(std::move(name));
  station.Setup.SetItems("ProfileComboBox", std::move(items));
}

void SaveConfigBtnClick(Station& station) {
  std::string name = station.Setup.Text("ProfileNameEdit");
  if (name.empty()) {
    station.UiPort.ShowMessage("insert profile name first");
    return;
  }
  if (!IsValidProfileName(name)) {
    station.UiPort.ShowMessage("invalid profile name: " + name);
    return;
  }
  SaveSettings(station);
  auto target = ProfilePath(station, name);
  std::error_code ec;
  if (!std::filesystem::exists(target, ec)) {
    CopyProfileFile(station, station.SettingsFilePath(), target);
  } else if (station.UiPort.Ask("Overwrite Profile?")) {
    CopyProfileFile(station, station.SettingsFilePath(), target);
  }
  FillProfileList(station);
  station.UiPort.ShowMessage("Profile saved to " + name + kProfileExtension);
  station.SetupProfileSaved = true;
}

void LoadConfigBtnClick(Station& station) {
  std::string name = station.Setup.SelectedItem("ProfileComboBox");
  if (name.empty()) {
    station.UiPort.ShowMessage("no profile selected");
    return;
  }
  if (!IsValidProfileName(name)) return;
  const bool namesWereFromFile = station.Settings.FilternamesFromFile;
  CopyProfileFile(station, ProfilePath(station, name), station.SettingsFilePath());
  LoadSettings(station);
  ShowFilterFileWhenSwitchedOn(station, namesWereFromFile);
  station.Settings.ProfileName = name;
  station.Setup.SetText("ProfileNameEdit", name);
}

void InstallSetupFormButtonHandlers(Station& station) {
  auto on = [&station](const char* control, void (*handler)(Station&)) {
    station.SetHandler("SetupForm1", control, handler);
  };
  on("SaveConfigBtn", SaveConfigBtnClick);
  on("LoadConfigBtn", LoadConfigBtnClick);
  on("TelscopeSelectButton", TelscopeSelectButtonClick);
  on("CameraChooserBtn", CameraChooserBtnClick);
  on("focusChoose", FocusChooseClick);
  on("FilterwheelChooser", FilterwheelChooserClick);
  on("FilterradClearBtn", FilterradClearBtnClick);
  on("HorizonfileButton", HorizonfileButtonClick);
  on("imagepathButton", ImagepathButtonClick);
  on("SaveFilterTableButton", SaveFilterTableButtonClick);
}

void TelscopeSelectButtonClick(Station& station) {
  std::string chosen = station.UiPort.ChooseDevice("Telescope", station.Setup.Text("TelescopeEdit"));
  station.Setup.SetText("TelescopeEdit", chosen);
  if (!chosen.empty()) station.Settings.TelescopeObject = chosen;
}

void FocusChooseClick(Station& station) {
  std::string chosen = station.UiPort.ChooseDevice("Focuser", station.Setup.Text("FocusEdit"));
  station.Setup.SetText("FocusEdit", chosen);
  if (!chosen.empty()) station.Settings.FocuserObject = chosen;
}

void CameraChooserBtnClick(Station& station) {
  std::string chosen = station.UiPort.ChooseDevice("Camera", "");
  if (chosen.empty()) return;
  station.Setup.SetText("ASCOMCameraEdit", chosen);
  station.Settings.CameraObject = chosen;
}

void FilterwheelChooserClick(Station& station) {
  std::string chosen = station.UiPort.ChooseDevice("Filterwheel", "");
  if (chosen.empty()) return;
  station.Setup.SetText("FilterwheelEdit", chosen);
  station.Settings.FilterwheelObject = chosen;
}

void FilterradClearBtnClick(Station& station) {
  station.Setup.SetText("FilterwheelEdit", "");
  station.Settings.FilterwheelObject.clear();
}

void HorizonfileButtonClick(Station& station) {
  FileDialogRequest request;
  request.title = "Horizon file";
  request.filter = "horizon file|*.txt|all files|*";
  request.initialFolder = station.Paths.Home.string();
  auto chosen = station.UiPort.ChooseFileToOpen(request);
  if (!chosen) return;
  station.Setup.SetText("HorizonFileEdit", *chosen);
  station.Settings.Horizontdatei = *chosen;
}

void ImagepathButtonClick(Station& station) {
  FileDialogRequest request;
  request.title = "Default image path";
  request.initialName = "select path";
  request.initialFolder = station.Setup.Text("ImagepathEdit");
  auto chosen = station.UiPort.ChooseFileToOpen(request);
  if (!chosen) return;
  std::string folder = std::filesystem::path(*chosen).parent_path().string();
  if (!folder.empty() && folder.back() != '/') folder += '/';
  station.Setup.SetText("ImagepathEdit", folder);
}

void SaveFilterTableButtonClick(Station& station) {
  SaveFilterTable(station.Filters, station.Paths.Home, station.Settings.FilternamesFromFile);
}

}  // namespace noctarbel
