// The settings dialog: its pages and controls, OK with validation, Cancel and the grids,
// each driven through its widgets. Profiles and choosers go through the store as every
// control does; their rules are the core's setup form tests.

#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>

#include "station/filter_tables.h"
#include "gui/string_grid_view.h"
#include "gui_fixture.h"

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
  void HasEveryPageAndControlWithTheSpectrumPageHidden() {
    GuiFixture f;
    f.Start();
    TSetupForm1& dialog = f.Setup();
    for (const auto& name : f.Core().Setup.Names()) {
      QVERIFY2(dialog.findChild<QObject*>(QString::fromStdString(name)), name.c_str());
    }
    dialog.show();
    auto* tabs = Find<QTabWidget>(&dialog, "PageControl1");
    QStringList shown;
    for (int i = 0; i < tabs->count(); ++i) {
      if (tabs->isTabVisible(i)) shown << tabs->tabText(i);
    }
    QCOMPARE(shown, QStringList({"Local coordinates/ Fits header", "Telescope control", "Camera", "Observatory",
                                 "Focus", "Filter wheel"}));
    QCOMPARE(tabs->count(), 7);
    QVERIFY(!Find<QWidget>(&dialog, "CamModeGroup")->isEnabled());
    auto* cooler = Find<QSpinBox>(&dialog, "CoolerTempEdit");
    QCOMPARE(cooler->minimum(), -99);
    QCOMPARE(cooler->maximum(), 20);
    auto* subframe = Find<QSpinBox>(&dialog, "AFsubframeSpinEdit");
    QCOMPARE(subframe->singleStep(), 10);
    QCOMPARE(Find<QLineEdit>(&dialog, "LaengeEdit")->text(), QStringLiteral("-8.24889"));
    QVERIFY(Find<QRadioButton>(&dialog, "ParkGroup") == nullptr);  // the group, not a button, has the name
    QCOMPARE(Find<QWidget>(&dialog, "ParkGroup")->findChildren<QRadioButton*>().size(), 2);

    QAbstractItemModel* filters = dialog.FilterGrid()->model();
    QCOMPARE(filters->columnCount(), 3);
    QCOMPARE(filters->rowCount(), kFilterGridRows);
    QCOMPARE(filters->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Filter name"));
    QCOMPARE(filters->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Focus offset"));
    QCOMPARE(dialog.FocusGrid()->model()->rowCount(), kFocusGridRows);
    QCOMPARE(dialog.FocusGrid()->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Focus name"));
  }

  void ANonNumberInTheHistogramFieldKeepsTheDialogOpen() {
    GuiFixture f;
    f.Start();
    TSetupForm1& dialog = f.Setup();
    dialog.show();
    Type(&dialog, "LaengeEdit", "-11.5");
    Type(&dialog, "BreiteEdit", "47.25");
    Type(&dialog, "HomeAltEdit", "12");
    Type(&dialog, "HistogramMaxlevelEdit", "0,95");
    Click(&dialog, "OKButton");
    QCOMPARE(f.ui.LastMessage(), std::string("Histogram max level not correct"));
    QVERIFY(dialog.isVisible());
    // The fields checked before the failing one are taken over; nothing is written.
    QCOMPARE(f.Core().Settings.Glaenge, -11.5);
    QCOMPARE(f.Core().Settings.Gbreite, 47.25);
    QCOMPARE(f.Core().Settings.HomeAlt, 12.0);
    QVERIFY(!std::filesystem::exists(f.Home() / "noctarbel.ini"));

    Type(&dialog, "HistogramMaxlevelEdit", "0.95");
    Click(&dialog, "OKButton");
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(f.ui.questions.empty());  // no profile name, no question
    const std::string ini = f.ReadHomeFile("noctarbel.ini");
    QVERIFY(Contains(ini, "HistogramMaxLevel=0.95"));
    QVERIFY(Contains(ini, "Glaenge=-11.5"));
  }

  void CancelKeepsOnlyTheAtOnceSettings() {
    GuiFixture f;
    f.Start();
    TSetupForm1& dialog = f.Setup();
    dialog.show();
    Find<QSpinBox>(&dialog, "CamTimeoutEdit")->setValue(45);
    QCOMPARE(f.Core().Settings.CameraTimeout, 45);  // at once
    Find<QSpinBox>(&dialog, "TrackingEdit1")->setValue(80);
    Find<QWidget>(&dialog, "ParkGroup")->findChildren<QRadioButton*>().at(0)->click();
    QCOMPARE(f.Core().Settings.ParkMethod, 0);
    Click(&dialog, "CancelButton");
    QVERIFY(!dialog.isVisible());
    QCOMPARE(f.Core().Settings.TrackingRange, 50);
    QVERIFY(!std::filesystem::exists(f.Home() / "noctarbel.ini"));
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
