#include "imaging/header_cards.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "imaging/card_format.h"
#include "tests/test_support.h"

namespace noctarbel {
namespace {

TEST(CardFormat, FixedRoundsToSignificantDigitsFirst) {
  EXPECT_EQ(FixedCardText(123.456, 5, 3), "123.460");
  EXPECT_EQ(FixedCardText(60, 8, 3), "60.000");
  EXPECT_EQ(FixedCardText(8.24889, 10, 5), "8.24889");
  EXPECT_EQ(FixedCardText(-10.04, 5, 1), "-10.0");
  EXPECT_EQ(FixedCardText(1.235, 4, 2), "1.24");  // 1.235 is stored a little above
  EXPECT_EQ(FixedCardText(12345.678, 5, 3), "12346.000");
  EXPECT_EQ(FixedCardText(99999.7, 5, 3), "1.0000E+05");  // the rounding adds a digit
  EXPECT_EQ(FixedCardText(123456.7, 5, 3), "1.2346E+05");
  EXPECT_EQ(FixedCardText(0.0004, 8, 3), "0.000");
  EXPECT_EQ(FixedCardText(-0.0004, 5, 1), "0.0");
  EXPECT_EQ(FixedCardText(0, 4, 2), "0.00");
  EXPECT_EQ(FixedCardText(9.9996, 4, 3), "10.000");
  EXPECT_FALSE(FixedCardText(std::nan(""), 5, 1));
}

TEST(CardFormat, ShortestAndCoordinateTexts) {
  EXPECT_EQ(ShortestCardText(32768), "32768");
  EXPECT_EQ(ShortestCardText(0), "0");
  EXPECT_EQ(ShortestCardText(2.5), "2.5");
  EXPECT_EQ(ShortestCardText(1e21), "1E+21");
  EXPECT_EQ(ObjectRaText(5.5), "05 30 00");
  EXPECT_EQ(ObjectRaText(13.0 + 29.0 / 60 + 52.7 / 3600), "13 29 53");
  EXPECT_EQ(ObjectRaText(1.0 + 59.0 / 60 + 59.6 / 3600), "01 59 60");  // seconds are not carried
  EXPECT_EQ(ObjectDecText(-0.5), "-00 30 00");
  EXPECT_EQ(ObjectDecText(47.2), "+47 12 00");
  EXPECT_EQ(ObjectDecText(-23.0 - 26.0 / 60 - 21.0 / 3600), "-23 26 21");
  EXPECT_EQ(ObjectDecText(0), "+00 00 00");
}

CaptureCardValues Camera() {
  CaptureCardValues v;
  v.ObservationDate = "2024-03-05T21:07:09.2";
  v.Exposure = 60;
  v.Description = "Simulated CCD camera";
  v.FilterName = "R";
  v.BinX = v.BinY = 2;
  v.PixelSizeX = 5.4;
  v.PixelSizeY = 5.6;
  v.CcdTemperature = -10.04;
  return v;
}

CaptureCardSettings Site() {
  CaptureCardSettings s;
  s.ArcsecX = 1.5;
  s.TelescopeDescription = "C14";
  s.Observername = "Night Owl";
  s.Glaenge = -8.24889;
  s.Gbreite = 49.91806;
  return s;
}

std::vector<std::string> Keys(const Timgbuffer& image) {
  std::vector<std::string> keys;
  for (int n = 1; n <= image.Header().EndCard(); ++n) {
    std::string key(image.Header().Card(n).substr(0, 8));
    while (!key.empty() && key.back() == ' ') key.pop_back();
    keys.push_back(key);
  }
  return keys;
}

std::string ValueOf(const Timgbuffer& image, const char* key) {
  std::string card(image.Header().Card(image.Header().FindCard(key)));
  return card.substr(10);
}

TEST(CaptureCards, StagesCAndPFillOneBlockInTheFixedOrder) {
  Timgbuffer image;
  image.SetSize(384, 256, PixelType::Bits16);
  ASSERT_TRUE(WriteCaptureCards(image, Camera(), Site()));
  PlanCardValues plan;
  plan.ObjectName = "M 51";
  plan.RightAscension = 5.5;
  plan.Declination = -0.5;
  plan.Airmass = 1.2345;
  ASSERT_TRUE(WritePlanCards(image, plan));
  const std::vector<std::string> expected = {
      "SIMPLE",   "BITPIX",   "NAXIS",    "NAXIS1",   "NAXIS2",   "BSCALE",   "BZERO",    "DATE-OBS", "EXPTIME",
      "INSTRUME", "FILTER",   "XPIXSZ",   "YPIXSZ",   "XBINNING", "YBINNING", "PIXSCALE", "CCD-TEMP", "SWCREATE",
      "TELESCOP", "OBSERVER", "SITE-LON", "SITE-LAT", "OBJECT",   "OBJCTRA",  "OBJCTDEC", "AIRMASS",  "END"};
  EXPECT_EQ(Keys(image), expected);
  EXPECT_LE(image.Header().EndCard(), kFitsCardsPerBlock);
  EXPECT_EQ(ValueOf(image, "XPIXSZ").substr(0, 20), "              10.800");
  EXPECT_EQ(ValueOf(image, "XPIXSZ").substr(20, 30), " /Image Pixel Width in microns");
  EXPECT_EQ(ValueOf(image, "SITE-LON").substr(0, 20), "             8.24889");
  EXPECT_EQ(ValueOf(image, "CCD-TEMP").substr(0, 20), "               -10.0");
  EXPECT_EQ(ValueOf(image, "PIXSCALE").substr(0, 20), "               3.000");
  EXPECT_EQ(ValueOf(image, "AIRMASS").substr(0, 20), "                1.23");
  EXPECT_EQ(CardStringValue(image.Header().Card(image.Header().FindCard("OBJCTRA"))), "05 30 00");
  EXPECT_EQ(CardStringValue(image.Header().Card(image.Header().FindCard("OBJCTDEC"))), "-00 30 00");
  EXPECT_EQ(CardStringValue(image.Header().Card(image.Header().FindCard("SWCREATE"))), "Noctarbel V. 1.212.1");
  EXPECT_EQ(image.PixelScale, 3.0);
  EXPECT_EQ(image.XBinning, 2);
  EXPECT_FLOAT_EQ(image.PixelHeight, 11.2f);
  EXPECT_EQ(image.Filter, "R");
  EXPECT_EQ(image.FilterCode, -1);
}

TEST(CaptureCards, OptionalCardsAppearOnlyWithTheirValues) {
  Timgbuffer image;
  CaptureCardValues camera = Camera();
  camera.Gain = 139;
  WriteCaptureCards(image, camera, Site());
  PlanCardValues plan;
  plan.PierSide = 1;
  plan.FocusPosition = 12345;
  plan.Calibration = CalibrationHistory{std::string("dark_2x2.fit"), std::string("flat_R.fit"), true};
  WritePlanCards(image, plan);
  std::vector<std::string> keys = Keys(image);
  auto at = [&](const std::string& key) { return std::find(keys.begin(), keys.end(), key) - keys.begin(); };
  EXPECT_EQ(at("GAIN"), at("YBINNING") + 1);
  EXPECT_EQ(at("PIERSIDE"), at("AIRMASS") + 1);
  EXPECT_EQ(at("FOCUSPOS"), at("PIERSIDE") + 1);
  EXPECT_EQ(keys[at("FOCUSPOS") + 1], "HISTORY");
  EXPECT_EQ(CardStringValue(image.Header().Card(static_cast<int>(at("PIERSIDE")) + 1)), "1");
  int history = static_cast<int>(at("FOCUSPOS")) + 2;
  EXPECT_EQ(image.Header().Card(history).substr(10, 29), "Dark subtraction dark_2x2.fit");
  EXPECT_EQ(image.Header().Card(history + 1).substr(10, 20), "Flatcorr. flat_R.fit");
  EXPECT_EQ(image.Header().Card(history + 2).substr(10, 16), "180 deg rotation");
  EXPECT_EQ(CalibrationLogText(*plan.Calibration), "Bildbearbeitung: dark flat 180° rotation");

  Timgbuffer noGain;
  WriteCaptureCards(noGain, Camera(), Site());
  EXPECT_EQ(noGain.Header().FindCard("GAIN"), 0);
}

TEST(CaptureCards, SavingTwiceKeepsTheSameCardsAndBzero) {
  testing::TempDir dir;
  Timgbuffer image;
  image.SetSize(40, 30, PixelType::Bits16);
  image.SetPixel(3, 4, 1000);
  WriteCaptureCards(image, Camera(), Site());
  ASSERT_TRUE(image.SaveFits((dir / "a.fit").string()));
  ASSERT_TRUE(image.SaveFits((dir / "a2.fit").string()));
  EXPECT_EQ(testing::ReadFile(dir / "a.fit"), testing::ReadFile(dir / "a2.fit"));
  Timgbuffer loaded;
  ASSERT_TRUE(loaded.LoadFits((dir / "a.fit").string()));
  ASSERT_TRUE(loaded.SaveFits((dir / "b.fit").string()));
  Timgbuffer again;
  ASSERT_TRUE(again.LoadFits((dir / "b.fit").string()));
  EXPECT_EQ(Keys(again), Keys(image));
  EXPECT_EQ(ValueOf(again, "BZERO").substr(0, 20), "               32768");
  const std::string first = testing::ReadFile(dir / "a.fit");
  const std::string second = testing::ReadFile(dir / "b.fit");
  EXPECT_EQ(first.substr(2880), second.substr(2880));  // the same data unit
  // DATE-OBS is written again from the decoded date, with milliseconds.
  EXPECT_EQ(CardStringValue(again.Header().Card(again.Header().FindCard("DATE-OBS"))), "2024-03-05T21:07:09.200");
}

TEST(StackCards, ThirtyTwoBitWithSubExposureAndHistory) {
  Timgbuffer stack;
  stack.SetSize(4, 4, PixelType::Bits32);
  WriteStackCards(stack, 30, 12);
  EXPECT_EQ(ValueOf(stack, "BITPIX").substr(0, 20), "                  32");
  EXPECT_EQ(ValueOf(stack, "SUBEXP").substr(0, 41), "              30.000 /sub exposure in sec");
  EXPECT_EQ(ValueOf(stack, "HISTORY").substr(0, 26), "Stack (sum) of 12 images  ");
}

}  // namespace
}  // namespace noctarbel
