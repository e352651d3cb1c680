#include "common/datetime.h"

#include <gtest/gtest.h>

namespace noctarbel {
namespace {

TEST(DateTime, CountsDaysFrom1899_12_30) {
  EXPECT_DOUBLE_EQ(EncodeDate(1899, 12, 30), 0);
  EXPECT_DOUBLE_EQ(EncodeDate(2000, 1, 1), 36526);
  EXPECT_DOUBLE_EQ(EncodeDateTime(2000, 1, 1, 12, 0, 0), 36526.5);
  EXPECT_DOUBLE_EQ(FromUnixSeconds(0), 25569);
}

TEST(DateTime, DecodesWithMillisecondCarry) {
  CivilDateTime c = DecodeDateTime(EncodeDateTime(2024, 2, 29, 21, 7, 9, 250));
  EXPECT_EQ(c.year, 2024);
  EXPECT_EQ(c.month, 2);
  EXPECT_EQ(c.day, 29);
  EXPECT_EQ(c.hour, 21);
  EXPECT_EQ(c.minute, 7);
  EXPECT_EQ(c.second, 9);
  EXPECT_EQ(c.millisecond, 250);
  // A hair before midnight rounds into the next day instead of giving hour 24.
  CivilDateTime late = DecodeDateTime(EncodeDate(2024, 12, 31) + 1 - 1e-10);
  EXPECT_EQ(late.year, 2025);
  EXPECT_EQ(late.month, 1);
  EXPECT_EQ(late.day, 1);
  EXPECT_EQ(late.hour, 0);
}

TEST(DateTime, LogTimestampDropsTheTimeAtMidnight) {
  EXPECT_EQ(FormatLogTimestamp(EncodeDateTime(2026, 3, 7, 21, 5, 9)), "2026-03-07 21:05:09");
  EXPECT_EQ(FormatLogTimestamp(EncodeDate(2026, 3, 8)), "2026-03-08");
  EXPECT_EQ(FormatLogTimestamp(EncodeDateTime(2026, 3, 8, 0, 0, 1)), "2026-03-08 00:00:01");
}

TEST(DateTime, ParsesIsoTexts) {
  DateTime expected = EncodeDateTime(2026, 12, 6, 22, 30, 15);
  EXPECT_DOUBLE_EQ(*ParseIsoDateTime("2026-12-06 22:30:15"), expected);
  EXPECT_DOUBLE_EQ(*ParseIsoDateTime("2026-12-06T22:30:15"), expected);
  EXPECT_DOUBLE_EQ(*ParseIsoDateTime("2026-12-06"), EncodeDate(2026, 12, 6));
  EXPECT_NEAR(*ParseIsoDateTime("2026-12-06T22:30:15.5"), expected + 0.5 / 86400, 1e-9);
  EXPECT_FALSE(ParseIsoDateTime("2026-02-30 10:00:00"));
  EXPECT_FALSE(ParseIsoDateTime("2026-12-06 24:00:00"));
  EXPECT_FALSE(ParseIsoDateTime("06.12.2026"));
  EXPECT_FALSE(ParseIsoDateTime("2026-12-06 22:30"));
  EXPECT_FALSE(ParseIsoDateTime(""));
}

}  // namespace
}  // namespace noctarbel
