#pragma once
// What makes a command-line run survive being stopped or cut off: SIGINT, SIGTERM and SIGHUP
// as the Stop button, and the choice to go on with a night the image folder's journal
// recorded as cut short.

#include <memory>

#include "common/stop_signal.h"

namespace noctarbel {
class EventRuntime;
class PlanRun;
class StationCore;
}  // namespace noctarbel

namespace noctarbel::cli {

struct CliContext;

// While it lives, a signal stops the run at its next wait and the clean-up runs; a signal
// during the clean-up is only reported: a roof close that has started is not abandoned.
class RunSignals {
 public:
  RunSignals(EventRuntime& runtime, StationCore& station);
  // The first signal received, 0 when none came.
  int Received() const { return received_; }
  // A signal that came before the run began (the start checks reset Stop) stops it still.
  void StopIfReceived();

 private:
  void OnSignal(int number, int count);

  StationCore& station_;
  int received_ = 0;
  StopSignalWatch watch_;
};

// With `resume`, sets the run up to go on with the night its image folder's journal recorded
// (a journal of another plan or of a completed night is refused: false, said); without it, a
// night cut short is mentioned and a new one begins.
bool ChooseResume(CliContext& context, PlanRun& run, bool resume, const std::string& imagesGiven);

}  // namespace noctarbel::cli
