#pragma once
// Hand-made FITS files for the loader tests: cards composed column by column, data appended.

#include <cstdint>
#include <cstring>
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

// Big-endian 16-bit words.
inline std::string BigEndian16(const std::vector<int>& values) {
  std::string out;
  for (int v : values) {
    auto u = static_cast<std::uint16_t>(static_cast<std::int16_t>(v));
    out.push_back(static_cast<char>(u >> 8));
    out.push_back(static_cast<char>(u & 0xFF));
  }
  return out;
}

inline std::string BigEndian32(const std::vector<std::int32_t>& values) {
  std::string out;
  for (std::int32_t v : values) {
    auto u = static_cast<std::uint32_t>(v);
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((u >> shift) & 0xFF));
  }
  return out;
}

inline std::string BigEndianFloat(const std::vector<float>& values) {
  std::vector<std::int32_t> bits;
  for (float f : values) {
    std::int32_t b;
    std::memcpy(&b, &f, 4);
    bits.push_back(b);
  }
  return BigEndian32(bits);
}

}  // namespace noctarbel::testing
