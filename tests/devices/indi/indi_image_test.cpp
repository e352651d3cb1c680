// The camera's images as INDI drivers send them: FITS in a BLOB, checked against what
// arrived, never trusted; compressed ones unpacked with cfitsio.

#include <fitsio.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "devices/device_interfaces.h"
#include "devices/indi/indi_image.h"
#include "tests/test_support.h"

namespace noctarbel {
namespace {

std::string Card(const std::string& key, const std::string& value) {
  std::string card = key;
  card.resize(8, ' ');
  card += "= " + std::string(20 - std::min<size_t>(20, value.size()), ' ') + value;
  card.resize(80, ' ');
  return card;
}

// A FITS file as an INDI camera writes it; `values` row by row as stored.
std::vector<std::uint8_t> Fits(int bitpix, int width, int height, const std::vector<int>& values, double bzero,
                               int axes = 2) {
  std::string header = Card("SIMPLE", "T") + Card("BITPIX", std::to_string(bitpix)) +
                       Card("NAXIS", std::to_string(axes)) + Card("NAXIS1", std::to_string(width)) +
                       Card("NAXIS2", std::to_string(height));
  if (axes == 3) header += Card("NAXIS3", "3");
  header += Card("BZERO", std::to_string(static_cast<long>(bzero))) + Card("BSCALE", "1");
  header += std::string("END").append(77, ' ');
  header.resize((header.size() + 2879) / 2880 * 2880, ' ');
  std::vector<std::uint8_t> bytes(header.begin(), header.end());
  for (int v : values) {
    const long stored = static_cast<long>(v - bzero);
    if (bitpix == 16) {
      bytes.push_back(static_cast<std::uint8_t>((stored >> 8) & 0xFF));
      bytes.push_back(static_cast<std::uint8_t>(stored & 0xFF));
    } else {
      bytes.push_back(static_cast<std::uint8_t>(stored));
    }
  }
  bytes.resize((bytes.size() + 2879) / 2880 * 2880, 0);
  return bytes;
}

std::string Refusal(const std::vector<std::uint8_t>& bytes, const std::string& format = ".fits") {
  try {
    DecodeIndiImage(bytes.data(), bytes.size(), format);
  } catch (const DeviceError& e) {
    return e.what();
  }
  return "accepted";
}

TEST(IndiImage, SixteenBitUnsignedKeepsValuesAndRowOrder) {
  // Three columns, two rows: the first stored row is row 0 of ImageArray.
  const std::vector<int> values = {0, 1, 32767, 32768, 65534, 65535};
  const auto bytes = Fits(16, 3, 2, values, 32768);
  const ImageArrayData image = DecodeIndiImage(bytes.data(), bytes.size(), ".fits");
  ASSERT_TRUE(image.Is16Bit());
  ASSERT_EQ(image.Width, 3);
  ASSERT_EQ(image.Height, 2);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) EXPECT_EQ(image.At(x, y), values[static_cast<size_t>(y * 3 + x)]) << x << "," << y;
  }
}

TEST(IndiImage, SignedAndEightBitImagesAreClampedIntoSixteenBits) {
  const auto signedBytes = Fits(16, 2, 1, {-5, 1200}, 0);
  ImageArrayData image = DecodeIndiImage(signedBytes.data(), signedBytes.size(), ".fits");
  EXPECT_EQ(image.At(0, 0), 0);
  EXPECT_EQ(image.At(1, 0), 1200);
  const auto eightBit = Fits(8, 2, 1, {7, 255}, 0);
  image = DecodeIndiImage(eightBit.data(), eightBit.size(), ".fits");
  EXPECT_EQ(image.At(0, 0), 7);
  EXPECT_EQ(image.At(1, 0), 255);
}

TEST(IndiImage, DamagedOrForeignImagesAreRefusedClearly) {
  const auto good = Fits(16, 100, 50, std::vector<int>(5000, 100), 32768);

  auto cut = good;
  cut.resize(2880 + 4000);
  EXPECT_NE(Refusal(cut).find("stop after 4000 of 10000 bytes"), std::string::npos) << Refusal(cut);

  auto noEnd = good;
  std::memset(noEnd.data() + 7 * 80, ' ', 80);  // the END card
  std::memset(noEnd.data() + 2880, ' ', noEnd.size() - 2880);
  EXPECT_NE(Refusal(noEnd).find("no END"), std::string::npos) << Refusal(noEnd);

  EXPECT_NE(Refusal(Fits(-32, 2, 2, {}, 0)).find("BITPIX -32"), std::string::npos);
  EXPECT_NE(Refusal(Fits(16, 2, 2, std::vector<int>(12, 0), 32768, 3)).find("one plane"), std::string::npos);
  // A header claiming a huge image is not believed.
  EXPECT_NE(Refusal(Fits(16, 200000, 200000, {}, 32768)).find("image size"), std::string::npos);
  const std::vector<std::uint8_t> text(4000, 'x');
  EXPECT_NE(Refusal(text).find("not a FITS file"), std::string::npos);
  EXPECT_NE(Refusal(good, ".xisf").find("transfer format"), std::string::npos);
}

TEST(IndiImage, CompressedImagesAreUnpacked) {
  ASSERT_TRUE(IndiCompressedImagesSupported());
  testing::TempDir dir;
  const std::string path = (dir / "image.fits.fz").string();
  std::vector<unsigned short> pixels(64 * 48);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<unsigned short>((i * 977) % 65536);
  int status = 0;
  fitsfile* file = nullptr;
  long axes[2] = {64, 48};
  fits_create_file(&file, ("!" + path + "[compress R]").c_str(), &status);
  fits_create_img(file, USHORT_IMG, 2, axes, &status);
  fits_write_img(file, TUSHORT, 1, static_cast<LONGLONG>(pixels.size()), pixels.data(), &status);
  fits_close_file(file, &status);
  ASSERT_EQ(status, 0);
  const std::string bytes = testing::ReadFile(path);
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());

  const ImageArrayData image = DecodeIndiImage(data, bytes.size(), ".fits.fz");
  ASSERT_EQ(image.Width, 64);
  ASSERT_EQ(image.Height, 48);
  for (size_t i = 0; i < pixels.size(); ++i) ASSERT_EQ(image.Pixels16[i], pixels[i]) << i;
  EXPECT_NE(Refusal(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 3000), ".fits.fz").find("compressed"),
            std::string::npos);
}

}  // namespace
}  // namespace noctarbel
