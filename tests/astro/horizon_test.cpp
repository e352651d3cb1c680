// The local horizon: the file rules and the lookup.

#include "astro/horizon.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/test_support.h"

namespace noctarbel {
namespace {

using testing::TempDir;
using testing::WriteFile;

class Horizon : public ::testing::Test {
 protected:
  HorizonTable Load(const std::string& content) {
    WriteFile(dir / "horizon.txt", content);
    HorizonTable table;
    result = LoadHorizonFile(dir / "horizon.txt", table);
    return table;
  }
  TempDir dir;
  HorizonFileResult result;
};

TEST_F(Horizon, DefaultTableIsFlat) {
  const HorizonTable table = DefaultHorizonTable();
  ASSERT_EQ(table.Count, 36);
  EXPECT_EQ(table.Points[0].Azimuth, 0);
  EXPECT_EQ(table.Points[35].Azimuth, 350);
  for (double az = -10; az <= 370; az += 2.5) EXPECT_EQ(HorizonAltitude(table, az), 0) << az;
}

// Altitudes looked up in the tables of these files; the last line of a file is point 1.
TEST_F(Horizon, InterpolatesNeighboursLessThanThirtyDegreesApart) {
  // As the scan window records: eastwards from north, the last point short of 360.
  std::string scan;
  for (int az = 0; az <= 350; az += 10) scan += std::to_string(az) + " " + std::to_string(az / 10 % 7) + ".0\n";
  struct Case {
    std::string file;
    std::vector<std::pair<double, double>> altitudes;  // azimuth, altitude
  };
  const std::vector<Case> cases = {
      {"0 10\n10 20\n20 10\n", {{5, 15}, {10, 20}, {15, 15}, {0, 10}}},
      // 100 -> 140 is too wide; 140 -> 100 round through north closes the circle instead, which
      // leaves the stretch between them without a horizon.
      {"100 5\n140 25\n", {{120, 0}, {139.9, 0}}},
      // Line 5 before line 355: the pair covers 0 up to (not including) 5; negative azimuths
      // count from 360.
      {"5 10\n355 20\n", {{0, 15}, {2.5, 12.5}, {-2.5, 17.5}}},
      // Listed 355 before 5, the pair covers nothing; the circle closes from 5 east to 355.
      {"355 20\n5 10\n", {{0, 0}, {180, 15}}},
      {scan, {{345, 3}}},  // between 340 (6) and 350 (0)
      // Between 350 (4) and 0 (8); 360 is north.
      {"0 8\n10 6\n20 4\n330 2\n340 1\n350 4\n", {{355, 6}, {352.5, 5}, {360, 8}, {-5, 6}, {720 + 355, 6}}},
      {"100 45\n", {{100, 0}}},  // a single point is no horizon
  };
  for (const Case& c : cases) {
    const HorizonTable table = Load(c.file);
    for (const auto& [azimuth, altitude] : c.altitudes) {
      EXPECT_DOUBLE_EQ(HorizonAltitude(table, azimuth), altitude) << c.file << "at " << azimuth;
    }
  }
}

TEST_F(Horizon, FileOrderDoesNotMatterInsidePairs) {
  const HorizonTable up = Load("0 3\n12 8\n25 1\n40 6\n60 2\n");
  const HorizonTable down = Load("60 2\n40 6\n25 1\n12 8\n0 3\n");
  for (double az = 0; az < 60; az += 0.5) {
    EXPECT_DOUBLE_EQ(HorizonAltitude(up, az), HorizonAltitude(down, az)) << az;
  }
}

TEST_F(Horizon, FileRules) {
  const HorizonTable table = Load(
      "# scanned 2024-03-05\r\n"
      "\r\n"
      "120;12.5\r\n"
      "130 14.5 extra fields\r\n"
      "140  16.5\r\n"  // two blanks: the second field is empty, the line is skipped
      " 150 18.5\r\n"  // leading blank: the first field is empty
      "abc 5\r\n"
      "160 5x\r\n"
      "150\r\n"
      "150 17.5;note\r\n");
  ASSERT_EQ(table.Count, 3);
  EXPECT_EQ(result.Accepted, 3);
  EXPECT_EQ(table.Points[2].Azimuth, 120);
  EXPECT_EQ(table.Points[2].Altitude, 12.5);
  EXPECT_EQ(table.Points[1].Azimuth, 130);
  EXPECT_EQ(table.Points[0].Azimuth, 150);
  EXPECT_DOUBLE_EQ(HorizonAltitude(table, 125), 13.5);
}

TEST_F(Horizon, EmptyAndMissingFilesGiveNoHorizon) {
  HorizonTable table = Load("");
  EXPECT_TRUE(result.Opened);
  EXPECT_EQ(table.Count, 0);
  table = DefaultHorizonTable();
  result = LoadHorizonFile(dir / "missing.txt", table);
  EXPECT_FALSE(result.Opened);
  EXPECT_EQ(table.Count, 0);
  EXPECT_EQ(HorizonAltitude(table, 100), 0);
  EXPECT_TRUE(IsAboveHorizon(table, 100, 0));
  EXPECT_FALSE(IsAboveHorizon(table, 100, -0.1));
}

TEST_F(Horizon, KeepsTheFirst200PointsAndCountsTheRest) {
  std::string content;
  for (int i = 0; i < 250; ++i) content += std::to_string(i) + " " + std::to_string(i % 9) + "\n";
  const HorizonTable table = Load(content);
  ASSERT_EQ(table.Count, 200);
  EXPECT_EQ(result.Accepted, 200);
  EXPECT_EQ(result.Ignored, 50);
  EXPECT_EQ(table.Points[0].Azimuth, 199) << "point 1 is the last line kept";
  EXPECT_EQ(table.Points[199].Azimuth, 0);
}

}  // namespace
}  // namespace noctarbel
