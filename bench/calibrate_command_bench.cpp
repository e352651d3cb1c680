// Speed and memory of the one-shot `noctarbel-cli calibrate` on a full 6248 x 4176 16-bit
// frame: the whole process, run as the operator runs it, on a station folder whose
// imgcalib.cfg names a master dark, bias and flat that this benchmark writes itself (dark
// subtraction without "Optimize", then the flat). Beside it, in the same rounds, the same
// program's `fits copy` of the frame (load and save), and "vs_copy" is the calibration's time
// over the copy's. "peak_mib" is the largest resident size the calibrating process reached.
//
// Run: build/bench/calibrate_command_bench [--benchmark_repetitions=5]; the files go to
// $NOCTARBEL_BENCH_DIR, else the system's temporary folder.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/calibration_config.h"
#include "imaging/image_buffer.h"
#include "tests/imaging/synthetic_frames.h"

extern char** environ;

namespace noctarbel {
namespace {

constexpr int kWidth = 6248;
constexpr int kHeight = 4176;

using Clock = std::chrono::steady_clock;

std::filesystem::path Station() {
  const char* dir = std::getenv("NOCTARBEL_BENCH_DIR");
  return std::filesystem::path(dir != nullptr ? dir : std::filesystem::temp_directory_path().string()) /
         "noctarbel_bench_calibrate";
}

// A master: sky level with noise and some hot pixels.
bool WriteMaster(const std::filesystem::path& file, int level, double sigma, double exposure, std::uint32_t seed) {
  Timgbuffer master;
  testing::FrameRandom random(seed);
  testing::FillSky(master, kWidth, kHeight, level, sigma, random);
  for (int i = 0; i < 2000; ++i) {
    master.SetPixel(1 + static_cast<int>(random.Below(kWidth)), 1 + static_cast<int>(random.Below(kHeight)),
                    20000 + static_cast<int>(random.Below(45536)));
  }
  master.Exposure = exposure;
  master.ObservationDate = "2026-12-06T20:00:00.0";
  master.SetKeyword("XBINNING", "1");
  master.SetKeyword("YBINNING", "1");
  return master.SaveFits(file.string());
}

// The station folder with its masters, configuration and the frame to calibrate.
bool PrepareStation() {
  static const bool ready = [] {
    const std::filesystem::path home = Station();
    std::filesystem::create_directories(home);
    if (!WriteMaster(home / "dark.fit", 500, 30, 60, 7) || !WriteMaster(home / "bias.fit", 100, 5, 0, 8) ||
        !WriteMaster(home / "flat.fit", 20000, 300, 1, 9)) {
      return false;
    }
    CalibrationConfig config;
    config.DarkFiles[0] = "dark.fit";
    config.BiasFiles[0] = "bias.fit";
    config.Tables.FlatFiles[0] = "flat.fit";
    config.Tables.FlatIds[0] = {"1", "", ""};
    config.Optimize = false;
    if (!SaveCalibrationConfig(home / kCalibrationConfigFileName, config, nullptr)) return false;
    Timgbuffer frame;
    testing::MakeStarField(frame, kWidth, kHeight, 300, 2024);
    frame.Exposure = 60;
    frame.ObservationDate = "2026-12-06T21:07:09.2";
    frame.SetKeyword("XBINNING", "1");
    frame.SetKeyword("YBINNING", "1");
    return frame.SaveFits((home / "frame.fit").string());
  }();
  return ready;
}

struct Run {
  bool ok = false;
  double seconds = 0;
  long peakKib = 0;
};

// The program with its arguments, output discarded; its time and largest resident size.
Run RunCli(const std::vector<std::string>& arguments) {
  std::vector<std::string> words = {NOCTARBEL_CLI, "--home", Station().string()};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  Run run;
  const auto start = Clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return run;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return run;
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  run.peakKib = usage.ru_maxrss;
  return run;
}

void BM_CalibrateCommand(benchmark::State& state) {
  if (!PrepareStation()) return state.SkipWithError("cannot write the station folder");
  const std::string frame = (Station() / "frame.fit").string();
  const std::string calibrated = (Station() / "calibrated.fit").string();
  const std::string copied = (Station() / "copied.fit").string();
  // Both outputs exist before the first timed round, as they do after it.
  if (!RunCli({"fits", "copy", frame, copied}).ok || !RunCli({"calibrate", frame, calibrated}).ok) {
    return state.SkipWithError("noctarbel-cli failed");
  }
  double calibrateSeconds = 0;
  double copySeconds = 0;
  long peakKib = 0;
  for (auto _ : state) {
    const Run calibrate = RunCli({"calibrate", frame, calibrated});
    state.PauseTiming();
    const Run copy = RunCli({"fits", "copy", frame, copied});
    state.ResumeTiming();
    if (!calibrate.ok || !copy.ok) state.SkipWithError("noctarbel-cli failed");
    calibrateSeconds += calibrate.seconds;
    copySeconds += copy.seconds;
    peakKib = std::max(peakKib, calibrate.peakKib);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["calibrate_ms"] = calibrateSeconds / n * 1e3;
  state.counters["copy_ms"] = copySeconds / n * 1e3;
  state.counters["vs_copy"] = calibrateSeconds / copySeconds;
  state.counters["peak_mib"] = static_cast<double>(peakKib) / 1024.0;
}
BENCHMARK(BM_CalibrateCommand)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(12);

}  // namespace
}  // namespace noctarbel

BENCHMARK_MAIN();
