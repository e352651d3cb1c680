// ImageArray of a 6248 x 4176 16-bit frame from noctarbel-alpaca's server over loopback:
// ImageBytes (what our client asks for) beside the JSON array (what a server without
// ImageBytes sends), each from the request to the decoded ImageArrayData; and the ImageBytes
// read on into a Timgbuffer as the camera operation's TakeImage takes it, into a fresh image
// (each image of a plan run) and into one whose pixel block is reused (the focusing and
// guiding loops). The server runs in this process; the frame is rendered once before the
// measured reads.
//
// Run: build/bench/alpaca_bench [--benchmark_filter=...]

#include <benchmark/benchmark.h>

#include <httplib.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "devices/alpaca/alpaca_client.h"
#include "devices/alpaca/image_transfer.h"
#include "devices/alpaca/server/alpaca_server.h"
#include "operations/camera_operations.h"
#include "devices/sim/sim_world.h"
#include "imaging/image_buffer.h"

namespace noctarbel {
namespace {

using namespace alpaca;

constexpr int kWidth = 6248;
constexpr int kHeight = 4176;

// The server with its camera's frame taken and rendered, shared by the benchmarks.
AlpacaServer& Server() {
  static AlpacaServer* server = [] {
    ServerOptions options;
    options.Port = 0;
    options.Discovery = false;
    auto* s = new AlpacaServer(options);
    s->WithWorld([](SimWorld& w) {
      w.Camera.Config.Width = kWidth;
      w.Camera.Config.Height = kHeight;
      w.Camera.Config.FullReadoutSeconds = 0;
    });
    s->Start();
    DeviceClient camera(ParseIdentifier("alpaca://127.0.0.1:" + std::to_string(s->Port()) + "/camera/0"),
                        Timeouts{2000, 60000});
    camera.Put("connected", {{"Connected", "true"}});
    camera.Put("startexposure", {{"Duration", "0"}, {"Light", "true"}});
    while (!camera.GetBool("imageready")) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    camera.GetImageArray();  // renders the frame on the server
    return s;
  }();
  return *server;
}

void CountFrames(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations());
  state.counters["MB/frame"] = kWidth * kHeight * 2 / 1e6;
}

void BM_ImageArrayAsImageBytes(benchmark::State& state) {
  DeviceClient camera(ParseIdentifier("alpaca://127.0.0.1:" + std::to_string(Server().Port()) + "/camera/0"),
                      Timeouts{2000, 60000});
  for (auto _ : state) {
    ImageArrayData image = camera.GetImageArray();
    if (image.Width != kWidth || !image.Is16Bit()) throw std::runtime_error("unexpected frame");
    benchmark::DoNotOptimize(image.Pixels16.data());
  }
  CountFrames(state);
}
BENCHMARK(BM_ImageArrayAsImageBytes)->Unit(benchmark::kMillisecond)->UseRealTime();

void IntoImageBuffer(benchmark::State& state, bool reuse) {
  DeviceClient camera(ParseIdentifier("alpaca://127.0.0.1:" + std::to_string(Server().Port()) + "/camera/0"),
                      Timeouts{2000, 60000});
  Timgbuffer kept;
  for (auto _ : state) {
    const ImageArrayData frame = camera.GetImageArray();
    Timgbuffer fresh;
    Timgbuffer& image = reuse ? kept : fresh;
    std::string error;
    if (!ImageFromArray(frame, image, error)) throw std::runtime_error(error);
    benchmark::DoNotOptimize(image.RawData());
  }
  CountFrames(state);
}
void BM_ImageArrayIntoTimgbuffer(benchmark::State& state) { IntoImageBuffer(state, false); }
void BM_ImageArrayIntoReusedTimgbuffer(benchmark::State& state) { IntoImageBuffer(state, true); }
BENCHMARK(BM_ImageArrayIntoTimgbuffer)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ImageArrayIntoReusedTimgbuffer)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ImageArrayAsJson(benchmark::State& state) {
  httplib::Client http("127.0.0.1", Server().Port());
  http.set_read_timeout(std::chrono::seconds(120));
  http.set_decompress(false);
  for (auto _ : state) {
    auto result = http.Get("/api/v1/camera/0/imagearray", httplib::Headers{{"Accept", "application/json"}});
    if (!result || result->status != 200) throw std::runtime_error("no JSON frame");
    ImageArrayData image = DecodeImageJson(result->body);
    benchmark::DoNotOptimize(image.Pixels16.data());
  }
  CountFrames(state);
}
BENCHMARK(BM_ImageArrayAsJson)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
}  // namespace noctarbel

BENCHMARK_MAIN();
