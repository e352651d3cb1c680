// Sexagesimal fields and cells, and the pasted position texts.

#include "astro/coordinate_text.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace noctarbel {
namespace {

using Cells = std::array<std::string, 6>;

TEST(Sexagesimal, DecomposesCataloguePositions) {
  // M51 from the catalogue: 13 h 29.9 m, +47 12'.
  SexagesimalPosition p = DecomposePosition(13 + 29.9 / 60, 47 + 12 / 60.0);
  EXPECT_EQ((std::array{p.RaHours, p.RaMinutes, p.RaSeconds}), (std::array{13, 29, 54}));
  EXPECT_EQ((std::array{p.DecDegrees, p.DecMinutes, p.DecSeconds}), (std::array{47, 12, 0}));
  EXPECT_FALSE(p.South);
  EXPECT_EQ(DeclinationDegreeCellText(p), "47");
  // M40's fixed position: 12 h 22 m 24 s, +58 05 00.
  p = DecomposePosition(12.373333333, 58.08333333);
  EXPECT_EQ((std::array{p.RaHours, p.RaMinutes, p.RaSeconds}), (std::array{12, 22, 24}));
  EXPECT_EQ((std::array{p.DecDegrees, p.DecMinutes, p.DecSeconds}), (std::array{58, 5, 0}));
}

TEST(Sexagesimal, NegativeDeclinations) {
  // Between -1 and 0 the sign lives in "-0".
  SexagesimalPosition p = DecomposePosition(1, -0.5);
  EXPECT_EQ((std::array{p.DecDegrees, p.DecMinutes, p.DecSeconds}), (std::array{0, 30, 0}));
  EXPECT_TRUE(p.South);
  EXPECT_EQ(DeclinationDegreeCellText(p), "-0");
  p = DecomposePosition(5 + 35.3 / 60, -(5 + 23 / 60.0));
  EXPECT_EQ((std::array{p.DecDegrees, p.DecMinutes, p.DecSeconds}), (std::array{-5, 23, 0}));
  EXPECT_EQ(DeclinationDegreeCellText(p), "-5");
  // A whole negative degree stays whole (not -5 degrees 60 minutes).
  p = DecomposePosition(1, -6.0);
  EXPECT_EQ((std::array{p.DecDegrees, p.DecMinutes, p.DecSeconds}), (std::array{-6, 0, 0}));
  p = DecomposePosition(1, -(19 + 7 / 60.0));
  EXPECT_EQ((std::array{p.DecDegrees, p.DecMinutes, p.DecSeconds}), (std::array{-19, 7, 0}));
}

TEST(Sexagesimal, FieldsAndCellsGiveTheSameSign) {
  // The spin fields: with 0 degrees the N/S box decides; otherwise the degree sign.
  EXPECT_DOUBLE_EQ(DeclinationFromFields(0, 30, 0, true), -0.5);
  EXPECT_DOUBLE_EQ(DeclinationFromFields(0, 30, 0, false), 0.5);
  EXPECT_DOUBLE_EQ(DeclinationFromFields(-12, 30, 36, true), -12.51);
  EXPECT_DOUBLE_EQ(DeclinationFromFields(-12, 30, 36, false), -12.51);
  EXPECT_DOUBLE_EQ(DeclinationFromFields(12, 30, 36, false), 12.51);
  // The plan's cells: "-0" carries the sign.
  EXPECT_EQ(DeclinationFromCells("-0", "30", "0"), -0.5);
  EXPECT_EQ(DeclinationFromCells(" -0 ", "30", "0"), -0.5);
  EXPECT_EQ(DeclinationFromCells("0", "30", "0"), 0.5);
  EXPECT_EQ(DeclinationFromCells("-05", "23", "28.0"), -(5 + 23 / 60.0 + 28 / 3600.0));
  EXPECT_EQ(DeclinationFromCells("+41", "16", "09.5"), 41 + 16 / 60.0 + 9.5 / 3600);
  EXPECT_FALSE(DeclinationFromCells("", "30", "0"));
  EXPECT_FALSE(DeclinationFromCells("-0", "3.5", "0"));
  EXPECT_EQ(RightAscensionFromCells("05", "35", "17.3"), 5 + 35 / 60.0 + 17.3 / 3600);
  EXPECT_FALSE(RightAscensionFromCells("5h", "35", "17.3"));
  // What "insert RA/DEC" writes reads back to the catalogue's value.
  const SexagesimalPosition p = DecomposePosition(1, -0.5);
  EXPECT_EQ(
      DeclinationFromCells(DeclinationDegreeCellText(p), std::to_string(p.DecMinutes), std::to_string(p.DecSeconds)),
      -0.5);
  EXPECT_EQ(DeclinationFromFields(p.DecDegrees, p.DecMinutes, p.DecSeconds, p.South), -0.5);
}

void ExpectPasted(const std::string& text, const Cells& cells) {
  PastedPosition r = ParsePastedPosition(text);
  EXPECT_TRUE(r.Ok) << text;
  EXPECT_EQ(r.Cells, cells) << text;
}

void ExpectRefused(const std::string& text) {
  PastedPosition r = ParsePastedPosition(text);
  EXPECT_FALSE(r.Ok) << text;
  EXPECT_EQ(r.Cells, Cells{}) << text;
}

TEST(PastedPosition, TheFourForms) {
  ExpectPasted("12h34m56.7s +41°16'09.5\"", {"12", "34", "56.7", "+41", "16", "09.5"});
  ExpectPasted("12h34m56.7s +41d16m09s", {"12", "34", "56.7", "+41", "16", "09"});
  ExpectPasted("12h34m56.78s -01d16m09.5s", {"12", "34", "56.78", "-01", "16", "09.5"});
  ExpectPasted("12h34m56.789s +41d16m09s", {"12", "34", "56.789", "+41", "16", "09"});
  ExpectPasted("05 35 17.3 -05 23 28", {"05", "35", "17.3", "-05", "23", "28"});
  ExpectPasted("  05  35 17.3   -05 23 28.5 extra  ", {"05", "35", "17.3", "-05", "23", "28.5"});
  ExpectPasted("05:35:17.30 -05:23:28.0", {"05", "35", "17.30", "-05", "23", "28.0"});
  ExpectPasted(" 05:35:17.30 -05:23:28.0\r\n", {"05", "35", "17.30", "-05", "23", "28.0"});
}

TEST(PastedPosition, DegreeSignInLatin1Bytes) {
  ExpectPasted(
      "12h34m56.7s +41\xB0"
      "16'09.5\"",
      {"12", "34", "56.7", "+41", "16", "09.5"});
}

TEST(PastedPosition, RefusedTexts) {
  // Fixed character counts need two-digit hours and minutes.
  ExpectRefused("5h35m17s -5d23m28s");
  // Blank-separated but shorter than 18 characters.
  ExpectRefused("5 35 17 -5 23 28");
  ExpectRefused("05 35 17.3 -05 23");  // five fields
  ExpectRefused("");
  ExpectRefused("M 51");
  ExpectRefused("h");
  ExpectRefused("12h34m56.7s +41°16'09.5");  // no closing double quote
  // Out of range: 75 minutes, 95 degrees.
  ExpectRefused("12:75:00.00 +41:16:09.0");
  ExpectRefused("12:34:56.78 +95:16:09.0");
  ExpectRefused("24 00 00.0 +41 16 09.0");
}

TEST(PastedPosition, OnlyTheFirst127CharactersCount) {
  const std::string position = "05:35:17.30 -05:23:28.0";
  ExpectPasted(position + std::string(500, 'x'), {"05", "35", "17.30", "-05", "23", "28.0"});
  PastedPosition r = ParsePastedPosition(std::string(127, ' ') + position);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.Text, std::string(127, ' '));
  // Multi-byte characters count as one each.
  r = ParsePastedPosition(std::string(200, '\xB0'));
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.Text.size(), 127u * 2) << "127 degree signs, each two bytes in UTF-8";
}

TEST(PastedPosition, AnyBytesAreHandled) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
  for (size_t start = 0; start < bytes.size(); start += 7) {
    PastedPosition r = ParsePastedPosition(bytes.substr(start) + bytes.substr(0, start));
    EXPECT_FALSE(r.Ok);
  }
  ExpectRefused(std::string("05:35:1\0.30 -05:23:28.0", 23));
}

}  // namespace
}  // namespace noctarbel
