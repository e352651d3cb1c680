#pragma once
// The main window's telescope controls: short adapters that read the controls, call the
// mount's operations and show the result.

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
void AbortSlewBtnClick(Station& station);
void TrackCheckBoxClick(Station& station);
void ParkButtonClick(Station& station);
void ParkButton2Click(Station& station);
void HomeButtonClick(Station& station);

}  // namespace noctarbel
