// Mutated calibration configuration files: the reader takes what it can or refuses the file,
// never crashes, and whatever it took saves and reads back unchanged.

#include <gtest/gtest.h>

#include <random>

#include "imaging/calibration_config.h"
#include "tests/test_support.h"

namespace noctarbel {
namespace {

std::string Mutate(std::string text, std::mt19937& rng) {
  auto pick = [&rng](size_t n) { return n == 0 ? 0 : std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  static constexpr char kSpecial[] = "\0\r\n,\t\xEF\xBB\xBF\xFF 1";
  for (size_t edits = 1 + pick(6); edits > 0; --edits) {
    switch (pick(5)) {
      case 0:
        if (!text.empty()) text[pick(text.size())] = static_cast<char>(pick(256));
        break;
      case 1:
        text.insert(pick(text.size() + 1), std::string(1 + pick(3), kSpecial[pick(sizeof kSpecial - 1)]));
        break;
      case 2:
        if (!text.empty()) {
          const size_t at = pick(text.size());
          text.erase(at, pick(text.size() - at + 1));
        }
        break;
      case 3:
        text.insert(pick(text.size() + 1), std::string(pick(2) ? 5000 : 300, 'x'));
        break;
      default:
        if (!text.empty()) {
          const size_t at = pick(text.size());
          text.insert(pick(text.size() + 1), text.substr(at, 1 + pick(120)));
        }
        break;
    }
  }
  return text;
}

TEST(CalibrationConfigFuzz, WhatIsReadSavesAndReadsBackUnchanged) {
  testing::TempDir dir;
  CalibrationConfig seed;
  for (int i = 0; i < kFlatIdCount; ++i) seed.Tables.FlatFiles[i] = "flats/flat " + std::to_string(i + 1) + ".fit";
  seed.Tables.FlatIds[0] = {"1", "2", "3"};
  seed.Tables.FlatIds[5] = {"", "6", ""};
  seed.DarkFiles = {"d1.fit", "d2.fit", "d4.fit"};
  seed.BiasFiles = {"b1.fit", "", "b4.fit"};
  seed.HotPixelCorrection = true;
  seed.HotPixelSigma = 5;
  const std::string original = CalibrationConfigText(seed);
  std::mt19937 rng(20261206);
  int read = 0;
  for (int round = 0; round < 500; ++round) {
    testing::WriteFile(dir / "mutated.cfg", Mutate(original, rng));
    CalibrationConfig config;
    if (!ReadCalibrationConfig(dir / "mutated.cfg", config).Read) continue;
    ++read;
    std::string error;
    ASSERT_TRUE(SaveCalibrationConfig(dir / "again.cfg", config, &error)) << round << ": " << error;
    CalibrationConfig again;
    const CalibrationConfigRead reread = ReadCalibrationConfig(dir / "again.cfg", again);
    ASSERT_TRUE(reread.Skipped.empty()) << round;
    ASSERT_EQ(CalibrationConfigText(again), CalibrationConfigText(config)) << round;
  }
  EXPECT_GT(read, 100) << "most mutations keep the title line";
}

}  // namespace
}  // namespace noctarbel
