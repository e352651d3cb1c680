#pragma once
// The main window's camera controls: adapters over the camera operations (connect, cooler
// and warm-up, the manual exposure with its preview, star offset, calibration, viewer and
// web-monitor hand-over, repeat, stop, the exposure arrows, the image folder, the camera
// properties window) and the main window's stacking loop.

#include <string>

namespace noctarbel {

class Station;
struct CameraTick;
class Timgbuffer;

void InstallCameraHandlers(Station& station);

// Connects the camera named by CameraObject with every control change of a connect, and
// the filter wheel with it. False, with the message shown, when that fails.
bool ConnectCamera(Station& station);
void CCDConnectBtnClick(Station& station);
void CamDisconnectButtonClick(Station& station);
void setCoolerButtonClick(Station& station);
void CoolerCheckBoxClick(Station& station);
void WarmUpBtnClick(Station& station);
// One tick of the camera's watch (the core's CameraTimer1, every 2 s).
void CameraTimer1Timer(Station& station);
// What the watch read: temperature and cooler power, the cooler box after a warm-up.
void ShowCameraTick(Station& station, const CameraTick& tick);

void ExposeButtonClick(Station& station);
void ExposeTimerTimer(Station& station);
void StopButtonClick(Station& station);
void RepeatExpCheckBoxClick(Station& station);
// The arrows beside the exposure time: the control's value says which one (> 0 up).
void ExposureUpDownClick(Station& station);
// The exposure time one arrow step up or down from `text`, in shortest decimal form; the
// text unchanged when it is no number or a step down is not allowed.
std::string ExposureStepText(const std::string& text, bool up);
void FolderselectButtonClick(Station& station);
void CameraInfobuttonClick(Station& station);
void StackingButtonClick(Station& station);

// Shows an image in the main window's preview with the viewer's level rule.
void ShowInPreview(Station& station, Timgbuffer& image);


}  // namespace noctarbel
