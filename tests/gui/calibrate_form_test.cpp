// The calibration window: its controls and grids, the grids following the station's tables
// both ways, and the modal round trip from the main window's "Corrections" box.

#include <QCheckBox>
#include <QPushButton>
#include <QTimer>

#include "gui/calibrate_dialog.h"
#include "gui/string_grid_view.h"
#include "gui_fixture.h"
#include "windows/calibrate_window.h"

namespace noctarbel::gui {

using testing::Click;
using testing::Find;
using testing::TypeIntoCell;

namespace {

struct Fixture : testing::WindowFixture {
  Fixture() { Start(); }
  TCalibrateForm1& Window() { return *qobject_cast<TCalibrateForm1*>(gui->Window(kCalibrateForm)); }
  QString Cell(StringGridView* grid, int row, int col) {
    return grid->model()->data(grid->model()->index(row - 1, col)).toString();
  }
};

}  // namespace

class CalibrateFormTest : public QObject {
  Q_OBJECT

 private slots:
  void ShowsBothTables() {
    Fixture f;
    TCalibrateForm1& window = f.Window();
    QCOMPARE(window.windowTitle(), QStringLiteral("Calibration"));
    QCOMPARE(window.FlatGrid()->model()->rowCount(), 9);
    QCOMPARE(window.FilterGrid()->model()->columnCount(), 4);
  }

  void GridEditsAndHandlersMeetInTheStationsTables() {
    Fixture f;
    TCalibrateForm1& window = f.Window();
    window.show();
    TypeIntoCell(window.FlatGrid(), 2, 1, "flat_R.fit");
    TypeIntoCell(window.FilterGrid(), 3, 2, "2");
    QCOMPARE(f.Core().Calibration.Tables.FlatFiles[1], std::string("flat_R.fit"));
    QCOMPARE(f.Core().Calibration.Tables.FlatIds[2][1], std::string("2"));

    // "Select master flat" writes into the grid's current row.
    window.FlatGrid()->setCurrentIndex(window.FlatGrid()->model()->index(4, 1));
    f.ui.files.push_back("/masters/flat_B.fit");
    Click(&window, "SetfileBtn");
    QCOMPARE(f.Cell(window.FlatGrid(), 5, 1), QStringLiteral("/masters/flat_B.fit"));

    // The tables changed by a handler show in the grids.
    Click(&window, "ClearButton");
    QCOMPARE(f.Cell(window.FlatGrid(), 2, 1), QString());
    QCOMPARE(f.Core().Calibration.Tables.FlatIds[2][1], std::string());
  }

  // The window runs modally inside the box's click; reading the configuration first and the
  // question at OK are the window logic's tests.
  void TheCorrectionsBoxShowsTheWindowModally() {
    Fixture f;
    TCalibrateForm1& window = f.Window();
    auto* box = Find<QCheckBox>(&f.gui->MainWindow(), "CalibrationCheckbox");

    // OK inside the modal window: the box stays ticked, the window is gone.
    bool sawWindow = false;
    QTimer::singleShot(0, &window, [&] {
      sawWindow = window.isVisible() && window.isModal();
      Click(&window, "OKbutton");
    });
    QTest::mouseClick(box, Qt::LeftButton);
    QVERIFY(sawWindow);
    QVERIFY(box->isChecked());
    QVERIFY(!window.isVisible());

    // Closed any other way, the box is unticked again.
    QTest::mouseClick(box, Qt::LeftButton);  // untick
    QTimer::singleShot(0, &window, [&] { Click(&window, "CancelButton"); });
    QTest::mouseClick(box, Qt::LeftButton);
    QVERIFY(!box->isChecked());
    QTimer::singleShot(0, &window, [&] { window.reject(); });
    QTest::mouseClick(box, Qt::LeftButton);
    QVERIFY(!box->isChecked());
  }
};

}  // namespace noctarbel::gui

QTEST_MAIN(noctarbel::gui::CalibrateFormTest)
#include "calibrate_form_test.moc"
