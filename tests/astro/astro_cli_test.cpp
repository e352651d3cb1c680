// The astronomy commands of noctarbel-cli, run as a script would.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "astro/time.h"
#include "astro/transforms.h"
#include "common/datetime.h"
#include "tests/cli_runner.h"

namespace noctarbel {
namespace {

using testing::CliResult;
using testing::ShellQuote;
using testing::TempDir;
using testing::WriteFile;

class AstroCli : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directories(home()); }
  std::filesystem::path home() const { return dir / "station"; }
  CliResult Run(const std::string& args) {
    return testing::RunCli(NOCTARBEL_CLI, "--home " + ShellQuote(home().string()) + " " + args, scratch);
  }
  nlohmann::json Json(const std::string& args) {
    CliResult r = Run(args);
    EXPECT_EQ(r.exitCode, 0) << args << ": " << r.err;
    return nlohmann::json::parse(r.out);
  }
  TempDir dir;
  TempDir scratch;
};

// What each command prints for a known case, and its errors (exit code and the one line).
TEST_F(AstroCli, LookupSiderealTimeAndErrors) {
  struct Case {
    std::string args;
    int exitCode;
    std::string out;  // the whole output, or with "err:" the whole error line
  };
  const std::vector<Case> cases = {
      {"lookup M51", 0, "M51 (NGC5194): RA 13 h 29.9 m, Dec +47° 12′ (RA 13.498333 h, Dec +47.20000°)\n"},
      {"lookup m40", 0, "M40: RA 12 h 22.4 m, Dec +58° 05′ (RA 12.373333 h, Dec +58.08333°)\n"},
      {"lookup M111", 1, "err:Object not found"},
      {"lookup Vega --json", 1, "err:Object not found"},
      {"lst --at 2000-01-01T12:00:00 --longitude 0", 0,
       "LST 18.697375 h (18:41:50.5) at 2000-01-01 12:00:00 UT, longitude 0° (west positive)\n"},
      {"lst --at tomorrow", 2, "err:--at needs a UT time \"YYYY-MM-DD HH:MM:SS\" (or with \"T\"), got \"tomorrow\""},
      {"lst --longitude 8,5", 2, "err:--longitude needs a number from -180 to 180, got \"8,5\""},
      {"altaz --ra 24 --dec 10", 2, "err:--ra needs a number from 0 to 24 (exclusive), got \"24\""},
      {"altaz --ra 1 --dec 91", 2, "err:--dec needs a number from -90 to 90, got \"91\""},
      {"horizon --az north", 2, "err:--az needs a number from -360 to 360, got \"north\""},
  };
  for (const Case& c : cases) {
    CliResult r = Run(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args;
    if (c.out.rfind("err:", 0) == 0) {
      EXPECT_EQ(r.err, "noctarbel-cli: " + c.out.substr(4) + "\n") << c.args;
      EXPECT_EQ(r.out, "") << c.args;
    } else {
      EXPECT_EQ(r.out, c.out) << c.args;
    }
  }
  nlohmann::json j = Json("lookup " + ShellQuote("NGC 1976") + " --json");
  EXPECT_NEAR(j["dec_deg"].get<double>(), -(5 + 23 / 60.0), 1e-12);
  EXPECT_EQ(j["dec"], "-05° 23′");
  // Without --longitude: the station's Glaenge; a script reads the instant back.
  WriteFile(home() / "noctarbel.ini", "[GEO]\r\nGlaenge=90\r\n");
  j = Json("lst --at 2000-01-01T12:00:00 --json");
  EXPECT_NEAR(j["lst_hours"].get<double>(), 12.697374557, 1e-9);
  EXPECT_EQ(Json("lst --at 2026-01-01T00:00:00 --json")["utc"], "2026-01-01 00:00:00");  // midnight too
}

TEST_F(AstroCli, AltAzAgainstTheStationsHorizon) {
  // M51 in the evening of 2024-03-05 at the default site (49.9 N, 8.2 E): high in the east.
  const std::string at = " --at " + ShellQuote("2024-03-05 22:00:00");
  nlohmann::json j = Json("altaz --ra 13.498333 --dec 47.2" + at + " --json");
  const DateTime instant = EncodeDateTime(2024, 3, 5, 22, 0, 0);
  const EquatorialPosition ofDate = J2000ToDate(13.498333, 47.2, JulianCenturiesSince2000(instant));
  const HorizontalPosition expected =
      EquatorialToHorizontal(ofDate.Ra * 15, ofDate.Dec, instant, SiteLocation{49.91806, -8.24889});
  EXPECT_NEAR(j["az_deg"].get<double>(), expected.Azimuth, 1e-9);
  EXPECT_NEAR(j["alt_deg"].get<double>(), expected.Altitude, 1e-9);
  EXPECT_NEAR(j["airmass"].get<double>(), Airmass(expected.Altitude), 1e-6);
  EXPECT_EQ(j["horizon_deg"], 0.0) << "no horizon file: no horizon";
  EXPECT_EQ(j["visible"], true);

  // A horizon wall of 60 degrees all round hides it.
  std::string wall;
  for (int az = 0; az < 360; az += 10) wall += std::to_string(az) + " 60\n";
  WriteFile(home() / "horizon.txt", wall);
  j = Json("altaz --ra 13.498333 --dec 47.2" + at + " --json");
  EXPECT_DOUBLE_EQ(j["horizon_deg"].get<double>(), 60);
  EXPECT_EQ(j["visible"], false);
  EXPECT_NE(Run("altaz --ra 13.498333 --dec 47.2" + at).out.find("below the horizon"), std::string::npos);

  // Below 1 degree of altitude there is no airmass.
  j = Json("altaz --ra 1 --dec -80" + at + " --json");
  EXPECT_TRUE(j["airmass"].is_null());
  EXPECT_EQ(j["visible"], false);

  EXPECT_NE(Run("altaz --ra 1").exitCode, 0);
}

TEST_F(AstroCli, PrecessBothWays) {
  const std::string at = " --at " + ShellQuote("2024-03-05 22:00:00");
  const double t = JulianCenturiesSince2000(EncodeDateTime(2024, 3, 5, 22, 0, 0));
  nlohmann::json j = Json("precess --ra 13.498333 --dec 47.2" + at + " --json");
  const EquatorialPosition ofDate = J2000ToDate(13.498333, 47.2, t);
  EXPECT_NEAR(j["ra_hours"].get<double>(), ofDate.Ra, 1e-12);
  EXPECT_NEAR(j["dec_deg"].get<double>(), ofDate.Dec, 1e-12);
  j = Json("precess --ra 13.5157 --dec 47.0712 --to-j2000" + at + " --json");
  const EquatorialPosition j2000 = DateToJ2000(13.5157, 47.0712, t);
  EXPECT_NEAR(j["ra_hours"].get<double>(), j2000.Ra, 1e-12);
  EXPECT_NEAR(j["dec_deg"].get<double>(), j2000.Dec, 1e-12);
  EXPECT_EQ(j["to"], "J2000");
  // Just south of the equator keeps its sign.
  EXPECT_NE(Run("precess --ra 6 --dec -0.5 --at 2000-01-01T00:00:00").out.find("(-00° "), std::string::npos);
}

TEST_F(AstroCli, HorizonTableAndAltitude) {
  WriteFile(home() / "noctarbel.ini", "[GEO]\r\nHorizontdatei=scan.txt\r\n");
  WriteFile(home() / "scan.txt", "0 10\n10 20\n20 10\n");
  CliResult r = Run("horizon --az 5");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "15\n");
  nlohmann::json j = Json("horizon --json");
  ASSERT_EQ(j["points"].size(), 3u);
  EXPECT_EQ(j["points"][0]["az_deg"], 20.0) << "table order: the last line first";
  EXPECT_EQ(j["ignored"], 0);
  j = Json("horizon --az -355 --json");
  EXPECT_DOUBLE_EQ(j["horizon_deg"].get<double>(), 15);

  // An empty setting: the flat default table.
  WriteFile(home() / "noctarbel.ini", "[GEO]\r\nHorizontdatei=\r\n");
  j = Json("horizon --json");
  EXPECT_EQ(j["points"].size(), 36u);
  EXPECT_TRUE(j["file"].is_null());

  // A missing file: a note on stderr, no horizon, success.
  WriteFile(home() / "noctarbel.ini", "[GEO]\r\nHorizontdatei=gone.txt\r\n");
  r = Run("horizon --az 100");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "0\n");
  EXPECT_NE(r.err.find("gone.txt cannot be opened"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace noctarbel
