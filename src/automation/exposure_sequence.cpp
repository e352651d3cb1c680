#include "automation/exposure_sequence.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "automation/image_names.h"
#include "automation/plan_run.h"
#include "operations/station_core.h"
#include "station/plan_columns.h"
#include "station/site_sky.h"
#include "astro/transforms.h"
#include "automation/executor.h"
#include "common/angles.h"
#include "common/number_text.h"
#include "imaging/header_cards.h"
#include "imaging/image_buffer.h"

namespace noctarbel {

namespace {

constexpr double kStackWebMonitorSeconds = 30;  // stacked series show only longer images
constexpr int kFlipSettleMs = 5000;
constexpr double kFlipCentringSeconds = 5;  // centring after a flip no "SY" row set up

std::string ThreeDigits(int n) {
  char text[16];
  std::snprintf(text, sizeof text, "%03d", n);
  return text;
}

// The fields of a frame a stack keeps: the frame's date, exposure, header and descriptions.
void TakeOverDescription(Timgbuffer& stack, const Timgbuffer& frame) {
  stack.Header() = frame.Header();
  stack.ObservationDate = frame.ObservationDate;
  stack.JulianDay = frame.JulianDay;
  stack.Exposure = frame.Exposure;
  stack.Instrument = frame.Instrument;
  stack.Filter = frame.Filter;
  stack.FilterCode = frame.FilterCode;
  stack.XBinning = frame.XBinning;
  stack.YBinning = frame.YBinning;
  stack.PixelWidth = frame.PixelWidth;
  stack.PixelHeight = frame.PixelHeight;
  stack.PixelScale = frame.PixelScale;
  stack.SetKeyword("BITPIX", "32");
}

// Which way round a saved image's field lies: the pier side it was taken on, once more turned
// when its calibration turned it by 180 degrees. Nothing without a PIERSIDE card.
std::optional<bool> FieldTurned(const Timgbuffer& picture) {
  const FitsHeader& header = picture.Header();
  const int side = header.FindCard("PIERSIDE");
  if (side <= 0) return std::nullopt;
  bool turned = header.Card(side).find("'1'") != std::string_view::npos;
  for (int n = 1; n < header.EndCard(); ++n) {
    const std::string_view card = header.Card(n);
    if (card.substr(0, 8) == "HISTORY " && card.find("180 deg rotation") != std::string_view::npos) {
      turned = !turned;
    }
  }
  return turned;
}

std::unique_ptr<Timgbuffer> NewStack(const Timgbuffer& frame) {
  auto stack = std::make_unique<Timgbuffer>();
  if (stack->SetSize(frame.Width(), frame.Height(), PixelType::Bits32) != 0) return nullptr;
  stack->AddImage(frame);
  TakeOverDescription(*stack, frame);
  return stack;
}

}  // namespace

ExposureSequence::ExposureSequence(PlanRun& run, OperationContext& op)
    : run_(run), station_(run.Core), op_(op), flip_(run.Core) {}

ExposureSequence::~ExposureSequence() = default;

std::string ExposureSequence::FilterName(int filter) const {
  return std::string(TrimBlanks(noctarbel::FilterName(station_.Filters, filter)));
}

std::string ExposureSequence::FileName(int image, int filter) {
  // Numbers only go up within a row: a filter named twice goes on from its last image.
  int& last = lastNumber_[filter];
  const std::string name = FilterName(filter);
  const int number = FreeImageNumber(folder_, e_->Base, name, std::max(image, last + 1));
  last = number;
  const std::string file = ImageFileName(folder_, e_->Base, name, number);
  if (number != image) {
    station_.LogTimed(": " + ImageFileName(folder_, e_->Base, name, image) + " is taken: the image goes to " + file);
  }
  return file;
}

bool ExposureSequence::WebMonitorWanted() const {
  return run_.Options.WebMonitor && !station_.Settings.WebmonitorPathname.empty();
}

bool ExposureSequence::Guided() const { return run_.Options.Guiding; }

void ExposureSequence::WatchMeridian() {
  tracking_ = false;
  if (e_->Kind != ExposureKind::Images || !row_->Position || !row_->Slewed) return;
  try {
    const auto status = station_.Mount.ReadStatus();
    if (!status) return;
    tracking_ = status->Tracking;
    const EquatorialPosition ofDate = J2000ToDate(row_->Position->RaHours, row_->Position->DecDeg,
                                                  JulianCenturiesSince2000(station_.Clock.UtcNow()), 0);
    flip_.Start(row_->Name, TargetPosition{ofDate.Ra, ofDate.Dec}, station_.Clock.UtcNow(), status->Side);
    flipFromWest_ = status->Side == PierSide::West;
  } catch (const std::exception&) {
  }
}

bool ExposureSequence::WaitUntil(DateTime utc) {
  while (station_.Clock.UtcNow() < utc) {
    const double ms = (utc - station_.Clock.UtcNow()) * kSecondsPerDay * 1000.0;
    if (!op_.Wait(static_cast<int>(std::clamp(std::ceil(ms), 1.0, 1000.0)))) return false;
  }
  return true;
}

SyncTarget ExposureSequence::FlipTarget() const {
  SyncTarget target = *row_->Slewed;
  // A spectrograph's slit sits beside the optical axis on the other side now: the offset the
  // slew to the row added for the west side of the pier is turned round.
  const SettingsRecord& s = station_.Settings;
  if (flipFromWest_ && (*row_->Cells)[kColFilter] == std::to_string(s.SpectrumFilt) && std::abs(target.DecDeg) < 89) {
    const double offset = s.SpectrumRA / 900.0 / std::cos(target.DecDeg * kDegToRad);
    target.RaHours = std::fmod(target.RaHours + 2 * offset + 24.0, 24.0);
  }
  return target;
}

bool ExposureSequence::MeridianFlip(int filter) {
  const DateTime slewAt = flip_.SlewTime();
  if (station_.Clock.UtcNow() < flip_.FlipTime()) {
    station_.LogTimed(": " + flip_.WaitLine(ExposureSlotSeconds(station_.Settings, *e_)));
    station_.SetStatus("Waiting for the meridian flip");
    if (!WaitUntil(flip_.FlipTime())) return false;
  }
  station_.LogTimed(": " + flip_.FlipLine());
  station_.SetStatus("Meridian flip");
  station_.Run.RowFlips.push_back(station_.Clock.UtcNow());
  if (run_.Events.MeridianFlip) run_.Events.MeridianFlip(row_->Name);
  flip_.Done();
  if (!WaitUntil(slewAt)) return false;
  const SyncTarget target = FlipTarget();
  if (!station_.Mount.SlewAndWait(op_, target.RaHours, target.DecDeg)) {
    if (op_.MayContinue())
      station_.LogTimed(": Meridian flip: the slew to " + row_->Name + " failed: " + station_.Status());
    station_.Run.AbortRequested = true;
    return false;
  }
  if (!op_.Wait(kFlipSettleMs)) return false;
  const auto side = PierSide();
  station_.LogTimed(": Meridian flip done" + (side ? ", pier side " + std::to_string(*side) : std::string()));
  const SettingsRecord& s = station_.Settings;
  if (row_->Centring || s.MeridianFlipCentre) {
    PlanCenterAndSync(run_, op_, target,
                      row_->Centring.value_or(SyncExposure{kFlipCentringSeconds, s.SyncBinning, s.Standardfilter}));
    if (!op_.MayContinue()) return false;
  }
  if (s.MeridianFlipAutofocus) {
    if (PlanAutofocus(run_, op_, filter)) {
      station_.LogTimed(": Autofocus: focus=" + std::to_string(station_.Run.BaseFocusPosition));
    } else if (op_.MayContinue()) {
      station_.LogTimed(": Autofocus error");
      NoteRowFailure(station_, "autofocus after the meridian flip failed");
    }
    FocusFor(filter);
  }
  // The guide star stands elsewhere on the turned field: guiding takes a new reference.
  guiding_.Ended = false;
  guiding_.State = guideWanted_ ? 1 : 0;
  station_.GuideX = station_.GuideY = 0;
  tracking_ = true;
  return op_.MayContinue();
}

bool ExposureSequence::TrackingLost() {
  if (!tracking_) return false;
  try {
    const auto status = station_.Mount.ReadStatus();
    if (!status || status->Tracking) return false;
  } catch (const std::exception&) {
    return false;
  }
  const std::string why =
      "the mount stopped tracking during the exposure of " + row_->Name +
      (station_.Settings.MeridianFlip ? "" : " (at its limit past the meridian? meridian flips are off)");
  station_.LogTimed(": Telescope error: " + why + " - run stopped");
  station_.Run.AbortRequested = true;
  EndRowAborted(station_, "Telescope error: the mount stopped tracking");
  return true;
}

std::optional<int> ExposureSequence::PierSide() {
  const auto side = station_.Mount.ReadPierSide();
  return side ? std::optional<int>(ToInt(*side)) : std::nullopt;
}

void ExposureSequence::FocusFor(int filter) {
  const int base = station_.Run.BaseFocusPosition;
  if (!station_.Focuser.HasDriver() || !station_.Focuser.Linked() || base < 0) return;
  const int target = base + FilterOffset(station_.Filters, filter) + station_.Run.FocusShift;
  try {
    if (station_.Focuser.Read().Position == target) return;
  } catch (const std::exception&) {
    return;
  }
  if (station_.Focuser.MoveTo(op_, target)) {
    station_.LogTimed(": focus position: " + std::to_string(target));
  } else if (op_.MayContinue()) {
    // The images are still taken (a little out of focus beats none); the log says so.
    std::string now;
    try {
      now = ", it stands at " + std::to_string(station_.Focuser.Read().Position);
    } catch (const std::exception& e) {
      now = " (" + std::string(e.what()) + ")";
    }
    station_.LogTimed(": Focuser error: focus position " + std::to_string(target) + " not reached" + now);
  }
}

bool ExposureSequence::PauseBefore(int image) {
  RunState& run = station_.Run;
  if (image == 1) {
    station_.Clock.Pump();
    return e_->NoSettlingPause || op_.Wait(300);
  }
  run.WaitTicks = e_->Pause;
  if (run.WaitTicks > 1) station_.SetStatus("Pause...");
  if (run.WaitTicks > 0) station_.WaitTimer.Start();
  while (run.WaitTicks > 0) {
    if (!op_.Wait(300)) {
      station_.WaitTimer.Stop();
      run.WaitTicks = 0;
      return false;
    }
  }
  return true;
}

bool ExposureSequence::CalibrationWanted(int filter) const {
  const int dark = station_.Settings.Darkfilter;
  return run_.Options.Corrections && (dark == 0 || filter != dark);
}

bool ExposureSequence::Calibrate(Timgbuffer& picture, int filter, std::optional<CalibrationHistory>& history) {
  CalibrationRequest request;
  request.FilterNumber = filter;
  request.Zoom = static_cast<int>(RoundHalfEven(e_->Zoom));
  request.SubFrameX = frame_.StartX;
  request.SubFrameY = frame_.StartY;
  const auto side = PierSide();
  request.Rotate = side && station_.Settings.CameraPiersideRotate == *side + 1;
  history = PlanCalibrate(run_, picture, request);
  return history.has_value();
}

bool ExposureSequence::ExposeSeries(int image, int filter, Timgbuffer& result, bool& calibrated,
                                    std::optional<CalibrationHistory>& history) {
  const int k = e_->SubExposures;
  std::unique_ptr<Timgbuffer> sum;
  for (int s = 1; s <= k; ++s) {
    station_.Clock.Pump();
    Timgbuffer& target = k == 1 ? result : *subFrame_;
    const ExposureResult taken = station_.Camera.TakeImage(op_, frame_, target);
    if (!taken.HasImage()) {
      if (station_.Run.CameraErrorFlag || taken.End == ExposureEnd::NotConnected) {
        const std::string why = taken.End == ExposureEnd::TimedOut ? "timeout" : taken.Error;
        station_.LogTimed(": Camera error (" + why + ")! aborted.");
        station_.Run.AbortRequested = true;
        EndRowAborted(station_, "Camera error");
      } else {
        EndRowAborted(station_);
      }
      return false;
    }
    if (k == 1) return true;

    Timgbuffer& sub = *subFrame_;
    if (Guided() && e_->Seconds >= 5) {
      if (CalibrationWanted(filter)) calibrated = Calibrate(sub, filter, history) || calibrated;
      if (!PlanGuideStep(run_, op_, guiding_, sub)) {
        station_.GuideX = station_.GuideY = 0;
      }
      sub.ShiftImage(-static_cast<int>(RoundHalfEven(station_.GuideX)),
                     -static_cast<int>(RoundHalfEven(station_.GuideY)));
    }
    if (!sum) {
      sum = NewStack(sub);
      if (!sum) {
        station_.LogTimed(": no memory for the sum of the sub-exposures");
        station_.Run.AbortRequested = true;
        EndRowAborted(station_);
        return false;
      }
    } else {
      sum->AddImage(sub);
    }
    if (run_.Options.ExtraViewer && (k < 20 || s % 10 == 0)) {
      const std::string caption = folder_ + "/" + e_->Base + "-" + FilterName(filter) + "-" + ThreeDigits(image) +
                                  "_stack.fit " + std::to_string(s) + "/" + std::to_string(k);
      station_.Viewer.ShowPlanStack(*sum, caption);
      if (run_.Events.ViewerChanged) run_.Events.ViewerChanged(WebMonitorWanted());
    }
  }
  WriteStackCards(*sum, e_->Seconds, k);
  sum->Exposure = e_->Seconds * k;
  result = std::move(*sum);
  return true;
}

bool ExposureSequence::FinishImage(int image, int filter, Timgbuffer& picture, bool calibrated,
                                   std::optional<CalibrationHistory> history, std::string& file) {
  PlanCardValues cards;
  cards.ObjectName = row_->Name;
  if (row_->Position) {
    cards.RightAscension = row_->Position->RaHours;
    cards.Declination = row_->Position->DecDeg;
    const HorizontalPosition here =
        StationEquatorialToHorizontal(station_, row_->Position->RaHours * 15.0, row_->Position->DecDeg);
    cards.Airmass = here.Altitude > 0 ? Airmass(here.Altitude) : 0;
  }
  cards.PierSide = PierSide();
  if (station_.Focuser.HasDriver() && station_.Focuser.Linked()) {
    try {
      cards.FocusPosition = station_.Focuser.Read().Position;
    } catch (const std::exception&) {
    }
  }
  if (!calibrated && CalibrationWanted(filter)) Calibrate(picture, filter, history);
  cards.Calibration = history;
  WritePlanCards(picture, cards);
  if (history) station_.LogTimed(": " + CalibrationLogText(*history));

  // Spectra are turned to one orientation whichever side of the pier the mount is on.
  const auto side = PierSide();
  const int mirror = station_.Settings.SpectrumMirror;
  if ((*row_->Cells)[kColFilter] == std::to_string(station_.Settings.SpectrumFilt) && side &&
      ((mirror == 1 && *side == 0) || (mirror == 2 && *side == 1) || mirror == 3)) {
    picture.FlipHorizontal();
  }

  if (e_->Base == "-") {
    station_.LogUntimed("image not saved");
    file.clear();
    return true;
  }
  file = FileName(image, filter);
  if (!picture.SaveFits(file)) {
    // Exposing on into a folder that takes nothing would lose the night: the run stops.
    const std::string why = "cannot save " + file + ": " + picture.LastError();
    station_.LogTimed(": " + why);
    station_.Run.AbortRequested = true;
    EndRowAborted(station_, why.c_str());
    return false;
  }
  station_.LogTimed(": saved to " + file);
  if (run_.Events.FileSaved) run_.Events.FileSaved(file, false);
  return true;
}

void ExposureSequence::Stack(int image, int slot, int filter, const Timgbuffer& picture) {
  auto& stack = stacks_[static_cast<size_t>(slot)];
  const std::optional<bool> turned = FieldTurned(picture);
  if (image == 1) {
    stack = NewStack(picture);
    stackTurned_[static_cast<size_t>(slot)] = turned;
    if (!stack) return;
  } else if (stack) {
    // Guided images are shifted back onto the first one before they are added; after a
    // meridian flip the field lies the other way round and is turned to the stack's.
    auto shifted = picture.Clone();
    if (shifted) {
      shifted->ShiftImage(-static_cast<int>(RoundHalfEven(station_.GuideX)),
                          -static_cast<int>(RoundHalfEven(station_.GuideY)));
      const std::optional<bool> first = stackTurned_[static_cast<size_t>(slot)];
      if (turned && first && *turned != *first) {
        shifted->Rotate180();
        station_.LogTimed(": turned by 180 deg for the stack (the other side of the pier)");
      }
      stack->AddImage(*shifted);
      stack->Exposure += picture.Exposure;
    }
  }
  if (!stack || image != e_->Number) return;
  stack->SetKeyword("HISTORY", "Stack (sum) of " + std::to_string(e_->SubExposures * e_->Number) + " images");
  if (e_->Base == "-") return;
  const std::string file = FreeStackFileName(folder_, e_->Base, FilterName(filter));
  if (stack->SaveFits(file)) {
    station_.LogTimed(": saved to " + file);
    if (run_.Events.FileSaved) run_.Events.FileSaved(file, true);
  } else {
    station_.LogTimed(": cannot save " + file + ": " + stack->LastError());
    NoteRowFailure(station_, "stack " + file + " not saved");
  }
}

void ExposureSequence::Display(int image, int slot, Timgbuffer& picture, const std::string& file) {
  const bool stacking = run_.Options.Stacking && e_->Number > 1;
  if (run_.Options.ExtraViewer) {
    const bool webMonitor = WebMonitorWanted() && (!stacking || picture.Exposure > kStackWebMonitorSeconds);
    if (stacking || file.empty()) {
      station_.Viewer.ShowPlanFrame(picture, file);
      if (stacking && stacks_[static_cast<size_t>(slot)]) {
        station_.Viewer.ShowPlanStack(*stacks_[static_cast<size_t>(slot)], file);
      }
      if (run_.Events.ViewerChanged) run_.Events.ViewerChanged(webMonitor);
    } else if (run_.Events.ViewerFile) {
      run_.Events.ViewerFile(file, webMonitor);
    }
  }
  if (image == e_->Number) stacks_[static_cast<size_t>(slot)].reset();
}

bool ExposureSequence::TakenBefore(int image, int slot) const {
  if (!run_.Resume) return false;
  const int slots = static_cast<int>(e_->Filters.size());
  if (slot < 0) {
    for (int s = 0; s < slots; ++s) {
      if (!TakenBefore(image, s)) return false;
    }
    return true;
  }
  if (run_.Resume->ImageSaved(row_->Row, image, slot)) return true;
  // A file saved just before the run was cut short, whose record did not reach the journal.
  return run_.Resume->LastRow == row_->Row && e_->Kind == ExposureKind::Images && e_->Base != "-" &&
         std::filesystem::exists(ImageFileName(folder_, e_->Base, FilterName(e_->Filters[static_cast<size_t>(slot)]), image));
}

void ExposureSequence::Run(const ExposureSequenceRow& row) {
  row_ = &row;
  e_ = row.Exposure;
  folder_ = run_.ImageFolder().string();
  lastNumber_.clear();
  try {
    frame_ = ExposureGeometry(station_.Camera.CameraXSize(), station_.Camera.CameraYSize(), e_->Binning, e_->Zoom);
  } catch (const std::exception& e) {
    station_.LogTimed(std::string(": Camera error (") + e.what() + ")! aborted.");
    station_.Run.AbortRequested = true;
    return EndRowAborted(station_, "Camera error");
  }
  frame_.Exposure = e_->Seconds;
  subFrame_ = std::make_unique<Timgbuffer>();
  const int n = e_->Number;
  const auto& filters = e_->Filters;
  FocusFor(filters.front());
  WatchMeridian();

  for (int image = 1; image <= n; ++image) {
    if (TakenBefore(image)) continue;
    const double t = e_->Seconds;
    const bool guide = Guided() && (t >= 10 || n * t > 100 || e_->SubExposures * t >= 1);
    guideWanted_ = guide;
    guiding_.State = guide && !guiding_.Ended ? (image == 1 ? 1 : 2) : 0;
    if (guiding_.State == 1) station_.GuideX = station_.GuideY = 0;
    if (!PauseBefore(image)) return EndRowAborted(station_, "Funktion abgebrochen");

    for (size_t slot = 0; slot < filters.size(); ++slot) {
      const int filter = filters[slot];
      if (TakenBefore(image, static_cast<int>(slot))) continue;
      if (filters.size() > 1) FocusFor(filter);
      if (flip_.DueBefore(station_.Clock.UtcNow(), ExposureSlotSeconds(station_.Settings, *e_)) &&
          !MeridianFlip(filter)) {
        return EndRowAborted(station_);
      }
      frame_.Filter = filter - 1;
      const std::string message = ": Exposure " +
                                  (e_->SubExposures > 1 ? std::to_string(e_->SubExposures) + "x" : std::string()) +
                                  FormatFixed(t, 3) + "s; Filter: " + FilterName(filter);
      station_.LogTimed(message);
      station_.SetStatus(message);
      if (run_.Events.ImageStarted) run_.Events.ImageStarted(image, n, FilterName(filter));

      if (e_->Kind == ExposureKind::Sync) {
        SyncExposure exposure{t, e_->Binning, filter};
        PlanCenterAndSync(run_, op_, row.Slewed.value_or(SyncTarget{}), exposure);
        return;
      }
      Timgbuffer picture;
      bool calibrated = false;
      std::optional<CalibrationHistory> history;
      if (!ExposeSeries(image, filter, picture, calibrated, history)) return;
      if (TrackingLost()) return;
      if (e_->Kind == ExposureKind::Autofocus) {
        if (PlanAutofocus(run_, op_, filter)) {
          station_.LogTimed(": Autofocus: focus=" + std::to_string(station_.Run.BaseFocusPosition));
        } else {
          station_.LogTimed(": Autofocus error");
          NoteRowFailure(station_, "autofocus failed");
        }
        return;
      }
      std::string file;
      if (!FinishImage(image, filter, picture, calibrated, history, file)) return;
      if (!file.empty() && run_.Journal()) run_.Journal()->ImageSaved(row.Row, image, static_cast<int>(slot), file);
      if (run_.Events.ImageDone) run_.Events.ImageDone(picture, row.Name);
      WaitWhilePaused(station_);
      if (Guided() && guiding_.State != 0 && !PlanGuideStep(run_, op_, guiding_, picture)) {
        guiding_.State = 0;
        station_.GuideX = station_.GuideY = 0;
      }
      if (run_.Options.Stacking && n > 1) Stack(image, static_cast<int>(slot), filter, picture);
      Display(image, static_cast<int>(slot), picture, file);
      WaitWhilePaused(station_);
      if (station_.Run.AbortRequested) return EndRowAborted(station_);
    }
    WaitWhilePaused(station_);
  }
  station_.Viewer.StopStack();
  WaitWhilePaused(station_);
}

}  // namespace noctarbel
