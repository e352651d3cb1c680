#include "windows/horizon_window.h"

#include <memory>
#include <sstream>

#include "windows/controls.h"
#include "windows/station.h"
#include "common/number_text.h"
#include "common/text_file.h"

namespace noctarbel {

namespace {

constexpr const char* kForm = "HorizonForm";

std::vector<std::string> MemoLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

void ShowTelescopePosition(Station& station) {
  Controls& form = station.Form(kForm);
  if (!station.Mount.HasDriver()) return;
  try {
    const auto [azimuth, altitude] = station.Mount.AzimuthAltitude();
    form.SetText("AZEdit", FormatFixedSignificant(azimuth, 3, 0));
    form.SetText("HeightEdit", FormatFixedSignificant(altitude, 3, 1));
  } catch (const std::exception&) {
    form.SetText("AZEdit", "");
    form.SetText("HeightEdit", "");
  }
  station.Clock.Pump();
}

}  // namespace

void DeclareHorizonFormControls(Controls& form) {
  form.Declare("HeadingLabel", ControlKind::Label).caption = "Scan local horizon";
  form.Declare("InstructionLabel1", ControlKind::Label).caption = "Move telescope to a series of horizon points, ";
  form.Declare("InstructionLabel2", ControlKind::Label).caption = "beginning at north (AZ=0)";
  form.Declare("InstructionLabel3", ControlKind::Label).caption = "and press \"add point\" to register a point";
  ControlState& az = form.Declare("AZEdit", ControlKind::Edit);
  az.caption = "Azimuth";
  az.readOnly = true;
  ControlState& alt = form.Declare("HeightEdit", ControlKind::Edit);
  alt.caption = "Altitude";
  alt.readOnly = true;
  form.Declare("Memo1", ControlKind::Memo);
  form.Declare("RegisterButton", ControlKind::Button).caption = "add point";
  form.Declare("Savebutton", ControlKind::Button).caption = "Save horizon file";
  form.Declare("Cancel", ControlKind::Button).caption = "Cancel";
  ControlState& file = form.Declare("FilenameEdit", ControlKind::Edit);
  file.caption = "File name";
  file.text = "horizon0.txt";
}

void InstallHorizonWindow(Station& station) {
  Controls& form = station.Form(kForm);
  if (!form.Has("AZEdit")) DeclareHorizonFormControls(form);
  // The window's own timer lives as long as its handlers.
  auto timer = std::make_shared<Timer>(station.Clock, kHorizonTimerMs);
  Station* st = &station;
  timer->SetHandler([st] { ShowTelescopePosition(*st); });
  station.SetHandler(kForm, "FormShow", [timer] { timer->Start(); });
  station.SetHandler(kForm, "Cancel", [st, timer] {
    timer->Stop();
    st->UiPort.HideForm(kForm);
  });
  station.SetHandler(kForm, "RegisterButton", RegisterButtonClick);
  station.SetHandler(kForm, "FormKeyDown", [st] { HorizonFormKeyDown(*st, 32); });
  station.SetHandler(kForm, "Savebutton", SavebuttonClick);
  station.SetHandler("PilotForm1", "HorizonButton", HorizonButtonClick);
}

void HorizonButtonClick(Station& station) {
  if (!station.Mount.HasDriver()) {
    station.UiPort.ShowMessage("Telescope not connected");
    return;
  }
  station.UiPort.ShowForm(kForm, false);
  station.Activate(kForm, "FormShow");
}

void HorizonFormKeyDown(Station& station, int key) {
  if (key == 32) RegisterButtonClick(station);
}

void RegisterButtonClick(Station& station) {
  Controls& form = station.Form(kForm);
  const std::string azimuth = form.Text("AZEdit");
  const std::string altitude = form.Text("HeightEdit");
  // Nothing read from the telescope yet: a point without numbers is no point.
  if (azimuth.empty() || altitude.empty()) return;
  std::string memo = form.Text("Memo1");
  if (!memo.empty() && memo.back() != '\n') memo += "\n";
  form.SetText("Memo1", memo + azimuth + " " + altitude);
}

void SavebuttonClick(Station& station) {
  Controls& form = station.Form(kForm);
  const std::filesystem::path name = std::filesystem::path(form.Text("FilenameEdit")).filename();
  if (name.empty()) {
    station.UiPort.ShowMessage("No file name");
    return;
  }
  const std::filesystem::path file = station.Paths.Home / name;
  std::error_code ec;
  if (std::filesystem::exists(file, ec) && !station.UiPort.Ask("Overwrite existing file? ")) return;
  std::string error;
  if (!WriteFileAtomically(file, JoinLinesCrLf(MemoLines(form.Text("Memo1"))), &error)) {
    station.UiPort.ShowMessage("Horizon file not saved: " + error);
  }
}

}  // namespace noctarbel
