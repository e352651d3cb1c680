#include "station/setting_rules.h"

#include "common/number_text.h"
#include "common/text_file.h"

namespace noctarbel {

namespace {

using S = SettingsRecord;

// The value exactly as held, so that a change in the last digit shows.
std::string ExactValue(const SettingsRecord& s, const SettingKey& key) {
  switch (key.type) {
    case SettingType::Double:
      return FormatShortest(s.*std::get<double S::*>(key.field));
    case SettingType::Single:
      return FormatShortest(static_cast<double>(s.*std::get<float S::*>(key.field)));
    case SettingType::String:
      return s.*std::get<std::string S::*>(key.field);
    default:
      return FormatSettingValue(s, key);
  }
}

// Converts and range-checks the text as the dialog's field for the key would.
std::optional<std::string> ConvertLikeTheDialog(SettingsRecord& settings, const SettingKey& key,
                                                const std::string& text) {
  if (const ValidatedSetting* field = FindValidatedSetting(key.key)) {
    if (!StoreValidated(settings, key, text)) return std::string(field->Message);
    return std::nullopt;
  }
  const SettingRule* rule = FindSettingRule(key.key);
  switch (key.type) {
    case SettingType::String:
      if (RemoveControlCharacters(text) != text) return std::string(key.key) + " must not hold control characters";
      settings.*std::get<std::string S::*>(key.field) = text;
      return std::nullopt;
    case SettingType::Bool: {
      auto v = ParseInt(text);
      if (!v || (*v != 0 && *v != 1)) return std::string(key.key) + " must be 0 or 1";
      settings.*std::get<bool S::*>(key.field) = *v != 0;
      return std::nullopt;
    }
    case SettingType::Int: {
      auto v = ParseInt(text);
      const bool ranged = rule && (rule->Entry == SettingEntry::Spin || rule->Entry == SettingEntry::Radio);
      if (!v || (ranged && (*v < rule->Min || *v > rule->Max))) {
        if (!ranged) return std::string(key.key) + " must be an integer";
        return std::string(key.key) + " must be an integer from " + std::to_string(rule->Min) + " to " +
               std::to_string(rule->Max);
      }
      settings.*std::get<int S::*>(key.field) = *v;
      return std::nullopt;
    }
    default:
      if (!ParseSettingValue(settings, key, text)) return std::string(key.key) + " must be a number";
      return std::nullopt;
  }
}

// A value the dialog would show differently (rounded to its decimals, blanks trimmed) would be
// saved differently the next time OK is pressed; and a key the loader never reads comes back
// as its default. Such a value is refused rather than silently changed.
std::optional<std::string> ChangedByTheDialog(const SettingsRecord& settings, const SettingKey& key,
                                              const std::string& text) {
  if (!key.readFromFile) {
    if (ExactValue(settings, key) == ExactValue(SettingsRecord{}, key)) return std::nullopt;
    return std::string(key.key) + " cannot be changed: it is always " + ExactValue(SettingsRecord{}, key);
  }
  const SettingRule* rule = FindSettingRule(key.key);
  const SettingEntry entry = rule ? rule->Entry : SettingEntry::Text;
  if (entry == SettingEntry::Check || entry == SettingEntry::Spin || entry == SettingEntry::Radio) return std::nullopt;
  const std::string shownText = ShowSettingText(settings, key, entry);
  SettingsRecord back = settings;
  const bool same = key.type == SettingType::String
                        ? shownText == text
                        : StoreValidated(back, key, shownText) && ExactValue(back, key) == ExactValue(settings, key);
  if (same) return std::nullopt;
  return std::string(key.key) + " cannot hold \"" + text + "\": the settings dialog keeps it as \"" + shownText + "\"";
}

}  // namespace

const std::vector<SettingRule>& SettingRules() {
  static const std::vector<SettingRule> rules = {
      {"EnableObservatoryControl", SettingEntry::Check},
      {"Comport1", SettingEntry::Spin, 0, 99},
      {"TempComport1", SettingEntry::Spin, 0, 99},
      {"Glaenge", SettingEntry::General},
      {"Gbreite", SettingEntry::General},
      {"Horizontdatei", SettingEntry::Text},
      {"TelescopeObject", SettingEntry::Text},
      {"ParkMethod", SettingEntry::Radio, 0, 1},
      {"Park1Az", SettingEntry::General},
      {"Park1Alt", SettingEntry::General},
      {"Park1Pierside", SettingEntry::Radio, 0, 1},
      {"Park2Az", SettingEntry::General},
      {"Park2Alt", SettingEntry::General},
      {"Park2Pierside", SettingEntry::Radio, 0, 1},
      {"HomeAz", SettingEntry::General},
      {"HomeAlt", SettingEntry::General},
      {"HomePierside", SettingEntry::Radio, 0, 1},
      {"TrackingRange", SettingEntry::Spin, 10, 100},
      {"PulseGuideSpeed", SettingEntry::Spin, 1, 20},
      {"InvertRAguiding", SettingEntry::Check},
      {"InvertDECguiding", SettingEntry::Check},
      {"InvertPiersideguiding", SettingEntry::Check},
      {"OvercorrectionGuiding", SettingEntry::Spin, 0, 10},
      {"SyncRange", SettingEntry::Spin, 3, 30},
      {"MeridianFlip", SettingEntry::Check},
      {"MeridianFlipMinutes", SettingEntry::Spin, 0, 60},
      {"MeridianFlipPause", SettingEntry::Spin, 0, 600},
      {"MeridianFlipCentre", SettingEntry::Check},
      {"MeridianFlipAutofocus", SettingEntry::Check},
      {"CameraObject", SettingEntry::Text},
      {"ArcsecX", SettingEntry::General},
      {"ArcsecY", SettingEntry::General},
      {"CameraReadTime", SettingEntry::Spin, 0, 99},
      {"CameraTimeout", SettingEntry::Spin, 10, 99},
      {"CameraPauseTime", SettingEntry::Spin, 0, 99},
      {"DSLRautodark", SettingEntry::Check},
      {"CameraCoolerTemp", SettingEntry::Spin, -99, 20},
      {"CameraPiersideRotate", SettingEntry::Radio, 0, 2},
      {"CameraMode", SettingEntry::Radio, 0, 2},
      {"CamCOMport", SettingEntry::Spin, 1, 99},
      {"CameraRotation", SettingEntry::Spin, 0, 359},
      {"SyncBinning", SettingEntry::Spin, 1, 3},
      {"HistogramMaxLevel", SettingEntry::General},
      {"ConvRaw2Fits", SettingEntry::Check},
      {"RootImagePath", SettingEntry::Text},
      {"WebmonitorPathname", SettingEntry::Text},
      {"FocuserObject", SettingEntry::Text},
      {"FilterwheelObject", SettingEntry::Text},
      {"Standardfilter", SettingEntry::Spin, 1, 9},
      {"Darkfilter", SettingEntry::Spin, 0, 9},
      {"FilternamesFromFile", SettingEntry::Radio, 0, 1},
      {"AFexptime", SettingEntry::Fixed1},
      {"AFsubframe", SettingEntry::Spin, 150, 500},
      {"AFbinning", SettingEntry::Spin, 1, 4},
      {"AFposition", SettingEntry::IntText},
      {"AFHFDlow", SettingEntry::Fixed2},
      {"AFLslope", SettingEntry::Fixed5},
      {"AFRslope", SettingEntry::Fixed5},
      {"AFLic", SettingEntry::Fixed5},
      {"AFRic", SettingEntry::Fixed5},
      {"AFrange", SettingEntry::IntText},
      {"SpectrumRA", SettingEntry::Fixed2},
      {"SpectrumFilt", SettingEntry::Spin, 0, 9},
      {"SpectrumMirror", SettingEntry::Radio, 0, 3},
      {"Observername", SettingEntry::Text},
      {"TelescopeDescription", SettingEntry::Text},
      {"ProfileName", SettingEntry::Profile},
      {"SerialPortPattern", SettingEntry::Text},
      {"ShutdownCommand", SettingEntry::Text},
      {"IndiServers", SettingEntry::Text},
      {"AlpacaHosts", SettingEntry::Text},
      {"AllowSimulatedTelescope", SettingEntry::Check},
      {"NotifyCommand", SettingEntry::Text},
      {"WatchdogLimit", SettingEntry::Spin, 5, 3600},
      {"StatusPage", SettingEntry::Text},
      {"StatusToken", SettingEntry::Text},
      {"FilterNumber", SettingEntry::Spin, 0, 9},
      {"CameraMaxBinning", SettingEntry::Spin, 0, 16},
      {"SimMountLimit", SettingEntry::Spin, 1, 90},
  };
  return rules;
}

const SettingRule* FindSettingRule(const std::string& key) {
  for (const auto& rule : SettingRules()) {
    if (EqualsIgnoreCase(rule.Key, key)) return &rule;
  }
  return nullptr;
}

const std::vector<ValidatedSetting>& ValidatedSettings() {
  static const std::vector<ValidatedSetting> fields = {
      {"Glaenge", "Longitude not correct"},
      {"Gbreite", "Latitude not correct"},
      {"Park1Az", "Park pos. 1 Azimuth not correct"},
      {"Park1Alt", "Park pos. 1 Altitude not correct"},
      {"Park2Az", "Park pos. 2 Azimuth not correct"},
      {"Park2Alt", "Park pos. 2 Altitude not correct"},
      {"HomeAz", "Home Azimuth not correct"},
      {"HomeAlt", "Home Altitude not correct"},
      {"ArcsecX", "Arcsec/Pixel(X) not correct"},
      {"ArcsecY", "Arcsec/Pixel(Y) not correct"},
      {"AFexptime", "Autofocus exptime not correct"},
      {"AFposition", "Autofocus focus pos. not correct"},
      {"AFHFDlow", "Autofocus HFD low not correct"},
      {"AFLslope", "Autofocus left slope not correct"},
      {"AFRslope", "Autofocus right slope not correct"},
      {"AFLic", "Autofocus left intercept pos. not correct"},
      {"AFRic", "Autofocus right intercept pos. not correct"},
      {"AFrange", "Autofocus range not correct"},
      {"HistogramMaxLevel", "Histogram max level not correct"},
  };
  return fields;
}

const ValidatedSetting* FindValidatedSetting(const std::string& key) {
  for (const auto& f : ValidatedSettings()) {
    if (EqualsIgnoreCase(f.Key, key)) return &f;
  }
  return nullptr;
}

namespace {

// The site and the mount's stored positions are angles: a number outside its range is as
// wrong as a word (latitude -90..90, longitude -180..180, azimuths 0..360, altitudes -90..90).
struct AngleRange {
  const char* Key;
  double S::*Field;
  double Min;
  double Max;
};

const std::vector<AngleRange>& AngleRanges() {
  static const std::vector<AngleRange> ranges = {
      {"Gbreite", &S::Gbreite, -90, 90},   {"Glaenge", &S::Glaenge, -180, 180}, {"Park1Az", &S::Park1Az, 0, 360},
      {"Park2Az", &S::Park2Az, 0, 360},    {"HomeAz", &S::HomeAz, 0, 360},      {"Park1Alt", &S::Park1Alt, -90, 90},
      {"Park2Alt", &S::Park2Alt, -90, 90}, {"HomeAlt", &S::HomeAlt, -90, 90}};
  return ranges;
}

bool InRange(const AngleRange& range, double value) { return value >= range.Min && value <= range.Max; }

bool OutsideAngleRange(const std::string& key, const std::string& text) {
  for (const AngleRange& range : AngleRanges()) {
    if (!EqualsIgnoreCase(range.Key, key)) continue;
    const auto value = ParseFloat(text);
    return value && !InRange(range, *value);
  }
  return false;
}

}  // namespace

bool StoreValidated(SettingsRecord& settings, const SettingKey& key, const std::string& text) {
  if (OutsideAngleRange(key.key, text)) return false;
  if (key.type == SettingType::Int || key.type == SettingType::IntAsFloat) {
    auto v = ParseInt(text);
    if (!v) return false;
    settings.*std::get<int S::*>(key.field) = *v;
    return true;
  }
  return ParseSettingValue(settings, key, text);
}

std::string ShowSettingText(const SettingsRecord& s, const SettingKey& key, SettingEntry entry) {
  double number = 0;
  switch (key.type) {
    case SettingType::Double:
      number = s.*std::get<double S::*>(key.field);
      break;
    case SettingType::Single:
      number = static_cast<double>(s.*std::get<float S::*>(key.field));
      break;
    case SettingType::Int:
    case SettingType::IntAsFloat:
      return std::to_string(s.*std::get<int S::*>(key.field));
    default:
      return FormatSettingValue(s, key);
  }
  switch (entry) {
    case SettingEntry::Fixed1:
      return FormatFixed(number, 1);
    case SettingEntry::Fixed2:
      return FormatFixed(number, 2);
    case SettingEntry::Fixed5:
      return FormatFixed(number, 5);
    default:
      return FormatGeneral(number, 15);
  }
}

int IntSetting(const SettingsRecord& s, const SettingKey& key) {
  if (key.type == SettingType::Bool) return s.*std::get<bool S::*>(key.field) ? 1 : 0;
  return s.*std::get<int S::*>(key.field);
}

void SetIntSetting(SettingsRecord& s, const SettingKey& key, int value) {
  if (key.type == SettingType::Bool) {
    s.*std::get<bool S::*>(key.field) = value != 0;
  } else {
    s.*std::get<int S::*>(key.field) = value;
  }
}

std::optional<std::string> SetSettingChecked(SettingsRecord& settings, const std::string& name,
                                             const std::string& text) {
  const SettingKey* key = FindSettingKey(name);
  if (!key) return "Unknown setting " + name;
  SettingsRecord changed = settings;
  if (auto error = ConvertLikeTheDialog(changed, *key, text)) return error;
  if (auto error = ChangedByTheDialog(changed, *key, text)) return error;
  settings = std::move(changed);
  return std::nullopt;
}

std::vector<std::string> ReplaceAnglesOutOfRange(SettingsRecord& settings) {
  std::vector<std::string> lines;
  const SettingsRecord defaults;
  for (const AngleRange& range : AngleRanges()) {
    double& value = settings.*range.Field;
    if (InRange(range, value)) continue;
    const double replacement = defaults.*range.Field;
    lines.push_back("Setting " + std::string(range.Key) + "=" + FormatGeneral(value, 15) + " is outside " +
                    FormatGeneral(range.Min, 15) + ".." + FormatGeneral(range.Max, 15) + ": " +
                    FormatGeneral(replacement, 15) + " is used instead");
    value = replacement;
  }
  return lines;
}

}  // namespace noctarbel
