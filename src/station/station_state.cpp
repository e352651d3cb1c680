#include "station/station_state.h"

#include <cstdio>

#include "station/notify_command.h"
#include "station/setting_rules.h"

namespace noctarbel {

StationState::StationState(Runtime& clock, StationPaths paths)
    : Clock(clock), Paths(std::move(paths)), Operations(clock), WaitTimer(clock, 1000) {
  const auto& titles = PlanColumnTitles();
  for (int col = 0; col < static_cast<int>(titles.size()); ++col) Planer1.SetCell(col, 0, titles[col]);
  WaitTimer.SetHandler([this] {
    WaitTimer.Stop();
    --Run.WaitTicks;
    if (Run.WaitTicks > 0) WaitTimer.Start();
  });
}

StationState::~StationState() {
  for (std::thread& notification : notifications_) notification.join();
}

OperationContext StationState::BeginRunOperation() {
  return Operations.Begin([this] { return Run.AbortRequested; });
}

void StationState::SetStatus(const std::string& text) {
  status_ = text;
  if (OnStatus) OnStatus(text);
}

void StationState::LogTimed(const std::string& message) {
  DateTime stamp = Run.TestMode ? Run.TestClock : Clock.LocalNow();
  Log.AppendTimed(stamp, message);
}

void StationState::LogUntimed(const std::string& line) { Log.Append(line); }

bool StationState::StartLogFile(const std::filesystem::path& folder) { return Log.WriteAlongTo(folder); }

bool StationState::SaveLogFile() {
  if (!Log.FileError().empty()) {
    Log.SaveTo(Paths.Home);
    return false;
  }
  if (Log.WritingAlong()) return true;
  const std::filesystem::path folder = ImagePath.empty() ? Paths.Home : ResolveFile(ImagePath);
  return Log.SaveTo(folder);
}

void StationState::LoadSettingsAndTables() {
  Settings = LoadSettingsFile(SettingsFilePath());
  for (const std::string& line : ReplaceAnglesOutOfRange(Settings)) LogUntimed(line);
  LoadFilterTable(Filters, Paths.Home, Settings.FilternamesFromFile);
  LoadFocusTable(Focus, Paths.Home);
}

int StationState::PulseGuideSpeed() {
  const SettingRule* rule = FindSettingRule("PulseGuideSpeed");
  const int given = Settings.PulseGuideSpeed;
  if (!rule || (given >= rule->Min && given <= rule->Max)) return given;
  Settings.PulseGuideSpeed = SettingsRecord{}.PulseGuideSpeed;
  LogTimed(": PulseGuideSpeed " + std::to_string(given) + " is outside " + std::to_string(rule->Min) + ".." +
           std::to_string(rule->Max) + ": " + std::to_string(Settings.PulseGuideSpeed) + " used");
  return Settings.PulseGuideSpeed;
}

std::filesystem::path StationState::SettingsFilePath() const { return Paths.Home / kSettingsFileName; }

std::filesystem::path StationState::ResolveFile(const std::string& name) const {
  std::filesystem::path p(name);
  if (p.is_absolute()) return p;
  return Paths.Home / p;
}

SiteLocation StationState::Site() const { return SiteLocation{Settings.Gbreite, Settings.Glaenge}; }

DeviceContext StationState::MakeDeviceContext() {
  return DeviceContext{Clock, Site(), DeviceServers{Settings.IndiServers, Settings.AlpacaHosts}};
}

void StationState::Notify(const std::string& event, const std::string& message) {
  const std::string command = Settings.NotifyCommand;
  if (command.empty() || Clock.IsVirtual()) return;
  LogTimed(": Notification sent (" + event + ")");
  notifications_.emplace_back([command, event, message] {
    const NotifyResult result = RunNotifyCommand(command, {event}, message);
    if (!result.Ok) std::fprintf(stderr, "The notify command failed: %s\n", result.Error.c_str());
  });
}

}  // namespace noctarbel
