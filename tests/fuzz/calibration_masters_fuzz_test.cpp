// Masters that do not fit the image: as wide as the image but with fewer or more rows for a
// full frame, and too few rows for a sub-frame cut at its origin. Each is skipped with the size as the
// reason and the image's pixels stay as they were (this program also runs under the address
// and undefined-behaviour sanitizers, which catch a read past a master's rows).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imaging/calibration.h"
#include "tests/test_support.h"

namespace noctarbel {
namespace {

Timgbuffer Filled(int width, int height, int value, double exposure = 10) {
  Timgbuffer image;
  image.SetSize(width, height, PixelType::Bits16);
  for (int y = 1; y <= height; ++y) {
    for (int x = 1; x <= width; ++x) image.SetPixel(x, y, value + x + y);
  }
  image.Exposure = exposure;
  image.XBinning = image.YBinning = 1;
  return image;
}

std::vector<int> Pixels(const Timgbuffer& image) {
  std::vector<int> values;
  for (int y = 1; y <= image.Height(); ++y) {
    for (int x = 1; x <= image.Width(); ++x) values.push_back(image.GetPixel(x, y));
  }
  return values;
}

TEST(CalibrationMasters, OfTheRightWidthAndTheWrongHeightAreSkippedAndChangeNothing) {
  testing::TempDir dir;
  constexpr int kWidth = 40;
  constexpr int kHeight = 30;
  struct Case {
    int zoom;
    int masterHeight;
  };
  // A sub-frame of zoom 2 is the middle quarter of the sensor: rows 8 to 22 of 30.
  for (const Case c : {Case{1, kHeight - 1}, Case{1, kHeight + 1}, Case{1, 1}, Case{1, 2 * kHeight},
                       Case{2, kHeight / 4 + kHeight / 2 - 1}, Case{2, 1}}) {
    const int zoom = c.zoom;
    const int masterHeight = c.masterHeight;
    for (const bool dark : {true, false}) {
      SCOPED_TRACE((dark ? "dark " : "flat ") + std::to_string(kWidth) + " x " + std::to_string(masterHeight) +
                   ", zoom " + std::to_string(zoom));
      ImageCalibration calibration;
      calibration.Options.DarkSubtract = dark;
      calibration.Options.FlatCorrection = !dark;
      calibration.Options.Optimize = false;
      const auto file = dir.Path() / "master.fit";
      ASSERT_TRUE(Filled(kWidth, masterHeight, dark ? 5 : 1000).SaveFits(file.string()));
      if (dark) {
        ASSERT_FALSE(calibration.LoadDark(MasterBinningIndex(1), "master.fit", file));
      } else {
        ASSERT_FALSE(calibration.LoadFlat(1, "master.fit", file));
        calibration.Tables.FlatIds[0] = {"1", "", ""};
      }
      Timgbuffer image = zoom == 1 ? Filled(kWidth, kHeight, 100) : Filled(kWidth / 2, kHeight / 2, 100);
      const std::vector<int> before = Pixels(image);
      CalibrationRequest request;
      request.Zoom = zoom;
      request.SubFrameX = zoom == 1 ? 0 : kWidth / 4;
      request.SubFrameY = zoom == 1 ? 0 : kHeight / 4;
      const CalibrationResult result = calibration.Calibrate(image, request);
      EXPECT_FALSE(result.Dark);
      EXPECT_FALSE(result.Flat);
      ASSERT_EQ(result.Skipped.size(), 1u);
      EXPECT_NE(result.Skipped[0].find(std::to_string(kWidth) + " x " + std::to_string(masterHeight)),
                std::string::npos)
          << result.Skipped[0];
      EXPECT_EQ(Pixels(image), before);
    }
  }
}

}  // namespace
}  // namespace noctarbel
