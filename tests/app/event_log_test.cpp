#include "app/event_log.h"

#include <gtest/gtest.h>

#include "app/station.h"
#include "tests/station_fixture.h"

namespace noctarbel {
namespace {

using testing::ReadFile;

class EventLogTest : public testing::StationFixture {};

TEST_F(EventLogTest, TimedLinesUseLocalTimeInRealRunsAndTheTestClockInTestRuns) {
  station->LogTimed(": Going to park position 1");
  EXPECT_EQ(station->Log.Last(), "2026-12-06 19:00:00: Going to park position 1") << "local time is UTC + 1 here";
  station->Run.TestMode = true;
  station->Run.TestClock = EncodeDate(2026, 12, 7);
  station->LogTimed(": Going to object M 51");
  EXPECT_EQ(station->Log.Last(), "2026-12-07: Going to object M 51") << "only the date at exactly midnight";
  station->LogUntimed("Altitude=45.12");
  EXPECT_EQ(station->Log.Last(), "Altitude=45.12");
}

TEST_F(EventLogTest, SavedNextToTheStationWhenNoImagePathIsSet) {
  station->LogUntimed("---------- Autopilot Start ----------------");
  station->LogUntimed("Time: local system time");
  ASSERT_TRUE(SaveLogFile(*station));
  EXPECT_EQ(ReadFile(dir / "logfile.txt"),
            "---------- Autopilot Start ----------------\r\nTime: local system time\r\n");
}

TEST_F(EventLogTest, ImagePathWithoutTrailingSlashStillGetsTheFile) {
  std::filesystem::create_directories(dir / "images");
  station->Main.SetText("ImgPathEdit", (dir / "images").string());
  station->LogUntimed("run 1");
  ASSERT_TRUE(SaveLogFile(*station));
  station->LogUntimed("run 2");
  ASSERT_TRUE(SaveLogFile(*station));
  EXPECT_EQ(ReadFile(dir / "images" / "logfile.txt"), "run 1\r\nrun 2\r\n") << "the file holds both runs";
}

TEST_F(EventLogTest, ARelativeImagePathCountsFromTheStationFolder) {
  std::filesystem::create_directories(dir / "images");
  station->Main.SetText("ImgPathEdit", "images/");
  station->LogUntimed("run 1");
  ASSERT_TRUE(SaveLogFile(*station));
  EXPECT_EQ(ReadFile(dir / "images" / "logfile.txt"), "run 1\r\n");
}

TEST_F(EventLogTest, AMessageWithLineBreaksStaysOneEntryOfTheFile) {
  station->LogTimed(": Camera error: Exposure failed\r\nUSB reset\nretrying");
  station->LogUntimed("next");
  ASSERT_EQ(station->Log.Size(), 2u);
  ASSERT_TRUE(SaveLogFile(*station));
  EXPECT_EQ(ReadFile(dir / "logfile.txt"),
            "2026-12-06 19:00:00: Camera error: Exposure failed USB reset retrying\r\nnext\r\n");
}

TEST_F(EventLogTest, UnwritableFolderFailsQuietlyAndKeepsTheLines) {
  station->Main.SetText("ImgPathEdit", (dir / "not" / "there").string());
  station->LogUntimed("keep me");
  EXPECT_FALSE(SaveLogFile(*station));
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(station->Log.Lines(), (std::vector<std::string>{"keep me"}));
}

TEST(EventLog, ObserversSeeAppendsAndReplacements) {
  EventLog log;
  std::vector<long> seen;
  log.Subscribe([&](long index) { seen.push_back(index); });
  log.Append("a");
  log.Append("b");
  log.ReplaceAll({"typed by the operator"});
  EXPECT_EQ(seen, (std::vector<long>{0, 1, -1}));
  EXPECT_EQ(log.Size(), 1u);
}

}  // namespace
}  // namespace noctarbel
