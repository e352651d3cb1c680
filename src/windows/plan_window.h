#pragma once
// The main window's run controls over the plan run (automation/plan_run.h): "Start" (the
// start checks, the run, the clean-up), "Check" with its dialog TestForm1, Pause, Play and
// Stop; the run's options read from the controls and its events shown in them.

#include <optional>
#include <string>

#include "automation/plan_run.h"
#include "common/datetime.h"

namespace noctarbel {

class Controls;
class Station;

void InstallPlanRunHandlers(Station& station);
void DeclareTestFormControls(Controls& form);

// The run's options as the main window's controls stand.
RunOptions RunOptionsFromWindow(Station& station);
// The run's events shown in the main window, the viewer and the preview.
RunEvents WindowRunEvents(Station& station);

// The status bar's progress field ("row 3 of 11 (M 31), image 2 of 5 R, 7 images saved") and
// the running row's mark in the plan table (the table's value: 0 without one), as the run's
// events tell them; the events already set go on being called.
void FollowRunProgress(Station& station, RunEvents& events);
void ShowRunProgress(Station& station);
// The progress field and the row's mark once a run has ended.
void EndRunProgress(Station& station, const std::string& text);

// The checks before a real run, each with its message or question; false when the run must
// not start.
bool StartChecks(Station& station, PlanRun& run);
// The real run after the checks, with the run controls off while it runs. True when the
// rows ran to the end without the run being stopped.
bool RunPlan(Station& station, PlanRun& run);
// The test run from `startUt` with its closing message; the number of problems found, -1
// when it was stopped.
int RunTestPlan(Station& station, DateTime startUt);
int RunTestPlan(Station& station, DateTime startUt, RunEvents events);

void ExecuteButtonClick(Station& station);
// Serves the status page when the setting StatusPage names an address; what went wrong goes
// to the log and the status line.
void StartStatusPage(Station& station);
void CheckButtonClick(Station& station);

void DisableRunControls(Station& station);
void EnableRunControls(Station& station);

// TestForm1's date and time texts ("YYYY-MM-DD", "HH:MM:SS") as a date-time; nothing when
// they do not convert.
std::optional<DateTime> ParseTestStart(const std::string& date, const std::string& time);

}  // namespace noctarbel
