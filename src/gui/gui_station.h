#pragma once
// The desktop program's station: the core's Station and its nine windows, created in the
// start-up order (the core's CreateForms first, so every window shows the loaded settings).

#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "windows/station.h"

namespace noctarbel::gui {

class TPilotForm1;
class TSetupForm1;

class GuiStation {
 public:
  GuiStation(Runtime& runtime, Ui& ui, StationPaths paths);
  ~GuiStation();
  GuiStation(const GuiStation&) = delete;
  GuiStation& operator=(const GuiStation&) = delete;

  Station& Core() { return *station_; }
  TPilotForm1& MainWindow() { return *main_; }
  TSetupForm1& SetupWindow() { return *setup_; }
  // The windows in the order they were created.
  const std::vector<QWidget*>& Windows() const { return windows_; }
  QWidget* Window(const std::string& name) const;

  // Shows the main window and runs its FormShow.
  void Show();

 private:
  std::unique_ptr<Station> station_;
  // The main window owns the dialogs made with it as parent; the other windows are ours.
  std::unique_ptr<TPilotForm1> main_;
  TSetupForm1* setup_ = nullptr;
  std::vector<std::unique_ptr<QWidget>> secondary_;
  std::vector<QWidget*> windows_;
};

}  // namespace noctarbel::gui
