// The main window: start-up, defaults, run controls, exit, the plan grid and the log memo,
// each driven through its widgets.

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QTextBlock>
#include <QTimer>
#include <optional>

#include "automation/plan_file.h"
#include "gui/control_binding.h"
#include "gui/lamp_widget.h"
#include "gui/log_memo.h"
#include "gui/string_grid_view.h"
#include "gui/window_export.h"
#include "gui_fixture.h"
#include "station/plan_columns.h"
#include "windows/main_window.h"

namespace noctarbel::gui {

using testing::Click;
using testing::Find;
using testing::GuiFixture;
using testing::Type;
using testing::TypeIntoCell;

namespace {

QString Colour(QObject* window, const char* lamp) { return Find<LampWidget>(window, lamp)->Colour(); }

QString Shown(StringGridView* view, int row, int col) {
  return view->model()->data(view->model()->index(row - 1, col)).toString();
}

QAction* MenuAction(QObject* window, const char* name) { return Find<QAction>(window, name); }

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

  std::optional<GuiFixture> f;

 private slots:
  // Each test starts the program afresh on a station folder of its own.
  void init() { f.emplace().Start(); }
  void cleanup() { f.reset(); }

  void StartsTheNineWindowsInOrderAndTheTimeLineWithOnlyTheMainWindowShown() {
    QCOMPARE(f->Core().CreatedForms, FormCreationOrder());
    QStringList names;
    for (QWidget* window : f->gui->Windows()) names << window->objectName();
    QCOMPARE(names, QStringList({"PilotForm1", "SetupForm1", "TestForm1", "ImgShowform", "CalibrateForm1",
                                 "AutofocusForm", "HorizonForm", "GuidingtestForm", "CameraInfo", "NightTimeline"}));
    QVERIFY(f->Main().isVisible());
    for (QWidget* window : f->gui->Windows()) {
      if (window != &f->Main()) QVERIFY2(!window->isVisible(), qPrintable(window->objectName()));
    }
    QCOMPARE(f->gui->Window("SetupForm1")->windowTitle(), QStringLiteral("Noctarbel Setup"));
    QCOMPARE(f->gui->Window("TestForm1")->windowTitle(), QStringLiteral("Testablauf"));
    QCOMPARE(f->gui->Window("ImgShowform")->windowTitle(), QStringLiteral("Image viewer"));
    QCOMPARE(f->gui->Window("CameraInfo")->windowTitle(), QStringLiteral("Camera Info"));
    // FormShow ran: the observatory status timer is on.
    QVERIFY(f->Core().StatusTimer.Enabled());
  }

  // The first size fits the usable area of any screen from 1280 x 720 up; a size the operator
  // left the window at comes back, bounded by the screen.
  void TheWindowSizeFitsTheScreenAndIsRemembered() {
    for (const QSize available : {QSize(1280, 720), QSize(1366, 768), QSize(1920, 1080)}) {
      const QSize first = TPilotForm1::FirstSize(available);
      QVERIFY2(first.width() <= available.width() && first.height() <= available.height(),
               qPrintable(QStringLiteral("%1x%2").arg(available.width()).arg(available.height())));
      QVERIFY(first.width() >= available.width() - 100 || first.width() == 1600);
    }
    QCOMPARE(TPilotForm1::StartSize(QSize(1366, 768), QSize(1800, 700)), QSize(1366, 700));
    f->Main().resize(700, 500);
    QVERIFY(f->Main().close());
    f->gui.reset();
    f->Start();
    QCOMPARE(f->Main().size(), QSize(700, 500));
  }

  // Rehearse, clicked: the example night on the simulators, shown in the window's own widgets;
  // the running row is marked while it runs and no longer afterwards.
  void RehearseRunsThePlanTableInTheWindow() {
    ReplacePlanRows(f->Core().Planer1, ReadPlanFile(FindDataFolder() / "examples" / "demo-night.csv").rows);
    Find<QComboBox>(&f->Main(), "RehearseSpeedBox")->setCurrentIndex(2);  // as fast as possible
    int markedRow = 0;
    auto* model = f->Main().PlanGrid()->GridModel();
    connect(model, &QAbstractItemModel::dataChanged, this,
            [&] { markedRow = std::max(markedRow, model->MarkedRow()); });
    Click(&f->Main(), "RehearseButton");
    QCOMPARE(markedRow, 11);
    QCOMPARE(model->MarkedRow(), 0);
    QVERIFY(Find<QLabel>(&f->Main(), "RunProgress")->text().startsWith(QStringLiteral("The rehearsal has ended")));
    QCOMPARE(Find<QLineEdit>(&f->Main(), "ImageInfoEdit")->text(), QStringLiteral("M 1 (rehearsal)"));
    QVERIFY(std::filesystem::exists(f->Home() / "rehearsal" / "logfile.txt"));
    QVERIFY(Find<QPushButton>(&f->Main(), "RehearseButton")->isEnabled());
  }

  // In every window, each control its window logic declares has its widget.
  void EveryDeclaredControlHasItsWidget() {
    for (QWidget* window : f->gui->Windows()) {
      const std::string form = window->objectName().toStdString();
      const Controls& declared = form == "PilotForm1"   ? f->Core().Main
                                 : form == "SetupForm1" ? f->Core().Setup
                                                        : f->Core().Form(form);
      for (const auto& name : declared.Names()) {
        QVERIFY2(window->findChild<QObject*>(QString::fromStdString(name)), (form + "/" + name).c_str());
      }
    }
  }

  // The window's close goes through the close query: with a device it asks and stays open on
  // "No"; without one Exit closes it without a question. (The rules are the core's tests.)
  void ExitAndCloseGoThroughTheCloseQuery() {
    QSignalSpy closed(&f->Main(), &TPilotForm1::Closed);
    bool connected = true;
    f->Core().Hooks.AnyDeviceConnected = [&] { return connected; };
    f->ui.answers = {false};
    QVERIFY(!f->Main().close());
    QVERIFY(f->Main().isVisible());
    QCOMPARE(f->ui.questions, std::vector<std::string>{"Disconnect all devices?"});

    connected = false;
    Click(&f->Main(), "ExitButton");
    QVERIFY(!f->Main().isVisible());
    QCOMPARE(closed.count(), 1);
    QCOMPARE(f->ui.questions.size(), size_t{1});
    QVERIFY(f->ui.messages.empty());
    QVERIFY(f->Core().Run.AbortRequested);
  }

  void ControlsMirrorTheStoreBothWays() {
    QObject* w = &f->Main();
    Controls& store = f->Core().Main;

    store.SetText("RAEdit1", "12h 30m 00s");
    QCOMPARE(Find<QLineEdit>(w, "RAEdit1")->text(), QStringLiteral("12h 30m 00s"));
    store.SetColour("led1", "lime");
    QCOMPARE(Colour(w, "led1"), QStringLiteral("lime"));
    store.SetEnabled("ExposeButton", true);
    QVERIFY(Find<QPushButton>(w, "ExposeButton")->isEnabled());
    store.SetCaption("BtnConnect", "Disconnect");
    QCOMPARE(Find<QPushButton>(w, "BtnConnect")->text(), QStringLiteral("Disconnect"));
    store.SetVisible("SimulationLabel", true);
    QVERIFY(Find<QLabel>(w, "SimulationLabel")->isVisible());
    store.SetValue("ZoomEdit1", 9);  // kept in range, as the widget does
    QCOMPARE(Find<QSpinBox>(w, "ZoomEdit1")->value(), 5);
    store.SetItems("FocusComboBox", {"park", "M42 focus"});
    auto* focusList = Find<QComboBox>(w, "FocusComboBox");
    QCOMPARE(focusList->count(), 2);
    store.SetHint("CCDConnectBtn", "connect the camera");
    QCOMPARE(Find<QPushButton>(w, "CCDConnectBtn")->toolTip(), QStringLiteral("connect the camera"));
    f->Core().SetStatus("Slewing to M 51");
    QCOMPARE(Find<QStatusBar>(w, "StatusBar1")->findChild<QLabel*>()->text(), QStringLiteral("Slewing to M 51"));

    Type(w, "ExposeSecEdit", "2.5");
    QCOMPARE(store.Text("ExposeSecEdit"), std::string("2.5"));
    Find<QSpinBox>(w, "ZoomEdit1")->stepDown();
    QCOMPARE(store.IntValue("ZoomEdit1"), 4);
    focusList->setCurrentIndex(1);
    QCOMPARE(store.SelectedItem("FocusComboBox"), std::string("M42 focus"));
    Click(w, "Markercheckbox");
    QVERIFY(store.Checked("Markercheckbox"));
    // Clicking a control whose work comes later does nothing.
    Click(w, "BtnConnect");
  }

  void PlanGridInsertAndDeleteRenumberTheRows() {
    QObject* w = &f->Main();
    StringGridView* plan = f->Main().PlanGrid();
    Click(w, "AddRowBtn");
    Click(w, "AddRowBtn");
    QCOMPARE(plan->model()->rowCount(), 3);
    TypeIntoCell(plan, 1, kColObject, "M 51");
    TypeIntoCell(plan, 2, kColObject, "M 42");
    TypeIntoCell(plan, 3, kColObject, "M 31");
    QCOMPARE(f->Core().Planer1.Cell(kColObject, 2), std::string("M 42"));

    // The pop-up menu acts on the row it was opened on.
    QRect first = plan->visualRect(plan->model()->index(0, kColObject));
    emit plan->customContextMenuRequested(first.center());
    QCOMPARE(f->Core().Planer1.CurrentRow(), 1);
    MenuAction(w, "Zeileeinfuegen1")->trigger();
    QCOMPARE(plan->model()->rowCount(), 4);
    QCOMPARE(Shown(plan, 1, kColObject), QString());
    QCOMPARE(Shown(plan, 2, kColObject), QStringLiteral("M 51"));
    QCOMPARE(Shown(plan, 4, kColObject), QStringLiteral("M 31"));
    for (int row = 1; row <= 4; ++row) QCOMPARE(Shown(plan, row, kColIndex), QString::number(row));

    plan->setCurrentIndex(plan->model()->index(2, kColObject));  // "M 42" in row 3
    MenuAction(w, "Zeileloeschen1")->trigger();
    QCOMPARE(plan->model()->rowCount(), 3);
    QCOMPARE(Shown(plan, 3, kColObject), QStringLiteral("M 31"));
    for (int row = 1; row <= 3; ++row) QCOMPARE(Shown(plan, row, kColIndex), QString::number(row));

    Click(w, "ClearBtn");
    QCOMPARE(plan->model()->rowCount(), 1);
    QCOMPARE(Shown(plan, 1, kColObject), QString());
    QCOMPARE(plan->model()->headerData(kColObject, Qt::Horizontal).toString(), QStringLiteral("Object name"));
    MenuAction(w, "Zeileloeschen1")->trigger();  // the only row is only cleared
    QCOMPARE(plan->model()->rowCount(), 1);
  }

  void PlanFilesLoadAndSaveThroughTheButtons() {
    QObject* w = &f->Main();
    const auto plan = f->Home() / "night.csv";
    f->WriteHomeFile("night.csv",
                     std::string(";;;;;;;;;;;;;;;;\r\n") + "22;0;0;M 51;13;29;52.7;47;11;43;300;2;123;3;;60;\r\n");
    f->ui.files = {plan.string()};
    Click(w, "LoadButton");
    QCOMPARE(f->ui.fileRequests.back().filter, std::string("autopilot table|*.csv|text file|*.txt"));
    QVERIFY2(f->ui.questions.empty(), "an empty table has nothing to overwrite or append to");
    StringGridView* view = f->Main().PlanGrid();
    QCOMPARE(view->model()->rowCount(), 1);
    QCOMPARE(Shown(view, 1, kColObject), QStringLiteral("M 51"));
    QCOMPARE(Shown(view, 1, kColPause), QStringLiteral("60"));

    const auto saved = f->Home() / "saved.csv";
    f->ui.files = {saved.string()};
    Click(w, "SaveButton");
    QCOMPARE(f->ui.fileRequests.back().defaultExtension, std::string("*.csv"));
    QVERIFY(f->ui.fileRequests.back().confirmOverwrite);
    QVERIFY(f->ReadHomeFile("saved.csv").find("22;0;0;M 51;13;29;52.7;47;11;43;300;2;123;3;;60;\r\n") !=
            std::string::npos);
  }

  void LogMemoShowsTheLogAndHandsTypingBack() {
    EventLog& log = f->Core().Log;
    LogMemoView* memo = f->Main().LogMemo();
    QVERIFY(!memo->isReadOnly());
    log.Append("---------- Autopilot Start ----------------");
    f->Core().LogTimed(": Start sequence");
    QStringList shown = memo->toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown[0], QStringLiteral("---------- Autopilot Start ----------------"));
    QVERIFY(shown[1].endsWith(QStringLiteral(": Start sequence")));

    memo->moveCursor(QTextCursor::End);
    QTest::keyClick(memo, Qt::Key_Return);
    QTest::keyClicks(memo, "clouds at 23:10");
    log.Append(": a line from the run meanwhile");
    memo->CommitEdits();
    QCOMPARE(log.Size(), size_t{4});
    QCOMPARE(log.Lines()[2], std::string("clouds at 23:10"));
    QCOMPARE(log.Lines()[3], std::string(": a line from the run meanwhile"));

    log.ReplaceAll({"only line"});
    QCOMPARE(memo->toPlainText(), QStringLiteral("only line"));
  }

  void LogMemoKeepsUpWithALongNight() {
    EventLog& log = f->Core().Log;
    for (int i = 0; i < 100000; ++i) log.Append(": step " + std::to_string(i));
    QCOMPARE(f->Main().LogMemo()->blockCount(), 100000);
    QCOMPARE(f->Main().LogMemo()->document()->lastBlock().text(), QStringLiteral(": step 99999"));
  }

  void SetupButtonShowsTheDialogAndMirrorsItsSettings() {
    QTimer::singleShot(0, [&] {
      QVERIFY(f->Setup().isVisible());
      QVERIFY(f->Setup().isModal());
      Find<QSpinBox>(&f->Setup(), "CoolerTempEdit")->setValue(-12);  // taken over at once
      Find<QSpinBox>(&f->Setup(), "SYrangeEdit0")->setValue(9);      // only with OK
      Click(&f->Setup(), "CancelButton");
    });
    Click(&f->Main(), "SetupButton");
    QVERIFY(!f->Setup().isVisible());
    QCOMPARE(Find<QSpinBox>(&f->Main(), "CoolerTempEdit")->value(), -12);
    QCOMPARE(Find<QSpinBox>(&f->Main(), "SYrangeEdit")->value(), 5);
  }

  void ListsAndRendersEveryWindow() {
    const QStringList main = ListControls(&f->Main());
    QCOMPARE(main.first(), QStringLiteral("PilotForm1/PilotForm1 TPilotForm1"));
    QVERIFY(main.contains(QStringLiteral("PilotForm1/Planer1 StringGridView")));
    QVERIFY(main.contains(QStringLiteral("PilotForm1/Zeileeinfuegen1 QAction")));
    QVERIFY(main.contains(QStringLiteral("PilotForm1/ExecLight LampWidget")));
    QVERIFY(!main.contains(QStringLiteral("PilotForm1/OKButton QPushButton")));  // the dialog's own
    const QStringList setup = ListControls(&f->Setup());
    QVERIFY(setup.contains(QStringLiteral("SetupForm1/Filtertable StringGridView")));
    QVERIFY(setup.contains(QStringLiteral("SetupForm1/OKButton QPushButton")));
    QCOMPARE(main.size() - 1, static_cast<qsizetype>(f->Core().Main.Names().size()));

    QTemporaryDir shots;
    QString error;
    QVERIFY(RenderWindow(f->gui->Window("SetupForm1"), shots.path(), {}, &error));
    QVERIFY(RenderWindow(&f->Main(), shots.path(), QSize(1366, 700), &error));
    QVERIFY(!f->Setup().isVisible());  // rendered, not shown
    QImage picture(shots.filePath(QStringLiteral("PilotForm1.png")));
    QCOMPARE(picture.size(), QSize(1366, 700));
    QVERIFY(!QImage(shots.filePath(QStringLiteral("SetupForm1.png"))).isNull());
    QVERIFY(!RenderWindow(&f->Main(), shots.filePath(QStringLiteral("missing/folder")), {}, &error));
    QVERIFY(error.contains(QStringLiteral("PilotForm1.png")));
  }

  void ControlsWithoutAWindowHandlerReachTheCoresHandler() {
    int clicks = 0;
    int edits = 0;
    f->Core().SetHandler("PilotForm1", "BtnGoto", [&] { ++clicks; });
    f->Core().SetHandler("PilotForm1", "CatEdit", [&] { ++edits; });
    Click(&f->Main(), "BtnGoto");
    Type(&f->Main(), "CatEdit", "M51");
    QCOMPARE(clicks, 1);
    QVERIFY(edits >= 1);
    int before = edits;
    f->Core().Main.SetText("CatEdit", "M42");  // a change made by the program is not an operator's edit
    QCOMPARE(edits, before);
  }

  void SecondaryWindowsShowTheirStoreAndTakeTheSpaceBar() {
    int spaces = 0;
    f->Core().SetHandler("HorizonForm", "FormKeyDown", [&] { ++spaces; });
    QWidget* horizon = f->gui->Window("HorizonForm");
    QVERIFY(horizon);
    QTest::keyClick(horizon, Qt::Key_Space);
    QCOMPARE(spaces, 1);
  }

  void PlanGridFollowsTheRowTheCoreSelects() {
    f->Core().Planer1.SetRowCount(4);
    f->Core().Planer1.SetCurrent(4, 3);
    QModelIndex current = f->Main().PlanGrid()->currentIndex();
    QCOMPARE(current.row(), 2);
    QCOMPARE(current.column(), 4);
  }
};

}  // namespace noctarbel::gui

QTEST_MAIN(noctarbel::gui::MainWindowTest)
#include "main_window_test.moc"
