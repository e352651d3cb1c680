// noctarbel-cli's focusing, centring and guiding-test commands on the simulated station.

#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "station/settings.h"
#include "tests/cli_runner.h"

namespace noctarbel {
namespace {

using testing::CliResult;
using testing::ShellQuote;
using testing::TempDir;

class FocusCli : public ::testing::Test {
 protected:
  CliResult Run(const std::string& args) {
    return testing::RunCli(NOCTARBEL_CLI, "--home " + ShellQuote(dir.Path().string()) + " " + args, scratch);
  }
  nlohmann::json Json(const CliResult& r) {
    EXPECT_FALSE(r.out.empty()) << r.err;
    return nlohmann::json::parse(r.out, nullptr, false);
  }
  SettingsRecord Saved() { return LoadSettingsFile(dir / kSettingsFileName); }
  TempDir dir;
  TempDir scratch;
};

TEST_F(FocusCli, CalibrateWithFittedLinesThenAutofocus) {
  // Nothing calibrated yet: no focus position, then no lines.
  CliResult r = Run("focus auto --simulate --json");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_FALSE(Json(r)["ok"].get<bool>());
  EXPECT_EQ(r.err, "noctarbel-cli: Autofocus error: no focus position (AFposition)\n");
  ASSERT_EQ(Run("settings --set AFposition=5000").exitCode, 0);
  r = Run("focus auto --simulate --json");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "noctarbel-cli: Autofocus error: not calibrated\n");

  r = Run("focus calibrate --simulate --position 5060 --range 500 --positions 6 --fit --save --json");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const nlohmann::json scan = Json(r);
  ASSERT_EQ(scan["points"].size(), 12u);
  EXPECT_EQ(scan["points"][0]["position"], 4560);
  EXPECT_EQ(scan["points"][6]["position"], 5560);
  EXPECT_LT(scan["left_slope"].get<double>(), -0.02);
  EXPECT_GT(scan["right_slope"].get<double>(), 0.02);
  EXPECT_LT(scan["residuals"]["left"].get<double>(), 0.5);
  EXPECT_NEAR(scan["best_focus"].get<double>(), 5000, 10);
  const SettingsRecord saved = Saved();
  EXPECT_FLOAT_EQ(saved.AFLslope, static_cast<float>(scan["left_slope"].get<double>()));
  EXPECT_FLOAT_EQ(saved.AFRic, static_cast<float>(scan["right_intercept"].get<double>()));
  EXPECT_EQ(saved.AFposition, 5060);

  r = Run("focus auto --simulate --json");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const nlohmann::json run = Json(r);
  EXPECT_TRUE(run["ok"].get<bool>());
  EXPECT_NEAR(run["position"].get<int>(), 5000, 10);
  EXPECT_GT(run["hfd_first"].get<double>(), run["hfd_second"].get<double>());
  EXPECT_EQ(Saved().AFposition, run["base_position"].get<int>());

  // The table alone: one flank, nothing fitted, nothing stored.
  r = Run("focus calibrate --simulate --position 5000 --range -300");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Pos=5300  HFD="), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Pos=5060  HFD="), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("line:"), std::string::npos);
}

TEST_F(FocusCli, CenterSyncAndGuideTest) {
  CliResult r = Run("center --simulate --json");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  nlohmann::json out = Json(r);
  EXPECT_TRUE(out["found"].get<bool>());
  EXPECT_NEAR(out["dx_pixels"].get<int>(), 13, 1);  // 40" east at 3" per pixel
  EXPECT_NEAR(out["dy_pixels"].get<int>(), 8, 1);
  EXPECT_FALSE(out["synced"].get<bool>());

  r = Run("center --simulate --sync 10.5 45 --json");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  out = Json(r);
  EXPECT_TRUE(out["synced"].get<bool>());
  EXPECT_EQ(out["log"].back(), ": center&sync OK");
  // The range counts pixels: at binning 4 (6" per pixel) a star as centred as the pixels
  // allow is synced.
  r = Run("center --simulate --bin 4 --sync 10.5 45 --json");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  out = Json(r);
  EXPECT_TRUE(out["synced"].get<bool>());
  EXPECT_LT(std::abs(out["dx_pixels"].get<int>()), 5);

  r = Run("guide-test --simulate --move 40 --save --json");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  out = Json(r);
  EXPECT_NEAR(out["dx_arcsec"].get<double>(), 40, 3.5);
  EXPECT_NEAR(out["angle_deg"].get<double>(), 0, 3);
  EXPECT_TRUE(out["saved"].get<bool>());
  EXPECT_EQ(Saved().CameraRotation, out["camera_rotation"].get<int>());
}

}  // namespace
}  // namespace noctarbel
