#include "operations/station_core.h"

namespace noctarbel {

StationCore::StationCore(Runtime& clock, StationPaths paths)
    : Clock(clock),
      Paths(std::move(paths)),
      Operations(clock),
      Mount(*this),
      Observatory(*this),
      Focuser(*this),
      FilterWheel(*this),
      Camera(*this),
      Autofocus(*this),
      Centring(*this),
      Guiding(*this) {}

StationCore::~StationCore() = default;

OperationContext StationCore::BeginRunOperation() {
  return Operations.Begin([this] { return Run.AbortRequested; });
}

void StationCore::SetStatus(const std::string& text) {
  status_ = text;
  if (OnStatus) OnStatus(text);
}

void StationCore::LogTimed(const std::string& message) {
  DateTime stamp = Run.TestMode ? Run.TestClock : Clock.LocalNow();
  Log.AppendTimed(stamp, message);
}

void StationCore::LogUntimed(const std::string& line) { Log.Append(line); }

bool StationCore::SaveLogFile() {
  const std::filesystem::path folder = ImagePath.empty() ? Paths.Home : ResolveFile(ImagePath);
  return Log.SaveTo(folder);
}

std::filesystem::path StationCore::SettingsFilePath() const { return Paths.Home / kSettingsFileName; }

std::filesystem::path StationCore::ResolveFile(const std::string& name) const {
  std::filesystem::path p(name);
  if (p.is_absolute()) return p;
  return Paths.Home / p;
}

SiteLocation StationCore::Site() const { return SiteLocation{Settings.Gbreite, Settings.Glaenge}; }

DeviceContext StationCore::MakeDeviceContext() { return DeviceContext{Clock, Site(), Settings}; }

}  // namespace noctarbel
