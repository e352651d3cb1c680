#include "windows/viewer_window.h"

#include <filesystem>
#include <memory>

#include "windows/station.h"
#include "common/datetime.h"
#include "common/number_text.h"
#include "windows/camera_window.h"
#include "imaging/star_measure.h"

namespace noctarbel {

namespace {

constexpr int kRefreshMs = 200;

void Notify(Station& station) {
  ++station.ViewerWindow.Version;
  if (station.OnViewerChanged) station.OnViewerChanged();
}

ViewerLook LookOf(Station& station) {
  const Controls& form = station.Form(kViewerForm);
  ViewerLook look;
  look.Auto = form.Checked("AutolevelCheckBox");
  look.LowerBar = form.IntValue("LTScrollBar");
  look.UpperBar = form.IntValue("UTScrollBar");
  look.Gamma = form.IntValue("GammaEdit");
  look.Planet = form.Checked("PlanetCheckbox");
  look.ShowStacked = form.Checked("StackedCheck");
  look.HistogramMaxLevel = station.Settings.HistogramMaxLevel;
  look.PaletteEntries = station.PreviewPaletteEntries;
  return look;
}

StackTracking TrackingOf(Station& station) {
  return StackTracking{station.Main.Checked("starguideCheckBox"), station.Settings.TrackingRange};
}

void SetViewerStatus(Station& station, const std::string& text) {
  station.Form(kViewerForm).SetText("StatusBar1", text);
}

bool ShowsStackNow(Station& station) { return station.Form(kViewerForm).Checked("StackedCheck"); }

// A stack that began with a star found follows it: the circle shows the star and its box.
void AfterStackStarted(Station& station) {
  Controls& form = station.Form(kViewerForm);
  form.SetChecked("StackedCheck", true);
  form.SetEnabled("StackedCheck", true);
  if (station.Viewer.Tracking()) station.ViewerWindow.ShowTrackingCircle = true;
}

}  // namespace

void DeclareViewerControls(Controls& form) {
  auto add = [&form](const std::string& name, ControlKind kind, const std::string& caption = {},
                     const std::string& hint = {}) -> ControlState& {
    ControlState& state = form.Declare(name, kind);
    state.caption = caption;
    state.hint = hint;
    return state;
  };
  add("PaintBox1", ControlKind::PaintBox);
  add("LoadBtn", ControlKind::Button, "Load", "Load a FITS or JPEG file");
  add("SaveButton", ControlKind::Button, "Save", "Save as FITS or JPEG");
  add("ExpStartBtn", ControlKind::Button, "Start exp.", "Start repeated exposures").enabled = false;
  add("ExpStopBtn", ControlKind::Button, "Stop", "Stop repeated exposures").enabled = false;
  add("ExitBtn", ControlKind::Button, "Exit");
  add("ZoomBtn", ControlKind::Button, "1:1", "One image pixel per screen pixel");
  add("NozoomBtn", ControlKind::Button, "Fit", "Fit the picture into the window");
  ControlState& lower = add("LTScrollBar", ControlKind::ScrollBar, "LT", "Black level");
  lower.maximum = 1000;
  ControlState& upper = add("UTScrollBar", ControlKind::ScrollBar, "UT", "White level");
  upper.maximum = 1000;
  upper.value = 1000;
  add("AutolevelCheckBox", ControlKind::CheckBox, "Auto").checked = true;
  ControlState& gamma = add("GammaEdit", ControlKind::SpinEdit, "1/Gamma");
  gamma.minimum = 1;
  gamma.maximum = 4;
  gamma.value = 1;
  add("StackedCheck", ControlKind::CheckBox, "Show stacked").checked = true;
  add("PlanetCheckbox", ControlKind::CheckBox, "Planet");
  add("Testbutton", ControlKind::Button, "Test", "Find the brightest star");
  add("TestEdit", ControlKind::Edit, "radius").text = "5";
  add("ViewerProgressBar", ControlKind::ProgressBar).maximum = 2;
  add("StatusBar1", ControlKind::StatusBar);
}

void ViewerRedraw(Station& station) {
  Controls& form = station.Form(kViewerForm);
  const ViewerLook look = LookOf(station);
  ImageViewer& viewer = station.Viewer;
  const ViewerLevels levels = viewer.Render(look);
  if (look.Auto && viewer.Displayed(look.ShowStacked)) {
    form.SetValue("LTScrollBar", levels.LowerBar);
    form.SetValue("UTScrollBar", levels.UpperBar);
  }
  ViewerOverlay& overlay = station.ViewerWindow.Overlay;
  overlay.ExposureText = viewer.ExposureText(look.ShowStacked);
  const ViewerWindowState& window = station.ViewerWindow;
  const bool guided = window.GuideMarkerX >= 0;
  overlay.CircleX = guided ? window.GuideMarkerX : viewer.ReferenceX();
  overlay.CircleY = guided ? window.GuideMarkerY : viewer.ReferenceY();
  overlay.TrackingCircle = window.ShowTrackingCircle && overlay.CircleX >= 0;
  overlay.CircleRadius = station.ViewerWindow.TrackingBox > 0 ? station.ViewerWindow.TrackingBox : viewer.TrackRadius();
  Notify(station);
}

void ViewerShowImage(Station& station, const Timgbuffer& image) {
  if (station.Viewer.ShowFrame(image, TrackingOf(station))) AfterStackStarted(station);
  station.ViewerWindow.Overlay.TestCircle = false;
  ViewerRedraw(station);
  if (station.Main.Checked("ViewerControlCheck")) station.UiPort.ShowForm(kViewerForm, false);
}

bool ViewerShowFile(Station& station, const std::string& path) {
  const bool wasStarting = station.Viewer.State() == StackState::StartNext;
  std::string error;
  if (!station.Viewer.ShowFile(path, TrackingOf(station), &error)) {
    SetViewerStatus(station, "read error: " + error);
    return false;
  }
  if (wasStarting && station.Viewer.State() == StackState::Accumulating) AfterStackStarted(station);
  station.ViewerWindow.Overlay.TestCircle = false;
  ViewerRedraw(station);
  station.UiPort.ShowForm(kViewerForm, false);
  return true;
}

bool ViewerStacking(Station& station) {
  const StackState state = station.Viewer.State();
  return state == StackState::StartNext || state == StackState::Accumulating || state == StackState::Finishing;
}

bool ViewerWebMonitor(Station& station) {
  const std::string target = station.ResolveFile(station.Settings.WebmonitorPathname).string();
  std::string error;
  const std::string text = FormatDateTime(station.Clock.LocalNow());
  if (station.Viewer.WriteWebMonitorPicture(target, text, ShowsStackNow(station), &error)) return true;
  station.SetStatus("Web monitor picture not written: " + error);
  station.LogTimed(": Web monitor picture not written: " + error);
  return false;
}

void ViewerMouseAt(Station& station, int x, int y) {
  const std::string text = station.Viewer.Readout(x, y, ShowsStackNow(station));
  if (!text.empty()) SetViewerStatus(station, text);
}

void LoadBtnClick(Station& station) {
  FileDialogRequest request;
  request.title = "Load image";
  request.filter = "FITS|*.fit;*.fits;*.fts|JPEG|*.jpg";
  request.initialFolder = station.Viewer.FileName.empty()
                              ? station.Paths.Home.string()
                              : std::filesystem::path(station.Viewer.FileName).parent_path().string();
  if (auto file = station.UiPort.ChooseFileToOpen(request)) ViewerShowFile(station, *file);
}

void ViewerSaveButtonClick(Station& station) {
  if (!station.Viewer.HasPicture()) {
    station.UiPort.ShowMessage("Kein Bild!");
    return;
  }
  FileDialogRequest request;
  request.title = "Save image";
  request.filter = "FITS|*.fit|JPEG|*.jpg";
  const std::filesystem::path current(station.Viewer.FileName);
  request.initialFolder = current.empty() ? station.Paths.Home.string() : current.parent_path().string();
  request.initialName = current.stem().string();
  request.defaultExtension = "fit";
  request.confirmOverwrite = true;
  auto chosen = station.UiPort.ChooseFileToSave(request);
  if (!chosen) return;
  // A name without a type's extension takes the first type's.
  const std::string extension = ToLowerAscii(std::filesystem::path(*chosen).extension().string());
  const ViewerFileType type = extension == ".jpg" ? ViewerFileType::Jpeg : ViewerFileType::Fits;
  const std::string file = ImageViewer::SaveFileName(*chosen, type);
  std::string error;
  if (!station.Viewer.Save(file, ShowsStackNow(station), &error)) {
    station.UiPort.ShowMessage(error == "Kein Bild!" ? error : "image not saved: " + error);
  }
}

void ExpStartBtnClick(Station& station) {
  Controls& main = station.Main;
  Controls& form = station.Form(kViewerForm);
  station.ViewerWindow.ContinuousExposure = true;
  if (!main.Enabled("ExposeButton")) return;
  main.SetChecked("RepeatExpCheckBox", true);
  main.SetChecked("ViewerControlCheck", true);
  main.SetEnabled("WebmonitorCheck", true);
  form.SetEnabled("ExpStopBtn", true);
  form.SetEnabled("ExpStartBtn", false);
  ExposeButtonClick(station);
}

void ExpStopBtnClick(Station& station) {
  Controls& form = station.Form(kViewerForm);
  station.Main.SetChecked("RepeatExpCheckBox", false);
  station.ViewerWindow.ContinuousExposure = false;
  form.SetEnabled("ExpStopBtn", false);
  form.SetEnabled("ExpStartBtn", true);
  if (ViewerStacking(station)) StackingButtonClick(station);
}

void ExitBtnClick(Station& station) {
  station.Main.SetChecked("ViewerControlCheck", false);
  station.Main.SetEnabled("WebmonitorCheck", false);
  station.ViewerWindow.ContinuousExposure = false;
  station.UiPort.HideForm(kViewerForm);
}

void TestbuttonClick(Station& station) {
  const Timgbuffer* shown = station.Viewer.Displayed(ShowsStackNow(station));
  ViewerOverlay& overlay = station.ViewerWindow.Overlay;
  overlay.TestCircle = false;
  if (!shown) {
    SetViewerStatus(station, "no star found");
    Notify(station);
    return;
  }
  const StarSearchResult star = FindBrightestStar(*shown);
  if (!star.Found) {
    SetViewerStatus(station, "no star found");
  } else {
    SetViewerStatus(station, "x,y=" + std::to_string(star.X) + "," + std::to_string(star.Y) +
                                 " imin,imax,imean=" + std::to_string(star.Minimum) + "," +
                                 std::to_string(star.Peak) + "," + std::to_string(star.Background));
    overlay.TestCircle = true;
    overlay.TestX = star.X;
    overlay.TestY = star.Y;
    overlay.TestRadius = ParseInt(station.Form(kViewerForm).Text("TestEdit")).value_or(5);
  }
  Notify(station);
}

void InstallViewerWindow(Station& station) {
  Controls& form = station.Form(kViewerForm);
  if (!form.Has("PaintBox1")) DeclareViewerControls(form);
  Station* st = &station;
  // Gamma and "Planet" redraw a moment later, once: a spin field sends a change per step.
  auto refresh = std::make_shared<Timer>(station.Clock, kRefreshMs);
  refresh->SetHandler([st, refresh] {
    refresh->Stop();
    ViewerRedraw(*st);
  });
  auto redrawSoon = [refresh] { refresh->Start(); };
  auto manualLevels = [st] {
    st->Form(kViewerForm).SetChecked("AutolevelCheckBox", false);
    ViewerRedraw(*st);
  };
  station.SetHandler(kViewerForm, "LoadBtn", LoadBtnClick);
  station.SetHandler(kViewerForm, "SaveButton", ViewerSaveButtonClick);
  station.SetHandler(kViewerForm, "ExpStartBtn", ExpStartBtnClick);
  station.SetHandler(kViewerForm, "ExpStopBtn", ExpStopBtnClick);
  station.SetHandler(kViewerForm, "ExitBtn", ExitBtnClick);
  station.SetHandler(kViewerForm, "Testbutton", TestbuttonClick);
  station.SetHandler(kViewerForm, "ZoomBtn", [st] {
    st->ViewerWindow.FitMode = false;
    Notify(*st);
  });
  station.SetHandler(kViewerForm, "NozoomBtn", [st] {
    st->ViewerWindow.FitMode = true;
    Notify(*st);
  });
  station.SetHandler(kViewerForm, "LTScrollBar", manualLevels);
  station.SetHandler(kViewerForm, "UTScrollBar", manualLevels);
  station.SetHandler(kViewerForm, "AutolevelCheckBox", [st] { ViewerRedraw(*st); });
  station.SetHandler(kViewerForm, "StackedCheck", [st] { ViewerRedraw(*st); });
  station.SetHandler(kViewerForm, "GammaEdit", redrawSoon);
  station.SetHandler(kViewerForm, "PlanetCheckbox", redrawSoon);
}

}  // namespace noctarbel
