#pragma once
// The calibration configuration file "imgcalib.cfg" (and copies saved under other names):
// plain text, one value per line after a label line, CR LF line ends. The master file names,
// the two tables, the dark scaling values and the hot-pixel correction, in a fixed order:
//
//   Noctarbel image calibration V2
//   Master flat filenames            + 9 lines, flat IDs 1..9
//   masterflat number to filter      + 9 lines, filters 1..9: "id bin1,id bin2,id bin4"
//   Master dark filenames            + 1x1, 2x2
//   Master bias filenames            + 1x1, 2x2
//   Hot pixel max                    + text;  Bias constant + text
//   Optimize                         + "1" or "0"
//   cfg file name                    + the file's own name, without folder
//   Master dark filename (4bin)      + name;  Master bias filename (4bin) + name
//   Hotpixel correction              + "1" or "0";  Hotpixel sigma= + integer
//
// Older files end after the bias names or after any later group; what they lack keeps its
// current value.

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "imaging/calibration.h"

namespace noctarbel {

inline constexpr const char* kCalibrationConfigFileName = "imgcalib.cfg";
inline constexpr const char* kCalibrationConfigTitle = "Noctarbel image calibration V2";
// No file name is longer; a longer line is damage, not a value.
inline constexpr size_t kMaxCalibrationConfigLine = 4096;

// What the file holds: the calibration window's values as the operator typed them.
struct CalibrationConfig {
  FlatTables Tables;
  std::array<std::string, kMasterBinnings> DarkFiles;  // 1x1, 2x2, 4x4
  std::array<std::string, kMasterBinnings> BiasFiles;
  std::string HotPixelMax = std::to_string(kDefaultHotPixelMax);
  std::string BiasConstant = std::to_string(kDefaultBiasConstant);
  bool Optimize = true;
  std::string CfgFileName;
  bool HotPixelCorrection = false;
  int HotPixelSigma = kMinHotPixelSigma;
};

struct CalibrationConfigRead {
  // The file was opened and is a calibration configuration; otherwise Error says why and
  // nothing was taken.
  bool Read = false;
  std::string Error;
  // Values that were not taken (damaged, too long, or missing where the file ends early),
  // each with its line; they keep their current values.
  std::vector<std::string> Skipped;
};

// Reads the file into `config`, which holds the current values on entry.
CalibrationConfigRead ReadCalibrationConfig(const std::filesystem::path& file, CalibrationConfig& config);

// The file's text. Values must pass CheckCalibrationConfig to read back as written.
std::string CalibrationConfigText(const CalibrationConfig& config);
// Why the values cannot be written so that they read back (a line break in a name, a ","
// in a flat ID cell, an over-long name), or nothing.
std::optional<std::string> CheckCalibrationConfig(const CalibrationConfig& config);
// Checks, then replaces the file through a temporary file, so a failure never leaves a
// broken file behind. False with a one-line reason.
bool SaveCalibrationConfig(const std::filesystem::path& file, const CalibrationConfig& config, std::string* error);

// The values a calibration follows, taken from a configuration: Optimize, hot pixel max and
// bias constant (defaults when not whole numbers), hot-pixel correction and sigma (4..6), the
// tables. Returns the messages of values that were replaced by their defaults.
std::vector<std::string> ApplyCalibrationConfig(const CalibrationConfig& config, ImageCalibration& calibration);

// Every master the configuration names (darks and biases of the three binnings, flats 1..9),
// file names relative to `folder`, as the window's OK loads them for a run without the
// window (the command line). The loads that failed; the others are held.
std::vector<MasterLoadError> LoadConfiguredMasters(const CalibrationConfig& config, const std::filesystem::path& folder,
                                                   ImageCalibration& calibration);

// A station's calibration for a run without the window: its imgcalib.cfg applied, every
// master it names loaded, dark subtraction and flat correction on. Read is false (with the
// reason) when there is no configuration to read; Notes are what the operator should know
// (a value replaced by its default, a master that could not be loaded).
struct StationCalibrationLoad {
  bool Read = false;
  std::string Error;
  std::vector<std::string> Notes;
};
StationCalibrationLoad LoadStationCalibration(const std::filesystem::path& stationFolder, ImageCalibration& calibration);

// A whole number in a text field, as the window reads it.
std::optional<int> CalibrationNumber(const std::string& text);

}  // namespace noctarbel
