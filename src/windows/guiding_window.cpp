#include "windows/guiding_window.h"

#include "windows/station.h"
#include "common/number_text.h"
#include "windows/camera_window.h"
#include "windows/viewer_window.h"

namespace noctarbel {

namespace {

constexpr const char* kMain = "PilotForm1";
constexpr const char* kSetup = "SetupForm1";
constexpr double kTestExposure = 0.1;

std::string RateText(double arcsecPerSecond) { return FormatFixed(arcsecPerSecond, 1) + "/s"; }

void ShowRates(Station& station, double ra, double dec) {
  Controls& form = station.Form(kGuidingTestForm);
  form.SetText("GuiderateRAedit", RateText(ra));
  form.SetText("GuiderateDECedit", RateText(dec));
}

// The checks take short exposures: a bright star needs no more than a tenth of a second.
void ShortenExposure(Station& station) {
  const auto exposure = ParseFloat(station.Main.Text("ExposeSecEdit"));
  if (!exposure || *exposure > kTestExposure) station.Main.SetText("ExposeSecEdit", "0.1");
}

StarOffsetSource ExposeButtonSource(Station& station) {
  return [&station](OperationContext& op) { return ExposeLikeTheExposeButton(station, op); };
}

// Redraws the picture: the window listens for a change of its value.
void TouchPicture(Station& station) {
  Controls& form = station.Form(kGuidingTestForm);
  form.SetValue("GuidingPicture", form.Value("GuidingPicture") + 1);
}

// The test's exposures as the button takes them; the first and the last star kept for the
// picture (the star stands opposite the offset that would centre it).
StarOffsetSource PictureRecordingSource(Station& station, int& taken) {
  return [&station, &taken](OperationContext& op) {
    const std::optional<StarOffset> offset = ExposeLikeTheExposeButton(station, op);
    if (!offset) return offset;
    auto& picture = station.GuidingTestPicture;
    if (taken++ == 0) {
      picture.BeforeX = -offset->X;
      picture.BeforeY = -offset->Y;
    }
    picture.AfterX = -offset->X;
    picture.AfterY = -offset->Y;
    return offset;
  };
}

void SaveCameraRotation(Station& station, double angle) {
  SettingsRecord& s = station.Settings;
  s.CameraRotation = AddToCameraRotation(s.CameraRotation, angle);
  station.Form(kGuidingTestForm).SetText("CamrotationEdit", std::to_string(s.CameraRotation));
  // The settings dialog takes the rotation from its field when it saves: it shows the new one.
  station.Setup.SetValue("CameraRotationEdit", s.CameraRotation);
}

void ShowMarker(Station& station, const GuideMarker& marker) {
  ViewerWindowState& viewer = station.ViewerWindow;
  viewer.ShowTrackingCircle = marker.On;
  viewer.TrackingBox = marker.Box;
  viewer.GuideMarkerX = marker.On ? marker.X : -1;
  viewer.GuideMarkerY = marker.On ? marker.Y : -1;
  ViewerRedraw(station);
}

}  // namespace

std::optional<StarOffset> ExposeLikeTheExposeButton(Station& station, OperationContext& op) {
  if (!op.MayContinue()) return std::nullopt;
  ExposeButtonClick(station);
  // The exposure enables the centre button when it found a star.
  if (!station.Main.Enabled("Centerbutton")) return std::nullopt;
  return station.StarOffsetArcsec;
}

void DeclareGuidingTestFormControls(Controls& form) {
  auto add = [&form](const std::string& name, ControlKind kind, const std::string& caption) -> ControlState& {
    ControlState& state = form.Declare(name, kind);
    state.caption = caption;
    return state;
  };
  add("Label1", ControlKind::Label, "1)  Move telescope to bright star");
  add("Label2", ControlKind::Label, "2)  Center star");
  add("Label3", ControlKind::Label, "3)  Start moves the telescope in RA and measures the star");
  add("GuiderateRAedit", ControlKind::Edit, "guide rate RA (\")").readOnly = true;
  add("GuiderateDECedit", ControlKind::Edit, "guide rate DEC (\")").readOnly = true;
  add("CamrotationEdit", ControlKind::Edit, "Camera rotation (°)").readOnly = true;
  ControlState& move = add("dmoveEdit", ControlKind::SpinEdit, "test move (\")");
  move.minimum = 10;
  move.maximum = 120;
  move.step = 10;
  move.value = 30;
  add("ResultLabel", ControlKind::Label, "");
  // The two star positions, the measured move and the angle; its value moves on with every change.
  ControlState& picture = add("GuidingPicture", ControlKind::PaintBox, "");
  picture.minimum = 220;  // width in pixels
  picture.maximum = 220;  // height
  add("startbutton", ControlKind::Button, "Start");
  add("Cancelbutton", ControlKind::Button, "Cancel");
}

void GuidingtestFormShow(Station& station) {
  if (!station.Mount.HasDriver()) return;
  const auto [ra, dec] = station.Guiding.PrepareGuideRates();
  ShowRates(station, ra, dec);
  station.Form(kGuidingTestForm).SetText("CamrotationEdit", std::to_string(station.Settings.CameraRotation));
}

void GuidingtestStartButtonClick(Station& station) {
  Controls& form = station.Form(kGuidingTestForm);
  if (!station.UiPort.Ask("Telescope on bright star positioned and camera ready?")) return;
  ShortenExposure(station);
  station.UiPort.SetBusy(true);
  station.GuidingTestPicture.Measured = false;
  form.SetCaption("ResultLabel", "");
  TouchPicture(station);
  OperationContext op = station.BeginOperation();
  int taken = 0;
  const GuidingTestResult result =
      station.Guiding.RunGuidingTest(op, form.IntValue("dmoveEdit"), PictureRecordingSource(station, taken),
                                     [&station](const std::string& text) { station.UiPort.ShowMessage(text); });
  station.UiPort.SetBusy(false);
  ShowRates(station, result.RaRate, result.DecRate);
  if (!result.Ok()) {
    if (result.End != GuidingCheckEnd::Interrupted) station.UiPort.ShowMessage(GuidingCheckMessage(result.End));
    return;
  }
  const std::string text = GuidingTestResultText(result.Dx, result.Dy, result.Angle);
  station.GuidingTestPicture.Measured = true;
  station.GuidingTestPicture.Angle = result.Angle;
  form.SetCaption("ResultLabel", text);
  TouchPicture(station);
  station.UiPort.ShowMessage(text);
  if (station.UiPort.Ask("Save camera rotation angle?")) SaveCameraRotation(station, result.Angle);
}

void GuidetestBtnClick(Station& station) {
  if (!station.UiPort.Ask("Telescope on bright star positioned and camera ready?")) return;
  ShortenExposure(station);
  OperationContext op = station.BeginOperation();
  const MovementCheckResult result = station.Guiding.RunMovementCheck(
      op, station.Setup.IntValue("TestmoveEdit"), ExposeButtonSource(station), [&station](const std::string& text) {
        station.UiPort.ShowMessage(text);
        station.UiPort.SetBusy(true);
      });
  station.UiPort.SetBusy(false);
  if (!result.Ok()) {
    if (result.End != GuidingCheckEnd::Interrupted) station.UiPort.ShowMessage(GuidingCheckMessage(result.End));
    return;
  }
  station.UiPort.ShowMessage(MovementCheckText(result.Moved));
}

void CenterbuttonClick(Station& station) {
  const StarOffset offset = station.StarOffsetArcsec;
  if (offset.X == 0 && offset.Y == 0) return;
  OperationContext op = station.BeginOperation();
  station.Centring.MoveBy(op, offset);
  if (op.MayContinue()) ExposeButtonClick(station);
}

void InstallGuidingWindows(Station& station) {
  Controls& form = station.Form(kGuidingTestForm);
  if (!form.Has("startbutton")) DeclareGuidingTestFormControls(form);
  station.SetHandler(kGuidingTestForm, "FormShow", GuidingtestFormShow);
  station.SetHandler(kGuidingTestForm, "startbutton", GuidingtestStartButtonClick);
  station.SetHandler(kGuidingTestForm, "Cancelbutton", [&station] { station.UiPort.HideForm(kGuidingTestForm); });
  station.SetHandler(kMain, "GuidingtestButton", [&station] {
    station.UiPort.ShowForm(kGuidingTestForm, false);
    station.Activate(kGuidingTestForm, "FormShow");
  });
  station.SetHandler(kSetup, "guidetestBtn", GuidetestBtnClick);
  station.SetHandler(kMain, "Centerbutton", CenterbuttonClick);

  Station* st = &station;
  station.Guiding.OnMarker = [st](const GuideMarker& marker) { ShowMarker(*st, marker); };
  station.Centring.Hooks.Show = [st](Timgbuffer& image) { ShowInPreview(*st, image); };
}

}  // namespace noctarbel
