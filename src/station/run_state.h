#pragma once
// The run-state shared by the executor, the start operations and the run controls.

#include <string>
#include <vector>

#include "common/datetime.h"

namespace noctarbel {

// The roof alarm (RoofErrorState); its number is shown in the status bar as "ALARM n".
enum class RoofAlarm : int {
  None = 0,
  CloseFailed = 1,    // closing the roof failed
  RainNotParked = 2,  // rain with the roof open and the telescope not parked
};

// How a row of a run or a test run ended, for the night's time line.
enum class RowOutcome {
  Done,
  Skipped,  // below the horizon, or cells that do not convert
  Problem,  // the test run foresaw a problem (not visible at the end, a meridian flip), or a
            // real row did not do all it was asked (autofocus failed, not synced, stack not saved)
  Stopped,  // the run stopped in this row (Stop, rain, a device error)
};

// When a row did its work (after its start-time wait) and how it ended.
struct RowSpan {
  int Row = 0;
  std::string Name;
  DateTime Start = 0;  // UT
  DateTime End = 0;
  RowOutcome Outcome = RowOutcome::Done;
  std::string Note;  // why it was skipped, or what failed
  std::vector<DateTime> Flips;  // UT of each meridian flip the row made
};

struct RunState {
  bool AbortRequested = false;  // every wait loop of a run ends when it is set
  bool PauseRequested = false;  // the executor blocks at its pause points while it is set
  bool PlanRunning = false;     // a plan run or a test run is in progress
  bool TestMode = false;        // the executor simulates; no device moves
  DateTime TestClock = 0;       // simulated UT of a test run; 0 when not set
  int TestErrorCount = 0;
  int FocusShift = 0;          // focuser steps set by the plan command "FS"
  int BaseFocusPosition = -1;  // focus of the standard filter; -1 when not fixed
  RoofAlarm RoofErrorState = RoofAlarm::None;
  int WaitTicks = 0;             // remaining one-second ticks of WaitTimer
  bool CameraErrorFlag = false;  // an exposure timed out or its image could not be read
  bool PierSideAvailable = true;
  // What the running row did not do of what it was asked ("autofocus failed", ...); empty
  // while all went well. The executor clears it when a row begins.
  std::string RowFailure;
  // When the running row flipped the mount to the other side of the pier (UT).
  std::vector<DateTime> RowFlips;
  // The rows of the last run or test run, in the order they ran.
  std::vector<RowSpan> Timeline;
};

}  // namespace noctarbel
