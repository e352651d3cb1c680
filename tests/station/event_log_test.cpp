#include "station/event_log.h"

#include <gtest/gtest.h>

#include "windows/station.h"
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

// Beside the station without an image path; in the image folder, with or without a trailing
// slash and relative to the station; each save writes the whole log.
TEST_F(EventLogTest, SavedInTheImageFolderOrBesideTheStation) {
  station->LogUntimed("---------- Autopilot Start ----------------");
  ASSERT_TRUE(SaveLogFile(*station));
  EXPECT_EQ(ReadFile(dir / "logfile.txt"), "---------- Autopilot Start ----------------\r\n");

  std::filesystem::create_directories(dir / "images");
  for (const std::string& path : {(dir / "images").string(), std::string("images/")}) {
    station->Main.SetText("ImgPathEdit", path);
    station->LogUntimed("run in " + path);
    ASSERT_TRUE(SaveLogFile(*station));
    EXPECT_NE(ReadFile(dir / "images" / "logfile.txt").find("run in " + path + "\r\n"), std::string::npos) << path;
  }
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
