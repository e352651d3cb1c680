// The INDI camera path on the CCD simulator (1280 x 1024, 16-bit), POLLING_PERIOD 100 ms:
// - the round trip of a 0.1 s exposure, from StartExposure to the image in a Timgbuffer;
// - the station's own share of it: copying the BLOB out of the client library's callback,
//   decoding the FITS and filling the Timgbuffer.
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

#include "devices/indi/indi_client.h"
#include "devices/indi/indi_devices.h"
#include "devices/indi/indi_image.h"
#include "imaging/image_buffer.h"
#include "indi_test_server.h"

namespace noctarbel {
namespace {

constexpr const char* kCcd = "CCD Simulator";

// A folder of its own for the server, removed at the end.
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

// As the camera operation fills its image: pixel by pixel, clamped.
void ToImageBuffer(const ImageArrayData& image, Timgbuffer& buffer) {
  buffer.SetSize(image.Width, image.Height, PixelType::Bits16);
  for (int y = 0; y < image.Height; ++y) {
    for (int x = 0; x < image.Width; ++x) buffer.SetPixel(x + 1, y + 1, image.At(x, y));
  }
}

void BM_IndiExposureRoundTrip(benchmark::State& state) {
  auto camera = MakeIndiCamera(IndiDeviceAddress{Server().address, kCcd});
  camera->SetConnected(true);
  camera->SetBinX(1);
  camera->SetBinY(1);
  camera->SetStartX(0);
  camera->SetStartY(0);
  camera->SetNumX(camera->CameraXSize());
  camera->SetNumY(camera->CameraYSize());
  for (auto _ : state) {
    camera->StartExposure(0.1, true);
    while (!camera->ImageReady()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    Timgbuffer buffer;
    ToImageBuffer(camera->ImageArray(), buffer);
    benchmark::DoNotOptimize(buffer.RawData());
  }
  camera->SetConnected(false);
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

void BM_IndiFrameDecodeAndConvert(benchmark::State& state) {
  const IndiBlob& blob = Frame();
  for (auto _ : state) {
    // The client thread's copy out of the library's buffer, then the station's work.
    const std::vector<std::uint8_t> bytes(blob.Bytes->begin(), blob.Bytes->end());
    const ImageArrayData image = DecodeIndiImage(bytes.data(), bytes.size(), blob.Format);
    Timgbuffer buffer;
    ToImageBuffer(image, buffer);
    benchmark::DoNotOptimize(buffer.RawData());
  }
  state.SetLabel(std::to_string(blob.Bytes->size()) + " bytes " + blob.Format);
}
BENCHMARK(BM_IndiFrameDecodeAndConvert)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace noctarbel

BENCHMARK_MAIN();
