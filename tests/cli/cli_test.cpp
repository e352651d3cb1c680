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

const std::string kDemoPlan = std::string(NOCTARBEL_SOURCE_DATA_DIR) + "/examples/demo-night.csv";

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

// What a script sees of a refusal: one line on stderr, beginning like every message of the
// program (a usage error's with a capital or the option), and nothing on stdout.
void ExpectOneLineMessage(const CliResult& r) {
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  ASSERT_EQ(r.err.rfind("noctarbel-cli: ", 0), 0u) << r.err;
  const char first = r.err[std::string("noctarbel-cli: ").size()];
  EXPECT_TRUE(r.exitCode != 2 || std::isupper(static_cast<unsigned char>(first)) || first == '-') << r.err;
  EXPECT_EQ(r.out, "");
}

// Every refusal a script can meet, with the start of its message: 2 for a usage error, 1 when
// what was asked could not be done. A refusal saves nothing.
TEST_F(Cli, EveryRefusalIsOneLineWithItsExitCode) {
  WriteFile(dir / "plan.csv", "header;\r\n");
  WriteFile(dir / "bin.csv", std::string("\0\0\0", 3));
  const std::string plan = ShellQuote((dir / "plan.csv").string());
  const std::string demo = ShellQuote(kDemoPlan);
  const std::string missing = (dir / "missing.csv").string();
  const std::string binary = (dir / "bin.csv").string();
  struct Case {
    std::string args;
    int exitCode;
    std::string says;  // what follows "noctarbel-cli: "; with its line end, all of it
  };
  const std::vector<Case> cases = {
      {"settings --get", 2, ""},
      {"settings --get NoSuchKey", 2, ""},
      {"settings --set", 2, ""},
      {"settings --set Glaenge", 2, ""},
      {"settings --set CameraMode=2", 2, "CameraMode cannot be changed: it is always 0\n"},
      {"settings --set Park1Az=1 --set HistogramMaxLevel=high", 2, "Histogram max level not correct\n"},
      {"settings --set " + ShellQuote("Observername=Anna "), 2, ""},
      {"no-such-command", 2, "Unknown command no-such-command\n"},
      {"plan", 2, ""},
      {"plan show", 2, ""},
      {"plan nope", 2, ""},
      {"plan show " + plan + " --bogus", 2, ""},
      {"plan show " + ShellQuote(missing), 1, "Cannot open " + missing + "\n"},
      {"plan show " + ShellQuote(binary), 1, binary + ": line 1 holds binary data; not a plan file\n"},
      {"measure --radius 0 x.fit", 2, ""},
      {"measure --radius abc x.fit", 2, ""},
      {"render x.fit y.jpg --gamma 0", 2, ""},
      {"render x.fit y.jpg --lo 5", 2, ""},
      {"lst --at 25:00", 2, ""},
      {"roof", 2, ""},
      {"roof shut", 2, ""},
      {"roof open --port ''", 2, ""},
      {"focus", 2, ""},
      {"focus calibrate --simulate --positions 4", 2, ""},
      {"focus calibrate --simulate --save", 2, ""},
      {"focus calibrate --position 200 --range 500", 2, ""},
      {"focus auto --filter 10", 2, ""},
      {"center --sync 25 10", 2, ""},
      {"center --sync 10 95", 2, ""},
      {"center --sync 10", 2, ""},
      {"guide-test --move 5", 2, ""},
      {"report", 2, ""},
      {"report " + ShellQuote((dir / "nothing-here").string()), 1, ""},
      {"run " + plan + " --simulate --rain-at tonight", 2, ""},
      {"run " + demo + " --pace 60", 2, "--pace is for simulated nights (--simulate)\n"},
      // Not simulated and no telescope named: the start checks refuse.
      {"run " + demo, 1, "The run did not start: Telescope not connected (click connect button)\n"},
      // A device is no plan: refused at once, never read on and on.
      {"run /dev/zero --simulate", 1, "Cannot read the plan /dev/zero: /dev/zero is not a regular file\n"},
      {"run " + ShellQuote(missing) + " --simulate", 1, "Cannot read the plan " + missing + ": "},
      // A status page beyond this computer without a token: refused before anything moves.
      {"run " + demo + " --simulate --status-page 0.0.0.0:0", 1, "The status page did not start: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const CliResult r = Run(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    ExpectOneLineMessage(r);
    EXPECT_EQ(r.err.rfind("noctarbel-cli: " + c.says, 0), 0u) << r.err;
  }
  EXPECT_NE(Run("run " + demo + " --simulate --status-page 0.0.0.0:0").err.find("StatusToken"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir / "station" / "noctarbel.ini")) << "nothing saved on refusal";
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
      SCOPED_TRACE(args);
      CliResult r = testing::RunCli(NOCTARBEL_CLI, args, scratch);
      EXPECT_EQ(r.exitCode, 2);
      ExpectOneLineMessage(r);
      EXPECT_NE(r.err.find("station folder " + home), std::string::npos) << r.err;
    }
  }
  EXPECT_EQ(ReadFile(dir / "file"), "not a folder");
}

}  // namespace
}  // namespace noctarbel
