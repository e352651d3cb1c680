#pragma once
// Wires the devices up: the handlers of the main window's telescope, observatory and focus
// controls, "Connect all", the horizon window, the device timers and the station's device
// hooks.

namespace noctarbel {

class Station;

void InstallDeviceHandlers(Station& station);

// "Connect all": the telescope, the observatory, the camera and the focuser, each when it is
// chosen and not yet connected, in this order; then the button disables itself. The camera
// is connected through the camera part's connect (the ConnectCamera hook).
void ConnectAllBtnClick(Station& station);

// Exit's disconnect: telescope, camera, focuser.
void DisconnectDevices(Station& station);
bool AnyDeviceConnected(Station& station);

}  // namespace noctarbel
