// Our FITS files against the reference peers: fitsverify must find no error in any file we
// write and cfitsio must read the same pixels and card values; files cfitsio writes must load
// with the values the loader's rules give.

#include <fitsio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/number_text.h"
#include "imaging/header_cards.h"
#include "imaging/image_buffer.h"
#include "tests/imaging/synthetic_frames.h"
#include "tests/fits_check.h"
#include "tests/test_support.h"

namespace noctarbel {
namespace {

struct FitsCloser {
  void operator()(fitsfile* f) const {
    int status = 0;
    fits_close_file(f, &status);
  }
};
using FitsPtr = std::unique_ptr<fitsfile, FitsCloser>;

FitsPtr Open(const std::string& path) {
  fitsfile* f = nullptr;
  int status = 0;
  fits_open_file(&f, path.c_str(), READONLY, &status);
  EXPECT_EQ(status, 0) << path;
  return FitsPtr(f);
}

std::vector<long long> ReadPixels(fitsfile* f, long long count) {
  std::vector<long long> values(static_cast<size_t>(count));
  int status = 0, anynul = 0;
  fits_read_img(f, TLONGLONG, 1, count, nullptr, values.data(), &anynul, &status);
  EXPECT_EQ(status, 0);
  return values;
}

class FitsInteropTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) { return (dir_ / name).string(); }
  testing::TempDir dir_;
};

void FillPattern(Timgbuffer& image, int width, int height, PixelType type) {
  image.SetSize(width, height, type);
  const int range = type == PixelType::Bits8 ? 256 : type == PixelType::Bits16 ? 65536 : 3000000;
  for (int y = 1; y <= height; ++y) {
    for (int x = 1; x <= width; ++x) image.SetPixel(x, y, static_cast<int>((x * 7919LL + y * 104729LL) % range));
  }
}

TEST_F(FitsInteropTest, EverySavedFilePassesFitsverifyAndCfitsioReadsTheSame) {
  const PixelType types[] = {PixelType::Bits8, PixelType::Bits16, PixelType::Bits32};
  const std::pair<int, int> sizes[] = {{384, 256}, {101, 37}, {1, 1}, {72, 40}};  // full and sub-frames
  for (PixelType type : types) {
    for (const auto& [width, height] : sizes) {
      Timgbuffer image;
      FillPattern(image, width, height, type);
      CaptureCardValues camera;
      camera.ObservationDate = "2025-11-02T23:59:59.9";
      camera.Exposure = 0.125;
      camera.Description = "Camera \xC2\xB0 O'Hara";
      camera.FilterName = "Ha";
      camera.BinX = camera.BinY = 1;
      camera.PixelSizeX = camera.PixelSizeY = 3.76;
      camera.Gain = 100;
      camera.CcdTemperature = -15.26;
      CaptureCardSettings site;
      site.ArcsecX = 0.9;
      site.Observername = "Observer with a long name " + std::string(60, 'x');
      site.Glaenge = -8.24889;
      site.Gbreite = 49.91806;
      WriteCaptureCards(image, camera, site);
      PlanCardValues plan{"NGC 891", 2.3755, 42.349, 1.07, 0, 4200, CalibrationHistory{"dark.fit", "flat.fit", true}};
      WritePlanCards(image, plan);
      const std::string path =
          Path("s" + std::to_string(static_cast<int>(type)) + "_" + std::to_string(width) + ".fit");
      ASSERT_TRUE(image.SaveFits(path)) << image.LastError();

      EXPECT_EQ(testing::FitsVerifyProblems(path), "");
      const testing::CfitsioImage read = testing::ReadWithCfitsio(path);
      EXPECT_EQ(read.Bitpix, BitpixOf(type));
      ASSERT_EQ(read.Width, width);
      ASSERT_EQ(read.Height, height);
      for (int y = 1; y <= height; ++y) {
        for (int x = 1; x <= width; ++x) {
          ASSERT_EQ(read.Pixels[static_cast<size_t>(y - 1) * width + x - 1], image.GetPixel(x, y)) << x << "," << y;
        }
      }
      for (const auto& [key, value] : std::vector<std::pair<std::string, std::string>>{
               {"DATE-OBS", "2025-11-02T23:59:59.9"}, {"INSTRUME", "Camera  deg O'Hara"}, {"FILTER", "Ha"},
               {"OBJCTRA", "02 22 32"}, {"OBJCTDEC", "+42 20 56"}, {"PIERSIDE", "0"}}) {
        EXPECT_EQ(testing::CfitsioValue(path, key), value) << key;
      }
      for (const auto& [key, value] : std::vector<std::pair<std::string, double>>{
               {"EXPTIME", 0.125}, {"SITE-LON", 8.24889}, {"CCD-TEMP", -15.3}, {"GAIN", 100}, {"FOCUSPOS", 4200}}) {
        EXPECT_EQ(std::stod(testing::CfitsioValue(path, key) + " "), value) << key;
      }
      EXPECT_EQ(testing::CfitsioValue(path, "OBSERVER").size(), 68u);
    }
  }
}

// What the loader's rules make of stored values v with BSCALE s and BZERO z, written down
// step by step.
std::vector<long long> LoaderValues(std::vector<double> stored, int bitpix, double bscale, double bzero) {
  std::vector<long long> v;
  for (double s : stored) v.push_back(static_cast<long long>(s));
  auto clampAll = [&](long long low, long long high) {
    for (auto& x : v) x = std::clamp(x, low, high);
  };
  if (bitpix < 0) {
    v.clear();
    for (double s : stored) v.push_back(RoundHalfEven(s + bzero));
    bzero = 0;
  } else if (bitpix == 16 || bitpix == 32) {
    if (bscale != 1) {
      for (auto& x : v) x = RoundHalfEven(static_cast<double>(x) * static_cast<float>(bscale));
      bitpix == 16 ? clampAll(-32768, 32767) : clampAll(INT32_MIN, INT32_MAX);
    }
    if (bzero != 0) {
      for (auto& x : v) x += RoundHalfEven(bzero);
      if (bitpix == 16) clampAll(0, 65535);
      bzero = 0;
    }
  }
  long long low = *std::min_element(v.begin(), v.end());
  if (bitpix != 8 && bzero == 0 && low < 0) {
    for (auto& x : v) x -= low;
    bitpix == 16 ? clampAll(0, 65535) : clampAll(INT32_MIN, INT32_MAX);
  }
  return v;
}

struct PeerCase {
  int imageType;  // cfitsio image type
  int bitpix;     // as stored
  double bscale;
  double bzero;
  std::vector<double> stored;
};

TEST_F(FitsInteropTest, FilesWrittenByCfitsioLoadByTheLoaderRules) {
  const std::vector<PeerCase> cases = {
      {BYTE_IMG, 8, 1, 0, {0, 1, 128, 255, 77, 3}},
      {SHORT_IMG, 16, 1, 0, {-32768, -100, 0, 5, 32767, 1234}},
      {SHORT_IMG, 16, 1, 0, {0, 10, 20, 30000, 2, 1}},
      {USHORT_IMG, 16, 1, 32768, {-32768, -1, 0, 1, 32767, 100}},
      {SHORT_IMG, 16, 2.5, 0, {3, 20000, -4, 0, 1, 13107}},
      {SHORT_IMG, 16, 0.5, 100, {3, 5, -4, 0, 1, 7}},
      {LONG_IMG, 32, 1, 0, {-2147483648.0, -70000, 0, 7, 2147483647.0, 1}},
      {LONG_IMG, 32, 3, 1000, {1, -2, 700000000, 0, 5, 6}},
      {FLOAT_IMG, -32, 1, 0, {0.5, 1.5, -2.5, 1000.25, 3.75, -0.5}},
      {FLOAT_IMG, -32, 1, 50.5, {0.5, 1.5, -2.5, 1000.25, 3.75, -0.5}},
      {DOUBLE_IMG, -64, 1, 0, {1e6 + 0.5, 2.5, -3.5, 4, 5, 6}},
  };
  int index = 0;
  for (const PeerCase& c : cases) {
    const std::string path = Path("peer" + std::to_string(index++) + ".fit");
    fitsfile* raw = nullptr;
    int status = 0;
    fits_create_file(&raw, path.c_str(), &status);
    ASSERT_EQ(status, 0);
    FitsPtr f(raw);
    long axes[2] = {3, 2};
    fits_create_img(f.get(), c.imageType, 2, axes, &status);
    if (c.imageType != USHORT_IMG) {
      if (c.bscale != 1) fits_update_key(f.get(), TDOUBLE, "BSCALE", const_cast<double*>(&c.bscale), nullptr, &status);
      if (c.bzero != 0) fits_update_key(f.get(), TDOUBLE, "BZERO", const_cast<double*>(&c.bzero), nullptr, &status);
      fits_set_bscale(f.get(), 1.0, 0.0, &status);  // write the stored values as they are
    }
    std::vector<double> physical = c.stored;
    if (c.imageType == USHORT_IMG) {
      for (double& v : physical) v += 32768;
    }
    fits_write_img(f.get(), TDOUBLE, 1, static_cast<long long>(physical.size()), physical.data(), &status);
    ASSERT_EQ(status, 0) << path;
    f.reset();

    Timgbuffer image;
    ASSERT_TRUE(image.LoadFits(path)) << path << ": " << image.LastError();
    std::vector<double> stored = c.stored;
    if (c.bitpix == -32) {
      for (double& v : stored) v = static_cast<float>(v);
    }
    const double bzero = c.imageType == USHORT_IMG ? 32768 : c.bzero;
    std::vector<long long> expected = LoaderValues(stored, c.bitpix, c.bscale, bzero);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(image.GetPixel(i % 3 + 1, i / 3 + 1), expected[i]) << path << " pixel " << i;
    if (c.bitpix == 16) {
      EXPECT_GE(image.Minimum, 0) << path;
    }
  }
}

TEST_F(FitsInteropTest, AStarFieldRoundTripsThroughCfitsio) {
  Timgbuffer image;
  testing::MakeStarField(image, 640, 480, 40, 3);
  ASSERT_TRUE(image.SaveFits(Path("field.fit")));
  FitsPtr f = Open(Path("field.fit"));
  std::vector<long long> pixels = ReadPixels(f.get(), 640LL * 480);
  for (int i = 0; i < 640 * 480; i += 97) ASSERT_EQ(pixels[i], image.GetPixel(i % 640 + 1, i / 640 + 1));
  // cfitsio writes the same picture; we read back exactly the same pixels.
  fitsfile* raw = nullptr;
  int status = 0;
  fits_create_file(&raw, Path("cfitsio.fit").c_str(), &status);
  FitsPtr out(raw);
  long axes[2] = {640, 480};
  fits_create_img(out.get(), USHORT_IMG, 2, axes, &status);
  fits_write_img(out.get(), TUSHORT, 1, 640LL * 480, const_cast<std::uint16_t*>(image.PixelsAs<std::uint16_t>()),
                 &status);
  out.reset();
  ASSERT_EQ(status, 0);
  Timgbuffer loaded;
  ASSERT_TRUE(loaded.LoadFits(Path("cfitsio.fit")));
  EXPECT_EQ(std::memcmp(loaded.RawData(), image.RawData(), 640 * 480 * 2), 0);
}

}  // namespace
}  // namespace noctarbel
