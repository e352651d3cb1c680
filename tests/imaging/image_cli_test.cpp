// The image commands of noctarbel-cli, run as a separate program.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "imaging/image_buffer.h"
#include "imaging/jpeg_codec.h"
#include "tests/imaging/synthetic_frames.h"
#include "tests/test_support.h"

namespace noctarbel {
namespace {

struct CliRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

class ImageCliTest : public ::testing::Test {
 protected:
  CliRun Cli(const std::string& arguments) {
    const std::string out = Path("stdout.txt");
    const std::string err = Path("stderr.txt");
    std::string command = std::string("'") + NOCTARBEL_CLI + "' --home '" + Path("home") + "' " + arguments + " >'" +
                          out + "' 2>'" + err + "'";
    int status = std::system(command.c_str());
    CliRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = testing::ReadFile(out);
    run.err = testing::ReadFile(err);
    return run;
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

  static void ExpectOneErrorLine(const CliRun& run) {
    EXPECT_NE(run.exitCode, 0);
    EXPECT_EQ(run.err.rfind("noctarbel-cli: ", 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }

  testing::TempDir dir_;
};

TEST_F(ImageCliTest, HeaderStatsAndCopy) {
  std::string file = StarFile("star.fit", 150, 100, 5, 3.0e6);
  CliRun header = Cli("fits header '" + file + "'");
  ASSERT_EQ(header.exitCode, 0) << header.err;
  EXPECT_EQ(header.out.rfind("SIMPLE  =                    T", 0), 0u);
  EXPECT_NE(header.out.find("\nEND" + std::string(77, ' ') + "\n"), std::string::npos);
  EXPECT_NE(header.out.find("FILTER  = 'R'"), std::string::npos);

  CliRun stats = Cli("fits stats --json '" + file + "'");
  ASSERT_EQ(stats.exitCode, 0) << stats.err;
  auto json = nlohmann::json::parse(stats.out);
  EXPECT_EQ(json["width"], 320);
  EXPECT_EQ(json["height"], 240);
  EXPECT_EQ(json["bitpix"], 16);
  EXPECT_EQ(json["bzero"], 0);
  EXPECT_EQ(json["min"], 100);
  EXPECT_EQ(json["max"], 65535);  // the star's centre saturates
  EXPECT_EQ(json["exposure"], 2.5);
  EXPECT_EQ(json["date_obs"], "2024-01-02T03:04:05.600");
  EXPECT_EQ(json["filter"], "R");
  EXPECT_EQ(json["filter_code"], 4);
  EXPECT_EQ(json["camera_kind"], "CCD");
  CliRun text = Cli("fits stats '" + file + "'");
  EXPECT_NE(text.out.find("width: 320\n"), std::string::npos);

  CliRun copy = Cli("fits copy '" + file + "' '" + Path("copy.fit") + "'");
  ASSERT_EQ(copy.exitCode, 0) << copy.err;
  Timgbuffer a, b;
  ASSERT_TRUE(a.LoadFits(file));
  ASSERT_TRUE(b.LoadFits(Path("copy.fit")));
  EXPECT_EQ(std::memcmp(a.RawData(), b.RawData(), 320 * 240 * 2), 0);
}

TEST_F(ImageCliTest, MeasureFindsTheStarAndHfdGrowsLinearlyWithDefocus) {
  std::vector<double> hfd;
  const std::vector<double> radii = {4, 8, 12, 16, 20};
  for (double radius : radii) {
    std::string file = StarFile("defocus.fit", 201, 77, radius);
    CliRun run = Cli("measure --json --hotpixel 4 --radius 60 '" + file + "'");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    auto json = nlohmann::json::parse(run.out);
    EXPECT_TRUE(json["found"].get<bool>());
    EXPECT_EQ(json["x"], 201) << radius;
    EXPECT_EQ(json["y"], 77) << radius;
    EXPECT_EQ(json["centroid_x"], 201);
    EXPECT_EQ(json["centroid_y"], 77);
    hfd.push_back(json["hfd"].get<double>());
  }
  // On a straight line: least-squares fit and its worst deviation.
  double n = static_cast<double>(radii.size()), sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (size_t i = 0; i < radii.size(); ++i) {
    sx += radii[i];
    sy += hfd[i];
    sxx += radii[i] * radii[i];
    sxy += radii[i] * hfd[i];
  }
  const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
  const double intercept = (sy - slope * sx) / n;
  EXPECT_GT(slope, 0.8);
  for (size_t i = 0; i < radii.size(); ++i) EXPECT_NEAR(hfd[i], slope * radii[i] + intercept, 0.3) << radii[i];
  CliRun text = Cli("measure '" + StarFile("t.fit", 100, 100, 6) + "'");
  EXPECT_NE(text.out.find("found: yes\nx: 100\ny: 100\n"), std::string::npos) << text.out;
}

TEST_F(ImageCliTest, RenderWritesAJpegOfTheImageSize) {
  std::string file = StarFile("star.fit", 150, 100, 5, 3.0e6);
  CliRun run = Cli("render '" + file + "' '" + Path("out.jpg") + "' --gamma 2");
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

TEST_F(ImageCliTest, ErrorsAreOneLineAndNonZero) {
  testing::WriteFile(Path("text.fit"), "not an image at all");
  ExpectOneErrorLine(Cli("fits stats '" + Path("missing.fit") + "'"));
  CliRun bad = Cli("fits header '" + Path("text.fit") + "'");
  ExpectOneErrorLine(bad);
  EXPECT_NE(bad.err.find("not a FITS file"), std::string::npos);
  std::string file = StarFile("star.fit", 150, 100, 5);
  ExpectOneErrorLine(Cli("measure --radius 0 '" + file + "'"));
  ExpectOneErrorLine(Cli("render '" + file + "' '" + Path("x.jpg") + "' --gamma 0"));
  ExpectOneErrorLine(Cli("fits copy '" + file + "' '" + Path("no/such/dir/x.fit") + "'"));
  EXPECT_NE(Cli("render '" + file + "' '" + Path("x.jpg") + "' --lo 5").exitCode, 0);
  EXPECT_NE(Cli("render '" + file + "' '" + Path("x.jpg") + "' --auto --lo 5 --hi 9").exitCode, 0);
}

}  // namespace
}  // namespace noctarbel
