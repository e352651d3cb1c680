#pragma once
// The device chooser: a list of the drivers known for one device type. The operator may also
// type an identifier that is not listed (a network device, for example).

#include <QDialog>
#include <string>
#include <vector>

#include "operations/station_core.h"

class QLineEdit;
class QListWidget;

namespace noctarbel::gui {

// The identifiers the station's registry offers for a device type ("Telescope", "Camera",
// "Focuser", "Filterwheel"): the built-in simulators and whatever network backends offer.
std::vector<std::string> ChooserIdentifiers(StationCore& station, const std::string& deviceType);

class DeviceChooserDialog : public QDialog {
  Q_OBJECT

 public:
  DeviceChooserDialog(const std::string& deviceType, const std::string& preselected,
                      const std::vector<std::string>& identifiers, QWidget* parent = nullptr);
  // The identifier in the edit, trimmed; empty when none.
  std::string Chosen() const;

 private:
  QListWidget* list_;
  QLineEdit* edit_;
};

}  // namespace noctarbel::gui
