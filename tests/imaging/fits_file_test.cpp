#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/image_buffer.h"
#include "tests/imaging/fits_test_files.h"
#include "tests/test_support.h"

namespace noctarbel {
namespace {

using testing::BasicCards;
using testing::BigEndian;
using testing::FitsCard;
using testing::FitsHeaderBytes;

class FitsFileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    auto path = dir_ / name;
    testing::WriteFile(path, bytes);
    return path.string();
  }
  std::string Path(const std::string& name) { return (dir_ / name).string(); }

  testing::TempDir dir_;
};

TEST_F(FitsFileTest, EndInCard36KeepsTheHeaderInOneBlock) {
  std::vector<std::string> cards = BasicCards(16, 2, 1);
  while (cards.size() < 35) cards.push_back(FitsCard("COMMENT"));
  std::string file = FitsHeaderBytes(cards) + BigEndian<std::int16_t>({7, -3});  // unpadded data
  ASSERT_EQ(file.size(), 2884u);
  Timgbuffer image;
  ASSERT_TRUE(image.LoadFits(Write("a.fit", file))) << image.LastError();
  EXPECT_EQ(image.CardCount(), 36);
  EXPECT_EQ(image.DataOffset(), 2880);
  EXPECT_EQ(image.GetPixel(1, 1), 10);  // raised by 3: the minimum was -3
  EXPECT_EQ(image.Bzero, 3);
}

// Unsigned words (BZERO 32768) load as they are; negative words and longs are raised by the
// minimum, which is kept as the offset; non-negative signed words stay, without the unsigned
// mark; floats and doubles become rounded longs (halves to even) with BZERO added; scaled words
// are round(v x BSCALE) within 16 bits, then raised.
TEST_F(FitsFileTest, PixelsLoadByTheLoaderRules) {
  struct Case {
    int bitpix;
    std::vector<std::string> extra;
    std::string data;
    std::vector<int> pixels;
    int bzero;
    bool isUnsigned;
  };
  const Case cases[] = {
      {16, {FitsCard("BZERO", "32768")}, BigEndian<std::int16_t>({-32768, 0, 32767}), {0, 32768, 65535}, 0, true},
      {16, {}, BigEndian<std::int16_t>({-100, 0, 500}), {0, 100, 600}, 100, true},
      {16, {}, BigEndian<std::int16_t>({1, 2, 30000}), {1, 2, 30000}, 0, false},
      {32, {}, BigEndian<std::int32_t>({-70000, 5}), {0, 70005}, 70000, false},
      {-32, {FitsCard("BZERO", "10")}, BigEndian<float>({1.5f, 2.5f, -0.4f, 100.7f}), {12, 12, 10, 111}, 0, false},
      {-64, {}, BigEndian<double>({41.5, -2.25}), {44, 0}, 2, false},
      {16, {FitsCard("BSCALE", "2.5")}, BigEndian<std::int16_t>({3, 20000, -4}), {18, 32777, 0}, 10, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("BITPIX " + std::to_string(c.bitpix) + (c.extra.empty() ? "" : " " + c.extra[0].substr(0, 8)));
    std::vector<std::string> cards = BasicCards(c.bitpix, static_cast<int>(c.pixels.size()), 1);
    cards.insert(cards.end(), c.extra.begin(), c.extra.end());
    Timgbuffer image;
    ASSERT_TRUE(image.LoadFits(Write("l.fit", FitsHeaderBytes(cards) + c.data))) << image.LastError();
    std::vector<int> pixels;
    for (int x = 1; x <= image.Width(); ++x) pixels.push_back(image.GetPixel(x, 1));
    EXPECT_EQ(pixels, c.pixels);
    EXPECT_EQ(image.Type(), c.bitpix == 16 ? PixelType::Bits16 : PixelType::Bits32);
    EXPECT_EQ(image.Bzero, c.bzero);
    EXPECT_EQ(image.Unsigned, c.isUnsigned);
    EXPECT_EQ(image.Minimum, *std::min_element(pixels.begin(), pixels.end()));
    EXPECT_EQ(image.Maximum, *std::max_element(pixels.begin(), pixels.end()));
  }
}

// Saved again: unsigned words with BZERO 32768 and the same data bytes, raised longs without an
// offset (not raised a second time), scaled words with BSCALE 1.
TEST_F(FitsFileTest, LoadedPixelsSaveAsTheyLoaded) {
  Timgbuffer image;
  std::vector<std::string> cards = BasicCards(16, 3, 1);
  cards.push_back(FitsCard("BZERO", "32768"));
  const std::string words = BigEndian<std::int16_t>({-32768, 0, 32767});
  ASSERT_TRUE(image.LoadFits(Write("u.fit", FitsHeaderBytes(cards) + words)));
  ASSERT_TRUE(image.SaveFits(Path("u2.fit")));
  std::string saved = testing::ReadFile(Path("u2.fit"));
  EXPECT_EQ(saved.substr(2880, 6), words);
  EXPECT_NE(saved.find("BZERO   =                32768"), std::string::npos);
  EXPECT_NE(saved.find("BITPIX  =                   16"), std::string::npos);

  ASSERT_TRUE(
      image.LoadFits(Write("l.fit", FitsHeaderBytes(BasicCards(32, 2, 1)) + BigEndian<std::int32_t>({-70000, 5}))));
  ASSERT_TRUE(image.SaveFits(Path("l2.fit")));
  Timgbuffer again;
  ASSERT_TRUE(again.LoadFits(Path("l2.fit")));
  EXPECT_EQ(again.GetPixel(2, 1), 70005);

  cards = BasicCards(16, 3, 1);
  cards.push_back(FitsCard("BSCALE", "2.5"));
  ASSERT_TRUE(image.LoadFits(Write("s.fit", FitsHeaderBytes(cards) + BigEndian<std::int16_t>({3, 20000, -4}))));
  ASSERT_TRUE(image.SaveFits(Path("s2.fit")));
  EXPECT_NE(testing::ReadFile(Path("s2.fit")).find("BSCALE  =                    1 "), std::string::npos);
}

TEST_F(FitsFileTest, ColourAndHeaderOnlyFilesLoadWithoutPixels) {
  std::vector<std::string> cards = {FitsCard("SIMPLE", "T"),         FitsCard("BITPIX", "8"), FitsCard("NAXIS", "3"),
                                    FitsCard("NAXIS1", "4"),         FitsCard("NAXIS2", "2"), FitsCard("NAXIS3", "3"),
                                    FitsCard("CSPACE", "'RGB     '")};
  Timgbuffer image;
  ASSERT_TRUE(image.LoadFits(Write("c.fit", FitsHeaderBytes(cards) + std::string(24, 'x'))));
  EXPECT_EQ(image.Planes, 3);
  EXPECT_EQ(image.Width(), 0);
  EXPECT_FALSE(image.HasPixels());
  // NAXIS = 0: a header without a data unit, as observatories write for metadata.
  cards = {FitsCard("SIMPLE", "T"), FitsCard("BITPIX", "16"), FitsCard("NAXIS", "0"), FitsCard("EXPTIME", "30.0")};
  Timgbuffer header;
  ASSERT_TRUE(header.LoadFits(Write("h.fit", FitsHeaderBytes(cards)))) << header.LastError();
  EXPECT_FALSE(header.HasPixels());
  EXPECT_EQ(header.Width(), 0);
  EXPECT_EQ(header.Exposure, 30.0);
  EXPECT_EQ(header.CardCount(), 5);
}

TEST_F(FitsFileTest, DecodesFilterDateExposureAndBinning) {
  auto load = [&](std::vector<std::string> extra) {
    std::vector<std::string> cards = BasicCards(8, 1, 1);
    cards.insert(cards.end(), extra.begin(), extra.end());
    Timgbuffer image;
    EXPECT_TRUE(image.LoadFits(Write("d.fit", FitsHeaderBytes(cards) + std::string(1, '\x05'))));
    return image;
  };
  Timgbuffer a = load({FitsCard("FILTER", "'red     '"), FitsCard("DATE-OBS", "'2021-03-04T21:05:09.5'"),
                       FitsCard("EXP_TIME", "12.5 / seconds"), FitsCard("XBINNING", "2"), FitsCard("AIRMASS", "'1.25'"),
                       FitsCard("INSTRUME", "'Cam one'")});
  EXPECT_EQ(a.FilterCode, 4);
  EXPECT_EQ(a.Filter, "red");
  EXPECT_EQ(a.ObservationDate, "2021-03-04T21:05:09.500");
  EXPECT_NEAR(a.JulianDay, 2459278.3785822, 1e-6);
  EXPECT_EQ(a.Exposure, 12.5);
  EXPECT_EQ(a.XBinning, 2);
  EXPECT_EQ(a.Airmass, 1.25);
  EXPECT_EQ(a.Instrument, "Cam one");
  EXPECT_EQ(a.CameraKind, "CCD");

  Timgbuffer b = load({FitsCard("FILTER", "'TG'"), FitsCard("DATE", "'04/03/20'"), FitsCard("TIME", "'22:10:00'")});
  EXPECT_EQ(b.FilterCode, 7);
  EXPECT_EQ(b.CameraKind, "DSLR");
  EXPECT_EQ(b.ObservationDate, "2020-03-04T22:10:00.000");

  Timgbuffer c = load({FitsCard("TIMESTMP", "'05/06/2019 01:02:03'")});
  EXPECT_EQ(c.ObservationDate, "2019-06-05T01:02:03.000");
  Timgbuffer d = load({FitsCard("FILTER", "'Halpha'")});
  EXPECT_EQ(d.FilterCode, -1);
  EXPECT_EQ(d.ObservationDate, "date?");
  EXPECT_EQ(d.JulianDay, 0);
  Timgbuffer e = load({FitsCard("DATE-OBS", "'2021-03-04'"), FitsCard("TIME-OBS", "'01:30:00'"),
                       FitsCard("DATE", "'2030-01-01T00:00:00'")});
  EXPECT_EQ(e.ObservationDate, "2021-03-04T01:30:00.000");
  // Trailing blanks of a string are not part of it (astropy pads short strings so).
  Timgbuffer f = load({FitsCard("DATE-OBS", "'2021-03-04'"), FitsCard("UT", "'01:02   '")});
  EXPECT_EQ(f.ObservationDate, "2021-03-04T01:02:00.000");
}

TEST_F(FitsFileTest, BadFilesAreRefusedWithAReason) {
  std::string pixels(2880, '\0');
  auto bad = [&](const std::string& bytes) {
    Timgbuffer image;
    bool ok = image.LoadFits(Write("bad.fit", bytes));
    EXPECT_FALSE(image.LastError().empty());
    EXPECT_EQ(image.LastError().find('\n'), std::string::npos);
    EXPECT_FALSE(image.HasPixels());
    return ok;
  };
  EXPECT_FALSE(bad(""));
  EXPECT_FALSE(bad("this is a text file, not an image\n"));
  EXPECT_FALSE(bad(std::string(2880, 'A')));
  EXPECT_FALSE(bad(FitsHeaderBytes(BasicCards(16, 100, 100)) + std::string(100, '\0')));  // data cut short
  EXPECT_FALSE(bad(FitsHeaderBytes(BasicCards(16, 100, 100)).substr(0, 2000)));
  EXPECT_FALSE(bad(FitsHeaderBytes(BasicCards(16, 20000, 5001)) + pixels));  // over 100,000,000 pixels
  EXPECT_FALSE(bad(FitsHeaderBytes(BasicCards(16, -4, 10)) + pixels));
  EXPECT_FALSE(bad(FitsHeaderBytes(BasicCards(16, 0, 10)) + pixels));
  EXPECT_FALSE(bad(FitsHeaderBytes(BasicCards(16, 1, 1)).replace(3 * 80 + 10, 20, "99999999999999999999") + pixels));
  EXPECT_FALSE(bad(FitsHeaderBytes(BasicCards(64, 2, 2)) + pixels));
  EXPECT_FALSE(bad(FitsHeaderBytes(BasicCards(12, 2, 2)) + pixels));
  // Not standard, unscalable, or a cube without an image.
  std::vector<std::string> notSimple = BasicCards(16, 2, 2);
  notSimple[0] = FitsCard("SIMPLE", "                   F");
  EXPECT_FALSE(bad(FitsHeaderBytes(notSimple) + pixels));
  for (const char* bzero : {"1E400", "-1E300", "NAN"}) {
    std::vector<std::string> cards = BasicCards(16, 2, 2);
    cards.push_back(FitsCard("BZERO", bzero));
    EXPECT_FALSE(bad(FitsHeaderBytes(cards) + pixels)) << bzero;
  }
  std::vector<std::string> emptyCube = BasicCards(16, 2, 2);
  emptyCube[2] = FitsCard("NAXIS", "3");
  emptyCube.push_back(FitsCard("NAXIS3", "0"));
  EXPECT_FALSE(bad(FitsHeaderBytes(emptyCube) + pixels));
  std::vector<std::string> noEnd = BasicCards(16, 2, 2);
  while (noEnd.size() < 41 * 36) noEnd.push_back(FitsCard("COMMENT"));
  EXPECT_FALSE(bad(FitsHeaderBytes(noEnd, false) + pixels));
  Timgbuffer image;
  EXPECT_FALSE(image.LoadFits(Path("missing.fit")));
  EXPECT_NE(image.LastError().find("cannot open"), std::string::npos);
  EXPECT_FALSE(image.LoadFits(dir_.Path().string()));
}

TEST_F(FitsFileTest, ASaveThatCannotBeCompletedKeepsTheEarlierFile) {
  Timgbuffer good;
  good.SetSize(20, 10, PixelType::Bits16);
  good.SetPixel(3, 4, 1234);
  EXPECT_FALSE(good.SaveFits(Path("no/such/folder/x.fit")));
  EXPECT_NE(good.LastError().find("cannot create"), std::string::npos);
  ASSERT_TRUE(good.SaveFits(Path("m51.fit")));
  const std::string before = testing::ReadFile(Path("m51.fit"));
  Timgbuffer big;
  big.SetSize(400, 300, PixelType::Bits16);
  // The disk fills up after 100 kB: files may grow no further than that.
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
  const rlimit full{100000, limit.rlim_max};
  auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
  const bool saved = big.SaveFits(Path("m51.fit"));
  setrlimit(RLIMIT_FSIZE, &limit);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(saved);
  EXPECT_NE(big.LastError().find("cannot write"), std::string::npos) << big.LastError();
  EXPECT_EQ(testing::ReadFile(Path("m51.fit")), before) << "the earlier file is untouched";
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()), {}), 1) << "no temporary left behind";
}

}  // namespace
}  // namespace noctarbel
