// Wall time of the example night (data/examples/demo-night.csv) on the built-in simulators and
// the simulated clock, prepared and run as "noctarbel-cli run --simulate --no-corrections"
// does it: a fresh station folder each night, the focuser's V lines as "focus calibrate
// --simulate --fit --save" finds them, every start-check question answered Yes. Once with the
// simulated camera's own sensor (1280 x 1024), once with a 6248 x 4176 one.
//
// Counters: sim_h (simulated hours from the start checks to the end of the run), run_s (the
// wall time of the run), sim_h_per_s, images (files written), exposures (started).
//
// Run: build/bench/night_bench [--benchmark_filter=...]; the station folders go to
// $NOCTARBEL_BENCH_DIR, else the system's temporary folder.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "automation/night_setup.h"
#include "automation/plan_file.h"
#include "automation/plan_run.h"
#include "common/datetime.h"
#include "common/event_runtime.h"
#include "operations/station_core.h"
#include "station/site_sky.h"
#include "devices/sim/sim_devices.h"
#include "devices/sim/sim_world.h"

namespace noctarbel {
namespace {

using Clock = std::chrono::steady_clock;

std::filesystem::path BenchFolder() {
  const char* dir = std::getenv("NOCTARBEL_BENCH_DIR");
  return dir != nullptr ? std::filesystem::path(dir) : std::filesystem::temp_directory_path();
}

const PlanFileContent& ExamplePlan() {
  static const PlanFileContent plan =
      ReadPlanFile(std::filesystem::path(NOCTARBEL_SOURCE_DATA_DIR) / "examples" / "demo-night.csv");
  return plan;
}

struct NightFigures {
  bool Completed = false;
  double SimulatedHours = 0;
  double RunSeconds = 0;
  int Images = 0;
  int Exposures = 0;
};

// One night in `home`: the command line's station on a simulated clock that starts ten minutes
// before the plan's first time (17:30 UT), as it starts by default.
NightFigures RunExampleNight(const std::filesystem::path& home, const std::string& cameraId) {
  auto runtime = EventRuntime::WithVirtualClock(EncodeDateTime(2026, 12, 6, 17, 20, 0), 1.0);
  auto station = std::make_unique<StationCore>(*runtime, StationPaths{home, NOCTARBEL_SOURCE_DATA_DIR});
  station->LoadSettingsAndTables();
  LoadHorizon(*station);
  station->StatusTimer.Start();
  ReplacePlanRows(station->Planer1, ExamplePlan().rows);
  SettingsRecord& s = station->Settings;
  s.AFposition = 5000;
  s.AFLslope = -0.0345;
  s.AFLic = 172.2;
  s.AFRslope = 0.0345;
  s.AFRic = -173.3;
  if (!cameraId.empty()) s.CameraObject = cameraId;
  NightOptions options;
  options.Simulate = true;
  options.Corrections = false;
  PlanRun run(*station, PrepareNight(*station, options).Options);

  NightFigures figures;
  run.Events.FileSaved = [&figures](const std::string&, bool) { ++figures.Images; };
  RunPrompts yes;
  yes.Ask = [](const std::string&) { return true; };
  const auto wallStart = Clock::now();
  const DateTime simStart = runtime->UtcNow();
  figures.Completed = run.StartChecks(yes) && run.Run();
  figures.RunSeconds = std::chrono::duration<double>(Clock::now() - wallStart).count();
  figures.SimulatedHours = (runtime->UtcNow() - simStart) * 24.0;
  figures.Exposures = SimulatedWorld(station->Devices.Registry)->Camera.ExposuresStarted();
  station.reset();
  return figures;
}

void ExampleNight(benchmark::State& state, const std::string& cameraId) {
  if (!ExamplePlan().ok) return state.SkipWithError(ExamplePlan().error.c_str());
  const std::filesystem::path home = BenchFolder() / "noctarbel_bench_night";
  NightFigures total;
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove_all(home);
    std::filesystem::create_directories(home);
    state.ResumeTiming();
    const NightFigures night = RunExampleNight(home, cameraId);
    if (!night.Completed) state.SkipWithError("the night did not run to its end");
    total.SimulatedHours += night.SimulatedHours;
    total.RunSeconds += night.RunSeconds;
    total.Images += night.Images;
    total.Exposures += night.Exposures;
  }
  std::filesystem::remove_all(home);
  const double n = static_cast<double>(state.iterations());
  state.counters["sim_h"] = total.SimulatedHours / n;
  state.counters["run_s"] = total.RunSeconds / n;
  state.counters["sim_h_per_s"] = total.SimulatedHours / total.RunSeconds;
  state.counters["images"] = total.Images / n;
  state.counters["exposures"] = total.Exposures / n;
}

void BM_ExampleNight(benchmark::State& state) { ExampleNight(state, ""); }
BENCHMARK(BM_ExampleNight)->Unit(benchmark::kSecond)->UseRealTime();

void BM_ExampleNight26Megapixels(benchmark::State& state) {
  ExampleNight(state, std::string(kSimCameraId) + "?width=6248&height=4176");
}
BENCHMARK(BM_ExampleNight26Megapixels)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
}  // namespace noctarbel

BENCHMARK_MAIN();
