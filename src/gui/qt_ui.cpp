#include "gui/qt_ui.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

#include "gui/device_chooser.h"

namespace noctarbel::gui {

namespace {

const QString kBoxTitle = QStringLiteral("Noctarbel");

QString ToQt(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

QString QtFileFilter(const std::string& filter) {
  const QStringList parts = ToQt(filter).split(QLatin1Char('|'));
  QStringList entries;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    entries << QStringLiteral("%1 (%2)").arg(parts[i], patterns.simplified());
  }
  // A lone description without a pattern is taken as a pattern list.
  if (parts.size() % 2 == 1 && !parts.last().isEmpty() && entries.isEmpty()) entries << parts.last();
  return entries.join(QStringLiteral(";;"));
}

QString DefaultSuffix(const std::string& defaultExtension) {
  QString suffix = ToQt(defaultExtension);
  while (suffix.startsWith(QLatin1Char('*')) || suffix.startsWith(QLatin1Char('.'))) suffix.remove(0, 1);
  return suffix;
}

QString FilterSuffix(const QString& nameFilter) {
  const qsizetype open = nameFilter.indexOf(QLatin1Char('('));
  const qsizetype close = nameFilter.lastIndexOf(QLatin1Char(')'));
  const QString patterns = open >= 0 && close > open ? nameFilter.mid(open + 1, close - open - 1) : nameFilter;
  const QString first = patterns.simplified().section(QLatin1Char(' '), 0, 0);
  if (!first.startsWith(QStringLiteral("*."))) return {};
  const QString suffix = first.mid(2);
  if (suffix.contains(QLatin1Char('*')) || suffix.contains(QLatin1Char('?'))) return {};
  return suffix;
}

void QtUi::ShowMessage(const std::string& text) { QMessageBox::information(parent_, kBoxTitle, ToQt(text)); }

bool QtUi::Ask(const std::string& question) {
  return QMessageBox::question(parent_, kBoxTitle, ToQt(question), QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

std::optional<std::string> QtUi::RunFileDialog(const FileDialogRequest& request, bool save) {
  QFileDialog dialog(parent_, ToQt(request.title));
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  if (!request.filter.empty()) dialog.setNameFilter(QtFileFilter(request.filter));
  if (!request.initialFolder.empty()) dialog.setDirectory(ToQt(request.initialFolder));
  if (!request.initialName.empty()) dialog.selectFile(ToQt(request.initialName));
  if (!request.defaultExtension.empty()) dialog.setDefaultSuffix(DefaultSuffix(request.defaultExtension));
  // A name typed without an extension takes the one of the file type chosen.
  if (save && !request.filter.empty()) {
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& nameFilter) {
      const QString suffix = FilterSuffix(nameFilter);
      if (!suffix.isEmpty()) dialog.setDefaultSuffix(suffix);
    });
  }
  if (!request.confirmOverwrite) dialog.setOption(QFileDialog::DontConfirmOverwrite);
  if (!save && request.initialName == "select path") {
    // Choosing a folder by picking any file in it: the file need not exist.
    dialog.setFileMode(QFileDialog::AnyFile);
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().first().toStdString();
}

std::optional<std::string> QtUi::ChooseFileToOpen(const FileDialogRequest& request) {
  return RunFileDialog(request, false);
}

std::optional<std::string> QtUi::ChooseFileToSave(const FileDialogRequest& request) {
  return RunFileDialog(request, true);
}

std::optional<std::string> QtUi::ChooseFolder(const std::string& startFolder) {
  QString folder = QFileDialog::getExistingDirectory(parent_, QStringLiteral("Select folder"), ToQt(startFolder));
  if (folder.isEmpty()) return std::nullopt;
  return folder.toStdString();
}

std::string QtUi::ChooseDevice(const std::string& deviceType, const std::string& preselected) {
  std::vector<std::string> identifiers;
  if (station_) identifiers = ChooserIdentifiers(*station_, deviceType);
  DeviceChooserDialog dialog(deviceType, preselected, identifiers, parent_);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.Chosen();
}

std::string QtUi::ClipboardText() { return QGuiApplication::clipboard()->text().toStdString(); }

void QtUi::SetBusy(bool busy) {
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ++busyDepth_;
  } else if (busyDepth_ > 0) {
    QApplication::restoreOverrideCursor();
    --busyDepth_;
  }
}

}  // namespace noctarbel::gui

namespace noctarbel::gui {

namespace {
QWidget* FindWindow(const std::string& form) {
  const QString name = QString::fromStdString(form);
  for (QWidget* widget : QApplication::allWidgets()) {
    if (widget->isWindow() && widget->objectName() == name) return widget;
  }
  return nullptr;
}
}  // namespace

void QtUi::ShowForm(const std::string& form, bool modal) {
  QWidget* window = FindWindow(form);
  if (!window) return;
  if (auto* dialog = qobject_cast<QDialog*>(window); dialog && modal) {
    dialog->exec();
    return;
  }
  // Over a dialog that runs modally (the settings dialog opens the autofocus window) a window
  // takes input only when it is modal itself; the modality changes only while it is hidden.
  const Qt::WindowModality modality = modal ? Qt::ApplicationModal : Qt::NonModal;
  if (window->windowModality() != modality) {
    window->hide();
    window->setWindowModality(modality);
  }
  window->show();
  window->raise();
  window->activateWindow();
}

void QtUi::HideForm(const std::string& form) {
  if (QWidget* window = FindWindow(form)) window->hide();
}

}  // namespace noctarbel::gui
