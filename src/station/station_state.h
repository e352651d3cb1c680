#pragma once
// The station layer: what a station knows and keeps, without any window and without the
// operations that drive its devices — the settings record, the run-state, the filter and
// focus tables, the log, the horizon, the plan table, the device slots, the image viewer and
// the calibration masters, the clock and the operation contexts. It may use everything below
// it (common, astro, imaging, guiding, devices) and nothing above.
//
// The operations (operations/) each get this state and the operations they build on; the
// station core (operations/station_core.h) puts them together.

#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "astro/horizon.h"
#include "astro/transforms.h"
#include "common/runtime.h"
#include "devices/device_hub.h"
#include "guiding/star_offset.h"
#include "imaging/calibration.h"
#include "imaging/viewer.h"
#include "station/event_log.h"
#include "station/filter_tables.h"
#include "station/operation_context.h"
#include "station/paths.h"
#include "station/plan_columns.h"
#include "station/run_state.h"
#include "station/settings.h"
#include "station/string_grid.h"

namespace noctarbel {

class StationState {
 public:
  StationState(Runtime& clock, StationPaths paths);
  virtual ~StationState();
  StationState(const StationState&) = delete;
  StationState& operator=(const StationState&) = delete;

  Runtime& Clock;
  StationPaths Paths;

  SettingsRecord Settings;
  RunState Run;
  FilterTable Filters;
  FocusTable Focus;
  EventLog Log;
  // The local horizon, loaded when the station starts.
  HorizonTable Horizon;
  // The plan table: row 0 the titles, column 0 the row numbers.
  StringGrid Planer1{kPlanColumns, 2};

  OperationControl Operations;
  DeviceHub Devices;

  // The executor's pauses: each tick counts Run.WaitTicks down, until none are left.
  Timer WaitTimer;

  // The image viewer's images and stack (the window shows them; a plan run also hands its
  // images and stacks to it headless, for the web-monitor picture).
  ImageViewer Viewer;

  // The last star offset measured (centring moves by it) and the guide offset of the last
  // guided image (stacking shifts by it); zero at start-up.
  StarOffset StarOffsetArcsec;
  double GuideX = 0;
  double GuideY = 0;

  // The calibration masters and the values images are calibrated with.
  ImageCalibration Calibration;

  // A context for a manual operation: only an emergency interrupts it.
  OperationContext BeginOperation() { return Operations.Begin(); }
  // A context for a step of a plan run: Stop and Exit (AbortRequested) cancel it too.
  OperationContext BeginRunOperation();

  // The current step, mirrored by the window's status bar.
  void SetStatus(const std::string& text);
  const std::string& Status() const { return status_; }
  std::function<void(const std::string&)> OnStatus;

  // A log line: time stamp (the simulated UT during a test run, else the local clock) and
  // the message.
  void LogTimed(const std::string& message);
  // Tells the operator through the setting NotifyCommand (the rain emergency, the end of a
  // night, an aborted night): `event` as the command's argument, `message` on its input. It
  // runs beside the station, which never waits for it; a station on the simulated clock sends
  // nothing. The log names each notification sent.
  void Notify(const std::string& event, const std::string& message);
  void LogUntimed(const std::string& line);

  // The image folder (the window's image path field mirrors it); relative names resolve
  // against the station folder.
  std::string ImagePath;
  // The log file of a run's image folder: from now on every line is appended to it as it is
  // logged. False when it cannot be written.
  bool StartLogFile(const std::filesystem::path& folder);
  // Writes the log to the image folder or, when none is set, to the station folder; a log
  // written along needs nothing more. When writing along failed, a copy of the whole log
  // goes to the station folder and the answer is false. False, without a message, when the
  // file cannot be written.
  bool SaveLogFile();

  // The station's files as a start-up reads them: the settings file (defaults without
  // one), the filter table and the focus table.
  void LoadSettingsAndTables();
  // PulseGuideSpeed as the pulses use it. Every pulse is an offset over this speed: a value
  // outside the dialog's range (0, or a stray one typed into the file) would make a guiding
  // correction a pulse of many seconds, so it is replaced by the default, with a log line.
  int PulseGuideSpeed();

  std::filesystem::path SettingsFilePath() const;
  // A file setting: relative names resolve against the station folder.
  std::filesystem::path ResolveFile(const std::string& name) const;

  // The observatory's place, from the settings (longitude west-positive there, east-positive
  // here).
  SiteLocation Site() const;
  // What device backends get when they list or make drivers.
  DeviceContext MakeDeviceContext();

 private:
  std::string status_;
  // Notifications under way; the station waits for them (each is bounded) when it goes.
  std::vector<std::thread> notifications_;
};

}  // namespace noctarbel
