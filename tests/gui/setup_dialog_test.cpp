// The settings dialog: its pages and controls, OK with validation, Cancel and the grids,
// each driven through its widgets. Profiles and choosers go through the store as every
// control does; their rules are the core's setup form tests.

#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>

#include "gui/string_grid_view.h"
#include "gui_fixture.h"
#include "station/filter_tables.h"

namespace noctarbel::gui {

using testing::Click;
using testing::Find;
using testing::GuiFixture;
using testing::Type;
using testing::TypeIntoCell;

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

class SetupDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void HasEveryPageWithTheSpectrumPageHidden() {
    GuiFixture f;
    f.Start();
    TSetupForm1& dialog = f.Setup();
    dialog.show();
    auto* tabs = Find<QTabWidget>(&dialog, "PageControl1");
    QStringList shown;
    for (int i = 0; i < tabs->count(); ++i) {
      if (tabs->isTabVisible(i)) shown << tabs->tabText(i);
    }
    QCOMPARE(shown, QStringList({"Local coordinates/ Fits header", "Telescope control", "Camera", "Observatory",
                                 "Focus", "Filter wheel"}));
    QCOMPARE(Find<QWidget>(&dialog, "ParkGroup")->findChildren<QRadioButton*>().size(), 2);
    QCOMPARE(dialog.FilterGrid()->model()->rowCount(), kFilterGridRows);
    QCOMPARE(dialog.FocusGrid()->model()->rowCount(), kFocusGridRows);
  }

  // Typing and OK reach the validation (its rules are the window logic's tests); the radio
  // group and a spin box reach the settings at once, and Cancel closes.
  void OkValidatesWhatWasTypedAndCancelCloses() {
    GuiFixture f;
    f.Start();
    TSetupForm1& dialog = f.Setup();
    dialog.show();
    Type(&dialog, "LaengeEdit", "-11.5");
    Type(&dialog, "HistogramMaxlevelEdit", "0,95");
    Click(&dialog, "OKButton");
    QCOMPARE(f.ui.LastMessage(), std::string("Histogram max level not correct"));
    QVERIFY(dialog.isVisible());
    Type(&dialog, "HistogramMaxlevelEdit", "0.95");
    Click(&dialog, "OKButton");
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(Contains(f.ReadHomeFile("noctarbel.ini"), "Glaenge=-11.5"));

    dialog.show();
    Find<QSpinBox>(&dialog, "CamTimeoutEdit")->setValue(45);
    Find<QWidget>(&dialog, "ParkGroup")->findChildren<QRadioButton*>().at(0)->click();
    QCOMPARE(f.Core().Settings.CameraTimeout, 45);
    QCOMPARE(f.Core().Settings.ParkMethod, 0);
    Click(&dialog, "CancelButton");
    QVERIFY(!dialog.isVisible());
  }

  void FilterGridEditsReachTheFilterFile() {
    GuiFixture f;
    f.WriteHomeFile("noctarbel.ini", "[Filterwheel]\r\nFilternamesFromFile=1\r\n");
    f.Start();
    TSetupForm1& dialog = f.Setup();
    dialog.show();
    Find<QTabWidget>(&dialog, "PageControl1")->setCurrentWidget(Find<QWidget>(&dialog, "PageFilterwheel"));
    StringGridView* grid = dialog.FilterGrid();
    QCOMPARE(grid->model()->data(grid->model()->index(0, 1)).toString(), QStringLiteral("Filter 1"));
    TypeIntoCell(grid, 1, 1, "Luminance");
    TypeIntoCell(grid, 1, 2, "-35");
    Click(&dialog, "SaveFilterTableButton");
    const std::string filters = f.ReadHomeFile("filterwheel.txt");
    QVERIFY2(filters.rfind("Luminance,-35\r\nFilter 2,0\r\n", 0) == 0, filters.c_str());
    // The focus grid is saved with OK, rows without a position dropped.
    StringGridView* focus = dialog.FocusGrid();
    TypeIntoCell(focus, 1, 1, "park");
    TypeIntoCell(focus, 2, 1, "M 42");
    TypeIntoCell(focus, 2, 2, "4500");
    Click(&dialog, "OKButton");
    QCOMPARE(f.ReadHomeFile("focustable.txt"), std::string("M 42,4500\r\n"));
  }
};

}  // namespace noctarbel::gui

QTEST_MAIN(noctarbel::gui::SetupDialogTest)
#include "setup_dialog_test.moc"
