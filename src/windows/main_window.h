#pragma once
// The main window's start-up, run controls and exit.

#include <string>
#include <vector>

namespace noctarbel {

class Station;

// The windows of the program in the order they are created at start-up.
const std::vector<std::string>& FormCreationOrder();

// Creates every window in order: the main window's FormCreate, the settings dialog's
// creation (settings file, tables, profiles), then the secondary windows.
void CreateForms(Station& station);
// The main window's FormCreate.
void PilotFormCreate(Station& station);
// The main window's FormShow: horizon, mirrored settings, observatory status timer.
void PilotFormShow(Station& station);
// The observatory's controls as the setting EnableObservatoryControl says: off, or on (also
// when it was switched on in the settings dialog, without a restart).
void ShowObservatoryControl(Station& station);
// After the settings dialog closes: the controls that mirror settings.
void RefreshMirroredSettings(Station& station);

// Registers the run controls' handlers (Pause, Play, Stop, Webmonitor, Extra Viewer).
void InstallMainWindowHandlers(Station& station);

void PauseButtonClick(Station& station);
void PlayButtonClick(Station& station);
void StopBtnClick(Station& station);
// True when the program may close.
bool ExitButtonClick(Station& station);
bool FormCloseQuery(Station& station);
void WebmonitorCheckClick(Station& station);
void ViewerControlCheckClick(Station& station);

}  // namespace noctarbel
