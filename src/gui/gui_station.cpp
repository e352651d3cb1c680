#include "gui/gui_station.h"

#include "windows/calibrate_window.h"
#include "windows/main_window.h"
#include "windows/install_windows.h"
#include "windows/viewer_window.h"
#include "gui/calibrate_dialog.h"
#include "gui/pilot_form.h"
#include "gui/setup_dialog.h"
#include "gui/shell_forms.h"
#include "gui/timeline_window.h"
#include "gui/viewer_form.h"

namespace noctarbel::gui {

GuiStation::GuiStation(Runtime& runtime, Ui& ui, StationPaths paths)
    : station_(std::make_unique<Station>(runtime, ui, std::move(paths))) {
  InstallHandlers(*station_);
  CreateForms(*station_);
  for (const auto& name : FormCreationOrder()) {
    if (name == "PilotForm1") {
      main_ = std::make_unique<TPilotForm1>(*station_);
      windows_.push_back(main_.get());
      continue;
    }
    QWidget* window = nullptr;
    if (name == "SetupForm1") {
      auto setup = std::make_unique<TSetupForm1>(*station_, main_.get());
      setup_ = setup.get();
      main_->SetSetupForm(setup_);
      window = setup.release();  // a child of the main window, which deletes it
    } else if (name == "TestForm1") {
      window = new TTestForm1(*station_, main_.get());
    } else if (name == kCalibrateForm) {
      window = new TCalibrateForm1(*station_, main_.get());
    } else if (name == kViewerForm) {
      auto viewer = std::make_unique<TImgShowform>(*station_, nullptr);
      window = viewer.get();
      secondary_.push_back(std::move(viewer));
    } else {
      auto shell = std::make_unique<ShellForm>(*station_, QString::fromStdString(name), ShellCaption(name), nullptr);
      window = shell.get();
      secondary_.push_back(std::move(shell));
    }
    window->hide();
    windows_.push_back(window);
  }
  // The night's time line has no controls of its own: it is a picture of the run-state.
  auto timeline = std::make_unique<TNightTimeline>(*station_);
  timeline->hide();
  windows_.push_back(timeline.get());
  secondary_.push_back(std::move(timeline));
}

GuiStation::~GuiStation() {
  // Windows go before the station whose stores and grids they mirror.
  secondary_.clear();
  main_.reset();
}

QWidget* GuiStation::Window(const std::string& name) const {
  for (QWidget* window : windows_) {
    if (window->objectName().toStdString() == name) return window;
  }
  return nullptr;
}

void GuiStation::Show() {
  main_->show();
  PilotFormShow(*station_);
}

}  // namespace noctarbel::gui
