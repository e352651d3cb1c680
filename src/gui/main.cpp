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

#include "automation/plan_file.h"
#include "common/datetime.h"
#include "common/event_runtime.h"
#include "common/number_text.h"
#include "windows/main_window_controls.h"
#include "windows/rehearsal.h"
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

int UsageError(const QString& message) {
  QTextStream(stderr) << "noctarbel: " << message << "\n";
  return 2;
}

// `--rehearse PLAN`: the plan into the table, and the rehearsal's options from the command line.
struct RehearsalRequest {
  RehearsalOptions Options;
  std::optional<DateTime> ScreenshotAt;
};

std::optional<DateTime> ParseUtOption(const QCommandLineParser& parser, const QCommandLineOption& option,
                                      QString* error) {
  if (!parser.isSet(option)) return std::nullopt;
  const QString text = parser.value(option);
  auto parsed = ParseIsoDateTime(std::string(TrimBlanks(text.toStdString())));
  if (!parsed) *error = QStringLiteral("--%1 needs a UT as YYYY-MM-DD HH:MM:SS: %2").arg(option.names().first(), text);
  return parsed;
}

// Renders the main window (and the time line) in the middle of a rehearsal once its clock
// reaches `at`, then stops it; without `at`, when it ends.
void ScreenshotDuringRehearsal(QApplication& app, GuiStation& gui, DateTime at, const QString& folder, QSize size,
                               int* status) {
  auto* watch = new QTimer(&app);
  QObject::connect(watch, &QTimer::timeout, &app, [&gui, at, folder, size, status, watch] {
    Station& station = gui.Core();
    if (!station.ActiveRehearsal || station.ActiveRehearsal->Clock().UtcNow() < at) return;
    watch->stop();
    *status = WriteScreenshots(gui, folder, size);
    station.Run.AbortRequested = true;
  });
  watch->start(10);
}

}  // namespace

static int RunRehearsalForPictures(QApplication& app, GuiStation& gui, const RehearsalRequest& rehearsal,
                                   const QString& folder, QSize size) {
  int status = -1;
  if (rehearsal.ScreenshotAt) ScreenshotDuringRehearsal(app, gui, *rehearsal.ScreenshotAt, folder, size, &status);
  RehearsePlan(gui.Core(), rehearsal.Options);
  if (status < 0) status = WriteScreenshots(gui, folder, size);
  return status;
}

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
  QCommandLineOption rehearse(QStringLiteral("rehearse"),
                              QStringLiteral("Load the plan file PLAN and rehearse it on the simulators and a simulated "
                                             "clock (images in the station folder's \"rehearsal\")."),
                              QStringLiteral("PLAN"));
  QCommandLineOption start(QStringLiteral("start"),
                           QStringLiteral("Rehearsal: simulated UT to start at (default: the plan's first start time)."),
                           QStringLiteral("UT"));
  QCommandLineOption rainAt(QStringLiteral("rain-at"),
                            QStringLiteral("Rehearsal: the simulated rain sensor goes wet at this UT."), QStringLiteral("UT"));
  QCommandLineOption speed(QStringLiteral("speed"),
                           QStringLiteral("Rehearsal: 60, 600 (simulated seconds per second) or max."),
                           QStringLiteral("SPEED"));
  QCommandLineOption exitWhenDone(QStringLiteral("exit-when-done"),
                                  QStringLiteral("Rehearsal: end the program when it ends (exit 0 when the rows ran to "
                                                 "their end, else 1)."));
  QCommandLineOption screenshotAt(
      QStringLiteral("screenshot-at"),
      QStringLiteral("With --rehearse and --screenshot: the pictures when the rehearsal's clock reaches this UT."),
      QStringLiteral("UT"));
  parser.addOptions({home, screenshot, screenshotSize, listControls, rehearse, start, rainAt, speed, exitWhenDone,
                     screenshotAt});
  parser.process(app);

  StationPaths paths = MakeStationPaths(parser.value(home).toStdString());
  std::string error;
  if (!EnsureFolder(paths.Home, &error)) return Fail(QString::fromStdString(error));
  QSize mainSize = ParseSize(parser.value(screenshotSize));
  if (!mainSize.isValid()) return Fail(QStringLiteral("--screenshot-size needs WIDTHxHEIGHT"));

  RehearsalRequest rehearsal;
  if (parser.isSet(rehearse)) {
    QString usage;
    rehearsal.Options.Start = ParseUtOption(parser, start, &usage);
    rehearsal.Options.RainAt = ParseUtOption(parser, rainAt, &usage);
    rehearsal.ScreenshotAt = ParseUtOption(parser, screenshotAt, &usage);
    if (!usage.isEmpty()) return UsageError(usage);
    if (parser.isSet(speed)) {
      const QString text = parser.value(speed);
      if (text == QStringLiteral("max")) {
        rehearsal.Options.Speed = 0;
      } else if (text == QStringLiteral("60") || text == QStringLiteral("600")) {
        rehearsal.Options.Speed = text.toDouble();
      } else {
        return UsageError(QStringLiteral("--speed needs 60, 600 or max: %1").arg(text));
      }
    }
  } else {
    for (const auto* option : {&start, &rainAt, &speed, &exitWhenDone, &screenshotAt}) {
      if (parser.isSet(*option)) return UsageError(QStringLiteral("--%1 needs --rehearse").arg(option->names().first()));
    }
  }
  // Pictures of a rehearsal are taken on the simulated clock as fast as it goes.
  if (parser.isSet(rehearse) && parser.isSet(screenshot) && !rehearsal.Options.Speed) rehearsal.Options.Speed = 0;

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
  if (parser.isSet(rehearse)) {
    const PlanFileContent plan = ReadPlanFile(parser.value(rehearse).toStdString());
    if (!plan.ok) return Fail(QStringLiteral("cannot read the plan %1: %2").arg(parser.value(rehearse), QString::fromStdString(plan.error)));
    ReplacePlanRows(gui.Core().Planer1, plan.rows);
    if (!PlanHasRows(gui.Core().Planer1)) return Fail(QStringLiteral("the plan %1 has no rows").arg(parser.value(rehearse)));
  }
  if (parser.isSet(screenshot) && !parser.isSet(rehearse)) {
    gui.Show();
    return WriteScreenshots(gui, parser.value(screenshot), mainSize);
  }
  // Hidden secondary windows must not keep the program alive, nor a shown one outlive the main window.
  QApplication::setQuitOnLastWindowClosed(false);
  QObject::connect(&gui.MainWindow(), &TPilotForm1::Closed, &app, &QApplication::quit);
  StopOnSignals(app, gui.Core());
  gui.Show();
  if (parser.isSet(rehearse)) {
    if (parser.isSet(screenshot)) {
      // On the offscreen platform the window is as large as asked.
      gui.MainWindow().resize(mainSize);
      return RunRehearsalForPictures(app, gui, rehearsal, parser.value(screenshot), mainSize);
    }
    const bool exitAfter = parser.isSet(exitWhenDone);
    QTimer::singleShot(0, &app, [&gui, rehearsal, exitAfter] {
      const bool completed = RehearsePlan(gui.Core(), rehearsal.Options);
      if (exitAfter) QCoreApplication::exit(completed ? 0 : 1);
    });
  }
  return QApplication::exec();
}
