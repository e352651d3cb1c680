#include "windows/autofocus_window.h"

#include <cmath>
#include <functional>
#include <memory>

#include "windows/station.h"
#include "common/number_text.h"
#include "windows/camera_window.h"
#include "windows/window_support.h"
#include "windows/viewer_window.h"
#include "imaging/hot_pixel_filter.h"

namespace noctarbel {

namespace {

constexpr const char* kMain = "PilotForm1";
constexpr const char* kFocusStart = "Focus start";
constexpr const char* kFocusStop = "Focus stop";
constexpr double kFocusLoopMaxExposure = 2.0;
constexpr int kFocusLoopHotPixelFactor = 4;
constexpr const char* kFocusLoopFile = "focus.fits";

// The external focus application's slot. No such application exists on this platform; a
// station that has one gives the slot a factory. The object is never called: created, it
// lights LED4 and enables the autofocus button, released, the opposite.
struct ExternalFocusSlot {
  std::function<std::shared_ptr<void>()> Create;
  std::shared_ptr<void> Object;
};

void AppendMemo(Controls& form, const std::string& line) {
  std::string text = form.Text("Testmemo");
  if (!text.empty() && text.back() != '\n') text += "\n";
  form.SetText("Testmemo", text + line);
}

// Redraws the V-curve picture: the window listens for a change of its value.
void TouchPlot(Station& station) {
  Controls& form = station.Form(kAutofocusForm);
  form.SetValue("VCurvePlot", form.Value("VCurvePlot") + 1);
}

// A scan of the calibration window runs until Stop (the main window's) or an emergency.
OperationContext BeginWindowOperation(Station& station) {
  station.Run.AbortRequested = false;
  return station.Operations.Begin([&station] { return station.Run.AbortRequested; });
}

void ShowCameraError(Station& station) {
  station.Main.SetText("ImageInfoEdit", "Camera error!");
  station.UiPort.ShowMessage("camera error");
}

// The calibration window's fields as numbers; the message of the first that is wrong.
struct CalibrationFields {
  VCurveRequest Request;
  std::string Message;
};

CalibrationFields ReadCalibrationFields(Station& station) {
  Controls& form = station.Form(kAutofocusForm);
  CalibrationFields fields;
  const std::string range = std::string(TrimBlanks(form.Text("FocusRangeEdit")));
  if (range.empty()) {
    fields.Message = "Select focus range first";
    return fields;
  }
  const auto rangeValue = ParseInt(range);
  if (!rangeValue) {
    fields.Message = "error focus range";
    return fields;
  }
  const std::string mean = std::string(TrimBlanks(form.Text("FocusposEdit")));
  if (!mean.empty()) {
    const auto meanValue = ParseInt(mean);
    if (!meanValue) {
      fields.Message = "Mean focus position error";
      return fields;
    }
    station.Run.BaseFocusPosition = *meanValue;
  }
  const auto filter = ParseInt(TrimBlanks(form.Text("FilternumEdit")));
  if (!filter || *filter < 1 || *filter > 9) {
    fields.Message = "filter number error";
    return fields;
  }
  fields.Request.MeanPosition = station.Run.BaseFocusPosition;
  fields.Request.Range = *rangeValue;
  fields.Request.Count = form.IntValue("numposEdit");
  fields.Request.FilterIndex = *filter - 1;
  return fields;
}

// Runs a scan of the calibration window; false (with its message shown) when it failed.
bool RunCalibrationScan(Station& station, bool bothFlanks) {
  Controls& form = station.Form(kAutofocusForm);
  CalibrationFields fields = ReadCalibrationFields(station);
  if (!fields.Message.empty()) {
    station.UiPort.ShowMessage(fields.Message);
    return false;
  }
  fields.Request.BothFlanks = bothFlanks;
  form.SetText("Testmemo", "");
  form.SetEnabled("StartButton", false);
  form.SetEnabled("FitButton", false);
  station.UiPort.SetBusy(true);
  OperationContext op = BeginWindowOperation(station);
  const VCurveScan scan = station.Autofocus.CalibrateVCurve(
      op, fields.Request, [&form](const std::string& line) { AppendMemo(form, line); });
  station.UiPort.SetBusy(false);
  form.SetEnabled("StartButton", true);
  form.SetEnabled("FitButton", true);
  if (scan.Ok()) return true;
  if (scan.Failure == FocusFailure::CameraError) {
    ShowCameraError(station);
  } else if (scan.Failure == FocusFailure::Interrupted) {
    AppendMemo(form, scan.Error);
  } else {
    const std::string message = CalibrationMessage(scan.Failure);
    station.UiPort.ShowMessage(message.empty() ? scan.Error : message);
  }
  return false;
}

// The settings dialog shows what the record now holds, so that its OK keeps it.
void ShowLinesInSetup(Station& station) {
  const SettingsRecord& s = station.Settings;
  Controls& setup = station.Setup;
  setup.SetText("LslopeEdit", FormatFixed(s.AFLslope, 5));
  setup.SetText("LicEdit", FormatFixed(s.AFLic, 5));
  setup.SetText("RslopeEdit", FormatFixed(s.AFRslope, 5));
  setup.SetText("RicEdit", FormatFixed(s.AFRic, 5));
}

// ---- the focus loop: its flag is the button's caption, which Stop resets too.

bool FocusLoopRunning(Station& station) { return station.Main.Caption("FocusButton") == kFocusStop; }

void EndFocusLoop(Station& station) {
  station.Main.SetCaption("FocusButton", kFocusStart);
  station.Main.SetEnabled("FocusButton", true);
}

void ShowFocusFrame(Station& station, Timgbuffer& image) {
  Controls& main = station.Main;
  ShowInPreview(station, image);
  main.SetText("ImgMaxEdit", std::to_string(image.Maximum));
  main.SetValue("ImgMaxBar", std::round(100.0 * std::clamp(image.Maximum, 0, 65535) / 65535.0));
  if (!main.Checked("ViewerControlCheck")) return;
  const std::string file = (station.Paths.Home / kFocusLoopFile).string();
  if (image.SaveFits(file)) ViewerShowFile(station, file);
}

void StartFocusLoop(Station& station, double exposure) {
  Controls& main = station.Main;
  const int binning = std::max(1, main.IntValue("BinningEdit1"));
  const int filter = main.IntValue("FilterEdit") - 1;
  int width = 0;
  int height = 0;
  try {
    width = station.Camera.CameraXSize() / binning;
    height = station.Camera.CameraYSize() / binning;
  } catch (const std::exception&) {
    return ShowCameraError(station);
  }
  station.Run.AbortRequested = false;
  Timgbuffer& image = station.ExposureFrame;
  {
    OperationContext op = station.Operations.Begin([&station] { return station.Run.AbortRequested; });
    const ExposureResult full =
        station.Camera.TakeImage(op, ExposureRequest{binning, width, height, 0, 0, filter, exposure, true}, image);
    if (!full.HasImage()) {
      if (full.End == ExposureEnd::TimedOut || full.End == ExposureEnd::Failed) ShowCameraError(station);
      return;
    }
  }
  if (main.Checked("HotpixelCheckbox")) HotPixelFilter(image, kFocusLoopHotPixelFactor);
  ShowInPreview(station, image);
  const StarSearchResult star = FindBrightestStar(image);
  if (!star.Found) {
    station.UiPort.ShowMessage("No star found");
    return;
  }
  const HfdSubframe sub = PlaceFocusLoopSubframe(star.X, star.Y, width, height);
  main.SetCaption("FocusButton", kFocusStop);
  OperationContext op =
      station.Operations.Begin([&station] { return station.Run.AbortRequested || !FocusLoopRunning(station); });
  while (FocusLoopRunning(station)) {
    const ExposureResult frame = station.Camera.TakeImage(
        op, ExposureRequest{binning, sub.Width, sub.Height, sub.X0, sub.Y0, filter, exposure, true}, image);
    if (!frame.HasImage()) {
      if (frame.End == ExposureEnd::TimedOut || frame.End == ExposureEnd::Failed) ShowCameraError(station);
      break;
    }
    ShowFocusFrame(station, image);
  }
  if (FocusLoopRunning(station)) EndFocusLoop(station);
}

void StopFocusLoop(Station& station, double exposure) {
  Controls& main = station.Main;
  main.SetCaption("FocusButton", kFocusStart);
  // Let the exposure under way end before asking.
  OperationContext op = station.BeginOperation();
  op.Wait(static_cast<int>(std::lround(exposure * 1000)));
  if (!station.UiPort.Ask("Focus OK?")) return;
  try {
    const int position = station.Focuser.Read().Position;
    station.Run.BaseFocusPosition = position - FilterOffset(station.Filters, main.IntValue("FilterEdit"));
  } catch (const std::exception& e) {
    ReportDeviceProblem(station, std::string("Focuser error: ") + e.what());
  }
}

void ConnectExternalFocus(Station& station, ExternalFocusSlot& slot) {
  Controls& main = station.Main;
  if (slot.Object) {
    slot.Object.reset();
    main.SetColour("LED4", kColourRed);
    main.SetEnabled("AutofocusButton", false);
    return;
  }
  if (slot.Create) slot.Object = slot.Create();
  if (!slot.Object) {
    station.UiPort.ShowMessage("No external focus application on this computer");
    return;
  }
  main.SetColour("LED4", kColourGreen);
  main.SetEnabled("AutofocusButton", true);
}

}  // namespace

void DeclareAutofocusFormControls(Controls& form) {
  auto add = [&form](const std::string& name, ControlKind kind, const std::string& caption) -> ControlState& {
    ControlState& state = form.Declare(name, kind);
    state.caption = caption;
    return state;
  };
  add("HeadingLabel", ControlKind::Label, "Autofocus calibration");
  add("HintLabel", ControlKind::Label,
      "Before starting the V curve, find a star between about 3 and 5 mag  and center  it");
  add("FocusposEdit", ControlKind::Edit, "Mean focus position");
  add("SetButton", ControlKind::Button, "<- Set to actual pos.");
  add("FocusRangeEdit", ControlKind::Edit, "Focus range (+-)");
  ControlState& count = add("numposEdit", ControlKind::SpinEdit, "num positions");
  count.minimum = 5;
  count.maximum = 10;
  count.value = 5;
  add("FilternumEdit", ControlKind::Edit, "Filter number");
  add("StartButton", ControlKind::Button, "Start V curve");
  add("FitButton", ControlKind::Button, "Fit lines").hint = "Scan both flanks, fit a line to each and store them on OK";
  add("Testmemo", ControlKind::Memo, "").readOnly = true;
  // The V curve and its fitted lines; its value moves on with every change.
  ControlState& plot = add("VCurvePlot", ControlKind::PaintBox, "");
  plot.minimum = 360;  // width in pixels
  plot.maximum = 220;  // height
  add("CloseButton", ControlKind::Button, "Close");
}

void AutofocusFormShow(Station& station) {
  Controls& form = station.Form(kAutofocusForm);
  if (TrimBlanks(form.Text("FocusposEdit")).empty()) {
    form.SetText("FocusposEdit", std::to_string(station.Settings.AFposition));
  }
  if (!station.Focuser.HasDriver() || !station.Focuser.Linked()) station.UiPort.ShowMessage("focuser not connected");
  form.SetText("FilternumEdit", std::to_string(station.Main.IntValue("FilterEdit")));
}

void AutofocusSetButtonClick(Station& station) {
  try {
    station.Form(kAutofocusForm).SetText("FocusposEdit", std::to_string(station.Focuser.Read().Position));
  } catch (const std::exception&) {
    station.UiPort.ShowMessage("focuser not connected");
  }
}

void AutofocusStartButtonClick(Station& station) { RunCalibrationScan(station, false); }

void AutofocusFitButtonClick(Station& station) {
  if (!RunCalibrationScan(station, true)) return;
  Controls& form = station.Form(kAutofocusForm);
  const VCurveScan& scan = station.Autofocus.LastScan();
  for (const std::string& line : FitReportLines(scan.Fit)) AppendMemo(form, line);
  if (!scan.Fit.Usable()) return;
  if (!station.UiPort.Ask("Store the fitted V lines in the settings?")) return;
  std::string error;
  const bool saved = station.Autofocus.StoreLines(scan.Fit, &error);
  ShowLinesInSetup(station);
  if (!saved) station.UiPort.ShowMessage("Settings not saved: " + error);
}

void AutofocusButtonClick(Station& station) {
  Controls& main = station.Main;
  main.SetEnabled("FocusButton", false);
  main.SetEnabled("ViewerButton", false);
  station.UiPort.SetBusy(true);
  OperationContext op = BeginWindowOperation(station);
  AutofocusOptions options;
  options.HotPixelFilter = main.Checked("HotpixelCheckbox");
  const AutofocusResult result = station.Autofocus.RunAutofocus(op, main.IntValue("FilterEdit") - 1, options);
  station.UiPort.SetBusy(false);
  // Whatever became of the run, the buttons come back.
  main.SetEnabled("FocusButton", true);
  main.SetEnabled("ViewerButton", true);
  station.Setup.SetText("AFEdit", std::to_string(station.Settings.AFposition));
  if (result.Failure == FocusFailure::CameraError) ShowCameraError(station);
  if (!result.Ok && !station.Run.PlanRunning) {
    main.SetCaption("AutofocusButton", "Autofocus error");
    // Why, in the operator's words; a camera error has said so already, Stop needs no word.
    if (result.Failure != FocusFailure::CameraError && result.Failure != FocusFailure::Interrupted) {
      station.UiPort.ShowMessage(result.Error);
    }
  } else if (result.Ok) {
    main.SetCaption("AutofocusButton", "Autofocus");
  }
  // The viewer stays open through the run and after a failure (its last frame shows what went
  // wrong); a run that passed all its checks closes it, the focus frames live in the preview.
  if (result.Ok) station.UiPort.HideForm(kViewerForm);
}

void FocusButtonClick(Station& station) {
  Controls& main = station.Main;
  const auto exposure = ParseFloat(main.Text("ExposeSecEdit"));
  if (FocusLoopRunning(station)) return StopFocusLoop(station, exposure.value_or(0));
  if (!exposure || *exposure < 0) {
    station.UiPort.ShowMessage("Exposure time not correct");
    return;
  }
  if (*exposure > kFocusLoopMaxExposure) {
    station.UiPort.ShowMessage("Too long exposure, select value of <=2s !");
    return;
  }
  StartFocusLoop(station, *exposure);
}

void CalibrateAutofocusClick(Station& station) {
  station.Activate(kAutofocusForm, "FormShow");
  station.UiPort.ShowForm(kAutofocusForm, true);
}

void InstallFocusWindows(Station& station) {
  Controls& form = station.Form(kAutofocusForm);
  if (!form.Has("StartButton")) DeclareAutofocusFormControls(form);
  station.SetHandler(kAutofocusForm, "FormShow", AutofocusFormShow);
  station.SetHandler(kAutofocusForm, "SetButton", AutofocusSetButtonClick);
  station.SetHandler(kAutofocusForm, "StartButton", AutofocusStartButtonClick);
  station.SetHandler(kAutofocusForm, "FitButton", AutofocusFitButtonClick);
  station.SetHandler(kAutofocusForm, "CloseButton", [&station] { station.UiPort.HideForm(kAutofocusForm); });
  station.SetHandler(kMain, "AutofocusButton", AutofocusButtonClick);
  station.SetHandler(kMain, "FocusButton", FocusButtonClick);
  auto slot = std::make_shared<ExternalFocusSlot>();
  station.SetHandler(kMain, "FocusmaxConnect", [&station, slot] { ConnectExternalFocus(station, *slot); });
  station.SetHandler("SetupForm1", "CalibrateAutofocus", CalibrateAutofocusClick);

  Station* st = &station;
  station.Hooks.StopManualFocusSeries = [st] { EndFocusLoop(*st); };
  station.Autofocus.Hooks.Show = [st](Timgbuffer& image) { ShowInPreview(*st, image); };
  station.Autofocus.OnScanChanged = [st] { TouchPlot(*st); };
}

}  // namespace noctarbel
