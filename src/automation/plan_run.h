#pragma once
// The automation layer: the plan table and plan files, the executor of a row, the start
// checks, the real run and its clean-up, the test run, the exposure sequence of a row and
// the night's time line. It drives the devices only through the operations (operations/)
// and may use everything below them; it never touches a window.
//
// A run takes its options as one value (read from the window's controls, or from the
// command line's flags) and tells what it does through events that the window and the
// command line each show in their own way.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "automation/run_journal.h"
#include "common/datetime.h"
#include "station/run_state.h"

namespace noctarbel {

class StationCore;
class Timgbuffer;

// What the operator chose for a run.
struct RunOptions {
  bool Corrections = false;     // dark and flat on the fly ("Corrections")
  bool CloseRoofAtEnd = true;   // "Close roof at end, error or stop"
  bool Stacking = false;        // per-filter stacks of each row
  bool Guiding = false;         // "Star guiding" on the row's images
  bool HotPixelFilter = true;   // the autofocus's frames are cleaned of hot pixels
  bool ExtraViewer = false;     // every image is handed to the image viewer
  bool WebMonitor = false;      // ... and the viewer's picture written for the web monitor
  double SyncRangeArcsec = 5;   // the "SY" tolerance
  // The image folder as given: relative names count from the station folder; empty means
  // none was chosen (the start checks ask for one).
  std::string ImageFolder;
  // A plan's "CC" switches the cooler on at this set-point.
  double CoolerSetPoint = -10;
  // The start checks' question: a camera that could cool but whose cooler is off.
  bool CoolerOff = false;
  // "ZZ" may switch the computer off (never in tests and simulated nights).
  bool ShutdownAllowed = false;
  // The plan file the rows came from, for the run's journal (may be empty).
  std::string PlanFile;
};

// How the clean-up left the observatory.
struct CleanUpOutcome {
  // The roof's end switch says closed; empty without observatory control.
  std::optional<bool> RoofClosed;
  // The park the clean-up made before closing; empty when it made none.
  std::optional<bool> Parked;
  // The clean-up was to close the roof (or park for it) and did not.
  bool Failed = false;
  // The log is in the image folder (else a copy went to the station folder).
  bool LogSaved = true;
};

// What a run tells whoever follows it. Every member may be left empty.
struct RunEvents {
  std::function<void(int row, const std::string& object)> RowStarted;
  std::function<void(int image, int images, const std::string& filter)> ImageStarted;
  std::function<void(const std::string& file, bool stack)> FileSaved;
  // An image of a row is done (calibrated and saved): the window's preview shows it.
  std::function<void(Timgbuffer& image, const std::string& object)> ImageDone;
  // With ExtraViewer: the station's image viewer holds a new frame or stack (redraw it), or
  // a file to show; `webMonitor` when the web-monitor picture is due now.
  std::function<void(bool webMonitor)> ViewerChanged;
  std::function<void(const std::string& file, bool webMonitor)> ViewerFile;
  // A "SY" row's exposure: time, filter (1-based) and binning, for the exposure fields.
  std::function<void(double seconds, int filter, int binning)> SyncExposure;
  // A "CC" row switched the cooler on.
  std::function<void()> CoolerSwitchedOn;
  // A row is over: its span on the night's time line.
  std::function<void(const RowSpan& span)> RowEnded;
};

// How the start checks talk to the operator.
struct RunPrompts {
  std::function<void(const std::string& message)> Tell;
  std::function<bool(const std::string& question)> Ask;
  // No image folder was given: one chosen now, or empty to give up.
  std::function<std::string()> ChooseImageFolder;
};

class PlanRun {
 public:
  PlanRun(StationCore& core, RunOptions options, RunEvents events = {});

  StationCore& Core;
  RunOptions Options;
  RunEvents Events;

  // The checks before a real run, each with its message or question; false when the run must
  // not start (nothing was changed then).
  bool StartChecks(const RunPrompts& prompts);
  // The real run after the checks: every row, then the clean-up (also after an error). True
  // when the rows ran to the end without the run being stopped. The rows' spans are left in
  // the run-state's Timeline.
  bool Run();
  // The test run from `startUt`: every row on the simulated clock. The number of problems
  // found; -1 when it was stopped.
  int Test(DateTime startUt);

  // The image folder, resolved: the station folder when none is set.
  std::filesystem::path ImageFolder() const;

  // Set before Run to go on with a night cut short: its finished rows are skipped and its
  // saved images are not taken again.
  std::optional<JournalNight> Resume;
  // The journal of the run going on (none outside Run, or when it cannot be written).
  RunJournal* Journal() { return journal_.get(); }
  // Filled by Run's clean-up.
  CleanUpOutcome EndState;

 private:
  void OpenJournal();
  // The operator is told how the night ended (the setting NotifyCommand).
  void NotifyNightEnd(bool completed);
  void CleanUp(bool completed);
  void FixBaseFocusPosition();

  std::unique_ptr<RunJournal> journal_;
};

}  // namespace noctarbel
