#pragma once
// Rehearsing a night in the window: the plan table runs through the real run (the executor,
// its start checks and clean-up) on a station of its own — the built-in simulators, a
// simulated clock paced against the wall at the chosen speed and a scratch image folder —
// while the window shows its images, its running row, the growing time line and the log. The
// station's own devices and image folder are never touched. The simulator switches (rain,
// clouds, a camera that stops delivering) act on the rehearsal while it runs.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "common/datetime.h"

namespace noctarbel {

class Controls;
class EventRuntime;
class PlanRun;
class SimulatedFaults;
class Station;
class StationCore;

struct RehearsalOptions {
  // UT the rehearsal starts at; default the evening of the plan's first start time.
  std::optional<DateTime> Start;
  // The simulated rain sensor goes wet at this UT.
  std::optional<DateTime> RainAt;
  // Simulated seconds per real second, 0 as fast as it goes; default the speed box's choice.
  std::optional<double> Speed;
};

// A rehearsal going on: its station and clock, for the simulator switches and the speed box.
class Rehearsal {
 public:
  Rehearsal(Station& window, DateTime start);
  ~Rehearsal();

  StationCore& Core() { return *core_; }
  EventRuntime& Clock() { return *clock_; }
  // Paces the simulated clock anew; the window's events are handled while it waits.
  void SetSpeed(double speed);
  // The simulator switches of the window, as they stand.
  void ApplySimulatorSwitches();
  // The window's Stop: the rehearsal's run stops at once, and its log says when.
  void Stop();

 private:
  Station& window_;
  std::unique_ptr<EventRuntime> clock_;
  std::unique_ptr<StationCore> core_;
  // The sky as the simulators made it, for clouds that clear again.
  bool skyKnown_ = false;
  int faintStars_ = 0;
  double brightMin_ = 0, brightMax_ = 0;
  bool starAtTargets_ = true;
};

// The scratch image folder of the station's rehearsals: emptied when one starts.
std::filesystem::path RehearsalFolder(const Station& station);
// The speed box's choice in simulated seconds per real second; 0 as fast as it goes.
double RehearsalSpeed(const Controls& main);
// Runs the plan table as a rehearsal; true when its rows ran to their end.
bool RehearsePlan(Station& station, const RehearsalOptions& options = {});

void RehearseButtonClick(Station& station);
void InstallRehearsalHandlers(Station& station);

}  // namespace noctarbel
