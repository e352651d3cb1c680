#include "station/heartbeat.h"

#include <unistd.h>

#include <chrono>
#include <ctime>
#include <utility>

#include "common/number_text.h"
#include "common/text_file.h"
#include "station/ini_file.h"

namespace noctarbel {

namespace {

constexpr const char* kSection = "Heartbeat";

std::optional<long long> WholeNumber(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  const std::string trimmed(TrimBlanks(*text));
  if (trimmed.empty() || trimmed.size() > 18) return std::nullopt;
  long long value = 0;
  for (char c : trimmed) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

bool Flag(const IniFile& ini, const char* key) {
  const auto value = ini.Get(kSection, key);
  return value && TrimBlanks(*value) == "1";
}

}  // namespace

std::string RoofStateWord(RoofState roof) {
  switch (roof) {
    case RoofState::Open:
      return "open";
    case RoofState::Closed:
      return "closed";
    case RoofState::Undetermined:
      break;
  }
  return "undetermined";
}

std::string RainStateWord(RainState rain) {
  switch (rain) {
    case RainState::Wet:
      return "wet";
    case RainState::Dry:
      return "dry";
    case RainState::Unknown:
      break;
  }
  return "unknown";
}

std::string UnixTimeText(long long unixTime) {
  const std::time_t t = static_cast<std::time_t>(unixTime);
  std::tm parts{};
  gmtime_r(&t, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  return text;
}

long long UnixTimeNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::filesystem::path HeartbeatPath(const std::filesystem::path& stationFolder) {
  return stationFolder / kHeartbeatFileName;
}

std::string HeartbeatText(const Heartbeat& beat) {
  IniFile ini;
  ini.Set(kSection, "Time", UnixTimeText(beat.UnixTime) + " UT");
  ini.Set(kSection, "UnixTime", std::to_string(beat.UnixTime));
  ini.Set(kSection, "Pid", std::to_string(beat.Pid));
  ini.Set(kSection, "RunActive", beat.RunActive ? "1" : "0");
  ini.Set(kSection, "Status", PrintableText(beat.Status));
  ini.Set(kSection, "Roof", RoofStateWord(beat.Roof));
  ini.Set(kSection, "Rain", RainStateWord(beat.Rain));
  ini.Set(kSection, "Mount", beat.MountConnected ? "connected" : "none");
  ini.Set(kSection, "LogFolder", beat.LogFolder);
  ini.Set(kSection, "Ended", beat.Ended ? "1" : "0");
  return ini.Serialize();
}

bool WriteHeartbeat(const std::filesystem::path& path, const Heartbeat& beat, std::string* error) {
  return WriteFileAtomically(path, HeartbeatText(beat), error);
}

std::optional<Heartbeat> ReadHeartbeat(const std::filesystem::path& path, std::string* error) {
  if (error) error->clear();
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return std::nullopt;
  const IniFile ini = IniFile::Load(path);
  const auto unixTime = WholeNumber(ini.Get(kSection, "UnixTime"));
  const auto pid = WholeNumber(ini.Get(kSection, "Pid"));
  if (!unixTime || !pid || *pid <= 0 || *pid > 0x7fffffff) {
    if (error) *error = path.string() + " holds no time and process id";
    return std::nullopt;
  }
  Heartbeat beat;
  beat.UnixTime = *unixTime;
  beat.Pid = static_cast<pid_t>(*pid);
  beat.RunActive = Flag(ini, "RunActive");
  beat.Ended = Flag(ini, "Ended");
  beat.Status = ini.Get(kSection, "Status").value_or("");
  const std::string roof(TrimBlanks(ini.Get(kSection, "Roof").value_or("")));
  beat.Roof = roof == "open" ? RoofState::Open : roof == "closed" ? RoofState::Closed : RoofState::Undetermined;
  const std::string rain(TrimBlanks(ini.Get(kSection, "Rain").value_or("")));
  beat.Rain = rain == "wet" ? RainState::Wet : rain == "dry" ? RainState::Dry : RainState::Unknown;
  beat.MountConnected = TrimBlanks(ini.Get(kSection, "Mount").value_or("")) == "connected";
  beat.LogFolder = ini.Get(kSection, "LogFolder").value_or("");
  return beat;
}

bool HeartbeatWriter::Beat(Heartbeat beat) {
  beat.UnixTime = UnixTimeNow();
  beat.Pid = ::getpid();
  last_ = beat;
  std::string error;
  if (WriteHeartbeat(path_, beat, &error)) {
    failing_ = false;
    return true;
  }
  if (!failing_) problem_ = "The heartbeat was not written: " + error;
  failing_ = true;
  return false;
}

void HeartbeatWriter::Refresh(int seconds) {
  if (last_ && !last_->Ended && UnixTimeNow() - last_->UnixTime >= seconds) Beat(*last_);
}

void HeartbeatWriter::End() {
  if (!last_ || last_->Ended) return;
  // Another station of this folder beats now: its heartbeat is not ours to end.
  std::string error;
  const std::optional<Heartbeat> current = ReadHeartbeat(path_, &error);
  if (current && current->Pid != last_->Pid) return;
  Heartbeat beat = *last_;
  beat.Ended = true;
  beat.RunActive = false;
  Beat(beat);
}

std::string HeartbeatWriter::TakeProblem() { return std::exchange(problem_, std::string()); }

}  // namespace noctarbel
