#pragma once
// The main window's telescope controls: short adapters that read the controls, call the
// mount's operations and show the result.

namespace noctarbel {

class Station;
struct MountTick;

// Makes the driver named by TelescopeObject and connects it (lamp, memo, status timer).
// False, with a message, when that fails; nothing happens without an identifier.
bool ConnectTelescope(Station& station);
// Disconnects and empties the slot, also when the driver fails to answer.
void DisconnectTelescope(Station& station);

void BtnConnectClick(Station& station);
// One tick of the mount's watch (the core's Timer1, every second).
void Timer1Timer(Station& station);
// What the watch read, in the main window's position fields.
void ShowMountTick(Station& station, const MountTick& tick);
void BtnGotoClick(Station& station);
void AbortSlewBtnClick(Station& station);
void TrackCheckBoxClick(Station& station);
void ParkButtonClick(Station& station);
void ParkButton2Click(Station& station);
void HomeButtonClick(Station& station);

}  // namespace noctarbel
