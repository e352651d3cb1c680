#include "windows/camera_window.h"

#include <cmath>
#include <filesystem>

#include "windows/station.h"
#include "common/datetime.h"
#include "station/paths.h"
#include "common/number_text.h"
#include "windows/window_support.h"
#include "windows/focuser_window.h"
#include "operations/manual_exposure.h"
#include "windows/telescope_window.h"
#include "windows/viewer_window.h"

namespace noctarbel {

namespace {

constexpr const char* kMain = "PilotForm1";
constexpr const char* kTestImageName = "testbild.fits";

void ShowConnected(Station& station, bool connected) {
  Controls& main = station.Main;
  main.SetEnabled("CCDConnectBtn", !connected);
  for (const char* name : {"CameraInfobutton", "CamDisconnectButton", "ExposeButton", "StackingButton"}) {
    main.SetEnabled(name, connected);
  }
  if (connected) {
    main.SetEnabled("StopButton", false);
    main.SetEnabled("FocusButton", true);
    main.SetEnabled("ExecuteButton", true);
  } else {
    for (const char* name : {"setCoolerButton", "BinningEdit1", "FilterEdit", "FocusmaxConnect", "WarmUpBtn"}) {
      main.SetEnabled(name, false);
    }
    main.SetText("CamTempEdit", "");
    main.SetText("CoolerPowerEdit", "");
  }
}

// A whole percentage: a driver's fractions (or a value beyond 0..100) would not fit the field.
std::string CoolerPowerText(double percent) {
  return std::to_string(std::lround(std::clamp(percent, 0.0, 100.0)));
}

void ShowProgress(Station& station, const ExposureProgress& progress) {
  Controls& main = station.Main;
  Controls& viewer = station.Form(kViewerForm);
  for (Controls* form : {&main, &viewer}) {
    const char* bar = form == &main ? "ExposeProgressBar" : "ViewerProgressBar";
    form->SetRange(bar, 0, std::max(progress.Maximum, 1));
    form->SetValue(bar, progress.Position);
  }
  main.SetColour("exposeLight", progress.Running && progress.LightOn ? kColourRed : "silver");
}

// The filter wheel's part of connecting, as the core's connect left it: without a wheel one
// nameless filter slot.
void ShowWheelAfterConnect(Station& station) {
  Controls& main = station.Main;
  if (station.Settings.FilterwheelObject.empty()) {
    main.SetValue("FilterEdit", 1);
    main.SetEnabled("FilterEdit", false);
    main.SetText("FilternameEdit", "");
    return;
  }
  if (!station.FilterWheel.Slot()) {
    main.SetText("FilternameEdit", "??");
    return;
  }
  ShowFilterWheelConnected(station);
}

std::string ImageFolderOfToday(Station& station) {
  std::string root = station.Settings.RootImagePath;
  if (!root.empty() && root.back() != '/') root += '/';
  return root + NightFolderName(station.Clock.LocalNow());
}

void EndExposure(Station& station, bool repeat) {
  Controls& main = station.Main;
  station.UiPort.SetBusy(false);
  if (repeat) {
    station.ExposeTimer.Start();
    return;
  }
  main.SetEnabled("ExposeButton", true);
  main.SetEnabled("StopButton", false);
}

void ShowStarOffset(Station& station, const Timgbuffer& image, const ManualExposureResult& result) {
  Controls& main = station.Main;
  main.SetText("ImgMaxEdit", std::to_string(image.Maximum));
  main.SetText("ImgMeanEdit", std::to_string(result.Star.Background));
  main.SetValue("ImgMaxBar", std::round(100.0 * std::clamp(result.Star.Peak, 0, 65535) / 65535.0));
  if (result.Star.Found) {
    main.SetText("ImageInfoEdit", StarOffsetText(result.Offset));
    main.SetEnabled("Centerbutton", true);
  } else {
    main.SetText("ImageInfoEdit", "no star found");
  }
}

bool SaveTestImage(Station& station, const Timgbuffer& image, std::string& file) {
  file = (station.Paths.Home / kTestImageName).string();
  if (image.SaveFits(file)) return true;
  station.SetStatus("cannot save " + file + ": " + image.LastError());
  return false;
}

}  // namespace

std::string ExposureStepText(const std::string& text, bool up) {
  auto value = ParseFloat(text);
  if (!value) return text;
  const double t = *value;
  double step = 0;
  if (up) {
    step = t <= 0.01 ? 0.001 : t <= 0.1 ? 0.01 : t < 1 ? 0.1 : t < 10 ? 1 : 10;
  } else {
    if (t < 0.002) return text;
    step = t < 0.02 ? 0.001 : t < 0.2 ? 0.01 : t < 2 ? 0.1 : t < 20 ? 1 : 10;
  }
  // The smallest step is a millisecond: rounding there keeps 0.3 - 0.1 from showing as
  // 0.19999999999999998.
  const double result = std::round((up ? t + step : t - step) * 1000.0) / 1000.0;
  return FormatGeneral(result);
}

bool ConnectCamera(Station& station) {
  Controls& main = station.Main;
  if (station.Settings.CameraObject.empty()) return false;
  station.UiPort.SetBusy(true);
  std::string error;
  OperationContext op = station.BeginOperation();
  if (!station.StationCore::ConnectCamera(op, &error)) {
    station.UiPort.SetBusy(false);
    station.UiPort.ShowMessage(error == "No connection to camera." ? error : "No connection to camera");
    if (error != "No connection to camera.") station.LogTimed(": No connection to camera: " + error);
    return false;
  }
  try {
    ShowConnected(station, true);
    if (station.Camera.CanSetTemperature()) {
      main.SetEnabled("CoolerCheckBox", true);
      main.SetEnabled("setCoolerButton", true);
      if (station.Camera.CoolerOn()) main.SetChecked("CoolerCheckBox", true);
      if (main.Checked("CoolerCheckBox")) {
        station.Camera.ChosenSetPoint = main.Value("CoolerTempEdit");
        station.Camera.SetSetPoint(main.Value("CoolerTempEdit"));
        station.Camera.SetCoolerOn(true);
        main.SetEnabled("WarmUpBtn", true);
      }
    } else {
      main.SetEnabled("CoolerCheckBox", false);
      main.SetEnabled("setCoolerButton", false);
    }
    const int maxBin = std::max(1, station.Camera.MaxBinX());
    main.SetRange("BinningEdit1", 1, maxBin);
    if (main.Value("BinningEdit1") > maxBin) main.SetValue("BinningEdit1", maxBin);
    main.SetEnabled("BinningEdit1", true);
    main.SetEnabled("FilterEdit", true);
    main.SetEnabled("FocusmaxConnect", false);
    station.Form(kViewerForm).SetEnabled("ExpStartBtn", true);
    ShowWheelAfterConnect(station);
    if (!station.Settings.RootImagePath.empty()) main.SetText("ImgPathEdit", ImageFolderOfToday(station));
  } catch (const std::exception& e) {
    station.UiPort.SetBusy(false);
    station.LogTimed(std::string(": No connection to camera: ") + e.what());
    station.UiPort.ShowMessage("No connection to camera");
    return false;
  }
  station.UiPort.SetBusy(false);
  return true;
}

void CCDConnectBtnClick(Station& station) { ConnectCamera(station); }

void CamDisconnectButtonClick(Station& station) {
  station.DisconnectCamera();
  station.Main.SetEnabled("FilterEdit", false);
  ShowConnected(station, false);
}

void setCoolerButtonClick(Station& station) {
  if (!station.Camera.Connected()) return;
  try {
    station.Camera.ChosenSetPoint = station.Main.Value("CoolerTempEdit");
    station.Camera.SetSetPoint(station.Main.Value("CoolerTempEdit"));
    if (station.Main.Checked("CoolerCheckBox")) station.Camera.SetCoolerOn(true);
  } catch (const std::exception& e) {
    ReportDeviceProblem(station, std::string("Camera error: ") + e.what());
  }
}

void CoolerCheckBoxClick(Station& station) {
  if (station.Main.Checked("CoolerCheckBox")) {
    setCoolerButtonClick(station);
    station.Main.SetEnabled("WarmUpBtn", true);
    return;
  }
  try {
    if (station.Camera.Connected()) station.Camera.SetCoolerOn(false);
  } catch (const std::exception& e) {
    ReportDeviceProblem(station, std::string("Camera error: ") + e.what());
  }
}

void WarmUpBtnClick(Station& station) {
  station.WarmUpRequested = true;
  station.Main.SetEnabled("WarmUpBtn", false);
}

void CameraTimer1Timer(Station& station) { station.CameraWatchTick(); }

void ShowCameraTick(Station& station, const CameraTick& tick) {
  Controls& main = station.Main;
  if (tick.Temperature) main.SetText("CamTempEdit", FormatShortest(*tick.Temperature));
  if (tick.Temperature) main.SetText("CoolerPowerEdit", tick.CoolerPower ? CoolerPowerText(*tick.CoolerPower) : "?");
  if (tick.WarmUpEnded) main.SetChecked("CoolerCheckBox", false);
}

void ShowInPreview(Station& station, Timgbuffer& image) {
  const Controls& viewer = station.Form(kViewerForm);
  DisplayLevels levels;
  if (viewer.Checked("AutolevelCheckBox")) {
    const ViewerLevels automatic =
        ViewerAutomaticLevels(image, station.Settings.HistogramMaxLevel, viewer.Checked("PlanetCheckbox"));
    levels = DisplayLevels{automatic.Low, automatic.High};
  } else {
    levels = ViewerManualLevels(viewer.IntValue("LTScrollBar"), viewer.IntValue("UTScrollBar"), image.ComputeMax());
  }
  levels = AdjustViewerLevels(levels, image.Maximum, image.Unsigned);
  RenderBitmap(image, levels.Low, levels.High, 1.0, station.PreviewPaletteEntries, station.Preview);
  station.LastImage = image.Clone();
  if (station.OnPreviewChanged) station.OnPreviewChanged();
}

void ExposeButtonClick(Station& station) {
  Controls& main = station.Main;
  Controls& viewer = station.Form(kViewerForm);
  main.SetEnabled("ExposeButton", false);
  main.SetEnabled("Centerbutton", false);
  main.SetEnabled("StopButton", true);
  station.Run.AbortRequested = false;
  station.ViewerWindow.ShowTrackingCircle = false;
  viewer.SetEnabled("ExpStartBtn", false);
  if (!ViewerStacking(station)) {
    viewer.SetChecked("StackedCheck", false);
    viewer.SetEnabled("StackedCheck", false);
  }
  station.SetStatus("");
  station.UiPort.SetBusy(true);

  const bool repeat = main.Checked("RepeatExpCheckBox");
  auto exposure = ParseFloat(main.Text("ExposeSecEdit"));
  if (!exposure || *exposure < 0) {
    station.UiPort.SetBusy(false);
    station.UiPort.ShowMessage("Exposure time not correct");
    main.SetChecked("RepeatExpCheckBox", false);
    return EndExposure(station, false);
  }
  ManualExposure request;
  request.Exposure = *exposure;
  request.Binning = main.IntValue("BinningEdit1");
  request.Zoom = main.IntValue("ZoomEdit1");
  request.Filter = main.IntValue("FilterEdit");
  request.HotPixelFilter = main.Checked("HotpixelCheckbox");
  request.Calibrate = main.Checked("CalibrationCheckbox");

  Timgbuffer& image = station.ExposureFrame;
  OperationContext op = station.Operations.Begin([&station] { return station.Run.AbortRequested; });
  const ManualExposureResult result = TakeManualExposure(station, op, request, image);
  if (station.Run.CameraErrorFlag) main.SetText("ImageInfoEdit", "Camera error!");
  if (!result.Exposure.HasImage()) {
    // Stopped, interrupted, timed out or failed: no image, and no repetition.
    if (result.Exposure.End == ExposureEnd::Failed && !station.Run.CameraErrorFlag) {
      ReportDeviceProblem(station, result.Exposure.Error);
    }
    main.SetChecked("RepeatExpCheckBox", false);
    return EndExposure(station, false);
  }
  ShowInPreview(station, image);
  ShowStarOffset(station, image, result);

  if (!ViewerStacking(station) && !repeat) {
    std::string file;
    if (SaveTestImage(station, image, file) && main.Checked("ViewerControlCheck")) {
      ViewerShowFile(station, file);
      if (main.Checked("WebmonitorCheck") && !station.Settings.WebmonitorPathname.empty()) ViewerWebMonitor(station);
    }
  } else {
    ViewerShowImage(station, image);
  }
  EndExposure(station, main.Checked("RepeatExpCheckBox"));
}

void ExposeTimerTimer(Station& station) {
  station.ExposeTimer.Stop();
  station.Clock.Pump();
  ExposeButtonClick(station);
}

void StopButtonClick(Station& station) {
  Controls& main = station.Main;
  station.Run.AbortRequested = true;
  station.ExposeTimer.Stop();
  main.SetChecked("RepeatExpCheckBox", false);
  main.SetEnabled("StopButton", false);
  if (station.Hooks.StopManualFocusSeries) station.Hooks.StopManualFocusSeries();
  main.SetEnabled("ExposeButton", true);
}

void RepeatExpCheckBoxClick(Station& station) {
  if (!station.Main.Checked("RepeatExpCheckBox")) station.Form(kViewerForm).SetEnabled("ExpStopBtn", false);
}

void ExposureUpDownClick(Station& station) {
  Controls& main = station.Main;
  main.SetText("ExposeSecEdit", ExposureStepText(main.Text("ExposeSecEdit"), main.Value("ExposureUpDown") > 0));
}

void FolderselectButtonClick(Station& station) {
  Controls& main = station.Main;
  const std::string current = main.Text("ImgPathEdit");
  const std::string start = current.empty() ? station.Settings.RootImagePath : current;
  if (auto folder = station.UiPort.ChooseFolder(start)) {
    std::string chosen = *folder;
    if (!chosen.empty() && chosen.back() != '/') chosen += '/';
    main.SetText("ImgPathEdit", chosen);
  }
}

void CameraInfobuttonClick(Station& station) {
  if (!station.Camera.Connected()) {
    station.UiPort.ShowMessage("camera not connected");
    return;
  }
  std::string text;
  try {
    for (const auto& line : station.Camera.InfoLines()) text += line + "\n";
  } catch (const std::exception& e) {
    ReportDeviceProblem(station, std::string("Camera error: ") + e.what());
    return;
  }
  station.Form("CameraInfo").SetText("CameraData", text);
  station.UiPort.ShowForm("CameraInfo", false);
}

void StackingButtonClick(Station& station) {
  Controls& main = station.Main;
  Controls& viewer = station.Form(kViewerForm);
  if (main.Caption("StackingButton") == "Stop stacking") {
    main.SetEnabled("StopButton", false);
    if (ViewerStacking(station)) station.Viewer.FinishStack();
    viewer.SetEnabled("ExpStopBtn", false);
    viewer.SetEnabled("ExpStartBtn", true);
    main.SetCaption("StackingButton", "Start stacking");
    return;
  }
  if (!main.Enabled("ExposeButton") || ViewerStacking(station)) return;
  viewer.SetChecked("StackedCheck", true);
  viewer.SetEnabled("StackedCheck", true);
  main.SetEnabled("ExposeButton", false);
  station.Viewer.StartStack();
  main.SetCaption("StackingButton", "Stop stacking");
  main.SetChecked("ViewerControlCheck", true);
  viewer.SetEnabled("ExpStartBtn", false);
  viewer.SetEnabled("ExpStopBtn", true);

  // The loop is one operation: an emergency ends it (no pulse goes to a parked mount).
  OperationContext op = station.BeginOperation();
  const SettingsRecord& s = station.Settings;
  while (station.Viewer.State() == StackState::StartNext || station.Viewer.State() == StackState::Accumulating) {
    ExposeButtonClick(station);
    if (!op.Pump() || station.Run.CameraErrorFlag) break;
    const ImageViewer& v = station.Viewer;
    if (v.CurrentX() >= 0 && v.State() != StackState::Off) {
      const double dx = v.CurrentX() - v.ReferenceX();
      const double dy = v.CurrentY() - v.ReferenceY();
      station.SetStatus("GuideX=" + FormatFixed(dx, 2) + " GuideY=" + FormatFixed(dy, 2));
      if (std::abs(dx) < 10 && std::abs(dy) < 10 && dx * dx + dy * dy >= 0.5) {
        const int binning = main.IntValue("BinningEdit1");
        station.Mount.PulseGuideXY(op, binning * -s.ArcsecX * dx, binning * -s.ArcsecY * dy);
      }
    }
  }
  op.Wait(200);
  station.Viewer.StopStack();
  viewer.SetEnabled("ExpStopBtn", false);
  viewer.SetEnabled("ExpStartBtn", true);
  main.SetEnabled("ExposeButton", true);
  main.SetCaption("StackingButton", "Start stacking");
}

void InstallCameraHandlers(Station& station) {
  station.SetHandler(kMain, "CCDConnectBtn", CCDConnectBtnClick);
  station.SetHandler(kMain, "CamDisconnectButton", CamDisconnectButtonClick);
  station.SetHandler(kMain, "setCoolerButton", setCoolerButtonClick);
  station.SetHandler(kMain, "CoolerCheckBox", CoolerCheckBoxClick);
  station.SetHandler(kMain, "WarmUpBtn", WarmUpBtnClick);
  station.SetHandler(kMain, "ExposeButton", ExposeButtonClick);
  station.SetHandler(kMain, "StopButton", StopButtonClick);
  station.SetHandler(kMain, "RepeatExpCheckBox", RepeatExpCheckBoxClick);
  station.SetHandler(kMain, "ExposureUpDown", ExposureUpDownClick);
  station.SetHandler(kMain, "FolderselectButton", FolderselectButtonClick);
  station.SetHandler(kMain, "CameraInfobutton", CameraInfobuttonClick);
  station.SetHandler(kMain, "StackingButton", StackingButtonClick);
  station.SetHandler(kMain, "ViewerButton", [&station] {
    // An empty viewer opens with the last image the preview showed.
    if (!station.Viewer.HasPicture() && station.LastImage) {
      station.Viewer.ShowPlanFrame(*station.LastImage, station.Main.Text("ImageInfoEdit"));
      ViewerRedraw(station);
    }
    station.UiPort.ShowForm(kViewerForm, false);
  });
  Controls& info = station.Form("CameraInfo");
  if (!info.Has("CameraData")) {
    info.Declare("CameraData", ControlKind::Memo).readOnly = true;
    info.Declare("CloseButton", ControlKind::Button).caption = "Close";
  }
  station.SetHandler("CameraInfo", "CloseButton", [&station] { station.UiPort.HideForm("CameraInfo"); });

  Station* st = &station;
  station.OnCameraTick = [st](const CameraTick& tick) { ShowCameraTick(*st, tick); };
  station.ExposeTimer.SetHandler([st] { ExposeTimerTimer(*st); });
  station.Camera.OnProgress = [st](const ExposureProgress& progress) { ShowProgress(*st, progress); };
  station.Hooks.ConnectCamera = [st] { ConnectCamera(*st); };
  station.Hooks.DisconnectCamera = [st] { CamDisconnectButtonClick(*st); };
  station.Hooks.CameraCoolerOn = [st] {
    try {
      return st->Camera.Connected() && st->Camera.CoolerOn();
    } catch (const std::exception&) {
      return false;
    }
  };
}

}  // namespace noctarbel
