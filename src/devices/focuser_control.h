#pragma once
// The focuser (connect, the once-a-second display, moves with their bounded wait, named
// positions, the focus reference) and the filter wheel (names and focus offsets from the
// driver or the filter table, the slot display, selecting a filter with a bounded wait).

#include <string>

namespace noctarbel {

class Station;

// Polls of one second a focuser move may take; arriving at the last one counts as late.
inline constexpr int kFocuserPolls = 16;
// Polls of one second the filter wheel may take to reach a slot.
inline constexpr int kFilterWheelPolls = 30;

// Makes and links the driver named by FocuserObject (lamp, caption, timer, autofocus button).
bool ConnectFocuser(Station& station);
void DisconnectFocuser(Station& station);

void FocusConnectButtonClick(Station& station);
void FocusTimerTimer(Station& station);
// True when the focuser reports the target within the polls. Never throws.
bool MoveFocuserTo(Station& station, int target);
void FocusSetButtonClick(Station& station);
void FocusResetButtonClick(Station& station);

// The filter wheel's part of connecting the camera: connects the wheel named by
// FilterwheelObject, takes its names and focus offsets (or the filter table's), and shows
// the slot. False when no wheel is configured or it does not connect.
bool ConnectFilterWheel(Station& station);
void DisconnectFilterWheel(Station& station);
void FilterEditChange(Station& station);
// Turns the wheel to the 0-based slot before an exposure and waits for it, at most
// kFilterWheelPolls seconds. True when the wheel stands there (or no wheel is used); false
// with a status-bar and log message when it does not arrive or fails.
bool SelectFilter(Station& station, int slot);

}  // namespace noctarbel
