// Speed of a manual exposure's work after the read-out, on a full 6248 x 4176 16-bit frame
// with 300 stars, single thread:
// - the driver's image array into the Timgbuffer (16-bit and 32-bit arrays), the image's
//   pixel block reused as the camera path reuses it, beside a memcpy of the frame's bytes
//   ("vs_memcpy" is the ratio to a memcpy timed in the same rounds);
// - the whole chain the exposure button runs: conversion with the minimum and maximum,
//   capture cards, hot-pixel filter, brightest-star search and its offset, the preview, the
//   FITS save over the previous test image; each step's mean time is a counter (ms), and
//   "chain_x" the whole chain's time over a memcpy of the frame timed in the same rounds;
// - the web-monitor picture: the viewer's rendered picture with its caption, reduced to
//   1920 pixels wide, as JPEG.
//
// Run: build/bench/exposure_bench [--benchmark_filter=...]; the files go to
// $NOCTARBEL_BENCH_DIR, else the system's temporary folder.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/event_runtime.h"
#include "windows/main_window.h"
#include "windows/station.h"
#include "windows/ui.h"
#include "windows/install_windows.h"
#include "common/datetime.h"
#include "windows/camera_window.h"
#include "operations/camera_operations.h"
#include "devices/device_interfaces.h"
#include "imaging/star_measure.h"
#include "guiding/star_offset.h"
#include "imaging/header_cards.h"
#include "imaging/hot_pixel_filter.h"
#include "imaging/image_buffer.h"
#include "imaging/viewer.h"
#include "tests/imaging/synthetic_frames.h"

namespace noctarbel {
namespace {

constexpr int kWidth = 6248;
constexpr int kHeight = 4176;
constexpr int kStars = 300;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::filesystem::path BenchFolder() {
  const char* dir = std::getenv("NOCTARBEL_BENCH_DIR");
  return dir != nullptr ? std::filesystem::path(dir) : std::filesystem::temp_directory_path();
}

const Timgbuffer& Frame() {
  static Timgbuffer* frame = [] {
    auto* image = new Timgbuffer();
    testing::MakeStarField(*image, kWidth, kHeight, kStars, 2024);
    return image;
  }();
  return *frame;
}

// The frame as a driver hands it over: 16-bit values, or 32-bit ones.
const ImageArrayData& DriverArray(bool sixteenBit) {
  static ImageArrayData* arrays[2] = {nullptr, nullptr};
  ImageArrayData*& array = arrays[sixteenBit ? 1 : 0];
  if (array == nullptr) {
    const Timgbuffer& frame = Frame();
    const std::uint16_t* pixels = frame.PixelsAs<std::uint16_t>();
    const size_t count = static_cast<size_t>(frame.PixelCount());
    array = new ImageArrayData();
    array->Width = frame.Width();
    array->Height = frame.Height();
    if (sixteenBit) {
      array->Pixels16.assign(pixels, pixels + count);
    } else {
      array->Pixels.assign(pixels, pixels + count);
    }
  }
  return *array;
}

size_t FrameBytes() { return static_cast<size_t>(kWidth) * kHeight * sizeof(std::uint16_t); }

void BM_Memcpy(benchmark::State& state) {
  const Timgbuffer& frame = Frame();
  std::vector<char> target(FrameBytes(), 1);
  for (auto _ : state) {
    std::memcpy(target.data(), frame.RawData(), FrameBytes());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(FrameBytes()));
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);

// ImageFromArray as the read-out calls it, into the image of the previous exposure. Each
// round also times a memcpy of the frame's bytes (outside the benchmark's time), so that the
// ratio sees the same load on the machine as the conversion.
void BM_ImageArrayToTimgbuffer(benchmark::State& state) {
  const ImageArrayData& array = DriverArray(state.range(0) == 16);
  const Timgbuffer& frame = Frame();
  std::vector<char> target(FrameBytes(), 1);
  Timgbuffer image;
  std::string error;
  if (!ImageFromArray(array, image, error)) return state.SkipWithError(error.c_str());
  double memcpySeconds = 0;
  double convertSeconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto start = Clock::now();
    std::memcpy(target.data(), frame.RawData(), FrameBytes());
    benchmark::ClobberMemory();
    memcpySeconds += Seconds(Clock::now() - start);
    state.ResumeTiming();
    start = Clock::now();
    if (!ImageFromArray(array, image, error)) state.SkipWithError(error.c_str());
    benchmark::ClobberMemory();
    convertSeconds += Seconds(Clock::now() - start);
  }
  state.counters["vs_memcpy"] = convertSeconds / memcpySeconds;
  state.counters["memcpy_ms"] = memcpySeconds / static_cast<double>(state.iterations()) * 1e3;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(FrameBytes()));
}
BENCHMARK(BM_ImageArrayToTimgbuffer)->ArgName("bits")->Arg(16)->Arg(32)->Unit(benchmark::kMillisecond);

// A headless station with its windows' controls, for the preview as the exposure button
// draws it (the viewer's Auto levels, 256 greys).
struct BenchStation {
  BenchStation()
      : folder(BenchFolder() / "noctarbel_bench_exposure_station"),
        clock(EventRuntime::WithVirtualClock(EncodeDateTime(2026, 12, 6, 21, 0, 0), 1.0)) {
    std::filesystem::create_directories(folder);
    station = std::make_unique<Station>(*clock, ui, StationPaths{folder, NOCTARBEL_SOURCE_DATA_DIR});
    InstallHandlers(*station);
    CreateForms(*station);
  }
  ~BenchStation() {
    station.reset();
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
  }
  std::filesystem::path folder;
  ScriptedUi ui;
  std::unique_ptr<EventRuntime> clock;
  std::unique_ptr<Station> station;
};

// The exposure button's work once the camera has the image: TakeImage's read-out (conversion
// with the minimum and maximum, capture cards), TakeManualExposure's hot-pixel filter, star
// search and offset, then ShowInPreview and the test image's save over the previous one, in
// that order. Each step's mean time is a counter (ms). A memcpy of the frame's bytes is timed
// before and after each round (outside the benchmark's time), and "chain_x" and "hotpixel_x"
// are the chain's and the filter's time over the mean of the two: the same load on the
// machine as the round itself.
void BM_ManualExposureChain(benchmark::State& state) {
  const ImageArrayData& array = DriverArray(state.range(0) == 16);
  const Timgbuffer& frame = Frame();
  std::vector<char> target(FrameBytes(), 1);
  BenchStation bench;
  Station& station = *bench.station;
  const std::string file = (bench.folder / "testbild.fits").string();
  CaptureCardValues values;
  values.ObservationDate = "2026-12-06T21:07:09.2";
  values.Exposure = 60;
  values.Description = "Simulated cooled monochrome CCD camera";
  values.FilterName = "L";
  values.Gain = 100;
  values.PixelSizeX = values.PixelSizeY = 3.76;
  values.CcdTemperature = -10;
  const CaptureCardSettings settings{1.2, "Benchmark telescope", "Observer", -11.5, 48.1};

  enum Step { Convert, Cards, HotPixels, Star, Preview, Save, Steps };
  static const char* const names[Steps] = {"convert_ms", "cards_ms", "hotpixel_ms", "star_ms", "preview_ms", "save_ms"};
  double spent[Steps] = {};
  double memcpySeconds = 0;
  Timgbuffer image;
  std::string error;
  if (!ImageFromArray(array, image, error)) return state.SkipWithError(error.c_str());
  if (!image.SaveFits(file)) return state.SkipWithError(image.LastError().c_str());
  int starsFound = 0;
  auto timeMemcpy = [&] {
    const auto start = Clock::now();
    std::memcpy(target.data(), frame.RawData(), FrameBytes());
    benchmark::ClobberMemory();
    memcpySeconds += Seconds(Clock::now() - start) / 2;
  };
  for (auto _ : state) {
    state.PauseTiming();
    timeMemcpy();
    state.ResumeTiming();
    auto mark = Clock::now();
    auto lap = [&](Step step) {
      const auto now = Clock::now();
      spent[step] += Seconds(now - mark);
      mark = now;
    };
    if (!ImageFromArray(array, image, error)) state.SkipWithError(error.c_str());
    lap(Convert);
    WriteCaptureCards(image, values, settings);
    lap(Cards);
    HotPixelFilter(image, 4);
    lap(HotPixels);
    const StarSearchResult star = FindBrightestStar(image);
    if (star.Found) {
      ++starsFound;
      benchmark::DoNotOptimize(OffsetOfStar(image.Width(), image.Height(), star.X, star.Y, 1.2, 1.2, 0));
    }
    lap(Star);
    ShowInPreview(station, image);
    lap(Preview);
    if (!image.SaveFits(file)) state.SkipWithError(image.LastError().c_str());
    lap(Save);
    state.PauseTiming();
    timeMemcpy();
    state.ResumeTiming();
  }
  const double n = static_cast<double>(state.iterations());
  double chain = 0;
  for (int step = 0; step < Steps; ++step) {
    state.counters[names[step]] = spent[step] / n * 1e3;
    chain += spent[step];
  }
  state.counters["memcpy_ms"] = memcpySeconds / n * 1e3;
  state.counters["chain_x"] = chain / memcpySeconds;
  state.counters["hotpixel_x"] = spent[HotPixels] / memcpySeconds;
  if (starsFound == 0) state.SkipWithError("no star found");
}
BENCHMARK(BM_ManualExposureChain)->ArgName("bits")->Arg(16)->Arg(32)->Unit(benchmark::kMillisecond);

// The web monitor's JPEG from the viewer showing the frame (rendered once, as the viewer
// has rendered it before the export).
void BM_WebMonitorJpeg(benchmark::State& state) {
  ImageViewer viewer;
  viewer.ShowFrame(Frame(), StackTracking{});
  viewer.Render(ViewerLook{});
  const std::filesystem::path target = BenchFolder() / "noctarbel_bench_webmonitor.jpg";
  // The caption: the local time, as ViewerWebMonitor writes it.
  const std::string caption = FormatDateTime(EncodeDateTime(2026, 12, 6, 22, 7, 9));
  std::string error;
  for (auto _ : state) {
    if (!viewer.WriteWebMonitorPicture(target.string(), caption, false, &error)) {
      state.SkipWithError(error.c_str());
    }
  }
  std::error_code ec;
  state.counters["jpeg_bytes"] = static_cast<double>(std::filesystem::file_size(target, ec));
  std::filesystem::remove(target, ec);
}
BENCHMARK(BM_WebMonitorJpeg)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace noctarbel

BENCHMARK_MAIN();
