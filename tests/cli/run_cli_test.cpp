// noctarbel-cli "check" and "run": the example night on the simulators as the README runs
// it, and how the commands report a night that went wrong.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/cli_runner.h"
#include "tests/fits_check.h"

namespace noctarbel {
namespace {

using testing::CliResult;
using testing::ShellQuote;
using testing::TempDir;
using testing::WriteFile;

const std::string kDemoPlan = std::string(NOCTARBEL_SOURCE_DATA_DIR) + "/examples/demo-night.csv";

class RunCli : public ::testing::Test {
 protected:
  RunCli() {
    // The simulated focuser's V lines, as "focus calibrate --simulate --fit --save" finds them.
    Run("settings --set AFposition=5000 --set AFLslope=-0.0345 --set AFLic=172.2 --set AFRslope=0.0345 "
        "--set AFRic=-173.3");
  }
  CliResult Run(const std::string& args) {
    return testing::RunCli(NOCTARBEL_CLI, "--home " + ShellQuote(dir.Path().string()) + " " + args, scratch);
  }
  // The --json-events lines.
  std::vector<nlohmann::json> Events(const CliResult& r) {
    std::vector<nlohmann::json> events;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) events.push_back(nlohmann::json::parse(line));
    return events;
  }
  TempDir dir;
  TempDir scratch;
};

long CountOf(const std::string& text, const std::string& part) {
  long count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

// FNV-1a of a FITS file's data unit (what follows the header's last 2880-byte block).
std::string PixelDataHash(const std::filesystem::path& file) {
  const std::string bytes = testing::ReadFile(file);
  size_t end = 0;
  while (end + 80 <= bytes.size() && bytes.compare(end, 8, "END     ") != 0) end += 80;
  const size_t data = (end + 80 + 2879) / 2880 * 2880;
  std::uint64_t h = 0xcbf29ce484222325ULL;
  for (size_t i = data; i < bytes.size(); ++i) h = (h ^ static_cast<unsigned char>(bytes[i])) * 0x100000001b3ULL;
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
  return text;
}

// The example night from a fixed UT: its log (time stamps included) and the pixels of every
// image and stack are those recorded in tests/data/demo_night, so that a change of structure
// changes nothing a night does.
TEST_F(RunCli, TheExampleNightIsTheRecordedOne) {
  setenv("TZ", "UTC", 1);
  const std::filesystem::path images = dir.Path() / "images";
  const CliResult r = Run("run " + ShellQuote(kDemoPlan) + " --simulate --start '2026-12-07 17:20:00' " +
                          "--no-corrections --stacking --json-events --images " + ShellQuote(images.string()));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("Start without corrections? -> Yes (--no-corrections)"), std::string::npos);
  const std::string recorded = std::string(NOCTARBEL_TEST_DATA_DIR) + "/demo_night/";
  std::string log = testing::ReadFile(images / "logfile.txt");
  for (size_t at; (at = log.find(images.string())) != std::string::npos;) log.replace(at, images.string().size(), "IMAGES");
  if (std::getenv("NOCTARBEL_RECORD_DEMO_NIGHT")) {
    // A change the night is meant to show: record it anew (and say why in the commit).
    std::string hashes;
    for (const auto& entry : std::filesystem::directory_iterator(images)) {
      if (entry.path().extension() == ".fit") hashes += entry.path().filename().string() + " " + PixelDataHash(entry) + "\n";
    }
    std::vector<std::string> lines;
    std::istringstream split(hashes);
    for (std::string line; std::getline(split, line);) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    hashes.clear();
    for (const auto& line : lines) hashes += line + "\n";
    testing::WriteFile(recorded + "logfile.txt", log);
    testing::WriteFile(recorded + "images.txt", hashes);
  }
  EXPECT_EQ(log, testing::ReadFile(recorded + "logfile.txt"));
  std::istringstream expected(testing::ReadFile(recorded + "images.txt"));
  int files = 0;
  for (std::string name, hash; expected >> name >> hash; ++files) {
    EXPECT_EQ(PixelDataHash(images / name), hash) << name;
    EXPECT_EQ(testing::FitsVerifyProblems((images / name).string()), "") << name;  // headers too
  }
  const auto written = std::count_if(std::filesystem::directory_iterator(images), {},
                                     [](const auto& entry) { return entry.path().extension() == ".fit"; });
  EXPECT_EQ(written, files);

  // What the command says it wrote: every saved file, and the summary.
  const auto events = Events(r);
  ASSERT_FALSE(events.empty());
  const nlohmann::json& summary = events.back();
  EXPECT_EQ(summary["event"], "summary");
  EXPECT_EQ(summary["rows"], 11);
  EXPECT_EQ(summary["images"], 24);
  EXPECT_EQ(summary["stacks"], 8);  // per filter of every row with more than one image
  EXPECT_EQ(summary["errors"], 0);
  EXPECT_FALSE(summary["aborted"].get<bool>());
  EXPECT_GT(summary["simulated_hours"].get<double>(), 10);
  EXPECT_EQ(summary["log"].get<std::string>(), (images / "logfile.txt").string());
  const auto saved = std::count_if(events.begin(), events.end(), [&](const nlohmann::json& e) {
    return e["event"] == "saved" && std::filesystem::is_regular_file(e["file"].get<std::string>());
  });
  EXPECT_EQ(saved, files);
}

// A night cut short by rain: the command says so and exits 1; the timeline picture and the
// night's report are written, the report made anew from its folder alone, with a thumbnail for
// every image the journal saved and the stopped row with why.
TEST_F(RunCli, RainStopsTheNightAndTheReportIsWrittenAndMadeAnewFromTheFolder) {
  const std::filesystem::path images = dir / "rainy";
  const std::string picture = (dir / "night.png").string();
  const CliResult r = Run("run " + ShellQuote(kDemoPlan) +
                          " --simulate --no-corrections --start '2026-12-06 17:20:00' --rain-at '2026-12-06 19:50:00'" +
                          " --timeline " + ShellQuote(picture) + " --images " + ShellQuote(images.string()));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(testing::ReadFile(picture).substr(0, 8), "\x89PNG\r\n\x1a\n");
  EXPECT_NE(r.out.find("run: aborted"), std::string::npos);
  EXPECT_NE(r.err.find("noctarbel-cli: The run was aborted: rain: the telescope was parked and the roof closed\n"),
            std::string::npos)
      << r.err;
  const std::string journal = testing::ReadFile(images / "run-journal.jsonl");
  const auto saved = CountOf(journal, "\"event\":\"image\"");
  ASSERT_GT(saved, 0);
  for (const bool rebuilt : {false, true}) {
    if (rebuilt) {
      std::filesystem::remove(images / "night.html");
      const CliResult report = Run("report " + ShellQuote(images.string()));
      ASSERT_EQ(report.exitCode, 0) << report.err;
      EXPECT_NE(report.out.find(std::to_string(saved) + " images"), std::string::npos) << report.out;
    }
    const std::string html = testing::ReadFile(images / "night.html");
    EXPECT_EQ(CountOf(html, "<figure class=\"thumb\""), saved) << rebuilt;
    EXPECT_EQ(CountOf(html, "src=\"data:image/jpeg;base64,"), saved) << rebuilt;
    EXPECT_NE(html.find("class=\"row-fault\" data-outcome=\"stopped\""), std::string::npos) << rebuilt;
    EXPECT_NE(html.find("Emergency! Going to park position"), std::string::npos) << rebuilt;
    EXPECT_EQ(html.find("src=\"http"), std::string::npos) << "nothing from elsewhere";
    EXPECT_EQ(html.find("href=\"http"), std::string::npos) << "nothing from elsewhere";
  }
}

// Every row is accounted for: a cell that does not convert is logged with its row, column
// and text and the row is skipped; filters and binnings the station does not have, file names
// two rows share, targets below the horizon and an empty plan are problems of the check, which
// exits 3; a run that skipped rows exits 3.
TEST_F(RunCli, UnreadableAndImpossibleRowsAreNamedByCheckAndRun) {
  Run("settings --set FilterNumber=5 --set CameraMaxBinning=4");
  const std::string m31 = ";M 31;00;42;44.3;41;16;9;";
  struct Case {
    std::string cells;
    std::string says;
  };
  const std::vector<Case> cases = {
      {";;" + m31 + "nan;;;;a;", "exposure 'nan' is not a number - row skipped"},
      {";;" + m31 + "-5;;;;b;", "exposure '-5' is negative - row skipped"},
      {";;" + m31 + "0*5;;;;c;", "exposure '0*5' needs k of 1 or more"},
      {";;" + m31 + "1;0;;;d;", "binning '0' needs a binning of 1 to 16"},
      {";;" + m31 + "1;2/0;;;e;", "binning '2/0' needs a zoom of 1 to 100"},
      {";;" + m31 + "1;;;-5;f;", "number '-5' needs 1 or more"},
      {";;;x;99;0;0;10;0;0;1;;;;g;", "RA 99 h is outside 0..24"},
      {";;;x;1;0;0;-91;0;0;1;;;;h;", "Dec -91 deg is outside -90..90"},
      {";;;x;p1;;;;;;1;;;;i;", "RA(h) 'p1' is not a number (nor a command)"},
      {";;" + m31 + "1;;;;../x;", "the file name '../x' holds a folder separator"},
  };
  std::string plan = "header\r\n;;;Open roof;ZA;;;;;;;;;;;\r\n";
  for (const Case& c : cases) plan += c.cells + "\r\n";
  WriteFile(dir / "bad.csv", plan);
  CliResult r = Run("check " + ShellQuote((dir / "bad.csv").string()) + " --start '2026-12-06 17:00:00' --json");
  EXPECT_EQ(r.exitCode, 3);
  const auto out = nlohmann::json::parse(r.out);
  EXPECT_EQ(out["errors"], static_cast<int>(cases.size()));
  const std::string checkLog = out["log"].dump();
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string says = "row " + std::to_string(i + 2) + ": " + cases[i].says;
    EXPECT_NE(checkLog.find(says), std::string::npos) << says;
  }

  r = Run("run " + ShellQuote((dir / "bad.csv").string()) + " --simulate --start '2026-12-06 17:00:00' --json-events" +
          " --no-corrections --leave-roof-open --images " + ShellQuote((dir / "night").string()));
  EXPECT_EQ(r.exitCode, 3) << r.err;
  EXPECT_NE(r.err.find("noctarbel-cli: The run ended with 10 rows skipped and 0 rows failed\n"), std::string::npos);
  const nlohmann::json summary = Events(r).back();
  ASSERT_EQ(summary["skipped"].size(), cases.size());
  EXPECT_EQ(summary["skipped"][0]["row"], 2);
  EXPECT_EQ(summary["skipped"][0]["why"], "exposure 'nan' is not a number");
  EXPECT_FALSE(summary["all_done"]);

  // Filter 7 of five, filter 0, binning 8 of four, two rows of the same names, a target that
  // never rises; the forecast of the night in the station folder shows the targets and the
  // problem. A plan without problems exits 0, an empty one is a problem.
  WriteFile(dir / "gear.csv", "header\r\n;;" + m31 + "1;;7;;a;\r\n;;" + m31 + "1;;0;;b;\r\n;;" + m31 +
                                  "1;8;;;c;\r\n;;" + m31 +
                                  "1;;;;c;\r\n18;0;0;Never rises;05;23;34;-69;45;22;10;;;;;;\r\n");
  r = Run("check " + ShellQuote((dir / "gear.csv").string()) + " --start '2026-12-06 17:00:00'");
  EXPECT_EQ(r.exitCode, 3);
  for (const char* says : {"row 1: filter 7 is beyond the wheel's 5 slots", "row 2: filter 0 does not exist",
                           "row 3: binning 8 is beyond the camera's 4", "row 4: the file names c-",
                           "Going to object M 31", "Object Never rises not visible", "5 errors found"}) {
    EXPECT_NE(r.out.find(says), std::string::npos) << says << "\n" << r.out;
  }
  const std::string forecast = testing::ReadFile(dir / "night.html");
  for (const char* shows : {"<h1>Forecast of the night", "data-object=\"Never rises\"", "data-object=\"M 31\"",
                            "Object Never rises not visible"}) {
    EXPECT_NE(forecast.find(shows), std::string::npos) << shows;
  }
  WriteFile(dir / "good.csv", "header\r\n18;0;0;M 31;00;42;44.3;41;16;9;60;;;;;;\r\n");
  r = Run("check " + ShellQuote((dir / "good.csv").string()) + " --start '2026-12-06 17:00:00'");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("0 errors found"), std::string::npos);
  WriteFile(dir / "empty.csv", "header\r\n");
  r = Run("check " + ShellQuote((dir / "empty.csv").string()));
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_NE(r.out.find("the plan has no rows"), std::string::npos);
}

}  // namespace
}  // namespace noctarbel
