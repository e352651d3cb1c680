#include "gui/device_chooser.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>

namespace noctarbel::gui {

std::vector<std::string> ChooserIdentifiers(StationCore& station, const std::string& deviceType) {
  std::vector<std::string> identifiers;
  if (auto type = DeviceTypeFromName(deviceType)) {
    const DeviceContext context = station.MakeDeviceContext();
    for (const auto& choice : station.Devices.Registry.Choices(*type, context)) {
      identifiers.push_back(choice.Identifier);
    }
  }
  return identifiers;
}

DeviceChooserDialog::DeviceChooserDialog(const std::string& deviceType, const std::string& preselected,
                                         const std::vector<std::string>& identifiers, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("DeviceChooser"));
  setWindowTitle(QStringLiteral("%1 chooser").arg(QString::fromStdString(deviceType)));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Select the %1 driver:").arg(QString::fromStdString(deviceType))));
  list_ = new QListWidget(this);
  list_->setObjectName(QStringLiteral("DeviceList"));
  for (const auto& id : identifiers) list_->addItem(QString::fromStdString(id));
  layout->addWidget(list_);
  edit_ = new QLineEdit(QString::fromStdString(preselected), this);
  edit_->setObjectName(QStringLiteral("DeviceIdentifierEdit"));
  edit_->setPlaceholderText(QStringLiteral("identifier, e.g. indi://host:7624/Device"));
  layout->addWidget(edit_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(buttons);

  const auto matches = list_->findItems(QString::fromStdString(preselected), Qt::MatchExactly);
  if (!matches.isEmpty()) list_->setCurrentItem(matches.first());
  connect(list_, &QListWidget::currentTextChanged, edit_, &QLineEdit::setText);
  connect(list_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  resize(360, 260);
}

std::string DeviceChooserDialog::Chosen() const { return edit_->text().trimmed().toStdString(); }

}  // namespace noctarbel::gui
