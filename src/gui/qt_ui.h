#pragma once
// The Ui port as the operator sees it: message boxes, file and folder dialogs, the device
// chooser, the clipboard and the wait cursor.

#include <QPointer>
#include <QString>
#include <QWidget>

#include "operations/station_core.h"
#include "windows/ui.h"

namespace noctarbel::gui {

// "desc|*.a|desc|*.b;*.c" -> "desc (*.a);;desc (*.b *.c)".
QString QtFileFilter(const std::string& filter);
// "*.csv" or ".csv" -> "csv".
QString DefaultSuffix(const std::string& defaultExtension);
// The extension a name filter gives a name typed without one: "JPEG (*.jpg)" -> "jpg"; empty
// for a filter of any name ("*", "*.*").
QString FilterSuffix(const QString& nameFilter);

class QtUi : public Ui {
 public:
  // Dialogs are centred on this window (the main window once it exists).
  void SetParentWidget(QWidget* parent) { parent_ = parent; }
  // Where the device chooser finds the drivers it offers (the station's registry).
  void SetDeviceSource(StationCore* station) { station_ = station; }

  void ShowMessage(const std::string& text) override;
  bool Ask(const std::string& question) override;
  std::optional<std::string> ChooseFileToOpen(const FileDialogRequest& request) override;
  std::optional<std::string> ChooseFileToSave(const FileDialogRequest& request) override;
  std::optional<std::string> ChooseFolder(const std::string& startFolder) override;
  std::string ChooseDevice(const std::string& deviceType, const std::string& preselected) override;
  std::string ClipboardText() override;
  void SetBusy(bool busy) override;
  void ShowForm(const std::string& form, bool modal) override;
  void HideForm(const std::string& form) override;

 private:
  std::optional<std::string> RunFileDialog(const FileDialogRequest& request, bool save);

  QPointer<QWidget> parent_;
  StationCore* station_ = nullptr;
  int busyDepth_ = 0;
};

}  // namespace noctarbel::gui
