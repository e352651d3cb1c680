// The camera's pictures on the desktop: the main window's preview with its crosshair, the
// image viewer (fit and 1:1, the read-out in image pixels, dragging, saving), and Check
// through the test-run dialog. The simulated camera runs on the virtual
// clock; windows are shown and modal dialogs block as on the desktop.

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>
#include <optional>

#include "gui/lamp_widget.h"
#include "gui/picture_view.h"
#include "gui/string_grid_view.h"
#include "gui/viewer_form.h"
#include "gui_fixture.h"
#include "windows/viewer_window.h"

namespace noctarbel::gui {

using testing::Click;
using testing::Find;
using testing::Type;
using testing::WindowFixture;

namespace {

// The brightest grey within `radius` of `at`.
int BrightestNear(const QImage& image, QPoint at, int radius) {
  int best = 0;
  for (int y = at.y() - radius; y <= at.y() + radius; ++y) {
    for (int x = at.x() - radius; x <= at.x() + radius; ++x) {
      if (image.valid(x, y)) best = std::max(best, qGray(image.pixel(x, y)));
    }
  }
  return best;
}

// The brightest pixel of an image, counted from 1.
QPoint Brightest(const Timgbuffer& image) {
  QPoint at(1, 1);
  for (int y = 1; y <= image.Height(); ++y) {
    for (int x = 1; x <= image.Width(); ++x) {
      if (image.GetPixel(x, y) > image.GetPixel(at.x(), at.y())) at = QPoint(x, y);
    }
  }
  return at;
}

// The mouse over the widget with no button pressed, delivered to it whatever other window
// the offscreen screen holds at that place.
void Hover(QWidget* widget, QPoint at) {
  QMouseEvent move(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(widget, &move);
}

QString StatusText(QWidget* window) { return Find<QStatusBar>(window, "StatusBar1")->findChild<QLabel*>()->text(); }

// A one-second exposure of the simulated camera with the main window's buttons.
void Expose(WindowFixture& f) {
  f.Core().Settings.CameraObject = "sim:camera";
  if (!f.Core().Camera.Connected()) Click(&f.Main(), "CCDConnectBtn");
  Click(&f.Main(), "ExposeButton");
  QVERIFY(f.ui.messages.empty());
}

}  // namespace

class ImageWindowsTest : public QObject {
  Q_OBJECT

  std::optional<WindowFixture> f;

 private slots:
  void init() { f.emplace().Start(); }
  void cleanup() { f.reset(); }

  void AnExposureShowsInThePreviewWithItsCrosshair() {
    PreviewBox* preview = Find<PreviewBox>(&f->Main(), "PaintBox1");
    QCOMPARE(preview->size(), QSize(241, 153));
    Expose(*f);
    const Timgbuffer& image = f->Core().ExposureFrame;
    const QImage shot = preview->grab().toImage();
    // The picture keeps its aspect, centred between black bands; its brightest star shows.
    const PreviewRect drawn = FitPreview(241, 153, image.Width(), image.Height());
    QVERIFY(drawn.Left > 2);
    QCOMPARE(BrightestNear(shot, QPoint(drawn.Left / 2, 76), drawn.Left / 2 - 1), 0);
    const QPoint star = Brightest(image) - QPoint(1, 1);
    const QPoint starShown(drawn.Left + star.x() * drawn.Width / image.Width(),
                           drawn.Top + star.y() * drawn.Height / image.Height());
    QVERIFY(BrightestNear(shot, starShown, 1) > 100);

    const Crosshair cross = PreviewCrosshair(drawn);
    const QPoint ends[] = {{cross.CenterX + cross.HalfLength, cross.CenterY},
                           {cross.CenterX, cross.CenterY - cross.HalfLength}};
    Click(&f->Main(), "Markercheckbox");
    const QImage crossed = preview->grab().toImage();
    for (const QPoint& end : ends) {
      QVERIFY(shot.pixel(end) != qRgb(255, 255, 255));
      QCOMPARE(crossed.pixel(end), qRgb(255, 255, 255));
    }
    QCOMPARE(crossed.pixel(ends[0] + QPoint(2, 0)), shot.pixel(ends[0] + QPoint(2, 0)));  // the line ends there
    f->Core().Main.SetChecked("Markercheckbox", false);  // also when the program unticks it
    QCOMPARE(preview->grab().toImage(), shot);
  }

  void TheViewerShowsTheImageAndReadsOutImagePixels() {
    Click(&f->Main(), "ViewerControlCheck");  // the saved picture goes to the viewer
    Expose(*f);
    auto& viewer = *qobject_cast<TImgShowform*>(f->gui->Window(kViewerForm));
    QVERIFY(viewer.isVisible());
    QCOMPARE(viewer.windowTitle(), QString::fromStdString((f->Home() / "testbild.fits").string()));
    auto* canvas = Find<ViewerCanvas>(&viewer, "PaintBox1");
    QCOMPARE(canvas->Picture().size(), QSize(640, 512));
    const Timgbuffer& image = *f->Core().Viewer.Frame();
    const QPoint star = Brightest(image);
    const QString starReadout =
        QStringLiteral("X=%1 Y=%2 I=%3 ").arg(star.x()).arg(star.y()).arg(image.GetPixel(star.x(), star.y()));

    // Fit: 5 pixels short of the box on the limiting side, here larger than the image.
    const QSize box = viewer.ScrollBox()->maximumViewportSize();
    const QSize fitted = canvas->size();
    QVERIFY(fitted.width() == box.width() - 5 || fitted.height() == box.height() - 5);
    QVERIFY(fitted.width() <= box.width() - 5 && fitted.height() <= box.height() - 5);
    QVERIFY(std::abs(fitted.width() * 512 - fitted.height() * 640) <= 640);
    QVERIFY(fitted.width() > 640);
    // Over the star the read-out names the star's image pixel.
    auto onScreen = [](int pixel, int drawnSize, int imageSize) {
      return ((pixel - 1) * drawnSize + imageSize - 1) / imageSize;
    };
    Hover(canvas, QPoint(onScreen(star.x(), fitted.width(), 640), onScreen(star.y(), fitted.height(), 512)));
    QVERIFY2(StatusText(&viewer).startsWith(starReadout), qPrintable(StatusText(&viewer)));
    // 1:1: one screen pixel per image pixel.
    Click(&viewer, "ZoomBtn");
    QCOMPARE(canvas->size(), QSize(640, 512));
    Hover(canvas, star - QPoint(1, 1));
    QVERIFY2(StatusText(&viewer).startsWith(starReadout), qPrintable(StatusText(&viewer)));
    // A new picture larger than the box stays 1:1 and follows the hand beyond 5 pixels.
    f->Core().Main.SetValue("BinningEdit1", 1);
    Expose(*f);
    QCOMPARE(canvas->size(), QSize(1280, 1024));
    QScrollBar* across = viewer.ScrollBox()->horizontalScrollBar();
    QScrollBar* down = viewer.ScrollBox()->verticalScrollBar();
    QTest::mousePress(canvas, Qt::LeftButton, {}, QPoint(200, 200));
    QTest::mouseMove(canvas, QPoint(197, 202));
    QCOMPARE(across->value(), 0);
    QTest::mouseMove(canvas, QPoint(190, 194));
    QCOMPARE(across->value(), 10);
    QCOMPARE(down->value(), 6);
    QVERIFY(StatusText(&viewer).startsWith(QStringLiteral("X=191 Y=195 ")));
    QTest::mouseRelease(canvas, Qt::LeftButton, {}, QPoint(190, 194));
    // Fit and 1:1 again: back where it was scrolled to.
    Click(&viewer, "NozoomBtn");
    Click(&viewer, "ZoomBtn");
    QCOMPARE(QPoint(across->value(), down->value()), QPoint(10, 6));
    // A new picture smaller than the box is fitted.
    f->Core().Main.SetValue("BinningEdit1", 2);
    Expose(*f);
    QCOMPARE(canvas->size(), fitted);

    // Saved under "test" with the first file type.
    f->ui.files = {(f->Home() / "test").string()};
    Click(&viewer, "SaveButton");
    QCOMPARE(f->ui.fileRequests.back().filter.rfind("FITS|", 0), 0u);
    QVERIFY(std::filesystem::exists(f->Home() / "test.fit"));
  }

  void CheckRunsTheTestRunThroughItsDialog() {
    // A target the station sees and one it never sees.
    const QStringList rows = {";;;M 51;13;29;52.7;47;11;43;60;2;1;1", ";;;Octans;21;0;0;-85;0;0;60;2;1;1"};
    f->Core().Planer1.SetRowCount(3);
    for (int row = 1; row <= 2; ++row) {
      const QStringList cells = rows[row - 1].split(QLatin1Char(';'));
      for (int col = 0; col < cells.size(); ++col) f->Core().Planer1.SetCell(col + 1, row, cells[col].toStdString());
    }
    auto* dialog = qobject_cast<QDialog*>(f->gui->Window("TestForm1"));
    bool sawDialog = false;
    QTimer::singleShot(0, dialog, [&] {
      sawDialog = dialog->isVisible() && dialog->isModal();
      QCOMPARE(Find<QLineEdit>(dialog, "DateEdit")->text(), QStringLiteral("2024-03-01"));  // the clock's
      QCOMPARE(Find<QLineEdit>(dialog, "TimeEdit")->text(), QStringLiteral("20:00:00"));
      Type(dialog, "DateEdit", "2024-02-30");
      Click(dialog, "Startbutton");  // no such day: the dialog stays
      QVERIFY(dialog->isVisible());
      Click(dialog, "AktuellButton");
      QCOMPARE(Find<QLineEdit>(dialog, "DateEdit")->text(), QStringLiteral("2024-03-01"));
      Type(dialog, "TimeEdit", "22:00:00");
      Click(dialog, "Startbutton");
    });
    Click(&f->Main(), "CheckButton");
    QVERIFY(sawDialog);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(f->ui.LastMessage(), std::string("1 errors found"));
    const auto& log = f->Core().Log.Lines();
    QVERIFY(std::find(log.begin(), log.end(), "2024-03-01 22:00:00: Going to object M 51") != log.end());
    QCOMPARE(log.back(), std::string("---------Test run end--------------"));
    // The window is as before the run, with the last row run selected.
    QCOMPARE(Find<LampWidget>(&f->Main(), "ExecLight")->Colour(), QStringLiteral("silver"));
    QVERIFY(Find<QPushButton>(&f->Main(), "CheckButton")->isEnabled());
    QCOMPARE(f->Main().PlanGrid()->currentIndex().row(), 1);
    // The time line window shows both rows; the one never seen in the problem colour.
    QWidget* timeline = f->gui->Window("NightTimeline");
    QVERIFY(timeline && timeline->isVisible());
    const QImage drawn = timeline->grab().toImage();
    int problemPixels = 0;
    for (int y = 0; y < drawn.height(); ++y) {
      for (int x = 0; x < drawn.width(); ++x) problemPixels += drawn.pixelColor(x, y) == QColor(236, 150, 30);
    }
    QVERIFY(problemPixels > 14 * 10 + 30);  // the legend's mark and the row's bar

    // Abbruch: nothing runs.
    const size_t logged = log.size();
    const size_t messages = f->ui.messages.size();
    QTimer::singleShot(0, dialog, [&] { Click(dialog, "CancelButton"); });
    Click(&f->Main(), "CheckButton");
    QVERIFY(!dialog->isVisible());
    QCOMPARE(f->Core().Log.Lines().size(), logged);
    QCOMPARE(f->ui.messages.size(), messages);
  }
};

}  // namespace noctarbel::gui

QTEST_MAIN(noctarbel::gui::ImageWindowsTest)
#include "image_windows_test.moc"
