// A long night's log: appending 100 000 lines and writing them to logfile.txt.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "station/event_log.h"
#include "common/datetime.h"

namespace {

void BM_EventLogAppendAndSave(benchmark::State& state) {
  const auto folder = std::filesystem::temp_directory_path() / "noctarbel-log-bench";
  std::filesystem::create_directories(folder);
  const noctarbel::DateTime start = noctarbel::EncodeDateTime(2026, 12, 6, 18, 0, 0);
  for (auto _ : state) {
    noctarbel::EventLog log;
    for (int i = 0; i < state.range(0); ++i) {
      log.AppendTimed(start + i / 86400.0, ": Exposure 300.000s; Filter: L (image " + std::to_string(i) + ")");
    }
    if (!log.SaveTo(folder)) state.SkipWithError("cannot write the log file");
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_EventLogAppendAndSave)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
