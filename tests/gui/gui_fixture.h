#pragma once
// A station with its windows on a temporary station folder, a virtual clock and scripted
// answers, so no modal box blocks and no test waits in real time.

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "common/event_runtime.h"
#include "station/paths.h"
#include "windows/ui.h"
#include "common/datetime.h"
#include "gui/gui_station.h"
#include "gui/pilot_form.h"
#include "gui/qt_ui.h"
#include "gui/setup_dialog.h"

namespace noctarbel::gui::testing {

// Scripted answers, but the windows shown and hidden as on the desktop (a modal window runs
// its own event loop until it is hidden).
class WindowUi : public ScriptedUi {
 public:
  void ShowForm(const std::string& form, bool modal) override {
    shownForms.push_back(form);
    windows.ShowForm(form, modal);
  }
  void HideForm(const std::string& form) override {
    hiddenForms.push_back(form);
    windows.HideForm(form);
  }
  QtUi windows;
};

template <typename TestUi>
struct BasicGuiFixture {
  QTemporaryDir home;
  std::unique_ptr<EventRuntime> runtime = EventRuntime::WithVirtualClock(EncodeDateTime(2024, 3, 1, 20, 0, 0));
  TestUi ui;
  std::unique_ptr<GuiStation> gui;

  std::filesystem::path Home() const { return std::filesystem::path(home.path().toStdString()); }

  // Builds the station and its windows and shows the main window, as the program starts.
  void Start() {
    gui = std::make_unique<GuiStation>(*runtime, ui, StationPaths{Home(), FindDataFolder()});
    gui->Show();
  }

  Station& Core() { return gui->Core(); }
  TPilotForm1& Main() { return gui->MainWindow(); }
  TSetupForm1& Setup() { return gui->SetupWindow(); }

  void WriteHomeFile(const std::string& name, const std::string& content) const {
    std::ofstream out(Home() / name, std::ios::binary);
    out << content;
  }
  std::string ReadHomeFile(const std::string& name) const {
    std::ifstream in(Home() / name, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
};

using GuiFixture = BasicGuiFixture<ScriptedUi>;
// The station's windows appear and modal ones block as they do for the operator.
using WindowFixture = BasicGuiFixture<WindowUi>;

template <typename T>
T* Find(QObject* window, const char* name) {
  return window->findChild<T*>(QString::fromLatin1(name));
}

inline void Click(QObject* window, const char* name) {
  auto* button = Find<QAbstractButton>(window, name);
  QVERIFY2(button, name);
  QVERIFY2(button->isEnabled(), name);
  QTest::mouseClick(button, Qt::LeftButton);
}

// Replaces an edit's text by typing, as the operator would.
inline void Type(QObject* window, const char* name, const QString& text) {
  auto* edit = Find<QLineEdit>(window, name);
  QVERIFY2(edit, name);
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Delete);
  QTest::keyClicks(edit, text);
}

// Types into a grid cell (row counted from 1 below the titles) with the grid's own editor and
// confirms with Enter.
inline void TypeIntoCell(QAbstractItemView* view, int row, int col, const QString& text) {
  QModelIndex cell = view->model()->index(row - 1, col);
  view->setCurrentIndex(cell);
  view->edit(cell);
  QLineEdit* editor = nullptr;
  for (auto* candidate : view->viewport()->findChildren<QLineEdit*>()) {
    if (!candidate->isHidden()) editor = candidate;  // closed editors linger, hidden, until deleted
  }
  QVERIFY(editor);
  editor->selectAll();
  QTest::keyClicks(editor, text);
  QTest::keyClick(editor, Qt::Key_Return);
  QCoreApplication::processEvents();  // the grid takes the text over in a queued call
}

}  // namespace noctarbel::gui::testing
