#include "common/number_text.h"

#include <gtest/gtest.h>

#include <clocale>

namespace noctarbel {
namespace {

TEST(NumberText, IntegersAreStrict) {
  EXPECT_EQ(ParseInt("12"), 12);
  EXPECT_EQ(ParseInt("  -7"), -7);
  EXPECT_EQ(ParseInt("+5"), 5);
  EXPECT_EQ(ParseInt("2147483647"), 2147483647);
  EXPECT_FALSE(ParseInt("2147483648"));
  EXPECT_FALSE(ParseInt("12 "));
  EXPECT_FALSE(ParseInt("1.5"));
  EXPECT_FALSE(ParseInt(""));
  EXPECT_FALSE(ParseInt("-"));
  EXPECT_FALSE(ParseInt("0x10"));
  EXPECT_FALSE(ParseInt("99999999999999999999999"));
}

TEST(NumberText, FloatsTakeOnlyThePoint) {
  EXPECT_DOUBLE_EQ(*ParseFloat("0.1"), 0.1);
  EXPECT_DOUBLE_EQ(*ParseFloat(" -8.24889 "), -8.24889);
  EXPECT_DOUBLE_EQ(*ParseFloat("+1e-5"), 1e-5);
  EXPECT_DOUBLE_EQ(*ParseFloat(".5"), 0.5);
  EXPECT_FALSE(ParseFloat("1,5"));
  EXPECT_FALSE(ParseFloat("inf"));
  EXPECT_FALSE(ParseFloat("nan"));
  EXPECT_FALSE(ParseFloat("1e999"));
  EXPECT_FALSE(ParseFloat("12abc"));
  EXPECT_FALSE(ParseFloat(""));
}

TEST(NumberText, ConversionsIgnoreTheProcessLocale) {
  // A German locale would write and read "0,5"; the station never does.
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) GTEST_SKIP() << "no German locale installed";
  EXPECT_EQ(FormatGeneral(0.5), "0.5");
  EXPECT_DOUBLE_EQ(*ParseFloat("0.5"), 0.5);
  std::setlocale(LC_NUMERIC, "C");
}

TEST(NumberText, GeneralFormatWidensSinglePrecision) {
  EXPECT_EQ(FormatGeneral(static_cast<double>(0.1f), 15), "0.100000001490116");
  EXPECT_EQ(FormatGeneral(1234.0, 15), "1234");
  EXPECT_EQ(FormatGeneral(-8.24889, 15), "-8.24889");
  EXPECT_EQ(FormatGeneral(0.99, 15), "0.99");
  EXPECT_EQ(FormatGeneral(0.0, 15), "0");
}

TEST(NumberText, FixedWithSignificantDigits) {
  EXPECT_EQ(FormatFixedSignificant(123.456, 5, 3), "123.460");
  EXPECT_EQ(FormatFixedSignificant(60.0, 8, 3), "60.000");
  EXPECT_EQ(FormatFixedSignificant(8.24889, 10, 5), "8.24889");
  EXPECT_EQ(FormatFixedSignificant(-0.5, 4, 2), "-0.50");
  EXPECT_NE(FormatFixedSignificant(123456.7, 5, 3).find('e'), std::string::npos);
}

TEST(NumberText, RoundsHalfToEven) {
  EXPECT_EQ(RoundHalfEven(2.5), 2);
  EXPECT_EQ(RoundHalfEven(3.5), 4);
  EXPECT_EQ(RoundHalfEven(-2.5), -2);
  EXPECT_EQ(RoundHalfEven(127.5), 128);
  EXPECT_EQ(RoundHalfEven(2.4999), 2);
  EXPECT_EQ(DivideRoundHalfEven(5, 2), 2);
  EXPECT_EQ(DivideRoundHalfEven(7, 2), 4);
  EXPECT_EQ(DivideRoundHalfEven(-5, 2), -2);
  EXPECT_EQ(DivideRoundHalfEven(-7, 2), -4);
  EXPECT_EQ(DivideRoundHalfEven(17, 8), 2);
  EXPECT_EQ(DivideRoundHalfEven(-17, 8), -2);
}

}  // namespace
}  // namespace noctarbel
