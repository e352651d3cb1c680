// noctarbel-cli "expose" and "camera info": the station's camera (the simulator unless the
// settings name another) without a window, through the same operations the window uses.

#include <CLI/CLI.hpp>

#include <filesystem>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "common/event_runtime.h"
#include "operations/station_core.h"
#include "cli/cli_context.h"
#include "cli/commands.h"
#include "common/number_text.h"
#include "operations/manual_exposure.h"
#include "imaging/calibration_config.h"
#include "imaging/image_buffer.h"

namespace noctarbel::cli {

namespace {

struct ExposeOptions {
  double seconds = 1;
  int bin = 2;
  int zoom = 1;
  int filter = 1;
  bool dark = false;
  bool calibrate = false;
  bool noHotPixel = false;
  std::string out;
  bool json = false;
};

struct CameraInfoOptions {
  bool json = false;
};

// The station's core with its settings and tables, and its camera (with the filter wheel)
// connected; nothing and a printed reason when the camera cannot be had.
struct ConnectedCamera {
  std::unique_ptr<EventRuntime> runtime = EventRuntime::WithRealClock();
  std::unique_ptr<StationCore> core;

  bool Connect(CliContext& context) {
    if (!context.EnsureStationFolder()) return false;
    core = std::make_unique<StationCore>(*runtime, context.Paths());
    core->Settings = LoadSettingsFile(core->SettingsFilePath());
    LoadFilterTable(core->Filters, core->Paths.Home, core->Settings.FilternamesFromFile);
    if (core->Settings.CameraObject.empty()) {
      context.Fail("No camera is chosen (CameraObject in the settings)");
      return false;
    }
    std::string error;
    if (!core->Camera.Connect(&error)) {
      context.Fail("No connection to camera: " + error);
      return false;
    }
    if (!core->Settings.FilterwheelObject.empty()) {
      OperationContext op = core->BeginOperation();
      if (core->FilterWheel.Connect(op, &error) < 0) {
        context.Fail("Filter wheel error: " + error);
        return false;
      }
    }
    return true;
  }
  ~ConnectedCamera() {
    if (core) {
      core->FilterWheel.Disconnect();
      core->Camera.Disconnect();
    }
  }
};

// The station's calibration configuration and every master it names, as the calibration
// window's OK loads them; false with the reason printed when that cannot be had.
bool LoadCalibration(CliContext& context, StationCore& core) {
  const StationCalibrationLoad load = LoadStationCalibration(core.Paths.Home, core.Calibration);
  if (!load.Read) {
    context.Fail("Cannot calibrate: " + load.Error);
    return false;
  }
  for (const auto& note : load.Notes) context.Note(note);
  return true;
}

// The image is saved either way; the exit status tells that the calibration asked for was
// not (all) done.
void ReportCalibrationMissed(CliContext& context, const ExposeOptions& options, const ManualExposureResult& result) {
  if (!options.calibrate || result.CalibrationMissed.empty()) return;
  context.Fail(std::string(result.Calibrated ? "The image was saved not fully calibrated, "
                                             : "The image was saved uncalibrated, ") +
                   result.CalibrationMissed,
               kPartlyDoneExitCode);
}

void RunExpose(CliContext& context, const ExposeOptions& options) {
  ConnectedCamera camera;
  if (!camera.Connect(context)) return;
  StationCore& core = *camera.core;
  if (options.calibrate && !LoadCalibration(context, core)) return;
  ManualExposure request;
  request.Exposure = options.seconds;
  request.Binning = options.bin;
  request.Zoom = options.zoom;
  request.Filter = options.filter;
  request.Light = !options.dark;
  request.HotPixelFilter = !options.noHotPixel;
  request.Calibrate = options.calibrate;
  Timgbuffer image;
  OperationContext op = core.BeginOperation();
  const ManualExposureResult result = TakeManualExposure(core, op, request, image);
  if (!result.Exposure.HasImage()) {
    return context.Fail(result.Exposure.Error.empty() ? "No image" : result.Exposure.Error);
  }
  const std::string file = options.out.empty() ? (core.Paths.Home / "testbild.fits").string() : options.out;
  if (!image.SaveFits(file)) return context.Fail("Cannot save " + file + ": " + image.LastError());

  if (options.json) {
    nlohmann::ordered_json out = {{"file", file},
                                  {"width", image.Width()},
                                  {"height", image.Height()},
                                  {"max", image.Maximum},
                                  {"mean", result.Star.Background},
                                  {"star_found", result.Star.Found}};
    if (options.calibrate) out["calibrated"] = {{"dark", result.Dark}, {"flat", result.Flat}, {"rotate", result.Rotated}};
    if (result.Star.Found) {
      out["star_x"] = result.Star.X;
      out["star_y"] = result.Star.Y;
      out["offset_x_arcsec"] = result.Offset.X;
      out["offset_y_arcsec"] = result.Offset.Y;
    }
    std::cout << out.dump() << "\n";
    return ReportCalibrationMissed(context, options, result);
  }
  std::cout << "file: " << file << "\n"
            << "size: " << image.Width() << " x " << image.Height() << "\n"
            << "max: " << image.Maximum << "\n"
            << "mean: " << result.Star.Background << "\n"
            << (result.Star.Found ? StarOffsetText(result.Offset) : std::string("no star found")) << "\n";
  if (options.calibrate) {
    std::cout << "calibrated: " << (result.Calibrated ? "" : "nothing") << (result.Dark ? "dark " : "")
              << (result.Flat ? "flat " : "") << (result.Rotated ? "180 deg rotation" : "") << "\n";
  }
  ReportCalibrationMissed(context, options, result);
}

void RunCameraInfo(CliContext& context, const CameraInfoOptions& options) {
  ConnectedCamera camera;
  if (!camera.Connect(context)) return;
  std::vector<std::string> lines;
  try {
    lines = camera.core->Camera.InfoLines();
  } catch (const std::exception& e) {
    return context.Fail(std::string("Camera error: ") + e.what());
  }
  if (!options.json) {
    for (const auto& line : lines) std::cout << line << "\n";
    return;
  }
  // The window's lines as keys and values: the label (20 characters) names the value.
  nlohmann::ordered_json out = nlohmann::ordered_json::object();
  for (const auto& line : lines) {
    if (line.size() <= 20) continue;
    std::string key = std::string(TrimBlanks(line.substr(0, 20)));
    for (char& c : key) c = c == ' ' || c == '/' ? '_' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // Numbers as JSON numbers, the rest as the window shows it.
    const std::string value = line.substr(20);
    if (auto whole = ParseInt64(TrimBlanks(value))) {
      out[key] = *whole;
    } else if (auto number = ParseFloat(TrimBlanks(value))) {
      out[key] = *number;
    } else {
      out[key] = value;
    }
  }
  std::cout << out.dump(2) << "\n";
}

}  // namespace

void RegisterCameraCommands(CLI::App& app, CliContext& context) {
  auto expose = std::make_shared<ExposeOptions>();
  CLI::App* cmd = app.add_subcommand("expose", "One exposure as the window's exposure button takes it, saved as FITS");
  cmd->add_option("--seconds", expose->seconds, "Exposure time in seconds (default 1)")->check(CLI::Range(0.0, 86400.0));
  cmd->add_option("--bin", expose->bin, "Binning 1..4 (default 2)")->check(CLI::Range(1, 4));
  cmd->add_option("--zoom", expose->zoom, "Zoom 1..5: a centred sub-frame of 1/zoom of each side")
      ->check(CLI::Range(1, 5));
  cmd->add_option("--filter", expose->filter, "Filter slot 1..9 (default 1)")->check(CLI::Range(1, 9));
  cmd->add_flag("--dark", expose->dark, "A dark frame (shutter closed)");
  cmd->add_flag("--no-hotpixel", expose->noHotPixel, "Leave out the hot-pixel filter");
  cmd->add_flag("--calibrate", expose->calibrate, "Dark and flat from the station's imgcalib.cfg and its masters");
  cmd->add_option("--out", expose->out, "FITS file to write (default testbild.fits in the station folder)");
  cmd->add_flag("--json", expose->json, "Print JSON");
  cmd->callback([&context, expose] { RunExpose(context, *expose); });

  auto info = std::make_shared<CameraInfoOptions>();
  CLI::App* camera = app.add_subcommand("camera", "The camera");
  camera->require_subcommand(1);
  CLI::App* infoCmd = camera->add_subcommand("info", "The camera's properties, as the window's camera info shows them");
  infoCmd->add_flag("--json", info->json, "Print JSON");
  infoCmd->callback([&context, info] { RunCameraInfo(context, *info); });
}

}  // namespace noctarbel::cli
