#pragma once
// The image viewer window "ImgShowform": an adapter over the station's ImageViewer
// (imaging/viewer.h): its controls, the level bars, gamma, fit and 1:1 display, the pixel
// read-out, loading and saving, the "Test" star, continuous exposures, and the hand-over of
// images from the manual exposure and the plan run. The desktop window paints what
// ViewerPicture describes.

#include <string>

#include "imaging/display.h"

namespace noctarbel {

class Controls;
class Station;
class Timgbuffer;

inline constexpr const char* kViewerForm = "ImgShowform";

void DeclareViewerControls(Controls& form);
void InstallViewerWindow(Station& station);

// What the window draws over the picture.
struct ViewerOverlay {
  std::string ExposureText;  // "T=...s" in the top left corner while a stack is shown
  bool TrackingCircle = false;
  double CircleX = 0;  // image pixels, 1-based
  double CircleY = 0;
  int CircleRadius = 0;
  bool TestCircle = false;
  int TestX = 0;
  int TestY = 0;
  int TestRadius = 0;
};

struct ViewerWindowState {
  bool FitMode = true;           // fit to the window, else one image pixel per screen pixel
  bool ContinuousExposure = false;
  bool ShowTrackingCircle = false;  // the guide marker
  int TrackingBox = 0;              // half-size of the guide marker's box
  double GuideMarkerX = -1;         // guiding's reference star; -1: the stack's reference
  double GuideMarkerY = -1;
  ViewerOverlay Overlay;
  long Version = 0;  // moves on with every new picture or overlay
};

// The main window's hand-over of a new camera image (its stacking step included), and of a
// file ("testbild.fits"); both make the window visible.
void ViewerShowImage(Station& station, const Timgbuffer& image);
bool ViewerShowFile(Station& station, const std::string& path);
// The viewer stacks frames now (a stack is starting, growing or ending).
bool ViewerStacking(Station& station);
// Renders again with the window's controls and tells the window.
void ViewerRedraw(Station& station);
// The web-monitor picture after a manual exposure; false with a status text when it failed.
bool ViewerWebMonitor(Station& station);

// The mouse over the picture, in image pixels (1-based): the status bar read-out.
void ViewerMouseAt(Station& station, int x, int y);

void LoadBtnClick(Station& station);
void ViewerSaveButtonClick(Station& station);
void ExpStartBtnClick(Station& station);
void ExpStopBtnClick(Station& station);
void ExitBtnClick(Station& station);
void TestbuttonClick(Station& station);

}  // namespace noctarbel
