// noctarbel-cli "watch": the watchdog, a process apart from the station (meant to run as a
// system service) that makes the observatory safe when the station cannot. It reads the
// station's heartbeat; a station that stopped beating or whose process is gone, with a run
// active or the roof not known closed, is taken over: the telescope parked, the roof closed
// behind that park, what was done logged and the operator notified. It never fights a living
// station and never asks anything.

#include <CLI/CLI.hpp>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <thread>

#include "cli/cli_context.h"
#include "cli/commands.h"
#include "common/event_runtime.h"
#include "common/stop_signal.h"
#include "common/text_file.h"
#include "operations/watchdog_operations.h"
#include "station/notify_command.h"

namespace noctarbel::cli {

namespace {

inline constexpr const char* kWatchdogLogName = "watchdog.log";
constexpr int kCheckEveryMs = 1000;

struct WatchOptions {
  int limitSeconds = 0;  // 0: the setting WatchdogLimit
  bool once = false;
};

// A signal ends the watch at its next check; a take-over under way is finished first (a roof
// left half-closed is worse than a late stop).
bool Signalled() { return stop_signal::First() != 0; }

// A line added at the end of a text file (the watchdog's own log).
void AppendLine(const std::filesystem::path& file, const std::string& line) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const std::string text = line + "\r\n";
  [[maybe_unused]] const ssize_t written = ::write(fd, text.data(), text.size());
  ::close(fd);
}

// Lines added to the station's log file, replaced as a whole like every station file.
void AppendToStationLog(const std::filesystem::path& folder, const std::vector<std::string>& lines) {
  if (folder.empty()) return;
  const std::filesystem::path file = folder / kLogFileName;
  std::string text;
  ReadSmallFile(file, text);
  if (!text.empty() && text.back() != '\n') text += "\r\n";
  text += JoinLinesCrLf(lines);
  WriteFileAtomically(file, text);
}

class Watchdog {
 public:
  Watchdog(CliContext& context, const WatchOptions& options) : context_(context), options_(options) {}

  void Run() {
    if (!context_.EnsureStationFolder()) return;
    home_ = context_.Paths().Home;
    if (options_.limitSeconds == 0) options_.limitSeconds = LoadSettingsFile(home_ / kSettingsFileName).WatchdogLimit;
    stop_signal::Install();
    if (!options_.once) Log("Watching " + HeartbeatPath(home_).string() + " (limit " + std::to_string(options_.limitSeconds) + " s)");
    while (!Signalled()) {
      const bool goOn = Check();
      if (options_.once || !goOn) return;
      for (int waited = 0; waited < kCheckEveryMs && !Signalled(); waited += 100) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    }
    Log(std::string("Watch ended by ") + stop_signal::Name(stop_signal::First()));
  }

 private:
  // One look at the heartbeat; false when the watch must end (a take-over failed).
  bool Check() {
    std::string error;
    const std::optional<Heartbeat> beat = ReadHeartbeat(HeartbeatPath(home_), &error);
    if (!beat) {
      if (!error.empty()) {
        if (options_.once) {
          context_.Fail("Cannot read the heartbeat: " + error);
        } else {
          Say("Cannot read the heartbeat: " + error);
        }
      } else {
        Say("No station heartbeat in " + home_.string() + ": nothing to watch");
      }
      return true;
    }
    const long long age = UnixTimeNow() - beat->UnixTime;
    const WatchJudgement judgement = JudgeHeartbeat(*beat, age, options_.limitSeconds, ProcessAlive(beat->Pid));
    if (judgement.Verdict != WatchVerdict::TakeOver) {
      Say(Capitalised(judgement.Why));
      return true;
    }
    if (handledPid_ == beat->Pid && handledTime_ == beat->UnixTime) return true;
    handledPid_ = beat->Pid;
    handledTime_ = beat->UnixTime;
    return MakeSafe(*beat, judgement.Why);
  }

  bool MakeSafe(const Heartbeat& beat, const std::string& why) {
    Log("Taking over: " + why);
    auto runtime = EventRuntime::WithRealClock();
    StationCore core(*runtime, context_.Paths());
    core.Settings = LoadSettingsFile(core.SettingsFilePath());
    OperationContext op = core.BeginOperation();
    const TakeOverResult result = TakeOver(core, op);
    std::vector<std::string> stationLines;
    for (const std::string& step : result.Steps) {
      Log(step);
      stationLines.push_back(UnixTimeText(UnixTimeNow()) + " UT: Watchdog: " + step);
    }
    const std::string message = "Noctarbel watchdog: " + why + ": " + JoinSteps(result.Steps) +
                                (result.Ok ? "" : ": the observatory is NOT safe");
    Log(result.Ok ? "Observatory made safe" : "The observatory could not be made safe");
    AppendToStationLog(beat.LogFolder, stationLines);
    if (result.Ok) MarkMadeSafe(beat);
    Notify(core.Settings.NotifyCommand, result.Ok, message);
    if (!result.Ok) {
      context_.Fail(message);
      return false;
    }
    std::cout << message << std::endl;
    return true;
  }

  // The heartbeat says the station ended, so that a restarted watchdog does not take the
  // devices over again; left alone when a new station has beaten meanwhile.
  void MarkMadeSafe(const Heartbeat& beat) {
    std::string error;
    const std::optional<Heartbeat> now = ReadHeartbeat(HeartbeatPath(home_), &error);
    if (!now || now->Pid != beat.Pid || now->UnixTime != beat.UnixTime) return;
    Heartbeat safe = beat;
    safe.Ended = true;
    safe.RunActive = false;
    safe.Roof = RoofState::Closed;
    safe.Status = "Made safe by the watchdog";
    if (!WriteHeartbeat(HeartbeatPath(home_), safe, &error)) Log("The heartbeat was not marked: " + error);
  }

  void Notify(const std::string& command, bool ok, const std::string& message) {
    if (command.empty()) return;
    const NotifyResult result = RunNotifyCommand(command, {"station-died", ok ? "safe" : "failed"}, message);
    if (result.Ok) {
      Log("Notify command ran");
    } else {
      Log("Notify command failed: " + result.Error);
      context_.Note("Notify command failed: " + result.Error);
    }
  }

  static std::string JoinSteps(const std::vector<std::string>& steps) {
    std::string text;
    for (const std::string& step : steps) text += (text.empty() ? "" : "; ") + step;
    return text;
  }

  static std::string Capitalised(std::string text) {
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text;
  }

  // What the watch sees, printed and logged when it changes (every time with --once).
  void Say(const std::string& line) {
    if (line == lastSaid_ && !options_.once) return;
    lastSaid_ = line;
    std::cout << line << std::endl;
    if (!options_.once) AppendLine(home_ / kWatchdogLogName, UnixTimeText(UnixTimeNow()) + " UT  " + line);
  }

  void Log(const std::string& line) {
    AppendLine(home_ / kWatchdogLogName, UnixTimeText(UnixTimeNow()) + " UT  " + line);
  }

  CliContext& context_;
  WatchOptions options_;
  std::filesystem::path home_;
  std::string lastSaid_;
  pid_t handledPid_ = 0;
  long long handledTime_ = 0;
};

}  // namespace

void RegisterWatchCommands(CLI::App& app, CliContext& context) {
  auto options = std::make_shared<WatchOptions>();
  CLI::App* cmd = app.add_subcommand(
      "watch", "Watch the station's heartbeat; when the station dies, park the telescope and close the roof");
  cmd->add_option("--limit", options->limitSeconds,
                  "Seconds without a heartbeat after which a station counts as dead (default: the setting "
                  "WatchdogLimit, 30)")
      ->check(CLI::Range(5, 3600));
  cmd->add_flag("--once", options->once, "Look once, act if needed and exit (default: keep watching)");
  cmd->callback([&context, options] { Watchdog(context, *options).Run(); });
}

}  // namespace noctarbel::cli
