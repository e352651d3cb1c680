#include "imaging/display.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "imaging/jpeg_codec.h"
#include "imaging/picture_text.h"
#include "tests/imaging/synthetic_frames.h"

namespace noctarbel {
namespace {

Timgbuffer Row16(const std::vector<int>& values) {
  Timgbuffer image;
  image.SetSize(static_cast<int>(values.size()), 1, PixelType::Bits16);
  for (size_t i = 0; i < values.size(); ++i) image.SetPixel(static_cast<int>(i) + 1, 1, values[i]);
  image.ComputeMinMax();
  return image;
}

TEST(Histogram, ScalesBinsToTheReferenceWhite) {
  Timgbuffer image = Row16({0, 100, 255, 1000, 1001, 65535});
  Histogram h = ComputeHistogram(image, 1020);  // s = 0.25
  EXPECT_DOUBLE_EQ(h.Scale, 0.25);
  EXPECT_EQ(h.Counts[0], 1);
  EXPECT_EQ(h.Counts[25], 1);   // 100
  EXPECT_EQ(h.Counts[63], 1);   // 255
  EXPECT_EQ(h.Counts[250], 2);  // 1000 and 1001
  EXPECT_EQ(h.Counts[255], 1);  // beyond the white: last bin
  Histogram small = ComputeHistogram(Row16({0, 7, 200}), 200);
  EXPECT_EQ(small.Scale, 1.0);
  EXPECT_EQ(small.Counts[7], 1);
  EXPECT_EQ(small.Counts[200], 1);
  EXPECT_EQ(ComputeHistogram(image, 0).Scale, 255.0 / 65535);  // the stored maximum
}

TEST(Levels, PreviewRuleFromTheCumulativeHistogram) {
  // 90 pixels at 1000, 9 at 2000, 1 at 10200 (s = 0.025): peak bin 25, more than 98 % reached in
  // bin 50, first bin after the peak with under 1 % of its count: 26. The rule may well put the
  // white level below the black level; rendering copes with that.
  std::vector<int> values(90, 1000);
  values.insert(values.end(), 9, 2000);
  values.push_back(10200);
  Timgbuffer image = Row16(values);
  DisplayLevels levels = PreviewFileLevels(image);
  EXPECT_EQ(levels.Low, 2000);
  EXPECT_EQ(levels.High, 1040);
}

TEST(Levels, ViewerAutoWidensAFlatImageAndHonoursPlanet) {
  Timgbuffer flat = Row16(std::vector<int>(50, 3000));
  ViewerLevels levels = ViewerAutomaticLevels(flat, 0.99, false);
  EXPECT_EQ(levels.Low, levels.High);  // 2 % of (w - lo) is 0 here
  EXPECT_NEAR(levels.Low, 3000, 12);
  // 99 pixels at 1000 (bin 12 with s = 0.01275) and one at 20000.
  std::vector<int> values(100, 1000);
  values[0] = 20000;
  Timgbuffer sky = Row16(values);
  levels = ViewerAutomaticLevels(sky, 0.98, false);
  EXPECT_EQ(levels.Low, 941);    // round(12 / s)
  EXPECT_EQ(levels.High, 1322);  // black and white bin equal: widened by round(0.02 * (20000 - 941))
  EXPECT_EQ(levels.LowerBar, 47);
  EXPECT_EQ(levels.UpperBar, 66);
  EXPECT_EQ(ViewerAutomaticLevels(sky, 0.98, true).High, 20000);
  // No widening needed; the maximum lands in bin 254 (20000 * (255 / 20000) is a hair below 255).
  EXPECT_EQ(ViewerAutomaticLevels(sky, 0.99, false).High, 19922);
  Timgbuffer black = Row16({0, 0, 0});
  levels = ViewerAutomaticLevels(black, 0.99, false);
  EXPECT_EQ(levels.Low, 0);
  EXPECT_EQ(levels.High, 100);
  EXPECT_EQ(levels.UpperBar, 0);
}

// Frames of every pixel type: sky with stars and hot pixels, signed words with negative
// values, bytes, longs, floats, a black frame, a dim one (maximum below 256), one pixel. Their
// levels are those a pass per pixel gave (a histogram against the maximum, bin = floor(p x 255 /
// max), then the rules); the one count of the words must give the same.
TEST(Levels, OneCountOfTheWordsGivesTheLevelsOfAPassPerPixel) {
  testing::FrameRandom random(17);
  std::vector<Timgbuffer> frames;
  auto add = [&](PixelType type, bool isUnsigned, int width, int height, int level, int spread) {
    Timgbuffer& image = frames.emplace_back();
    image.SetSize(width, height, type);
    image.Unsigned = isUnsigned;
    for (int y = 1; y <= height; ++y) {
      for (int x = 1; x <= width; ++x) {
        const int v = level + static_cast<int>(random.Below(static_cast<std::uint32_t>(spread))) - spread / 4;
        if (type == PixelType::Float32) {
          image.PixelsAs<float>()[(y - 1) * width + x - 1] = static_cast<float>(v) + 0.25f;
        } else {
          image.SetPixel(x, y, v);
        }
      }
    }
  };
  add(PixelType::Bits16, true, 97, 31, 1200, 100);
  testing::AddGaussianStar(frames.back(), 40, 12, 2, 30000);
  frames.back().SetPixel(5, 5, 65535);
  add(PixelType::Bits16, false, 64, 20, -200, 3000);
  add(PixelType::Bits8, true, 50, 10, 60, 120);
  add(PixelType::Bits32, true, 40, 10, 100000, 90000);
  add(PixelType::Float32, true, 30, 10, 500, 400);
  add(PixelType::Bits16, true, 20, 5, 0, 1);
  add(PixelType::Bits16, true, 33, 7, 100, 80);
  add(PixelType::Bits16, true, 1, 1, 4000, 1);
  struct Expected {
    int maximum;
    std::array<int, 4> viewer;  // 0.99, no planet: low, high, lower and upper bar
    std::array<int, 4> planet;  // 0.98, planet
    std::array<int, 2> preview;
  };
  const Expected expected[] = {
      {65535, {1028, 9766, 16, 149}, {1028, 65535, 16, 1000}, {4369, 1542}},
      {2047, {0, 2031, 0, 992}, {0, 2047, 0, 1000}, {2007, 8}},
      {149, {60, 149, 403, 1000}, {60, 149, 403, 1000}, {148, 150}},
      {167079, {81901, 166424, 490, 996}, {81901, 167079, 490, 1000}, {165769, 114662}},
      {799, {404, 796, 506, 996}, {404, 799, 506, 1000}, {793, 649}},
      {0, {0, 100, 0, 0}, {0, 100, 0, 0}, {0, 1}},
      {159, {81, 157, 509, 987}, {81, 159, 509, 1000}, {156, 124}},
      {4000, {4000, 4000, 1000, 1000}, {4000, 4000, 1000, 1000}, {4000, 0}},
  };
  for (size_t i = 0; i < frames.size(); ++i) {
    SCOPED_TRACE("frame " + std::to_string(i));
    const ViewerLevels viewer = ViewerAutomaticLevels(frames[i], 0.99, false);
    EXPECT_EQ((std::array{viewer.Low, viewer.High, viewer.LowerBar, viewer.UpperBar}), expected[i].viewer);
    EXPECT_EQ(frames[i].Maximum, expected[i].maximum);
    const ViewerLevels planet = ViewerAutomaticLevels(frames[i], 0.98, true);
    EXPECT_EQ((std::array{planet.Low, planet.High, planet.LowerBar, planet.UpperBar}), expected[i].planet);
    const DisplayLevels preview = PreviewFileLevels(frames[i]);
    EXPECT_EQ((std::array{preview.Low, preview.High}), expected[i].preview);
  }
}

TEST(Levels, ManualAndAdjustedViewerLevels) {
  DisplayLevels manual = ViewerManualLevels(100, 900, 40000);
  EXPECT_EQ(std::pair(manual.Low, manual.High), std::pair(4000, 36000));
  DisplayLevels adjusted = AdjustViewerLevels({-10, -50}, 30000, true);
  EXPECT_EQ(std::pair(adjusted.Low, adjusted.High), std::pair(3000, 15000));
  EXPECT_EQ(AdjustViewerLevels({500, 200}, 30000, false).High, 501);
}

TEST(Rendering, IndexBetweenLevelsWithGamma) {
  EXPECT_EQ(RenderIndex(600, 100, 1100, 1.0, 255), 128);  // 127.5 rounds to even
  EXPECT_EQ(RenderIndex(5000, 100, 1100, 1.0, 255), 255);
  EXPECT_EQ(RenderIndex(100, 100, 1100, 1.0, 255), 0);
  EXPECT_EQ(RenderIndex(1100, 100, 1100, 1.0, 127), 127);
  EXPECT_EQ(RenderIndex(2600, 100, 10100, 0.5, 255), 128);  // 50 * 255 / 100 = 127.5
  EXPECT_EQ(RenderIndex(200, 100, 100, 1.0, 255), 255);     // white at black: black + 1
  EXPECT_EQ(HighestIndex(128), 127);
  EXPECT_EQ(GreyPalette(128)[127], 254);
  EXPECT_EQ(GreyPalette(256)[200], 200);
}

TEST(Rendering, BitmapEqualsThePerPixelRuleForEveryType) {
  testing::FrameRandom random(5);
  const PixelType types[] = {PixelType::Bits16, PixelType::Bits16, PixelType::Bits8, PixelType::Bits32};
  for (int t = 0; t < 4; ++t) {
    Timgbuffer image;
    image.SetSize(37, 9, types[t]);
    image.Unsigned = t != 1;
    for (int y = 1; y <= 9; ++y) {
      for (int x = 1; x <= 37; ++x) {
        int v = static_cast<int>(random.Below(types[t] == PixelType::Bits8 ? 256 : 5000));
        if (t == 1) v -= 2000;
        image.SetPixel(x, y, v);
      }
    }
    for (double g : {1.0, 0.5, 1.0 / 3}) {
      for (int palette : {256, 128}) {
        Bitmap8 bitmap;
        RenderBitmap(image, 40, 3000, g, palette, bitmap);
        ASSERT_EQ(bitmap.Stride, 40);
        for (int y = 1; y <= 9; ++y) {
          for (int x = 1; x <= 37; ++x) {
            ASSERT_EQ(bitmap.Pixels[(y - 1) * 40 + x - 1],
                      RenderIndex(image.GetPixel(x, y), 40, 3000, g, HighestIndex(palette)))
                << t << " " << x << "," << y;
          }
          EXPECT_EQ(bitmap.Pixels[(y - 1) * 40 + 39], 0);  // row padding
        }
      }
    }
  }
}

TEST(Rendering, AMaximumWithinOneOfTheBlackLevelIsAllBlack) {
  Timgbuffer image = Row16({10, 11, 11});
  Bitmap8 bitmap;
  RenderBitmap(image, 10, 12, 1.0, 256, bitmap);
  EXPECT_EQ(bitmap.Pixels[1], 0);
  RenderBitmap(image, 9, 12, 1.0, 256, bitmap);
  EXPECT_EQ(bitmap.Pixels[1], 170);
  // Wide rows (the vector path), signed and unsigned.
  for (bool isUnsigned : {true, false}) {
    Timgbuffer wide;
    wide.SetSize(100, 3, PixelType::Bits16);
    wide.Unsigned = isUnsigned;
    for (int x = 1; x <= 100; ++x) wide.SetPixel(x, 2, x % 2 == 0 ? 11 : 10);
    RenderBitmap(wide, 10, 12, 1.0, 256, bitmap);
    EXPECT_EQ(std::count(bitmap.Pixels.begin(), bitmap.Pixels.end(), 0), 300);
    wide.SetPixel(97, 3, 12);  // in the tail of the row
    RenderBitmap(wide, 10, 12, 1.0, 256, bitmap);
    EXPECT_EQ(bitmap.Pixels[100 + 1], 128);
    wide.SetPixel(97, 3, 10);
    wide.SetPixel(5, 1, 12);  // in the first block
    RenderBitmap(wide, 10, 12, 1.0, 256, bitmap);
    EXPECT_EQ(bitmap.Pixels[4], 255);
  }
}

TEST(Preview, FitsTheBoxAndCentresTheCrosshair) {
  PreviewRect wide = FitPreview(kPreviewWidth, kPreviewHeight, 3000, 1000);
  EXPECT_EQ(std::tie(wide.Width, wide.Height, wide.Top), std::tuple(241, 80, 36));  // height round(241 / 3)
  PreviewRect tall = FitPreview(kPreviewWidth, kPreviewHeight, 1000, 1000);
  EXPECT_EQ(std::tie(tall.Width, tall.Height, tall.Left), std::tuple(153, 153, 44));
  Crosshair cross = PreviewCrosshair(tall);
  EXPECT_EQ(std::tie(cross.CenterX, cross.CenterY, cross.HalfLength), std::tuple(44 + 76, 76, 25));
}

TEST(Jpeg, GreyPicturesRoundTripAndGarbageIsRefused) {
  Picture grey{64, 48, 1, {}};
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 64; ++x) grey.Pixels.push_back(static_cast<std::uint8_t>(x * 4));
  }
  std::vector<std::uint8_t> jpeg;
  ASSERT_TRUE(EncodeJpeg(grey, 95, jpeg));
  Picture back;
  ASSERT_TRUE(DecodeJpeg(jpeg.data(), jpeg.size(), back));
  EXPECT_EQ(back.Width, 64);
  EXPECT_EQ(back.Channels, 1);
  for (size_t i = 0; i < back.Pixels.size(); ++i) ASSERT_NEAR(back.Pixels[i], grey.Pixels[i], 6);
  Picture colour{8, 8, 3, std::vector<std::uint8_t>(8 * 8 * 3, 200)};
  ASSERT_TRUE(EncodeJpeg(colour, 90, jpeg));
  ASSERT_TRUE(DecodeJpeg(jpeg.data(), jpeg.size(), back));
  EXPECT_EQ(back.Channels, 3);
  std::string error;
  std::vector<std::uint8_t> garbage(100, 0x42);
  EXPECT_FALSE(DecodeJpeg(garbage.data(), garbage.size(), back, &error));
  EXPECT_FALSE(error.empty());
  jpeg.resize(jpeg.size() / 2);
  DecodeJpeg(jpeg.data(), jpeg.size(), back, &error);  // a cut picture must not crash
}

// The web-monitor reduction: each output pixel the rounded mean of the source pixels of its
// block (source column x in output column x * width / W; output row oy from source row
// oy * H / height up to (oy + 1) * H / height); the padding of the source rows is never read,
// that of the output rows is black.
TEST(Reduction, EveryPixelIsTheRoundedMeanOfTheBlockItCovers) {
  for (const auto [sourceWidth, sourceHeight, width] : {std::array{997, 211, 307}, std::array{640, 480, 1}}) {
    Bitmap8 picture{sourceWidth, sourceHeight, (sourceWidth + 3) / 4 * 4, {}};
    picture.Pixels.assign(static_cast<size_t>(picture.Stride) * sourceHeight, 255);
    testing::FrameRandom random(7);
    for (int y = 0; y < sourceHeight; ++y) {
      for (int x = 0; x < sourceWidth; ++x) {
        picture.Pixels[static_cast<size_t>(y) * picture.Stride + x] = static_cast<std::uint8_t>(random.Below(256));
      }
    }
    const Bitmap8 out = ReduceToWidth(picture, width);
    ASSERT_EQ(out.Width, width);
    ASSERT_EQ(out.Height, std::max(1, sourceHeight * width / sourceWidth));
    ASSERT_EQ(out.Stride, (width + 3) / 4 * 4);
    for (int oy = 0; oy < out.Height; ++oy) {
      for (int ox = 0; ox < out.Stride; ++ox) {
        std::uint32_t sum = 0;
        std::uint32_t n = 0;
        const int firstRow = oy * sourceHeight / out.Height;
        const int endRow = (oy + 1) * sourceHeight / out.Height;
        for (int y = firstRow; y < endRow; ++y) {
          for (int x = 0; x < sourceWidth; ++x) {
            if (static_cast<std::int64_t>(x) * width / sourceWidth != ox) continue;
            sum += picture.Pixels[static_cast<size_t>(y) * picture.Stride + x];
            ++n;
          }
        }
        const int expected = ox < width ? static_cast<int>((sum + n / 2) / n) : 0;
        ASSERT_EQ(out.Pixels[static_cast<size_t>(oy) * out.Stride + ox], expected) << ox << ", " << oy;
      }
    }
  }
  Bitmap8 narrow{3, 2, 4, {1, 2, 3, 0, 4, 5, 6, 0}};
  EXPECT_EQ(ReduceToWidth(narrow, 3).Pixels, narrow.Pixels);
}

}  // namespace
}  // namespace noctarbel
