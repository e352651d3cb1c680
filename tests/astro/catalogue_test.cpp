// Object names and the catalogue lookup, on the shipped files and on small damaged ones.

#include "astro/catalogue.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/astro/catalogue_fixture.h"
#include "tests/cli_runner.h"
#include "tests/test_support.h"

namespace noctarbel {
namespace {

using testing::CatalogueRecord;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteCatalogue;
using testing::WriteFile;

const std::filesystem::path kShipped = std::filesystem::path(NOCTARBEL_SOURCE_DATA_DIR) / "catalog";

TEST(ObjectNames, PrefixesAndNumbers) {
  auto check = [](const char* text, const char* catalogue, int number) {
    auto name = ParseObjectName(text);
    ASSERT_TRUE(name) << text;
    EXPECT_EQ(name->Catalogue, catalogue) << text;
    EXPECT_EQ(name->Number, number) << text;
  };
  check("NGC5194", "NG", 5194);
  check("ngc 224", "NG", 224);
  check("IC434", "IC", 434);
  check("ic4725", "IC", 4725);
  check("M51", "M", 51);
  check("m25", "M", 25);
  for (const char* bad : {"Ngc224", "nGC224", "NGC", "NGC12a", "M 51 ", "X1", "", "Mel22", "NGC99999999999"}) {
    EXPECT_FALSE(ParseObjectName(bad)) << bad;
  }
  EXPECT_EQ(NormalisedObjectName({"NG", 224}), "NGC224");
  EXPECT_EQ(NormalisedObjectName({"IC", 4725}), "IC4725");
  EXPECT_EQ(NormalisedObjectName({"M", 31}), "M31");
}

void ExpectFound(const CatalogueLookup& r, double ra, double dec) {
  ASSERT_EQ(r.Status, LookupStatus::Found) << r.Error;
  EXPECT_NEAR(r.Ra, ra, 1e-12);
  EXPECT_NEAR(r.Dec, dec, 1e-12);
}

TEST(Catalogue, ShippedFilesGiveTheKnownPositions) {
  // OpenNGC: NGC 5194 13:29:52.71 +47:11:42.6, rounded to the records' 0.1 min and 1'.
  ExpectFound(LookupCatalogue(kShipped, "M", 51), 13 + 29.9 / 60, 47 + 12 / 60.0);
  ExpectFound(LookupCatalogue(kShipped, "NG", 5194), 13 + 29.9 / 60, 47 + 12 / 60.0);
  ExpectFound(LookupCatalogue(kShipped, "NG", 224), 42.7 / 60, 41 + 16 / 60.0);
  ExpectFound(LookupCatalogue(kShipped, "M", 42), 5 + 35.3 / 60, -(5 + 23 / 60.0));
  ExpectFound(LookupCatalogue(kShipped, "IC", 434), 5 + 41.0 / 60, -(2 + 27 / 60.0));
  // M25 is IC 4725 (18:31:46.77 -19:06:53.8).
  ExpectFound(LookupCatalogue(kShipped, "M", 25), 18 + 31.8 / 60, -(19 + 7 / 60.0));
}

TEST(Catalogue, EveryMessierObjectIsFound) {
  for (int m = 1; m <= 110; ++m) {
    CatalogueLookup r = LookupCatalogue(kShipped, "M", m);
    ASSERT_EQ(r.Status, LookupStatus::Found) << "M" << m << " " << r.Error;
    EXPECT_GE(r.Ra, 0);
    EXPECT_LT(r.Ra, 24);
  }
}

TEST(Catalogue, EveryIndexEntryLeadsToItsOwnRecord) {
  // Each number's search must stop at the record it starts from: the index and the data
  // file belong together. Every number from the first to the last is counted, so the counts
  // also pin the ends of both catalogues and the IC numbers without a position (IC 1064).
  int ngcFound = 0;
  for (int n = 1; n <= kMaxNgcNumber; ++n) ngcFound += LookupCatalogue(kShipped, "NG", n).Status == LookupStatus::Found;
  int icFound = 0;
  for (int n = 1; n <= kMaxIcNumber; ++n) icFound += LookupCatalogue(kShipped, "IC", n).Status == LookupStatus::Found;
  EXPECT_EQ(ngcFound, 7840);
  EXPECT_EQ(icFound, 5386 - 7);  // seven IC numbers without a position
  EXPECT_EQ(std::filesystem::file_size(kShipped / "ngc2000.dat"), (7840u + 5379u) * 102u);
}

TEST(Catalogue, FailuresWithoutReadingFiles) {
  TempDir empty;
  // M40 has fixed coordinates: 12 h 22 m 24 s, +58 05 00.
  ExpectFound(LookupCatalogue(empty.Path(), "M", 40), 12.373333333, 58.08333333);
  for (int m : {0, 111, -1}) EXPECT_EQ(LookupCatalogue(empty.Path(), "M", m).Status, LookupStatus::NotFound) << m;
  EXPECT_EQ(LookupCatalogue(empty.Path(), "NG", 7841).Status, LookupStatus::NotFound);
  EXPECT_EQ(LookupCatalogue(empty.Path(), "IC", 5387).Status, LookupStatus::NotFound);
  EXPECT_EQ(LookupCatalogue(empty.Path(), "NG", 0).Status, LookupStatus::NotFound);
  EXPECT_EQ(LookupCatalogue(empty.Path(), "XX", 10).Status, LookupStatus::NotFound);
}

TEST(Catalogue, MissingOrDamagedFilesAreFileErrorsNamingTheFile) {
  TempDir dir;
  CatalogueLookup r = LookupCatalogue(dir.Path(), "NG", 224);
  EXPECT_EQ(r.Status, LookupStatus::FileError);
  EXPECT_EQ(r.Error, "Catalogue file not found: " + (dir.Path() / "ngc.idx").string());

  WriteCatalogue(dir.Path(), {CatalogueRecord("NGC  224", "00", "42.7", "+41", "16")}, {{224, 1}}, {});
  std::filesystem::remove(dir / "ngc2000.dat");
  r = LookupCatalogue(dir.Path(), "NG", 224);
  EXPECT_EQ(r.Status, LookupStatus::FileError);
  EXPECT_EQ(r.Error, "Catalogue file not found: " + (dir.Path() / "ngc2000.dat").string());

  // An index cut short.
  WriteFile(dir / "ic.idx", std::string(100, '\0'));
  r = LookupCatalogue(dir.Path(), "IC", 4725);
  EXPECT_EQ(r.Status, LookupStatus::FileError);
  EXPECT_NE(r.Error.find("ic.idx"), std::string::npos);

  // A record whose number matches but whose position is garbage.
  WriteCatalogue(dir.Path(), {CatalogueRecord("NGC  224", "0x", "42.7", "+41", "16")}, {{224, 1}}, {});
  r = LookupCatalogue(dir.Path(), "NG", 224);
  EXPECT_EQ(r.Status, LookupStatus::FileError);
  EXPECT_NE(r.Error.find("ngc2000.dat"), std::string::npos);
}

TEST(Catalogue, ACatalogueCutShortIsReportedNotAnObjectNotFound) {
  // A download that stopped inside record 4001 of ngc2000.dat.
  TempDir dir;
  for (const char* name : {"ngc.idx", "ic.idx"}) std::filesystem::copy_file(kShipped / name, dir / name);
  WriteFile(dir / "ngc2000.dat", ReadFile(kShipped / "ngc2000.dat").substr(0, 4000 * 102 + 40));
  ExpectFound(LookupCatalogue(dir.Path(), "NG", 224), 42.7 / 60, 41 + 16 / 60.0);
  for (const auto& [catalogue, number] : {std::pair<const char*, int>{"M", 51}, {"IC", 434}, {"NG", 4002}}) {
    const CatalogueLookup r = LookupCatalogue(dir.Path(), catalogue, number);
    EXPECT_EQ(r.Status, LookupStatus::FileError) << catalogue << number;
    EXPECT_EQ(r.Error, "Catalogue file is damaged (cut short): " + (dir / "ngc2000.dat").string());
  }
  // Cut at a record's end: what lies beyond is missing just the same.
  WriteFile(dir / "ngc2000.dat", ReadFile(kShipped / "ngc2000.dat").substr(0, 4000 * 102));
  EXPECT_EQ(LookupCatalogue(dir.Path(), "M", 51).Status, LookupStatus::FileError);
}

TEST(Catalogue, SearchRunsOnFromTheIndexedRecord) {
  TempDir dir;
  WriteCatalogue(
      dir.Path(),
      {CatalogueRecord("NGC    1", "00", "07.3", "+27", "42"), CatalogueRecord("IC    2", "00", "11.0", "-12", "49"),
       CatalogueRecord("NGC    2", "00", "07.3", "+27", "41"),
       // "-00" with 30 arcminutes is -0.5 degrees: the sign character decides.
       CatalogueRecord("NGC    3", "00", "07.3", "-00", "30"),
       // A record without the CR LF at the very end of the file still counts.
       CatalogueRecord("IC    9", "00", "14.7", "+00", "05").substr(0, 30)},
      {{1, 1}, {2, 1}, {3, 1}, {4, 1}}, {{2, 1}, {9, 4}});
  ExpectFound(LookupCatalogue(dir.Path(), "NG", 2), 7.3 / 60, 27 + 41 / 60.0);
  ExpectFound(LookupCatalogue(dir.Path(), "NG", 3), 7.3 / 60, -0.5);
  ExpectFound(LookupCatalogue(dir.Path(), "IC", 2), 11.0 / 60, -(12 + 49 / 60.0));
  ExpectFound(LookupCatalogue(dir.Path(), "IC", 9), 14.7 / 60, 5 / 60.0);
  // Indexed, but no record for it up to the end of a file that ends in the middle of a record:
  // the file was cut short.
  EXPECT_EQ(LookupCatalogue(dir.Path(), "NG", 4).Status, LookupStatus::FileError);
  // Index entry 0: no record.
  EXPECT_EQ(LookupCatalogue(dir.Path(), "NG", 5).Status, LookupStatus::NotFound);
}

TEST(CatalogueBuilder, RebuildingFromOpenNgcGivesTheShippedBytes) {
  const std::filesystem::path source = NOCTARBEL_OPENNGC_CSV;
  if (!std::filesystem::exists(source)) GTEST_SKIP() << "OpenNGC source not present: " << source;
  TempDir out;
  TempDir scratch;
  testing::CliResult r =
      testing::RunCli(NOCTARBEL_BUILD_CATALOG,
                      testing::ShellQuote(source.string()) + " " + testing::ShellQuote(out.Path().string()), scratch);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (const char* file : {"ngc2000.dat", "ngc.idx", "ic.idx"}) {
    EXPECT_TRUE(ReadFile(out / file) == ReadFile(kShipped / file)) << file << " differs from the shipped file";
  }
}

TEST(CatalogueBuilder, RefusesABrokenSource) {
  TempDir dir;
  WriteFile(dir / "NGC.csv",
            "Name;Type;RA;Dec;Const;M;Common names\nNGC0001;G;00:07:15.84;+27:42:29.1;Peg;;\n"
            "NGC0002;G;0x:07:17;+27:40:42;Peg;;\n");
  testing::CliResult r = testing::RunCli(
      NOCTARBEL_BUILD_CATALOG,
      testing::ShellQuote((dir / "NGC.csv").string()) + " " + testing::ShellQuote((dir / "out").string()), dir);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find(":3: bad position for NGC0002"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "out" / "ngc2000.dat"));
}

}  // namespace
}  // namespace noctarbel
