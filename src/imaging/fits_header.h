#pragma once
// The raw FITS header of an image: up to 1440 cards of 80 characters, held byte for byte,
// and the two setters that write a card in the fixed column layout.

#include <string>
#include <string_view>
#include <vector>

namespace noctarbel {

inline constexpr int kFitsCardLength = 80;
inline constexpr int kFitsCardsPerBlock = 36;
inline constexpr int kFitsBlockSize = kFitsCardLength * kFitsCardsPerBlock;  // 2880
inline constexpr int kFitsMaxBlocks = 40;
inline constexpr int kFitsMaxCards = kFitsCardsPerBlock * kFitsMaxBlocks;  // 1440

class FitsHeader {
 public:
  // All bytes zero: no card, no END.
  FitsHeader();

  // Unquoted value (numbers, logicals), right-justified in columns 11-30 unless it is empty,
  // begins with a quote or the key is HISTORY. A card with the same key is rewritten in place;
  // a new card goes where END stood and END moves one card down. False when the header is
  // full (END in card 1440) or the key is unusable; nothing is touched then.
  bool SetKeyword(std::string_view key, std::string_view value, std::string_view comment = {});
  // Quoted string value from column 11; a comment's "/" follows the closing quote directly.
  bool SetStringKeyword(std::string_view key, std::string_view value, std::string_view comment = {});

  // Number (1-based) of the first END card, 0 when there is none.
  int EndCard() const;
  // Number (1-based) of the first card whose key (columns 1-8) is `key` padded to 8
  // characters, searched up to END; 0 when absent.
  int FindCard(std::string_view key) const;
  // Removes card n (1-based); the cards after it move up one place.
  void RemoveCard(int n);
  // Card n (1-based, 1..1440), all 80 bytes.
  std::string_view Card(int n) const;
  char* CardData(int n);
  const char* Data() const { return bytes_.data(); }
  char* Data() { return bytes_.data(); }
  void Clear();

 private:
  bool SetCard(std::string_view key, std::string_view valueField, size_t commentAt, std::string_view comment);
  bool KeyIs(int n, std::string_view paddedKey) const;

  std::vector<char> bytes_;
};

// Text made fit for a header card: 7-bit printable ASCII only. Common accented letters are
// spelled out ("ü" -> "ue"), "°" becomes " deg", control characters become blanks and any
// other character "?". Bytes that are not UTF-8 are read as Latin-1.
std::string CardAscii(std::string_view text);

// The value text of a card: the text between the first quote and the closing quote (a doubled
// quote inside stands for one quote), or empty when the value field holds no quote.
std::string CardStringValue(std::string_view card);

}  // namespace noctarbel
