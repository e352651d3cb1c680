// Whole nights on the simulators and the virtual clock: what a night writes, and how it ends
// when it rains, when a device fails, when the disk is full or the operator stops it.

#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <set>

#include "station/site_sky.h"
#include "tests/automation/night_fixture.h"
#include "tests/fits_check.h"
#include "windows/camera_window.h"

namespace noctarbel::testing {
namespace {

class PlanRun : public NightFixture {};

bool HasHistory(const std::string& file, const std::string& text) {
  const auto cards = CfitsioCards(file);
  return std::any_of(cards.begin(), cards.end(), [&](const std::string& card) {
    return card.rfind("HISTORY", 0) == 0 && card.find(text) != std::string::npos;
  });
}

TEST_F(PlanRun, AWholeNightWritesEveryImageInOrderAndEndsParkedAndClosed) {
  Plan({"17;10;0;Cooler on;CC;;;;;;;;;;;", "17;15;0;Open roof;ZA;;;;;;;;;;;",
        "17;20;0;Capella focus;" + std::string(kCapellaCells) + ";AF;;;;;",
        ";;;Capella sync;" + std::string(kCapellaCells) + ";SY 0.5;;;;;",
        "18;0;0;M 31;" + std::string(kM31Cells) + ";30;2/2;12;2;;0", ";;;LMC;05;23;34;-69;45;22;10;;;;lmc;",
        ";;;Tracking off;T0;;;;;;;;;;;", ";;;Tracking on;T1;;;;;;;;;;;",
        "21;0;0;M 42;05;35;17.3;-05;23;28;3*20;2;1;1;m42;0", ";;;Focus shift;;;;;;;FS;;;40;;",
        ";;;M 42 unsaved;;;;;;;10;2;1;1;-;", "4;30;0;Shut down;ZZ;;;;;;;;;;;"});
  Prepare();
  ASSERT_TRUE(RunNight()) << station->Status();

  // Images in their order: each image through every filter before the next image.
  EXPECT_EQ(saved, (std::vector<std::string>{"img5_-L-001.fit", "img5_-R-001.fit", "img5_-L-002.fit", "img5_-R-002.fit",
                                             "m42-L-001.fit"}));
  EXPECT_EQ(CfitsioValue((ImageFolder() / "img5_-R-002.fit").string(), "OBJECT"), "M 31");
  EXPECT_EQ(CfitsioValue((ImageFolder() / "img5_-R-002.fit").string(), "FILTER"), "R");
  const std::string summed = (ImageFolder() / "m42-L-001.fit").string();
  EXPECT_EQ(CfitsioValue(summed, "SUBEXP"), "20.000");
  EXPECT_DOUBLE_EQ(std::stod(CfitsioValue(summed, "EXPTIME")), 60);
  EXPECT_TRUE(HasHistory(summed, "Stack (sum) of 3 images"));

  // The row below the horizon is skipped and the night goes on; T0 and T1 log nothing.
  const long notVisible = LogIndex(": Object LMC not visible");
  ASSERT_GE(notVisible, 0);
  EXPECT_GT(LogIndex(": Positioning to object M 42", static_cast<size_t>(notVisible)), notVisible);
  EXPECT_EQ(rowLogStart.at(7), rowLogStart.at(8));

  // The focus: found by the autofocus, each filter at its own offset from it (R is 15 steps
  // out on the simulated wheel), then shifted by 40 steps for the last row.
  const int base = station->Run.BaseFocusPosition;
  EXPECT_EQ(CfitsioValue((ImageFolder() / "img5_-L-002.fit").string(), "FOCUSPOS"), std::to_string(base));
  EXPECT_EQ(CfitsioValue((ImageFolder() / "img5_-R-002.fit").string(), "FOCUSPOS"), std::to_string(base + 15));
  EXPECT_EQ(CfitsioValue(summed, "FOCUSPOS"), std::to_string(base));
  EXPECT_TRUE(LogHas(": Autofocus: focus=" + std::to_string(base)));
  EXPECT_NEAR(base, 5000, 30);
  const long shift = LogIndex("Focus shift = 40");
  ASSERT_GE(shift, 0);
  EXPECT_GE(LogIndex(": focus position: " + std::to_string(base + 40), static_cast<size_t>(shift)), 0);

  // The night ends at 04:30 with the telescope parked, the roof closed, the camera warmed up
  // and disconnected, and the log written beside the images.
  EXPECT_TRUE(LogHas("Pause until UT = 4:30:0"));
  EXPECT_GE(clock->UtcNow(), Utc(4, 30, 0, 7));
  EXPECT_EQ(station->Observatory.GetRoofState(), RoofState::Closed);
  EXPECT_TRUE(LogHas(": Shutdown"));
  EXPECT_EQ(station->Status(), "The run has ended: images and log in " + ImageFolder().string());
  EXPECT_FALSE(station->Camera.HasDriver());
  EXPECT_NE(ReadFile(ImageFolder() / "logfile.txt").find(": Shutdown"), std::string::npos);
  EXPECT_EQ(station->Run.RoofErrorState, RoofAlarm::None);
  EXPECT_TRUE(station->Main.Enabled("ExecuteButton"));
}

// No plan image replaces a file: a filter named twice, the same object again later in the
// night and a second night into the same folder each go on to the next free number (and say
// so); stacks likewise.
TEST_F(PlanRun, NoImageOrStackReplacesAFileOfTheSameName) {
  const std::string m31 = std::string(kM31Cells);
  Plan({"17;10;0;Open roof;ZA;;;;;;;;;;;", ";;;M 31;" + m31 + ";1;2;11;2;m31;0",
        ";;;M 31 again;" + m31 + ";1;2;1;1;m31;0"});
  Prepare();
  run.Stacking = true;
  ASSERT_TRUE(RunNight()) << station->Status();
  ASSERT_TRUE(RunNight()) << station->Status();

  std::vector<std::string> expected;
  for (int n = 1; n <= 10; ++n)
    expected.push_back("m31-L-" + std::string(n < 10 ? "00" : "0") + std::to_string(n) + ".fit");
  EXPECT_EQ(saved, expected);
  EXPECT_EQ(stacks, (std::vector<std::string>{"m31-L_stack.fit", "m31-L_stack-002.fit", "m31-L_stack-003.fit",
                                              "m31-L_stack-004.fit"}));
  for (const auto& name : saved) EXPECT_TRUE(std::filesystem::exists(ImageFolder() / name)) << name;
  EXPECT_TRUE(LogHas((ImageFolder() / "m31-L-001.fit").string() + " is taken: the image goes to " +
                     (ImageFolder() / "m31-L-002.fit").string()));
}

// With RootImagePath each night has its dated folder, unless the run names one; a night resumed
// after midnight is looked for in the evening's folder, where it was begun.
TEST_F(PlanRun, TheNightsFolderIsDatedAndAResumeAfterMidnightFindsTheEvenings) {
  station->Settings.RootImagePath = (dir.Path() / "nights").string();
  EXPECT_EQ(NightImageFolderFor(*station, {}), dir.Path() / "nights/2026_12_06");
  EXPECT_TRUE(EveningImageFolderFor(*station, {}).empty());
  clock->Sleep(7 * 3600 * 1000);  // 01:00 local time
  Prepare();
  EXPECT_EQ(run.ImageFolder, (dir.Path() / "nights/2026_12_07").string());
  EXPECT_EQ(EveningImageFolderFor(*station, {}), dir.Path() / "nights/2026_12_06");
  EXPECT_TRUE(EveningImageFolderFor(*station, dir.Path() / "given").empty());
  EXPECT_EQ(NightImageFolderFor(*station, dir.Path() / "given"), dir.Path() / "given");
}

// The 180-degree turn follows the side of the pier: with the rotation set for a side, exactly
// the images taken with the mount on that side are turned (and their HISTORY says so); with the
// setting off, none is. Two targets two hours either side of the meridian put the simulated
// mount on both sides in one night.
TEST_F(PlanRun, ImagesAreTurnedExactlyWhenTheMountIsOnTheConfiguredSide) {
  Prepare();
  run.Corrections = true;
  const double lst = StationSiderealTime(*station);
  for (int rotate : {0, 1, 2}) {
    SCOPED_TRACE("CameraPiersideRotate " + std::to_string(rotate));
    station->Settings.CameraPiersideRotate = rotate;
    const std::string east = "east" + std::to_string(rotate);
    const std::string west = "west" + std::to_string(rotate);
    Plan({";;;Open roof;ZA;;;;;;;;;;;", ";;;Rising;" + PositionCells(lst + 2, 50) + ";1;2;1;1;" + east + ";0",
          ";;;Setting;" + PositionCells(lst - 2, 50) + ";1;2;1;1;" + west + ";0"});
    ASSERT_TRUE(RunNight()) << station->Status();
    for (const std::string& base : {east, west}) {
      const std::string file = (ImageFolder() / (base + "-L-001.fit")).string();
      const std::string side = CfitsioValue(file, "PIERSIDE");
      ASSERT_FALSE(side.empty()) << base;
      EXPECT_EQ(HasHistory(file, "180 deg rotation"),
                rotate != 0 && side.find(std::to_string(rotate - 1)) != std::string::npos)
          << base << " " << side;
    }
    EXPECT_NE(CfitsioValue((ImageFolder() / (east + "-L-001.fit")).string(), "PIERSIDE"),
              CfitsioValue((ImageFolder() / (west + "-L-001.fit")).string(), "PIERSIDE"));
  }
}

// A row of 20 x 300 s from 30 minutes before its target transits. With meridian flips on
// the mount changes sides between two images, none of which exposes across the flip, and the
// row goes on with its numbering; with them off the simulated mount stops tracking at its
// limit past the meridian and the run stops with the reason. The row is guided while the
// mount drifts: after the flip guiding starts again on the turned field and corrects the same
// drift on the sky the same way.
TEST_F(PlanRun, ARowAcrossTheMeridianFlipsBetweenImagesOrStopsAtTheMountsLimit) {
  Prepare();
  run.Guiding = true;
  run.Stacking = true;
  station->Settings.InvertPiersideguiding = true;  // the simulated camera sees the field turned on the west side
  World().Mount.Config.DriftRaArcsecPerMin = 2;
  size_t pulsesAtFlip = 0;
  events.MeridianFlip = [&](const std::string&) { pulsesAtFlip = World().Mount.Pulses().size(); };
  for (const bool flips : {true, false}) {
    SCOPED_TRACE(flips ? "flips on" : "flips off");
    station->Settings.MeridianFlip = flips;
    Plan({";;;Open roof;ZA;;;;;;;;;;;", ";;;Transit;" + PositionCells(StationSiderealTime(*station) + 0.5, 30) +
                                            ";300;1;1;20;" + (flips ? "on" : "off") + ";0"});
    saved.clear();
    const size_t logFrom = LogLines().size();
    const bool completed = RunNight();
    const long flipLine = LogIndex("Meridian flip: Transit passed the meridian", logFrom);
    if (!flips) {
      EXPECT_FALSE(completed);
      EXPECT_EQ(flipLine, -1);
      EXPECT_GE(LogIndex("Telescope error: the mount stopped tracking during the exposure of Transit", logFrom), 0);
      EXPECT_LT(saved.size(), 20u);
      continue;
    }
    ASSERT_TRUE(completed) << station->Status();
    ASSERT_EQ(saved.size(), 20u);
    EXPECT_EQ(saved.back(), "on-L-020.fit");
    EXPECT_NE(CfitsioValue((ImageFolder() / "on-L-001.fit").string(), "PIERSIDE"),
              CfitsioValue((ImageFolder() / "on-L-020.fit").string(), "PIERSIDE"));
    ASSERT_GE(flipLine, 0);
    // The stack turns the images taken after the flip to the field of its first one.
    const long turnedLine = LogIndex("turned by 180 deg for the stack", logFrom);
    EXPECT_GT(turnedLine, flipLine);
    ASSERT_EQ(station->Run.Timeline.back().Flips.size(), 1u);
    const DateTime flipAt = station->Run.Timeline.back().Flips[0];
    // Each exposure ends before the flip or begins after it (the log's time stamps are local).
    const DateTime toUtc = station->Clock.UtcNow() - station->Clock.LocalNow();
    auto stamp = [&](size_t line) { return *ParseIsoDateTime(LogLines()[line].substr(0, 19)) + toUtc; };
    for (long at = LogIndex(": Exposure", logFrom); at >= 0; at = LogIndex(": Exposure", at + 1)) {
      const long savedAt = LogIndex(": saved to", at);
      ASSERT_GE(savedAt, 0);
      const bool before = stamp(static_cast<size_t>(savedAt)) <= flipAt + 1.0 / kSecondsPerDay;
      EXPECT_TRUE(before || stamp(static_cast<size_t>(at)) >= flipAt) << LogLines()[static_cast<size_t>(at)];
    }
    std::set<int> raBefore, raAfter;
    const auto& pulses = World().Mount.Pulses();
    for (size_t i = 0; i < pulses.size(); ++i) {
      if (pulses[i].first == kGuideEast || pulses[i].first == kGuideWest) {
        (i < pulsesAtFlip ? raBefore : raAfter).insert(pulses[i].first);
      }
    }
    EXPECT_EQ(raBefore.size(), 1u);
    EXPECT_EQ(raAfter, raBefore);
  }
}

// The moments of the short night at which a fault or a click strikes.
enum class Phase { UtWait, ParkBeforeOpening, Slew, Settle, Autofocus, Exposure, SubExposure, Pause, OperatorPause };

// Faults strike the same short night at different moments: a roof opening at 17:05, an
// autofocus at 17:10, then M 31 through two filters, two images each summed from three
// sub-exposures, with a 30 s pause between the images.
class NightFault : public NightFixture {
 protected:
  void ShortNight() {
    Plan({"17;5;0;Open roof;ZA;;;;;;;;;;;", "17;10;0;Capella focus;" + std::string(kCapellaCells) + ";AF;;;;;",
          ";;;M 31;" + std::string(kM31Cells) + ";3*20;2;12;2;m31;30"});
    Prepare();
    // The telescope stands high in the south: the park before the roof opens takes a while.
    World().Mount.PlaceAtAltAz(180, 60);
    faults->SetCheckInterval(100);
  }
  // Row 3 (M 31) is running.
  bool InM31() { return currentRow == 3; }
  // True once the night is in `phase`; the operator's pause is clicked on the way.
  std::function<bool()> In(Phase phase) {
    switch (phase) {
      case Phase::UtWait:
        return [this] { return LogHas("Pause until UT = 17:10:0"); };
      case Phase::ParkBeforeOpening:
        return [this] { return currentRow == 1 && LogHas(": Going to park position") && World().Mount.Slewing(); };
      case Phase::Slew:
        return [this] { return InM31() && World().Mount.Slewing(); };
      case Phase::Settle:
        return [this] { return InM31() && LastLogLine().rfind("Altitude=", 0) == 0 && station->Run.WaitTicks > 0; };
      case Phase::Autofocus:
        // The autofocus's own frames, after the row's first one.
        return [this] { return currentRow == 2 && ExposuresSinceRowStart() >= 2; };
      case Phase::Exposure:
        return [this] { return InM31() && World().Camera.Exposing(); };
      case Phase::SubExposure:
        return [this] { return InM31() && ExposuresSinceRowStart() >= 2 && World().Camera.Exposing(); };
      case Phase::Pause:
        return [this] { return InM31() && station->Status() == "Pause..."; };
      case Phase::OperatorPause:
        When([this] { return InM31() && saved.size() == 1; }, [this] { PauseButtonClick(*station); });
        return [this] { return LogHas(" Execution is paused.."); };
    }
    return nullptr;
  }
  int ExposuresSinceRowStart() {
    return World().Camera.ExposuresStarted() - rowExposures.at(static_cast<size_t>(currentRow));
  }

  // What the devices had been sent when `line` was logged, to compare with the end.
  struct Counts {
    bool Taken = false;
    int Slews = 0;
    int Exposures = 0;
    size_t Saved = 0;
  };
  void CountWhenLogged(const std::string& line) {
    station->Log.Subscribe([this, line](long index) {
      if (index < 0 || atLine_.Taken || LogLines()[static_cast<size_t>(index)].find(line) == std::string::npos) return;
      atLine_ = Counts{true, World().Mount.SlewsStarted(), World().Camera.ExposuresStarted(), saved.size()};
    });
  }
  // Nothing exposed or saved after the line.
  void ExpectNoExposureAfterIt() {
    ASSERT_TRUE(atLine_.Taken);
    EXPECT_EQ(World().Camera.ExposuresStarted(), atLine_.Exposures);
    EXPECT_EQ(saved.size(), atLine_.Saved);
  }
  // Nor moved: after the emergency the devices are the emergency's.
  void ExpectNothingSentAfterIt() {
    ExpectNoExposureAfterIt();
    EXPECT_EQ(World().Mount.SlewsStarted(), atLine_.Slews);
  }
  void ExpectParkedAndClosed() {
    EXPECT_EQ(station->Observatory.GetRoofState(), RoofState::Closed);
    EXPECT_TRUE(station->Mount.AtParkPosition1());
  }

 private:
  Counts atLine_;
};

class RainDuring : public NightFault, public ::testing::WithParamInterface<Phase> {};

TEST_P(RainDuring, TheTelescopeParksTheRoofClosesAndTheRunStopsWithoutAnotherCommand) {
  ShortNight();
  faults->RainWhen(In(GetParam()));
  const bool beforeOpening = GetParam() == Phase::ParkBeforeOpening;
  // Before the roof opened there is nothing to close: the opening is refused instead.
  CountWhenLogged(beforeOpening ? ": Error opening!" : " roof is closed!");

  EXPECT_FALSE(RunNight());
  ExpectParkedAndClosed();
  ExpectNothingSentAfterIt();
  if (beforeOpening) {
    EXPECT_FALSE(LogHas("Emergency"));
    EXPECT_FALSE(LogHas(": Roof is opened"));
    return;
  }
  const long emergency = LogIndex(": Emergency! Going to park position");
  ASSERT_GE(emergency, 0);
  // An exposure the emergency ended is the rain's doing, not a camera fault.
  EXPECT_FALSE(LogHas("Camera error"));
  EXPECT_NE(station->Status(), "Camera error!");
  EXPECT_GT(LogIndex(":  roof is closed!", static_cast<size_t>(emergency)), emergency);
  EXPECT_EQ(station->Run.RoofErrorState, RoofAlarm::None);
  EXPECT_NE(ReadFile(ImageFolder() / "logfile.txt").find("roof is closed!"), std::string::npos);
  EXPECT_FALSE(station->Run.PauseRequested);
  // What was saved before the rain is whole.
  for (const auto& name : saved) EXPECT_TRUE(ReadWithCfitsio((ImageFolder() / name).string()).Read) << name;
}

INSTANTIATE_TEST_SUITE_P(Phases, RainDuring,
                         ::testing::Values(Phase::UtWait, Phase::ParkBeforeOpening, Phase::Slew, Phase::Settle,
                                           Phase::Autofocus, Phase::Exposure, Phase::SubExposure, Phase::Pause,
                                           Phase::OperatorPause));

TEST_F(NightFault, ACameraThatStopsDeliveringEndsTheRunAndTheRoofStillCloses) {
  ShortNight();
  faults->CameraTimeoutWhen([this] { return InM31() && World().Camera.Exposing(); });
  CountWhenLogged(": Camera error (timeout)! aborted.");
  EXPECT_FALSE(RunNight());
  ExpectNoExposureAfterIt();
  ExpectParkedAndClosed();
  EXPECT_TRUE(saved.empty());
  EXPECT_TRUE(station->Run.CameraErrorFlag);
}

TEST_F(NightFault, AWheelThatNeverArrivesEndsTheRunAsACameraError) {
  ShortNight();
  When([this] { return InM31(); }, [this] { World().Wheel.Config.NeverArrives = true; });
  EXPECT_FALSE(RunNight());
  // Image 1 through L (the filter in place), then R is never reached.
  EXPECT_EQ(saved, std::vector<std::string>{"m31-L-001.fit"});
  EXPECT_TRUE(LogHas(": Camera error (Filter wheel did not reach filter 2"));
  ExpectParkedAndClosed();
}

TEST_F(NightFault, AFocuserThatStopsShortIsLoggedAndTheImagesAreStillTaken) {
  ShortNight();
  When([this] { return InM31(); }, [this] { World().Focuser.Config.StopShortSteps = 7; });
  EXPECT_TRUE(RunNight());
  EXPECT_TRUE(LogHas(": Focuser error: focus position"));
  EXPECT_EQ(saved.size(), 4u);
}

TEST_F(NightFault, AMountThatFailsStopsTheRunAndTheRoofStaysOverAnUnparkedTelescopeWithAnAlarm) {
  ShortNight();
  When([this] { return InM31(); }, [this] { World().Mount.Config.FailAll = true; });
  EXPECT_FALSE(RunNight());
  EXPECT_TRUE(LogHas(": Telescope error") || LogHas(": Slew to M 31 failed"));
  // Closing the roof onto a telescope that may stand in its way is worse than an open roof:
  // the alarm says so, and the log tells why.
  EXPECT_EQ(station->Observatory.GetRoofState(), RoofState::Open);
  EXPECT_EQ(station->Run.RoofErrorState, RoofAlarm::CloseFailed);
  EXPECT_TRUE(LogHas(": Error closing roof! Error closing roof: telescope not connected"));
  EXPECT_TRUE(saved.empty());
}

TEST_F(NightFault, ShutDownAfterAnEarlierRoofAlarmNeitherClosesNorShutsDown) {
  Plan({";;;Shut down;ZZ;;;;;;;;;;;"});
  Prepare();
  station->Observatory.SimRoof = RoofState::Open;
  station->Run.RoofErrorState = RoofAlarm::RainNotParked;
  run.CloseRoofAtEnd = false;
  EXPECT_FALSE(RunNight());
  EXPECT_FALSE(LogHas(": Shutdown"));
  EXPECT_FALSE(LogHas("Roof is closed"));
  EXPECT_EQ(station->Observatory.GetRoofState(), RoofState::Open);
  EXPECT_TRUE(station->Camera.HasDriver());
  EXPECT_NE(station->Status(), "Now comes shutdown");
}

// A full disk: every file larger than 64 KiB fails to be written, as on a disk with that
// much room left. The night stops at the first image it cannot keep; last night's image of
// the same name stays as it was (the new one goes to the next number).
TEST_F(NightFault, AnImageThatCannotBeSavedStopsTheRunAndKeepsTheFileItWouldReplace) {
  ShortNight();
  std::filesystem::create_directories(ImageFolder());
  WriteFile(ImageFolder() / "m31-L-001.fit", "last night's image");
  struct rlimit before {};
  getrlimit(RLIMIT_FSIZE, &before);
  const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  When([this] { return InM31(); },
       [] {
         struct rlimit small = {64 * 1024, RLIM_INFINITY};
         setrlimit(RLIMIT_FSIZE, &small);
       });
  const bool completed = RunNight();
  setrlimit(RLIMIT_FSIZE, &before);
  signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(completed);
  EXPECT_TRUE(saved.empty());
  EXPECT_TRUE(LogHas(": cannot save " + (ImageFolder() / "m31-L-002.fit").string()));
  EXPECT_EQ(ReadFile(ImageFolder() / "m31-L-001.fit"), "last night's image");
  for (const auto& entry : std::filesystem::directory_iterator(ImageFolder())) {
    const auto name = entry.path().filename();
    EXPECT_TRUE(name == "m31-L-001.fit" || name == "logfile.txt" || name == "run-journal.jsonl") << entry.path();
  }
  ExpectParkedAndClosed();
}

class StopDuring : public NightFault, public ::testing::WithParamInterface<Phase> {};

TEST_P(StopDuring, TheRunEndsAtOnceAndTheCleanUpParksAndCloses) {
  ShortNight();
  When(In(GetParam()), [this] { StopBtnClick(*station); });
  EXPECT_FALSE(RunNight());
  ExpectParkedAndClosed();
  EXPECT_FALSE(station->Run.AbortRequested);
  EXPECT_FALSE(station->Run.PlanRunning);
  EXPECT_TRUE(station->Main.Enabled("ExecuteButton"));
  EXPECT_LT(saved.size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Phases, StopDuring,
                         ::testing::Values(Phase::UtWait, Phase::Exposure, Phase::Pause, Phase::OperatorPause));

TEST_F(NightFault, PauseHoldsTheRunUntilPlay) {
  ShortNight();
  When([this] { return InM31() && saved.size() == 1; }, [this] { PauseButtonClick(*station); });
  DateTime pausedAt = 0;
  When([this] { return LogHas(" Execution is paused.."); }, [&] { pausedAt = clock->UtcNow(); });
  When([&] { return pausedAt > 0 && clock->UtcNow() > pausedAt + 600 / kSecondsPerDay; },
       [this] { PlayButtonClick(*station); });
  ASSERT_TRUE(RunNight());
  EXPECT_EQ(saved.size(), 4u);
  const long paused = LogIndex(" Execution is paused..");
  const long continued = LogIndex(" Execution is continued");
  ASSERT_GE(paused, 0);
  EXPECT_EQ(continued, paused + 1);
}

// Start in the window finds this plan's night stopped half-way in the image folder: the
// operator is asked, and Yes goes on with the next image of the row cut short.
TEST_F(NightFault, StartOffersToGoOnWithANightCutShort) {
  ShortNight();
  When([this] { return InM31() && saved.size() == 1; }, [this] { StopBtnClick(*station); });
  EXPECT_FALSE(RunNight());
  ASSERT_EQ(saved, std::vector<std::string>{"m31-L-001.fit"});
  const std::string first = ReadFile(ImageFolder() / "m31-L-001.fit");
  station->Main.SetText("ImgPathEdit", run.ImageFolder);
  ui.questions.clear();
  ExecuteButtonClick(*station);
  ASSERT_FALSE(ui.questions.empty());
  EXPECT_EQ(ui.questions.back().find("The image folder holds an unfinished night of this plan"), 0u);
  EXPECT_TRUE(LogHas(": Resumed the night in row 3 after 1 saved image; roof closed"));
  EXPECT_TRUE(ReadFile(ImageFolder() / "m31-L-001.fit") == first);
  for (const char* file : {"m31-R-001.fit", "m31-L-002.fit", "m31-R-002.fit"}) {
    EXPECT_TRUE(std::filesystem::exists(ImageFolder() / file)) << file;
  }
  // The night's report beside the log, its images those of both runs.
  const std::string report = ReadFile(ImageFolder() / "night.html");
  for (const char* file : {"m31-L-001.fit", "m31-R-001.fit", "m31-L-002.fit", "m31-R-002.fit"}) {
    EXPECT_NE(report.find(std::string("data-file=\"") + file + "\""), std::string::npos) << file;
  }
}

}  // namespace
}  // namespace noctarbel::testing
