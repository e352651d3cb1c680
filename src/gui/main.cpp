// noctarbel: the operator's window of the station.

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QLocale>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>
#include <cstring>
#include <iostream>
#include <string>

#include "windows/main_window_controls.h"
#include "station/paths.h"
#include "gui/gui_station.h"
#include "gui/night_palette.h"
#include "gui/pilot_form.h"
#include "gui/qt_runtime.h"
#include "gui/qt_ui.h"
#include "gui/window_export.h"
#include "common/stop_signal.h"

namespace {

using namespace noctarbel;
using namespace noctarbel::gui;

// Pictures, lists, help and version are made without a display.
bool RunsWithoutDisplay(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--screenshot") == 0 || std::strncmp(arg, "--screenshot=", 13) == 0 ||
        std::strcmp(arg, "--list-controls") == 0 || std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0 ||
        std::strcmp(arg, "--version") == 0 || std::strcmp(arg, "-v") == 0) {
      return true;
    }
  }
  return false;
}

QSize ParseSize(const QString& text) {
  const QStringList parts = text.toLower().split(QLatin1Char('x'));
  if (parts.size() != 2) return {};
  bool okW = false;
  bool okH = false;
  QSize size(parts[0].toInt(&okW), parts[1].toInt(&okH));
  return okW && okH && size.width() > 0 && size.height() > 0 ? size : QSize();
}

// Pictures and lists must never wait for an answer: messages go to stderr, questions get No.
class HeadlessUi : public Ui {
 public:
  void ShowMessage(const std::string& text) override { QTextStream(stderr) << QString::fromStdString(text) << "\n"; }
  bool Ask(const std::string& question) override {
    QTextStream(stderr) << QString::fromStdString(question) << " -> No\n";
    return false;
  }
  std::optional<std::string> ChooseFileToOpen(const FileDialogRequest&) override { return std::nullopt; }
  std::optional<std::string> ChooseFileToSave(const FileDialogRequest&) override { return std::nullopt; }
  std::optional<std::string> ChooseFolder(const std::string&) override { return std::nullopt; }
  std::string ChooseDevice(const std::string&, const std::string&) override { return {}; }
  std::string ClipboardText() override { return {}; }
};

int Fail(const QString& message) {
  QTextStream(stderr) << "noctarbel: " << message << "\n";
  return 1;
}

int WriteScreenshots(GuiStation& gui, const QString& folder, QSize mainSize) {
  if (!QDir().mkpath(folder)) return Fail(QStringLiteral("cannot create %1").arg(folder));
  for (QWidget* window : gui.Windows()) {
    QString error;
    QSize size = window == &gui.MainWindow() ? mainSize : QSize();
    if (!RenderWindow(window, folder, size, &error)) return Fail(error);
  }
  return 0;
}

}  // namespace

// SIGINT, SIGTERM and SIGHUP act as the Stop button: a running plan stops at its next wait and
// runs its clean-up; then the program ends with 128 + the signal. A signal during the
// clean-up does not abandon it.
static void StopOnSignals(QApplication& app, Station& station) {
  if (!stop_signal::Install()) return;
  auto* notifier = new QSocketNotifier(stop_signal::ReadFd(), QSocketNotifier::Read, &app);
  QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app, &station] {
    stop_signal::Drain();
    static bool stopping = false;
    const std::string name = stop_signal::Name(stop_signal::First());
    if (stopping) {
      std::cerr << "noctarbel: " << name << " again: the clean-up is finishing\n";
      return;
    }
    stopping = true;
    std::cerr << "noctarbel: " << name << ": stopping" << (station.Run.PlanRunning ? " the run; the clean-up runs" : "")
              << "\n";
    station.Run.AbortRequested = true;
    auto* ending = new QTimer(&app);
    QObject::connect(ending, &QTimer::timeout, &app, [&station, ending] {
      if (station.Run.PlanRunning) return;
      ending->stop();
      QCoreApplication::exit(128 + stop_signal::First());
    });
    ending->start(100);
  });
}

int main(int argc, char** argv) {
  if (RunsWithoutDisplay(argc, argv)) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("noctarbel"));
  QApplication::setApplicationVersion(QString::fromLatin1(kVersionText));
  // Numbers read and shown with "." whatever the desktop's language.
  QLocale::setDefault(QLocale::c());

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Noctarbel: unattended controller for a small robotic observatory"));
  parser.addHelpOption();
  parser.addVersionOption();
  QCommandLineOption home(
      QStringLiteral("home"),
      QStringLiteral(
          "Station folder (default: $NOCTARBEL_HOME, else XDG_CONFIG_HOME/noctarbel, else ~/.config/noctarbel)."),
      QStringLiteral("DIR"));
  QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                QStringLiteral("Render every window to DIR/<window>.png without a display, then exit."),
                                QStringLiteral("DIR"));
  QCommandLineOption screenshotSize(QStringLiteral("screenshot-size"),
                                    QStringLiteral("Size of the main window in screenshots (default 1920x1080)."),
                                    QStringLiteral("WxH"), QStringLiteral("1920x1080"));
  QCommandLineOption listControls(QStringLiteral("list-controls"),
                                  QStringLiteral("Print 'Window/ControlName ClassName' for every control, then exit."));
  parser.addOptions({home, screenshot, screenshotSize, listControls});
  parser.process(app);

  StationPaths paths = MakeStationPaths(parser.value(home).toStdString());
  std::string error;
  if (!EnsureFolder(paths.Home, &error)) return Fail(QString::fromStdString(error));
  QSize mainSize = ParseSize(parser.value(screenshotSize));
  if (!mainSize.isValid()) return Fail(QStringLiteral("--screenshot-size needs WIDTHxHEIGHT"));

  ApplyNightLook(app);  // screenshots too show the window as the operator sees it

  const bool headless = parser.isSet(screenshot) || parser.isSet(listControls);
  QtRuntime runtime;
  QtUi dialogs;
  HeadlessUi quiet;
  GuiStation gui(runtime, headless ? static_cast<Ui&>(quiet) : dialogs, paths);
  dialogs.SetParentWidget(&gui.MainWindow());
  dialogs.SetDeviceSource(&gui.Core());

  if (parser.isSet(listControls)) {
    QTextStream out(stdout);
    for (QWidget* window : gui.Windows()) {
      for (const QString& line : ListControls(window)) out << line << "\n";
    }
    if (!parser.isSet(screenshot)) return 0;
  }
  if (parser.isSet(screenshot)) {
    gui.Show();
    return WriteScreenshots(gui, parser.value(screenshot), mainSize);
  }
  // Hidden secondary windows must not keep the program alive, nor a shown one outlive the main window.
  QApplication::setQuitOnLastWindowClosed(false);
  QObject::connect(&gui.MainWindow(), &TPilotForm1::Closed, &app, &QApplication::quit);
  StopOnSignals(app, gui.Core());
  gui.Show();
  return QApplication::exec();
}
