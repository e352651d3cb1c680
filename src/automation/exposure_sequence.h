#pragma once
// The real run's exposure part of a row: the camera's sub-frame, focusing per filter, the
// images (each the sum of k sub-exposures), pauses, guiding, the plan header cards,
// calibration, saving as folder/base-filter-nnn.fit, per-filter stacks, preview, viewer and
// web monitor; and the row's AF and SY commands.

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "automation/meridian_flip.h"
#include "automation/plan_row.h"
#include "automation/plan_services.h"
#include "operations/camera_operations.h"

namespace noctarbel {

class OperationContext;
class PlanRun;
class StationCore;
class Timgbuffer;

struct ExposureSequenceRow {
  int Row = 0;
  std::string Name;
  std::optional<TargetPosition> Position;  // J2000 of the row, or of the run's last target
  const RowExposure* Exposure = nullptr;
  const RowCells* Cells = nullptr;
  std::optional<SyncTarget> Slewed;  // the row's target as sent to the mount
  // The exposure of the "SY" row that centred this target: a meridian flip centres again.
  std::optional<SyncExposure> Centring;
};

class ExposureSequence {
 public:
  ExposureSequence(PlanRun& run, OperationContext& op);
  ~ExposureSequence();

  void Run(const ExposureSequenceRow& row);

 private:
  bool ExposeSeries(int image, int filter, Timgbuffer& result, bool& calibrated,
                    std::optional<CalibrationHistory>& history);
  bool FinishImage(int image, int filter, Timgbuffer& picture, bool calibrated,
                   std::optional<CalibrationHistory> history, std::string& file);
  void Stack(int image, int slot, int filter, const Timgbuffer& picture);
  void Display(int image, int slot, Timgbuffer& picture, const std::string& file);
  void FocusFor(int filter);
  bool PauseBefore(int image);
  // A resumed night's image (slot -1: every filter of it) saved before the run was cut short.
  bool TakenBefore(int image, int slot = -1) const;
  bool Calibrate(Timgbuffer& picture, int filter, std::optional<CalibrationHistory>& history);
  bool CalibrationWanted(int filter) const;
  std::optional<int> PierSide();
  std::string FilterName(int filter) const;
  // The file of image `image` of the filter: the next free number (logged when it is not
  // the image's own).
  std::string FileName(int image, int filter);
  bool Guided() const;
  bool WebMonitorWanted() const;
  // The meridian flip: the wait for its time, the slew to the target again, centring and
  // focusing when wanted, and guiding from a new reference star. False when the run stops.
  void WatchMeridian();
  bool MeridianFlip(int filter);
  // Where the flip sends the mount: the row's target as it was sent to the mount, a
  // spectrograph's offset turned to the new side.
  SyncTarget FlipTarget() const;
  bool WaitUntil(DateTime utc);
  // The mount tracked when the row began and does not any more (it stopped at its limit):
  // the run stops.
  bool TrackingLost();

  PlanRun& run_;
  StationCore& station_;
  OperationContext& op_;
  const ExposureSequenceRow* row_ = nullptr;
  const RowExposure* e_ = nullptr;
  ExposureRequest frame_;
  std::string folder_;
  GuidingSeries guiding_;
  bool guideWanted_ = false;
  MeridianFlipWatch flip_;
  bool flipFromWest_ = false;  // the mount reported the west side when the row began
  bool tracking_ = false;      // the mount tracked when the exposures began
  std::array<std::unique_ptr<Timgbuffer>, 6> stacks_;
  std::array<std::optional<bool>, 6> stackTurned_;  // how each stack's first field lies
  std::unique_ptr<Timgbuffer> subFrame_;
  std::map<int, int> lastNumber_;  // filter -> the last number saved in this row
};

}  // namespace noctarbel
