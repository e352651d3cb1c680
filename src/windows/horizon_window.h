#pragma once
// The horizon scan window "HorizonForm": the operator points the telescope at horizon
// points one after the other, beginning at north, records each with "add point" (or the
// space bar), and saves the list as a horizon file in the station folder.
//
// The window itself is the control named "HorizonForm" in its own store: its Visible
// property shows and hides it.

namespace noctarbel {

class Controls;
class Station;

inline constexpr int kHorizonTimerMs = 1000;

void DeclareHorizonFormControls(Controls& form);
// Declares the controls and registers the handlers of the window and of the main window's
// horizon button.
void InstallHorizonWindow(Station& station);

// The main window's horizon button: opens the window when a telescope driver exists.
void HorizonButtonClick(Station& station);
// A key pressed while the window has the keyboard; the space bar (32) adds a point.
void HorizonFormKeyDown(Station& station, int key);
void RegisterButtonClick(Station& station);
void SavebuttonClick(Station& station);

}  // namespace noctarbel
