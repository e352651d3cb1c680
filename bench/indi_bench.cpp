// The INDI camera path on the CCD simulator (1280 x 1024, 16-bit), POLLING_PERIOD 100 ms:
// - the round trip of a 0.1 s exposure through the camera operation's TakeImage, from the
//   request to the image with its header cards in a Timgbuffer (the operation's wait polls
//   every 50 ms);
// - the station's own share of it: copying the BLOB out of the client library's callback,
//   decoding the FITS and taking the frame into the Timgbuffer as TakeImage does, into a
//   fresh image (each image of a plan run) and into one whose pixel block is reused (the
//   focusing and guiding loops).
// The program starts indiserver with the simulator drivers itself and stops it at the end.
//
// Run: build/bench/indi_bench

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <thread>

#include "common/event_runtime.h"
#include "operations/station_core.h"
#include "operations/camera_operations.h"
#include "devices/indi/indi_address.h"
#include "devices/indi/indi_client.h"
#include "devices/indi/indi_image.h"
#include "imaging/image_buffer.h"
#include "indi_test_server.h"

namespace noctarbel {
namespace {

constexpr const char* kCcd = "CCD Simulator";

// A folder of its own, removed at the end.
struct Folder {
  std::filesystem::path Path = [] {
    std::string name = (std::filesystem::temp_directory_path() / "noctarbel-indi-bench-XXXXXX").string();
    if (!::mkdtemp(name.data())) throw std::runtime_error("no temporary folder");
    return std::filesystem::path(name);
  }();
  ~Folder() {
    std::error_code ec;
    std::filesystem::remove_all(Path, ec);
  }
};

struct Simulators {
  Folder folder;
  testing::IndiTestServer server{folder.Path};
  IndiServerAddress address{"localhost", server.Port()};
};

Simulators& Server() {
  static Simulators* simulators = [] {
    auto* s = new Simulators();
    IndiClient client(s->address);
    if (!client.WaitForProperty(kCcd, {"POLLING_PERIOD"}, 5000) ||
        !client.SendNumbers(kCcd, "POLLING_PERIOD", {{"PERIOD_MS", 100}}, IndiCompleted, 5000)) {
      throw std::runtime_error("the CCD simulator does not take POLLING_PERIOD");
    }
    std::atexit([] { delete simulators; });
    return s;
  }();
  return *simulators;
}

void BM_IndiExposureRoundTrip(benchmark::State& state) {
  Folder home;
  auto clock = EventRuntime::WithRealClock();
  StationCore core(*clock, StationPaths{home.Path, {}});
  core.Settings.CameraObject = IndiDeviceAddress{Server().address, kCcd}.Identifier();
  std::string error;
  if (!core.Camera.Connect(&error)) throw std::runtime_error("the CCD simulator does not connect: " + error);
  ExposureRequest request = ExposureGeometry(core.Camera.CameraXSize(), core.Camera.CameraYSize(), 1, 1);
  request.Exposure = 0.1;
  Timgbuffer image;
  for (auto _ : state) {
    OperationContext op = core.BeginOperation();
    const ExposureResult result = core.Camera.TakeImage(op, request, image);
    if (!result.HasImage()) throw std::runtime_error("no image: " + result.Error);
    benchmark::DoNotOptimize(image.RawData());
  }
  core.Camera.Disconnect();
}
BENCHMARK(BM_IndiExposureRoundTrip)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

// One frame as the simulator sends it.
IndiBlob SimulatorFrame() {
  IndiClient client(Server().address, kCcd, "CCD1");
  client.WaitForProperty(kCcd, {"CONNECTION"}, 5000);
  client.SendSwitches(kCcd, "CONNECTION", {{"CONNECT", true}, {"DISCONNECT", false}}, IndiCompleted, 5000);
  client.WaitForProperty(kCcd, {"CCD1"}, 5000);
  client.WaitUntilQuiet(200, 3000);
  client.SendNumbers(kCcd, "CCD_BINNING", {{"HOR_BIN", 1}, {"VER_BIN", 1}}, IndiCompleted, 5000);
  client.SendNumbers(kCcd, "CCD_EXPOSURE", {{"CCD_EXPOSURE_VALUE", 0.1}}, IndiStarted, 5000);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (client.BlobSequence(kCcd) == 0 && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  IndiBlob blob = client.LatestBlob(kCcd);
  if (!blob.Bytes) throw std::runtime_error("no frame from the CCD simulator");
  return blob;
}

const IndiBlob& Frame() {
  static const IndiBlob blob = SimulatorFrame();
  return blob;
}

// The part of it that is this backend's: the copy and the FITS decoding.
void BM_IndiFrameDecode(benchmark::State& state) {
  const IndiBlob& blob = Frame();
  for (auto _ : state) {
    const std::vector<std::uint8_t> bytes(blob.Bytes->begin(), blob.Bytes->end());
    const ImageArrayData image = DecodeIndiImage(bytes.data(), bytes.size(), blob.Format);
    benchmark::DoNotOptimize(image.Pixels16.data());
  }
}
BENCHMARK(BM_IndiFrameDecode)->Unit(benchmark::kMillisecond);

// Then into a Timgbuffer as TakeImage takes it: a fresh image for each frame, or one whose
// pixel block is reused.
void DecodeAndConvert(benchmark::State& state, bool reuse) {
  const IndiBlob& blob = Frame();
  Timgbuffer kept;
  for (auto _ : state) {
    // The client thread's copy out of the library's buffer, then the station's work.
    const std::vector<std::uint8_t> bytes(blob.Bytes->begin(), blob.Bytes->end());
    const ImageArrayData frame = DecodeIndiImage(bytes.data(), bytes.size(), blob.Format);
    Timgbuffer fresh;
    Timgbuffer& image = reuse ? kept : fresh;
    std::string error;
    if (!ImageFromArray(frame, image, error)) throw std::runtime_error(error);
    benchmark::DoNotOptimize(image.RawData());
  }
  state.SetLabel(std::to_string(blob.Bytes->size()) + " bytes " + blob.Format);
}
void BM_IndiFrameDecodeAndConvert(benchmark::State& state) { DecodeAndConvert(state, false); }
void BM_IndiFrameDecodeAndConvertReused(benchmark::State& state) { DecodeAndConvert(state, true); }
BENCHMARK(BM_IndiFrameDecodeAndConvert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IndiFrameDecodeAndConvertReused)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace noctarbel

BENCHMARK_MAIN();
