// The image commands of noctarbel-cli, run as a separate program.

#include <fitsio.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <numeric>
#include <string>
#include <vector>

#include "imaging/image_buffer.h"
#include "imaging/jpeg_codec.h"
#include "tests/cli_runner.h"
#include "tests/fits_check.h"
#include "tests/imaging/fits_test_files.h"
#include "tests/imaging/synthetic_frames.h"
#include "tests/test_support.h"

namespace noctarbel {
namespace {

using testing::CliResult;

class ImageCliTest : public ::testing::Test {
 protected:
  CliResult Cli(const std::string& arguments) {
    return testing::RunCli(NOCTARBEL_CLI, "--home '" + Path("home") + "' " + arguments, dir_);
  }
  std::string Path(const std::string& name) { return (dir_ / name).string(); }

  // One star on a quiet sky, centred on (x, y), defocused to the given radius.
  std::string StarFile(const std::string& name, int x, int y, double radius, double flux = 1.0e6) {
    Timgbuffer image;
    testing::FrameRandom random(1);
    testing::FillSky(image, 320, 240, 100, 0, random);
    testing::AddDefocusedStar(image, x, y, radius, flux);
    image.SetPixel(30, 30, 65000);  // a hot pixel
    image.Exposure = 2.5;
    image.Filter = "R";
    image.ObservationDate = "2024-01-02T03:04:05.6";
    EXPECT_TRUE(image.SaveFits(Path(name)));
    return Path(name);
  }

  static void ExpectOneErrorLine(const CliResult& run) {
    EXPECT_NE(run.exitCode, 0);
    EXPECT_EQ(run.err.rfind("noctarbel-cli: ", 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }

  testing::TempDir dir_;
};

TEST_F(ImageCliTest, HeaderStatsAndCopy) {
  std::string file = StarFile("star.fit", 150, 100, 5, 3.0e6);
  CliResult header = Cli("fits header '" + file + "'");
  ASSERT_EQ(header.exitCode, 0) << header.err;
  EXPECT_EQ(header.out.rfind("SIMPLE  =                    T", 0), 0u);
  EXPECT_NE(header.out.find("\nEND" + std::string(77, ' ') + "\n"), std::string::npos);
  EXPECT_NE(header.out.find("FILTER  = 'R'"), std::string::npos);

  CliResult stats = Cli("fits stats --json '" + file + "'");
  ASSERT_EQ(stats.exitCode, 0) << stats.err;
  const auto json = nlohmann::json::parse(stats.out);
  // The star's centre saturates.
  const auto expected = nlohmann::json::parse(R"({"width": 320, "height": 240, "bitpix": 16, "bzero": 0, "min": 100,
    "max": 65535, "exposure": 2.5, "date_obs": "2024-01-02T03:04:05.600", "filter": "R", "filter_code": 4,
    "camera_kind": "CCD"})");
  for (const auto& item : expected.items()) EXPECT_EQ(json[item.key()], item.value()) << item.key();
  EXPECT_NE(Cli("fits stats '" + file + "'").out.find("width: 320\n"), std::string::npos);

  CliResult copy = Cli("fits copy '" + file + "' '" + Path("copy.fit") + "'");
  ASSERT_EQ(copy.exitCode, 0) << copy.err;
  Timgbuffer a, b;
  ASSERT_TRUE(a.LoadFits(file));
  ASSERT_TRUE(b.LoadFits(Path("copy.fit")));
  EXPECT_EQ(std::memcmp(a.RawData(), b.RawData(), 320 * 240 * 2), 0);
}

// The HFD's own rules are pinned in the star measure tests; here the command finds the star past
// a hot pixel, measures it within the radius, and says why a diameter cannot be given.
TEST_F(ImageCliTest, MeasureFindsTheStarAndItsHfd) {
  CliResult run = Cli("measure --json --hotpixel 4 --radius 12 '" + StarFile("defocus.fit", 201, 77, 8) + "'");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  auto json = nlohmann::json::parse(run.out);
  EXPECT_TRUE(json["found"].get<bool>());
  EXPECT_EQ(std::vector<int>({json["x"], json["y"], json["centroid_x"], json["centroid_y"]}),
            std::vector<int>({201, 77, 201, 77}));
  EXPECT_NEAR(json["hfd"].get<double>(), 4.71, 0.01);
  CliResult text = Cli("measure '" + StarFile("t.fit", 100, 100, 6) + "'");
  EXPECT_NE(text.out.find("found: yes\nx: 100\ny: 100\n"), std::string::npos) << text.out;

  // A star whose half flux lies in its central pixel, and one whose core is cut flat: the
  // formula reads them at 0 or below, which is no diameter: null, with the reason.
  struct Case {
    std::string file;
    const char* problem;
  } cases[] = {{StarFile("tight.fit", 100, 100, 2.0, 2.0e5), "too compact"},
               {StarFile("bright.fit", 100, 100, 2.0, 1.0e8), "saturated"}};
  for (const Case& c : cases) {
    CliResult run = Cli("measure --json --radius 20 '" + c.file + "'");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    auto json = nlohmann::json::parse(run.out);
    ASSERT_TRUE(json["found"].get<bool>()) << c.problem;
    EXPECT_TRUE(json["hfd"].is_null()) << c.problem << ": " << json["hfd"];
    EXPECT_EQ(json["hfd_problem"], c.problem);
  }
}

TEST_F(ImageCliTest, RenderWritesAJpegOfTheImageSize) {
  std::string file = StarFile("star.fit", 150, 100, 5, 3.0e6);
  CliResult run = Cli("render '" + file + "' '" + Path("out.jpg") + "' --gamma 2");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(ReadBinaryFile(Path("out.jpg"), bytes));
  Picture picture;
  ASSERT_TRUE(DecodeJpeg(bytes.data(), bytes.size(), picture));
  EXPECT_EQ(picture.Width, 320);
  EXPECT_EQ(picture.Height, 240);
  run = Cli("render '" + file + "' '" + Path("manual.jpg") + "' --lo 100 --hi 1000");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_TRUE(ReadBinaryFile(Path("manual.jpg"), bytes));
  ASSERT_TRUE(DecodeJpeg(bytes.data(), bytes.size(), picture));
  EXPECT_LT(picture.Pixels[0], 8);                 // sky at the black level
  EXPECT_GT(picture.Pixels[99 * 320 + 149], 247);  // star centre above white
}

TEST_F(ImageCliTest, CopyWritesAValidFileFromACubeAndForeignHeaderBytes) {
  using testing::FitsCard;
  // A 4 x 2 x 3 cube with a world coordinate system for its three axes, a Latin-1 observer
  // name and a UTF-8 degree sign in a comment.
  std::vector<std::string> cards = testing::BasicCards(16, 4, 2);
  cards[2] = FitsCard("NAXIS", "3");
  for (const char* card : {"NAXIS3  = 3", "WCSAXES = 3", "CTYPE1  = 'RA---TAN'", "CTYPE2  = 'DEC--TAN'",
                           "CTYPE3  = 'WAVE    '", "CRPIX3  = 1.0", "CRVAL3  = 6.5E-07", "PC3_3   = 1.0",
                           "OBSERVER= 'M\xFCller '", "CCD-TEMP= -15.0 / \302\260C"}) {
    cards.push_back(std::string(card) + std::string(80 - std::strlen(card), ' '));
  }
  std::vector<std::int16_t> values(4 * 2 * 3);
  std::iota(values.begin(), values.end(), std::int16_t{100});
  std::string data = testing::BigEndian(values);
  data.resize((data.size() + 2879) / 2880 * 2880, '\0');
  testing::WriteFile(Path("cube.fit"), testing::FitsHeaderBytes(cards) + data);
  ASSERT_NE(testing::FitsVerifyProblems(Path("cube.fit")), "") << "the test file itself is no valid 2-D image";

  CliResult copy = Cli("fits copy '" + Path("cube.fit") + "' '" + Path("plane.fit") + "'");
  ASSERT_EQ(copy.exitCode, 0) << copy.err;
  // What was changed is said, one line each.
  EXPECT_EQ(std::count(copy.err.begin(), copy.err.end(), '\n'), 2) << copy.err;
  EXPECT_NE(copy.err.find("only the first image plane (4 x 2) is written"), std::string::npos) << copy.err;
  EXPECT_NE(copy.err.find("2 header cards hold bytes that are not 7-bit ASCII"), std::string::npos) << copy.err;
  EXPECT_EQ(testing::FitsVerifyProblems(Path("plane.fit")), "");

  const testing::CfitsioImage plane = testing::ReadWithCfitsio(Path("plane.fit"));
  EXPECT_EQ(std::pair(plane.Width, plane.Height), std::pair(4L, 2L));
  EXPECT_EQ(plane.Pixels, (std::vector<long long>{100, 101, 102, 103, 104, 105, 106, 107})) << "the first plane";
  EXPECT_EQ(testing::CfitsioValue(Path("plane.fit"), "OBSERVER"), "M?ller");
}

TEST_F(ImageCliTest, AHeaderOnlyFileShowsItsHeaderAndStats) {
  using testing::FitsCard;
  testing::WriteFile(
      Path("header.fit"),
      testing::FitsHeaderBytes({FitsCard("SIMPLE", "                   T"), FitsCard("BITPIX", "                   8"),
                                FitsCard("NAXIS", "                   0"),
                                FitsCard("DATE-OBS", "'2024-01-02T03:04:05'"), FitsCard("UT", "'03:04:05   '")}));
  CliResult header = Cli("fits header '" + Path("header.fit") + "'");
  ASSERT_EQ(header.exitCode, 0) << header.err;
  EXPECT_NE(header.out.find("NAXIS   =                    0"), std::string::npos);
  CliResult stats = Cli("fits stats --json '" + Path("header.fit") + "'");
  ASSERT_EQ(stats.exitCode, 0) << stats.err;
  auto json = nlohmann::json::parse(stats.out);
  EXPECT_EQ(json["width"], 0);
  EXPECT_EQ(json["bitpix"], 8);
  EXPECT_EQ(json["date_obs"], "2024-01-02T03:04:05.000");
  // There is no image to copy, measure or render; that is said, not done.
  ExpectOneErrorLine(Cli("fits copy '" + Path("header.fit") + "' '" + Path("x.fit") + "'"));
  EXPECT_FALSE(std::filesystem::exists(Path("x.fit")));
}

TEST_F(ImageCliTest, ErrorsAreOneLineAndNonZero) {
  testing::WriteFile(Path("text.fit"), "not an image at all");
  ExpectOneErrorLine(Cli("fits stats '" + Path("missing.fit") + "'"));
  CliResult bad = Cli("fits header '" + Path("text.fit") + "'");
  ExpectOneErrorLine(bad);
  EXPECT_NE(bad.err.find("not a FITS file"), std::string::npos);
  std::string file = StarFile("star.fit", 150, 100, 5);
  ExpectOneErrorLine(Cli("fits copy '" + file + "' '" + Path("no/such/dir/x.fit") + "'"));
  // (Usage errors of measure and render are in the command-line tests.)
  // Header bytes quoted in a message are printable and stay on the line.
  std::vector<std::string> cards = testing::BasicCards(16, 2, 2);
  cards[2] = testing::FitsCard("NAXIS", "\x1B[2J\n2");
  testing::WriteFile(Path("escape.fit"), testing::FitsHeaderBytes(cards) + std::string(2880, '\0'));
  bad = Cli("fits stats '" + Path("escape.fit") + "'");
  ExpectOneErrorLine(bad);
  EXPECT_NE(bad.err.find("bad NAXIS value '\\x1B[2J\\x0A2'"), std::string::npos) << bad.err;
  EXPECT_NE(Cli("render '" + file + "' '" + Path("x.jpg") + "' --auto --lo 5 --hi 9").exitCode, 0);
}

}  // namespace
}  // namespace noctarbel
