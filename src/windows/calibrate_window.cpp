#include "windows/calibrate_window.h"

#include <algorithm>
#include <memory>
#include <system_error>

#include "windows/station.h"

namespace noctarbel {

namespace {

constexpr const char* kDarkEdits[kMasterBinnings] = {"darkfilenameEdit", "darkfilenameEdit2", "darkfilenameEdit4"};
constexpr const char* kBiasEdits[kMasterBinnings] = {"BiasFilenameEdit1", "BiasFilenameEdit2", "BiasfilenameEdit4"};
constexpr const char* kDarkButtons[kMasterBinnings] = {"DarkfileBtn1", "DarkfileBtn2", "DarkfileBtn4"};
constexpr const char* kBiasButtons[kMasterBinnings] = {"BiasfileBtn1", "BiasfileBtn2", "BiasfileBtn4"};

constexpr const char* kFitsFilter = "FITS image|*.fit;*.fits;*.fts|all files|*";
constexpr const char* kConfigFilter = "calibration configuration|*calib.cfg|configuration|*.cfg";

Controls& Form(Station& station) { return station.Form(kCalibrateForm); }

std::string Joined(const std::vector<std::string>& parts, const std::string& separator) {
  std::string text;
  for (const auto& part : parts) text += (text.empty() ? "" : separator) + part;
  return text;
}

// The boxes and the hot pixel max count for every image from the moment they change.
void FollowWindow(Station& station, const std::string& name) {
  Controls& form = Form(station);
  CalibrationOptions& options = station.Calibration.Options;
  if (name == "Darkcheckbox") {
    options.DarkSubtract = form.Checked(name);
  } else if (name == "FlatCheckBox") {
    options.FlatCorrection = form.Checked(name);
  } else if (name == "darkAdjustCheckBox") {
    options.Optimize = form.Checked(name);
  } else if (name == "hotpixelEdit") {
    // A half-typed value keeps the last whole number.
    if (auto value = CalibrationNumber(form.Text(name))) options.HotPixelMax = *value;
  }
}

FileDialogRequest FitsRequest(Station& station, const std::string& title, const std::string& current) {
  FileDialogRequest request;
  request.title = title;
  request.filter = kFitsFilter;
  const std::filesystem::path file = current.empty() ? std::filesystem::path() : station.ResolveFile(current);
  request.initialFolder = file.empty() ? station.Paths.Home.string() : file.parent_path().string();
  request.initialName = file.filename().string();
  return request;
}

FileDialogRequest ConfigRequest(Station& station, const std::string& title) {
  FileDialogRequest request;
  request.title = title;
  request.filter = kConfigFilter;
  request.initialFolder = station.Paths.Home.string();
  request.initialName = kCalibrationConfigFileName;
  request.defaultExtension = "cfg";
  return request;
}

// The ".." button beside a file name: the chosen file goes into the field.
void ChooseMasterFile(Station& station, const char* edit, const std::string& title) {
  Controls& form = Form(station);
  auto chosen = station.UiPort.ChooseFileToOpen(FitsRequest(station, title, form.Text(edit)));
  if (chosen) form.SetText(edit, *chosen);
}

// Loads the masters the boxes ask for; the first failure ends with its message.
CalibrateFormClose LoadMasters(Station& station) {
  Controls& form = Form(station);
  ImageCalibration& calibration = station.Calibration;
  auto report = [&station](const MasterLoadError& error) {
    station.UiPort.ShowMessage(error.Message);
    station.LogTimed(": " + error.Message + " (" + error.Reason + ")");
  };
  if (form.Checked("Darkcheckbox")) {
    for (int i = 0; i < kMasterBinnings; ++i) {
      const std::string name = form.Text(kDarkEdits[i]);
      if (auto error = calibration.LoadDark(i, name, station.ResolveFile(name))) {
        report(*error);
        return CalibrateFormClose::StayOpen;
      }
    }
    for (int i = 0; i < kMasterBinnings; ++i) {
      const std::string name = form.Text(kBiasEdits[i]);
      if (auto error = calibration.LoadBias(i, name, station.ResolveFile(name))) {
        report(*error);
        return CalibrateFormClose::StayOpen;
      }
    }
  }
  if (form.Checked("FlatCheckBox")) {
    for (int id = 1; id <= kFlatIdCount; ++id) {
      const std::string name = calibration.Tables.FlatFiles[static_cast<size_t>(id - 1)];
      if (auto error = calibration.LoadFlat(id, name, station.ResolveFile(name))) {
        report(*error);
        return CalibrateFormClose::Cancel;
      }
    }
  }
  return CalibrateFormClose::Ok;
}

}  // namespace

void DeclareCalibrateFormControls(Controls& form) {
  auto add = [&form](const std::string& name, ControlKind kind, const std::string& caption,
                     const std::string& hint = {}) -> ControlState& {
    ControlState& state = form.Declare(name, kind);
    state.caption = caption;
    state.hint = hint;
    return state;
  };
  add("Darkcheckbox", ControlKind::CheckBox, "Dark subtract");
  add("darkAdjustCheckBox", ControlKind::CheckBox, "Optimize", "Darks werden abh. von Belichtungszeit korrigiert")
      .checked = true;
  add("DarkTimeLabel", ControlKind::Label, "Dark corr. only for T>0.1s");
  add("DarkframeTimeLabel", ControlKind::Label, "T(darkframe) >0.9s");
  add("OptimizeLimitsLabel", ControlKind::Label, "(both limits apply when Optimize is active)");
  const char* const binnings[kMasterBinnings] = {"1x1", "2x2", "4x4"};
  for (int i = 0; i < kMasterBinnings; ++i) {
    add(kDarkEdits[i], ControlKind::Edit, std::string("Master dark ") + binnings[i]);
    add(kDarkButtons[i], ControlKind::Button, "..", std::string("Choose the master dark ") + binnings[i]);
  }
  for (int i = 0; i < kMasterBinnings; ++i) {
    add(kBiasEdits[i], ControlKind::Edit, std::string("Master bias ") + binnings[i]);
    add(kBiasButtons[i], ControlKind::Button, "..", std::string("Choose the master bias ") + binnings[i]);
  }
  add("hotpixelEdit", ControlKind::Edit, "Hot pixel max").text = std::to_string(kDefaultHotPixelMax);
  add("BiasConstantEdit", ControlKind::Edit, "bias constant").text = std::to_string(kDefaultBiasConstant);
  add("HotpixelCheckbox", ControlKind::CheckBox, "Hotpixel correction");
  ControlState& sigma = add("HotpixelSigmaEdit", ControlKind::SpinEdit, "Sigma");
  sigma.minimum = kMinHotPixelSigma;
  sigma.maximum = kMaxHotPixelSigma;
  sigma.value = kMinHotPixelSigma;

  add("FlatCheckBox", ControlKind::CheckBox, "Flat correction");
  add("StringGrid1", ControlKind::Grid, "Master flats").value = 1;  // the current row
  add("SetfileBtn", ControlKind::Button, "Select master flat", "Master flat file for the selected flat ID");
  add("StringGrid2", ControlKind::Grid, "Flat ID by filter and binning");
  add("FilterHintLabel", ControlKind::Label, "Without filter wheel filter num 1 is used");
  add("ClearButton", ControlKind::Button, "Clear table");

  add("cfgfileEdit", ControlKind::Edit, "Cfg file used:").readOnly = true;
  add("ReadConfigBtn", ControlKind::Button, "Read last conf.");
  add("SaveBtn", ControlKind::Button, "Save");
  add("SaveAsBtn", ControlKind::Button, "Save as ");
  add("ReadFromBtn", ControlKind::Button, "Read from file");
  add("OKbutton", ControlKind::Button, "OK");
  add("CancelButton", ControlKind::Button, "Cancel");
}

void InstallCalibrateFormHandlers(Station& station) {
  Controls& form = Form(station);
  if (!form.Has("OKbutton")) DeclareCalibrateFormControls(form);
  Station* st = &station;
  form.Subscribe([st](const std::string& name, ControlProperty what) {
    if (what == ControlProperty::Checked || what == ControlProperty::Text) FollowWindow(*st, name);
  });
  for (const char* name : {"Darkcheckbox", "FlatCheckBox", "darkAdjustCheckBox", "hotpixelEdit"}) {
    FollowWindow(station, name);
  }

  // Whether the window was closed with OK lives as long as its handlers.
  auto session = std::make_shared<CalibrateFormSession>();
  station.SetHandler(kCalibrateForm, "OKbutton", [st, session] {
    const CalibrateFormClose close = OKbuttonClick(*st);
    if (close == CalibrateFormClose::StayOpen) return;
    session->ClosedWithOk = close == CalibrateFormClose::Ok;
    st->UiPort.HideForm(kCalibrateForm);
  });
  station.SetHandler(kCalibrateForm, "CancelButton", [st, session] {
    session->ClosedWithOk = false;
    st->UiPort.HideForm(kCalibrateForm);
  });
  station.SetHandler("PilotForm1", "CalibrationCheckbox", [st, session] { CalibrationCheckboxClick(*st, *session); });
  station.SetHandler(kCalibrateForm, "FormShow", [st] {
    if (!st->Calibration.ConfigurationRead) ReadCalibrationConfiguration(*st, CalibrationConfigPath(*st), true);
  });

  auto on = [&station](const char* control, void (*handler)(Station&)) {
    station.SetHandler(kCalibrateForm, control, handler);
  };
  on("SaveBtn", SaveBtnClick);
  on("ReadConfigBtn", ReadConfigBtnClick);
  on("SaveAsBtn", SaveAsBtnClick);
  on("ReadFromBtn", ReadFromBtnClick);
  on("ClearButton", ClearButtonClick);
  on("SetfileBtn", SetfileBtnClick);
  for (int i = 0; i < kMasterBinnings; ++i) {
    const std::string binning = std::to_string(MasterBinning(i)) + "x" + std::to_string(MasterBinning(i));
    station.SetHandler(kCalibrateForm, kDarkButtons[i],
                       [st, i, binning] { ChooseMasterFile(*st, kDarkEdits[i], "Master dark " + binning); });
    station.SetHandler(kCalibrateForm, kBiasButtons[i],
                       [st, i, binning] { ChooseMasterFile(*st, kBiasEdits[i], "Master bias " + binning); });
  }
}

std::filesystem::path CalibrationConfigPath(const Station& station) {
  return station.Paths.Home / kCalibrationConfigFileName;
}

bool ShowCalibrateForm(Station& station, CalibrateFormSession& session) {
  if (!station.Calibration.ConfigurationRead) {
    ReadCalibrationConfiguration(station, CalibrationConfigPath(station), true);
  }
  session.ClosedWithOk = false;
  station.UiPort.ShowForm(kCalibrateForm, true);
  return session.ClosedWithOk;
}

void CalibrationCheckboxClick(Station& station, CalibrateFormSession& session) {
  if (!station.Main.Checked("CalibrationCheckbox")) return;
  if (!ShowCalibrateForm(station, session)) station.Main.SetChecked("CalibrationCheckbox", false);
}

CalibrateFormClose OKbuttonClick(Station& station) {
  const CalibrateFormClose loaded = LoadMasters(station);
  if (loaded != CalibrateFormClose::Ok) return loaded;
  const CalibrationConfig config = ConfigFromWindow(station);
  for (const auto& message : ApplyCalibrationConfig(config, station.Calibration)) station.UiPort.ShowMessage(message);
  // The window shows the values now in use.
  Controls& form = Form(station);
  form.SetText("hotpixelEdit", std::to_string(station.Calibration.Options.HotPixelMax));
  form.SetText("BiasConstantEdit", std::to_string(station.Calibration.Options.BiasConstant));
  if (!station.Calibration.ConfigurationSaved && station.UiPort.Ask("save configuration? ")) SaveAsBtnClick(station);
  return CalibrateFormClose::Ok;
}

CalibrationConfig ConfigFromWindow(Station& station) {
  Controls& form = Form(station);
  CalibrationConfig config;
  config.Tables = station.Calibration.Tables;
  for (int i = 0; i < kMasterBinnings; ++i) {
    config.DarkFiles[static_cast<size_t>(i)] = form.Text(kDarkEdits[i]);
    config.BiasFiles[static_cast<size_t>(i)] = form.Text(kBiasEdits[i]);
  }
  config.HotPixelMax = form.Text("hotpixelEdit");
  config.BiasConstant = form.Text("BiasConstantEdit");
  config.Optimize = form.Checked("darkAdjustCheckBox");
  config.CfgFileName = form.Text("cfgfileEdit");
  config.HotPixelCorrection = form.Checked("HotpixelCheckbox");
  config.HotPixelSigma = form.IntValue("HotpixelSigmaEdit");
  return config;
}

void ShowConfigInWindow(Station& station, const CalibrationConfig& config) {
  Controls& form = Form(station);
  station.Calibration.Tables = config.Tables;
  for (int i = 0; i < kMasterBinnings; ++i) {
    form.SetText(kDarkEdits[i], config.DarkFiles[static_cast<size_t>(i)]);
    form.SetText(kBiasEdits[i], config.BiasFiles[static_cast<size_t>(i)]);
  }
  form.SetText("hotpixelEdit", config.HotPixelMax);
  form.SetText("BiasConstantEdit", config.BiasConstant);
  form.SetChecked("darkAdjustCheckBox", config.Optimize);
  form.SetChecked("HotpixelCheckbox", config.HotPixelCorrection);
  form.SetValue("HotpixelSigmaEdit", config.HotPixelSigma);
}

bool ReadCalibrationConfiguration(Station& station, const std::filesystem::path& file, bool quietWhenMissing) {
  std::error_code ec;
  if (quietWhenMissing && !std::filesystem::exists(file, ec)) return false;
  CalibrationConfig config = ConfigFromWindow(station);
  const CalibrationConfigRead read = ReadCalibrationConfig(file, config);
  if (!read.Read) {
    station.UiPort.ShowMessage("read error: " + read.Error);
    return false;
  }
  ShowConfigInWindow(station, config);
  Form(station).SetText("cfgfileEdit", file.filename().string());
  station.Calibration.ConfigurationRead = true;
  if (!read.Skipped.empty()) {
    station.UiPort.ShowMessage(file.filename().string() +
                               ": these values were not read and keep their values: " + Joined(read.Skipped, "; "));
  }
  return true;
}

bool SaveCalibrationConfiguration(Station& station, const std::filesystem::path& file) {
  CalibrationConfig config = ConfigFromWindow(station);
  config.CfgFileName = file.filename().string();
  if (auto problem = CheckCalibrationConfig(config)) {
    station.UiPort.ShowMessage("Configuration not saved: " + *problem);
    return false;
  }
  std::string error;
  if (!SaveCalibrationConfig(file, config, &error)) {
    station.UiPort.ShowMessage("write error: " + error);
    return false;
  }
  Form(station).SetText("cfgfileEdit", config.CfgFileName);
  station.Calibration.ConfigurationSaved = true;
  return true;
}

void SaveBtnClick(Station& station) { SaveCalibrationConfiguration(station, CalibrationConfigPath(station)); }

void ReadConfigBtnClick(Station& station) { ReadCalibrationConfiguration(station, CalibrationConfigPath(station)); }

void SaveAsBtnClick(Station& station) {
  FileDialogRequest request = ConfigRequest(station, "Save calibration configuration");
  request.confirmOverwrite = true;
  if (auto chosen = station.UiPort.ChooseFileToSave(request)) SaveCalibrationConfiguration(station, *chosen);
}

void ReadFromBtnClick(Station& station) {
  if (auto chosen = station.UiPort.ChooseFileToOpen(ConfigRequest(station, "Read calibration configuration"))) {
    ReadCalibrationConfiguration(station, *chosen);
  }
}

void ClearButtonClick(Station& station) { station.Calibration.Tables = FlatTables{}; }

void SetfileBtnClick(Station& station) {
  Controls& form = Form(station);
  const int row = std::clamp(form.IntValue("StringGrid1"), 1, kFlatIdCount);
  std::string& cell = station.Calibration.Tables.FlatFiles[static_cast<size_t>(row - 1)];
  auto chosen =
      station.UiPort.ChooseFileToOpen(FitsRequest(station, "Master flat for flat ID " + std::to_string(row), cell));
  if (chosen) cell = *chosen;
}

}  // namespace noctarbel
