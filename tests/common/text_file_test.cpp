#include "common/text_file.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace noctarbel {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

std::vector<std::string> ReadAll(const std::filesystem::path& path, size_t max = 1 << 16) {
  LineReader reader(path, max);
  std::vector<std::string> lines;
  std::string line;
  while (reader.Next(line)) lines.push_back(line);
  return lines;
}

TEST(LineReader, AcceptsLfAndCrLfAndAMissingLastLineEnd) {
  TempDir dir;
  WriteFile(dir / "a.txt", "one\r\ntwo\nthree");
  EXPECT_EQ(ReadAll(dir / "a.txt"), (std::vector<std::string>{"one", "two", "three"}));
  WriteFile(dir / "b.txt", "one\r\n\r\n");
  EXPECT_EQ(ReadAll(dir / "b.txt"), (std::vector<std::string>{"one", ""}));
  WriteFile(dir / "empty.txt", "");
  EXPECT_TRUE(ReadAll(dir / "empty.txt").empty());
  EXPECT_FALSE(LineReader(dir / "missing.txt").IsOpen());
  EXPECT_FALSE(LineReader(dir.Path()).IsOpen());
}

TEST(LineReader, CutsOverlongLinesAndGoesOn) {
  TempDir dir;
  std::string huge(300000, 'x');
  WriteFile(dir / "a.txt", "first\n" + huge + "\nlast\n");
  LineReader reader(dir / "a.txt", 1000);
  std::string line;
  ASSERT_TRUE(reader.Next(line));
  EXPECT_FALSE(reader.LastLineOverlong());
  ASSERT_TRUE(reader.Next(line));
  EXPECT_TRUE(reader.LastLineOverlong());
  EXPECT_EQ(line.size(), 1000u);
  ASSERT_TRUE(reader.Next(line));
  EXPECT_EQ(line, "last");
  EXPECT_EQ(reader.LineNumber(), 3u);
  EXPECT_FALSE(reader.Next(line));
}

TEST(TextEncoding, Latin1BecomesUtf8AndUtf8StaysAsItIs) {
  EXPECT_EQ(ToUtf8FromUtf8OrLatin1("DEC(\xB0)"), "DEC(\xC2\xB0)");
  EXPECT_EQ(ToUtf8FromUtf8OrLatin1("DEC(\xC2\xB0)"), "DEC(\xC2\xB0)");
  EXPECT_FALSE(IsValidUtf8("\xC2"));
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));  // a surrogate
  EXPECT_TRUE(IsValidUtf8("M 51 \xE2\x80\xB3"));
  EXPECT_EQ(RemoveControlCharacters(std::string("a\0b\tc\r\n", 7)), "ab\tc");
}

TEST(WriteFileAtomically, ReplacesWholeOrNothing) {
  TempDir dir;
  ASSERT_TRUE(WriteFileAtomically(dir / "f.txt", JoinLinesCrLf({"a", "b"})));
  EXPECT_EQ(ReadFile(dir / "f.txt"), "a\r\nb\r\n");
  std::string error;
  EXPECT_FALSE(WriteFileAtomically(dir / "no" / "such" / "f.txt", "x", &error));
  EXPECT_NE(error.find("cannot create"), std::string::npos);
  EXPECT_EQ(ReadFile(dir / "f.txt"), "a\r\nb\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1) << "no temporary left behind";
}

}  // namespace
}  // namespace noctarbel
