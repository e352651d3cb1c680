#include "operations/centring_operations.h"

#include "station/station_state.h"
#include "operations/camera_operations.h"
#include "operations/mount_operations.h"
#include "common/number_text.h"
#include "imaging/star_measure.h"
#include "imaging/hot_pixel_filter.h"
#include "imaging/image_buffer.h"

namespace noctarbel {

namespace {

constexpr int kCentringHotPixelFactor = 4;

std::string OffsetText(const PixelOffset& offset) { return FormatFixed(offset.X, 1) + "," + FormatFixed(offset.Y, 1); }

}  // namespace

double CentringOperations::ScaleOf(const Timgbuffer& image) const {
  if (image.PixelScale > 0) return image.PixelScale;
  // An image without its scale card: the camera's scale at the image's binning.
  return core_.Settings.ArcsecX * std::max<int>(1, image.XBinning);
}

bool CentringOperations::MoveBy(OperationContext& op, const StarOffset& offset) {
  if (!NeedsCorrectingMove(offset) || !mount_.Connected()) return false;
  // Only a mount that says it is on the west side gets the mirrored move; one that cannot
  // tell is taken as it stands.
  const SkyMove move = CorrectingMove(offset, mount_.SideOfPier() == PierSide::West);
  if (!mount_.MoveXY(op, move.X, move.Y)) return false;
  op.Wait(kSettleMs);
  return true;
}

CentringResult CentringOperations::CenterOnBrightestStar(OperationContext& op, Timgbuffer& image, bool move) {
  CentringResult result;
  HotPixelFilter(image, kCentringHotPixelFactor);
  const StarSearchResult star = FindBrightestStar(image);
  if (!star.Found) {
    core_.StarOffsetArcsec = StarOffset{};
    return result;
  }
  const double scale = ScaleOf(image);
  result.Found = true;
  result.Offset =
      OffsetOfStar(image.Width(), image.Height(), star.X, star.Y, scale, scale, core_.Settings.CameraRotation);
  result.Pixels = OffsetInPixels(result.Offset, scale);
  core_.StarOffsetArcsec = result.Offset;
  if (move) result.Moved = MoveBy(op, result.Offset);
  return result;
}

void CentringOperations::Log(SyncResult& result, const std::string& line) {
  result.Log.push_back(line);
  core_.LogTimed(line);
}

SyncResult CentringOperations::CenterAndSync(OperationContext& op, double raHours, double decDeg,
                                             const ExposureRequest& frame, double rangePixels,
                                             const SyncImageSource& source) {
  SyncResult result;
  SyncImageSource take = source;
  if (!take) {
    take = [this, frame](OperationContext& o, Timgbuffer& image) {
      if (!camera_.TakeImage(o, frame, image).HasImage()) return false;
      if (Hooks.Calibrate) Hooks.Calibrate(image, frame.Filter + 1);
      if (Hooks.Show) Hooks.Show(image);
      return true;
    };
  }
  Timgbuffer image;
  auto takeImage = [&]() {
    if (take(op, image) && op.MayContinue()) return true;
    result.ImageFailed = true;
    return false;
  };

  Log(result, ": Center&Sync star position");
  if (!takeImage()) return result;
  CentringResult first = CenterOnBrightestStar(op, image, true);
  if (!first.Found) {
    Log(result, ": no bright star found");
    return result;
  }
  result.Found = true;
  result.Offset = first.Offset;
  result.Pixels = first.Pixels;
  if (!takeImage()) return result;

  if (SyncNeedsSecondPass(result.Pixels, rangePixels)) {
    const CentringResult second = CenterOnBrightestStar(op, image, true);
    if (!second.Found) {
      Log(result, ": autocenter error2, dx,dy=" + OffsetText(result.Pixels));
      return result;
    }
    result.Offset = second.Offset;
    result.Pixels = second.Pixels;
    if (!takeImage()) return result;
    const CentringResult third = CenterOnBrightestStar(op, image, false);
    if (!third.Found) {
      Log(result, ": autocenter error1, dx,dy=" + OffsetText(result.Pixels));
      return result;
    }
    result.Offset = third.Offset;
    result.Pixels = third.Pixels;
  }
  if (!op.MayContinue()) return result;
  if (SyncWithinRange(result.Pixels, rangePixels) && mount_.Connected()) {
    if (mount_.SyncToCoordinates(raHours, decDeg)) {
      result.Synced = true;
      Log(result, ": center&sync OK");
    }
    return result;
  }
  Log(result, ": autocenter error3, dx,dy=" + OffsetText(result.Pixels));
  return result;
}

}  // namespace noctarbel
