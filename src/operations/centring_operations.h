#pragma once
// Centring: the offset of an image's brightest star from the frame centre, the telescope move
// that brings it there, and centre-and-sync, which repeats that until the star sits within a
// range and then tells the mount it points at the target. Images come from the caller (the
// plan executor's exposures) or from the camera's TakeImage; every wait runs under the
// caller's operation context; the sequence reports through its log lines and its result.

#include <functional>
#include <string>
#include <vector>

#include "operations/camera_operations.h"
#include "operations/autofocus_operations.h"
#include "guiding/centring.h"
#include "guiding/star_offset.h"

namespace noctarbel {

class OperationContext;
class StationState;
class CameraOperations;
class MountOperations;
class Timgbuffer;

struct CentringResult {
  bool Found = false;
  StarOffset Offset;   // arc seconds along the camera's rotated axes; zero without a star
  PixelOffset Pixels;  // the same in image pixels
  bool Moved = false;  // the telescope was moved (and has settled)
};

// Takes one image of the sequence: false when it failed or was stopped (whoever took it has
// reported why).
using SyncImageSource = std::function<bool(OperationContext&, Timgbuffer&)>;

struct SyncResult {
  bool Found = false;  // the first image showed a star
  bool Synced = false;
  bool ImageFailed = false;  // an image could not be taken: the sequence ended there
  StarOffset Offset;         // the last measurement
  PixelOffset Pixels;
  std::vector<std::string> Log;  // the lines logged, without time stamps
};

class CentringOperations {
 public:
  // The mount settles this long after a correcting move.
  static constexpr int kSettleMs = 5000;

  CentringOperations(StationState& state, CameraOperations& camera, MountOperations& mount) : core_(state), camera_(camera), mount_(mount) {}
  CentringOperations(const CentringOperations&) = delete;
  CentringOperations& operator=(const CentringOperations&) = delete;

  // Calibration and display of the images the sequence takes itself.
  FocusImageHooks Hooks;

  // The brightest star (after the hot-pixel filter) and its offset at the image's scale,
  // kept as the station's star offset; with `move`, the correcting move and the settling.
  CentringResult CenterOnBrightestStar(OperationContext& op, Timgbuffer& image, bool move);
  // The correcting move by an offset and the settling: nothing for a zero offset or without
  // a connected mount. True when the telescope moved.
  bool MoveBy(OperationContext& op, const StarOffset& offset);
  // The plan's "SY": centre the brightest star (twice when the first move left it more than
  // rangePixels image pixels off), then sync the mount to the target as it was sent for the
  // slew.
  // Images come from `source`, or are taken with `frame` through TakeImage.
  SyncResult CenterAndSync(OperationContext& op, double raHours, double decDeg, const ExposureRequest& frame,
                           double rangePixels, const SyncImageSource& source = {});

 private:
  void Log(SyncResult& result, const std::string& line);
  double ScaleOf(const Timgbuffer& image) const;

  StationState& core_;
  CameraOperations& camera_;
  MountOperations& mount_;
};

}  // namespace noctarbel
