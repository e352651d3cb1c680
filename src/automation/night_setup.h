#pragma once
// Getting a station ready for a night without anyone at the window: the devices connected,
// the cooler on, the run's options as the operator would tick them. The command line's
// "run" and the tests of whole nights use it. For a simulated night the built-in
// simulators replace the station's devices and faults can be scheduled on the simulated
// clock (rain, a camera that stops delivering).

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "automation/plan_run.h"
#include "common/datetime.h"

namespace noctarbel {

class StationCore;
class Timer;

struct NightOptions {
  bool Simulate = false;       // the built-in simulators and the roof simulator
  bool Cloudy = false;         // simulation: no stars at all
  bool Corrections = true;     // dark and flat corrections when imgcalib.cfg exists
  bool CloseRoofAtEnd = true;  // "Close roof at end"
  bool Stacking = false;
  bool Guiding = false;
  // Empty: the night's folder RootImagePath/YYYY_MM_DD when that setting is set, else
  // "images" in the station folder.
  std::filesystem::path ImageFolder;
};

struct PreparedNight {
  RunOptions Options;
  // What the operator should know: a device that did not connect, a calibration master
  // that could not be loaded.
  std::vector<std::string> Notes;
};
// Connects what the settings (or the simulation) name, switches the cooler on and makes the
// run's options.
PreparedNight PrepareNight(StationCore& station, const NightOptions& options);
// The image folder of a night starting now: `given` when it is not empty, else as NightOptions
// says.
std::filesystem::path NightImageFolderFor(StationCore& station, const std::filesystem::path& given);
// Before noon with RootImagePath in use and no folder given: the dated folder of the evening
// before, where a night cut short after midnight was begun. Empty otherwise.
std::filesystem::path EveningImageFolderFor(StationCore& station, const std::filesystem::path& given);

// The start of a simulated night of these rows: the evening of their first start time (that
// UT today, or tomorrow when it is before noon), a few minutes early so that the night begins
// with its wait; 20:00 UT today without one.
DateTime DefaultSimulationStart(const std::vector<std::vector<std::string>>& rows, DateTime nowUtc);

// Faults of a simulated night. Each fires once, on the simulated clock's second ticks, when
// its condition first holds.
class SimulatedFaults {
 public:
  explicit SimulatedFaults(StationCore& station);
  ~SimulatedFaults();

  // Called with "rain" or "camera timeout" as each fault fires.
  std::function<void(const std::string& what)> OnFault;

  void RainAt(DateTime utc);
  void CameraTimeoutAt(DateTime utc);
  // The rain sensor goes wet the first time `when` holds.
  void RainWhen(std::function<bool()> when);
  void CameraTimeoutWhen(std::function<bool()> when);
  // The faults' conditions are checked this often (default one second).
  void SetCheckInterval(int milliseconds);

 private:
  struct Fault {
    std::function<bool()> When;
    std::string What;
    std::function<void()> Act;
    bool Fired = false;
  };
  void Add(std::function<bool()> when, std::string what, std::function<void()> act);
  void Check();

  StationCore& station_;
  std::unique_ptr<Timer> timer_;
  std::vector<Fault> faults_;
};

}  // namespace noctarbel
