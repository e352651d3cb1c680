// The autofocus window's V-curve picture and its opening over the settings dialog, the
// guiding test's window and picture, on the offscreen platform with the simulators on the virtual clock.

#include <QImage>
#include <QPushButton>
#include <QTimer>

#include "devices/sim/sim_devices.h"
#include "devices/sim/sim_world.h"
#include "gui/vcurve_plot.h"
#include "gui_fixture.h"
#include "windows/autofocus_window.h"
#include "windows/guiding_window.h"
#include "windows/telescope_window.h"

namespace noctarbel::gui {

using testing::Find;
using testing::GuiFixture;
using testing::WindowFixture;

namespace {

// Pixels of about this colour in the picture.
int PixelsLike(const QImage& image, QColor colour) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (std::abs(c.red() - colour.red()) < 30 && std::abs(c.green() - colour.green()) < 30 &&
          std::abs(c.blue() - colour.blue()) < 30) {
        ++count;
      }
    }
  }
  return count;
}

// The simulated telescope tracking high in the south on a star of `magnitude`.
void PointAtAStar(Station& s, double magnitude) {
  SimWorld& world = *SimulatedWorld(s.Devices.Registry);
  world.Mount.PlaceAtAltAz(180, 60);
  world.Mount.SetTracking(true);
  const SimPointing axis = world.Mount.ActualPointing();
  world.Sky.PlaceStar(SimStar{axis.RaHours, axis.DecDeg, magnitude});
}

}  // namespace

class FocusWindowsTest : public QObject {
  Q_OBJECT

 private slots:
  void TheCalibrationWindowDrawsTheScannedVAndItsLines() {
    GuiFixture f;
    f.Start();
    Station& s = f.Core();
    s.Settings.CameraObject = "sim:camera";
    s.Settings.FocuserObject = "sim:focuser";
    s.Settings.FilterwheelObject = "sim:filterwheel";
    s.Activate("CCDConnectBtn");
    s.Activate("FocusConnectButton");
    PointAtAStar(s, 4);

    QWidget* window = f.gui->Window(kAutofocusForm);
    QVERIFY(window);
    auto* plot = Find<VCurvePlot>(window, "VCurvePlot");
    QVERIFY(plot);
    QVERIFY(Find<QPushButton>(window, "FitButton"));
    window->show();
    const QImage empty = plot->grab().toImage();
    QCOMPARE(PixelsLike(empty, QColor(90, 160, 255)), 0);

    Controls& form = s.Form(kAutofocusForm);
    form.SetText("FocusposEdit", "5000");
    form.SetText("FocusRangeEdit", "500");
    form.SetText("FilternumEdit", "1");
    f.ui.answers = {false};  // not stored
    s.Activate(kAutofocusForm, "FitButton");
    QVERIFY(s.Autofocus.LastScan().Fit.Usable());
    QCOMPARE(s.Settings.AFLslope, 0.0f);
    const QImage drawn = plot->grab().toImage();
    QVERIFY(PixelsLike(drawn, QColor(90, 160, 255)) > 50);
    QVERIFY(PixelsLike(drawn, QColor(255, 150, 60)) > 50);
  }

  // Over the settings dialog, which runs modally, the calibration window takes input only as a
  // modal window itself.
  void CalibrateAutofocusTakesInputOverTheSetupDialog() {
    WindowFixture f;
    f.Start();
    QWidget* window = f.gui->Window(kAutofocusForm);
    bool checked = false;
    QTimer::singleShot(0, &f.Setup(), [&] {
      [&] {
        testing::Click(&f.Setup(), "CalibrateAutofocus");
        QVERIFY(window->isVisible());
        QCOMPARE(QApplication::activeModalWidget(), window);
        testing::Type(window, "FocusRangeEdit", "300");
        QCOMPARE(f.Core().Form(kAutofocusForm).Text("FocusRangeEdit"), std::string("300"));
        testing::Click(window, "CloseButton");
        QVERIFY(!window->isVisible());
        checked = true;
      }();
      window->hide();
      f.Setup().reject();
    });
    testing::Click(&f.Main(), "SetupButton");
    QVERIFY(checked);
    QVERIFY(!f.Setup().isVisible());
  }

  void TheGuidingTestDrawsBothStarsAndTheMove() {
    GuiFixture f;
    f.Start();
    Station& s = f.Core();
    s.Settings.TelescopeObject = "sim:telescope";
    s.Settings.CameraObject = "sim:camera";
    QVERIFY(ConnectTelescope(s));
    s.Activate("CCDConnectBtn");
    PointAtAStar(s, 5);

    QWidget* window = f.gui->Window(kGuidingTestForm);
    auto* picture = Find<QWidget>(window, "GuidingPicture");
    QVERIFY(picture);
    window->show();
    QCOMPARE(PixelsLike(picture->grab().toImage(), QColor(255, 150, 60)), 0);

    s.Activate(kGuidingTestForm, "FormShow");
    f.ui.answers = {true, false};  // star ready; rotation not saved
    s.Activate(kGuidingTestForm, "startbutton");
    QVERIFY(s.GuidingTestPicture.Measured);
    QVERIFY(s.Form(kGuidingTestForm).Caption("ResultLabel").find("angle=") != std::string::npos);
    const QImage drawn = picture->grab().toImage();
    QVERIFY(PixelsLike(drawn, QColor(90, 160, 255)) > 20);
    QVERIFY(PixelsLike(drawn, QColor(255, 150, 60)) > 20);
  }
};

}  // namespace noctarbel::gui

QTEST_MAIN(noctarbel::gui::FocusWindowsTest)
#include "focus_windows_test.moc"
