#include "imaging/viewer.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "common/number_text.h"
#include "imaging/guide_star.h"
#include "imaging/picture_text.h"

namespace noctarbel {

namespace {

constexpr int kWebMonitorWidth = 1920;
// A star followed by the stack must stand this far out of the noise.
constexpr double kTrackingSignal = 10.0;

std::string LowerExtension(const std::string& name) {
  return ToLowerAscii(std::filesystem::path(name).extension().string());
}

bool EndsWithJpg(const std::string& name) { return ToLowerAscii(name).size() >= 4 && LowerExtension(name) == ".jpg"; }

// The rendered picture as grey values (rows padded as rendered).
Bitmap8 GreyCopy(const Bitmap8& rendered, int paletteEntries) {
  Bitmap8 grey = rendered;
  IndicesToGrey(grey, paletteEntries);
  return grey;
}

}  // namespace

void ImageViewer::BeginStack(const Timgbuffer& frame, const StackTracking& tracking) {
  auto stack = std::make_unique<Timgbuffer>();
  stack->SetSize(frame.Width(), frame.Height(), PixelType::Bits32);
  stack->AddImage(frame);
  stack->Header() = frame.Header();
  stack->ObservationDate = frame.ObservationDate;
  stack->Exposure = frame.Exposure;
  stack->Instrument = frame.Instrument;
  stack->Filter = frame.Filter;
  stack->IsoSpeed = frame.IsoSpeed;
  stack->XBinning = frame.XBinning;
  stack->YBinning = frame.YBinning;
  stack->PixelScale = frame.PixelScale;
  stack->PixelWidth = frame.PixelWidth;
  stack->PixelHeight = frame.PixelHeight;
  stack->SetKeyword("BITPIX", "32");
  stack->ComputeMax();
  stack_ = std::move(stack);
  refX_ = refY_ = curX_ = curY_ = -1;
  trackRadius_ = 0;
  if (tracking.Enabled) {
    const GuideStarResult star = FindGuideStar(frame, 0, 0, tracking.Radius);
    if (star.Found && GuideSignal(star) > kTrackingSignal) {
      refX_ = star.X;
      refY_ = star.Y;
      trackRadius_ = tracking.Radius;
    }
  }
  state_ = StackState::Accumulating;
  frames_ = 1;
  totalExposure_ = frame.Exposure;
}

void ImageViewer::AddToStack(const Timgbuffer& frame) {
  if (trackRadius_ > 0) {
    const GuideStarResult star = FindGuideStar(frame, static_cast<int>(RoundHalfEven(refX_)),
                                               static_cast<int>(RoundHalfEven(refY_)), trackRadius_);
    if (star.Found && GuideSignal(star) > kTrackingSignal) {
      curX_ = star.X;
      curY_ = star.Y;
    } else {
      curX_ = curY_ = -1;
    }
  }
  // A frame of another size cannot be added: the stack stays as it was.
  if (!stack_->AddImage(frame)) return;
  totalExposure_ += frame.Exposure;
  stack_->Exposure = totalExposure_;
  ++frames_;
  if (state_ == StackState::Finishing) {
    stack_->SetStringKeyword("COMMENT", "Stack of " + std::to_string(frames_) + " frames");
  }
}

bool ImageViewer::StackStep(const Timgbuffer& frame, const StackTracking& tracking) {
  if (state_ == StackState::StartNext) {
    BeginStack(frame, tracking);
    return true;
  }
  if ((state_ == StackState::Accumulating || state_ == StackState::Finishing) && stack_) AddToStack(frame);
  return false;
}

bool ImageViewer::ShowFrame(const Timgbuffer& frame, const StackTracking& tracking) {
  frame_ = frame.Clone();
  jpeg_.reset();
  ++picturesShown_;
  return StackStep(frame, tracking);
}

bool ImageViewer::ShowFile(const std::string& path, const StackTracking& tracking, std::string* error) {
  if (EndsWithJpg(path)) {
    std::vector<std::uint8_t> bytes;
    Picture picture;
    std::string why;
    if (!ReadBinaryFile(path, bytes, &why) || !DecodeJpeg(bytes.data(), bytes.size(), picture, &why)) {
      if (error) *error = why;
      return false;
    }
    jpeg_ = std::move(picture);
    jpegFile_ = path;
    frame_.reset();
    ++picturesShown_;
    FileName = path;
    Caption = path;
    return true;
  }
  auto image = std::make_unique<Timgbuffer>();
  if (!image->LoadFits(path)) {
    if (error) *error = image->LastError();
    return false;
  }
  jpeg_.reset();
  StackStep(*image, tracking);
  frame_ = std::move(image);
  ++picturesShown_;
  FileName = path;
  Caption = path;
  return true;
}

void ImageViewer::ShowPlanStack(const Timgbuffer& stack, const std::string& caption) {
  stack_ = stack.Clone();
  totalExposure_ = stack.Exposure;
  jpeg_.reset();
  ++picturesShown_;
  state_ = StackState::PlanDisplay;
  Caption = caption;
}

void ImageViewer::ShowPlanFrame(const Timgbuffer& frame, const std::string& caption) {
  frame_ = frame.Clone();
  jpeg_.reset();
  ++picturesShown_;
  state_ = StackState::PlanDisplay;
  Caption = caption;
}

void ImageViewer::StartStack() { state_ = StackState::StartNext; }

void ImageViewer::FinishStack() {
  if (state_ == StackState::Accumulating || state_ == StackState::StartNext) state_ = StackState::Finishing;
}

void ImageViewer::StopStack() { state_ = StackState::Off; }

bool ImageViewer::ShowsStack(bool showStacked) const { return showStacked && stack_ != nullptr; }

const Timgbuffer* ImageViewer::Displayed(bool showStacked) const {
  if (ShowsStack(showStacked)) return stack_.get();
  return frame_.get();
}

ViewerLevels ImageViewer::Render(const ViewerLook& look) {
  ViewerLevels levels;
  // Levels are worked out on the image itself (its maximum is computed on the way).
  Timgbuffer* shown = ShowsStack(look.ShowStacked) ? stack_.get() : frame_.get();
  paletteEntries_ = look.PaletteEntries;
  if (!shown || !shown->HasPixels()) {
    rendered_ = Bitmap8{};
    return levels;
  }
  Timgbuffer& image = *shown;
  if (look.Auto) {
    levels = ViewerAutomaticLevels(image, look.HistogramMaxLevel, look.Planet);
  } else {
    const DisplayLevels manual = ViewerManualLevels(look.LowerBar, look.UpperBar, image.ComputeMax());
    levels.Low = manual.Low;
    levels.High = manual.High;
    levels.LowerBar = look.LowerBar;
    levels.UpperBar = look.UpperBar;
  }
  const DisplayLevels adjusted =
      AdjustViewerLevels(DisplayLevels{levels.Low, levels.High}, image.Maximum, image.Unsigned);
  const double gamma = 1.0 / std::clamp(look.Gamma, 1, 4);
  RenderBitmap(image, adjusted.Low, adjusted.High, gamma, look.PaletteEntries, rendered_);
  return levels;
}

std::string ImageViewer::Readout(int x, int y, bool showStacked) const {
  const Timgbuffer* shown = Displayed(showStacked);
  if (!shown || x < 1 || y < 1 || x > shown->Width() || y > shown->Height()) return {};
  int largest = shown->GetPixel(x, y);
  for (int dy = -5; dy <= 5; ++dy) {
    for (int dx = -5; dx <= 5; ++dx) {
      const int px = x + dx;
      const int py = y + dy;
      if (px >= 1 && py >= 1 && px <= shown->Width() && py <= shown->Height()) {
        largest = std::max(largest, shown->GetPixel(px, py));
      }
    }
  }
  return "X=" + std::to_string(x) + " Y=" + std::to_string(y) + " I=" + std::to_string(shown->GetPixel(x, y)) +
         " Max=" + std::to_string(largest);
}

std::string ImageViewer::ExposureText(bool showStacked) const {
  if (!ShowsStack(showStacked)) return {};
  return "T=" + FormatFixed(totalExposure_, 3) + "s";
}

std::string ImageViewer::SaveFileName(const std::string& chosen, ViewerFileType type) {
  const std::string extension = LowerExtension(chosen);
  if (type == ViewerFileType::Jpeg) return extension == ".jpg" ? chosen : chosen + ".jpg";
  return extension == ".fit" || extension == ".fits" ? chosen : chosen + ".fit";
}

bool ImageViewer::Save(const std::string& fileName, bool showStacked, std::string* error) const {
  const std::string extension = LowerExtension(fileName);
  const Timgbuffer* shown = Displayed(showStacked);
  if (extension == ".jpg") {
    if (jpeg_ && !shown) {
      std::vector<std::uint8_t> bytes;
      return EncodeJpeg(*jpeg_, kDefaultJpegQuality, bytes, error) && WriteBinaryFile(fileName, bytes, error);
    }
    if (rendered_.Width == 0) {
      if (error) *error = "Kein Bild!";
      return false;
    }
    const Bitmap8 grey = GreyCopy(rendered_, paletteEntries_);
    std::vector<std::uint8_t> bytes;
    return EncodeGreyJpeg(grey.Pixels.data(), grey.Width, grey.Height, grey.Stride, kDefaultJpegQuality, bytes,
                          error) &&
           WriteBinaryFile(fileName, bytes, error);
  }
  if (extension == ".fit" || extension == ".fits") {
    if (shown) {
      if (shown->SaveFits(fileName)) return true;
      if (error) *error = shown->LastError();
      return false;
    }
    if (jpeg_) {
      // A picture from a JPEG file has no image to write: the file itself is copied.
      std::vector<std::uint8_t> bytes;
      return ReadBinaryFile(jpegFile_, bytes, error) && WriteBinaryFile(fileName, bytes, error);
    }
    if (error) *error = "Kein Bild!";
    return false;
  }
  if (error) *error = "unknown file type \"" + extension + "\" (.fit, .fits or .jpg)";
  return false;
}

bool ImageViewer::WriteWebMonitorPicture(const std::string& target, const std::string& text, bool showStacked,
                                         std::string* error) const {
  if (LowerExtension(target) == ".fit") {
    const Timgbuffer* shown = Displayed(showStacked);
    if (!shown) {
      if (error) *error = "no image";
      return false;
    }
    if (shown->SaveFits(target)) return true;
    if (error) *error = shown->LastError();
    return false;
  }
  std::vector<std::uint8_t> bytes;
  const std::string name = std::filesystem::path(target).replace_extension(".jpg").string();
  return WebMonitorJpeg(text, bytes, error) && WriteBinaryFile(name, bytes, error);
}

bool ImageViewer::WebMonitorJpeg(const std::string& text, std::vector<std::uint8_t>& bytes, std::string* error) const {
  if (rendered_.Width == 0) {
    if (error) *error = "no picture";
    return false;
  }
  Bitmap8 picture = GreyCopy(rendered_, paletteEntries_);
  DrawText(picture, 5, 5, static_cast<int>(RoundHalfEven(picture.Height / 30.0)), text);
  const Bitmap8 reduced = ReduceToWidth(picture, kWebMonitorWidth);
  return EncodeGreyJpeg(reduced.Pixels.data(), reduced.Width, reduced.Height, reduced.Stride, kDefaultJpegQuality,
                        bytes, error);
}

}  // namespace noctarbel
