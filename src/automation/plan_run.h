#pragma once
// Running the whole plan table: "Start" (the start checks, the real run, the clean-up that
// always follows) and "Check" (the test run from a chosen UT, with its dialog TestForm1).

#include <optional>
#include <string>

#include "common/datetime.h"

namespace noctarbel {

class Controls;
class Station;

void InstallPlanRunHandlers(Station& station);
void DeclareTestFormControls(Controls& form);

// The checks before a real run, each with its message or question; false when the run must
// not start (every control and flag is left as it was then).
bool StartChecks(Station& station);
// The real run after the checks: every row, then the clean-up (also after an error). True
// when the rows ran to the end without the run being stopped. The rows' spans are left in
// the run-state's Timeline.
bool RunPlan(Station& station);
// The test run from `startUt`: every row on the simulated clock. The number of problems
// found; -1 when it was stopped.
int RunTestPlan(Station& station, DateTime startUt);

void ExecuteButtonClick(Station& station);
void CheckButtonClick(Station& station);

void DisableRunControls(Station& station);
void EnableRunControls(Station& station);

// TestForm1's date and time texts ("YYYY-MM-DD", "HH:MM:SS") as a date-time; nothing when
// they do not convert.
std::optional<DateTime> ParseTestStart(const std::string& date, const std::string& time);

}  // namespace noctarbel
