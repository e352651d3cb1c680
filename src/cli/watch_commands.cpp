// noctarbel-cli "watch": the watchdog, a process apart from the station (meant to run as a
// system service) that makes the observatory safe when the station cannot. It reads the
// station's heartbeat; a station that stopped beating or whose process is gone, with a run
// active or the roof not known closed, is taken over: the telescope parked, the roof closed
// behind that park, what was done logged and the operator notified. While no living station
// holds the roof controller, it also looks at the rain itself every few seconds and closes a
// roof left open when rain comes. It never fights a living station and never asks anything.

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
constexpr int kRainLookEverySeconds = 10;

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
          return true;
        }
        Say(lastSaid_, "Cannot read the heartbeat: " + error);
      } else {
        Say(lastSaid_, "No station heartbeat in " + home_.string());
      }
      return LookAtRain({});
    }
    const long long age = UnixTimeNow() - beat->UnixTime;
    const WatchJudgement judgement = JudgeHeartbeat(*beat, age, options_.limitSeconds, ProcessAlive(beat->Pid));
    if (judgement.Verdict == WatchVerdict::TakeOver) {
      if (handledPid_ == beat->Pid && handledTime_ == beat->UnixTime) return LookAtRain(*beat);
      handledPid_ = beat->Pid;
      handledTime_ = beat->UnixTime;
      return MakeSafe(*beat, judgement.Why, "station-died");
    }
    Say(lastSaid_, Capitalised(judgement.Why));
    if (judgement.Verdict == WatchVerdict::Alive) {
      lastRainLook_.reset();  // the station holds the roof: look again as soon as it is gone
      return true;
    }
    return LookAtRain(*beat);
  }

  // No living station holds the roof controller: the watchdog looks at the rain itself (every
  // few seconds, the line taken only for the look) and closes a roof left open when it rains.
  bool LookAtRain(const std::optional<Heartbeat>& beat) {
    const auto now = std::chrono::steady_clock::now();
    if (lastRainLook_ && now - *lastRainLook_ < std::chrono::seconds(kRainLookEverySeconds)) return true;
    lastRainLook_ = now;
    auto runtime = EventRuntime::WithRealClock();
    StationCore core(*runtime, context_.Paths());
    core.Settings = LoadSettingsFile(core.SettingsFilePath());
    if (!core.Observatory.ControlEnabled()) {
      Say(lastRainSaid_, "Observatory control is off: no rain to watch");
      return true;
    }
    OperationContext op = core.BeginOperation();
    const RoofGlance glance = GlanceAtRoof(core, op);
    if (!glance.Read) {
      Say(lastRainSaid_, "The roof controller could not be read: " + glance.Error);
      return true;
    }
    const std::string seen = "no station holds the roof (roof " + RoofStateWord(glance.Roof) + ", rain " +
                             RainStateWord(glance.Rain) + ")";
    Say(lastRainSaid_, Capitalised(seen));
    if (!RainNeedsClosing(glance)) return true;
    return MakeSafe(beat, "rain, and " + seen, "rain-no-station");
  }

  // Takes the devices over. `beat` is the heartbeat of the station that left the observatory
  // (nothing when there is none): its log gets the lines, and it is marked made safe.
  bool MakeSafe(const std::optional<Heartbeat>& beat, const std::string& why, const std::string& event) {
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
    if (beat) {
      AppendToStationLog(beat->LogFolder, stationLines);
      if (result.Ok) MarkMadeSafe(*beat);
    }
    Notify(core.Settings.NotifyCommand, event, result.Ok, message);
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

  void Notify(const std::string& command, const std::string& event, bool ok, const std::string& message) {
    if (command.empty()) return;
    const NotifyResult result = RunNotifyCommand(command, {event, ok ? "safe" : "failed"}, message);
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

  // What the watch sees, printed and logged when it changes from `last` (every time with --once).
  void Say(std::string& last, const std::string& line) {
    if (line == last && !options_.once) return;
    last = line;
    std::cout << line << std::endl;
    if (!options_.once) AppendLine(home_ / kWatchdogLogName, UnixTimeText(UnixTimeNow()) + " UT  " + line);
  }

  void Log(const std::string& line) {
    AppendLine(home_ / kWatchdogLogName, UnixTimeText(UnixTimeNow()) + " UT  " + line);
  }

  CliContext& context_;
  WatchOptions options_;
  std::filesystem::path home_;
  std::string lastSaid_;      // about the station
  std::string lastRainSaid_;  // about the roof and the rain while no station holds them
  std::optional<std::chrono::steady_clock::time_point> lastRainLook_;
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
