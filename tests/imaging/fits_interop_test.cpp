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

#include "imaging/header_cards.h"
#include "imaging/image_buffer.h"
#include "tests/fits_check.h"
#include "tests/imaging/synthetic_frames.h"
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
      for (const auto& [key, value] :
           std::vector<std::pair<std::string, std::string>>{{"DATE-OBS", "2025-11-02T23:59:59.9"},
                                                            {"INSTRUME", "Camera  deg O'Hara"},
                                                            {"FILTER", "Ha"},
                                                            {"OBJCTRA", "02 22 32"},
                                                            {"OBJCTDEC", "+42 20 56"},
                                                            {"PIERSIDE", "0"}}) {
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

// Stored values v with BSCALE s and BZERO z load as round(v x s) (halves to even, kept within the
// stored type), then + z (words kept within 0..65535); floats as round(v + z); what is still
// negative is raised by the minimum (words and longs kept within their range).
struct PeerCase {
  int imageType;  // cfitsio image type
  double bscale;
  double bzero;
  std::vector<double> stored;
  std::vector<long long> loaded;
};

TEST_F(FitsInteropTest, FilesWrittenByCfitsioLoadByTheLoaderRules) {
  const std::vector<PeerCase> cases = {
      {BYTE_IMG, 1, 0, {0, 1, 128, 255, 77, 3}, {0, 1, 128, 255, 77, 3}},
      {SHORT_IMG, 1, 0, {-32768, -100, 0, 5, 32767, 1234}, {0, 32668, 32768, 32773, 65535, 34002}},
      {SHORT_IMG, 1, 0, {0, 10, 20, 30000, 2, 1}, {0, 10, 20, 30000, 2, 1}},
      {USHORT_IMG, 1, 32768, {-32768, -1, 0, 1, 32767, 100}, {0, 32767, 32768, 32769, 65535, 32868}},
      {SHORT_IMG, 2.5, 0, {3, 20000, -4, 0, 1, 13107}, {18, 32777, 0, 10, 12, 32777}},
      {SHORT_IMG, 0.5, 100, {3, 5, -4, 0, 1, 7}, {102, 102, 98, 100, 100, 104}},
      {LONG_IMG,
       1,
       0,
       {-2147483648.0, -70000, 0, 7, 2147483647.0, 1},
       {0, 2147413648, 2147483647, 2147483647, 2147483647, 2147483647}},
      {LONG_IMG, 3, 1000, {1, -2, 700000000, 0, 5, 6}, {1003, 994, 2100001000, 1000, 1015, 1018}},
      {FLOAT_IMG, 1, 0, {0.5, 1.5, -2.5, 1000.25, 3.75, -0.5}, {2, 4, 0, 1002, 6, 2}},
      {FLOAT_IMG, 1, 50.5, {0.5, 1.5, -2.5, 1000.25, 3.75, -0.5}, {51, 52, 48, 1051, 54, 50}},
      {DOUBLE_IMG, 1, 0, {1e6 + 0.5, 2.5, -3.5, 4, 5, 6}, {1000004, 6, 0, 8, 9, 10}},
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
    for (int i = 0; i < 6; ++i) EXPECT_EQ(image.GetPixel(i % 3 + 1, i / 3 + 1), c.loaded[i]) << path << " pixel " << i;
    if (c.imageType == SHORT_IMG || c.imageType == USHORT_IMG) {
      EXPECT_GE(image.Minimum, 0) << path;
    }
  }
}

// cfitsio writes a star field; we read back exactly its pixels.
TEST_F(FitsInteropTest, AStarFieldWrittenByCfitsioLoadsTheSame) {
  Timgbuffer image;
  testing::MakeStarField(image, 640, 480, 40, 3);
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
