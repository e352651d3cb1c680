#include "automation/plan_file.h"
#include "windows/plan_table_window.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "astro/catalogue.h"
#include "astro/horizon.h"
#include "station/settings.h"

#include "tests/station_fixture.h"
#include "windows/main_window.h"

namespace noctarbel {
namespace {

using testing::ReadFile;
using testing::WriteFile;

const std::string kHeader =
    "UT(h);UT(m);UT(s);Object name;RA(h);RA(m);RA(s);DEC(\xC2\xB0);DEC(');DEC(\");exp.(s);"
    "bin/zoom;filter(1..n);number;filename;Pause(s);";

class PlanFile : public testing::StationFixture {
 protected:
  void SetUp() override { PilotFormCreate(*station); }
  StringGrid& grid() { return station->Planer1; }
};

TEST_F(PlanFile, AnEmptyTableSavesTheHeaderAndOneEmptyRow) {
  ASSERT_TRUE(SavePlanTable(*station, dir / "plan.csv"));
  EXPECT_EQ(ReadFile(dir / "plan.csv"), kHeader + "\r\n" + std::string(16, ';') + "\r\n");
}

TEST_F(PlanFile, LoadingFillsTheCellsAsTheyStand) {
  WriteFile(dir / "plan.csv", kHeader + "\r\n22;0;0;M 51;13;29;52.7;47;11;43;300;2;123;3;;60;\r\n");
  grid().SetRowCount(1);
  ASSERT_TRUE(LoadPlanTable(*station, dir / "plan.csv"));
  EXPECT_TRUE(ui.questions.empty()) << "only the header row: no question";
  EXPECT_EQ(grid().RowCount(), 2);
  EXPECT_EQ(grid().Row(1), (std::vector<std::string>{"1", "22", "0", "0", "M 51", "13", "29", "52.7", "47", "11", "43",
                                                     "300", "2", "123", "3", "", "60"}));
}

TEST_F(PlanFile, BackslashesSeparateAndEmptyLinesAreSkipped) {
  WriteFile(dir / "plan.txt", "whatever the header says\n\n;;;a\\b;P1\n\n;;;last\n");
  ASSERT_TRUE(LoadPlanTable(*station, dir / "plan.txt"));
  EXPECT_TRUE(ui.questions.empty()) << "an empty table has nothing to overwrite or append to";
  EXPECT_EQ(grid().RowCount(), 3);
  EXPECT_EQ(grid().Cell(4, 1), "a");
  EXPECT_EQ(grid().Cell(5, 1), "b");
  EXPECT_EQ(grid().Cell(6, 1), "P1");
  EXPECT_EQ(grid().Cell(4, 2), "last");
  EXPECT_EQ(grid().Cell(0, 2), "2");
}

TEST_F(PlanFile, OverwriteOrAppendIsAsked) {
  WriteFile(dir / "plan.csv", kHeader + "\r\n;;;first;\r\n");
  grid().SetCell(4, 1, "typed");
  ui.answers = {false};
  ASSERT_TRUE(LoadPlanTable(*station, dir / "plan.csv"));
  EXPECT_EQ(ui.questions, (std::vector<std::string>{"Table overwrite (yes) or append (no)? "}));
  EXPECT_EQ(grid().Cell(4, 1), "typed");
  EXPECT_EQ(grid().Cell(4, 2), "first");
  ui.answers = {true};
  ASSERT_TRUE(LoadPlanTable(*station, dir / "plan.csv"));
  EXPECT_EQ(grid().RowCount(), 2);
  EXPECT_EQ(grid().Cell(4, 1), "first");
}

TEST_F(PlanFile, DuringARunTheTableOnlyGrows) {
  WriteFile(dir / "plan.csv", kHeader + "\r\n;;;added;\r\n");
  grid().SetCell(4, 1, "running");
  station->Run.PlanRunning = true;
  ui.answers = {false};
  EXPECT_FALSE(LoadPlanTable(*station, dir / "plan.csv"));
  EXPECT_EQ(grid().RowCount(), 2);
  ui.answers = {true};
  ASSERT_TRUE(LoadPlanTable(*station, dir / "plan.csv"));
  EXPECT_EQ(ui.questions.back(), "Append table? ");
  EXPECT_EQ(grid().Cell(4, 1), "running");
  EXPECT_EQ(grid().Cell(4, 2), "added");
}

TEST_F(PlanFile, SavedFilesLoadBackTheSame) {
  grid().SetRowCount(4);
  for (int row = 1; row <= 3; ++row) {
    for (int col = 1; col <= 16; ++col) grid().SetCell(col, row, std::to_string(row * 100 + col));
  }
  grid().SetCell(4, 2, "NGC 7000 \xE2\x80\x9CNorth America\xE2\x80\x9D");
  ASSERT_TRUE(SavePlanTable(*station, dir / "plan.csv"));
  PlanFileContent content = ReadPlanFile(dir / "plan.csv");
  ASSERT_TRUE(content.ok);
  ASSERT_EQ(content.rows.size(), 3u);
  for (int row = 1; row <= 3; ++row) {
    EXPECT_EQ(content.rows[row - 1], PlanRow(grid().Row(row).begin() + 1, grid().Row(row).end()));
  }
}

TEST_F(PlanFile, ACellThatWouldSplitIsNotSavedSilently) {
  grid().SetCell(15, 1, "c:\\images");
  EXPECT_FALSE(SavePlanTable(*station, dir / "plan.csv"));
  EXPECT_NE(ui.LastMessage().find("row 1, column filename"), std::string::npos) << ui.LastMessage();
  EXPECT_FALSE(std::filesystem::exists(dir / "plan.csv"));
}

// A missing file is refused in silence, binary and huge ones with a reason; none changes the
// table or asks anything.
TEST_F(PlanFile, MissingBinaryAndHugeFilesAreRefused) {
  WriteFile(dir / "picture.csv", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) + "\n;;;x;\n");
  WriteFile(dir / "huge.csv", "h\n" + std::string(300000, ';') + "\n");
  grid().SetCell(4, 1, "keep");
  EXPECT_FALSE(LoadPlanTable(*station, dir / "nope.csv"));
  EXPECT_TRUE(ui.messages.empty());
  for (const auto& [file, says] : {std::pair{"picture.csv", "not a plan file"}, {"huge.csv", "is longer than"}}) {
    EXPECT_FALSE(LoadPlanTable(*station, dir / file));
    EXPECT_NE(ui.LastMessage().find(says), std::string::npos) << file;
  }
  EXPECT_EQ(grid().Cell(4, 1), "keep");
  EXPECT_TRUE(ui.questions.empty());
}

TEST(SplitPlanLine, FieldsBeyondSixteenAreIgnoredAndMissingOnesEmpty) {
  PlanRow cells = SplitPlanLine("1;2;3");
  EXPECT_EQ(cells.size(), 16u);
  EXPECT_EQ(cells[2], "3");
  EXPECT_EQ(cells[3], "");
  std::string many;
  for (int i = 0; i < 10000; ++i) many += std::to_string(i) + ";";
  cells = SplitPlanLine(many);
  EXPECT_EQ(cells.size(), 16u);
  EXPECT_EQ(cells[15], "15");
}

// Every reader of a station file opens regular files only: a device or a pipe would never
// end (or block waiting for a writer), so it is refused at once, whatever the file's name.
TEST(StationFileReaders, RefuseDevicesAndPipes) {
  testing::TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  struct Reader {
    const char* name;
    const char* content;  // a readable file of its kind; nullptr: none made here
    // True: read as a file of its kind. Nullopt: the reader has no way to say (it must return).
    std::function<std::optional<bool>(const std::filesystem::path&)> read;
  };
  const std::vector<Reader> readers = {
      {"plan", "header\r\n", [](const auto& p) { return ReadPlanFile(p).error.empty(); }},
      {"horizon", "0 10\n",
       [](const auto& p) {
         HorizonTable table;
         return LoadHorizonFile(p, table).Opened;
       }},
      {"catalogue index", nullptr,
       [&dir](const auto& p) {
         std::filesystem::remove(dir / "cat" / kNgcIndexFileName);
         std::filesystem::create_directories(dir / "cat");
         std::filesystem::create_symlink(p, dir / "cat" / kNgcIndexFileName);
         return LookupCatalogue(dir / "cat", kNgc, 1).Status != LookupStatus::FileError;
       }},
      {"settings", "[General]\r\n",
       [](const auto& p) -> std::optional<bool> {
         LoadSettingsFile(p);  // defaults for what it cannot read
         return std::nullopt;
       }},
  };
  for (const auto& reader : readers) {
    SCOPED_TRACE(reader.name);
    if (reader.content) {
      const auto file = dir / (std::string(reader.name) + ".txt");
      WriteFile(file, reader.content);
      EXPECT_NE(reader.read(file), std::optional<bool>(false));
    }
    EXPECT_NE(reader.read("/dev/zero"), std::optional<bool>(true));
    EXPECT_NE(reader.read(dir / "pipe"), std::optional<bool>(true));
  }
  // The catalogue says why.
  EXPECT_NE(LookupCatalogue(dir / "cat", kNgc, 1).Error.find("not a regular file"), std::string::npos);
}

}  // namespace
}  // namespace noctarbel
