// The image buffer's header cards, pixels, arithmetic and geometry. The default cards and
// their order are shown by the capture cards test (StagesCAndPFillOneBlockInTheFixedOrder).

#include "imaging/image_buffer.h"
#include "imaging/pixel_copy.h"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace noctarbel {
namespace {

std::string Trimmed(std::string_view card) {
  std::string text(card);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string CardOf(const Timgbuffer& image, const char* key) {
  return Trimmed(image.Header().Card(image.Header().FindCard(key)));
}

Timgbuffer Filled(PixelType type, std::vector<int> values) {
  Timgbuffer image;
  image.SetSize(static_cast<int>(values.size()), 1, type);
  for (size_t i = 0; i < values.size(); ++i) {
    if (type == PixelType::Bits16) {
      image.PixelsAs<std::uint16_t>()[i] = static_cast<std::uint16_t>(values[i]);
    } else {
      image.SetPixel(static_cast<int>(i) + 1, 1, values[i]);
    }
  }
  return image;
}

std::vector<int> Values(const Timgbuffer& image) {
  std::vector<int> out;
  for (int x = 1; x <= image.Width(); ++x) out.push_back(image.GetPixel(x, 1));
  return out;
}

// Values right-aligned to column 30, strings from column 11, comments after " /" (or "/" right
// after a string), and blanks to column 80.
TEST(FitsHeaderCards, ColumnLayoutOfValuesStringsAndComments) {
  Timgbuffer image;
  image.SetKeyword("NAXIS1", "765");
  image.SetStringKeyword("FILTER", "R");
  image.SetKeyword("EXPTIME", "60.000", "Exposure time in seconds");
  image.SetStringKeyword("DATE-OBS", "2024-03-05T21:07:09.2", "UT start");
  EXPECT_EQ(CardOf(image, "NAXIS1"), "NAXIS1  =                  765");
  EXPECT_EQ(CardOf(image, "FILTER"), "FILTER  = 'R'");
  EXPECT_EQ(CardOf(image, "EXPTIME"), "EXPTIME =               60.000 /Exposure time in seconds");
  EXPECT_EQ(CardOf(image, "DATE-OBS"), "DATE-OBS= '2024-03-05T21:07:09.2'/UT start");
}

TEST(FitsHeaderCards, ReplacesInPlaceAndAddsBeforeEnd) {
  Timgbuffer image;
  image.SetKeyword("EXPTIME", "1.000");
  image.SetKeyword("GAIN", "100");
  EXPECT_EQ(image.Header().FindCard("EXPTIME"), 8);
  EXPECT_EQ(image.Header().FindCard("GAIN"), 9);
  EXPECT_EQ(image.Header().EndCard(), 10);
  image.SetKeyword("EXPTIME", "2.000");
  EXPECT_EQ(image.Header().FindCard("EXPTIME"), 8);
  EXPECT_EQ(image.Header().EndCard(), 10);
  image.SetKeyword("HISTORY", "first");
  image.SetKeyword("HISTORY", "second");
  EXPECT_EQ(Trimmed(image.Header().Card(10)), "HISTORY   first");
  EXPECT_EQ(Trimmed(image.Header().Card(11)), "HISTORY   second");
  EXPECT_EQ(image.Header().EndCard(), 12);
  image.SetKeyword("HISTORY", std::string(90, 'h'));
  EXPECT_EQ(image.Header().Card(12).substr(10), std::string(70, 'h'));
}

TEST(FitsHeaderCards, OverlongValuesAndCommentsAreCut) {
  Timgbuffer image;
  image.SetKeyword("LONGVAL", std::string(75, '9'), "no room");
  EXPECT_EQ(image.Header().Card(8).substr(10), std::string(70, '9'));
  image.SetKeyword("NOTE", "1", std::string(100, 'c'));
  std::string_view note = image.Header().Card(9);
  EXPECT_EQ(note.substr(32, 47), std::string(47, 'c'));
  EXPECT_EQ(note[79], ' ');
  // The closing quote stays on the card, never splitting a doubled quote.
  image.SetStringKeyword("OBSERVER", std::string(67, 'a') + "'b" + std::string(20, 'x'));
  std::string_view observer = image.Header().Card(10);
  EXPECT_EQ(observer.substr(10, 1), "'");
  EXPECT_EQ(observer.substr(11, 67), std::string(67, 'a'));
  EXPECT_EQ(observer.substr(78, 2), "' ");
}

TEST(FitsHeaderCards, CardsHoldSevenBitAsciiOnly) {
  Timgbuffer image;
  image.SetStringKeyword("OBSERVER", "J\xC3\xBCrgen M\xC3\xBCller \xE2\x82\xAC\t");
  image.SetKeyword("HISTORY", "180\xC2\xB0 rotation");
  image.SetStringKeyword("SITE", "K\xF6ln");  // Latin-1 bytes
  EXPECT_EQ(Trimmed(image.Header().Card(8)), "OBSERVER= 'Juergen Mueller ? '");
  EXPECT_EQ(Trimmed(image.Header().Card(9)), "HISTORY   180 deg rotation");
  EXPECT_EQ(Trimmed(image.Header().Card(10)), "SITE    = 'Koeln'");
  image.SetStringKeyword("OBJECT", "O'Neil");
  EXPECT_EQ(CardStringValue(image.Header().Card(11)), "O'Neil");
}

TEST(FitsHeaderCards, AFullHeaderRefusesANewCardAndStaysUntouched) {
  Timgbuffer image;
  for (int i = 0; image.Header().EndCard() < kFitsMaxCards; ++i) {
    ASSERT_TRUE(image.SetKeyword("HISTORY", "filler " + std::to_string(i)));
  }
  const std::vector<char> before(image.Header().Data(), image.Header().Data() + kFitsMaxCards * kFitsCardLength);
  EXPECT_FALSE(image.SetKeyword("NEWKEY", "1"));
  EXPECT_FALSE(image.SetStringKeyword("NEWSTR", "x"));
  EXPECT_FALSE(image.SetKeyword("HISTORY", "one more"));
  EXPECT_EQ(std::vector<char>(image.Header().Data(), image.Header().Data() + kFitsMaxCards * kFitsCardLength), before);
  EXPECT_TRUE(image.SetKeyword("NAXIS1", "12"));  // replacing still works
  EXPECT_EQ(image.Header().EndCard(), kFitsMaxCards);
}

TEST(FitsHeaderCards, AHeaderWithoutEndGetsCardOneAndEnd) {
  FitsHeader header;
  EXPECT_TRUE(header.SetKeyword("SIMPLE", "T"));
  EXPECT_EQ(header.Card(1).substr(0, 9), "SIMPLE  =");
  EXPECT_EQ(header.EndCard(), 2);
  EXPECT_FALSE(header.SetKeyword("END", "1"));
  EXPECT_FALSE(header.SetKeyword("", "1"));
}

TEST(TimgbufferPixels, SetSizeAllocatesZeroPixelsAndWritesBitpix) {
  Timgbuffer image;
  ASSERT_EQ(image.SetSize(7, 5, PixelType::Float32), 0);
  EXPECT_EQ(Trimmed(image.Header().Card(2)), "BITPIX  =                  -32");
  ASSERT_EQ(image.SetSize(7, 5, PixelType::Unset), 0);
  EXPECT_EQ(image.Type(), PixelType::Bits16);
  EXPECT_EQ(image.GetPixel(7, 5), 0);
  ASSERT_EQ(image.SetSize(3, 2, PixelType::Bits32), 0);
  EXPECT_EQ(Trimmed(image.Header().Card(2)), "BITPIX  =                   32");
  EXPECT_EQ(image.SetSize(20000, 5001, PixelType::Bits8), -1);  // over 100,000,000 pixels
  EXPECT_FALSE(image.HasPixels());
  EXPECT_EQ(image.SetSize(-3, 2, PixelType::Bits8), -1);
  EXPECT_EQ(image.SetSize(3, 2, PixelType::Float64), -1);
}

TEST(TimgbufferPixels, GetAndSetPixelClampAndStayInside) {
  Timgbuffer image;
  image.SetSize(4, 3, PixelType::Bits16);
  image.SetPixel(1, 1, 70000);
  image.SetPixel(2, 1, -5);
  image.SetPixel(5, 1, 9);  // outside: nothing
  EXPECT_EQ(Values(image), (std::vector<int>{65535, 0, 0, 0}));
  EXPECT_EQ(image.GetPixel(0, 1), 0);
  EXPECT_EQ(image.GetPixel(1, 4), 0);
  image.Unsigned = false;
  EXPECT_EQ(image.GetPixel(1, 1), -1);
  image.SetSize(2, 1, PixelType::Bits8);
  image.SetPixel(1, 1, 300);
  EXPECT_EQ(image.GetPixel(1, 1), 255);
  image.SetSize(3, 1, PixelType::Float32);
  image.PixelsAs<float>()[0] = 2.5f;
  image.PixelsAs<float>()[1] = -3.5f;
  image.PixelsAs<float>()[2] = 3e10f;
  EXPECT_EQ(Values(image), (std::vector<int>{2, -4, 0}));
  Timgbuffer empty;
  EXPECT_EQ(empty.GetPixel(1, 1), 0);
}

TEST(TimgbufferPixels, RowsAndColumnsCopyRawElements) {
  Timgbuffer image;
  image.SetSize(3, 2, PixelType::Bits32);
  std::vector<std::int32_t> row = {1, 2, 3};
  image.PutRow(2, row.data());
  std::vector<std::int32_t> column = {7, 8};
  image.PutColumn(1, column.data());
  EXPECT_EQ(image.GetPixel(1, 2), 8);
  EXPECT_EQ(image.GetPixel(3, 2), 3);
  std::vector<std::int32_t> out(3);
  image.GetRow(2, out.data());
  EXPECT_EQ(out, (std::vector<std::int32_t>{8, 2, 3}));
  image.GetColumn(3, out.data());
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 3);
  EXPECT_THROW(image.GetRow(3, out.data()), std::out_of_range);
  EXPECT_THROW(image.PutColumn(0, out.data()), std::out_of_range);
}

TEST(TimgbufferPixels, ExtremesFollowTheUnsignedFlag) {
  Timgbuffer image;
  image.SetSize(2, 1, PixelType::Bits16);
  image.SetPixel(1, 1, 40000);
  image.SetPixel(2, 1, 100);
  EXPECT_EQ(image.ComputeMax(), 40000);
  image.Unsigned = false;
  image.ComputeMinMax();
  EXPECT_EQ(image.Maximum, 100);
  EXPECT_EQ(image.Minimum, 40000 - 65536);
  Timgbuffer empty;
  EXPECT_EQ(empty.ComputeMax(), 0);
}

// The read-out's copy finds the extremes on the way, wherever they lie in the vector blocks;
// 32-bit values outside 0..65535 refuse the frame.
TEST(PixelCopy, CopiesAndFindsTheRange) {
  for (size_t n : {1, 15, 16, 33, 100}) {
    for (size_t at : {size_t{0}, n / 2, n - 1}) {
      std::vector<std::uint16_t> words(n, 1200);
      words[at] = 65535;
      if (n > 1) words[(at + 1) % n] = 7;
      std::vector<std::uint16_t> out(n);
      const WordRange range = CopyWords(words.data(), out.data(), n);
      EXPECT_EQ(out, words);
      EXPECT_EQ(range.High, 65535);
      EXPECT_EQ(range.Low, n > 1 ? 7 : 65535);
      const std::vector<std::int32_t> longs(words.begin(), words.end());
      const std::optional<WordRange> narrowed = NarrowToWords(longs.data(), out.data(), n);
      ASSERT_TRUE(narrowed);
      EXPECT_EQ(std::pair(narrowed->Low, narrowed->High), std::pair(range.Low, range.High));
      EXPECT_EQ(out, words);
      for (std::int32_t bad : {-1, 65536, -2147483647 - 1}) {
        std::vector<std::int32_t> wrong = longs;
        wrong[at] = bad;
        EXPECT_FALSE(NarrowToWords(wrong.data(), out.data(), n)) << bad << " at " << at << " of " << n;
      }
    }
  }
}

TEST(TimgbufferPixels, ACloneIsADeepCopy) {
  Timgbuffer image;
  image.SetSize(3, 3, PixelType::Bits16);
  image.SetPixel(2, 2, 1234);
  image.Unsigned = false;
  image.SetKeyword("GAIN", "5");
  auto copy = image.Clone();
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->GetPixel(2, 2), 1234);
  EXPECT_FALSE(copy->Unsigned);
  EXPECT_EQ(copy->Header().FindCard("GAIN"), image.Header().FindCard("GAIN"));
  copy->SetPixel(2, 2, 1);
  EXPECT_EQ(image.GetPixel(2, 2), 1234);
}

TEST(TimgbufferArithmetic, AddAndSubtractCapByType) {
  Timgbuffer bytes = Filled(PixelType::Bits8, {200, 10});
  Timgbuffer words = Filled(PixelType::Bits16, {60000, 5});
  Timgbuffer longs = Filled(PixelType::Bits32, {2000000000, 7});
  EXPECT_TRUE(bytes.AddImage(words));
  EXPECT_EQ(Values(bytes), (std::vector<int>{255, 15}));
  EXPECT_EQ(bytes.Maximum, 255);
  EXPECT_TRUE(words.AddImage(words));
  EXPECT_EQ(Values(words), (std::vector<int>{65535, 10}));
  Timgbuffer stack = Filled(PixelType::Bits32, {100000, 1});
  EXPECT_TRUE(stack.AddImage(Filled(PixelType::Bits16, {65535, 2})));
  EXPECT_EQ(Values(stack), (std::vector<int>{165535, 3}));
  EXPECT_TRUE(longs.AddImage(longs));  // kept within 32 bits rather than wrapping
  EXPECT_EQ(Values(longs)[0], 2147483647);
  EXPECT_TRUE(words.SubtractImage(Filled(PixelType::Bits16, {5, 50})));
  EXPECT_EQ(Values(words), (std::vector<int>{65530, 0}));
  EXPECT_FALSE(words.AddImage(Filled(PixelType::Bits16, {1, 2, 3})));
  EXPECT_FALSE(words.AddImage(Filled(PixelType::Float32, {1, 2})));
}

TEST(TimgbufferArithmetic, AddOffsetChecksTheRangeOfTheFlag) {
  Timgbuffer image = Filled(PixelType::Bits16, {40000, 50});
  EXPECT_TRUE(image.AddOffset(-100));  // unsigned data may sit above 32767
  EXPECT_EQ(Values(image), (std::vector<int>{39900, 0}));
  EXPECT_FALSE(image.AddOffset(30000));
  image = Filled(PixelType::Bits16, {32700, 0});
  image.Unsigned = false;
  EXPECT_FALSE(image.AddOffset(100));
  EXPECT_TRUE(image.AddOffset(67));
  EXPECT_EQ(Values(image), (std::vector<int>{32767, 67}));
  Timgbuffer longs = Filled(PixelType::Bits32, {-5, 5});
  EXPECT_TRUE(longs.AddOffset(-10));
  EXPECT_EQ(Values(longs), (std::vector<int>{-15, -5}));
  Timgbuffer bytes = Filled(PixelType::Bits8, {1});
  EXPECT_FALSE(bytes.AddOffset(1));
}

TEST(TimgbufferArithmetic, ScaleByAndScaleBelowRoundAndCap) {
  Timgbuffer image = Filled(PixelType::Bits16, {3, 5, 40000});
  EXPECT_TRUE(image.ScaleBy(1.5f));
  EXPECT_EQ(Values(image), (std::vector<int>{4, 8, 60000}));  // 4.5 -> 4, 7.5 -> 8
  EXPECT_TRUE(image.ScaleBy(2.0f));
  EXPECT_EQ(Values(image), (std::vector<int>{8, 16, 65535}));
  Timgbuffer below = Filled(PixelType::Bits16, {1000, 50000, 60000});
  EXPECT_TRUE(below.ScaleBelow(50000, 0.5));
  EXPECT_EQ(Values(below), (std::vector<int>{500, 50000, 60000}));
  Timgbuffer signedWords = Filled(PixelType::Bits16, {32767, 20000});
  signedWords.Unsigned = false;
  EXPECT_TRUE(signedWords.ScaleBelow(100000, 2.0));
  EXPECT_EQ(Values(signedWords), (std::vector<int>{32767, 32767}));
  Timgbuffer longs = Filled(PixelType::Bits32, {40000, 70000});
  EXPECT_TRUE(longs.ScaleBelow(60000, 2.0));
  EXPECT_EQ(Values(longs), (std::vector<int>{65535, 70000}));
  Timgbuffer bytes = Filled(PixelType::Bits8, {1});
  EXPECT_FALSE(bytes.ScaleBy(2.0f));
}

TEST(TimgbufferArithmetic, ShiftsBetweenSignedAndUnsignedClamp) {
  Timgbuffer image = Filled(PixelType::Bits16, {0, 65535, 32768});
  image.ShiftToSigned(32768);
  image.Unsigned = false;
  EXPECT_EQ(Values(image), (std::vector<int>{-32768, 32767, 0}));
  image.ShiftToUnsigned(32768);
  image.Unsigned = true;
  EXPECT_EQ(Values(image), (std::vector<int>{0, 65535, 32768}));
  image.ShiftToSigned(-10);  // would exceed 32767
  image.Unsigned = false;
  EXPECT_EQ(Values(image), (std::vector<int>{10, 32767, 32767}));
  image.ShiftToUnsigned(-20);
  image.Unsigned = true;
  EXPECT_EQ(Values(image), (std::vector<int>{0, 32747, 32747}));
}

TEST(TimgbufferGeometry, SwapFlipRotateAndShift) {
  Timgbuffer image;
  image.SetSize(3, 2, PixelType::Bits16);
  int v = 1;
  for (int y = 1; y <= 2; ++y) {
    for (int x = 1; x <= 3; ++x) image.SetPixel(x, y, v++);
  }
  image.SwapByteOrder();
  EXPECT_EQ(image.GetPixel(1, 1), 256);
  image.SwapByteOrder();
  image.FlipHorizontal();
  EXPECT_EQ(Values(image), (std::vector<int>{3, 2, 1}));
  EXPECT_TRUE(image.FlippedHorizontally);
  image.FlipVertical();
  EXPECT_EQ(image.GetPixel(1, 1), 6);
  EXPECT_TRUE(image.FlippedVertically);
  image.Rotate180();  // both flips undone: the original order
  EXPECT_EQ(image.GetPixel(1, 1), 1);
  EXPECT_EQ(image.GetPixel(3, 2), 6);
  EXPECT_TRUE(image.FlippedVertically);
  EXPECT_TRUE(image.FlippedHorizontally);
  EXPECT_EQ(image.QuarterTurns, 2);
  EXPECT_EQ(CardOf(image, "NAXIS1").substr(29), "3");
  image.Rotate180();
  EXPECT_EQ(image.QuarterTurns, 0);
}

TEST(TimgbufferGeometry, ShiftImageMovesContentAndFillsZero) {
  Timgbuffer image;
  image.SetSize(4, 3, PixelType::Bits32);
  for (int y = 1; y <= 3; ++y) {
    for (int x = 1; x <= 4; ++x) image.SetPixel(x, y, 10 * y + x);
  }
  image.ShiftImage(1, 1);
  EXPECT_EQ(image.GetPixel(1, 1), 0);
  EXPECT_EQ(image.GetPixel(2, 2), 11);
  EXPECT_EQ(image.GetPixel(4, 3), 23);
  image.ShiftImage(-2, -1);
  EXPECT_EQ(image.GetPixel(1, 1), 12);
  EXPECT_EQ(image.GetPixel(3, 1), 0);
  EXPECT_EQ(image.GetPixel(1, 3), 0);
  image.ShiftImage(10, 0);
  EXPECT_EQ(image.ComputeMax(), 0);
}

}  // namespace
}  // namespace noctarbel
