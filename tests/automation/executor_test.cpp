// The plan rows as the executor reads them, the start-time rule, and the test run on its
// simulated clock: what it foresees and how long it thinks each step takes.

#include <cmath>

#include "automation/live_row_actions.h"
#include "automation/night_timeline.h"
#include "automation/plan_row.h"
#include "station/settings.h"
#include "tests/automation/night_fixture.h"
#include "windows/astro_window.h"
#include "windows/plan_window.h"

namespace noctarbel::testing {
namespace {

RowCells Row(const std::string& line) {
  RowCells cells = {"1"};
  const PlanRow row = SplitPlanLine(line);
  cells.insert(cells.end(), row.begin(), row.end());
  return cells;
}

TEST(PlanRowCells, PositionsExposuresAndFiltersReadAsTheOperatorTypedThem) {
  SettingsRecord settings;
  settings.Standardfilter = 2;
  settings.SyncBinning = 2;
  settings.AFexptime = 3;

  // The sign belongs to the whole declination, also where the degrees are "-0".
  auto south = ParseTargetPosition(Row(";;;x;05;30;0;-0;30;0;10;;;;;;"));
  ASSERT_TRUE(south);
  EXPECT_DOUBLE_EQ(south->RaHours, 5.5);
  EXPECT_DOUBLE_EQ(south->DecDeg, -0.5);
  EXPECT_DOUBLE_EQ(ParseTargetPosition(Row(";;;x;05;30;0;-12;30;0;;;;;;"))->DecDeg, -12.5);
  EXPECT_FALSE(ParseTargetPosition(Row(";;;x;M31;;;;;;;;;;;;")));
  EXPECT_FALSE(ParseTargetPosition(Row(";;;x;25;0;0;10;0;0;;;;;;")));

  // k sub-exposures of t seconds, binning and zoom, up to five filters of the cell.
  auto summed = ParseRowExposure(Row(";;;;;;;;;;3*20;2/2; 123456 ;2;;"), 7, settings);
  ASSERT_TRUE(summed);
  EXPECT_EQ(summed->Kind, ExposureKind::Images);
  EXPECT_EQ(summed->SubExposures, 3);
  EXPECT_DOUBLE_EQ(summed->Seconds, 20);
  EXPECT_EQ(summed->Binning, 2);
  EXPECT_DOUBLE_EQ(summed->Zoom, 2);
  EXPECT_EQ(summed->Filters, (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(summed->Number, 2);
  EXPECT_EQ(summed->Base, "img7_");
  EXPECT_EQ(summed->Pause, settings.CameraPauseTime);

  auto shift = ParseRowExposure(Row(";;;;;;;;;;FS;;;40;;"), 1, settings);
  ASSERT_TRUE(shift);
  EXPECT_EQ(shift->Kind, ExposureKind::FocusShift);
  EXPECT_EQ(shift->FocusShift, 40);

  // An AF or SY row without a filter takes the standard filter and writes it into the row.
  auto focus = ParseRowExposure(Row(";;;;;;;;;;AF;;;;;"), 1, settings);
  EXPECT_EQ(focus->Binning, 3);
  EXPECT_DOUBLE_EQ(focus->Seconds, 3);
  EXPECT_TRUE(focus->WriteStandardFilter);
  EXPECT_EQ(focus->Filters, std::vector<int>{2});
  auto sync = ParseRowExposure(Row(";;;;;;;;;;SY 3*2;;4;;;"), 1, settings);
  EXPECT_EQ(sync->SubExposures, 3);
  EXPECT_DOUBLE_EQ(sync->Seconds, 2);
  EXPECT_EQ(sync->Binning, 2);
  EXPECT_EQ(sync->Filters, std::vector<int>{4});

  auto noPause = ParseRowExposure(Row(";;;;;;;;;;10;;;;m;0"), 1, settings);
  EXPECT_TRUE(noPause->NoSettlingPause);
  for (const char* bad : {";;;;;;;;;;ten;;;;;", ";;;;;;;;;;10;0;;;;", ";;;;;;;;;;10;2/0.5;;;;", ";;;;;;;;;;10;;1a;;;",
                          ";;;;;;;;;;10;;;0;;", ";;;;;;;;;;10;;;;;-5"}) {
    EXPECT_FALSE(ParseRowExposure(Row(bad), 1, settings)) << bad;
  }
}

TEST(StartTime, IsTheNearestOccurrenceWithinTwelveHours) {
  const StartTime ten{22, 0, 0};
  const DateTime day = EncodeDateTime(2026, 12, 6, 0, 0, 0);
  // At 23:00 the row is an hour late and runs at once; at 12:00 it waits ten hours; at 09:00
  // 22:00 is thirteen hours ahead, so it counts as yesterday's and runs at once.
  EXPECT_NEAR(DaysUntil(ten, day + 23.0 / 24), -1.0 / 24, 1e-9);
  EXPECT_NEAR(DaysUntil(ten, day + 12.0 / 24), 10.0 / 24, 1e-9);
  EXPECT_NEAR(DaysUntil(ten, day + 9.0 / 24), -11.0 / 24, 1e-9);
  // Past midnight: 01:00 is waited for from 23:30 the evening before.
  EXPECT_NEAR(DaysUntil(StartTime{1, 0, 0}, day + 23.5 / 24), 1.5 / 24, 1e-9);
  // A time that does not read is no start time: the row runs at once.
  EXPECT_FALSE(ParseStartTime(Row("x;0;0;garbled;T1;;;;;;;;;;;")));
}

// The colour of the time line's picture, 1200 pixels wide, at `when` in the bar of the row
// with index `row`: the hours from the first row's to the last row's are spread over the width
// beside the names.
std::vector<int> TimelineColour(const std::vector<RowSpan>& timeline, DateTime when, int row) {
  const Picture picture = RenderNightTimeline(timeline, 1200);
  const double firstHour = std::floor(timeline.front().Start * 24);
  const double lastHour = std::ceil(timeline.back().End * 24);
  const int x =
      16 + 260 + static_cast<int>(std::lround((when * 24 - firstHour) / (lastHour - firstHour) * (1200 - 32 - 260)));
  const int y = 16 + 28 + 22 + row * 20 + 10;
  const size_t at = (static_cast<size_t>(y) * picture.Width + x) * 3;
  return std::vector<int>(picture.Pixels.begin() + at, picture.Pixels.begin() + at + 3);
}

class TestRun : public NightFixture {
 protected:
  int Check(DateTime start) { return RunTestPlan(*station, start, events); }
  // The log line's time stamp ("2026-12-06 18:06:15") of the first line holding `text`.
  std::string StampOf(const std::string& text) {
    const long at = LogIndex(text);
    return at < 0 ? std::string() : LogLines()[static_cast<size_t>(at)].substr(0, 19);
  }
};

TEST_F(TestRun, ForeseesObjectsBelowTheHorizonAndMeridianFlipsAndTimesEachStep) {
  const DateTime at19 = Utc(19, 0);
  const double lst = StationSiderealTime(*station, at19);
  // 10 degrees east of the meridian at 19:00, exposed for an hour: it crosses the meridian.
  const std::string east = PositionCells(lst + 10.0 / 15, 20);
  // 3 degrees east at 20:30 and a short exposure: no flip needed.
  const std::string nearMeridian = PositionCells(StationSiderealTime(*station, Utc(20, 30)) + 3.0 / 15, 20);
  Plan({"18;0;0;Summed;" + PositionCells(lst - 1, 30) + ";3*20;2;12;2;s;10",
        ";;;Never rises;05;23;34;-69;45;22;10;;;;;", ";;;Tracking off;T0;;;;;;;;;;;", ";;;Tracking on;T1;;;;;;;;;;;",
        "19;0;0;Flip;" + east + ";3600;;;;f;", "20;30;0;No flip;" + nearMeridian + ";60;;;;n;",
        "23;30;0;Late;;;;;;;;;;;;", "1;0;0;After midnight;;;;;;;;;;;;"});
  station->Settings.CameraReadTime = 5;
  station->Settings.MeridianFlip = false;  // a fork mount: a crossing is a problem

  EXPECT_EQ(Check(Utc(17, 0)), 2);
  EXPECT_EQ(ui.LastMessage(), "2 errors found");
  EXPECT_TRUE(LogHas(": Object Never rises not visible"));
  EXPECT_TRUE(LogHas(": Objekt Flip: Meridianflip erforderlich"));
  EXPECT_FALSE(LogHas("No flip: Meridianflip"));
  // Slew 0.0007 days, settle 5 s, then 2 images x 2 filters of 3 x (2.5 s read-out + 20 s)
  // and a 10 s pause each: 310 s.
  EXPECT_EQ(StampOf(": exposed 2 images *2 filters"), "2026-12-06 18:06:15");
  // T0 and T1 say nothing.
  ASSERT_GE(rowLogStart.size(), 5u);
  EXPECT_EQ(rowLogStart[3], rowLogStart[4]);
  // 01:00 after 23:30 is the next day's (and the row without a target settles for 5 s).
  EXPECT_NEAR(station->Run.TestClock, Utc(1, 0, 5, 7), 1e-9);
  EXPECT_FALSE(station->Run.TestMode);
  EXPECT_TRUE(station->Main.Enabled("ExecuteButton"));

  // The time line: each row from the end of its wait to its end, the foreseen problems marked.
  const std::vector<RowSpan>& timeline = station->Run.Timeline;
  ASSERT_EQ(timeline.size(), 8u);
  EXPECT_EQ(timeline[0].Outcome, RowOutcome::Done);
  EXPECT_NEAR(timeline[0].Start, Utc(18, 0), 1e-9);
  EXPECT_NEAR((timeline[0].End - timeline[0].Start) * kSecondsPerDay, 0.0007 * kSecondsPerDay + 5 + 310, 1e-3);
  EXPECT_EQ(timeline[1].Outcome, RowOutcome::Problem);
  EXPECT_EQ(timeline[4].Outcome, RowOutcome::Problem);
  EXPECT_EQ(timeline[5].Outcome, RowOutcome::Done);
  EXPECT_EQ(timeline[4].Name, "Flip");
  // Its picture: the flip row's bar is drawn in the problem colour in the middle of its hour.
  EXPECT_EQ(TimelineColour(timeline, (timeline[4].Start + timeline[4].End) / 2, 4), (std::vector<int>{236, 150, 30}));
}

// With meridian flips on, a row across the meridian is no problem: the test run plans the
// flip as the run makes it (the image that would not end before the flip time waits, the log
// says so at the flip time, the pause and the slew follow) and the row's end includes it.
TEST_F(TestRun, PlansTheMeridianFlipOfARowAcrossTheMeridian) {
  const DateTime start = Utc(19, 0);
  Plan({"19;0;0;Transit;" + PositionCells(StationSiderealTime(*station, start) + 0.5, 30) + ";300;;;20;t;0"});
  station->Settings.CameraReadTime = 0;
  EXPECT_EQ(Check(Utc(18, 0)), 0);
  EXPECT_FALSE(LogHas("Meridianflip erforderlich"));
  const long flipLine = LogIndex(": Meridian flip: Transit passed the meridian at 19:");
  ASSERT_GE(flipLine, 0);
  EXPECT_GE(LogIndex(": Meridian flip: the next image of Transit (300 s) would not end before the flip at"), 0);
  const RowSpan& row = station->Run.Timeline.back();
  ASSERT_EQ(row.Flips.size(), 1u);
  EXPECT_EQ(row.Outcome, RowOutcome::Done);
  EXPECT_EQ(StampOf(": Meridian flip: Transit passed"), FormatDateTime(row.Flips[0]));
  EXPECT_GT(row.Flips[0], Utc(19, 30));
  EXPECT_LT(row.Flips[0], Utc(19, 40));
  // Slew and settle, 20 images, the pause before the flip, its slew and settling, and the wait
  // for the flip (less than an image).
  const double seconds = (row.End - row.Start) * kSecondsPerDay;
  const double flipSeconds = 0.0007 * kSecondsPerDay * 2 + 5 * 2 + 20 * 300 + 30;
  EXPECT_GE(seconds, flipSeconds);
  EXPECT_LT(seconds, flipSeconds + 300);
  // The time line strokes the row's bar at the flip.
  EXPECT_EQ(TimelineColour(station->Run.Timeline, row.Flips[0], 0), (std::vector<int>{110, 110, 110}));
}

TEST_F(TestRun, TheCheckDialogStartsAtTheTimeTypedAndRefusesAnUnreadableOne) {
  Plan({"18;0;0;Never rises;05;23;34;-69;45;22;10;;;;;"});
  Controls& form = station->Form("TestForm1");
  ui.modalActions.push_back([&] {
    form.SetText("DateEdit", "2026-12-06");
    form.SetText("TimeEdit", "25:00:00");
    station->Activate("TestForm1", "Startbutton");
    EXPECT_EQ(ui.LastMessage(), "'2026-12-06 25:00:00' is not a valid date and time");
    form.SetText("TimeEdit", "17:00:00");
    station->Activate("TestForm1", "Startbutton");
  });
  station->Activate("PilotForm1", "CheckButton");
  EXPECT_EQ(ui.LastMessage(), "1 errors found");
  EXPECT_EQ(StampOf(": Object Never rises not visible"), "2026-12-06 18:00:00");
}

}  // namespace
}  // namespace noctarbel::testing
