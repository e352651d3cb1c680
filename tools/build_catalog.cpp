// noctarbel-build-catalog: builds the shipped catalogue files ngc2000.dat, ngc.idx and
// ic.idx from OpenNGC's NGC.csv.
//
//   noctarbel-build-catalog NGC.csv OUTPUT_FOLDER
//
// One record per NGC and IC number, from the number's plain row ("NGC0224", not "NGC0224A"
// or "IC0080 NED01"); rows without a position get no record and index entry 0. Records hold
// RA to 0.1 minute and Dec to 1 arcminute, rounded half to even, computed in whole units of
// the text's last decimal so no binary rounding can tip a half. The output depends on the
// input alone, so a rebuild gives the same bytes.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr size_t kRecordTextLength = 100;  // then CR LF: 102 bytes
constexpr int kMaxNgc = 7840;
constexpr int kMaxIc = 5386;

struct Entry {
  int RaTenthsOfMinute = 0;  // 0 .. 14399
  bool South = false;
  int DecArcminutes = 0;  // magnitude
  std::string Type;
  std::string Constellation;
  std::string CommonNames;
};

struct Catalogue {
  std::map<int, Entry> Ngc;
  std::map<int, Entry> Ic;
};

// ;-separated fields; double-quoted fields may hold ";" and "" for a quote.
std::vector<std::string> SplitCsvLine(std::string_view line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        fields.back().push_back('"');
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        fields.back().push_back(c);
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ';') {
      fields.emplace_back();
    } else {
      fields.back().push_back(c);
    }
  }
  return fields;
}

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::int64_t ToInt(std::string_view digits) {
  std::int64_t value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  return value;
}

// "NGC0224" -> ("NGC", 224); suffixed component rows give nullopt.
std::optional<std::pair<std::string, int>> PlainName(std::string_view name) {
  for (std::string_view prefix : {"NGC", "IC"}) {
    if (name.substr(0, prefix.size()) != prefix) continue;
    std::string_view digits = name.substr(prefix.size());
    if (digits.size() != 4 || !AllDigits(digits)) return std::nullopt;
    return std::make_pair(std::string(prefix), static_cast<int>(ToInt(digits)));
  }
  return std::nullopt;
}

// "AA:BB:CC[.ddd]" as a count of units of the last decimal of CC, and that unit's scale.
struct Sexagesimal {
  std::int64_t Units = 0;  // ((AA * 60 + BB) * 60 + CC) * scale
  std::int64_t Scale = 1;  // units per second
};

std::optional<Sexagesimal> ParseSexagesimal(std::string_view text) {
  if (text.size() < 8 || text[2] != ':' || text[5] != ':') return std::nullopt;
  std::string_view a = text.substr(0, 2), b = text.substr(3, 2), rest = text.substr(6);
  std::string_view whole = rest.substr(0, rest.find('.'));
  std::string_view decimals = rest.find('.') == std::string_view::npos ? "" : rest.substr(rest.find('.') + 1);
  if (!AllDigits(a) || !AllDigits(b) || whole.size() != 2 || !AllDigits(whole) || decimals.size() > 4 ||
      (!decimals.empty() && !AllDigits(decimals))) {
    return std::nullopt;
  }
  Sexagesimal s;
  for (size_t i = 0; i < decimals.size(); ++i) s.Scale *= 10;
  s.Units = ((ToInt(a) * 60 + ToInt(b)) * 60 + ToInt(whole)) * s.Scale + (decimals.empty() ? 0 : ToInt(decimals));
  return s;
}

// numerator / denominator rounded to the nearest integer, halves to even (both positive).
std::int64_t DivideRoundHalfEven(std::int64_t numerator, std::int64_t denominator) {
  std::int64_t quotient = numerator / denominator;
  std::int64_t twiceRemainder = 2 * (numerator % denominator);
  if (twiceRemainder > denominator || (twiceRemainder == denominator && quotient % 2 != 0)) ++quotient;
  return quotient;
}

std::optional<Entry> MakeEntry(std::string_view ra, std::string_view dec) {
  auto raValue = ParseSexagesimal(ra);
  if (dec.empty() || (dec[0] != '+' && dec[0] != '-')) return std::nullopt;
  auto decValue = ParseSexagesimal(dec.substr(1));
  if (!raValue || !decValue) return std::nullopt;
  Entry e;
  // A tenth of a minute of time is 6 seconds.
  e.RaTenthsOfMinute = static_cast<int>(DivideRoundHalfEven(raValue->Units, 6 * raValue->Scale) % (24 * 600));
  e.DecArcminutes = static_cast<int>(DivideRoundHalfEven(decValue->Units, 60 * decValue->Scale));
  if (e.DecArcminutes > 90 * 60) return std::nullopt;
  // A declination that rounds to 0 is written "+00 00".
  e.South = dec[0] == '-' && e.DecArcminutes != 0;
  return e;
}

std::string Padded(int value, int width, char fill) {
  std::string text = std::to_string(value);
  return std::string(static_cast<size_t>(std::max(0, width - static_cast<int>(text.size()))), fill) + text;
}

void Put(std::string& record, size_t position, std::string_view text, size_t maxLength) {
  text = text.substr(0, maxLength);
  record.replace(position - 1, text.size(), text);
}

// Positions (1-based): catalogue 1-2, number 4-8 (NGC) or 3-7 (IC), RA hours 14-15, RA
// minutes 17-20, Dec sign and degrees 23-25, arcminutes 27-28; then type 30-35,
// constellation 37-39 and common names 41-98 for the reader of the file.
std::string Record(const std::string& catalogue, int number, const Entry& e) {
  std::string record(kRecordTextLength, ' ');
  if (catalogue == "NGC") {
    Put(record, 1, "NGC", 3);
    Put(record, 4, Padded(number, 5, ' '), 5);
  } else {
    Put(record, 1, "IC", 2);
    Put(record, 3, Padded(number, 5, ' '), 5);
  }
  Put(record, 14, Padded(e.RaTenthsOfMinute / 600, 2, '0'), 2);
  const int tenths = e.RaTenthsOfMinute % 600;
  Put(record, 17, Padded(tenths / 10, 2, '0') + "." + std::to_string(tenths % 10), 4);
  Put(record, 23, std::string(e.South ? "-" : "+") + Padded(e.DecArcminutes / 60, 2, '0'), 3);
  Put(record, 27, Padded(e.DecArcminutes % 60, 2, '0'), 2);
  Put(record, 30, e.Type, 6);
  Put(record, 37, e.Constellation, 3);
  Put(record, 41, e.CommonNames, 58);
  return record + "\r\n";
}

std::string AsciiOnly(std::string_view text) {
  std::string out;
  for (char c : text) {
    auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F) out.push_back(c);
  }
  return out;
}

bool ReadCatalogue(const std::filesystem::path& path, Catalogue& catalogue, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path.string();
    return false;
  }
  std::string line;
  std::getline(in, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const auto header = SplitCsvLine(line);
  auto column = [&](const std::string& name) -> std::optional<size_t> {
    auto it = std::find(header.begin(), header.end(), name);
    if (it == header.end()) return std::nullopt;
    return static_cast<size_t>(it - header.begin());
  };
  auto nameCol = column("Name"), typeCol = column("Type"), raCol = column("RA"), decCol = column("Dec"),
       constCol = column("Const"), namesCol = column("Common names");
  if (!nameCol || !typeCol || !raCol || !decCol || !constCol || !namesCol) {
    error = path.string() + ": header lacks one of Name, Type, RA, Dec, Const, Common names";
    return false;
  }
  const size_t needed = std::max({*nameCol, *typeCol, *raCol, *decCol, *constCol, *namesCol}) + 1;
  size_t lineNumber = 1;
  while (std::getline(in, line)) {
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const auto fields = SplitCsvLine(line);
    if (fields.size() < needed) {
      error = path.string() + ":" + std::to_string(lineNumber) + ": too few fields";
      return false;
    }
    auto name = PlainName(fields[*nameCol]);
    if (!name) continue;
    const int maxNumber = name->first == "NGC" ? kMaxNgc : kMaxIc;
    if (name->second < 1 || name->second > maxNumber) {
      error = path.string() + ":" + std::to_string(lineNumber) + ": number out of range: " + fields[*nameCol];
      return false;
    }
    if (fields[*raCol].empty() && fields[*decCol].empty()) continue;  // no position known
    auto entry = MakeEntry(fields[*raCol], fields[*decCol]);
    if (!entry) {
      error = path.string() + ":" + std::to_string(lineNumber) + ": bad position for " + fields[*nameCol];
      return false;
    }
    entry->Type = AsciiOnly(fields[*typeCol]);
    entry->Constellation = AsciiOnly(fields[*constCol]);
    entry->CommonNames = AsciiOnly(fields[*namesCol]);
    auto& map = name->first == "NGC" ? catalogue.Ngc : catalogue.Ic;
    if (!map.emplace(name->second, *entry).second) {
      error = path.string() + ":" + std::to_string(lineNumber) + ": second plain row for " + fields[*nameCol];
      return false;
    }
  }
  if (in.bad()) {
    error = "cannot read " + path.string();
    return false;
  }
  return true;
}

// Entry n (bytes 2n, 2n+1, little-endian) is the 1-based record number of number n.
std::string IndexBytes(const std::map<int, Entry>& entries, int maxNumber, int firstRecord) {
  std::string bytes(2 * static_cast<size_t>(maxNumber + 1), '\0');
  int record = firstRecord;
  for (const auto& [number, entry] : entries) {
    bytes[2 * number] = static_cast<char>(record & 0xFF);
    bytes[2 * number + 1] = static_cast<char>((record >> 8) & 0xFF);
    ++record;
  }
  return bytes;
}

bool WriteFile(const std::filesystem::path& path, const std::string& content, std::string& error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  if (!out) {
    error = "cannot write " + path.string();
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: noctarbel-build-catalog NGC.csv OUTPUT_FOLDER\n";
    return 2;
  }
  Catalogue catalogue;
  std::string error;
  if (!ReadCatalogue(argv[1], catalogue, error)) {
    std::cerr << "noctarbel-build-catalog: " << error << "\n";
    return 1;
  }
  std::string data;
  for (const auto& [number, entry] : catalogue.Ngc) data += Record("NGC", number, entry);
  for (const auto& [number, entry] : catalogue.Ic) data += Record("IC", number, entry);
  const int ngcRecords = static_cast<int>(catalogue.Ngc.size());
  if (ngcRecords + catalogue.Ic.size() > 0xFFFF) {
    std::cerr << "noctarbel-build-catalog: too many records for 16-bit index entries\n";
    return 1;
  }
  const std::filesystem::path folder = argv[2];
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (!WriteFile(folder / "ngc2000.dat", data, error) ||
      !WriteFile(folder / "ngc.idx", IndexBytes(catalogue.Ngc, kMaxNgc, 1), error) ||
      !WriteFile(folder / "ic.idx", IndexBytes(catalogue.Ic, kMaxIc, ngcRecords + 1), error)) {
    std::cerr << "noctarbel-build-catalog: " << error << "\n";
    return 1;
  }
  std::cout << ngcRecords << " NGC and " << catalogue.Ic.size() << " IC records written to " << folder.string() << "\n";
  return 0;
}
