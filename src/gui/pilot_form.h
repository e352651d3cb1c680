#pragma once
// Layer gui: the Qt widgets that render the windows' controls and route their events.
//
// The main window PilotForm1: header, device groups, the autopilot with its plan table, the
// log and help memos, the exit button and the status bar. Layout and routing only: every
// handler is the core's.

#include <QMainWindow>

class QMenu;

namespace noctarbel {
class Station;
}

namespace noctarbel::gui {

class ControlBinder;
class FormBuilder;
class LogMemoView;
class PreviewBox;
class StringGridView;
class TSetupForm1;

class TPilotForm1 : public QMainWindow {
  Q_OBJECT

 public:
  TPilotForm1(Station& station, QWidget* parent = nullptr);
  ~TPilotForm1() override;

  ControlBinder& Binder() { return *binder_; }
  StringGridView* PlanGrid() const { return planGrid_; }
  LogMemoView* LogMemo() const { return logMemo_; }
  // The window's size at its first start on a screen whose usable area is `available`: as
  // large as the layout wants, never beyond the screen.
  static QSize FirstSize(QSize available);
  // The size it starts with: the one the operator left it at (window.ini in the station folder),
  // bounded by the screen, else the first size.
  static QSize StartSize(QSize available, QSize remembered);
  // The settings dialog the Setup button shows.
  void SetSetupForm(TSetupForm1* setup) { setupForm_ = setup; }

 signals:
  // The window closed for good: Exit or the close query went through.
  void Closed();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QWidget* MakeHeader(QWidget* parent);
  QWidget* MakeDeviceGroups(QWidget* parent);
  QWidget* MakeAutopilot(QWidget* parent);
  QWidget* MakeMemos(QWidget* parent);
  void ConnectHandlers();
  void ShowPlanMenu(const QPoint& position);
  void SetupButtonClick();
  void ExitButtonClicked();
  QString WindowSettingsFile() const;
  QSize RememberedSize() const;
  void RememberSize();

  Station& station_;
  ControlBinder* binder_;
  FormBuilder* builder_ = nullptr;
  StringGridView* planGrid_ = nullptr;
  LogMemoView* logMemo_ = nullptr;
  PreviewBox* previewBox_ = nullptr;
  QMenu* planMenu_ = nullptr;
  TSetupForm1* setupForm_ = nullptr;
  int markListener_ = 0;
  bool exitDone_ = false;  // Exit went through: closing needs no further question
};

}  // namespace noctarbel::gui
