// Speed of the calibration of a full 6248 x 4176 16-bit frame, single thread: the dark scaled
// to the exposure with the bias (60 s image, 300 s dark), then the normalized flat; also each
// step alone and a zoomed sub-frame. Masters are loaded once, as the calibration window does.
//
// Run: build/bench/calibration_bench [--benchmark_filter=...]; the master files go to
// $NOCTARBEL_BENCH_DIR, else the system's temporary folder.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "imaging/calibration.h"
#include "tests/imaging/synthetic_frames.h"

namespace noctarbel {
namespace {

constexpr int kWidth = 6248;
constexpr int kHeight = 4176;

std::filesystem::path BenchFile(const char* name) {
  const char* dir = std::getenv("NOCTARBEL_BENCH_DIR");
  return std::filesystem::path(dir != nullptr ? dir : std::filesystem::temp_directory_path().string()) / name;
}

const Timgbuffer& Frame() {
  static Timgbuffer* frame = [] {
    auto* image = new Timgbuffer();
    testing::MakeStarField(*image, kWidth, kHeight, 300, 2024);
    image->Exposure = 60;
    image->XBinning = image->YBinning = 1;
    return image;
  }();
  return *frame;
}

// A master written to a file and loaded as the window loads it.
void WriteMaster(const char* name, int level, double sigma, double exposure, std::uint32_t seed) {
  Timgbuffer master;
  testing::FrameRandom random(seed);
  testing::FillSky(master, kWidth, kHeight, level, sigma, random);
  for (int i = 0; i < 2000; ++i) {  // hot pixels, some saturated
    master.SetPixel(1 + static_cast<int>(random.Below(kWidth)), 1 + static_cast<int>(random.Below(kHeight)),
                    20000 + static_cast<int>(random.Below(45536)));
  }
  master.Exposure = exposure;
  master.SaveFits(BenchFile(name).string());
}

ImageCalibration& Calibration() {
  static ImageCalibration* calibration = [] {
    auto* c = new ImageCalibration();
    WriteMaster("noctarbel_bench_dark.fit", 500, 30, 300, 7);
    WriteMaster("noctarbel_bench_bias.fit", 100, 5, 0, 8);
    WriteMaster("noctarbel_bench_flat.fit", 20000, 300, 1, 9);
    c->LoadDark(0, "dark", BenchFile("noctarbel_bench_dark.fit"));
    c->LoadBias(0, "bias", BenchFile("noctarbel_bench_bias.fit"));
    c->LoadFlat(1, "flat", BenchFile("noctarbel_bench_flat.fit"));
    c->Tables.FlatIds[0] = {"1", "", ""};
    c->Options.DarkSubtract = true;
    c->Options.FlatCorrection = true;
    return c;
  }();
  return *calibration;
}

void Calibrate(benchmark::State& state, const CalibrationRequest& request, int zoom = 1) {
  const Timgbuffer& frame = Frame();
  ImageCalibration& calibration = Calibration();
  if (!calibration.Dark(0) || !calibration.Flat(1)) return state.SkipWithError("masters not loaded");
  const int width = kWidth / zoom;
  const int height = kHeight / zoom;
  Timgbuffer work;
  work.SetSize(width, height, PixelType::Bits16);
  work.Exposure = frame.Exposure;
  work.XBinning = 1;
  const size_t rowBytes = static_cast<size_t>(width) * 2;
  for (auto _ : state) {
    state.PauseTiming();
    for (int y = 0; y < height; ++y) {
      std::memcpy(
          work.PixelsAs<std::uint16_t>() + static_cast<size_t>(y) * width,
          frame.PixelsAs<std::uint16_t>() + static_cast<size_t>(request.SubFrameY + y) * kWidth + request.SubFrameX,
          rowBytes);
    }
    work.DarkSubtracted = work.FlatApplied = false;
    state.ResumeTiming();
    CalibrationResult result = calibration.Calibrate(work, request);
    if (result.Dark != request.Dark || result.Flat != request.Flat) state.SkipWithError("a step was not done");
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * width * height * 2);
}

void BM_CalibrateDarkScaledAndFlat(benchmark::State& state) { Calibrate(state, {}); }
BENCHMARK(BM_CalibrateDarkScaledAndFlat)->Unit(benchmark::kMillisecond);

void BM_CalibrateDarkScaledOnly(benchmark::State& state) {
  CalibrationRequest request;
  request.Flat = false;
  Calibrate(state, request);
}
BENCHMARK(BM_CalibrateDarkScaledOnly)->Unit(benchmark::kMillisecond);

void BM_CalibrateFlatOnly(benchmark::State& state) {
  CalibrationRequest request;
  request.Dark = false;
  Calibrate(state, request);
}
BENCHMARK(BM_CalibrateFlatOnly)->Unit(benchmark::kMillisecond);

void BM_CalibrateZoom2SubFrame(benchmark::State& state) {
  CalibrationRequest request;
  request.Zoom = 2;
  request.SubFrameX = kWidth / 4;
  request.SubFrameY = kHeight / 4;
  Calibrate(state, request, 2);
}
BENCHMARK(BM_CalibrateZoom2SubFrame)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace noctarbel

BENCHMARK_MAIN();
