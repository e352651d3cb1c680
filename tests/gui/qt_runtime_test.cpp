// The desktop runtime (timers and waits on the Qt event loop), the file dialogs and the
// device chooser.

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "common/datetime.h"
#include "common/event_runtime.h"
#include "common/runtime.h"
#include "gui/device_chooser.h"
#include "gui/qt_runtime.h"
#include "gui/qt_ui.h"

namespace noctarbel::gui {

class QtRuntimeTest : public QObject {
  Q_OBJECT

 private slots:
  void SleepPumpsAndFiresTimers() {
    QtRuntime runtime;
    int ticks = 0;
    Timer timer(runtime, 20);
    timer.SetHandler([&] { ++ticks; });
    timer.Start();
    QElapsedTimer clock;
    clock.start();
    runtime.Sleep(150);
    QVERIFY(clock.elapsed() >= 150);
    QVERIFY2(ticks >= 3, qPrintable(QString::number(ticks)));
    timer.Stop();
    int stopped = ticks;
    runtime.Sleep(60);
    QCOMPARE(ticks, stopped);
  }

  void NestedSleepInsideATickLetsOtherTimersRunButNotItself() {
    QtRuntime runtime;
    int depth = 0;
    int maxDepth = 0;
    int slowTicks = 0;
    int fastTicksDuringSlow = 0;
    Timer slow(runtime, 10);
    Timer fast(runtime, 15);
    slow.SetHandler([&] {
      ++depth;
      maxDepth = std::max(maxDepth, depth);
      ++slowTicks;
      if (slowTicks == 1) runtime.Sleep(120);  // a long operation waiting inside a tick
      --depth;
    });
    fast.SetHandler([&] {
      if (depth > 0) ++fastTicksDuringSlow;
    });
    slow.Start();
    fast.Start();
    runtime.Sleep(250);
    slow.Stop();
    fast.Stop();
    QCOMPARE(maxDepth, 1);
    QVERIFY(slowTicks >= 2);
    QVERIFY(fastTicksDuringSlow >= 2);
  }

  void EnablingAgainRestartsTheInterval() {
    QtRuntime runtime;
    int ticks = 0;
    Timer timer(runtime, 300);
    timer.SetHandler([&] { ++ticks; });
    timer.Start();
    runtime.Sleep(150);
    timer.Start();
    runtime.Sleep(200);  // 350 ms after the first start, 200 after the second
    QCOMPARE(ticks, 0);
    runtime.Sleep(250);
    QCOMPARE(ticks, 1);
    QVERIFY(timer.Enabled());
  }

  void ATickMayRemoveItsOwnTimer() {
    QtRuntime runtime;
    int ticks = 0;
    Runtime::TimerId id = 0;
    id = runtime.AddTimer(10, [&] {
      ++ticks;
      runtime.RemoveTimer(id);
      runtime.Sleep(5);  // keeps running after its timer is gone
    });
    runtime.SetTimerEnabled(id, true);
    runtime.Sleep(100);
    QCOMPARE(ticks, 1);
    QVERIFY(!runtime.TimerEnabled(id));
  }

  void ClocksFollowTheSystemClock() {
    QtRuntime runtime;
    double utc = ToUnixSeconds(runtime.UtcNow());
    double expected = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    QVERIFY(std::abs(utc - expected) < 1.0);
    double offsetDays = runtime.LocalNow() - runtime.UtcNow();
    double expectedDays = QDateTime::currentDateTime().offsetFromUtc() / kSecondsPerDay;
    QVERIFY(std::abs(offsetDays - expectedDays) < 1.0 / kSecondsPerDay);
  }

  void FileFiltersBecomeQtFilters() {
    QCOMPARE(QtFileFilter("autopilot table|*.csv|text file|*.txt"),
             QStringLiteral("autopilot table (*.csv);;text file (*.txt)"));
    QCOMPARE(QtFileFilter("FITS|*.fit;*.fits"), QStringLiteral("FITS (*.fit *.fits)"));
    QCOMPARE(QtFileFilter(""), QString());
    QCOMPARE(DefaultSuffix("*.csv"), QStringLiteral("csv"));
    QCOMPARE(DefaultSuffix(".txt"), QStringLiteral("txt"));
    QCOMPARE(FilterSuffix(QStringLiteral("FITS (*.fit *.fits)")), QStringLiteral("fit"));
    QCOMPARE(FilterSuffix(QStringLiteral("all files (*.*)")), QString());
  }

  void ANameTypedWithoutExtensionTakesTheChosenFileTypes() {
    QTemporaryDir folder;
    QtUi ui;
    FileDialogRequest request;
    request.filter = "FITS|*.fit|JPEG|*.jpg";
    request.defaultExtension = "fit";
    request.initialFolder = folder.path().toStdString();
    // The operator picks the file type by keyboard, types "test" and saves.
    auto save = [&](int typeSteps) {
      QTimer::singleShot(0, [typeSteps] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        QVERIFY(types);
        for (int i = 0; i < typeSteps; ++i) QTest::keyClick(types, Qt::Key_Down);
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("test"));
        QMetaObject::invokeMethod(dialog, "accept");
      });
      return QString::fromStdString(ui.ChooseFileToSave(request).value_or(""));
    };
    QCOMPARE(save(0), folder.filePath(QStringLiteral("test.fit")));
    QCOMPARE(save(1), folder.filePath(QStringLiteral("test.jpg")));
  }

  void ChooserOffersTheSimulatorsAndTypedIdentifiers() {
    auto runtime = EventRuntime::WithRealClock();
    StationCore registry(*runtime, StationPaths{});
    DeviceChooserDialog preselected("Focuser", "sim:focuser", ChooserIdentifiers(registry, "Focuser"), nullptr);
    auto* list = preselected.findChild<QListWidget*>(QStringLiteral("DeviceList"));
    QVERIFY(list);
    QCOMPARE(list->currentItem()->text(), QStringLiteral("sim:focuser"));
    QCOMPARE(preselected.Chosen(), std::string("sim:focuser"));

    DeviceChooserDialog empty("Camera", "", ChooserIdentifiers(registry, "Camera"), nullptr);
    QCOMPARE(empty.Chosen(), std::string());
    empty.findChild<QListWidget*>(QStringLiteral("DeviceList"))->setCurrentRow(0);
    QCOMPARE(empty.Chosen(), std::string("sim:camera"));
  }
};

}  // namespace noctarbel::gui

QTEST_MAIN(noctarbel::gui::QtRuntimeTest)
#include "qt_runtime_test.moc"
