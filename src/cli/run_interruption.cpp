#include "cli/run_interruption.h"

#include <iostream>

#include "automation/night_setup.h"
#include "automation/plan_run.h"
#include "automation/run_journal.h"
#include "cli/cli_context.h"
#include "common/event_runtime.h"
#include "operations/station_core.h"

namespace noctarbel::cli {

RunSignals::RunSignals(EventRuntime& runtime, StationCore& station)
    : station_(station), watch_(runtime, [this](int number, int count) { OnSignal(number, count); }) {}

void RunSignals::OnSignal(int number, int count) {
  const std::string name = stop_signal::Name(number);
  if (received_ != 0 || count > 1) {
    std::cerr << ErrorLine(name + " again: the clean-up is finishing (a roof close that has started goes on)") << "\n";
    return;
  }
  received_ = number;
  std::cerr << ErrorLine(name + ": stopping the run; the clean-up runs") << "\n";
  station_.Run.AbortRequested = true;
}

void RunSignals::StopIfReceived() {
  if (received_ != 0) station_.Run.AbortRequested = true;
}

bool ChooseResume(CliContext& context, PlanRun& run, bool resume, const std::string& imagesGiven) {
  const std::string checksum = PlanChecksum(run.Core.Planer1, run.Core.Settings.Standardfilter);
  ResumeCheck check = CheckResume(run.ImageFolder(), checksum);
  // A night started before midnight and cut short after it lives in the evening's dated folder.
  if (check.Verdict == ResumeVerdict::NoJournal) {
    const std::filesystem::path evening = EveningImageFolderFor(run.Core, imagesGiven);
    if (!evening.empty()) {
      ResumeCheck earlier = CheckResume(evening, checksum);
      if (earlier.Verdict == ResumeVerdict::Resumable) {
        check = std::move(earlier);
        if (resume) run.Options.ImageFolder = evening.string();
      }
    }
  }
  if (!resume) {
    if (check.Verdict == ResumeVerdict::Resumable) {
      context.Note(check.Message + ": not resumed (--resume goes on with it); this run starts at row 1");
    }
    return true;
  }
  switch (check.Verdict) {
    case ResumeVerdict::NoJournal:
      context.Note("No journal in " + run.ImageFolder().string() + ": the night starts at row 1");
      return true;
    case ResumeVerdict::OtherPlan:
    case ResumeVerdict::Completed:
      context.Fail("Not resumed: " + check.Message);
      return false;
    case ResumeVerdict::Resumable:
      context.Note("Resuming: " + check.Message);
      run.Resume = check.Night;
      return true;
  }
  return true;
}

}  // namespace noctarbel::cli
