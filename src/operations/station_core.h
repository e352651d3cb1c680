#pragma once
// The part of a station that works without any window: the settings record, run-state,
// tables, log, horizon, the device slots and the operation objects that drive the devices.
// The command line builds only this; the operator's window (Station) adds its controls,
// timers and handlers on top.
//
// Operations report what they do through SetStatus and the log; they never touch a control.
// The window mirrors the status into its status bar.

#include <filesystem>
#include <functional>
#include <string>

#include "station/event_log.h"
#include "station/filter_tables.h"
#include "station/operation_context.h"
#include "station/paths.h"
#include "station/run_state.h"
#include "common/runtime.h"
#include "station/settings.h"
#include "astro/horizon.h"
#include "astro/transforms.h"
#include "guiding/star_offset.h"
#include "imaging/viewer.h"
#include "operations/camera_operations.h"
#include "operations/centring_operations.h"
#include "devices/device_hub.h"
#include "operations/autofocus_operations.h"
#include "operations/focuser_wheel_operations.h"
#include "operations/guiding_operations.h"
#include "operations/mount_operations.h"
#include "operations/observatory_operations.h"
#include "imaging/calibration.h"

namespace noctarbel {

class StationCore {
 public:
  StationCore(Runtime& clock, StationPaths paths);
  virtual ~StationCore();
  StationCore(const StationCore&) = delete;
  StationCore& operator=(const StationCore&) = delete;

  Runtime& Clock;
  StationPaths Paths;

  SettingsRecord Settings;
  RunState Run;
  FilterTable Filters;
  FocusTable Focus;
  EventLog Log;
  // The local horizon, loaded when the main window is first shown.
  HorizonTable Horizon;

  OperationControl Operations;
  DeviceHub Devices;
  // The device areas, each owning its driver slot's use and its safety interlocks.
  MountOperations Mount;
  ObservatoryOperations Observatory;
  FocuserOperations Focuser;
  FilterWheelOperations FilterWheel;
  CameraOperations Camera;
  // Above them: focusing, centring and guiding, which take images and move devices.
  FocusOperations Autofocus;
  CentringOperations Centring;
  GuidingOperations Guiding;

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

  // The executor's current step, mirrored by the window's status bar.
  void SetStatus(const std::string& text);
  const std::string& Status() const { return status_; }
  std::function<void(const std::string&)> OnStatus;

  // A log line: time stamp (the simulated UT during a test run, else the local clock) and
  // the message.
  void LogTimed(const std::string& message);
  void LogUntimed(const std::string& line);

  // The image folder (the window's image path field mirrors it); relative names resolve
  // against the station folder.
  std::string ImagePath;
  // Writes the log to the image folder or, when none is set, to the station folder. False,
  // without a message, when the file cannot be written.
  bool SaveLogFile();

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
};

}  // namespace noctarbel
