#pragma once
// A Windows-style ini file: [section] lines followed by key=value lines. Section and key
// names match without regard to letter case; the first occurrence wins.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace noctarbel {

class IniFile {
 public:
  struct Line {
    std::string key;    // empty for comments and other lines kept as they stand
    std::string value;  // or the raw line
  };
  struct Section {
    std::string name;
    std::vector<Line> lines;
  };

  // Missing or unreadable file: empty. Overlong lines and lines with NUL bytes are skipped; a
  // byte-order mark and CR, LF or CR LF line ends are read alike.
  static IniFile Load(const std::filesystem::path& path);

  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  // Replaces the first occurrence or appends the key to the section (created when missing).
  void Set(std::string_view section, std::string_view key, std::string_view value);
  const std::vector<Section>& Sections() const { return sections_; }
  // Lines before the first section (comments, usually).
  const std::vector<Line>& Preamble() const { return preamble_; }
  // CR LF line ends.
  std::string Serialize() const;

 private:
  void AddLine(std::string_view raw, Section*& current);
  Section* FindSection(std::string_view name);
  const Section* FindSection(std::string_view name) const;

  std::vector<Line> preamble_;  // lines before the first section
  std::vector<Section> sections_;
};

}  // namespace noctarbel
