#include "windows/station.h"

#include "windows/main_window_controls.h"
#include "windows/setup_window.h"

namespace noctarbel {

Station::Station(Runtime& clock, Ui& ui, StationPaths paths)
    : StationCore(clock, std::move(paths)),
      UiPort(ui),
      ExposeTimer(clock, 200),
      FocusTimer(clock, 1000) {
  DeclareMainWindowControls(Main);
  DeclareSetupFormControls(Setup);
  InstallSetupFormHandlers(*this);
  OnStatus = [this](const std::string& text) { Main.SetText("StatusBar1", text); };
  // The core writes the log into the folder the image path names.
  mainListener_ = Main.Subscribe([this](const std::string& name, ControlProperty what) {
    if (name == "ImgPathEdit" && what == ControlProperty::Text) ImagePath = Main.Text("ImgPathEdit");
  });
}

Station::~Station() {
  Main.Unsubscribe(mainListener_);
  OnStatus = nullptr;
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

}  // namespace noctarbel
