// noctarbel-cli calibrate, run as a separate program on a station folder with imgcalib.cfg and
// real master files; the output is checked with fitsverify and read back with cfitsio.

#include <fitsio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "imaging/calibration_config.h"
#include "imaging/image_buffer.h"
#include "tests/cli_runner.h"
#include "tests/fits_check.h"
#include "tests/test_support.h"

namespace noctarbel {
namespace {

using testing::CliResult;
using testing::ShellQuote;

// The pixels and the HISTORY texts (from column 11) as cfitsio reads them.
std::pair<std::vector<long long>, std::vector<std::string>> ReadBack(const std::string& path) {
  std::vector<std::string> history;
  for (const std::string& card : testing::CfitsioCards(path)) {
    if (card.rfind("HISTORY ", 0) == 0) history.push_back(card.substr(10));
  }
  return {testing::ReadWithCfitsio(path).Pixels, history};
}

class CalibrateCliTest : public ::testing::Test {
 protected:
  CalibrateCliTest() {
    std::filesystem::create_directories(home_);
    // 2x2 binning: dark 300 s, bias, and flat ID 1 for filter 2.
    Save(home_ / "dark2.fit", {1000, 2000, 50000, 500}, 300);
    Save(home_ / "bias2.fit", {100, 100, 100, 100});
    Save(home_ / "flat.fit", {1000, 1000, 1000, 500});  // gains 1.25, 1.25, 1.25, 2.5
    config_.DarkFiles[1] = "dark2.fit";
    config_.BiasFiles[1] = "bias2.fit";
    config_.Tables.FlatFiles[0] = "flat.fit";
    config_.Tables.FlatIds[1] = {"", "1", ""};
    SaveConfig();
    Save(Path("in.fit"), {3000, 3000, 60000, 3000}, 60, 2);
  }

  void SaveConfig() { ASSERT_TRUE(SaveCalibrationConfig(home_ / "imgcalib.cfg", config_, nullptr)); }
  static void Save(const std::filesystem::path& path, const std::vector<int>& row, double exposure = 0,
                   int binning = 0) {
    Timgbuffer image;
    image.SetSize(static_cast<int>(row.size()), 1, PixelType::Bits16);
    for (size_t x = 0; x < row.size(); ++x) image.SetPixel(static_cast<int>(x + 1), 1, row[x]);
    image.Exposure = exposure;
    image.ObservationDate = "2026-01-02T03:04:05.6";
    if (binning > 0) {
      image.SetKeyword("XBINNING", std::to_string(binning));
      image.SetKeyword("YBINNING", std::to_string(binning));
    }
    ASSERT_TRUE(image.SaveFits(path.string()));
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  CliResult Cli(const std::string& arguments) {
    return testing::RunCli(NOCTARBEL_CLI, "--home " + ShellQuote(home_.string()) + " " + arguments, dir_);
  }
  static void ExpectOneErrorLine(const CliResult& run, int exitCode, const std::string& part) {
    EXPECT_EQ(run.exitCode, exitCode) << run.err;
    EXPECT_EQ(run.err.rfind("noctarbel-cli: ", 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find(part), std::string::npos) << run.err;
  }

  testing::TempDir dir_;
  std::filesystem::path home_ = dir_ / "station";
  CalibrationConfig config_;
};

TEST_F(CalibrateCliTest, WritesTheCalibratedImageWithItsHistoryCards) {
  CliResult run =
      Cli("calibrate " + ShellQuote(Path("in.fit")) + " " + ShellQuote(Path("out.fit")) + " --filter 2 --json");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(nlohmann::json::parse(run.out),
            nlohmann::json::parse(R"({"dark": true, "flat": true, "rotate": false, "hotpixel": false,
              "history": ["Dark subtraction dark2.fit", "Flatcorr. flat.fit"], "skipped": []})"));

  EXPECT_EQ(testing::FitsVerifyProblems(Path("out.fit")), "");
  const auto out = ReadBack(Path("out.fit"));
  // r = 0.2: dark 200 + 80, 400 + 80, 50000 (unscaled) + 80, 100 + 80; then the flat's gains.
  // (3000 - 280) x 1.25, (3000 - 480) x 1.25, (60000 - 50080) x 1.25, (3000 - 180) x 2.5.
  EXPECT_EQ(out.first, (std::vector<long long>{3400, 3150, 12400, 7050}));
  EXPECT_EQ(out.second, (std::vector<std::string>{"Dark subtraction dark2.fit", "Flatcorr. flat.fit"}));

  // Without the dark, turned: only the flat (filter 2) and the turn.
  run = Cli("calibrate " + ShellQuote(Path("in.fit")) + " " + ShellQuote(Path("turned.fit")) +
            " --filter 2 --no-dark --rotate");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("dark: no\nflat: yes\nrotate: yes\n"), std::string::npos) << run.out;
  EXPECT_EQ(testing::FitsVerifyProblems(Path("turned.fit")), "");
  const auto turned = ReadBack(Path("turned.fit"));
  EXPECT_EQ(turned.first, (std::vector<long long>{7500, 65535, 3750, 3750}));
  EXPECT_EQ(turned.second, (std::vector<std::string>{"Flatcorr. flat.fit", "180 deg rotation"}));

  // Filter 1 has no flat ID: nothing but the dark, written, and the missing flat is told.
  run = Cli("calibrate " + ShellQuote(Path("in.fit")) + " " + ShellQuote(Path("f1.fit")) + " --json");
  ExpectOneErrorLine(run, 3, "Not fully calibrated, flat not done: no flat ID for filter 1 at binning 2");
  EXPECT_EQ(nlohmann::json::parse(run.out)["flat"], false);
  EXPECT_TRUE(std::filesystem::exists(Path("f1.fit")));
}

TEST_F(CalibrateCliTest, ASubFrameIsCalibratedWithTheMastersCut) {
  Save(Path("sub.fit"), {3000, 3000}, 60, 2);
  CliResult run = Cli("calibrate " + ShellQuote(Path("sub.fit")) + " " + ShellQuote(Path("out.fit")) +
                      " --filter 2 --zoom 2 --origin 2,0 --json");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  // Master pixels 3 and 4: (3000 - 50080 -> 0) x 1.25, (3000 - 180) x 2.5.
  EXPECT_EQ(testing::ReadWithCfitsio(Path("out.fit")).Pixels, (std::vector<long long>{0, 7050}));

  // A cut that reaches past the masters: nothing calibrated, nothing written.
  run = Cli("calibrate " + ShellQuote(Path("sub.fit")) + " " + ShellQuote(Path("past.fit")) +
            " --filter 2 --zoom 2 --origin 3,0 --json");
  ExpectOneErrorLine(run, 1, "Nothing was calibrated, dark and flat not done: the dark");
  EXPECT_FALSE(std::filesystem::exists(Path("past.fit")));
}

TEST_F(CalibrateCliTest, ErrorsAreOneLineAndWriteNothing) {
  const std::string files = ShellQuote(Path("in.fit")) + " " + ShellQuote(Path("out.fit"));
  ExpectOneErrorLine(Cli("calibrate " + files + " --zoom 2"), 2, "--origin");
  ExpectOneErrorLine(Cli("calibrate " + files + " --origin 1,1"), 2, "--zoom");
  ExpectOneErrorLine(Cli("calibrate " + files + " --zoom 2 --origin 1"), 2, "--origin");
  ExpectOneErrorLine(Cli("calibrate " + files + " --filter 10"), 2, "--filter");
  ExpectOneErrorLine(Cli("calibrate " + ShellQuote(Path("none.fit")) + " " + ShellQuote(Path("out.fit"))), 1,
                     "none.fit");

  // A master the configuration names but that is not there.
  config_.DarkFiles[1] = "gone.fit";
  SaveConfig();
  ExpectOneErrorLine(Cli("calibrate " + files), 1, "image (2x2) not found");
  EXPECT_FALSE(std::filesystem::exists(Path("out.fit")));
  EXPECT_EQ(Cli("calibrate " + files + " --filter 2 --no-dark").exitCode, 0) << "no dark wanted, none loaded";
  std::filesystem::remove(Path("out.fit"));
  // The bias is read only when "Optimize" scales the dark with it.
  config_.DarkFiles[1] = "dark2.fit";
  config_.BiasFiles[1] = "gone.fit";
  config_.Optimize = false;
  SaveConfig();
  EXPECT_EQ(Cli("calibrate " + files + " --filter 2").exitCode, 0) << "no bias used, none loaded";
  std::filesystem::remove(Path("out.fit"));
  config_.Optimize = true;
  SaveConfig();
  ExpectOneErrorLine(Cli("calibrate " + files), 1, "Bias image (2x2) not found");

  std::filesystem::remove(home_ / "imgcalib.cfg");
  ExpectOneErrorLine(Cli("calibrate " + files), 1, "imgcalib.cfg");
  EXPECT_FALSE(std::filesystem::exists(Path("out.fit")));
}

}  // namespace
}  // namespace noctarbel
