#pragma once
// Layer windows: the window logic of every form (handlers with the forms' names, their
// controls, the Ui port), free of Qt. Uses every layer below; the command line never links it.
//
// The hub of a running station with its windows: the core, the plan table and the operator's
// controls, with the Ui port every handler uses.

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "windows/controls.h"
#include "automation/status_page.h"
#include "operations/station_core.h"
#include "station/string_grid.h"
#include "windows/ui.h"
#include "windows/viewer_window.h"
#include "imaging/display.h"
#include "imaging/image_buffer.h"

namespace noctarbel {

// Operations of subsystems wired up above this layer (devices, horizon). An empty hook does
// nothing (or answers false).
struct StationHooks {
  std::function<bool()> AnyDeviceConnected;  // telescope, camera or focuser
  std::function<bool()> CameraCoolerOn;      // a connected camera whose cooler is on
  std::function<void()> DisconnectDevices;   // telescope, camera, focuser
  std::function<void()> StopManualFocusSeries;
  // The camera window part's connect and disconnect (with their control changes).
  std::function<void()> ConnectCamera;
  std::function<void()> DisconnectCamera;
};

// The station with its operator's window: the core (settings, run-state, log, devices and
// their operations) plus the windows' controls, the plan table, the timers and the handlers.
class Rehearsal;

class Station : public StationCore {
 public:
  Station(Runtime& clock, Ui& ui, StationPaths paths);
  ~Station() override;

  Ui& UiPort;

  // The main window's controls and the settings dialog's.
  Controls Main{"PilotForm1"};
  Controls Setup{"SetupForm1"};

  // The main window's own timers (the core keeps the watches: Timer1, StatusTimer,
  // CameraTimer1, WaitTimer).
  Timer ExposeTimer;  // repeated manual exposures, 200 ms
  Timer FocusTimer;   // focuser display, 1000 ms

  StationHooks Hooks;

  // The plan's "ZZ" may switch the computer off (never in tests and simulated nights).
  bool ShutdownAllowed = false;

  // The manual exposure's image (its pixel block is reused from one exposure to the next).
  Timgbuffer ExposureFrame;
  // The image viewer window's own state (display mode, overlays); the window repaints when
  // it hears of a change.
  ViewerWindowState ViewerWindow;
  // The guiding test window's picture: where the star stood (arc seconds from the frame
  // centre along the image's axes) before and after the test move, and the angle measured.
  struct GuidingTestPictureState {
    bool Measured = false;
    double BeforeX = 0, BeforeY = 0, AfterX = 0, AfterY = 0;
    double Angle = 0;
  } GuidingTestPicture;
  std::function<void()> OnViewerChanged;
  // The main window's preview picture (PaintBox1); the window repaints it when it hears of
  // a new one.
  Bitmap8 Preview;
  int PreviewPaletteEntries = 256;
  std::function<void()> OnPreviewChanged;
  // The last image the preview showed: an empty viewer opens with it.
  std::unique_ptr<Timgbuffer> LastImage;

  // What the run is doing, for the status bar's progress field (windows/plan_window.h).
  struct RunProgressState {
    int Row = 0;
    int Rows = 0;
    std::string Object;
    int Image = 0;
    int Images = 0;
    std::string Filter;
    bool Exposing = false;
    int Saved = 0;
  } Progress;
  // The rehearsal going on, if any (windows/rehearsal.h).
  Rehearsal* ActiveRehearsal = nullptr;
  // The run-state's time line grew: the time line window redraws.
  std::function<void()> OnTimelineChanged;

  // The settings dialog saw a profile saved since it was last shown.
  bool SetupProfileSaved = false;

  // The read-only status page (the setting StatusPage), from start-up on; none when unset.
  std::unique_ptr<StatusService> StatusPage;

  // The operator's events: a button's click, a check box's click, an edit's or a list's change.
  // Subsystems register their handlers by window and control name; the desktop program routes
  // widget events here, and tests "click" the same way. Work is done by the operations, never
  // by clicking another subsystem's control.
  void SetHandler(const std::string& form, const std::string& control, std::function<void()> handler);
  // The common case: a handler function that takes the station.
  void SetHandler(const std::string& form, const std::string& control, void (*handler)(Station&));
  bool HasHandler(const std::string& form, const std::string& control) const;
  // Runs the control's handler; false when it has none (the control is inert).
  bool Activate(const std::string& form, const std::string& control);
  bool Activate(const std::string& control) { return Activate("PilotForm1", control); }

  // Windows in the order they were created at start-up.
  std::vector<std::string> CreatedForms;
  // Controls of a secondary window, created on first use.
  Controls& Form(const std::string& name);

 private:
  std::map<std::string, std::unique_ptr<Controls>> forms_;
  std::map<std::string, std::function<void()>> handlers_;
  int mainListener_ = 0;
};

// Writes the log to the image path (the main window's ImgPathEdit; a relative path counts
// from the station folder) or, when that is empty,
// to the station folder. False, without a message, when the file cannot be written.
inline bool SaveLogFile(Station& station) { return station.SaveLogFile(); }

}  // namespace noctarbel
