#pragma once
// The run-state shared by the executor, the start operations and the run controls.

#include "common/datetime.h"

namespace noctarbel {

// The roof alarm (RoofErrorState); its number is shown in the status bar as "ALARM n".
enum class RoofAlarm : int {
  None = 0,
  CloseFailed = 1,    // closing the roof failed
  RainNotParked = 2,  // rain with the roof open and the telescope not parked
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
};

}  // namespace noctarbel
