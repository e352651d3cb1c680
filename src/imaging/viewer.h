#pragma once
// What the image viewer holds and does, free of any window: the latest frame or file, the
// stack it builds from successive frames (with a star followed from frame to frame), the
// rendered picture with its levels, the pixel read-out, saving as FITS or JPEG and the
// web-monitor picture. The viewer window (ImgShowform) is a thin adapter over it.

#include <memory>
#include <optional>
#include <string>

#include "imaging/display.h"
#include "imaging/image_buffer.h"
#include "imaging/jpeg_codec.h"

namespace noctarbel {

enum class StackState : int {
  Finishing = -1,  // the next frame is the last one of the stack
  Off = 0,
  StartNext = 1,     // the next frame starts a stack
  Accumulating = 2,  // frames are added
  PlanDisplay = 3,   // the plan executor hands over its own stack and sub-frames
};

// How a stack follows a star: the main window's "Star guiding" and the TrackingRange setting.
struct StackTracking {
  bool Enabled = false;
  int Radius = 50;
};

// The window's display controls.
struct ViewerLook {
  bool Auto = true;
  int LowerBar = 0;  // 0..1000
  int UpperBar = 1000;
  int Gamma = 1;  // "1/Gamma", 1..4
  bool Planet = false;
  bool ShowStacked = true;
  double HistogramMaxLevel = kDefaultHistogramMaxLevel;
  int PaletteEntries = 256;
};

// The file types of the save dialog, in its order.
enum class ViewerFileType { Fits = 0, Jpeg = 1 };

class ImageViewer {
 public:
  // A camera frame: it passes the stacking step of the stack state, then it is the frame
  // shown. True when this frame started a stack (the window ticks "Show stacked" then).
  bool ShowFrame(const Timgbuffer& frame, const StackTracking& tracking);
  // A file: a name ending in ".JPG" (any case) is a picture shown as it is; any other name is
  // read as FITS and passes the stacking step. False with the reason when it cannot be read;
  // what was shown stays then.
  bool ShowFile(const std::string& path, const StackTracking& tracking, std::string* error);
  // The plan executor's stacking display: its stack, or its latest sub-frame.
  void ShowPlanStack(const Timgbuffer& stack, const std::string& caption);
  void ShowPlanFrame(const Timgbuffer& frame, const std::string& caption);

  void StartStack();   // the next frame starts a stack
  void FinishStack();  // the next frame ends it
  void StopStack();    // off at once
  StackState State() const { return state_; }
  void SetState(StackState state) { state_ = state; }
  int FrameCount() const { return frames_; }
  double TotalExposure() const { return totalExposure_; }
  const Timgbuffer* Stack() const { return stack_.get(); }
  const Timgbuffer* Frame() const { return frame_.get(); }

  // What is shown: the stack when "Show stacked" is ticked and there is one, else the frame.
  const Timgbuffer* Displayed(bool showStacked) const;
  bool ShowsStack(bool showStacked) const;
  bool HasPicture() const { return frame_ || stack_ || jpeg_; }
  // How many pictures were handed over so far: a window tells a new picture from a redraw.
  long PicturesShown() const { return picturesShown_; }
  // A picture loaded from a JPEG file, drawn as it is.
  const Picture* Jpeg() const { return jpeg_ ? &*jpeg_ : nullptr; }

  // Renders what is shown with the levels of `look`; the levels used (with the bar
  // positions when they were found automatically).
  ViewerLevels Render(const ViewerLook& look);
  const Bitmap8& Rendered() const { return rendered_; }
  int RenderedPaletteEntries() const { return paletteEntries_; }

  // The star the stack follows: set when a reference star was found as the stack began.
  bool Tracking() const { return trackRadius_ > 0; }
  double ReferenceX() const { return refX_; }
  double ReferenceY() const { return refY_; }
  double CurrentX() const { return curX_; }
  double CurrentY() const { return curY_; }
  int TrackRadius() const { return trackRadius_; }

  // "X=12 Y=34 I=1056 Max=2210" for image pixel (x, y), 1-based; empty outside the image.
  std::string Readout(int x, int y, bool showStacked) const;
  // "T=180.000s" while a stack is shown; empty otherwise.
  std::string ExposureText(bool showStacked) const;

  // The name a save writes: the file type's extension unless the name has it already.
  static std::string SaveFileName(const std::string& chosen, ViewerFileType type);
  // ".jpg": the rendered picture; ".fit"/".fits": the image shown, or a copy of the loaded
  // JPEG file when there is no image. False with the reason.
  bool Save(const std::string& fileName, bool showStacked, std::string* error) const;
  // The web-monitor picture: a ".fit" target gets the image shown; any other the rendered
  // picture with `text` written on it, reduced to 1920 pixels wide, as a JPEG with ".jpg".
  bool WriteWebMonitorPicture(const std::string& target, const std::string& text, bool showStacked,
                              std::string* error) const;
  // The web-monitor picture as JPEG bytes (the status page serves it); false without a picture.
  bool WebMonitorJpeg(const std::string& text, std::vector<std::uint8_t>& bytes, std::string* error) const;

  // The window's caption: the file shown or the text handed over with a picture.
  std::string Caption;
  // The file last shown; the save dialog proposes it.
  std::string FileName;

 private:
  bool StackStep(const Timgbuffer& frame, const StackTracking& tracking);
  void BeginStack(const Timgbuffer& frame, const StackTracking& tracking);
  void AddToStack(const Timgbuffer& frame);

  std::unique_ptr<Timgbuffer> frame_;
  std::unique_ptr<Timgbuffer> stack_;
  std::optional<Picture> jpeg_;
  std::string jpegFile_;
  StackState state_ = StackState::Off;
  int frames_ = 0;
  double totalExposure_ = 0;
  double refX_ = -1;
  double refY_ = -1;
  double curX_ = -1;
  double curY_ = -1;
  int trackRadius_ = 0;
  long picturesShown_ = 0;
  Bitmap8 rendered_;
  int paletteEntries_ = 256;
};

}  // namespace noctarbel
