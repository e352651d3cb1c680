#pragma once
// The settings record: one field per key of the settings file "noctarbel.ini", named after
// the key, with its default.

#include <filesystem>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace noctarbel {

inline constexpr const char* kSettingsFileName = "noctarbel.ini";

struct SettingsRecord {
  // COM
  bool EnableObservatoryControl = false;
  int Comport1 = 1;
  int TempComport1 = 0;
  // GEO
  double Glaenge = -8.24889;  // degrees, west positive
  double Gbreite = 49.91806;
  std::string Horizontdatei = "horizon.txt";
  // Teleskop
  std::string TelescopeObject;
  int ParkMethod = 1;
  double Park1Az = 0;
  double Park1Alt = 0;
  int Park1Pierside = 0;
  double Park2Az = 0;
  double Park2Alt = 0;
  int Park2Pierside = 0;
  double HomeAz = 0;
  double HomeAlt = 0;
  int HomePierside = 0;
  int TrackingRange = 50;
  int PulseGuideSpeed = 5;
  bool InvertRAguiding = false;
  bool InvertDECguiding = false;
  bool InvertPiersideguiding = false;
  int OvercorrectionGuiding = 0;
  int SyncRange = 5;
  // Meridian flip of a German equatorial mount during a plan row: on (turn it off for a fork
  // mount), the minutes past the meridian at which the mount changes sides, the seconds it
  // waits before, and whether the row is centred and focused again after it (a row that a
  // "SY" row centred is centred again in any case).
  bool MeridianFlip = true;
  int MeridianFlipMinutes = 5;
  int MeridianFlipPause = 30;
  bool MeridianFlipCentre = false;
  bool MeridianFlipAutofocus = false;
  // Kamera
  std::string CameraObject;
  double ArcsecX = 1.5;
  double ArcsecY = 1.5;
  int CameraReadTime = 5;
  int CameraTimeout = 30;
  int CameraPauseTime = 0;
  bool DSLRautodark = false;
  int CameraCoolerTemp = -5;
  int CameraPiersideRotate = 0;
  int CameraMode = 0;
  int CamCOMport = 1;
  int CameraRotation = 0;
  int SyncBinning = 2;
  double HistogramMaxLevel = 0.99;
  bool ConvRaw2Fits = false;
  std::string RootImagePath;
  std::string WebmonitorPathname;
  // Focuser
  std::string FocuserObject;
  // Filterwheel
  std::string FilterwheelObject;
  int Standardfilter = 1;
  int Darkfilter = 0;
  bool FilternamesFromFile = false;
  // Autofocus (the single-precision values are float on purpose: they are written widened)
  float AFexptime = 1.0f;
  int AFsubframe = 300;
  int AFbinning = 1;
  int AFposition = 0;
  float AFHFDlow = 10.0f;
  float AFLslope = 0;
  float AFRslope = 0;
  float AFLic = 0;
  float AFRic = 0;
  int AFrange = 500;
  // Spectrum
  double SpectrumRA = 0;
  int SpectrumFilt = 0;
  int SpectrumMirror = 0;
  // FITS
  std::string Observername;
  std::string TelescopeDescription;
  // Profile
  std::string ProfileName = "default";
  // Linux: how a serial port number becomes a device path ("{n}" is the number, "{n-1}" one
  // less), and the command that powers the computer off at the end of a night.
  std::string SerialPortPattern = "/dev/ttyUSB{n-1}";
  std::string ShutdownCommand = "systemctl poweroff";
  // The INDI servers whose devices the chooser lists: "HOST:PORT" items, comma-separated.
  std::string IndiServers = "localhost:7624";
  // Alpaca servers (HOST:PORT, comma-separated) the chooser asks besides those it discovers.
  std::string AlpacaHosts;
  // The roof on a real controller line may move behind the simulated telescope (testing an
  // observatory with the real roof and no mount).
  bool AllowSimulatedTelescope = false;
  // Run by the watchdog when it had to make the observatory safe: a shell command line, given
  // the event as its arguments and a one-line message on standard input. Empty: none.
  std::string NotifyCommand;
  // Seconds without a heartbeat after which the watchdog takes a station for dead.
  int WatchdogLimit = 30;
  // Where the read-only status page is served, HOST:PORT (127.0.0.1:8080 for this computer
  // alone); empty: no page.
  std::string StatusPage;
  // The token a status page served beyond this computer needs from every request.
  std::string StatusToken;
  // The filter wheel's slots, for the check of a plan's filters; 0: as many as the filter
  // table names.
  int FilterNumber = 0;
  // The camera's highest binning, for the check of a plan when no camera is connected; 0: not
  // known.
  int CameraMaxBinning = 0;
  // The built-in simulated mount tracks this many degrees past the meridian at most, then it
  // stops tracking (as a real mount stops at its limit).
  int SimMountLimit = 15;
};

enum class SettingType {
  Bool,
  Int,
  Double,
  Single,      // float held in single precision, written widened to double
  IntAsFloat,  // integer written through the float writer (no decimal point when whole)
  String,
};

using SettingField = std::variant<bool SettingsRecord::*, int SettingsRecord::*, double SettingsRecord::*,
                                  float SettingsRecord::*, std::string SettingsRecord::*>;

struct SettingKey {
  const char* section;
  const char* key;
  const char* loaderKey;  // the spelling the loader asks for (matched without regard to case)
  SettingType type;
  SettingField field;
  bool readFromFile = true;  // CameraMode is written but never read
};

// Every key in file order (the order the saver writes).
const std::vector<SettingKey>& SettingKeys();
// Lookup by key name, without regard to case; nullptr when unknown.
const SettingKey* FindSettingKey(std::string_view key);

// The value as the settings file holds it.
std::string FormatSettingValue(const SettingsRecord& settings, const SettingKey& key);
// Reads a value as the loader does: false (and the field untouched) when the text does not
// convert for the key's type.
bool ParseSettingValue(SettingsRecord& settings, const SettingKey& key, std::string_view text);

// Loads the settings file; a missing file or key, or an unparsable value, gives the default.
// CameraMode is always 0.
SettingsRecord LoadSettingsFile(const std::filesystem::path& path);
// Writes every key in file order. Sections and keys of other programs in the file are kept.
// The file is replaced atomically; on failure returns false with the reason in *error.
bool SaveSettingsFile(const std::filesystem::path& path, const SettingsRecord& settings, std::string* error = nullptr);

}  // namespace noctarbel
