// Mutated settings, table and plan files: the readers load what they can or refuse, never
// crash, never grow beyond their limits, and what they load saves and reloads unchanged. The
// same files written by other programs (a byte-order mark, CR, LF or CR LF line ends, the old
// Windows code page) read exactly as the originals.

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <sstream>

#include "astro/horizon.h"
#include "automation/plan_file.h"
#include "common/event_runtime.h"
#include "common/text_file.h"
#include "station/filter_tables.h"
#include "station/settings.h"
#include "tests/test_support.h"
#include "windows/plan_table_window.h"
#include "windows/station.h"

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
      switch (Pick(9)) {
        case 7:  // a byte-order mark, where it belongs or anywhere
          text.insert(Pick(2) ? 0 : Pick(text.size() + 1), "\xEF\xBB\xBF");
          break;
        case 8:  // one line end turned into another
          if (size_t at = text.find_first_of("\r\n", Pick(text.size() + 1)); at != std::string::npos) {
            text.replace(at, text.compare(at, 2, "\r\n") == 0 ? 2 : 1, Pick(2) ? "\r" : Pick(2) ? "\n" : "\r\n");
          }
          break;
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

// The same text as another program writes it: maybe a byte-order mark, each line end CR, LF or
// CR LF at random, and maybe in Windows-1252 instead of UTF-8.
class ForeignWriter {
 public:
  explicit ForeignWriter(unsigned seed) : rng_(seed) {}

  std::string Write(const std::vector<std::string>& lines) {
    const bool windows1252 = Pick(2) == 1;
    std::string text = windows1252 || Pick(2) == 0 ? "" : "\xEF\xBB\xBF";
    for (const auto& line : lines) {
      text += windows1252 ? ToWindows1252(line) : line;
      text += kLineEnds[Pick(3)];
    }
    return text;
  }

 private:
  // Only the characters the files below hold.
  static std::string ToWindows1252(const std::string& utf8) {
    static const std::pair<const char*, char> kCodes[] = {
        {"\xC3\xBC", '\xFC'},     {"\xC3\xB6", '\xF6'},     {"\xC3\xA4", '\xE4'},     {"\xC2\xB0", '\xB0'},
        {"\xE2\x80\x93", '\x96'}, {"\xE2\x80\x9E", '\x84'}, {"\xE2\x80\x9C", '\x93'}, {"\xE2\x82\xAC", '\x80'}};
    std::string out = utf8;
    for (const auto& [from, to] : kCodes) {
      for (size_t at = out.find(from); at != std::string::npos; at = out.find(from, at + 1)) {
        out.replace(at, std::string_view(from).size(), 1, to);
      }
    }
    return out;
  }
  size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }

  static constexpr const char* kLineEnds[] = {"\r", "\n", "\r\n"};
  std::mt19937 rng_;
};

// Everything the readers take from the station files in `folder`, as one text.
std::string LoadedText(const std::filesystem::path& folder) {
  std::ostringstream out;
  out.precision(17);
  const SettingsRecord settings = LoadSettingsFile(folder / "noctarbel.ini");
  for (const auto& key : SettingKeys()) out << key.key << "=" << FormatSettingValue(settings, key) << "\n";
  const PlanFileContent plan = ReadPlanFile(folder / "plan.csv");
  out << "plan rows " << plan.rows.size() << "\n" << plan.error;
  for (const PlanRow& row : plan.rows) out << JoinLinesCrLf(row);
  FilterTable filters;
  LoadFilterTable(filters, folder, true);
  for (size_t i = 0; i < filters.FilterNames.size(); ++i) {
    out << "filter " << filters.FilterNames[i] << "," << filters.FilterOffsets.at(i) << "\n";
  }
  FocusTable focus;
  LoadFocusTable(focus, folder);
  for (size_t i = 0; i < focus.FocusNames.size(); ++i) {
    out << "focus " << focus.FocusNames[i] << "," << focus.FocusPositions.at(i) << "\n";
  }
  HorizonTable horizon;
  LoadHorizonFile(folder / "horizon.txt", horizon);
  out << "horizon points " << horizon.Count << "\n";
  for (int k = 0; k < horizon.Count; ++k) out << horizon.Points[k].Azimuth << " " << horizon.Points[k].Altitude << "\n";
  return out.str();
}

constexpr int kForeignRounds = 200;

TEST(StationFilesFuzz, ForeignLineEndsMarksAndCodePagesReadAlike) {
  TempDir dir;
  // \u escapes: UTF-8 in the program's strings.
  const std::vector<std::string> settings = {"[COM]",        "EnableObservatoryControl=1",
                                             "Comport1=3",   "[GEO]",
                                             "Glaenge=11.5", "Horizontdatei=Horizont S\u00fcd.txt",
                                             "[FITS]",       "Observername=J\u00f6rg M\u00fcller \u2013 Sternwarte"};
  const std::vector<std::string> plan = {
      "UT(h);UT(m);UT(s);Object name;RA(h);RA(m);RA(s);DEC(\xC2\xB0);DEC(');DEC(\");exp.(s);bin/zoom;filter(1..n);"
      "number;filename;Pause(s);",
      "22;0;0;M 51;13;29;52.7;47;11;43;300;2;123;3;;60;", "", ";;;;P1;",
      ";;;\xE2\x80\x9ERosette\xE2\x80\x9C;06;33;45;04;59;54;3*20;2/2;12;2;rosette \xE2\x82\xAC;0;"};
  const std::vector<std::string> filters = {"L,0", "Rot,25", "Gr\xC3\xBCn,-10", "Blau,15", "H \xE2\x80\x93 alpha,40"};
  const std::vector<std::string> focus = {"Sommer,1000", "Winter \xE2\x80\x93 kalt,1450"};
  const std::vector<std::string> horizon = {"# S\u00fcden: B\u00e4ume", "0 10", "10;20", "20 10", "355 12.5"};

  auto writeAll = [&](const std::filesystem::path& folder,
                      const std::function<std::string(const std::vector<std::string>&)>& write) {
    std::filesystem::create_directories(folder);
    WriteFile(folder / "noctarbel.ini", write(settings));
    WriteFile(folder / "plan.csv", write(plan));
    WriteFile(folder / "filterwheel.txt", write(filters));
    WriteFile(folder / "focustable.txt", write(focus));
    WriteFile(folder / "horizon.txt", write(horizon));
  };
  writeAll(dir / "original", [](const std::vector<std::string>& lines) { return JoinLinesCrLf(lines); });
  const std::string expected = LoadedText(dir / "original");
  ASSERT_NE(expected.find("Observername=J\u00f6rg M\u00fcller \u2013 Sternwarte\n"), std::string::npos);
  ASSERT_NE(expected.find("plan rows 3\n"), std::string::npos) << expected;
  ASSERT_NE(expected.find("horizon points 4\n"), std::string::npos) << expected;
  ForeignWriter foreign(1252);
  for (int round = 0; round < kForeignRounds; ++round) {
    writeAll(dir / "foreign", [&](const std::vector<std::string>& lines) { return foreign.Write(lines); });
    ASSERT_EQ(LoadedText(dir / "foreign"), expected) << round;
  }
}

}  // namespace
}  // namespace noctarbel
