#include "imaging/calibration_config.h"

#include <algorithm>
#include <functional>
#include <variant>

#include "common/number_text.h"
#include "common/text_file.h"

namespace noctarbel {

namespace {

constexpr std::string_view kTitlePrefix = "Noctarbel image calibration";

const char* const kBinningNames[kMasterBinnings] = {"1x1", "2x2", "4x4"};

// Text that can stand on a line of its own: no control characters (a line break would shift
// every value after it), at most the longest line the reader takes.
bool IsLineText(std::string_view text) {
  if (text.size() > kMaxCalibrationConfigLine) return false;
  return std::none_of(text.begin(), text.end(), [](char c) {
    auto u = static_cast<unsigned char>(c);
    return (u < 0x20 && c != '\t') || u == 0x7F;
  });
}

std::string Quoted(std::string_view text) { return "\"" + PrintableText(text.substr(0, 60)) + "\""; }

// One line read ahead, so that the end of the file can be seen before a group begins.
class ConfigLines {
 public:
  explicit ConfigLines(const std::filesystem::path& file) : reader_(file, kMaxCalibrationConfigLine) { Advance(); }

  bool IsOpen() const { return reader_.IsOpen(); }
  bool AtEnd() const { return !hasLine_; }
  size_t Number() const { return number_; }
  // The line taken, or why it is unusable ("binary data", "longer than ... characters").
  const std::string& Text() const { return line_; }
  const std::string& Problem() const { return problem_; }

  void Advance() {
    hasLine_ = reader_.Next(line_);
    number_ = reader_.LineNumber();
    problem_.clear();
    if (!hasLine_) return;
    if (reader_.LastLineOverlong()) {
      problem_ = "longer than " + std::to_string(kMaxCalibrationConfigLine) + " characters";
    } else if (!IsLineText(line_)) {
      problem_ = "not text";
    }
  }

 private:
  LineReader reader_;
  std::string line_;
  std::string problem_;
  bool hasLine_ = false;
  size_t number_ = 0;
};

// A value line of the file: what it is (for messages) and how it is taken; false when the
// text does not fit the value.
struct ValueLine {
  std::string what;
  std::function<bool(const std::string&)> take;
};

// A group: its label lines are read past, its value lines taken. A group marked optional may
// be missing altogether (older files).
struct Group {
  std::vector<std::variant<const char*, ValueLine>> lines;
  bool optional = false;
};

ValueLine TextValue(std::string what, std::string& target) {
  return {std::move(what), [&target](const std::string& text) {
            target = text;
            return true;
          }};
}

ValueLine BoxValue(std::string what, bool& target) {
  return {std::move(what), [&target](const std::string& text) {
            target = text == "1";
            return true;
          }};
}

ValueLine FlatIdValue(int filter, std::array<std::string, kMasterBinnings>& cells) {
  return {"flat IDs of filter " + std::to_string(filter), [&cells](const std::string& text) {
            std::array<std::string, kMasterBinnings> fields;
            size_t start = 0;
            for (int i = 0; i < kMasterBinnings; ++i) {
              const size_t comma = text.find(',', start);
              fields[static_cast<size_t>(i)] = text.substr(start, comma == std::string::npos ? comma : comma - start);
              if (comma == std::string::npos) {
                start = std::string::npos;
                break;
              }
              start = comma + 1;
            }
            // A fourth field is no binning of ours: the line is not what it should be.
            if (start != std::string::npos) return false;
            cells = fields;
            return true;
          }};
}

std::vector<Group> FileLayout(CalibrationConfig& c) {
  std::vector<Group> groups;
  Group flats{{"Master flat filenames"}};
  for (int id = 1; id <= kFlatIdCount; ++id) {
    flats.lines.emplace_back(
        TextValue("master flat file name of flat ID " + std::to_string(id), c.Tables.FlatFiles[id - 1]));
  }
  groups.push_back(std::move(flats));
  Group ids{{"masterflat number to filter"}};
  for (int filter = 1; filter <= kFilterNumberCount; ++filter) {
    ids.lines.emplace_back(FlatIdValue(filter, c.Tables.FlatIds[filter - 1]));
  }
  groups.push_back(std::move(ids));
  groups.push_back({{"Master dark filenames", TextValue("master dark 1x1", c.DarkFiles[0]),
                     TextValue("master dark 2x2", c.DarkFiles[1])}});
  groups.push_back({{"Master bias filenames", TextValue("master bias 1x1", c.BiasFiles[0]),
                     TextValue("master bias 2x2", c.BiasFiles[1])}});
  groups.push_back({{"Hot pixel max", TextValue("hot pixel max", c.HotPixelMax), "Bias constant",
                     TextValue("bias constant", c.BiasConstant)},
                    true});
  groups.push_back({{"Optimize", BoxValue("Optimize", c.Optimize)}, true});
  groups.push_back({{"cfg file name", TextValue("cfg file name", c.CfgFileName)}, true});
  groups.push_back({{"Master dark filename (4bin)", TextValue("master dark 4x4", c.DarkFiles[2]),
                     "Master bias filename (4bin)", TextValue("master bias 4x4", c.BiasFiles[2])},
                    true});
  groups.push_back({{"Hotpixel correction", BoxValue("Hotpixel correction", c.HotPixelCorrection), "Hotpixel sigma=",
                     ValueLine{"Hotpixel sigma",
                               [&c](const std::string& text) {
                                 auto sigma = CalibrationNumber(text);
                                 if (sigma) c.HotPixelSigma = *sigma;
                                 return sigma.has_value();
                               }}},
                    true});
  return groups;
}

// The text lines a configuration is written as, in file order (labels included).
std::vector<std::string> FileLines(const CalibrationConfig& c) {
  std::vector<std::string> lines{kCalibrationConfigTitle, "Master flat filenames"};
  for (const auto& name : c.Tables.FlatFiles) lines.push_back(name);
  lines.push_back("masterflat number to filter");
  for (const auto& cells : c.Tables.FlatIds) lines.push_back(cells[0] + "," + cells[1] + "," + cells[2]);
  lines.insert(lines.end(), {"Master dark filenames", c.DarkFiles[0], c.DarkFiles[1]});
  lines.insert(lines.end(), {"Master bias filenames", c.BiasFiles[0], c.BiasFiles[1]});
  lines.insert(lines.end(), {"Hot pixel max", c.HotPixelMax, "Bias constant", c.BiasConstant});
  lines.insert(lines.end(), {"Optimize", c.Optimize ? "1" : "0"});
  lines.insert(lines.end(), {"cfg file name", c.CfgFileName});
  lines.insert(lines.end(), {"Master dark filename (4bin)", c.DarkFiles[2]});
  lines.insert(lines.end(), {"Master bias filename (4bin)", c.BiasFiles[2]});
  lines.insert(lines.end(), {"Hotpixel correction", c.HotPixelCorrection ? "1" : "0"});
  lines.insert(lines.end(), {"Hotpixel sigma=", std::to_string(c.HotPixelSigma)});
  return lines;
}

}  // namespace

std::optional<int> CalibrationNumber(const std::string& text) { return ParseInt(TrimBlanks(text)); }

CalibrationConfigRead ReadCalibrationConfig(const std::filesystem::path& file, CalibrationConfig& config) {
  CalibrationConfigRead result;
  ConfigLines lines(file);
  if (!lines.IsOpen()) {
    result.Error = "cannot open " + file.string();
    return result;
  }
  if (lines.AtEnd() || !lines.Problem().empty() || lines.Text().rfind(kTitlePrefix, 0) != 0) {
    result.Error = file.string() + " is not a calibration configuration";
    return result;
  }
  result.Read = true;
  // Values go into a copy first: a damaged line never half-overwrites a value.
  CalibrationConfig read = config;
  lines.Advance();
  for (Group& group : FileLayout(read)) {
    if (group.optional && lines.AtEnd()) break;
    for (auto& line : group.lines) {
      if (lines.AtEnd()) {
        const auto* value = std::get_if<ValueLine>(&line);
        result.Skipped.push_back("the file ends after line " + std::to_string(lines.Number()) + ", before the " +
                                 (value ? value->what : std::string(std::get<const char*>(line))));
        config = read;
        return result;
      }
      if (auto* value = std::get_if<ValueLine>(&line)) {
        const std::string where = "line " + std::to_string(lines.Number()) + " (" + value->what + ")";
        if (!lines.Problem().empty()) {
          result.Skipped.push_back(where + ": " + lines.Problem());
        } else if (!value->take(lines.Text())) {
          result.Skipped.push_back(where + ": " + Quoted(lines.Text()) + " cannot be used");
        }
      }
      lines.Advance();
    }
  }
  config = read;
  return result;
}

std::string CalibrationConfigText(const CalibrationConfig& config) { return JoinLinesCrLf(FileLines(config)); }

std::optional<std::string> CheckCalibrationConfig(const CalibrationConfig& c) {
  auto checkText = [](const std::string& text, const std::string& what) -> std::optional<std::string> {
    if (IsLineText(text)) return std::nullopt;
    return "the " + what + " holds a line break or another control character, or is too long";
  };
  for (int id = 1; id <= kFlatIdCount; ++id) {
    if (auto e = checkText(c.Tables.FlatFiles[id - 1], "master flat file name of flat ID " + std::to_string(id))) {
      return e;
    }
  }
  for (int filter = 1; filter <= kFilterNumberCount; ++filter) {
    for (const auto& cell : c.Tables.FlatIds[filter - 1]) {
      const std::string what = "flat ID cell of filter " + std::to_string(filter);
      if (auto e = checkText(cell, what)) return e;
      if (cell.find(',') != std::string::npos) return "the " + what + " holds a \",\"";
    }
  }
  for (int i = 0; i < kMasterBinnings; ++i) {
    if (auto e = checkText(c.DarkFiles[i], std::string("master dark ") + kBinningNames[i])) return e;
    if (auto e = checkText(c.BiasFiles[i], std::string("master bias ") + kBinningNames[i])) return e;
  }
  if (auto e = checkText(c.HotPixelMax, "hot pixel max")) return e;
  if (auto e = checkText(c.BiasConstant, "bias constant")) return e;
  if (auto e = checkText(c.CfgFileName, "cfg file name")) return e;
  return std::nullopt;
}

bool SaveCalibrationConfig(const std::filesystem::path& file, const CalibrationConfig& config, std::string* error) {
  if (auto problem = CheckCalibrationConfig(config)) {
    if (error) *error = *problem;
    return false;
  }
  return WriteFileAtomically(file, CalibrationConfigText(config), error);
}

std::vector<MasterLoadError> LoadConfiguredMasters(const CalibrationConfig& config, const std::filesystem::path& folder,
                                                   ImageCalibration& calibration) {
  auto resolve = [&folder](const std::string& name) {
    const std::filesystem::path p(name);
    return p.is_absolute() ? p : folder / p;
  };
  std::vector<MasterLoadError> errors;
  auto keep = [&errors](std::optional<MasterLoadError> error) {
    if (error) errors.push_back(std::move(*error));
  };
  for (int index = 0; index < kMasterBinnings; ++index) {
    const std::string& dark = config.DarkFiles[static_cast<size_t>(index)];
    const std::string& bias = config.BiasFiles[static_cast<size_t>(index)];
    keep(calibration.LoadDark(index, dark, resolve(dark)));
    keep(calibration.LoadBias(index, bias, resolve(bias)));
  }
  for (int id = 1; id <= kFlatIdCount; ++id) {
    const std::string& flat = config.Tables.FlatFiles[static_cast<size_t>(id - 1)];
    keep(calibration.LoadFlat(id, flat, resolve(flat)));
  }
  return errors;
}

StationCalibrationLoad LoadStationCalibration(const std::filesystem::path& stationFolder, ImageCalibration& calibration) {
  StationCalibrationLoad load;
  CalibrationConfig config;
  const CalibrationConfigRead read = ReadCalibrationConfig(stationFolder / kCalibrationConfigFileName, config);
  if (!read.Read) {
    load.Error = read.Error;
    return load;
  }
  load.Read = true;
  load.Notes = ApplyCalibrationConfig(config, calibration);
  calibration.Options.DarkSubtract = true;
  calibration.Options.FlatCorrection = true;
  for (const auto& error : LoadConfiguredMasters(config, stationFolder, calibration)) {
    load.Notes.push_back(error.Message + ": " + error.Reason);
  }
  return load;
}

std::vector<std::string> ApplyCalibrationConfig(const CalibrationConfig& config, ImageCalibration& calibration) {
  std::vector<std::string> messages;
  CalibrationOptions& o = calibration.Options;
  o.Optimize = config.Optimize;
  if (auto v = CalibrationNumber(config.HotPixelMax)) {
    o.HotPixelMax = *v;
  } else {
    o.HotPixelMax = kDefaultHotPixelMax;
    messages.emplace_back("hot pixel max not correct");
  }
  if (auto v = CalibrationNumber(config.BiasConstant)) {
    o.BiasConstant = *v;
  } else {
    o.BiasConstant = kDefaultBiasConstant;
    messages.emplace_back("Bias constant not correct");
  }
  o.HotPixelCorrection = config.HotPixelCorrection;
  o.HotPixelSigma = std::clamp(config.HotPixelSigma, kMinHotPixelSigma, kMaxHotPixelSigma);
  calibration.Tables = config.Tables;
  return messages;
}

}  // namespace noctarbel
