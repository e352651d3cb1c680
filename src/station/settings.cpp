#include "station/settings.h"

#include <cmath>
#include <limits>
#include <set>

#include "station/ini_file.h"
#include "common/number_text.h"
#include "common/text_file.h"

namespace noctarbel {

namespace {

using S = SettingsRecord;
using T = SettingType;

std::vector<SettingKey> BuildKeys() {
  return {
      {"COM", "EnableObservatoryControl", "EnableObservatoryControl", T::Bool, &S::EnableObservatoryControl},
      {"COM", "Comport1", "Comport1", T::Int, &S::Comport1},
      {"COM", "TempComport1", "TempComport1", T::Int, &S::TempComport1},
      {"GEO", "Glaenge", "Glaenge", T::Double, &S::Glaenge},
      {"GEO", "Gbreite", "Gbreite", T::Double, &S::Gbreite},
      {"GEO", "Horizontdatei", "Horizontdatei", T::String, &S::Horizontdatei},
      {"Teleskop", "TelescopeObject", "TelescopeObject", T::String, &S::TelescopeObject},
      {"Teleskop", "ParkMethod", "ParkMethod", T::Int, &S::ParkMethod},
      {"Teleskop", "Park1Az", "Park1AZ", T::Double, &S::Park1Az},
      {"Teleskop", "Park1Alt", "Park1ALT", T::Double, &S::Park1Alt},
      {"Teleskop", "Park1Pierside", "Park1Pierside", T::Int, &S::Park1Pierside},
      {"Teleskop", "Park2Az", "Park2AZ", T::Double, &S::Park2Az},
      {"Teleskop", "Park2Alt", "Park2ALT", T::Double, &S::Park2Alt},
      {"Teleskop", "Park2Pierside", "Park2Pierside", T::Int, &S::Park2Pierside},
      {"Teleskop", "HomeAz", "HomeAZ", T::Double, &S::HomeAz},
      {"Teleskop", "HomeAlt", "HomeALT", T::Double, &S::HomeAlt},
      {"Teleskop", "HomePierside", "HomePierside", T::Int, &S::HomePierside},
      {"Teleskop", "TrackingRange", "TrackingRange", T::Int, &S::TrackingRange},
      {"Teleskop", "PulseGuideSpeed", "PulseGuideSpeed", T::Int, &S::PulseGuideSpeed},
      {"Teleskop", "InvertRAguiding", "InvertRAguiding", T::Bool, &S::InvertRAguiding},
      {"Teleskop", "InvertDECguiding", "InvertDECguiding", T::Bool, &S::InvertDECguiding},
      {"Teleskop", "InvertPiersideguiding", "InvertPiersideguiding", T::Bool, &S::InvertPiersideguiding},
      {"Teleskop", "OvercorrectionGuiding", "OvercorrectionGuiding", T::Int, &S::OvercorrectionGuiding},
      {"Teleskop", "SyncRange", "SyncRange", T::Int, &S::SyncRange},
      {"Teleskop", "MeridianFlip", "MeridianFlip", T::Bool, &S::MeridianFlip},
      {"Teleskop", "MeridianFlipMinutes", "MeridianFlipMinutes", T::Int, &S::MeridianFlipMinutes},
      {"Teleskop", "MeridianFlipPause", "MeridianFlipPause", T::Int, &S::MeridianFlipPause},
      {"Teleskop", "MeridianFlipCentre", "MeridianFlipCentre", T::Bool, &S::MeridianFlipCentre},
      {"Teleskop", "MeridianFlipAutofocus", "MeridianFlipAutofocus", T::Bool, &S::MeridianFlipAutofocus},
      {"Kamera", "CameraObject", "CameraObject", T::String, &S::CameraObject},
      {"Kamera", "ArcsecX", "ArcsecX", T::Double, &S::ArcsecX},
      {"Kamera", "ArcsecY", "ArcsecY", T::Double, &S::ArcsecY},
      {"Kamera", "CameraReadTime", "CameraReadTime", T::Int, &S::CameraReadTime},
      {"Kamera", "CameraTimeout", "CameraTimeout", T::Int, &S::CameraTimeout},
      {"Kamera", "CameraPauseTime", "CameraPauseTime", T::Int, &S::CameraPauseTime},
      {"Kamera", "DSLRautodark", "DSLRautodark", T::Bool, &S::DSLRautodark},
      {"Kamera", "CameraCoolerTemp", "CameraCoolerTemp", T::Int, &S::CameraCoolerTemp},
      {"Kamera", "CameraPiersideRotate", "CameraPiersideRotate", T::Int, &S::CameraPiersideRotate},
      {"Kamera", "CameraMode", "CameraMode", T::Int, &S::CameraMode, false},
      {"Kamera", "CamCOMport", "CamCOMPort", T::Int, &S::CamCOMport},
      {"Kamera", "CameraRotation", "CameraRotation", T::Int, &S::CameraRotation},
      {"Kamera", "SyncBinning", "SyncBinning", T::Int, &S::SyncBinning},
      {"Kamera", "HistogramMaxLevel", "HistogramMaxLevel", T::Double, &S::HistogramMaxLevel},
      {"Kamera", "ConvRaw2Fits", "ConvRaw2Fits", T::Bool, &S::ConvRaw2Fits},
      {"Kamera", "RootImagePath", "RootImagePath", T::String, &S::RootImagePath},
      {"Kamera", "WebmonitorPathname", "WebmonitorPathname", T::String, &S::WebmonitorPathname},
      {"Focuser", "FocuserObject", "FocuserObject", T::String, &S::FocuserObject},
      {"Filterwheel", "FilterwheelObject", "FilterwheelObject", T::String, &S::FilterwheelObject},
      {"Filterwheel", "Standardfilter", "Standardfilter", T::Int, &S::Standardfilter},
      {"Filterwheel", "Darkfilter", "Darkfilter", T::Int, &S::Darkfilter},
      {"Filterwheel", "FilternamesFromFile", "FilternamesFromFile", T::Bool, &S::FilternamesFromFile},
      {"Autofocus", "AFexptime", "AFexptime", T::Single, &S::AFexptime},
      {"Autofocus", "AFsubframe", "AFsubframe", T::Int, &S::AFsubframe},
      {"Autofocus", "AFbinning", "AFbinning", T::Int, &S::AFbinning},
      {"Autofocus", "AFposition", "AFposition", T::IntAsFloat, &S::AFposition},
      {"Autofocus", "AFHFDlow", "AFHFDlow", T::Single, &S::AFHFDlow},
      {"Autofocus", "AFLslope", "AFLslope", T::Single, &S::AFLslope},
      {"Autofocus", "AFRslope", "AFRslope", T::Single, &S::AFRslope},
      {"Autofocus", "AFLic", "AFLic", T::Single, &S::AFLic},
      {"Autofocus", "AFRic", "AFRic", T::Single, &S::AFRic},
      {"Autofocus", "AFrange", "AFrange", T::Int, &S::AFrange},
      {"Spectrum", "SpectrumRA", "SpectrumRA", T::Double, &S::SpectrumRA},
      {"Spectrum", "SpectrumFilt", "SpectrumFilt", T::Int, &S::SpectrumFilt},
      {"Spectrum", "SpectrumMirror", "SpectrumMirror", T::Int, &S::SpectrumMirror},
      {"FITS", "Observername", "Observername", T::String, &S::Observername},
      {"FITS", "TelescopeDescription", "TelescopeDescription", T::String, &S::TelescopeDescription},
      {"Profile", "ProfileName", "ProfileName", T::String, &S::ProfileName},
      {"Linux", "SerialPortPattern", "SerialPortPattern", T::String, &S::SerialPortPattern},
      {"Linux", "ShutdownCommand", "ShutdownCommand", T::String, &S::ShutdownCommand},
      {"Linux", "IndiServers", "IndiServers", T::String, &S::IndiServers},
      {"Linux", "AlpacaHosts", "AlpacaHosts", T::String, &S::AlpacaHosts},
      {"Linux", "AllowSimulatedTelescope", "AllowSimulatedTelescope", T::Bool, &S::AllowSimulatedTelescope},
      {"Linux", "NotifyCommand", "NotifyCommand", T::String, &S::NotifyCommand},
      {"Linux", "WatchdogLimit", "WatchdogLimit", T::Int, &S::WatchdogLimit},
      {"Linux", "StatusPage", "StatusPage", T::String, &S::StatusPage},
      {"Linux", "StatusToken", "StatusToken", T::String, &S::StatusToken},
      {"Linux", "FilterNumber", "FilterNumber", T::Int, &S::FilterNumber},
      {"Linux", "CameraMaxBinning", "CameraMaxBinning", T::Int, &S::CameraMaxBinning},
      {"Linux", "SimMountLimit", "SimMountLimit", T::Int, &S::SimMountLimit},
  };
}

// Paths and names are short; longer text is cut so that a saved file always reads back.
constexpr size_t kMaxSettingText = 4096;

// Strings go into one ini line: line breaks and other control characters cannot be stored,
// and blanks around a value are not read back.
std::string StorableString(std::string_view text) {
  return std::string(TrimBlanks(TruncateUtf8(RemoveControlCharacters(text), kMaxSettingText)));
}

}  // namespace

const std::vector<SettingKey>& SettingKeys() {
  static const std::vector<SettingKey> keys = BuildKeys();
  return keys;
}

const SettingKey* FindSettingKey(std::string_view key) {
  for (const auto& k : SettingKeys()) {
    if (EqualsIgnoreCase(k.key, key)) return &k;
  }
  return nullptr;
}

std::string FormatSettingValue(const SettingsRecord& s, const SettingKey& key) {
  switch (key.type) {
    case T::Bool:
      return s.*std::get<bool S::*>(key.field) ? "1" : "0";
    case T::Int:
      return std::to_string(s.*std::get<int S::*>(key.field));
    case T::Double:
      return FormatGeneral(s.*std::get<double S::*>(key.field), 15);
    case T::Single:
      return FormatGeneral(static_cast<double>(s.*std::get<float S::*>(key.field)), 15);
    case T::IntAsFloat:
      return FormatGeneral(static_cast<double>(s.*std::get<int S::*>(key.field)), 15);
    case T::String:
      return StorableString(s.*std::get<std::string S::*>(key.field));
  }
  return {};
}

bool ParseSettingValue(SettingsRecord& s, const SettingKey& key, std::string_view text) {
  switch (key.type) {
    case T::Bool: {
      auto v = ParseInt(text);
      if (!v) return false;
      s.*std::get<bool S::*>(key.field) = *v != 0;
      return true;
    }
    case T::Int: {
      auto v = ParseInt(text);
      if (!v) return false;
      s.*std::get<int S::*>(key.field) = *v;
      return true;
    }
    case T::Double: {
      auto v = ParseFloat(text);
      if (!v) return false;
      s.*std::get<double S::*>(key.field) = *v;
      return true;
    }
    case T::Single: {
      auto v = ParseFloat(text);
      if (!v || std::fabs(*v) > std::numeric_limits<float>::max()) return false;
      s.*std::get<float S::*>(key.field) = static_cast<float>(*v);
      return true;
    }
    case T::IntAsFloat: {
      auto v = ParseFloat(text);
      if (!v || std::fabs(*v) > std::numeric_limits<int>::max()) return false;
      s.*std::get<int S::*>(key.field) = static_cast<int>(RoundHalfEven(*v));
      return true;
    }
    case T::String:
      s.*std::get<std::string S::*>(key.field) = StorableString(text);
      return true;
  }
  return false;
}

SettingsRecord LoadSettingsFile(const std::filesystem::path& path) {
  SettingsRecord settings;
  IniFile ini = IniFile::Load(path);
  for (const auto& key : SettingKeys()) {
    if (!key.readFromFile) continue;
    if (auto value = ini.Get(key.section, key.loaderKey)) ParseSettingValue(settings, key, *value);
  }
  settings.CameraMode = 0;
  return settings;
}

bool SaveSettingsFile(const std::filesystem::path& path, const SettingsRecord& settings, std::string* error) {
  IniFile existing = IniFile::Load(path);
  std::string out;
  for (const auto& line : existing.Preamble()) {
    out += (line.key.empty() ? line.value : line.key + "=" + line.value) + "\r\n";
  }
  std::set<std::string> ownSections;
  std::vector<std::string> sectionOrder;
  for (const auto& key : SettingKeys()) {
    std::string lower = ToLowerAscii(key.section);
    if (ownSections.insert(lower).second) sectionOrder.push_back(key.section);
  }
  auto isOwnKey = [](const std::string& section, const std::string& name) {
    for (const auto& key : SettingKeys()) {
      if (EqualsIgnoreCase(key.section, section) && EqualsIgnoreCase(key.key, name)) return true;
    }
    return false;
  };
  auto appendForeignLines = [&](const std::string& section) {
    for (const auto& s : existing.Sections()) {
      if (!EqualsIgnoreCase(s.name, section)) continue;
      for (const auto& line : s.lines) {
        if (!line.key.empty() && isOwnKey(section, line.key)) continue;
        out += line.key.empty() ? line.value : line.key + "=" + line.value;
        out += "\r\n";
      }
    }
  };
  for (const auto& section : sectionOrder) {
    out += "[" + section + "]\r\n";
    for (const auto& key : SettingKeys()) {
      if (key.section != section) continue;
      out += std::string(key.key) + "=" + FormatSettingValue(settings, key) + "\r\n";
    }
    appendForeignLines(section);
  }
  // Sections of other programs follow ours, unchanged.
  std::set<std::string> written;
  for (const auto& s : existing.Sections()) {
    std::string lower = ToLowerAscii(s.name);
    if (ownSections.count(lower) || !written.insert(lower).second) continue;
    out += "[" + s.name + "]\r\n";
    for (const auto& line : s.lines) {
      out += line.key.empty() ? line.value : line.key + "=" + line.value;
      out += "\r\n";
    }
  }
  return WriteFileAtomically(path, out, error);
}

}  // namespace noctarbel
