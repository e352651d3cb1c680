// Mutated settings, table and plan files: the readers load what they can or refuse, never
// crash, never grow beyond their limits, and what they load saves and reloads unchanged.

#include <gtest/gtest.h>

#include <random>

#include "app/event_runtime.h"
#include "app/filter_tables.h"
#include "app/settings.h"
#include "app/station.h"
#include "automation/plan_file.h"
#include "tests/test_support.h"

namespace noctarbel {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

constexpr int kRoundsPerFile = 600;

class Mutator {
 public:
  explicit Mutator(unsigned seed) : rng_(seed) {}

  std::string Mutate(std::string text) {
    int edits = 1 + Pick(8);
    for (int i = 0; i < edits; ++i) {
      switch (Pick(7)) {
        case 0:  // flip a byte
          if (!text.empty()) text[Pick(text.size())] = static_cast<char>(Pick(256));
          break;
        case 1:  // insert special characters
          text.insert(Pick(text.size() + 1), std::string(1 + Pick(4), kSpecial[Pick(sizeof kSpecial - 1)]));
          break;
        case 2:  // delete a range
          if (!text.empty()) {
            size_t at = Pick(text.size());
            text.erase(at, Pick(text.size() - at + 1));
          }
          break;
        case 3:  // duplicate a chunk
          if (!text.empty()) {
            size_t at = Pick(text.size());
            text.insert(Pick(text.size() + 1), text.substr(at, 1 + Pick(200)));
          }
          break;
        case 4:  // a very long line
          text.insert(Pick(text.size() + 1), std::string(Pick(2) ? 70000 : 3000, kSpecial[Pick(sizeof kSpecial - 1)]));
          break;
        case 5:  // many fields
          text.insert(Pick(text.size() + 1), Repeat(Pick(2) ? ";" : ",", 10000));
          break;
        default:  // random bytes
          for (size_t n = Pick(64); n > 0; --n) text.insert(Pick(text.size() + 1), 1, static_cast<char>(Pick(256)));
          break;
      }
    }
    return text;
  }

 private:
  static constexpr char kSpecial[] = "\0\r\n;,=[]\\\xB0\xFF\t -";
  size_t Pick(size_t n) { return n == 0 ? 0 : std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }
  static std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
  }
  std::mt19937 rng_;
};

TEST(StationFilesFuzz, SettingsFile) {
  TempDir dir;
  SettingsRecord seed;
  seed.Observername = "Anna";
  seed.AFLslope = -0.05f;
  ASSERT_TRUE(SaveSettingsFile(dir / "seed.ini", seed));
  const std::string valid = ReadFile(dir / "seed.ini");
  Mutator mutator(20261206);
  for (int round = 0; round < kRoundsPerFile; ++round) {
    WriteFile(dir / "noctarbel.ini", mutator.Mutate(valid));
    SettingsRecord loaded = LoadSettingsFile(dir / "noctarbel.ini");
    ASSERT_TRUE(SaveSettingsFile(dir / "noctarbel.ini", loaded));
    SettingsRecord again = LoadSettingsFile(dir / "noctarbel.ini");
    for (const auto& key : SettingKeys()) {
      ASSERT_EQ(FormatSettingValue(again, key), FormatSettingValue(loaded, key)) << "round " << round << " " << key.key;
    }
  }
}

TEST(StationFilesFuzz, FilterAndFocusTables) {
  TempDir dir;
  const std::string validFilters = "L,0\r\nR,25\r\nG,-10\r\nB,15\r\nHa,40\r\n";
  const std::string validFocus = "park,1000\r\nwinter,1450\r\n";
  Mutator mutator(4711);
  for (int round = 0; round < kRoundsPerFile; ++round) {
    WriteFile(dir / "filterwheel.txt", mutator.Mutate(validFilters));
    WriteFile(dir / "focustable.txt", mutator.Mutate(validFocus));
    FilterTable filters;
    LoadFilterTable(filters, dir.Path(), true);
    ASSERT_LE(filters.FilterNames.size(), 10u);
    ASSERT_EQ(filters.FilterNames.size(), filters.FilterOffsets.size());
    FocusTable focus;
    LoadFocusTable(focus, dir.Path());
    ASSERT_LE(focus.FocusNames.size(), static_cast<size_t>(kMaxFocusEntries));
    ASSERT_TRUE(SaveFilterTable(filters, dir.Path(), true));
    ASSERT_TRUE(SaveFocusTable(focus, dir.Path()));
    FocusTable back;
    LoadFocusTable(back, dir.Path());
    ASSERT_EQ(back.FocusNames, focus.FocusNames) << "round " << round;
    ASSERT_EQ(back.FocusPositions, focus.FocusPositions) << "round " << round;
  }
}

TEST(StationFilesFuzz, PlanFiles) {
  TempDir dir;
  auto clock = EventRuntime::WithVirtualClock(EncodeDate(2026, 12, 6));
  ScriptedUi ui;
  ui.defaultAnswer = true;
  const std::string valid =
      "UT(h);UT(m);UT(s);Object name;RA(h);RA(m);RA(s);DEC(\xC2\xB0);DEC(');DEC(\");exp.(s);bin/zoom;filter(1..n);"
      "number;filename;Pause(s);\r\n22;0;0;M 51;13;29;52.7;47;11;43;300;2;123;3;;60;\r\n;;;;P1;\r\n"
      ";;;M 42;05;35;17.3;-05;23;28;3*20;2/2; 12 ;2;orion;0;\r\n";
  Mutator mutator(1212);
  for (int round = 0; round < kRoundsPerFile; ++round) {
    WriteFile(dir / "plan.csv", mutator.Mutate(valid));
    Station station(*clock, ui, StationPaths{dir.Path(), dir.Path()});
    PlanFileContent content = ReadPlanFile(dir / "plan.csv");
    bool loaded = LoadPlanTable(station, dir / "plan.csv");
    ASSERT_EQ(loaded, content.ok);
    if (!loaded) {
      ASSERT_FALSE(content.error.empty());
      ASSERT_EQ(content.error.find('\n'), std::string::npos);
      continue;
    }
    ASSERT_LE(station.Planer1.RowCount(), kMaxPlanRows + 1);
    for (const auto& row : content.rows) ASSERT_EQ(row.size(), 16u);
    // What loaded saves and reads back the same.
    ASSERT_TRUE(SavePlanFile(station.Planer1, dir / "back.csv", nullptr)) << "round " << round;
    PlanFileContent back = ReadPlanFile(dir / "back.csv");
    ASSERT_TRUE(back.ok);
    ASSERT_EQ(back.rows.size(), static_cast<size_t>(station.Planer1.RowCount() - 1));
    for (size_t r = 0; r < back.rows.size(); ++r) {
      const auto& cells = station.Planer1.Row(static_cast<int>(r) + 1);
      ASSERT_EQ(back.rows[r], PlanRow(cells.begin() + 1, cells.end())) << "round " << round;
    }
  }
}

}  // namespace
}  // namespace noctarbel
