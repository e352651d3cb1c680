// The command line as a script or an operator uses it.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include <nlohmann/json.hpp>

#include "tests/cli_runner.h"

namespace noctarbel {
namespace {

using testing::CliResult;
using testing::ReadFile;
using testing::ShellQuote;
using testing::TempDir;
using testing::WriteFile;

class Cli : public ::testing::Test {
 protected:
  CliResult Run(const std::string& args) {
    return testing::RunCli(NOCTARBEL_CLI, "--home " + ShellQuote((dir / "station").string()) + " " + args, scratch);
  }
  TempDir dir;
  TempDir scratch;
};

TEST_F(Cli, VersionIsExact) {
  CliResult r = testing::RunCli(NOCTARBEL_CLI, "--version", scratch);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "Noctarbel V. 1.212.1\n");
}

TEST_F(Cli, SettingsListGetAndSet) {
  CliResult list = Run("settings");
  ASSERT_EQ(list.exitCode, 0) << list.err;
  EXPECT_EQ(list.out.substr(0, 31), "COM.EnableObservatoryControl=0\n");
  EXPECT_NE(list.out.find("\nGEO.Glaenge=-8.24889\n"), std::string::npos);
  EXPECT_NE(list.out.find("\nProfile.ProfileName=default\n"), std::string::npos);

  CliResult set = Run("settings --set Park1Az=12.5 --set AFexptime=0.1 --set Observername=" + ShellQuote("Anna Berg"));
  ASSERT_EQ(set.exitCode, 0) << set.err;
  EXPECT_EQ(Run("settings --get park1az").out, "12.5\n");
  EXPECT_EQ(Run("settings --get AFexptime").out, "0.100000001490116\n");
  EXPECT_NE(ReadFile(dir / "station" / "noctarbel.ini").find("Observername=Anna Berg\r\n"), std::string::npos);
}

// The rules are the settings' own; the command says their message and saves nothing.
TEST_F(Cli, BadSettingValuesAreRefusedWithTheDialogsMessage) {
  CliResult r = Run("settings --set Park1Az=1 --set HistogramMaxLevel=high");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, "noctarbel-cli: Histogram max level not correct\n");
  EXPECT_EQ(Run("settings --get NoSuchKey").exitCode, 2);
  EXPECT_FALSE(std::filesystem::exists(dir / "station" / "noctarbel.ini")) << "nothing saved on refusal";
}

TEST_F(Cli, PlanShowAndConvert) {
  WriteFile(dir / "plan.csv", "header;\r\n22;0;0;M 51;13;29;52.7;47;11;43;300;2;123;3;;60;\r\n\r\n;;;;P1;\r\n");
  CliResult json = Run("plan show --json " + ShellQuote((dir / "plan.csv").string()));
  ASSERT_EQ(json.exitCode, 0) << json.err;
  auto rows = nlohmann::json::parse(json.out);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].size(), 16u);
  EXPECT_EQ(rows[0][3], "M 51");
  EXPECT_EQ(rows[1][4], "P1");

  CliResult table = Run("plan show " + ShellQuote((dir / "plan.csv").string()));
  ASSERT_EQ(table.exitCode, 0);
  EXPECT_NE(table.out.find("M 51"), std::string::npos);

  CliResult convert =
      Run("plan convert " + ShellQuote((dir / "plan.csv").string()) + " " + ShellQuote((dir / "out.csv").string()));
  ASSERT_EQ(convert.exitCode, 0) << convert.err;
  std::string out = ReadFile(dir / "out.csv");
  EXPECT_EQ(out.substr(out.find("\r\n") + 2),
            "22;0;0;M 51;13;29;52.7;47;11;43;300;2;123;3;;60;\r\n;;;;P1;;;;;;;;;;;;\r\n");
}

// What a script sees of a usage error: one line on stderr, beginning like every message of the
// program, and exit code 2.
void ExpectUsageError(const CliResult& r, const std::string& args) {
  EXPECT_EQ(r.exitCode, 2) << args << ": " << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << args << ": " << r.err;
  ASSERT_EQ(r.err.rfind("noctarbel-cli: ", 0), 0u) << args << ": " << r.err;
  const char first = r.err[std::string("noctarbel-cli: ").size()];
  EXPECT_TRUE(std::isupper(static_cast<unsigned char>(first)) || first == '-') << args << ": " << r.err;
  EXPECT_EQ(r.out, "") << args;
}

TEST_F(Cli, EveryUsageErrorIsOneLineWithExitCode2) {
  WriteFile(dir / "plan.csv", "header;\r\n");
  const std::string plan = ShellQuote((dir / "plan.csv").string());
  for (const std::string& args : std::vector<std::string>{
           "settings --get", "settings --set", "settings --set Glaenge", "settings --set CameraMode=2",
           "settings --set " + ShellQuote("Observername=Anna "), "no-such-command", "plan", "plan show", "plan nope",
           "plan show " + plan + " --bogus", "measure --radius 0 x.fit", "measure --radius abc x.fit",
           "render x.fit y.jpg --gamma 0", "render x.fit y.jpg --lo 5", "lst --at 25:00", "roof", "roof shut",
           "roof open --port ''", "focus", "focus calibrate --simulate --positions 4",
           "focus calibrate --simulate --save", "focus auto --filter 10", "center --sync 25 10",
           "center --sync 10 95", "center --sync 10", "guide-test --move 5",
           "focus calibrate --position 200 --range 500", "run " + plan + " --simulate --rain-at tonight"}) {
    ExpectUsageError(Run(args), args);
  }
  EXPECT_EQ(Run("settings --set CameraMode=2").err, "noctarbel-cli: CameraMode cannot be changed: it is always 0\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "station" / "noctarbel.ini")) << "nothing saved on refusal";
  EXPECT_EQ(Run("no-such-command").err, "noctarbel-cli: Unknown command no-such-command\n");
}

TEST_F(Cli, AStationFolderThatIsAFileOrCannotBeMadeIsAUsageErrorForEveryCommand) {
  WriteFile(dir / "file", "not a folder");
  WriteFile(dir / "plan.csv", "header;\r\n;;;M 51;\r\n");
  const std::string plan = ShellQuote((dir / "plan.csv").string());
  for (const std::string& home : {(dir / "file").string(), (dir / "file" / "station").string()}) {
    for (const std::string& command :
         std::vector<std::string>{"settings", "settings --get Glaenge", "plan show " + plan, "lookup M51",
                                  "lst --at 2026-01-01T00:00:00", "horizon", "devices", "fits stats x.fit"}) {
      const std::string args = "--home " + ShellQuote(home) + " " + command;
      CliResult r = testing::RunCli(NOCTARBEL_CLI, args, scratch);
      ExpectUsageError(r, args);
      EXPECT_NE(r.err.find("station folder " + home), std::string::npos) << r.err;
    }
  }
  EXPECT_EQ(ReadFile(dir / "file"), "not a folder");
}

TEST_F(Cli, ErrorsAreOneLineAndNonZero) {
  CliResult r = Run("plan show " + ShellQuote((dir / "missing.csv").string()));
  EXPECT_NE(r.exitCode, 0);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  WriteFile(dir / "bin.csv", std::string("\0\0\0", 3));
  r = Run("plan show " + ShellQuote((dir / "bin.csv").string()));
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("not a plan file"), std::string::npos);
}

}  // namespace
}  // namespace noctarbel
