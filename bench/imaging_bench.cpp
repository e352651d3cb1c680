// Speed of the per-frame image work on a full 6248 x 4176 16-bit frame with a few hundred
// stars, single thread: star search, hot-pixel filter, FITS save and load (beside cfitsio on
// the same frame and folder), 16 -> 8-bit rendering and JPEG encoding.
//
// Run: build/bench/imaging_bench [--benchmark_filter=...]; the FITS files go to
// $NOCTARBEL_BENCH_DIR, else the system's temporary folder.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/star_measure.h"
#include "imaging/display.h"
#include "imaging/header_cards.h"
#include "imaging/hot_pixel_filter.h"
#include "imaging/image_buffer.h"
#include "imaging/jpeg_codec.h"
#include "tests/imaging/direct_star_measure.h"
#include "tests/imaging/synthetic_frames.h"

#ifdef NOCTARBEL_BENCH_CFITSIO
#include <fitsio.h>
#endif

namespace noctarbel {
namespace {

constexpr int kWidth = 6248;
constexpr int kHeight = 4176;
constexpr int kStars = 300;

const Timgbuffer& Frame() {
  static Timgbuffer* frame = [] {
    auto* image = new Timgbuffer();
    testing::MakeStarField(*image, kWidth, kHeight, kStars, 2024);
    CaptureCardValues camera;
    camera.ObservationDate = "2024-03-05T21:07:09.2";
    camera.Exposure = 60;
    camera.Description = "Benchmark camera";
    camera.FilterName = "L";
    CaptureCardSettings site;
    WriteCaptureCards(*image, camera, site);
    image->ComputeMinMax();
    return image;
  }();
  return *frame;
}

std::string BenchFile(const char* name) {
  const char* dir = std::getenv("NOCTARBEL_BENCH_DIR");
  std::filesystem::path folder = dir != nullptr ? dir : std::filesystem::temp_directory_path().string();
  return (folder / name).string();
}

void SetFrameCounters(benchmark::State& state, size_t bytesPerFrame) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytesPerFrame));
}

void BM_Memcpy(benchmark::State& state) {
  const Timgbuffer& frame = Frame();
  const size_t bytes = static_cast<size_t>(frame.PixelCount()) * 2;
  std::vector<char> target(bytes, 1);
  for (auto _ : state) {
    std::memcpy(target.data(), frame.RawData(), bytes);
    benchmark::ClobberMemory();
  }
  SetFrameCounters(state, bytes);
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);

void BM_FindBrightestStar(benchmark::State& state) {
  const Timgbuffer& frame = Frame();
  for (auto _ : state) benchmark::DoNotOptimize(FindBrightestStar(frame));
}
BENCHMARK(BM_FindBrightestStar)->Unit(benchmark::kMillisecond);

void BM_FindBrightestStarDirect(benchmark::State& state) {
  const Timgbuffer& frame = Frame();
  for (auto _ : state) benchmark::DoNotOptimize(testing::DirectFindBrightestStar(frame));
}
BENCHMARK(BM_FindBrightestStarDirect)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_HotPixelFilter(benchmark::State& state) {
  const Timgbuffer& frame = Frame();
  auto work = frame.Clone();
  const size_t bytes = static_cast<size_t>(frame.PixelCount()) * 2;
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(work->RawData(), frame.RawData(), bytes);
    state.ResumeTiming();
    HotPixelFilter(*work, 4);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_HotPixelFilter)->Unit(benchmark::kMillisecond);

void BM_SaveFits(benchmark::State& state) {
  const Timgbuffer& frame = Frame();
  const std::string file = BenchFile("noctarbel_bench_save.fit");
  for (auto _ : state) {
    if (!frame.SaveFits(file)) state.SkipWithError(frame.LastError().c_str());
  }
  SetFrameCounters(state, static_cast<size_t>(frame.PixelCount()) * 2);
}
BENCHMARK(BM_SaveFits)->Unit(benchmark::kMillisecond);

// As cfitsio's "!name": the old file is deleted first, so no cached page is reused.
void BM_SaveFitsNewFile(benchmark::State& state) {
  const Timgbuffer& frame = Frame();
  const std::string file = BenchFile("noctarbel_bench_save.fit");
  for (auto _ : state) {
    std::filesystem::remove(file);
    if (!frame.SaveFits(file)) state.SkipWithError(frame.LastError().c_str());
  }
  SetFrameCounters(state, static_cast<size_t>(frame.PixelCount()) * 2);
}
BENCHMARK(BM_SaveFitsNewFile)->Unit(benchmark::kMillisecond);

void BM_LoadFits(benchmark::State& state) {
  const Timgbuffer& frame = Frame();
  const std::string file = BenchFile("noctarbel_bench_load.fit");
  frame.SaveFits(file);
  Timgbuffer image;  // reused, as the viewer and the executor reuse their buffers
  for (auto _ : state) {
    if (!image.LoadFits(file)) state.SkipWithError(image.LastError().c_str());
  }
  SetFrameCounters(state, static_cast<size_t>(frame.PixelCount()) * 2);
}
BENCHMARK(BM_LoadFits)->Unit(benchmark::kMillisecond);

void BM_LoadFitsFreshBuffer(benchmark::State& state) {
  const Timgbuffer& frame = Frame();
  const std::string file = BenchFile("noctarbel_bench_load.fit");
  frame.SaveFits(file);
  for (auto _ : state) {
    Timgbuffer image;
    if (!image.LoadFits(file)) state.SkipWithError(image.LastError().c_str());
  }
}
BENCHMARK(BM_LoadFitsFreshBuffer)->Unit(benchmark::kMillisecond);

#ifdef NOCTARBEL_BENCH_CFITSIO
void BM_CfitsioWrite(benchmark::State& state) {
  const Timgbuffer& frame = Frame();
  const std::string file = "!" + BenchFile("noctarbel_bench_cfitsio.fit");
  long axes[2] = {kWidth, kHeight};
  for (auto _ : state) {
    fitsfile* f = nullptr;
    int status = 0;
    fits_create_file(&f, file.c_str(), &status);
    fits_create_img(f, USHORT_IMG, 2, axes, &status);
    fits_write_img(f, TUSHORT, 1, frame.PixelCount(), const_cast<std::uint16_t*>(frame.PixelsAs<std::uint16_t>()),
                   &status);
    fits_close_file(f, &status);
    if (status != 0) state.SkipWithError("cfitsio write failed");
  }
  SetFrameCounters(state, static_cast<size_t>(frame.PixelCount()) * 2);
}
BENCHMARK(BM_CfitsioWrite)->Unit(benchmark::kMillisecond);

void BM_CfitsioRead(benchmark::State& state) {
  const Timgbuffer& frame = Frame();
  const std::string file = BenchFile("noctarbel_bench_load.fit");
  frame.SaveFits(file);
  std::vector<std::uint16_t> pixels(static_cast<size_t>(frame.PixelCount()), 1);
  for (auto _ : state) {
    fitsfile* f = nullptr;
    int status = 0, anynul = 0;
    fits_open_file(&f, file.c_str(), READONLY, &status);
    fits_read_img(f, TUSHORT, 1, frame.PixelCount(), nullptr, pixels.data(), &anynul, &status);
    fits_close_file(f, &status);
    if (status != 0) state.SkipWithError("cfitsio read failed");
  }
  SetFrameCounters(state, static_cast<size_t>(frame.PixelCount()) * 2);
}
BENCHMARK(BM_CfitsioRead)->Unit(benchmark::kMillisecond);
#endif

void BM_Render16To8(benchmark::State& state) {
  const Timgbuffer& frame = Frame();
  const double gamma = state.range(0) == 1 ? 1.0 : 1.0 / state.range(0);
  Bitmap8 bitmap;
  for (auto _ : state) {
    RenderBitmap(frame, 1150, 6000, gamma, 256, bitmap);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Render16To8)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_JpegFullFrame(benchmark::State& state) {
  const Timgbuffer& frame = Frame();
  Bitmap8 bitmap;
  RenderBitmap(frame, 1150, 6000, 1.0, 256, bitmap);
  std::vector<std::uint8_t> jpeg;
  for (auto _ : state) {
    if (!EncodeGreyJpeg(bitmap.Pixels.data(), bitmap.Width, bitmap.Height, bitmap.Stride, kDefaultJpegQuality, jpeg)) {
      state.SkipWithError("JPEG encoding failed");
    }
  }
  state.counters["jpeg_bytes"] = static_cast<double>(jpeg.size());
}
BENCHMARK(BM_JpegFullFrame)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace noctarbel

BENCHMARK_MAIN();
