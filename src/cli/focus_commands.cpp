// noctarbel-cli "focus calibrate", "focus auto", "center" and "guide-test": focusing, centring
// and the guiding test on the station's devices (a device the settings do not name is its
// built-in simulator), through the same operations the windows and the plan run use.
// Nothing is asked: a command does what its options say.

#include <CLI/CLI.hpp>

#include <cmath>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

#include "common/event_runtime.h"
#include "common/angles.h"
#include "operations/manual_exposure.h"
#include "operations/station_core.h"
#include "cli/cli_context.h"
#include "cli/commands.h"
#include "common/number_text.h"
#include "devices/sim/sim_devices.h"
#include "devices/sim/sim_world.h"
#include "imaging/image_buffer.h"

namespace noctarbel::cli {

namespace {

using Json = nlohmann::ordered_json;

// The simulated station of --simulate: a bright star (4 mag) a little off where the telescope
// points, as an operator would have it before focusing or the guiding test, and frames
// without bias, as dark-subtracted frames are.
constexpr double kSimulatedStarMagnitude = 4.0;
constexpr double kSimulatedStarEastArcsec = 40.0;
constexpr double kSimulatedStarNorthArcsec = 25.0;

struct StationOptions {
  bool simulate = false;
  bool json = false;
};

struct CalibrateOptions : StationOptions {
  std::optional<int> position;
  std::optional<int> range;
  int positions = 5;
  std::optional<int> filter;
  bool fit = false;
  bool save = false;
};

struct AutoOptions : StationOptions {
  std::optional<int> filter;
};

struct CenterOptions : StationOptions {
  std::vector<double> sync;
  double seconds = 0.1;
  std::optional<int> bin;
  std::optional<int> filter;
  std::optional<double> range;
};

struct GuideTestOptions : StationOptions {
  int move = 30;
  double seconds = 0.1;
  int bin = 2;
  bool save = false;
};

enum Device : unsigned { kMount = 1, kCamera = 2, kFocuser = 4 };

// The station's core with the devices a command needs, connected; the simulators where the
// settings name none (or everywhere with --simulate, on a simulated clock).
class CliStation {
 public:
  bool Open(CliContext& context, const StationOptions& options, unsigned devices) {
    if (!context.EnsureStationFolder()) return false;
    if (options.simulate) {
      const DateTime now = EventRuntime::WithRealClock()->UtcNow();
      runtime_ = EventRuntime::WithVirtualClock(now);
    } else {
      runtime_ = EventRuntime::WithRealClock();
    }
    core_ = std::make_unique<StationCore>(*runtime_, context.Paths());
    SettingsRecord& s = core_->Settings;
    s = LoadSettingsFile(core_->SettingsFilePath());
    LoadFilterTable(core_->Filters, core_->Paths.Home, s.FilternamesFromFile);
    ChooseDevices(options.simulate, devices);
    std::string error;
    if ((devices & kMount) && !core_->Mount.Connect(&error)) {
      context.Fail("No connection to the telescope: " + error);
      return false;
    }
    if (devices & kCamera) {
      if (!core_->Camera.Connect(&error)) {
        context.Fail("No connection to camera: " + error);
        return false;
      }
      if (!s.FilterwheelObject.empty()) {
        OperationContext op = core_->BeginOperation();
        if (core_->FilterWheel.Connect(op, &error) < 0) {
          context.Fail("Filter wheel error: " + error);
          return false;
        }
      }
    }
    if ((devices & kFocuser) && (!core_->Focuser.Connect(&error) || !core_->Focuser.Linked())) {
      context.Fail("Focuser could not be connected: " + error);
      return false;
    }
    if (options.simulate) PrepareSimulatedSky();
    return true;
  }

  ~CliStation() {
    if (!core_) return;
    core_->FilterWheel.Disconnect();
    core_->Camera.Disconnect();
    core_->Focuser.Disconnect();
    core_->Mount.Disconnect();
  }

  StationCore& Core() { return *core_; }
  // The settings as they are now, written to the station folder.
  bool SaveSettings(CliContext& context) {
    std::string error;
    if (SaveSettingsFile(core_->SettingsFilePath(), core_->Settings, &error)) return true;
    context.Fail("Settings not saved: " + error);
    return false;
  }

 private:
  void ChooseDevices(bool simulate, unsigned devices) {
    SettingsRecord& s = core_->Settings;
    auto choose = [simulate](std::string& id, const char* simulator) {
      if (simulate || id.empty()) id = simulator;
    };
    if (devices & kMount) choose(s.TelescopeObject, kSimTelescopeId);
    if (devices & kFocuser) choose(s.FocuserObject, kSimFocuserId);
    if (devices & kCamera) {
      // A simulated camera looks through the simulated wheel; a real one keeps its own.
      const bool simulatedCamera = simulate || s.CameraObject.empty();
      choose(s.CameraObject, kSimCameraId);
      if (simulatedCamera) s.FilterwheelObject = kSimFilterWheelId;
    }
  }

  void PrepareSimulatedSky() {
    SimWorld* world = SimulatedWorld(core_->Devices.Registry);
    if (!world) return;
    // The camera looks where the simulated mount points, connected or not: high in the
    // south, tracking.
    world->Mount.PlaceAtAltAz(180, 60);
    world->Mount.SetTracking(true);
    const SimPointing axis = world->Mount.ActualPointing();
    const double dec = axis.DecDeg + kSimulatedStarNorthArcsec / 3600.0;
    const double ra =
        axis.RaHours + kSimulatedStarEastArcsec / 3600.0 / 15.0 / std::cos(dec * kDegToRad);
    world->Sky.PlaceStar(SimStar{ra, dec, kSimulatedStarMagnitude});
  }

  std::unique_ptr<EventRuntime> runtime_;
  std::unique_ptr<StationCore> core_;
};

template <typename Number>
Json NumberOrNull(bool known, Number value) {
  return known ? Json(value) : Json(nullptr);
}

std::string FailureText(const VCurveScan& scan) {
  if (scan.Failure == FocusFailure::NoFocuser || scan.Failure == FocusFailure::FocuserMove) {
    return "the focuser did not reach its position";
  }
  return scan.Error.empty() ? CalibrationMessage(scan.Failure) : scan.Error;
}

// A scan below position 0 would end at the focuser's limit with "error".
std::string ScanBelowZero(int position, int range) {
  if (position - std::abs(range) >= 0) return {};
  return "The scan would reach below focuser position 0 (position " + std::to_string(position) + ", range " +
         std::to_string(range) + ")";
}

void RunCalibrate(CliContext& context, const CalibrateOptions& options) {
  if (options.save && !options.fit) return context.UsageError("--save needs --fit");
  if (options.position && options.range) {
    if (std::string problem = ScanBelowZero(*options.position, *options.range); !problem.empty()) {
      return context.UsageError(problem);
    }
  }
  CliStation station;
  if (!station.Open(context, options, kCamera | kFocuser)) return;
  StationCore& core = station.Core();
  const SettingsRecord& s = core.Settings;
  VCurveRequest request;
  if (options.position) {
    request.MeanPosition = *options.position;
  } else if (s.AFposition > 0) {
    request.MeanPosition = s.AFposition;
  } else {
    try {
      request.MeanPosition = core.Focuser.Read().Position;
    } catch (const std::exception& e) {
      return context.Fail(std::string("Focuser error: ") + e.what());
    }
  }
  request.Range = options.range.value_or(s.AFrange);
  request.Count = options.positions;
  request.FilterIndex = options.filter.value_or(s.Standardfilter) - 1;
  request.BothFlanks = options.fit;
  if (std::string problem = ScanBelowZero(request.MeanPosition, request.Range); !problem.empty()) {
    return context.Fail(problem);
  }
  core.Run.BaseFocusPosition = request.MeanPosition;
  OperationContext op = core.BeginOperation();
  const VCurveScan scan = core.Autofocus.CalibrateVCurve(op, request, [&options](const std::string& line) {
    if (!options.json) std::cout << line << "\n";
  });
  if (!scan.Ok()) return context.Fail("V curve not measured: " + FailureText(scan));

  if (options.json) {
    Json out = {{"position", request.MeanPosition}, {"range", request.Range}, {"filter", request.FilterIndex + 1}};
    out["hfd0"] = NumberOrNull(scan.TipHfd > 0, scan.TipHfd);
    Json points = Json::array();
    for (const auto* flank : {&scan.Left, &scan.Right}) {
      for (const VCurvePoint& p : *flank) {
        points.push_back(
            {{"position", p.Position}, {"hfd", NumberOrNull(p.Hfd > 0, p.Hfd)}, {"saturated", p.Saturated}});
      }
    }
    out["points"] = points;
    if (options.fit) {
      const VFit& fit = scan.Fit;
      out["left_slope"] = NumberOrNull(fit.Left.Fitted, fit.Left.Slope);
      out["left_intercept"] = NumberOrNull(fit.Left.Fitted, fit.Left.Intercept);
      out["right_slope"] = NumberOrNull(fit.Right.Fitted, fit.Right.Slope);
      out["right_intercept"] = NumberOrNull(fit.Right.Fitted, fit.Right.Intercept);
      out["residuals"] = {{"left", NumberOrNull(fit.Left.Fitted, fit.Left.Residual)},
                          {"right", NumberOrNull(fit.Right.Fitted, fit.Right.Residual)}};
      out["best_focus"] = NumberOrNull(fit.Usable(), fit.Usable() ? VTipPosition(fit.Lines()) : 0.0);
      out["usable"] = fit.Usable();
    }
    std::cout << out.dump(2) << "\n";
  } else if (options.fit) {
    for (const std::string& line : FitReportLines(scan.Fit)) std::cout << line << "\n";
  }
  if (!options.fit) return;
  if (!scan.Fit.Usable()) return context.Fail("V lines not fitted: " + scan.Fit.Problem());
  if (!options.save) return;
  // The scan's mean position is the base the next autofocus run starts from.
  core.Settings.AFposition = request.MeanPosition;
  std::string error;
  if (!core.Autofocus.StoreLines(scan.Fit, &error)) return context.Fail("Settings not saved: " + error);
}

void RunAuto(CliContext& context, const AutoOptions& options) {
  CliStation station;
  if (!station.Open(context, options, kCamera | kFocuser)) return;
  StationCore& core = station.Core();
  OperationContext op = core.BeginOperation();
  const int filter = options.filter.value_or(core.Settings.Standardfilter);
  const AutofocusResult result = core.Autofocus.RunAutofocus(op, filter - 1);
  if (options.json) {
    Json out = {{"position", NumberOrNull(result.Position >= 0, result.Position)},
                {"base_position", NumberOrNull(result.Ok, result.BaseFocusPosition)},
                {"hfd_first", NumberOrNull(result.HfdFirst > 0, result.HfdFirst)},
                {"hfd_second", NumberOrNull(result.HfdSecond > 0, result.HfdSecond)},
                {"ok", result.Ok}};
    if (!result.Ok) out["error"] = result.Error;
    std::cout << out.dump(2) << "\n";
  } else if (result.Ok) {
    std::cout << "Autofocus: focus=" << result.BaseFocusPosition << " (focuser at " << result.Position << ", HFD "
              << FormatFixed(result.HfdFirst, 2) << " at " << result.P0 << ", " << FormatFixed(result.HfdSecond, 2)
              << " at " << result.P1 << ")\n";
  }
  if (!result.Ok) context.Fail(result.Error);
}

void RunCenter(CliContext& context, const CenterOptions& options) {
  CliStation station;
  if (!station.Open(context, options, kMount | kCamera)) return;
  StationCore& core = station.Core();
  const SettingsRecord& s = core.Settings;
  const int bin = options.bin.value_or(s.SyncBinning);
  ExposureRequest frame;
  try {
    frame = ExposureGeometry(core.Camera.CameraXSize(), core.Camera.CameraYSize(), bin, 1);
  } catch (const std::exception& e) {
    return context.Fail(std::string("Camera error: ") + e.what());
  }
  frame.Filter = options.filter.value_or(s.Standardfilter) - 1;
  frame.Exposure = options.seconds;
  OperationContext op = core.BeginOperation();
  Json out;
  bool done = false;
  std::string failure;
  if (options.sync.empty()) {
    Timgbuffer image;
    const ExposureResult exposure = core.Camera.TakeImage(op, frame, image);
    if (!exposure.HasImage()) return context.Fail(exposure.Error.empty() ? "No image" : exposure.Error);
    const CentringResult result = core.Centring.CenterOnBrightestStar(op, image, true);
    out = {{"found", result.Found},
           {"dx_pixels", result.Pixels.X},
           {"dy_pixels", result.Pixels.Y},
           {"dx_arcsec", result.Offset.X},
           {"dy_arcsec", result.Offset.Y},
           {"moved", result.Moved},
           {"synced", false}};
    done = result.Found;
    failure = "No star found";
  } else {
    const double range = options.range.value_or(s.SyncRange);
    const SyncResult result = core.Centring.CenterAndSync(op, options.sync[0], options.sync[1], frame, range);
    out = {{"found", result.Found},
           {"dx_pixels", result.Pixels.X},
           {"dy_pixels", result.Pixels.Y},
           {"dx_arcsec", result.Offset.X},
           {"dy_arcsec", result.Offset.Y},
           {"synced", result.Synced},
           {"log", result.Log}};
    done = result.Synced;
    failure = result.Log.empty() ? "Not synced" : "Not synced" + result.Log.back();
    if (result.ImageFailed) failure = "Not synced: " + core.Status();
  }
  if (options.json) {
    std::cout << out.dump(2) << "\n";
  } else {
    if (out.contains("log")) {
      for (const auto& line : out["log"]) std::cout << line.get<std::string>().substr(2) << "\n";
    }
    if (out["found"].get<bool>()) {
      std::cout << "star offset: " << FormatFixed(out["dx_arcsec"].get<double>(), 1) << "\" "
                << FormatFixed(out["dy_arcsec"].get<double>(), 1) << "\" (" << out["dx_pixels"].get<int>() << ", "
                << out["dy_pixels"].get<int>() << " pixels)\n";
    }
  }
  if (!done) context.Fail(failure);
}

void RunGuideTest(CliContext& context, const GuideTestOptions& options) {
  CliStation station;
  if (!station.Open(context, options, kMount | kCamera)) return;
  StationCore& core = station.Core();
  ManualExposure exposure;
  exposure.Exposure = options.seconds;
  exposure.Binning = options.bin;
  exposure.Filter = core.Settings.Standardfilter;
  core.Guiding.PrepareGuideRates();
  OperationContext op = core.BeginOperation();
  const GuidingTestResult result =
      core.Guiding.RunGuidingTest(op, options.move, ManualExposureSource(core, exposure),
                                  [&context](const std::string& text) { context.Note(text); });
  if (!result.Ok()) {
    const std::string message = GuidingCheckMessage(result.End);
    return context.Fail(message == "error" ? "The star moved too little to tell a direction"
                        : message.empty()  ? op.StopText()
                                           : message);
  }
  const int rotation = AddToCameraRotation(core.Settings.CameraRotation, result.Angle);
  if (options.save) {
    core.Settings.CameraRotation = rotation;
    if (!station.SaveSettings(context)) return;
  }
  if (options.json) {
    const Json out = {{"dx_arcsec", result.Dx},      {"dy_arcsec", result.Dy}, {"angle_deg", result.Angle},
                      {"camera_rotation", rotation}, {"saved", options.save},  {"ra_rate", result.RaRate},
                      {"dec_rate", result.DecRate}};
    std::cout << out.dump(2) << "\n";
    return;
  }
  std::cout << GuidingTestResultText(result.Dx, result.Dy, result.Angle) << "\n"
            << "camera rotation: " << rotation << (options.save ? " (saved)" : " (not saved; --save)") << "\n";
}

void AddStationOptions(CLI::App* cmd, StationOptions& options) {
  cmd->add_flag("--simulate", options.simulate,
                "The built-in simulators on a simulated clock, with a bright star in view, whatever the settings name");
  cmd->add_flag("--json", options.json, "Print JSON");
}

}  // namespace

void RegisterFocusCommands(CLI::App& app, CliContext& context) {
  CLI::App* focus = app.add_subcommand("focus", "V-curve focusing");
  focus->require_subcommand(1);

  auto calibrate = std::make_shared<CalibrateOptions>();
  CLI::App* cal = focus->add_subcommand("calibrate", "Scan the V curve: HFD per focuser position");
  cal->add_option("--position", calibrate->position,
                  "Mean focus position P (default AFposition, else where the focuser stands)");
  cal->add_option("--range", calibrate->range,
                  "Range R: > 0 scans P-R up towards P, < 0 scans from P+|R| down (default AFrange)");
  cal->add_option("--positions", calibrate->positions, "Positions per flank, 5..10 (default 5)")
      ->check(CLI::Range(5, 10));
  cal->add_option("--filter", calibrate->filter, "Filter slot 1..9 (default Standardfilter)")->check(CLI::Range(1, 9));
  cal->add_flag("--fit", calibrate->fit, "Scan both flanks (R to either side) and fit a line to each");
  cal->add_flag("--save", calibrate->save,
                "With --fit: store the lines (AFLslope, AFLic, AFRslope, AFRic) and P as AFposition");
  AddStationOptions(cal, *calibrate);
  cal->callback([&context, calibrate] { RunCalibrate(context, *calibrate); });

  auto autofocus = std::make_shared<AutoOptions>();
  CLI::App* run = focus->add_subcommand("auto", "The autofocus run with the stored V lines");
  run->add_option("--filter", autofocus->filter, "Filter slot 1..9 (default Standardfilter)")->check(CLI::Range(1, 9));
  AddStationOptions(run, *autofocus);
  run->callback([&context, autofocus] { RunAuto(context, *autofocus); });

  auto center = std::make_shared<CenterOptions>();
  CLI::App* centre = app.add_subcommand("center", "Centre the brightest star; with --sync, centre and sync");
  centre->add_option("--sync", center->sync, "Centre and sync the mount to RA (hours) and DEC (degrees)")->expected(2);
  centre->add_option("--seconds", center->seconds, "Exposure time (default 0.1)")->check(CLI::Range(0.0, 3600.0));
  centre->add_option("--bin", center->bin, "Binning 1..4 (default SyncBinning)")->check(CLI::Range(1, 4));
  centre->add_option("--filter", center->filter, "Filter slot 1..9 (default Standardfilter)")->check(CLI::Range(1, 9));
  centre->add_option("--range", center->range, "Sync range in image pixels (default SyncRange)")
      ->check(CLI::Range(0.1, 3600.0));
  AddStationOptions(centre, *center);
  centre->callback([&context, center] {
    if (!center->sync.empty() && (center->sync[0] < 0 || center->sync[0] >= 24 || std::abs(center->sync[1]) > 90)) {
      return context.UsageError("--sync needs RA in 0..24 hours and DEC in -90..90 degrees");
    }
    RunCenter(context, *center);
  });

  auto guideTest = std::make_shared<GuideTestOptions>();
  CLI::App* test = app.add_subcommand("guide-test", "Pulse east in RA and measure the camera's angle");
  test->add_option("--move", guideTest->move, "Test move in arc seconds, 10..120 (default 30)")
      ->check(CLI::Range(10, 120));
  test->add_option("--seconds", guideTest->seconds, "Exposure time (default 0.1)")->check(CLI::Range(0.0, 3600.0));
  test->add_option("--bin", guideTest->bin, "Binning 1..4 (default 2)")->check(CLI::Range(1, 4));
  test->add_flag("--save", guideTest->save, "Add the angle to CameraRotation and save the settings");
  AddStationOptions(test, *guideTest);
  test->callback([&context, guideTest] { RunGuideTest(context, *guideTest); });
}

}  // namespace noctarbel::cli
