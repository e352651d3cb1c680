#pragma once
// Secondary windows whose content comes with their own subsystems: for now a window with its
// caption, created hidden at start-up like the rest.

#include <QDialog>
#include <QWidget>

namespace noctarbel::gui {

// A plain window: name and caption.
class ShellForm : public QWidget {
  Q_OBJECT

 public:
  ShellForm(const QString& name, const QString& caption, QWidget* parent);
};

// The test-run start dialog.
class TTestForm1 : public QDialog {
  Q_OBJECT

 public:
  explicit TTestForm1(QWidget* parent);
};

// The caption of a secondary window by its name; empty when unknown.
QString ShellCaption(const std::string& formName);

}  // namespace noctarbel::gui
