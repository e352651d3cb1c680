#include "app/station.h"

#include "app/main_window_controls.h"
#include "app/setup_form.h"

namespace noctarbel {

Station::Station(Runtime& clock, Ui& ui, StationPaths paths)
    : Clock(clock),
      UiPort(ui),
      Paths(std::move(paths)),
      Timer1(clock, 1000),
      StatusTimer(clock, 3000),
      CameraTimer1(clock, 2000),
      ExposeTimer(clock, 200),
      FocusTimer(clock, 1000),
      WaitTimer(clock, 1000) {
  DeclareMainWindowControls(Main);
  DeclareSetupFormControls(Setup);
  InstallSetupFormHandlers(*this);
}

Controls& Station::Form(const std::string& name) {
  auto& slot = forms_[name];
  if (!slot) slot = std::make_unique<Controls>(name);
  return *slot;
}

void Station::SetHandler(const std::string& form, const std::string& control, std::function<void()> handler) {
  handlers_[form + "/" + control] = std::move(handler);
}

void Station::SetHandler(const std::string& form, const std::string& control, void (*handler)(Station&)) {
  SetHandler(form, control, [this, handler] { handler(*this); });
}

bool Station::HasHandler(const std::string& form, const std::string& control) const {
  auto it = handlers_.find(form + "/" + control);
  return it != handlers_.end() && it->second;
}

bool Station::Activate(const std::string& form, const std::string& control) {
  auto it = handlers_.find(form + "/" + control);
  if (it == handlers_.end() || !it->second) return false;
  auto handler = it->second;  // a handler may replace itself while it runs
  handler();
  return true;
}

void Station::LogTimed(const std::string& message) {
  DateTime stamp = Run.TestMode ? Run.TestClock : Clock.LocalNow();
  Log.AppendTimed(stamp, message);
}

void Station::LogUntimed(const std::string& line) { Log.Append(line); }

void Station::SetStatus(const std::string& text) { Main.SetText("StatusBar1", text); }

std::string Station::Status() const { return Main.Text("StatusBar1"); }

std::filesystem::path Station::SettingsFilePath() const { return Paths.Home / kSettingsFileName; }

std::filesystem::path Station::ResolveFile(const std::string& name) const {
  std::filesystem::path p(name);
  if (p.is_absolute()) return p;
  return Paths.Home / p;
}

bool SaveLogFile(Station& station) {
  std::string imagePath = station.Main.Text("ImgPathEdit");
  // A relative image path is meant from the station folder, like every other file setting.
  std::filesystem::path folder = imagePath.empty() ? station.Paths.Home : station.ResolveFile(imagePath);
  return station.Log.SaveTo(folder);
}

}  // namespace noctarbel
