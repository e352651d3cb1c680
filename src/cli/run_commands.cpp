// noctarbel-cli "check" (the test run of a plan) and "run" (the real run, on the station's
// devices and the computer's clock, or with --simulate on the built-in simulators and a
// simulated clock that jumps over every wait, so that a night takes seconds). Both build the
// station core alone: the run's options come from the flags, its events are printed.

#include <CLI/CLI.hpp>

#include <unistd.h>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <thread>
#include <nlohmann/json.hpp>

#include "astro/time.h"
#include "automation/night_report.h"
#include "automation/night_setup.h"
#include "automation/night_timeline.h"
#include "automation/plan_file.h"
#include "automation/plan_row.h"
#include "automation/plan_run.h"
#include "automation/row_account.h"
#include "automation/status_page.h"
#include "common/event_runtime.h"
#include "operations/station_core.h"
#include "station/site_sky.h"
#include "cli/cli_context.h"
#include "cli/commands.h"
#include "cli/run_interruption.h"
#include "cli/run_summary.h"
#include "common/number_text.h"

namespace noctarbel::cli {

namespace {

// A night that ran to its end but skipped rows or had rows that did not do what they were
// asked (also: its log was not written); a check that found problems.
constexpr int kRowsNotDoneExitCode = kPartlyDoneExitCode;
// How long `run` keeps its status page up after the night.
constexpr auto kPageLinger = std::chrono::seconds(10);

std::string NotDoneText(const RunSummary& summary) {
  if (summary.EmptyPlan) return "The plan has no rows: nothing was done";
  std::string text;
  if (!summary.Account.AllDone()) {
    text = "The run ended with " + std::to_string(summary.Account.Skipped.size()) + " rows skipped and " +
           std::to_string(summary.Account.Failed.size()) + " rows failed";
  }
  if (!summary.LogSaved) {
    if (!text.empty()) text += "; ";
    text += "The log was not written to " +
            (std::filesystem::path(summary.ImageFolder) / kLogFileName).string() + "; a copy is in " + summary.LogFile;
  }
  return text;
}

struct CheckOptions {
  std::string plan;
  std::string start;
  bool json = false;
  std::string timeline;
  std::string report;
};

struct ReportOptions {
  std::string folder;
  std::string output;
};

struct RunFlags {
  std::string plan;
  bool simulate = false;
  std::string start;
  std::string images;
  bool yes = false;
  bool jsonEvents = false;
  bool noCorrections = false;
  bool leaveRoofOpen = false;
  bool allowSimulatedTelescope = false;
  bool stacking = false;
  bool guiding = false;
  std::string rainAt;
  std::string cameraTimeoutAt;
  bool cloudy = false;
  std::string timeline;
  bool resume = false;
  double pace = 0;
  std::string statusPage;
};

// Nothing is asked on the command line: questions get the answer the command was given and
// say so on stderr; messages are kept for the command to report.
class CommandPrompts {
 public:
  bool answer = false;
  std::vector<std::string> messages;

  bool Ask(const std::string& question) {
    auto given = given_.find(question);
    const bool yes = given != given_.end() ? given->second.Yes : answer;
    std::cerr << question << (yes ? "-> Yes" : "-> No") << (given != given_.end() ? " (" + given->second.Why + ")" : "")
              << "\n";
    return yes;
  }
  // An answer the command line gave before the question came.
  void Answer(const std::string& question, bool yes, const std::string& why) { given_[question] = {yes, why}; }

  RunPrompts Prompts() {
    RunPrompts prompts;
    prompts.Tell = [this](const std::string& text) { messages.push_back(text); };
    prompts.Ask = [this](const std::string& question) { return Ask(question); };
    return prompts;
  }

 private:
  struct Given {
    bool Yes = false;
    std::string Why;
  };
  std::map<std::string, Given> given_;
};

std::optional<DateTime> ParseUt(const std::string& text) { return ParseIsoDateTime(TrimBlanks(text)); }

// The plan's rows into the station's table, replacing what it held.
bool FillPlanTable(CliContext& context, StationCore& station, const std::string& file) {
  const PlanFileContent content = ReadPlanFile(file);
  if (!content.ok) {
    context.Fail("Cannot read the plan " + file + ": " + content.error);
    return false;
  }
  ReplacePlanRows(station.Planer1, content.rows);
  return true;
}

// The station core as it starts: its files, its horizon, the observatory's watch.
std::unique_ptr<StationCore> MakeStation(CliContext& context, Runtime& runtime) {
  auto station = std::make_unique<StationCore>(runtime, context.Paths());
  station->LoadSettingsAndTables();
  LoadHorizon(*station);
  station->StatusTimer.Start();
  return station;
}

// The rows on a time line as a picture; a picture that cannot be written fails the command
// (exit 1) unless it failed already.
void SaveTimeline(CliContext& context, const std::vector<RowSpan>& timeline, const std::string& file) {
  std::string error;
  if (SaveNightTimeline(timeline, file, &error)) return;
  const std::string message = "The time line was not saved to " + file + ": " + error;
  if (context.exitCode == 0) {
    context.Fail(message);
  } else {
    context.Note(message);
  }
}

// The test run's forecast of the night, night.html in the station folder unless named; a
// report that cannot be written fails the command.
void WriteForecast(CliContext& context, StationCore& station, size_t firstLine, const std::string& file) {
  const std::filesystem::path target = file.empty() ? station.Paths.Home / kNightReportFileName : std::filesystem::path(file);
  std::string error;
  if (!WriteNightReport(ForecastReport(station, firstLine), target, &error)) {
    context.Fail("The night's forecast was not written to " + target.string() + ": " + error);
  }
}

// `report FOLDER`: night.html of a night's folder, made anew from its log, journal and images.
void RebuildReport(CliContext& context, const ReportOptions& options) {
  if (!context.EnsureStationFolder()) return;
  auto runtime = EventRuntime::WithRealClock();
  auto station = MakeStation(context, *runtime);
  std::string error;
  const auto report = ReadNightFolder(*station, options.folder, &error);
  if (!report) return context.Fail("No report of " + options.folder + ": " + error);
  const std::filesystem::path target =
      options.output.empty() ? std::filesystem::path(options.folder) / kNightReportFileName
                             : std::filesystem::path(options.output);
  if (!WriteNightReport(*report, target, &error)) {
    return context.Fail("The report was not written to " + target.string() + ": " + error);
  }
  std::cout << target.string() << ": " << report->Timeline.size() << " rows, " << report->Images.size()
            << " images\n";
}

void RunCheck(CliContext& context, const CheckOptions& options) {
  if (!context.EnsureStationFolder()) return;
  auto runtime = EventRuntime::WithRealClock();
  auto station = MakeStation(context, *runtime);
  if (!FillPlanTable(context, *station, options.plan)) return;
  DateTime start = runtime->UtcNow();
  if (!options.start.empty()) {
    auto parsed = ParseUt(options.start);
    if (!parsed) return context.UsageError("--start needs a UT as YYYY-MM-DD HH:MM:SS: " + options.start);
    start = *parsed;
  }
  const size_t first = station->Log.Size();
  noctarbel::RunOptions runOptions;
  runOptions.SyncRangeArcsec = station->Settings.SyncRange;
  const int errors = PlanRun(*station, runOptions).Test(start);
  const std::vector<RowSpan>& timeline = station->Run.Timeline;
  const auto& lines = station->Log.Lines();
  if (!options.timeline.empty()) SaveTimeline(context, timeline, options.timeline);
  WriteForecast(context, *station, first, options.report);
  if (options.json) {
    nlohmann::ordered_json out = {
        {"errors", errors}, {"log", nlohmann::json::array()}, {"rows", nlohmann::json::array()}};
    for (size_t i = first; i < lines.size(); ++i) out["log"].push_back(lines[i]);
    for (const RowSpan& r : timeline) {
      out["rows"].push_back({{"row", r.Row},
                             {"object", r.Name},
                             {"start", FormatDateTime(r.Start)},
                             {"end", FormatDateTime(r.End)},
                             {"outcome", RowOutcomeName(r.Outcome)},
                             {"why", r.Note}});
    }
    std::cout << out.dump(2) << "\n";
  } else {
    for (size_t i = first; i < lines.size(); ++i) std::cout << lines[i] << "\n";
    std::cout << errors << " errors found\n";
  }
  if (errors > 0) context.exitCode = kRowsNotDoneExitCode;
}

class NightRun {
 public:
  NightRun(CliContext& context, const RunFlags& options) : context_(context), options_(options) {}

  void Run() {
    if (!context_.EnsureStationFolder()) return;
    ui_.answer = options_.yes;
    if (options_.noCorrections) ui_.Answer("Start without corrections? ", true, "--no-corrections");
    if (options_.simulate) {
      // A simulated night starts on the plan's first start time.
      const PlanFileContent content = ReadPlanFile(options_.plan);
      if (!content.ok) return context_.Fail("Cannot read the plan " + options_.plan + ": " + content.error);
      auto real = EventRuntime::WithRealClock();
      DateTime start = DefaultSimulationStart(content.rows, real->UtcNow());
      if (!options_.start.empty()) {
        auto parsed = ParseUt(options_.start);
        if (!parsed) return context_.UsageError("--start needs a UT as YYYY-MM-DD HH:MM:SS: " + options_.start);
        start = *parsed;
      }
      const double offsetHours = (real->LocalNow() - real->UtcNow()) * 24.0;
      runtime_ = EventRuntime::WithVirtualClock(start, offsetHours);
      runtime_->SetPace(options_.pace);
    } else if (options_.pace != 0) {
      return context_.UsageError("--pace is for simulated nights (--simulate)");
    } else {
      runtime_ = EventRuntime::WithRealClock();
    }
    station_ = MakeStation(context_, *runtime_);
    signals_ = std::make_unique<RunSignals>(*runtime_, *station_);
    if (options_.allowSimulatedTelescope) station_->Settings.AllowSimulatedTelescope = true;
    if (!FillPlanTable(context_, *station_, options_.plan)) return;
    if (!StartStatusPage()) return;
    if (!SetUp()) return;
    run_->Options.ShutdownAllowed = !options_.simulate;
    run_->Options.PlanFile = std::filesystem::absolute(options_.plan).lexically_normal().string();
    if (!ChooseResume(context_, *run_, options_.resume, options_.images)) return;
    Follow();
    if (status_) status_->Follow(run_->Events);
    const auto wallStart = std::chrono::steady_clock::now();
    const DateTime simStart = runtime_->UtcNow();
    const size_t firstLine = station_->Log.Size();
    const int token = station_->Log.Subscribe([this](long index) { LogLine(index); });
    if (!run_->StartChecks(ui_.Prompts())) {
      station_->Log.Unsubscribe(token);
      return context_.Fail("The run did not start: " + (ui_.messages.empty() ? "nothing to do" : ui_.messages.back()));
    }
    signals_->StopIfReceived();
    const bool completed = run_->Run();
    if (status_) status_->RunEnded(completed);
    station_->Log.Unsubscribe(token);
    if (!options_.timeline.empty()) SaveTimeline(context_, station_->Run.Timeline, options_.timeline);
    std::string error;
    const bool reported = WriteRunReport(*station_, run_->ImageFolder(), firstLine, &error);
    if (!reported) context_.Note("The night's report was not written: " + error);
    RunSummary summary = Summary(firstLine, simStart, std::chrono::steady_clock::now() - wallStart, !completed);
    if (reported) summary.ReportFile = (run_->ImageFolder() / kNightReportFileName).string();
    PrintRunSummary(summary, options_.jsonEvents);
    Conclude(completed, firstLine, summary);
    LingerForThePage();
  }

 private:
  // Faults of the simulated night, each at its time.
  bool ScheduleFaults() {
    if (!options_.rainAt.empty() && !ParseUt(options_.rainAt)) {
      context_.UsageError("--rain-at needs a UT as YYYY-MM-DD HH:MM:SS: " + options_.rainAt);
      return false;
    }
    if (!options_.cameraTimeoutAt.empty() && !ParseUt(options_.cameraTimeoutAt)) {
      context_.UsageError("--camera-timeout-at needs a UT as YYYY-MM-DD HH:MM:SS: " + options_.cameraTimeoutAt);
      return false;
    }
    faults_ = std::make_unique<SimulatedFaults>(*station_);
    faults_->OnFault = [this](const std::string& what) { Event("fault", {{"what", what}}); };
    if (auto at = ParseUt(options_.rainAt)) faults_->RainAt(*at);
    if (auto at = ParseUt(options_.cameraTimeoutAt)) faults_->CameraTimeoutAt(*at);
    return true;
  }

  // Those following the status page see how the night ended before the page goes; a signal
  // ends the wait at once.
  void LingerForThePage() {
    if (!status_) return;
    const auto until = std::chrono::steady_clock::now() + kPageLinger;
    while (std::chrono::steady_clock::now() < until && stop_signal::First() == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }

  // The status page, when the setting StatusPage (or --status-page) names an address.
  bool StartStatusPage() {
    const std::string address = options_.statusPage.empty() ? station_->Settings.StatusPage : options_.statusPage;
    if (address.empty()) return true;
    status_ = std::make_unique<StatusService>(*station_);
    std::string error;
    if (status_->Start(address, &error)) {
      if (!options_.jsonEvents) std::cerr << "Status page: http://" << address.substr(0, address.rfind(':')) << ":"
                                          << status_->Port() << "/\n";
      Event("status-page", {{"port", status_->Port()}});
      return true;
    }
    status_.reset();
    context_.Fail("The status page did not start: " + error);
    return false;
  }

  bool SetUp() {
    if (options_.simulate && !ScheduleFaults()) return false;
    NightOptions night;
    night.Simulate = options_.simulate;
    night.Cloudy = options_.cloudy;
    night.Corrections = !options_.noCorrections;
    night.CloseRoofAtEnd = !options_.leaveRoofOpen;
    night.Stacking = options_.stacking;
    night.Guiding = options_.guiding;
    night.ImageFolder = options_.images;
    PreparedNight prepared = PrepareNight(*station_, night);
    for (const auto& note : prepared.Notes) context_.Note(note);
    run_ = std::make_unique<PlanRun>(*station_, prepared.Options);
    return true;
  }

  void Follow() {
    RunEvents& events = run_->Events;
    events.RowStarted = [this](int row, const std::string& object) { RowStarted(row, object); };
    events.ImageStarted = [this](int image, int images, const std::string& filter) {
      Event("image", {{"image", image}, {"images", images}, {"filter", filter}});
      progress_ = "image " + std::to_string(image) + "/" + std::to_string(images) + " filter " + filter;
      ShowProgress();
    };
    events.FileSaved = [this](const std::string& file, bool stack) {
      (stack ? stacks_ : images_).push_back(file);
      Event("saved", {{"file", file}, {"stack", stack}});
    };
  }

  void RowStarted(int row, const std::string& object) {
    ++rows_;
    row_ = "row " + std::to_string(row) + (object.empty() ? "" : " " + object);
    progress_.clear();
    Event("row", {{"row", row}, {"object", object}});
    ShowProgress();
  }

  // The exit status: a signal's, else the first thing that did not happen.
  // The exit status: a signal first (128 + N), then a night that did not end safely, an
  // aborted run, and last a night that ran to its end without doing all it was asked (3).
  void Conclude(bool completed, size_t firstLine, const RunSummary& summary) {
    const CleanUpOutcome& end = run_->EndState;
    if (signals_->Received() != 0) {
      const int number = signals_->Received();
      return context_.Fail(std::string("The run was stopped by ") + stop_signal::Name(number), 128 + number);
    }
    if (end.Failed) return context_.Fail("The night did not end safely: " + RoofEndText());
    if (!completed) return context_.Fail("The run was aborted: " + AbortReason(firstLine));
    if (!summary.AllDone()) context_.Fail(NotDoneText(summary), kRowsNotDoneExitCode);
  }

  std::string RoofEndText() const {
    const CleanUpOutcome& end = run_->EndState;
    if (end.Parked && !*end.Parked) return "the telescope was not parked and the roof is not closed";
    return "the roof is not closed (" + station_->Status() + ")";
  }

  void LogLine(long index) {
    if (!logErrorSaid_ && !station_->Log.FileError().empty()) {
      logErrorSaid_ = true;
      context_.Note("The log cannot be written as it goes: " + station_->Log.FileError() +
                    "; a copy goes to the station folder at the end");
    }
    if (index < 0) return;
    const std::string& line = station_->Log.Lines()[static_cast<size_t>(index)];
    Event("log", {{"line", line}});
  }

  void Event(const char* kind, nlohmann::ordered_json fields) {
    if (!options_.jsonEvents) return;
    nlohmann::ordered_json out = {{"event", kind}, {"ut", FormatDateTime(runtime_->UtcNow())}};
    for (auto& [key, value] : fields.items()) out[key] = value;
    std::cout << out.dump() << "\n" << std::flush;
  }

  void ShowProgress() {
    if (options_.jsonEvents || !isatty(STDOUT_FILENO)) return;
    std::string line =
        FormatDateTime(runtime_->UtcNow()) + " UT  " + row_ + (progress_.empty() ? "" : "  " + progress_);
    if (line.size() > 110) line.resize(110);
    std::cout << "\r" << line << std::string(110 - line.size(), ' ') << std::flush;
  }

  // Why the run stopped, in the words of the log: the rain emergency, a roof alarm, or the
  // last error the run logged; else the status bar.
  std::string AbortReason(size_t firstLine) const {
    const auto& lines = station_->Log.Lines();
    const RoofAlarm alarm = station_->Run.RoofErrorState;
    for (size_t i = lines.size(); i > firstLine; --i) {
      const std::string& line = lines[i - 1];
      if (line.find("Emergency! Going to park position") != std::string::npos) {
        return alarm == RoofAlarm::CloseFailed ? "rain: the telescope was parked, but the roof did not close (ALARM 1)"
                                               : "rain: the telescope was parked and the roof closed";
      }
    }
    if (alarm == RoofAlarm::RainNotParked) return "rain with the roof open and the telescope not parked (ALARM 2)";
    for (size_t i = lines.size(); i > firstLine; --i) {
      const std::string lower = ToLowerAscii(lines[i - 1]);
      if (lower.find("error") != std::string::npos || lower.find("cannot") != std::string::npos ||
          lower.find("not open") != std::string::npos || lower.find("failed") != std::string::npos) {
        const std::string& line = lines[i - 1];
        const size_t text = line.find(": ");
        return text == std::string::npos ? line : std::string(TrimBlanks(line.substr(text + 2)));
      }
    }
    return station_->Status();
  }

  RunSummary Summary(size_t firstLine, DateTime simStart, std::chrono::steady_clock::duration wall, bool aborted) {
    if (!options_.jsonEvents && isatty(STDOUT_FILENO)) std::cout << "\n";
    const auto& lines = station_->Log.Lines();
    RunSummary summary;
    for (size_t i = firstLine; i < lines.size(); ++i) {
      const std::string lower = ToLowerAscii(lines[i]);
      if (lower.find("error") != std::string::npos || lower.find("not visible") != std::string::npos ||
          lower.find("cannot save") != std::string::npos || lower.find("emergency") != std::string::npos) {
        ++summary.Errors;
      }
    }
    summary.Rows = rows_;
    summary.Images = images_.size();
    summary.Stacks = stacks_.size();
    summary.Aborted = aborted;
    summary.Simulated = options_.simulate;
    summary.Hours = (runtime_->UtcNow() - simStart) * 24.0;
    summary.WallSeconds = std::chrono::duration<double>(wall).count();
    summary.ImageFolder = run_->ImageFolder().string();
    const CleanUpOutcome& end = run_->EndState;
    summary.LogFile = ((end.LogSaved ? run_->ImageFolder() : station_->Paths.Home) / kLogFileName).string();
    summary.LogSaved = end.LogSaved;
    summary.RoofClosed = end.RoofClosed;
    summary.Parked = end.Parked;
    summary.Resumed = run_->Resume.has_value();
    if (signals_->Received() != 0) summary.Signal = stop_signal::Name(signals_->Received());
    summary.EmptyPlan = !PlanHasRows(station_->Planer1);
    summary.Account = AccountRows(station_->Run.Timeline);
    summary.Timeline = station_->Run.Timeline;
    return summary;
  }

  CliContext& context_;
  const RunFlags& options_;
  CommandPrompts ui_;
  std::unique_ptr<EventRuntime> runtime_;
  std::unique_ptr<StationCore> station_;
  std::unique_ptr<PlanRun> run_;
  std::unique_ptr<SimulatedFaults> faults_;
  std::unique_ptr<RunSignals> signals_;
  std::unique_ptr<StatusService> status_;
  bool logErrorSaid_ = false;
  int rows_ = 0;
  std::vector<std::string> images_;
  std::vector<std::string> stacks_;
  std::string row_;
  std::string progress_;
};

}  // namespace

void RegisterRunCommands(CLI::App& app, CliContext& context) {
  auto check = std::make_shared<CheckOptions>();
  CLI::App* checkCmd =
      app.add_subcommand("check", "The test run of a plan: what it would do, and the problems it finds");
  checkCmd->add_option("plan", check->plan, "Plan file")->required();
  checkCmd->add_option("--start", check->start, "UT the test run starts at (YYYY-MM-DD HH:MM:SS; default now)");
  checkCmd->add_flag("--json", check->json, "Print JSON");
  checkCmd->add_option("--timeline", check->timeline, "Also draw the rows on a time line into this PNG (or .jpg) file");
  checkCmd->add_option("--report", check->report,
                       "Write the forecast of the night to this HTML file (default: night.html in the station folder)");
  checkCmd->callback([&context, check] { RunCheck(context, *check); });

  auto report = std::make_shared<ReportOptions>();
  CLI::App* reportCmd =
      app.add_subcommand("report", "Make a night's report (night.html) anew from its folder: log, journal, images");
  reportCmd->add_option("folder", report->folder, "The night's image folder")->required();
  reportCmd->add_option("--output", report->output, "Write the report here (default: night.html in the folder)");
  reportCmd->callback([&context, report] { RebuildReport(context, *report); });

  auto run = std::make_shared<RunFlags>();
  CLI::App* runCmd =
      app.add_subcommand("run", "Run a plan on the station's devices, or simulated on the built-in simulators");
  runCmd->add_option("plan", run->plan, "Plan file")->required();
  runCmd->add_flag("--simulate", run->simulate, "The built-in simulators on a simulated clock: a night in seconds");
  runCmd->add_option("--start", run->start,
                     "Simulated UT to start at (default: this evening at the plan's first time)");
  runCmd->add_option("--images", run->images, "Folder for the images (default: images in the station folder)");
  runCmd->add_flag("--yes", run->yes, "Answer Yes to the start checks' questions (a risky start goes ahead)");
  runCmd->add_flag("--json-events", run->jsonEvents, "One JSON object per step on standard output");
  runCmd->add_flag("--no-corrections", run->noCorrections, "Run without dark and flat corrections");
  runCmd->add_flag("--leave-roof-open", run->leaveRoofOpen, "Do not close the roof at the end");
  runCmd->add_flag("--allow-simulated-telescope", run->allowSimulatedTelescope,
                   "Let a real roof move behind the simulated telescope");
  runCmd->add_flag("--stacking", run->stacking, "Stack each row's images per filter");
  runCmd->add_flag("--guiding", run->guiding, "Guide on the images (star guiding)");
  runCmd->add_option("--rain-at", run->rainAt, "Simulation: the rain sensor goes wet at this UT");
  runCmd->add_option("--camera-timeout-at", run->cameraTimeoutAt, "Simulation: the camera stops delivering at this UT");
  runCmd->add_flag("--cloudy", run->cloudy, "Simulation: no stars");
  runCmd->add_option("--timeline", run->timeline,
                     "Draw the rows on a time line into this PNG (or .jpg) file at the end");
  runCmd->add_flag("--resume", run->resume,
                   "Go on with the night the image folder's journal recorded as cut short (finished rows and saved "
                   "images are not taken again)");
  runCmd
      ->add_option("--pace", run->pace,
                   "Simulation: simulated seconds per second, so the night can be watched (default: as fast as it goes)")
      ->check(CLI::PositiveNumber);
  runCmd->add_option("--status-page", run->statusPage,
                     "Serve the read-only status page at HOST:PORT (default: the setting StatusPage)");
  runCmd->callback([&context, run] { NightRun(context, *run).Run(); });
}

}  // namespace noctarbel::cli
