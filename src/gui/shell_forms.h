#pragma once
// The secondary windows. Each shows the controls its subsystem declared in the window's store
// (station.Form(name)), laid out one per line, and routes the operator's clicks, edits and the
// space bar to the handlers the subsystem registered. A window whose subsystem has declared
// nothing yet shows only its caption.

#include <QDialog>
#include <QWidget>

namespace noctarbel {
class Station;
}

namespace noctarbel::gui {

class ControlBinder;

// Builds the window's content from its store; shared by plain windows and dialogs.
void BuildFormFromStore(QWidget* window, Station& station, const std::string& formName);
// The space bar goes to the window's "FormKeyDown" handler, when the subsystem registered one.
bool RouteSpaceKey(Station& station, const std::string& formName);

// A plain window.
class ShellForm : public QWidget {
  Q_OBJECT

 public:
  ShellForm(Station& station, const QString& name, const QString& caption, QWidget* parent);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  Station& station_;
};

// The test-run start dialog.
class TTestForm1 : public QDialog {
  Q_OBJECT

 public:
  TTestForm1(Station& station, QWidget* parent);
};

// The caption of a secondary window by its name; empty when unknown.
QString ShellCaption(const std::string& formName);

}  // namespace noctarbel::gui
