#pragma once
// The telescope mount: connecting, the once-a-second status display, goto with the horizon
// refusal, relative moves, stop, tracking, the two park positions and the home calibration.

namespace noctarbel {

class Station;

// Makes the driver named by TelescopeObject and connects it (lamp, memo, status timer).
// False, with a message, when that fails; nothing happens without an identifier.
bool ConnectTelescope(Station& station);
// Disconnects and empties the slot, also when the driver fails to answer.
void DisconnectTelescope(Station& station);

void BtnConnectClick(Station& station);
void Timer1Timer(Station& station);
void BtnGotoClick(Station& station);
// Relative move: x along right ascension on the sky, y in declination, both in degrees.
// Returns when the slew is done; driver errors reach the caller.
void MoveXY(Station& station, double x, double y);
void AbortSlewBtnClick(Station& station);
void TrackCheckBoxClick(Station& station);

// True when the mount ends within tolerance of the park position. Driver errors reach the
// caller.
bool GotoParkPosition1(Station& station);
bool GotoParkPosition2(Station& station);
void ParkButtonClick(Station& station);
void ParkButton2Click(Station& station);
void HomeButtonClick(Station& station);

// True when the mount stands within the verify tolerance of park position 1 now.
bool AtParkPosition1(Station& station);

}  // namespace noctarbel
