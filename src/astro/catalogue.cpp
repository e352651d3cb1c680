#include "astro/catalogue.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <utility>

#include "common/number_text.h"

namespace noctarbel {

namespace {

// NGC number of M1..M110; 0 for M25 (IC 4725) and M40 (no catalogue record).
constexpr std::array<int, 110> kMessierNgc = {
    1952, 7089, 5272, 6121, 5904, 6405, 6475, 6523, 6333, 6254,  // M1-M10
    6705, 6218, 6205, 6402, 7078, 6611, 6618, 6613, 6273, 6514,  // M11-M20
    6531, 6656, 6494, 6603, 0,    6694, 6853, 6626, 6913, 7099,  // M21-M30
    224,  221,  598,  1039, 2168, 1960, 2099, 1912, 7092, 0,     // M31-M40
    2287, 1976, 1982, 2632, 1432, 2437, 2422, 2548, 4472, 2323,  // M41-M50
    5194, 7654, 5024, 6715, 6809, 6779, 6720, 4579, 4621, 4649,  // M51-M60
    4303, 6266, 5055, 4826, 3623, 3627, 2682, 4590, 6637, 6681,  // M61-M70
    6838, 6981, 6994, 628,  6864, 650,  1068, 2068, 1904, 6093,  // M71-M80
    3031, 3034, 5236, 4374, 4382, 4406, 4486, 4501, 4552, 4569,  // M81-M90
    4548, 6341, 2447, 4736, 3351, 3368, 3587, 4192, 4254, 4321,  // M91-M100
    5457, 5866, 581,  4594, 3379, 4258, 6171, 3556, 3992, 205,   // M101-M110
};

// M40, Winnecke 4: a double star outside the NGC and IC.
constexpr double kM40Ra = 12.373333333;
constexpr double kM40Dec = 58.08333333;

// Only the first 98 characters of a record carry data; the rest is free text and CR LF.
constexpr size_t kRecordDataLength = 98;

// Characters from..to (1-based, inclusive) of a record.
std::string_view Chars(std::string_view record, size_t from, size_t to) {
  if (from > record.size()) return {};
  return record.substr(from - 1, to - from + 1);
}

CatalogueLookup FileError(std::string message) {
  CatalogueLookup result;
  result.Status = LookupStatus::FileError;
  result.Error = std::move(message);
  return result;
}

// The index's 16-bit entries address at most 65535 records; a data file twice that size is
// no catalogue, and neither index holds more than its numbers' entries and a little more.
constexpr std::uintmax_t kMaxDataFileBytes = std::uintmax_t{2} * 65536 * kCatalogueRecordSize;
constexpr std::uintmax_t kMaxIndexFileBytes = 64 * 1024;

// Why a catalogue file cannot be read (missing, not a regular file, too large); empty when
// it can. A device or a pipe would never end, or block the lookup waiting for a writer.
std::string CatalogueFileProblem(const std::filesystem::path& path, std::uintmax_t maxBytes) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (!std::filesystem::exists(status)) return "Catalogue file not found: " + path.string();
  if (!std::filesystem::is_regular_file(status)) return "Catalogue file is not a regular file: " + path.string();
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) return "Catalogue file cannot be read: " + path.string();
  if (size > maxBytes) {
    return "Catalogue file is too large (over " + std::to_string(maxBytes) + " bytes): " + path.string();
  }
  return {};
}

CatalogueLookup Found(double ra, double dec) {
  CatalogueLookup result;
  result.Status = LookupStatus::Found;
  result.Ra = ra;
  result.Dec = dec;
  return result;
}

// The 1-based record number at which the search for `number` starts; 0 when the catalogue
// has no record for it. Nullopt with `error` set when the index cannot be read.
std::optional<std::uint16_t> ReadIndexEntry(const std::filesystem::path& path, int number, std::string& error) {
  error = CatalogueFileProblem(path, kMaxIndexFileBytes);
  if (!error.empty()) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "Catalogue file not found: " + path.string();
    return std::nullopt;
  }
  std::array<unsigned char, 2> bytes{};
  in.seekg(static_cast<std::streamoff>(2) * number);
  if (!in || !in.read(reinterpret_cast<char*>(bytes.data()), 2)) {
    error = "Catalogue file is damaged (too short): " + path.string();
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

bool RecordIsObject(std::string_view record, std::string_view catalogue, int number) {
  if (Chars(record, 1, 2) != catalogue) return false;
  auto field = catalogue == kNgc ? Chars(record, 4, 8) : Chars(record, 3, 7);
  auto value = ParseInt(field);
  return value && *value == number;
}

std::optional<std::pair<double, double>> RecordPosition(std::string_view record) {
  auto raHours = ParseInt(Chars(record, 14, 15));
  auto raMinutes = ParseFloat(Chars(record, 17, 20));
  auto decDegrees = ParseInt(Chars(record, 23, 25));
  auto decMinutes = ParseInt(Chars(record, 27, 28));
  if (!raHours || !raMinutes || !decDegrees || !decMinutes) return std::nullopt;
  double dec = std::abs(*decDegrees) + *decMinutes / 60.0;
  // The sign character decides, so "-00" with 30 arcminutes is -0.5 degrees.
  if (Chars(record, 23, 23) == "-") dec = -dec;
  return std::make_pair(*raHours + *raMinutes / 60.0, dec);
}

CatalogueLookup SearchRecords(const std::filesystem::path& path, std::uint16_t firstRecord, std::string_view catalogue,
                              int number) {
  if (auto problem = CatalogueFileProblem(path, kMaxDataFileBytes); !problem.empty()) return FileError(problem);
  std::ifstream in(path, std::ios::binary);
  if (!in) return FileError("Catalogue file not found: " + path.string());
  // The index names a record of this object: a file that ends before that record, or ends in
  // the middle of a record without having shown the object, was cut short, and "not found"
  // would be a wrong answer.
  const auto damaged = [&path] { return FileError("Catalogue file is damaged (cut short): " + path.string()); };
  in.seekg(0, std::ios::end);
  const auto size = static_cast<std::streamoff>(in.tellg());
  const std::streamoff start = static_cast<std::streamoff>(firstRecord - 1) * kCatalogueRecordSize;
  if (size < 0) return FileError("Catalogue file cannot be read: " + path.string());
  if (start >= size) return damaged();
  in.seekg(start);
  std::array<char, kCatalogueRecordSize> buffer{};
  while (in) {
    in.read(buffer.data(), buffer.size());
    const auto got = static_cast<size_t>(in.gcount());
    if (got == 0) break;
    std::string_view record(buffer.data(), std::min(got, kRecordDataLength));
    if (!RecordIsObject(record, catalogue, number)) continue;
    auto position = RecordPosition(record);
    if (!position) return FileError("Catalogue file has a damaged record: " + path.string());
    return Found(position->first, position->second);
  }
  if (in.bad()) return FileError("Catalogue file cannot be read: " + path.string());
  // A last record without its line end is whole; one that ends inside its data was cut.
  if (size % kCatalogueRecordSize != 0 &&
      size % kCatalogueRecordSize < static_cast<std::streamoff>(kRecordDataLength)) {
    return damaged();
  }
  return {};
}

}  // namespace

std::optional<ObjectName> ParseObjectName(std::string_view name) {
  std::string_view catalogue;
  std::string_view number;
  if (name.substr(0, 3) == "ngc" || name.substr(0, 3) == "NGC") {
    catalogue = kNgc;
    number = name.substr(3);
  } else if (name.substr(0, 2) == "ic" || name.substr(0, 2) == "IC") {
    catalogue = kIc;
    number = name.substr(2);
  } else if (name.substr(0, 1) == "M" || name.substr(0, 1) == "m") {
    catalogue = kMessier;
    number = name.substr(1);
  } else {
    return std::nullopt;
  }
  auto value = ParseInt(number);
  if (!value) return std::nullopt;
  return ObjectName{std::string(catalogue), *value};
}

std::string NormalisedObjectName(const ObjectName& name) {
  std::string prefix = name.Catalogue == kNgc ? "NGC" : name.Catalogue;
  return prefix + std::to_string(name.Number);
}

std::optional<ObjectName> MessierObject(int messierNumber) {
  if (messierNumber < 1 || messierNumber > 110 || messierNumber == 40) return std::nullopt;
  if (messierNumber == 25) return ObjectName{std::string(kIc), 4725};
  return ObjectName{std::string(kNgc), kMessierNgc[messierNumber - 1]};
}

CatalogueLookup LookupCatalogue(const std::filesystem::path& folder, std::string_view catalogue, int number) {
  if (catalogue == kMessier) {
    if (number == 40) return Found(kM40Ra, kM40Dec);
    auto object = MessierObject(number);
    if (!object) return {};
    return LookupCatalogue(folder, object->Catalogue, object->Number);
  }
  if (number < 1) return {};
  const char* indexName = nullptr;
  if (catalogue == kNgc && number <= kMaxNgcNumber) {
    indexName = kNgcIndexFileName;
  } else if (catalogue == kIc && number <= kMaxIcNumber) {
    indexName = kIcIndexFileName;
  } else {
    return {};
  }
  std::string error;
  auto entry = ReadIndexEntry(folder / indexName, number, error);
  if (!entry) return FileError(error);
  // Entry 0: the catalogue has no position for this number.
  if (*entry == 0) return {};
  return SearchRecords(folder / kCatalogueDataFileName, *entry, catalogue, number);
}

}  // namespace noctarbel
