#include "station/filter_tables.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace noctarbel {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(FilterTable, MissingFileIsCreatedWithTenDefaultLines) {
  TempDir dir;
  FilterTable table;
  LoadFilterTable(table, dir.Path(), true);
  std::string expected;
  for (int n = 1; n <= 10; ++n) expected += "Filter " + std::to_string(n) + ",0\r\n";
  EXPECT_EQ(ReadFile(dir / "filterwheel.txt"), expected);
  EXPECT_EQ(table.FilterNames.size(), 10u);
  EXPECT_EQ(table.Filtertable.Cell(1, 0), "Filter name");
  EXPECT_EQ(table.Filtertable.Cell(1, 10), "Filter 10");
}

TEST(FilterTable, ShortFileFillsTheGridWithDefaultsAndSavesTenRows) {
  TempDir dir;
  WriteFile(dir / "filterwheel.txt", "L,0\r\nR, 25\nG,-10\r\n,40\r\nB,15\r\n");
  FilterTable table;
  LoadFilterTable(table, dir.Path(), true);
  EXPECT_EQ(table.FilterNames, (std::vector<std::string>{"L", "R", "G", "B"})) << "an empty name skips the line";
  EXPECT_EQ(table.FilterOffsets[1], " 25") << "fields are not trimmed";
  EXPECT_EQ(table.Filtertable.Cell(1, 4), "B");
  EXPECT_EQ(table.Filtertable.Cell(1, 5), "Filter 5");
  EXPECT_EQ(table.Filtertable.Cell(2, 5), "0");
  EXPECT_EQ(FilterOffset(table, 3), -10);
  EXPECT_EQ(FilterOffset(table, 2), 25);
  table.Filtertable.SetCell(1, 2, "Red");
  ASSERT_TRUE(SaveFilterTable(table, dir.Path(), true));
  EXPECT_EQ(table.FilterNames[1], "Red");
  std::string text = ReadFile(dir / "filterwheel.txt");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 10);
  EXPECT_EQ(text.substr(0, 24), "L,0\r\nRed, 25\r\nG,-10\r\nB,1");
}

TEST(FilterTable, OnlyTenLinesAreReadAndTheDriverModeLeavesTheFileAlone) {
  TempDir dir;
  std::string content;
  for (int n = 1; n <= 12; ++n) content += "F" + std::to_string(n) + "," + std::to_string(n) + "\r\n";
  WriteFile(dir / "filterwheel.txt", content);
  FilterTable table;
  LoadFilterTable(table, dir.Path(), true);
  EXPECT_EQ(table.FilterNames.size(), 10u);
  FilterTable driverTable;
  LoadFilterTable(driverTable, dir.Path(), false);
  EXPECT_TRUE(driverTable.FilterNames.empty());
  EXPECT_TRUE(SaveFilterTable(driverTable, dir.Path(), false));
  EXPECT_EQ(ReadFile(dir / "filterwheel.txt"), content);
}

TEST(FilterTable, ACommaTypedIntoANameCannotShiftTheFields) {
  TempDir dir;
  FilterTable table;
  LoadFilterTable(table, dir.Path(), true);
  table.Filtertable.SetCell(1, 1, "H,alpha");
  ASSERT_TRUE(SaveFilterTable(table, dir.Path(), true));
  FilterTable back;
  LoadFilterTable(back, dir.Path(), true);
  EXPECT_EQ(back.FilterNames[0], "H alpha");
  EXPECT_EQ(back.FilterOffsets[0], "0");
}

TEST(FocusTable, RowsWithAnEmptyCellAreDroppedAndGapsClose) {
  TempDir dir;
  FocusTable table;
  LoadFocusTable(table, dir.Path());
  EXPECT_TRUE(std::filesystem::exists(dir / "focustable.txt"));
  EXPECT_EQ(table.Focustable.RowCount(), 20);
  table.Focustable.SetCell(1, 1, "park");
  table.Focustable.SetCell(2, 1, "1000");
  table.Focustable.SetCell(1, 3, "summer");  // no position: dropped
  table.Focustable.SetCell(1, 4, "winter");
  table.Focustable.SetCell(2, 4, "1450");
  ASSERT_TRUE(SaveFocusTable(table, dir.Path()));
  EXPECT_EQ(ReadFile(dir / "focustable.txt"), "park,1000\r\nwinter,1450\r\n");
  EXPECT_EQ(table.FocusNames, (std::vector<std::string>{"park", "winter"}));
}

TEST(FocusTable, LongTablesAreKeptWhole) {
  TempDir dir;
  std::string content;
  for (int n = 1; n <= 30; ++n) content += "pos" + std::to_string(n) + "," + std::to_string(n * 100) + "\r\n";
  WriteFile(dir / "focustable.txt", content + "\r\n");
  FocusTable table;
  LoadFocusTable(table, dir.Path());
  EXPECT_EQ(table.FocusNames.size(), 31u) << "empty lines count as entries";
  EXPECT_EQ(table.Focustable.Cell(1, 30), "pos30");
  ASSERT_TRUE(SaveFocusTable(table, dir.Path()));
  EXPECT_EQ(ReadFile(dir / "focustable.txt"), content);
}

TEST(LineField, SplitsAtAnySeparator) {
  EXPECT_EQ(LineField("a,b,c", 2, ","), "b");
  EXPECT_EQ(LineField("a,b", 3, ","), "");
  EXPECT_EQ(LineField("a;b\\c", 3, ";\\"), "c");
  EXPECT_EQ(LineField("", 1, ","), "");
}

}  // namespace
}  // namespace noctarbel
