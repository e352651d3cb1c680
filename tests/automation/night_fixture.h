#pragma once
// A station on the virtual clock, prepared for a night on the built-in simulators as the
// command line's "run --simulate" prepares it, with a plan written as CSV lines, faults and
// operator clicks scheduled by condition, and what the night left behind: the log, the saved
// files in their order, the simulators' counters.

#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "automation/night_setup.h"
#include "automation/plan_file.h"
#include "automation/plan_run.h"
#include "devices/sim/sim_devices.h"
#include "devices/sim/sim_world.h"
#include "tests/station_fixture.h"
#include "windows/install_windows.h"
#include "windows/main_window.h"
#include "windows/plan_window.h"

namespace noctarbel::testing {

// A star in Auriga that stands well up from the early evening on, for focusing and syncing.
inline const char* kCapellaCells = "05;16;41.4;45;59;53";
inline const char* kM31Cells = "00;42;44.3;41;16;9";

// Cells of a J2000 position: "h;m;s;d;m;s".
inline std::string PositionCells(double raHours, double decDeg) {
  raHours = std::fmod(raHours + 48.0, 24.0);
  const int rh = static_cast<int>(raHours);
  const int rm = static_cast<int>((raHours - rh) * 60);
  const double rs = ((raHours - rh) * 60 - rm) * 60;
  const double a = std::abs(decDeg);
  const int dd = static_cast<int>(a);
  const int dm = static_cast<int>((a - dd) * 60);
  const double ds = ((a - dd) * 60 - dm) * 60;
  char text[96];
  std::snprintf(text, sizeof text, "%d;%d;%.1f;%s%d;%d;%.0f", rh, rm, rs, decDeg < 0 ? "-" : "", dd, dm, ds);
  return text;
}

class NightFixture : public StationFixture {
 protected:
  NightFixture() : StationFixture(EncodeDateTime(2026, 12, 6, 17, 0, 0)) {
    InstallHandlers(*station);
    CreateForms(*station);
    PilotFormShow(*station);
    ui.defaultAnswer = true;  // "Start without corrections?" and the like
    SettingsRecord& s = station->Settings;
    // The V lines of the simulated focuser and camera, as "focus calibrate --fit" finds them.
    s.AFposition = 5000;
    s.AFLslope = -0.0345;
    s.AFLic = 172.2;
    s.AFRslope = 0.0345;
    s.AFRic = -173.3;
    s.CameraPauseTime = 0;
    faults = std::make_unique<SimulatedFaults>(*station);
    events_ = std::make_unique<Timer>(*clock, 200);
    events_->SetHandler([this] { FireEvents(); });
    events.FileSaved = [this](const std::string& file, bool stack) {
      (stack ? stacks : saved).push_back(std::filesystem::path(file).filename().string());
    };
    events.RowStarted = [this](int row, const std::string&) {
      rowLogStart.resize(static_cast<size_t>(row) + 1, 0);
      rowLogStart[static_cast<size_t>(row)] = station->Log.Size();
      rowExposures.resize(static_cast<size_t>(row) + 1, 0);
      rowExposures[static_cast<size_t>(row)] = World().Camera.ExposuresStarted();
      currentRow = row;
    };
  }
  ~NightFixture() override {
    events_.reset();
    faults.reset();
  }

  // Plan rows as CSV lines of the 16 cells of columns 1..16.
  void Plan(const std::vector<std::string>& lines) {
    std::vector<PlanRow> rows;
    for (const auto& line : lines) rows.push_back(SplitPlanLine(line));
    ReplacePlanRows(station->Planer1, rows);
  }

  // Connects the simulators as "run --simulate" does; `run` holds the night's options then.
  void Prepare(NightOptions options = {}) {
    options.Simulate = true;
    run = PrepareNight(*station, options).Options;
  }

  // Start: the checks, then the run. True when every row ran.
  bool RunNight() {
    PlanRun night(*station, run, events);
    if (!StartChecks(*station, night)) return false;
    return RunPlan(*station, night);
  }

  // Runs `action` once, at the first 200 ms tick at which `when` holds.
  void When(std::function<bool()> when, std::function<void()> action) {
    pending_.push_back({std::move(when), std::move(action)});
    events_->Start();
  }

  SimWorld& World() { return *SimulatedWorld(station->Devices.Registry); }
  const std::vector<std::string>& LogLines() { return station->Log.Lines(); }
  bool LogHas(const std::string& text) { return LogIndex(text) >= 0; }
  // The first log line holding the text, from `from` on; -1 when there is none.
  long LogIndex(const std::string& text, size_t from = 0) {
    const auto& lines = LogLines();
    for (size_t i = from; i < lines.size(); ++i) {
      if (lines[i].find(text) != std::string::npos) return static_cast<long>(i);
    }
    return -1;
  }
  std::string LastLogLine() { return LogLines().empty() ? std::string() : LogLines().back(); }
  std::filesystem::path ImageFolder() { return dir.Path() / "images"; }
  DateTime Utc(int hour, int minute, int second = 0, int day = 6) {
    return EncodeDateTime(2026, 12, day, hour, minute, second);
  }

  std::unique_ptr<SimulatedFaults> faults;
  // The run's options (set by Prepare) and what the fixture hears of it.
  RunOptions run;
  RunEvents events;
  std::vector<std::string> saved;  // file names, in the order they were written
  std::vector<std::string> stacks;
  std::vector<size_t> rowLogStart;  // log size when each row started
  std::vector<int> rowExposures;    // exposures the camera had started when each row started
  int currentRow = 0;

 private:
  struct Pending {
    std::function<bool()> When;
    std::function<void()> Action;
  };
  void FireEvents() {
    for (auto& p : pending_) {
      if (!p.Action || !p.When()) continue;
      auto action = std::move(p.Action);
      p.Action = nullptr;
      action();
    }
  }

  std::unique_ptr<Timer> events_;
  std::vector<Pending> pending_;
};

}  // namespace noctarbel::testing
