#include "station/ini_file.h"

#include "common/number_text.h"
#include "common/text_file.h"

namespace noctarbel {

namespace {
constexpr size_t kMaxIniLine = 1 << 16;
}

IniFile IniFile::Load(const std::filesystem::path& path) {
  IniFile ini;
  LineReader reader(path, kMaxIniLine);
  if (!reader.IsOpen()) return ini;
  Section* current = nullptr;
  std::string line;
  while (reader.Next(line)) {
    if (reader.LastLineOverlong() || line.find('\0') != std::string::npos) continue;
    ini.AddLine(ToUtf8FromUtf8OrWindows1252(line), current);
  }
  return ini;
}

void IniFile::AddLine(std::string_view raw, Section*& current) {
  std::string_view trimmed = TrimBlanks(raw);
  if (!trimmed.empty() && trimmed.front() == '[') {
    size_t close = trimmed.find(']');
    if (close != std::string_view::npos) {
      sections_.push_back(Section{std::string(TrimBlanks(trimmed.substr(1, close - 1))), {}});
      current = &sections_.back();
      return;
    }
  }
  Line line;
  size_t eq = trimmed.find('=');
  if (eq != std::string_view::npos && trimmed.front() != ';' && trimmed.front() != '#') {
    line.key = std::string(TrimBlanks(trimmed.substr(0, eq)));
    line.value = std::string(TrimBlanks(trimmed.substr(eq + 1)));
  }
  if (line.key.empty()) {
    if (trimmed.empty()) return;  // blank lines are not worth keeping
    line.key.clear();
    line.value = std::string(raw);
  }
  (current ? current->lines : preamble_).push_back(std::move(line));
}

IniFile::Section* IniFile::FindSection(std::string_view name) {
  for (auto& s : sections_) {
    if (EqualsIgnoreCase(s.name, name)) return &s;
  }
  return nullptr;
}

const IniFile::Section* IniFile::FindSection(std::string_view name) const {
  for (const auto& s : sections_) {
    if (EqualsIgnoreCase(s.name, name)) return &s;
  }
  return nullptr;
}

std::optional<std::string> IniFile::Get(std::string_view section, std::string_view key) const {
  const Section* s = FindSection(section);
  if (!s) return std::nullopt;
  for (const auto& line : s->lines) {
    if (!line.key.empty() && EqualsIgnoreCase(line.key, key)) return line.value;
  }
  return std::nullopt;
}

void IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
  Section* s = FindSection(section);
  if (!s) {
    sections_.push_back(Section{std::string(section), {}});
    s = &sections_.back();
  }
  for (auto& line : s->lines) {
    if (!line.key.empty() && EqualsIgnoreCase(line.key, key)) {
      line.value = std::string(value);
      return;
    }
  }
  s->lines.push_back(Line{std::string(key), std::string(value)});
}

std::string IniFile::Serialize() const {
  std::string out;
  auto writeLines = [&out](const std::vector<Line>& lines) {
    for (const auto& line : lines) {
      out += line.key.empty() ? line.value : line.key + "=" + line.value;
      out += "\r\n";
    }
  };
  writeLines(preamble_);
  for (const auto& s : sections_) {
    out += "[" + s.name + "]\r\n";
    writeLines(s.lines);
  }
  return out;
}

}  // namespace noctarbel
