// noctarbel-cli calibrate: one FITS file through the station's calibration configuration, as a
// camera image would go through the calibration window.

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>

#include "cli/cli_context.h"
#include "cli/commands.h"
#include "common/number_text.h"
#include "imaging/calibration.h"
#include "imaging/calibration_config.h"
#include "imaging/header_cards.h"

namespace noctarbel::cli {

namespace {

struct CalibrateOptions {
  std::string in;
  std::string out;
  int filter = 1;
  int zoom = 1;
  std::string origin;
  bool noDark = false;
  bool noFlat = false;
  bool rotate = false;
  bool json = false;
};

// "X,Y" with two whole numbers of at least 0.
std::optional<std::pair<int, int>> ParseOrigin(const std::string& text) {
  const size_t comma = text.find(',');
  if (comma == std::string::npos) return std::nullopt;
  auto x = ParseInt(text.substr(0, comma));
  auto y = ParseInt(text.substr(comma + 1));
  if (!x || !y || *x < 0 || *y < 0) return std::nullopt;
  return std::pair{*x, *y};
}

// The request, or a usage error (exit 2) and nothing.
std::optional<CalibrationRequest> MakeRequest(CliContext& context, const CalibrateOptions& options) {
  CalibrationRequest request;
  if (options.filter < 1 || options.filter > kFilterNumberCount) {
    context.UsageError("--filter must be 1.." + std::to_string(kFilterNumberCount));
    return std::nullopt;
  }
  if (options.zoom < 1 || options.zoom > 5) {
    context.UsageError("--zoom must be 1..5");
    return std::nullopt;
  }
  if (options.zoom >= 2) {
    auto origin = ParseOrigin(options.origin);
    if (!origin) {
      context.UsageError("--zoom " + std::to_string(options.zoom) + " needs --origin X,Y (the sub-frame's origin)");
      return std::nullopt;
    }
    std::tie(request.SubFrameX, request.SubFrameY) = *origin;
  } else if (!options.origin.empty()) {
    context.UsageError("--origin belongs to a sub-frame: give --zoom 2..5 with it");
    return std::nullopt;
  }
  request.FilterNumber = options.filter;
  request.Zoom = options.zoom;
  request.Dark = !options.noDark;
  request.Flat = !options.noFlat;
  request.Rotate = options.rotate;
  return request;
}

// Loads the masters this image's calibration reads, as the window's OK would load them; a
// configured master that cannot be loaded is an error.
bool LoadMastersFor(CliContext& context, const CalibrationConfig& config, const Timgbuffer& image,
                    const CalibrationRequest& request, ImageCalibration& calibration) {
  const std::filesystem::path home = context.Paths().Home;
  auto resolve = [&home](const std::string& name) {
    const std::filesystem::path p(name);
    return p.is_absolute() ? p : home / p;
  };
  auto failed = [&context](const std::optional<MasterLoadError>& error) {
    if (error) context.Fail(error->Message + ": " + error->Reason);
    return error.has_value();
  };
  const MasterNeeds needs = calibration.MastersFor(image, request);
  if (needs.Dark) {
    const std::string& dark = config.DarkFiles[static_cast<size_t>(*needs.Dark)];
    if (failed(calibration.LoadDark(*needs.Dark, dark, resolve(dark)))) return false;
  }
  if (needs.Bias) {
    const std::string& bias = config.BiasFiles[static_cast<size_t>(*needs.Bias)];
    if (failed(calibration.LoadBias(*needs.Bias, bias, resolve(bias)))) return false;
  }
  if (needs.Flat) {
    const std::string& flat = config.Tables.FlatFiles[static_cast<size_t>(*needs.Flat - 1)];
    if (failed(calibration.LoadFlat(*needs.Flat, flat, resolve(flat)))) return false;
  }
  return true;
}

void PrintSteps(const CalibrationResult& result, bool asJson) {
  nlohmann::ordered_json steps;
  steps["dark"] = result.Dark;
  steps["flat"] = result.Flat;
  steps["rotate"] = result.Rotate;
  steps["hotpixel"] = result.HotPixels;
  steps["history"] = CalibrationHistoryTexts(result.History);
  steps["skipped"] = result.Skipped;
  if (asJson) {
    std::cout << steps.dump(2) << "\n";
    return;
  }
  for (const char* key : {"dark", "flat", "rotate", "hotpixel"}) {
    std::cout << key << ": " << (steps[key].get<bool>() ? "yes" : "no") << "\n";
  }
  for (const auto& text : CalibrationHistoryTexts(result.History)) std::cout << "HISTORY " << text << "\n";
  for (const auto& reason : result.Skipped) std::cout << "skipped: " << reason << "\n";
}

void RunCalibrate(CliContext& context, const CalibrateOptions& options) {
  const auto request = MakeRequest(context, options);
  if (!request) return;
  const std::filesystem::path configFile = context.Paths().Home / kCalibrationConfigFileName;
  CalibrationConfig config;
  const CalibrationConfigRead read = ReadCalibrationConfig(configFile, config);
  if (!read.Read) return context.Fail("no calibration configuration: " + read.Error);
  if (!read.Skipped.empty()) {
    std::cerr << "noctarbel-cli: warning: " << configFile.filename().string()
              << ": not read, defaults kept: " << read.Skipped.front()
              << (read.Skipped.size() > 1 ? " (and " + std::to_string(read.Skipped.size() - 1) + " more)" : "") << "\n";
  }

  Timgbuffer image;
  if (!image.LoadFits(options.in)) return context.Fail("cannot read " + options.in + ": " + image.LastError());
  if (!image.HasPixels()) return context.Fail(options.in + ": colour images are not supported");

  ImageCalibration calibration;
  for (const auto& message : ApplyCalibrationConfig(config, calibration)) {
    context.Note(message + ": the default is used");
  }
  calibration.Options.DarkSubtract = !options.noDark;
  calibration.Options.FlatCorrection = !options.noFlat;
  if (!LoadMastersFor(context, config, image, *request, calibration)) return;

  const CalibrationResult result = calibration.Calibrate(image, *request);
  const std::string missed = result.MissedStepsText(request->Dark, request->Flat);
  // Nothing done of what was asked: no file that would pass for a calibrated one.
  if (!missed.empty() && !result.Any()) return context.Fail("Nothing was calibrated, " + missed);
  if (result.Any()) {
    for (const auto& text : CalibrationHistoryTexts(result.History)) {
      if (!image.SetKeyword("HISTORY", text)) return context.Fail(options.in + ": no room for the HISTORY cards");
    }
  }
  if (!image.SaveFits(options.out)) return context.Fail("cannot write " + options.out + ": " + image.LastError());
  PrintSteps(result, options.json);
  if (!missed.empty()) context.Fail("Not fully calibrated, " + missed, kPartlyDoneExitCode);
}

}  // namespace

void RegisterCalibrationCommands(CLI::App& app, CliContext& context) {
  auto options = std::make_shared<CalibrateOptions>();
  CLI::App* calibrate = app.add_subcommand(
      "calibrate", "Calibrate a FITS image with the station's calibration configuration (imgcalib.cfg)");
  calibrate->add_option("IN", options->in, "FITS file to calibrate")->required();
  calibrate->add_option("OUT", options->out, "FITS file to write")->required();
  calibrate->add_option("--filter", options->filter, "Filter number N (1..9) that picks the flat (default 1)")
      ->type_name("N");
  calibrate->add_option("--zoom", options->zoom, "The image is a centred sub-frame of zoom Z (2..5)")->type_name("Z");
  calibrate->add_option("--origin", options->origin, "The sub-frame's origin in the masters, in binned pixels")
      ->type_name("X,Y");
  calibrate->add_flag("--no-dark", options->noDark, "No dark subtraction");
  calibrate->add_flag("--no-flat", options->noFlat, "No flat correction");
  calibrate->add_flag("--rotate", options->rotate, "Turn the image by 180 degrees");
  calibrate->add_flag("--json", options->json, "The steps done as one JSON object");
  calibrate->callback([&context, options] { RunCalibrate(context, *options); });
}

}  // namespace noctarbel::cli
