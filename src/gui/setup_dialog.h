#pragma once
// The settings dialog SetupForm1 ("Noctarbel Setup"): the pages of settings, the filter and
// focus grids, OK/Cancel and the profiles. Layout and routing only: the core validates,
// stores and saves.

#include <QDialog>

namespace noctarbel {
class Station;
}

class QTabWidget;

namespace noctarbel::gui {

class ControlBinder;
class FormBuilder;
class StringGridView;

class TSetupForm1 : public QDialog {
  Q_OBJECT

 public:
  TSetupForm1(Station& station, QWidget* parent = nullptr);

  ControlBinder& Binder() { return *binder_; }
  StringGridView* FilterGrid() const { return filterGrid_; }
  StringGridView* FocusGrid() const { return focusGrid_; }

  // Cancel, Escape and the window's close box.
  void reject() override;

 private:
  QTabWidget* MakePages();
  QWidget* MakeButtonRow();
  void ConnectHandlers();
  void OKButtonClick();

  Station& station_;
  ControlBinder* binder_;
  FormBuilder* builder_ = nullptr;
  StringGridView* filterGrid_ = nullptr;
  StringGridView* focusGrid_ = nullptr;
};

}  // namespace noctarbel::gui
