#pragma once
// NGC, IC and Messier names to J2000 positions, from the shipped catalogue files:
// "ngc.idx" / "ic.idx" (16-bit little-endian record numbers by catalogue number) and
// "ngc2000.dat" (102-byte records: catalogue, number, RA h and min, Dec deg and arcmin).

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace noctarbel {

inline constexpr const char* kNgcIndexFileName = "ngc.idx";
inline constexpr const char* kIcIndexFileName = "ic.idx";
inline constexpr const char* kCatalogueDataFileName = "ngc2000.dat";
inline constexpr int kCatalogueRecordSize = 102;
inline constexpr int kMaxNgcNumber = 7840;
inline constexpr int kMaxIcNumber = 5386;

// Catalogue codes as the record files write them ("NG", "IC") and "M" for Messier.
inline constexpr std::string_view kNgc = "NG";
inline constexpr std::string_view kIc = "IC";
inline constexpr std::string_view kMessier = "M";

struct ObjectName {
  std::string Catalogue;  // "NG", "IC" or "M"
  int Number = 0;
};

// "ngc"/"NGC", "ic"/"IC" or "m"/"M" followed by an integer ("NGC 224" too); nothing else.
std::optional<ObjectName> ParseObjectName(std::string_view name);
// "NGC224", "IC4725", "M31".
std::string NormalisedObjectName(const ObjectName& name);

// The catalogue object a Messier number stands for; nullopt for M40 (a double star with no
// catalogue record) and numbers outside 1..110.
std::optional<ObjectName> MessierObject(int messierNumber);

enum class LookupStatus { Found, NotFound, FileError };

struct CatalogueLookup {
  LookupStatus Status = LookupStatus::NotFound;
  double Ra = 0;      // hours, J2000
  double Dec = 0;     // degrees, J2000
  std::string Error;  // FileError: one line naming the file
};

// Looks the object up in the catalogue files in `folder`.
CatalogueLookup LookupCatalogue(const std::filesystem::path& folder, std::string_view catalogue, int number);

}  // namespace noctarbel
