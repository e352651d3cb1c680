// Calibration of images with masters read from real FITS files, and the configuration file.
// Expected pixels are worked out by hand from the rules (scaled dark r x dark + (1 - r) x
// bias, flat gains R / p and R / L), written beside each case.

#include "imaging/calibration.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <optional>
#include <tuple>
#include <vector>

#include "imaging/calibration_config.h"
#include "tests/imaging/direct_flat.h"
#include "tests/imaging/synthetic_frames.h"
#include "tests/test_support.h"

namespace noctarbel {
namespace {

using testing::ReadFile;
using testing::WriteFile;

// An image (16-bit unless told) of one row per entry of `rows`.
Timgbuffer Image(const std::vector<std::vector<int>>& rows, double exposure = 0, int binning = 1,
                 PixelType type = PixelType::Bits16) {
  Timgbuffer image;
  image.SetSize(static_cast<int>(rows.front().size()), static_cast<int>(rows.size()), type);
  for (size_t y = 0; y < rows.size(); ++y) {
    for (size_t x = 0; x < rows[y].size(); ++x) {
      image.SetPixel(static_cast<int>(x + 1), static_cast<int>(y + 1), rows[y][x]);
    }
  }
  image.Exposure = exposure;
  image.XBinning = image.YBinning = static_cast<std::uint16_t>(binning);
  return image;
}

std::vector<int> Row(const Timgbuffer& image, int y = 1) {
  std::vector<int> values;
  for (int x = 1; x <= image.Width(); ++x) values.push_back(image.GetPixel(x, y));
  return values;
}

class CalibrationTest : public ::testing::Test {
 protected:
  std::filesystem::path Master(const std::string& name, const std::vector<std::vector<int>>& rows,
                               double exposure = 0) {
    const auto path = dir_ / name;
    EXPECT_TRUE(Image(rows, exposure).SaveFits(path.string()));
    return path;
  }
  void LoadDark(int binning, const std::string& name, const std::vector<std::vector<int>>& rows, double exposure) {
    ASSERT_FALSE(calibration_.LoadDark(MasterBinningIndex(binning), name, Master(name, rows, exposure)));
  }
  void LoadBias(int binning, const std::string& name, const std::vector<std::vector<int>>& rows) {
    ASSERT_FALSE(calibration_.LoadBias(MasterBinningIndex(binning), name, Master(name, rows)));
  }
  void LoadFlat(int id, const std::string& name, const std::vector<std::vector<int>>& rows) {
    ASSERT_FALSE(calibration_.LoadFlat(id, name, Master(name, rows)));
  }

  testing::TempDir dir_;
  ImageCalibration calibration_;
};

TEST_F(CalibrationTest, OptimizeScalesTheDarkToTheExposureWithTheBias) {
  calibration_.Options.DarkSubtract = true;
  // r = 60 s / 300 s = 0.2; dark pixels at or above 50000 are not scaled.
  LoadDark(2, "dark2.fit", {{1000, 50000, 49999, 0}}, 300);
  LoadBias(2, "bias2.fit", {{100, 100, 200, 100}});
  Timgbuffer image = Image({{3000, 60000, 60000, 50}}, 60, 2);
  CalibrationResult result = calibration_.Calibrate(image, {});
  EXPECT_TRUE(result.Dark);
  // 3000 - (200 + 80); 60000 - (50000 + 80); 60000 - (round(9999.8) + 160); 50 - 80 -> 0.
  EXPECT_EQ(Row(image), (std::vector<int>{2720, 9920, 49840, 0}));
  EXPECT_EQ(result.History.DarkFile, "dark2.fit");
  EXPECT_EQ(image.Maximum, 49840);

  // A second subtraction does nothing and still counts.
  result = calibration_.Calibrate(image, {});
  EXPECT_TRUE(result.Dark);
  EXPECT_EQ(Row(image), (std::vector<int>{2720, 9920, 49840, 0}));

  // r = 600 / 300 = 2: the dark is doubled (capped at 65535) and the bias taken off once.
  image = Image({{3000, 60000, 60000, 50}}, 600, 2);
  calibration_.Calibrate(image, {});
  // 3000 - (2000 - 100); 60000 - (50000 - 100); 60000 - (65535 - 200) -> 0; 50 - max(0 - 100, 0).
  EXPECT_EQ(Row(image), (std::vector<int>{1100, 10100, 0, 50}));

  // Without a bias frame the bias constant stands in: round(0.8 x 90) = 72.
  ASSERT_FALSE(calibration_.LoadBias(1, "", {}));
  calibration_.Options.BiasConstant = 90;
  image = Image({{3000, 60000, 60000, 50}}, 60, 2);
  calibration_.Calibrate(image, {});
  EXPECT_EQ(Row(image), (std::vector<int>{2728, 9928, 49928, 0}));

  // Optimize off: the dark as it is.
  calibration_.Options.Optimize = false;
  image = Image({{3000, 60000, 60000, 50}}, 60, 2);
  calibration_.Calibrate(image, {});
  EXPECT_EQ(Row(image), (std::vector<int>{2000, 10000, 10001, 50}));
}

TEST_F(CalibrationTest, ThirtyTwoBitImagesAndMastersGiveTheSamePixels) {
  calibration_.Options.DarkSubtract = true;
  calibration_.Options.FlatCorrection = true;
  calibration_.Tables.FlatIds[0] = {"", "1", ""};
  for (const auto& [name, row] : {std::pair{"dark2.fit", std::vector<int>{1000, 50000, 49999, 0}},
                                  std::pair{"bias2.fit", std::vector<int>{100, 100, 200, 100}},
                                  std::pair{"flat1.fit", std::vector<int>{1000, 1000, 1000, 500}}}) {
    ASSERT_TRUE(Image({row}, 300, 1, PixelType::Bits32).SaveFits((dir_ / name).string()));
  }
  ASSERT_FALSE(calibration_.LoadDark(1, "dark2.fit", dir_ / "dark2.fit"));
  ASSERT_FALSE(calibration_.LoadBias(1, "bias2.fit", dir_ / "bias2.fit"));
  ASSERT_FALSE(calibration_.LoadFlat(1, "flat1.fit", dir_ / "flat1.fit"));
  ASSERT_EQ(calibration_.Dark(1)->Type(), PixelType::Bits32);
  for (double exposure : {60.0, 600.0}) {
    Timgbuffer image = Image({{3000, 60000, 60000, 50}}, exposure, 2, PixelType::Bits32);
    EXPECT_TRUE(calibration_.Calibrate(image, {}).Flat);
    // As for 16 bits (2720, 9920, 49840, 0 and 1100, 10100, 0, 50), then gains 1.25 and 2.5.
    EXPECT_EQ(Row(image),
              exposure == 60 ? (std::vector<int>{3400, 12400, 62300, 0}) : (std::vector<int>{1375, 12625, 0, 125}));
  }
}

TEST_F(CalibrationTest, VeryShortExposuresLoseOnlyTheBiasConstant) {
  calibration_.Options.DarkSubtract = true;
  LoadDark(1, "dark1.fit", {{500, 500, 500}}, 300);
  Timgbuffer image = Image({{1000, 60, 65535}}, 0.05, 1);
  bool dark = true, flat = false, rotate = false;
  CalibrationHistory history;
  EXPECT_FALSE(calibration_.CalibrateImage(image, 1, 1, 0, 0, dark, flat, rotate, &history));
  EXPECT_FALSE(dark);
  EXPECT_EQ(Row(image), (std::vector<int>{900, 0, 65435}));
  EXPECT_FALSE(history.DarkFile);

  // Longer, but the dark is too short to scale: nothing is subtracted.
  ASSERT_FALSE(calibration_.LoadDark(0, "dark1.fit", Master("short.fit", {{500, 500, 500}}, 0.5)));
  image = Image({{1000, 60, 65535}}, 10, 1);
  EXPECT_FALSE(calibration_.Calibrate(image, {}).Dark);
  EXPECT_EQ(Row(image), (std::vector<int>{1000, 60, 65535}));
}

TEST_F(CalibrationTest, FlatGainsBelowTwentyPercentOfTheMaximumUseTheLowLimit) {
  // Mean 820, deviation sqrt(648000 / 4) = 402.49: R = round(820 + 603.74) = 1424;
  // L = round(0.2 x 1000) = 200. Gains 1424 / 1000 and, for 100 <= L, 1424 / 200 = 7.12.
  const std::optional<FlatGains> gains = FlatGainsOf(Image({{1000, 1000, 1000, 1000, 100}}));
  ASSERT_TRUE(gains);
  EXPECT_EQ(gains->Reference, 1424);
  EXPECT_EQ(gains->Low, 200);
  EXPECT_FLOAT_EQ(gains->Gain(1000), 1.424f);
  EXPECT_FLOAT_EQ(gains->Gain(100), 7.12f);

  EXPECT_FALSE(FlatGainsOf(Image({{0, 0}, {0, 0}}))) << "an all-black flat has no usable gains";
  EXPECT_FALSE(FlatGainsOf(Image({{1000}})));

  calibration_.Options.FlatCorrection = true;
  calibration_.Tables.FlatIds[0] = {"1", "", ""};
  LoadFlat(1, "flat1.fit", {{1000, 1000, 1000, 1000, 100}});
  Timgbuffer image = Image({{1000, 500, 50000, 7, 10}}, 30, 1);
  CalibrationResult result = calibration_.Calibrate(image, {});
  EXPECT_TRUE(result.Flat);
  // round(1000 x 1.424), round(500 x 1.424), 71200 capped, round(9.968), round(71.2).
  EXPECT_EQ(Row(image), (std::vector<int>{1424, 712, 65535, 10, 71}));
  EXPECT_EQ(result.History.FlatFile, "flat1.fit");
  EXPECT_EQ(calibration_.FlatNameOfFilter(1), "flat1.fit");
  EXPECT_TRUE(calibration_.Calibrate(image, {}).Flat);
  EXPECT_EQ(Row(image), (std::vector<int>{1424, 712, 65535, 10, 71})) << "a flat is applied once";
}

// A frame of the type with values around `level`, a fifth of them below a tenth of it.
Timgbuffer TypedFrame(PixelType type, bool isUnsigned, int width, int height, int level, testing::FrameRandom& random) {
  Timgbuffer image;
  image.SetSize(width, height, type);
  image.Unsigned = isUnsigned;
  for (int i = 0; i < width * height; ++i) {
    const bool dim = random.Below(5) == 0;
    const int v = dim ? static_cast<int>(random.Below(static_cast<std::uint32_t>(level / 10 + 1)))
                      : level + static_cast<int>(random.Below(static_cast<std::uint32_t>(level / 2 + 1)));
    if (type == PixelType::Bits16) {
      image.PixelsAs<std::uint16_t>()[i] = static_cast<std::uint16_t>(isUnsigned ? v : v - level / 3);
    } else {
      image.SetPixel(i % width + 1, i / width + 1, v);
    }
  }
  return image;
}

// The gains worked out from the flat's pixels while applying equal the map of single-precision
// gains made before, for every pixel type of image and flat, whole and cut at an origin. The flat
// holds more than one block of 65536 words for the sums.
TEST(FusedFlat, GivesThePixelsOfTheGainMap) {
  testing::FrameRandom random(23);
  const std::tuple<PixelType, bool, int> kinds[] = {{PixelType::Bits16, true, 20000},
                                                    {PixelType::Bits16, false, 9000},
                                                    {PixelType::Bits8, true, 150},
                                                    {PixelType::Bits32, true, 3000000}};
  for (const auto& [flatType, flatUnsigned, flatLevel] : kinds) {
    Timgbuffer flat = TypedFrame(flatType, flatUnsigned, 401, 331, flatLevel, random);
    flat.SetPixel(5, 3, flatLevel * 3);  // the brightest pixel in the first block of the sums
    auto directFlat = flat.Clone();
    const std::optional<FlatGains> gains = FlatGainsOf(flat);
    const auto expected = testing::DirectNormalizeFlat(*directFlat);
    ASSERT_TRUE(gains && expected);
    EXPECT_EQ(gains->Reference, expected->reference);
    EXPECT_EQ(gains->Low, expected->low);
    const std::vector<float> table = GainTable(flat, *gains);
    for (const auto& [imageType, imageUnsigned, imageLevel] : kinds) {
      for (auto [width, height, x0, y0] : {std::tuple{401, 331, 0, 0}, std::tuple{20, 6, 7, 5}}) {
        Timgbuffer fused = TypedFrame(imageType, imageUnsigned, width, height, imageLevel, random);
        auto direct = fused.Clone();
        ApplyFlatRows(fused, FlatWindow{&flat, *gains, &table, x0, y0}, 0, height);
        testing::DirectApplyFlat(*direct, *expected, flat.Width(), x0, y0);
        EXPECT_EQ(
            std::memcmp(fused.RawData(), direct->RawData(), static_cast<size_t>(width) * height * fused.ElementBytes()),
            0)
            << "flat type " << static_cast<int>(flatType) << " image type " << static_cast<int>(imageType);
      }
    }
  }
}

// A reference level of exactly k + 0.5 (mean 100, deviation 1) rounds to even as it did.
TEST(FusedFlat, AReferenceLevelOnAHalfIntegerRoundsAsBefore) {
  for (const auto& row :
       {std::vector<int>{99, 100, 101}, std::vector<int>{100, 101, 102}, std::vector<int>{99, 99, 101, 101, 100}}) {
    const std::optional<FlatGains> gains = FlatGainsOf(Image({row}));
    ASSERT_TRUE(gains);
    EXPECT_EQ(gains->Reference, 102);
  }
}

TEST_F(CalibrationTest, OnlyTheMastersAStepUsesAreRead) {
  calibration_.Tables.FlatIds[2] = {"4", "x", ""};
  struct Case {
    bool dark, optimize, flat;
    double exposure;
    int binning, filter;
    std::optional<int> wantDark, wantBias, wantFlat;
  };
  const Case cases[] = {
      {true, false, true, 60, 1, 3, 0, std::nullopt, 4},                        // no bias without "Optimize"
      {true, true, false, 60, 2, 3, 1, 1, std::nullopt},                        // the bias scales the dark
      {true, true, true, 0.05, 1, 3, std::nullopt, std::nullopt, 4},            // bias constant only
      {true, false, true, 0.05, 4, 3, 2, std::nullopt, std::nullopt},           // no flat ID at 4x4
      {true, true, true, 60, 3, 3, std::nullopt, std::nullopt, std::nullopt},   // no such binning
      {false, true, true, 60, 2, 3, std::nullopt, std::nullopt, std::nullopt},  // "x" is no flat ID
      {true, false, true, 60, 1, 1, 0, std::nullopt, std::nullopt},             // filter 1 has no flat ID
  };
  for (const Case& c : cases) {
    calibration_.Options.DarkSubtract = c.dark;
    calibration_.Options.Optimize = c.optimize;
    calibration_.Options.FlatCorrection = c.flat;
    const Timgbuffer image = Image({{1, 2}}, c.exposure, c.binning);
    CalibrationRequest request;
    request.FilterNumber = c.filter;
    const MasterNeeds needs = calibration_.MastersFor(image, request);
    EXPECT_EQ(std::tie(needs.Dark, needs.Bias, needs.Flat), std::tie(c.wantDark, c.wantBias, c.wantFlat))
        << c.exposure << " s, binning " << c.binning;
  }
}

TEST_F(CalibrationTest, FourByFourBinningPicksTheFourByFourMastersAndFlat) {
  calibration_.Options.DarkSubtract = true;
  calibration_.Options.FlatCorrection = true;
  for (int binning : {1, 2, 4}) {
    const std::string b = std::to_string(binning);
    LoadDark(binning, "dark" + b + ".fit", {std::vector<int>(4, 100 * binning)}, 10);
    LoadBias(binning, "bias" + b + ".fit", {std::vector<int>(4, 12 * binning)});
  }
  // Flat 3: mean 875, deviation 250, R = 1250, gains 1.25 and 2.5; flats 1 and 2 are even.
  LoadFlat(1, "flatA.fit", {{1000, 1000, 1000, 1000}});
  LoadFlat(2, "flatB.fit", {{1000, 1000, 1000, 1000}});
  LoadFlat(3, "flatC.fit", {{1000, 1000, 1000, 500}});
  calibration_.Tables.FlatIds[2] = {"1", "2", "3"};

  // r = 0.5: working dark 0.5 x 400 + 0.5 x 48 = 224.
  Timgbuffer image = Image({{1000, 1000, 1000, 1000}}, 5, 4);
  bool dark = true, flat = true, rotate = true;
  CalibrationHistory history;
  EXPECT_TRUE(calibration_.CalibrateImage(image, 3, 1, 0, 0, dark, flat, rotate, &history));
  EXPECT_TRUE(dark && flat && rotate);
  // 776 x 1.25 = 970, 776 x 2.5 = 1940, then turned by 180 degrees.
  EXPECT_EQ(Row(image), (std::vector<int>{1940, 970, 970, 970}));
  EXPECT_EQ(CalibrationHistoryTexts(history),
            (std::vector<std::string>{"Dark subtraction dark4.fit", "Flatcorr. flatC.fit", "180 deg rotation"}));
  EXPECT_EQ(image.QuarterTurns, 2);

  // Halves round to the even neighbour: 775 x 2.5 = 1937.5 -> 1938, 775 x 1.25 = 968.75 -> 969.
  calibration_.Options.DarkSubtract = false;
  image = Image({{775, 775, 775, 775}}, 5, 4);
  calibration_.Calibrate(image, CalibrationRequest{3});
  EXPECT_EQ(Row(image), (std::vector<int>{969, 969, 969, 1938}));
}

TEST_F(CalibrationTest, AFilterWithoutFlatIdsUsesNoFlatAndRecordsNoName) {
  calibration_.Options.FlatCorrection = true;
  LoadFlat(1, "flat1.fit", {{1000, 1000, 1000, 500}});
  calibration_.Tables.FlatIds[0] = {"1", "1", "1"};
  calibration_.Tables.FlatIds[4] = {"", "", ""};
  Timgbuffer image = Image({{100, 100, 100, 100}}, 5, 1);
  CalibrationResult result = calibration_.Calibrate(image, CalibrationRequest{5});
  EXPECT_FALSE(result.Flat);
  EXPECT_FALSE(result.History.FlatFile);
  EXPECT_EQ(calibration_.FlatNameOfFilter(5), "");
  EXPECT_EQ(Row(image), (std::vector<int>{100, 100, 100, 100}));

  // The name is recorded when the filter has a flat ID, even with flat correction off.
  calibration_.Options.FlatCorrection = false;
  EXPECT_FALSE(calibration_.Calibrate(image, CalibrationRequest{1}).Flat);
  EXPECT_EQ(calibration_.FlatNameOfFilter(1), "flat1.fit");
}

TEST_F(CalibrationTest, AMasterOfAnotherSizeIsSkippedNotCroppedOrStretched) {
  calibration_.Options.DarkSubtract = true;
  calibration_.Options.FlatCorrection = true;
  calibration_.Options.Optimize = false;
  LoadDark(1, "dark1.fit", {{10, 10, 10, 10}}, 10);
  LoadFlat(1, "flat1.fit", {{1000, 1000, 1000, 500}});
  calibration_.Tables.FlatIds[0] = {"1", "", ""};
  Timgbuffer image = Image({{100, 100, 100}}, 10, 1);
  CalibrationResult result = calibration_.Calibrate(image, {});
  EXPECT_FALSE(result.Dark);
  EXPECT_FALSE(result.Flat);
  EXPECT_FALSE(result.Any());
  EXPECT_EQ(Row(image), (std::vector<int>{100, 100, 100}));
  ASSERT_EQ(result.Skipped.size(), 2u);
  EXPECT_EQ(result.Skipped[0], "the dark 1x1 is 4 x 1, the image 3 x 1");

  // A wrong-size bias is left out; the bias constant stands in (round(0.5 x 100) = 50).
  calibration_.Options.Optimize = true;
  calibration_.Options.FlatCorrection = false;
  LoadBias(1, "bias1.fit", {{1, 1, 1}});
  image = Image({{100, 100, 100, 100}}, 5, 1);
  EXPECT_TRUE(calibration_.Calibrate(image, {}).Dark);
  EXPECT_EQ(Row(image), (std::vector<int>{45, 45, 45, 45}));
}

TEST_F(CalibrationTest, ASubFrameUsesTheMastersCutAtItsOrigin) {
  calibration_.Options.DarkSubtract = true;
  calibration_.Options.Optimize = false;
  calibration_.Options.FlatCorrection = true;
  // Master pixel (x, y) = 10 y + x, 6 x 4.
  std::vector<std::vector<int>> rows;
  for (int y = 1; y <= 4; ++y) rows.push_back({10 * y + 1, 10 * y + 2, 10 * y + 3, 10 * y + 4, 10 * y + 5, 10 * y + 6});
  LoadDark(2, "dark2.fit", rows, 10);
  // Even flat but for (4, 3) -> gain 2 where the cut puts it at the image's (2, 2).
  std::vector<std::vector<int>> flat(4, std::vector<int>(6, 1000));
  flat[2][3] = 500;  // mean 979.17, deviation 102.06: R = round(1132.3) = 1132
  LoadFlat(1, "flat1.fit", flat);
  calibration_.Tables.FlatIds[0] = {"", "1", ""};

  // A 3 x 2 sub-frame whose first pixel is master pixel (3, 2): origin (2, 1).
  Timgbuffer image = Image({{1000, 1000, 1000}, {1000, 1000, 1000}}, 10, 2);
  CalibrationRequest request{1, 2, 2, 1};
  CalibrationResult result = calibration_.Calibrate(image, request);
  EXPECT_TRUE(result.Dark);
  EXPECT_TRUE(result.Flat);
  // Row 1: 1000 - 23, 24, 25, then x 1132/1000; row 2: 1000 - 33, 34, 35, (2, 2) x 1132/500.
  EXPECT_EQ(Row(image, 1), (std::vector<int>{1106, 1105, 1104}));
  EXPECT_EQ(Row(image, 2), (std::vector<int>{1095, 2187, 1092}));
  // The same with a zoom below 1.5, rounded to 1: still a sub-frame, cut alike.
  image = Image({{1000, 1000, 1000}, {1000, 1000, 1000}}, 10, 2);
  EXPECT_TRUE(calibration_.Calibrate(image, CalibrationRequest{1, 1, 2, 1}).Flat);
  EXPECT_EQ(Row(image, 2), (std::vector<int>{1095, 2187, 1092}));

  // A cut that would reach past the master is skipped.
  image = Image({{1000, 1000, 1000}, {1000, 1000, 1000}}, 10, 2);
  result = calibration_.Calibrate(image, CalibrationRequest{1, 2, 4, 1});
  EXPECT_FALSE(result.Dark);
  EXPECT_FALSE(result.Flat);
  EXPECT_EQ(Row(image), (std::vector<int>{1000, 1000, 1000}));
}

TEST_F(CalibrationTest, HotPixelsAreRemovedBeforeTheFlat) {
  calibration_.Options.HotPixelCorrection = true;
  calibration_.Options.HotPixelSigma = 5;
  calibration_.Options.FlatCorrection = true;
  std::vector<std::vector<int>> sky(5, std::vector<int>(12, 1000));
  LoadFlat(1, "flat1.fit", sky);  // even: every gain 1
  calibration_.Tables.FlatIds[0] = {"1", "", ""};
  sky[2][5] = 30000;
  Timgbuffer image = Image(sky, 1, 1);
  CalibrationResult result = calibration_.Calibrate(image, {});
  EXPECT_TRUE(result.HotPixels);
  EXPECT_TRUE(result.Flat);
  EXPECT_EQ(image.GetPixel(6, 3), 1000);
  calibration_.Options.HotPixelCorrection = false;
  EXPECT_FALSE(calibration_.Calibrate(image, {}).HotPixels);
}

TEST_F(CalibrationTest, MastersThatCannotBeLoadedKeepTheOnesHeld) {
  LoadDark(2, "dark2.fit", {{5, 5}}, 10);
  auto error = calibration_.LoadDark(1, "missing.fit", dir_ / "missing.fit");
  ASSERT_TRUE(error);
  EXPECT_EQ(error->Message, "dark image (2x2) not found");
  EXPECT_NE(error->Reason.find("missing.fit"), std::string::npos);
  EXPECT_NE(calibration_.Dark(1), nullptr);
  EXPECT_EQ(calibration_.LoadBias(2, "b.fit", dir_ / "b.fit")->Message, "bias image (4x4) not found");

  ASSERT_TRUE(Image({{0, 0}, {0, 0}}).SaveFits((dir_ / "black.fit").string()));
  EXPECT_EQ(calibration_.LoadFlat(4, "black.fit", dir_ / "black.fit")->Message, "flat image cannot be used");
  EXPECT_EQ(calibration_.LoadFlat(4, "none.fit", dir_ / "none.fit")->Message, "flat image not found");
  EXPECT_EQ(calibration_.Flat(4), nullptr);

  // An emptied dark name drops the dark, like an emptied bias name.
  EXPECT_FALSE(calibration_.LoadDark(1, "", {}));
  EXPECT_EQ(calibration_.Dark(1), nullptr);
}

// --- the configuration file

CalibrationConfig FullConfig() {
  CalibrationConfig c;
  for (int i = 0; i < kFlatIdCount; ++i) c.Tables.FlatFiles[i] = "/masters/flat" + std::to_string(i + 1) + ".fit";
  c.Tables.FlatIds[0] = {"1", "2", "3"};
  c.Tables.FlatIds[1] = {"4", "", "6"};
  c.Tables.FlatIds[8] = {"", "", "9"};
  c.DarkFiles = {"dark 1x1.fit", "dark2.fit", "dark4.fit"};
  c.BiasFiles = {"bias1.fit", "", "bias4.fit"};
  c.HotPixelMax = "45000";
  c.BiasConstant = "120";
  c.Optimize = false;
  c.CfgFileName = "winter.cfg";
  c.HotPixelCorrection = true;
  c.HotPixelSigma = 6;
  return c;
}

// The lines of a file written by the current version, for building older or damaged ones.
std::vector<std::string> ConfigLinesOf(const CalibrationConfig& config) {
  std::vector<std::string> lines;
  const std::string text = CalibrationConfigText(config);
  for (size_t start = 0; start < text.size();) {
    const size_t end = text.find("\r\n", start);
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::string Joined(const std::vector<std::string>& lines, size_t count, const char* end = "\r\n") {
  std::string text;
  for (size_t i = 0; i < count && i < lines.size(); ++i) text += lines[i] + end;
  return text;
}

TEST_F(CalibrationTest, TheConfigurationReadsBackAsSaved) {
  const auto file = dir_ / "imgcalib.cfg";
  std::string error;
  ASSERT_TRUE(SaveCalibrationConfig(file, FullConfig(), &error)) << error;
  const std::string text = ReadFile(file);
  EXPECT_EQ(text.rfind("Noctarbel image calibration V2\r\nMaster flat filenames\r\n/masters/flat1.fit\r\n", 0), 0u);
  EXPECT_NE(text.find("\r\nmasterflat number to filter\r\n1,2,3\r\n4,,6\r\n,,\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nOptimize\r\n0\r\ncfg file name\r\nwinter.cfg\r\nMaster dark filename (4bin)\r\n"),
            std::string::npos);
  const std::string tail = "\r\nHotpixel correction\r\n1\r\nHotpixel sigma=\r\n6\r\n";
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
  EXPECT_EQ(ConfigLinesOf(FullConfig()).size(), 43u);

  CalibrationConfig read;
  CalibrationConfigRead result = ReadCalibrationConfig(file, read);
  EXPECT_TRUE(result.Read);
  EXPECT_TRUE(result.Skipped.empty()) << ::testing::PrintToString(result.Skipped);
  EXPECT_EQ(CalibrationConfigText(read), CalibrationConfigText(FullConfig()));  // every value is written

  // LF and CR line ends and a byte-order mark read alike.
  for (const char* end : {"\n", "\r"}) {
    WriteFile(file, "\xEF\xBB\xBF" + Joined(ConfigLinesOf(FullConfig()), 43, end));
    read = {};
    result = ReadCalibrationConfig(file, read);
    EXPECT_TRUE(result.Read) << result.Error;
    EXPECT_TRUE(result.Skipped.empty());
    EXPECT_EQ(CalibrationConfigText(read), CalibrationConfigText(FullConfig()));  // every value is written
  }
}

TEST_F(CalibrationTest, AnOlderFileWithoutTheLaterGroupsKeepsTheCurrentValues) {
  const auto file = dir_ / "old.cfg";
  const std::vector<std::string> lines = ConfigLinesOf(FullConfig());
  CalibrationConfig current;
  current.HotPixelMax = "42000";
  current.Optimize = true;
  current.DarkFiles[2] = "current4.fit";
  current.HotPixelSigma = 5;
  for (size_t count : {27u, 31u, 33u, 35u, 39u}) {  // ends after the bias names, or after a later group
    WriteFile(file, Joined(lines, count));
    CalibrationConfig read = current;
    CalibrationConfigRead result = ReadCalibrationConfig(file, read);
    ASSERT_TRUE(result.Read);
    EXPECT_TRUE(result.Skipped.empty()) << count << ": " << ::testing::PrintToString(result.Skipped);
    EXPECT_EQ(read.Tables.FlatIds[1], (std::array<std::string, 3>{"4", "", "6"}));
    EXPECT_EQ(read.DarkFiles[1], "dark2.fit");
    EXPECT_EQ(read.HotPixelMax, count >= 31 ? "45000" : "42000") << count;
    EXPECT_EQ(read.Optimize, count < 33) << count;
    EXPECT_EQ(read.DarkFiles[2], count >= 39 ? "dark4.fit" : "current4.fit") << count;
    EXPECT_EQ(read.HotPixelSigma, 5);
  }
}

TEST_F(CalibrationTest, ADamagedFileLoadsWhatItCanAndSaysWhatItSkipped) {
  const auto file = dir_ / "bad.cfg";
  std::vector<std::string> lines = ConfigLinesOf(FullConfig());
  CalibrationConfig current;
  current.Tables.FlatFiles[2] = "kept3.fit";
  current.DarkFiles[0] = "kept1.fit";

  // Cut short inside the flat IDs: the lines before are taken, the rest keeps its values.
  WriteFile(file, Joined(lines, 14));
  CalibrationConfig read = current;
  CalibrationConfigRead result = ReadCalibrationConfig(file, read);
  ASSERT_TRUE(result.Read);
  EXPECT_EQ(result.Skipped, (std::vector<std::string>{"the file ends after line 14, before the flat IDs of filter 3"}));
  EXPECT_EQ(read.Tables.FlatIds[1][0], "4");
  EXPECT_EQ(read.Tables.FlatFiles[8], "/masters/flat9.fit");
  EXPECT_EQ(read.DarkFiles[0], "kept1.fit");

  // Binary bytes and an over-long line: those values keep theirs, every other line counts.
  lines[4] = std::string("flat\0\x01\x02\xff", 8);  // flat ID 3's file name
  lines[22] = std::string(5000, 'x');               // the 1x1 dark
  lines[13] = "1,2,3,4";                            // a fourth binning
  WriteFile(file, Joined(lines, lines.size()));
  read = current;
  result = ReadCalibrationConfig(file, read);
  ASSERT_TRUE(result.Read);
  EXPECT_EQ(result.Skipped, (std::vector<std::string>{
                                "line 5 (master flat file name of flat ID 3): not text",
                                "line 14 (flat IDs of filter 2): \"1,2,3,4\" cannot be used",
                                "line 23 (master dark 1x1): longer than 4096 characters",
                            }));
  EXPECT_EQ(read.Tables.FlatFiles[2], "kept3.fit");
  EXPECT_EQ(read.Tables.FlatFiles[3], "/masters/flat4.fit");
  EXPECT_EQ(read.DarkFiles[0], "kept1.fit");
  EXPECT_EQ(read.DarkFiles[1], "dark2.fit");
  EXPECT_EQ(read.HotPixelSigma, 6);

  // Not a calibration configuration at all (a binary file, a plan): nothing is taken.
  const std::string elf("\177ELF\2\1\1\0\0\0", 10);
  for (const std::string& content : {elf, std::string("UT;Object;RA\r\n")}) {
    WriteFile(file, content);
    read = current;
    result = ReadCalibrationConfig(file, read);
    EXPECT_FALSE(result.Read);
    EXPECT_NE(result.Error.find("not a calibration configuration"), std::string::npos);
    EXPECT_EQ(read.Tables.FlatFiles[2], "kept3.fit");
    EXPECT_EQ(read.Tables.FlatFiles[0], "");
  }
  EXPECT_FALSE(ReadCalibrationConfig(dir_ / "none.cfg", read).Read);
}

TEST_F(CalibrationTest, SavingNeverReplacesAGoodFileWithABrokenOne) {
  const auto file = dir_ / "imgcalib.cfg";
  ASSERT_TRUE(SaveCalibrationConfig(file, FullConfig(), nullptr));
  const std::string good = ReadFile(file);

  // A line break in a name would shift every later value by a line.
  CalibrationConfig broken = FullConfig();
  broken.DarkFiles[1] = "dark\r\n2.fit";
  std::string error;
  EXPECT_FALSE(SaveCalibrationConfig(file, broken, &error));
  EXPECT_EQ(error, "the master dark 2x2 holds a line break or another control character, or is too long");
  broken = FullConfig();
  broken.Tables.FlatIds[3][1] = "2,3";
  EXPECT_FALSE(SaveCalibrationConfig(file, broken, &error));
  EXPECT_EQ(error, "the flat ID cell of filter 4 holds a \",\"");
  EXPECT_EQ(ReadFile(file), good);

  // A write that fails half way (the file size limit stands in for a full disk).
  CalibrationConfig bigger = FullConfig();
  bigger.Tables.FlatFiles[0] = std::string(3000, 'f');
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
  auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  const rlimit full{200, limit.rlim_max};  // the disk fills up after 200 bytes
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
  const bool saved = SaveCalibrationConfig(file, bigger, nullptr);
  setrlimit(RLIMIT_FSIZE, &limit);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(saved);
  EXPECT_EQ(ReadFile(file), good);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()), {}), 1) << "no temporary left behind";
}

TEST_F(CalibrationTest, AConfigurationSetsTheValuesAndDefaultsForBadNumbers) {
  CalibrationConfig config = FullConfig();
  config.HotPixelMax = "4e4";
  config.HotPixelSigma = 9;
  calibration_.Options.HotPixelMax = 1;
  const auto messages = ApplyCalibrationConfig(config, calibration_);
  EXPECT_EQ(messages, (std::vector<std::string>{"hot pixel max not correct"}));
  EXPECT_EQ(calibration_.Options.HotPixelMax, 50000);
  EXPECT_EQ(calibration_.Options.BiasConstant, 120);
  EXPECT_EQ(calibration_.Options.HotPixelSigma, 6);
  EXPECT_FALSE(calibration_.Options.Optimize);
  EXPECT_EQ(calibration_.FlatIdFor(2, 4), 6);
  EXPECT_EQ(calibration_.FlatIdFor(2, 2), std::nullopt);
  EXPECT_EQ(calibration_.FlatIdFor(2, 3), std::nullopt);
}

}  // namespace
}  // namespace noctarbel
