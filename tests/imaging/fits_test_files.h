#pragma once
// Hand-made FITS files for the loader tests: cards composed column by column, data appended.

#include <bit>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace noctarbel::testing {

// An 80-character card "KEY     = value" with the value from column 11 as given.
inline std::string FitsCard(const std::string& key, const std::string& value = "") {
  std::string card = key;
  card.resize(8, ' ');
  if (!value.empty()) card += "= " + value;
  card.resize(80, ' ');
  return card;
}

// Cards followed by END, padded with blanks to whole 2880-byte blocks.
inline std::string FitsHeaderBytes(const std::vector<std::string>& cards, bool withEnd = true) {
  std::string header;
  for (const auto& card : cards) header += card;
  if (withEnd) header += FitsCard("END");
  header.resize((header.size() + 2879) / 2880 * 2880, ' ');
  return header;
}

inline std::vector<std::string> BasicCards(int bitpix, int width, int height) {
  return {FitsCard("SIMPLE", "                   T"), FitsCard("BITPIX", std::to_string(bitpix)),
          FitsCard("NAXIS", "2"), FitsCard("NAXIS1", std::to_string(width)),
          FitsCard("NAXIS2", std::to_string(height))};
}

// Values (words, longs, floats, doubles) as the big-endian bytes of a FITS data unit.
template <typename T>
std::string BigEndian(const std::vector<T>& values) {
  static_assert(std::endian::native == std::endian::little);
  std::string out;
  for (const T& v : values) {
    char bytes[sizeof(T)];
    std::memcpy(bytes, &v, sizeof(T));
    out.append(std::rbegin(bytes), std::rend(bytes));
  }
  return out;
}

}  // namespace noctarbel::testing
