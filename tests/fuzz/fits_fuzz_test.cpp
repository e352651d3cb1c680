// Mutated FITS files: the loader loads what it can or refuses with a reason, never crashes,
// never holds more than the pixel limit, and what it loads saves and reloads.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>

#include "imaging/header_cards.h"
#include "imaging/image_buffer.h"
#include "tests/test_support.h"

namespace noctarbel {
namespace {

constexpr int kRounds = 4000;

// Raw engine output only, so the rounds are the same everywhere.
class FitsMutator {
 public:
  explicit FitsMutator(std::uint32_t seed) : rng_(seed) {}

  size_t Pick(size_t n) { return n == 0 ? 0 : static_cast<size_t>(rng_() % n); }

  std::string Mutate(std::string file) {
    int edits = 1 + static_cast<int>(Pick(4));
    for (int i = 0; i < edits; ++i) {
      switch (Pick(7)) {
        case 0:  // flip bytes anywhere
          for (size_t n = 1 + Pick(8); n > 0 && !file.empty(); --n)
            file[Pick(file.size())] = static_cast<char>(Pick(256));
          break;
        case 1:  // cut the file short
          file.resize(Pick(file.size() + 1));
          break;
        case 2:  // a structural value replaced by something odd
          ReplaceValue(file, kKeys[Pick(sizeof kKeys / sizeof kKeys[0])],
                       kValues[Pick(sizeof kValues / sizeof kValues[0])]);
          break;
        case 3:  // END removed
          if (size_t at = file.find("END     "); at != std::string::npos && at % 80 == 0) file.replace(at, 3, "XND");
          break;
        case 4:  // a card of quotes and slashes
          if (file.size() >= 2880) file.replace(80 * (1 + Pick(20)), 80, std::string(80, "'/= T"[Pick(5)]));
          break;
        case 5:  // extra header blocks
          file.insert(std::min(file.size(), 2880 * Pick(2)), std::string(2880 * (1 + Pick(3)), ' '));
          break;
        default:  // bytes appended
          file.append(Pick(5000), static_cast<char>(Pick(256)));
          break;
      }
    }
    return file;
  }

 private:
  static constexpr const char* kKeys[] = {"NAXIS1  ", "NAXIS2  ", "BITPIX  ", "NAXIS   ", "BZERO   ",
                                          "BSCALE  ", "DATE-OBS", "FILTER  ", "EXPTIME ", "CSPACE  "};
  static constexpr const char* kValues[] = {"-1",         "0",          "99999999",
                                            "100000001",  "2147483647", "-2147483648",
                                            "64",         "-64",        "-32",
                                            "3",          "1E300",      "NaN",
                                            "'RGB'",      "''''",       "'2021-13-45T99:99:99'",
                                            "1.5D+03",    "T",          "9999999999999999999999",
                                            "'",          "/",          "32768",
                                            "-0.0000001", "1e-320",     "'TR'"};

  static void ReplaceValue(std::string& file, const char* key, const char* value) {
    for (size_t at = 0; at + 80 <= file.size() && at < 2880 * 3; at += 80) {
      if (file.compare(at, 8, key) == 0) {
        std::string card = std::string(key) + "= " + value;
        card.resize(80, ' ');
        file.replace(at, 80, card);
        return;
      }
    }
  }

  std::mt19937 rng_;
};

std::string ValidFile(const std::string& path, PixelType type) {
  Timgbuffer image;
  image.SetSize(23, 17, type);
  for (int y = 1; y <= 17; ++y) {
    for (int x = 1; x <= 23; ++x) image.SetPixel(x, y, x * 311 + y * 17);
  }
  CaptureCardValues camera;
  camera.ObservationDate = "2024-05-06T07:08:09.1";
  camera.Exposure = 3;
  camera.FilterName = "V";
  CaptureCardSettings site;
  WriteCaptureCards(image, camera, site);
  image.SaveFits(path);
  return testing::ReadFile(path);
}

TEST(FitsFuzz, MutatedFilesNeverCrashTheLoader) {
  testing::TempDir dir;
  const std::string source = (dir / "source.fit").string();
  const std::string mutated = (dir / "mutated.fit").string();
  const std::string saved = (dir / "saved.fit").string();
  const std::string originals[] = {ValidFile(source, PixelType::Bits16), ValidFile(source, PixelType::Bits8),
                                   ValidFile(source, PixelType::Bits32)};
  FitsMutator mutator(20250101);
  int loaded = 0;
  for (int round = 0; round < kRounds; ++round) {
    testing::WriteFile(mutated, mutator.Mutate(originals[round % 3]));
    Timgbuffer image;
    if (!image.LoadFits(mutated)) {
      EXPECT_FALSE(image.LastError().empty()) << "round " << round;
      continue;
    }
    ++loaded;
    ASSERT_LE(image.PixelCount(), kMaxImagePixels);
    image.ComputeMinMax();
    if (!image.HasPixels()) continue;
    // Whatever loaded can be written and read again with the same pixels.
    ASSERT_TRUE(image.SaveFits(saved)) << "round " << round << ": " << image.LastError();
    Timgbuffer again;
    ASSERT_TRUE(again.LoadFits(saved)) << "round " << round << ": " << again.LastError();
    ASSERT_EQ(again.Width(), image.Width());
    for (int i = 0; i < 50; ++i) {
      int x = 1 + static_cast<int>(mutator.Pick(static_cast<size_t>(image.Width())));
      int y = 1 + static_cast<int>(mutator.Pick(static_cast<size_t>(image.Height())));
      ASSERT_EQ(again.GetPixel(x, y), image.GetPixel(x, y)) << "round " << round;
    }
  }
  EXPECT_GT(loaded, kRounds / 10);
}

}  // namespace
}  // namespace noctarbel
