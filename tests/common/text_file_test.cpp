#include "common/text_file.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

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

// LF, CR LF and CR alike, also mixed, a byte-order mark skipped, a missing last line end.
TEST(LineReader, TakesEveryLineEndAndSkipsAByteOrderMark) {
  TempDir dir;
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"one\r\ntwo\nthree", {"one", "two", "three"}},
      {"one\r\n\r\n", {"one", ""}},
      {"", {}},
      {"\xEF\xBB\xBF[COM]\r\nkey=1\r\n", {"[COM]", "key=1"}},
      {"one\rtwo\r\rfour", {"one", "two", "", "four"}},
      {"one\r\ntwo\rthree\r\nfour\n", {"one", "two", "three", "four"}},  // a lone CR in a CR LF file
      {"\xEF\xBB\xBF", {}},
  };
  for (const auto& [content, lines] : cases) {
    WriteFile(dir / "a.txt", content);
    EXPECT_EQ(ReadAll(dir / "a.txt"), lines) << content;
  }
  EXPECT_FALSE(LineReader(dir / "missing.txt").IsOpen());
  EXPECT_FALSE(LineReader(dir.Path()).IsOpen());
  // A CR LF split between two reads of the file is still one line end, wherever the split
  // falls.
  for (size_t length = 0; length <= 40; ++length) {
    std::string content;
    const std::string line(length, 'x');
    while (content.size() < 200000) content += line + "\r\n";
    WriteFile(dir / "long.txt", content);
    std::vector<std::string> lines = ReadAll(dir / "long.txt", 100);
    ASSERT_EQ(lines.size(), content.size() / (length + 2)) << length;
    ASSERT_EQ(std::count(lines.begin(), lines.end(), line), static_cast<long>(lines.size())) << length;
  }
}

TEST(TextEncoding, Windows1252BecomesUtf8AndUtf8StaysAsItIs) {
  EXPECT_EQ(ToUtf8FromUtf8OrWindows1252("DEC(\xB0)"), "DEC(\xC2\xB0)");
  EXPECT_EQ(ToUtf8FromUtf8OrWindows1252("DEC(\xC2\xB0)"), "DEC(\xC2\xB0)");
  EXPECT_EQ(ToUtf8FromUtf8OrWindows1252("\x80 5 \x96 \x84Nebel\x93 \x85"),
            "\xE2\x82\xAC 5 \xE2\x80\x93 \xE2\x80\x9ENebel\xE2\x80\x9C \xE2\x80\xA6");
  EXPECT_EQ(ToUtf8FromUtf8OrWindows1252("a\x81"
                                        "b"),
            "a\xEF\xBF\xBD"
            "b")
      << "undefined in Windows-1252";
  EXPECT_FALSE(IsValidUtf8("\xC2"));
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));  // a surrogate
  EXPECT_TRUE(IsValidUtf8("M 51 \xE2\x80\xB3"));
  EXPECT_EQ(RemoveControlCharacters(std::string("a\0b\tc\r\n", 7)), "ab\tc");
  EXPECT_EQ(RemoveControlCharacters("L,0\xEF\xBB\xBFR,25"), "L,0R,25") << "a mark left where two files were joined";
}

TEST(TextEncoding, MessagesStayOnOnePrintableLine) {
  EXPECT_EQ(JoinedToOneLine("Driver error:\r\nport closed\nretry\rlater\x1B"), "Driver error: port closed retry later");
  EXPECT_EQ(PrintableText("a\x1B[31m\nb\xFF \xC2\xB0 \xC2\x9B"), "a\\x1B[31m\\x0Ab\\xFF \xC2\xB0 \\xC2\\x9B");
}

TEST(WriteFileAtomically, ReplacesWholeOrNothing) {
  TempDir dir;
  ASSERT_TRUE(WriteFileAtomically(dir / "f.txt", JoinLinesCrLf({"a", "b"})));
  EXPECT_EQ(ReadFile(dir / "f.txt"), "a\r\nb\r\n");
  std::string error;
  EXPECT_FALSE(WriteFileAtomically(dir / "no" / "such" / "f.txt", "x", &error));
  EXPECT_NE(error.find("cannot create"), std::string::npos);
  EXPECT_EQ(ReadFile(dir / "f.txt"), "a\r\nb\r\n");
  {
    // Not committed (the writer gave up half-way): the old file stays, the temporary goes.
    FileReplacement half(dir / "f.txt");
    ASSERT_TRUE(half.Write("half", 4));
  }
  EXPECT_EQ(ReadFile(dir / "f.txt"), "a\r\nb\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1) << "no temporary left behind";
}

// Swapped in: the name always holds a whole file, a reader of the earlier one keeps it, and
// no temporary is left; without an earlier file, or with a folder in the way, it is as Commit.
TEST(FileReplacement, SwappingReplacesAnEarlierFileWholeOrNothing) {
  TempDir dir;
  const std::filesystem::path target = dir / "image.fit";
  auto swapIn = [&](std::string_view content) {
    FileReplacement file(target);
    return file.Write(content.data(), content.size()) && file.CommitSwapping();
  };
  ASSERT_TRUE(swapIn("first"));
  EXPECT_EQ(ReadFile(target), "first");
  std::ifstream reader(target, std::ios::binary);
  ASSERT_TRUE(swapIn("second, longer"));
  EXPECT_EQ(ReadFile(target), "second, longer");
  std::string held;
  std::getline(reader, held);
  EXPECT_EQ(held, "first") << "an open reader keeps the earlier file";
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1) << "no temporary left behind";

  std::filesystem::create_directory(dir / "folder.fit");
  FileReplacement blocked(dir / "folder.fit");
  ASSERT_TRUE(blocked.Write("x", 1));
  EXPECT_FALSE(blocked.CommitSwapping());
  EXPECT_NE(blocked.Error().find("cannot replace"), std::string::npos) << blocked.Error();
  EXPECT_TRUE(std::filesystem::is_directory(dir / "folder.fit"));
}

// A save killed half-way leaves its temporary file; the next save into that folder removes
// such files of processes that are gone, and only those.
TEST(FileReplacement, TheNextSaveRemovesTemporariesOfDeadProcesses) {
  TempDir dir;
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  const std::string dead = std::to_string(child);
  const std::string self = std::to_string(getpid());
  for (const std::string& name : {"a.fit.tmp" + dead + "-3", "b.fit.tmp" + self + "-1", std::string("c.fit.tmp1-0"),
                                  "d.tmp" + dead + "-x", "e.tmp" + dead}) {
    WriteFile(dir / name, "partial");
  }
  ASSERT_TRUE(WriteFileAtomically(dir / "new.fit", "image"));
  for (const std::string& kept :
       {"b.fit.tmp" + self + "-1", std::string("c.fit.tmp1-0"), "d.tmp" + dead + "-x", "e.tmp" + dead}) {
    EXPECT_TRUE(std::filesystem::exists(dir / kept)) << kept;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / ("a.fit.tmp" + dead + "-3")));
}

}  // namespace
}  // namespace noctarbel
