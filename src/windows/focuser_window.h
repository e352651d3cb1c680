#pragma once
// The main window's focuser and filter-wheel controls: adapters over the focuser and filter
// wheel operations (focuser_operations.h): connect, the once-a-second display, named
// positions, the focus reference, and the filter slot display.

namespace noctarbel {

class Station;

// Makes and links the driver named by FocuserObject (lamp, caption, timer, autofocus button).
bool ConnectFocuser(Station& station);
void DisconnectFocuser(Station& station);

void FocusConnectButtonClick(Station& station);
void FocusTimerTimer(Station& station);
void FocusSetButtonClick(Station& station);
void FocusResetButtonClick(Station& station);

// The filter wheel's part of connecting the camera: connects the wheel named by
// FilterwheelObject, takes its names and focus offsets (or the filter table's), and shows
// the slot. False when no wheel is configured or it does not connect.
bool ConnectFilterWheel(Station& station);
void DisconnectFilterWheel(Station& station);
// The filter field and name after the wheel connected.
void ShowFilterWheelConnected(Station& station);
void FilterEditChange(Station& station);

}  // namespace noctarbel
