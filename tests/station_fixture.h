#pragma once
// A station in a fresh folder on the virtual clock with scripted answers.

#include <memory>

#include "common/event_runtime.h"
#include "windows/station.h"
#include "windows/ui.h"
#include "common/datetime.h"
#include "tests/test_support.h"

namespace noctarbel::testing {

class StationFixture : public ::testing::Test {
 protected:
  explicit StationFixture(DateTime startUtc = EncodeDateTime(2026, 12, 6, 18, 0, 0))
      : clock(EventRuntime::WithVirtualClock(startUtc, 1.0)),
        station(std::make_unique<Station>(*clock, ui, StationPaths{dir.Path(), NOCTARBEL_SOURCE_DATA_DIR})) {}

  // A new station on the same folder, as after a restart of the program.
  void Restart() {
    station.reset();
    station = std::make_unique<Station>(*clock, ui, StationPaths{dir.Path(), NOCTARBEL_SOURCE_DATA_DIR});
  }

  TempDir dir;
  ScriptedUi ui;
  std::unique_ptr<EventRuntime> clock;
  std::unique_ptr<Station> station;
};

}  // namespace noctarbel::testing
