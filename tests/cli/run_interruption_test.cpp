// A night that is stopped, killed or cut off: signals act as Stop (the clean-up runs, the exit
// status is 128 + the signal), the log is in its file line by line as it is logged, a killed
// night goes on with --resume without replacing what was saved, and a log that cannot be
// written is not reported as written.

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "roof_emulator.h"
#include "station/settings.h"
#include "tests/cli_runner.h"

namespace noctarbel::testing {
namespace {

// Enough bin-1 images in rows without start times that a signal finds the night mid-way.
const char* kPlan =
    "UT(h);UT(m);UT(s);Object name;RA(h);RA(m);RA(s);DEC(°);DEC(');DEC(\");exp.(s);bin/zoom;filter(1..n);number;"
    "filename;Pause(s);\n"
    "18;0;0;Open roof;ZA;;;;;;;;;;;;\n"
    ";;;M 31;00;42;44.3;41;16;9;60;1;1;8;m31;;\n"
    ";;;M 33;01;33;50.9;30;39;37;30;1;12;3;m33;;\n"
    ";;;M 1;05;34;31.9;22;0;52;30;1;1;4;m1;;\n";
const std::string kStart = "2026-12-07 17:50:00";

class RunInterruption : public ::testing::Test {
 protected:
  RunInterruption() { WriteFile(scratch / "plan.csv", kPlan); }

  std::vector<std::string> SimulatedRun(const TempDir& station, bool resume = false) const {
    std::vector<std::string> args = {"--home", station.Path().string(), "run", (scratch / "plan.csv").string()};
    args.insert(args.end(), {"--simulate", "--no-corrections", "--json-events", "--start", kStart});
    if (resume) args.push_back("--resume");
    return args;
  }
  // Waits until the started run has printed `count` "saved" events (or ended).
  void AwaitSaved(pid_t pid, int count) const {
    for (int i = 0; i < 2000; ++i) {
      const std::string out = ReadFile(scratch / "cli.out");
      int saved = 0;
      for (size_t at = out.find("\"saved\""); at != std::string::npos; at = out.find("\"saved\"", at + 1)) ++saved;
      siginfo_t ended{};
      if (saved >= count ||
          (waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 && ended.si_pid == pid)) {
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  // The last line printed: the summary.
  nlohmann::json Summary() const {
    std::string out = ReadFile(scratch / "cli.out");
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return nlohmann::json::parse(out.substr(out.rfind('\n') + 1));
  }
  // The log lines the run printed as events, in order.
  std::vector<std::string> LoggedLines() const {
    std::vector<std::string> lines;
    std::istringstream out(ReadFile(scratch / "cli.out"));
    for (std::string line; std::getline(out, line);) {
      auto event = nlohmann::json::parse(line, nullptr, false);
      if (event.is_object() && event["event"] == "log") lines.push_back(event["line"]);
    }
    return lines;
  }

  TempDir home;
  TempDir scratch;
};

std::map<std::string, std::string> FilesIn(const std::filesystem::path& folder) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    files[entry.path().filename().string()] = ReadFile(entry.path());
  }
  return files;
}

std::set<std::string> ImageNames(const std::map<std::string, std::string>& files) {
  std::set<std::string> names;
  for (const auto& [name, content] : files) {
    if (name.ends_with(".fit")) names.insert(name);
  }
  return names;
}

// Every line the run logged is in the file, as it was logged, each with CR LF.
void ExpectLogFileEndsWith(const std::filesystem::path& file, const std::vector<std::string>& logged) {
  std::string expected;
  for (const std::string& line : logged) expected += line + "\r\n";
  const std::string text = ReadFile(file);
  ASSERT_FALSE(logged.empty());
  EXPECT_TRUE(text.ends_with(expected)) << text;
}

TEST_F(RunInterruption, SignalsStopASimulatedNightAndTheCleanUpRuns) {
  std::mt19937 random(20);
  for (int number : {SIGTERM, SIGINT, SIGHUP}) {
    TempDir station;
    const pid_t pid = StartCli(NOCTARBEL_CLI, SimulatedRun(station), scratch);
    AwaitSaved(pid, 1 + static_cast<int>(random() % 6));
    kill(pid, number);
    ASSERT_EQ(WaitCli(pid), 128 + number) << ReadFile(scratch / "cli.err");
    const nlohmann::json summary = Summary();
    EXPECT_EQ(summary["event"], "summary");
    EXPECT_EQ(summary["aborted"], true);
    EXPECT_EQ(summary["roof_closed"], true);
    EXPECT_EQ(summary["parked"], true);
    EXPECT_EQ(summary["log_saved"], true);
    EXPECT_EQ(summary["report"], (station / "images/night.html").string());
    ExpectLogFileEndsWith(station / "images/logfile.txt", LoggedLines());
    EXPECT_NE(ReadFile(scratch / "cli.err").find("The run was stopped by"), std::string::npos);
  }
}

class RealClockNight : public RunInterruption {
 protected:
  // The roof emulator as the station's controller; a plan of `frames` one-second frames with
  // the telescope at its park position, so that the night is short on the real clock.
  std::unique_ptr<roofsim::PtyEmulator> Observatory(bool open, int frames) {
    roofsim::RoofConfig config;
    config.TravelSeconds = 1;
    config.StartOpen = open;
    auto roof = roofsim::PtyEmulator::Roof(config);
    SettingsRecord settings;
    settings.TelescopeObject = "sim:telescope";
    settings.CameraObject = "sim:camera";
    settings.EnableObservatoryControl = true;
    settings.SerialPortPattern = roof->Path();
    settings.TempComport1 = 0;
    EXPECT_TRUE(SaveSettingsFile(home / "noctarbel.ini", settings));
    const std::string plan(kPlan);
    WriteFile(scratch / "real.csv", plan.substr(0, plan.find("18;0;0")) +
                                        (open ? "" : ";;;Open roof;ZA;;;;;;;;;;;;\n") + ";;;Frames;;;;;;;1;2;1;" +
                                        std::to_string(frames) + ";frame;;\n");
    return roof;
  }
  pid_t Start() {
    return StartCli(NOCTARBEL_CLI,
                    {"--home", home.Path().string(), "run", (scratch / "real.csv").string(),
                     "--allow-simulated-telescope", "--no-corrections", "--json-events"},
                    scratch);
  }
};

TEST_F(RealClockNight, SignalsStopItAndTheRoofCloses) {
  auto roof = Observatory(false, 20);
  const pid_t pid = Start();
  AwaitSaved(pid, 1);
  kill(pid, SIGTERM);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  kill(pid, SIGINT);  // during the clean-up: it goes on
  ASSERT_EQ(WaitCli(pid), 128 + SIGTERM) << ReadFile(scratch / "cli.err");
  EXPECT_EQ(roof->RoofStatus() & 0x03, 0x02);  // the closed switch
  const nlohmann::json summary = Summary();
  EXPECT_EQ(summary["roof_closed"], true);
  EXPECT_EQ(summary["parked"], true);
  EXPECT_NE(ReadFile(scratch / "cli.err").find("SIGINT again: the clean-up is finishing"), std::string::npos);
  ExpectLogFileEndsWith(home / "images/logfile.txt", LoggedLines());
}

TEST_F(RealClockNight, AFinalCloseThatFailedIsNeverSuccess) {
  auto roof = Observatory(true, 2);
  const pid_t pid = Start();
  AwaitSaved(pid, 1);
  roof->SetFault(roofsim::RoofFault::NoReply);
  EXPECT_EQ(WaitCli(pid), 1);
  EXPECT_NE(ReadFile(scratch / "cli.err").find("The night did not end safely: "), std::string::npos)
      << ReadFile(scratch / "cli.err");
  EXPECT_EQ(Summary()["roof_closed"], false);
}

// Killed at seeded random moments, each night goes on with --resume: the same images as a
// night never killed, nothing saved before the kill changed, no temporary file left.
TEST_F(RunInterruption, AKilledNightResumesWithoutReplacingItsImages) {
  TempDir whole;
  ASSERT_EQ(WaitCli(StartCli(NOCTARBEL_CLI, SimulatedRun(whole), scratch)), 0) << ReadFile(scratch / "cli.err");
  const std::set<std::string> expected = ImageNames(FilesIn(whole / "images"));
  ASSERT_EQ(expected.size(), 18u);

  std::mt19937 random(7);
  for (int run = 0; run < 20; ++run) {
    TempDir station;
    const pid_t pid = StartCli(NOCTARBEL_CLI, SimulatedRun(station), scratch);
    AwaitSaved(pid, static_cast<int>(random() % 16));
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
    kill(pid, SIGKILL);
    if (WaitCli(pid) == 0) continue;  // the night was quicker than the kill
    const std::map<std::string, std::string> before = FilesIn(station / "images");

    ASSERT_EQ(WaitCli(StartCli(NOCTARBEL_CLI, SimulatedRun(station, true), scratch)), 0)
        << run << ReadFile(scratch / "cli.err");
    const std::map<std::string, std::string> after = FilesIn(station / "images");
    EXPECT_EQ(ImageNames(after), expected) << run;
    for (const auto& [name, content] : before) {
      if (name.find(".tmp") != std::string::npos || !name.ends_with(".fit")) continue;
      EXPECT_TRUE(after.count(name) && after.at(name) == content) << run << " " << name << " changed";
    }
    for (const auto& [name, content] : after) EXPECT_EQ(name.find(".tmp"), std::string::npos) << run << " " << name;
    if (!before.count("run-journal.jsonl")) continue;  // killed before the night began
    EXPECT_NE(ReadFile(station / "images/logfile.txt").find(": Resumed the night "), std::string::npos) << run;
    EXPECT_EQ(Summary()["resumed"], true);
  }
}

TEST_F(RunInterruption, AJournalOfAnotherPlanOrAFinishedNightIsNotResumed) {
  std::filesystem::create_directories(home / "images");
  WriteFile(home / "images/run-journal.jsonl",
            R"({"event":"run-start","plan":"/elsewhere/other.csv","checksum":"0123456789abcdef","resumed":false})"
            "\n");
  EXPECT_EQ(WaitCli(StartCli(NOCTARBEL_CLI, SimulatedRun(home, true), scratch)), 1);
  EXPECT_EQ(ReadFile(scratch / "cli.err").find("Not resumed: the journal "), 15u) << ReadFile(scratch / "cli.err");
  EXPECT_NE(ReadFile(scratch / "cli.err").find("is of another plan (/elsewhere/other.csv"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(home / "images/logfile.txt"));

  // A night that went to its end has nothing left to resume.
  ASSERT_EQ(WaitCli(StartCli(NOCTARBEL_CLI, SimulatedRun(home), scratch)), 0) << ReadFile(scratch / "cli.err");
  EXPECT_EQ(WaitCli(StartCli(NOCTARBEL_CLI, SimulatedRun(home, true), scratch)), 1);
  EXPECT_NE(ReadFile(scratch / "cli.err").find("was completed: nothing to resume"), std::string::npos);
}

TEST_F(RunInterruption, ALogThatCannotBeWrittenIsSaidAndCopiedToTheStationFolder) {
  // A folder where the log file should be: the images go in, the log cannot.
  std::filesystem::create_directories(home / "images/logfile.txt");
  const pid_t pid = StartCli(NOCTARBEL_CLI, SimulatedRun(home), scratch);
  EXPECT_EQ(WaitCli(pid), 3);
  const std::string err = ReadFile(scratch / "cli.err");
  EXPECT_NE(err.find("The log cannot be written as it goes"), std::string::npos) << err;
  EXPECT_NE(err.find("The log was not written to"), std::string::npos) << err;
  EXPECT_EQ(Summary()["log_saved"], false);
  EXPECT_EQ(Summary()["images"], 18);
  ExpectLogFileEndsWith(home / "logfile.txt", LoggedLines());
}

}  // namespace
}  // namespace noctarbel::testing
