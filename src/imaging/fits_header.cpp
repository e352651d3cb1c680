#include "imaging/fits_header.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace noctarbel {

namespace {

constexpr std::string_view kEndKey = "END     ";
constexpr std::string_view kHistoryKey = "HISTORY ";
constexpr size_t kValueColumn = 10;        // 0-based index of column 11
constexpr size_t kRightJustifyWidth = 20;  // columns 11-30
constexpr size_t kHistoryTextLimit = 70;
constexpr size_t kLastCommentColumn = 79;  // a comment ends at column 79 at the latest

std::string PaddedKey(std::string_view key) {
  std::string padded(key.substr(0, 8));
  padded.resize(8, ' ');
  return padded;
}

// Latin-1 code points 0xC0..0xFF spelled in ASCII (German umlauts the way Germans write them
// without umlauts, other accents dropped).
const char* LatinLetterAscii(unsigned code) {
  // clang-format off
  static const char* const kLetters[64] = {
      "A", "A", "A", "A", "Ae", "A", "AE", "C", "E", "E", "E", "E", "I",  "I", "I",  "I",   // C0
      "D", "N", "O", "O", "O",  "O", "Oe", "x", "O", "U", "U", "U", "Ue", "Y", "Th", "ss",  // D0
      "a", "a", "a", "a", "ae", "a", "ae", "c", "e", "e", "e", "e", "i",  "i", "i",  "i",   // E0
      "d", "n", "o", "o", "o",  "o", "oe", ":", "o", "u", "u", "u", "ue", "y", "th", "y"};  // F0
  // clang-format on
  if (code >= 0xC0 && code <= 0xFF) return kLetters[code - 0xC0];
  if (code == 0xB0) return " deg";
  if (code == 0xB5) return "u";  // micro sign
  if (code == 0xA0) return " ";
  return nullptr;
}

// Decodes one UTF-8 sequence at text[i]; returns its length, or 0 when the bytes are not UTF-8.
size_t DecodeUtf8(std::string_view text, size_t i, unsigned& code) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned lead = byte(i);
  size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (length == 0 || lead >= 0xF5 || i + length > text.size()) return 0;
  code = lead & (0xFF >> (length + 1));
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  return length;
}

}  // namespace

std::string CardAscii(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out.push_back(c < 0x20 || c == 0x7F ? ' ' : static_cast<char>(c));
      ++i;
      continue;
    }
    unsigned code = 0;
    size_t length = DecodeUtf8(text, i, code);
    if (length == 0) {
      code = c;  // not UTF-8: a Latin-1 byte
      length = 1;
    }
    const char* ascii = LatinLetterAscii(code);
    out += ascii ? ascii : "?";
    i += length;
  }
  return out;
}

std::string CardStringValue(std::string_view card) {
  if (card.size() <= kValueColumn) return {};
  std::string_view field = card.substr(kValueColumn);
  size_t open = field.find('\'');
  if (open == std::string_view::npos) return {};
  std::string text;
  for (size_t i = open + 1; i < field.size(); ++i) {
    if (field[i] != '\'') {
      text.push_back(field[i]);
    } else if (i + 1 < field.size() && field[i + 1] == '\'') {
      text.push_back('\'');
      ++i;
    } else {
      break;
    }
  }
  return text;
}

FitsHeader::FitsHeader() : bytes_(static_cast<size_t>(kFitsMaxCards) * kFitsCardLength, '\0') {}

void FitsHeader::Clear() { std::fill(bytes_.begin(), bytes_.end(), '\0'); }

std::string_view FitsHeader::Card(int n) const {
  if (n < 1 || n > kFitsMaxCards) throw std::out_of_range("FITS card number out of range");
  return std::string_view(bytes_.data() + static_cast<size_t>(n - 1) * kFitsCardLength, kFitsCardLength);
}

char* FitsHeader::CardData(int n) {
  if (n < 1 || n > kFitsMaxCards) throw std::out_of_range("FITS card number out of range");
  return bytes_.data() + static_cast<size_t>(n - 1) * kFitsCardLength;
}

bool FitsHeader::KeyIs(int n, std::string_view paddedKey) const {
  return std::memcmp(bytes_.data() + static_cast<size_t>(n - 1) * kFitsCardLength, paddedKey.data(), 8) == 0;
}

int FitsHeader::EndCard() const {
  for (int n = 1; n <= kFitsMaxCards; ++n) {
    if (KeyIs(n, kEndKey)) return n;
  }
  return 0;
}

int FitsHeader::FindCard(std::string_view key) const {
  std::string padded = PaddedKey(key);
  for (int n = 1; n <= kFitsMaxCards; ++n) {
    if (KeyIs(n, padded)) return n;
    if (KeyIs(n, kEndKey)) return 0;
  }
  return 0;
}

void FitsHeader::RemoveCard(int n) {
  char* card = CardData(n);
  char* last = CardData(kFitsMaxCards);
  std::memmove(card, card + kFitsCardLength, static_cast<size_t>(last - card));
  std::memset(last, '\0', kFitsCardLength);
}

bool FitsHeader::SetCard(std::string_view key, std::string_view valueField, size_t commentAt,
                         std::string_view comment) {
  std::string padded = PaddedKey(key);
  if (padded == kEndKey || padded.find_first_not_of(' ') == std::string::npos) return false;
  const bool history = padded == kHistoryKey;

  int target = 0;
  int end = 0;
  for (int n = 1; n <= kFitsMaxCards; ++n) {
    if (!history && KeyIs(n, padded)) {
      target = n;
      break;
    }
    if (KeyIs(n, kEndKey)) {
      end = n;
      break;
    }
  }
  int endTarget = 0;
  if (target == 0) {
    if (end == kFitsMaxCards) return false;  // no room to move END down: the header stays as it is
    if (end > 0) {
      target = end;
      endTarget = end + 1;
    } else {
      // A header without END (nothing set yet): the card and END become cards 1 and 2.
      target = 1;
      endTarget = 2;
    }
  }

  std::string card(kFitsCardLength, ' ');
  card.replace(0, 8, padded);
  if (!history) card[8] = '=';
  std::string value(history ? valueField.substr(0, kHistoryTextLimit) : valueField);
  // A value longer than the card is cut at column 80.
  card.replace(kValueColumn, std::min(value.size(), kFitsCardLength - kValueColumn),
               value.substr(0, kFitsCardLength - kValueColumn));
  if (!comment.empty() && commentAt < kLastCommentColumn) {
    card[commentAt] = '/';
    std::string text = CardAscii(comment);
    size_t room = kLastCommentColumn - (commentAt + 1);
    card.replace(commentAt + 1, std::min(text.size(), room), text.substr(0, room));
  }

  if (endTarget > 0) {
    char* endCard = CardData(endTarget);
    std::memset(endCard, ' ', kFitsCardLength);
    std::memcpy(endCard, "END", 3);
  }
  std::memcpy(CardData(target), card.data(), kFitsCardLength);
  return true;
}

bool FitsHeader::SetKeyword(std::string_view key, std::string_view value, std::string_view comment) {
  std::string text = CardAscii(value);
  if (PaddedKey(key) != kHistoryKey && !text.empty() && text[0] != '\'' && text.size() < kRightJustifyWidth) {
    text.insert(0, kRightJustifyWidth - text.size(), ' ');
  }
  // Value of length n from column 11: a blank in column 11 + n, "/" in column 12 + n.
  size_t slash = kValueColumn + text.size() + 1;
  return SetCard(key, text, slash, comment);
}

bool FitsHeader::SetStringKeyword(std::string_view key, std::string_view value, std::string_view comment) {
  // Quotes inside are doubled, as FITS readers expect.
  std::string text;
  for (char c : CardAscii(value)) {
    text.push_back(c);
    if (c == '\'') text.push_back('\'');
  }
  // An over-long text is cut so that the closing quote still lands in column 80 at the latest
  // (columns 12-79 for the text), never in the middle of a doubled quote.
  constexpr size_t kTextLimit = kFitsCardLength - kValueColumn - 2;
  if (text.size() > kTextLimit) {
    size_t keep = 0;
    for (size_t i = 0; i < text.size();) {
      size_t step = text[i] == '\'' ? 2 : 1;
      if (keep + step > kTextLimit) break;
      keep += step;
      i += step;
    }
    text.resize(keep);
  }
  std::string field = "'" + text + "'";
  size_t slash = kValueColumn + field.size();
  return SetCard(key, field, slash, comment);
}

}  // namespace noctarbel
