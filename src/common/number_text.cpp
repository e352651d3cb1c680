#include "common/number_text.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>

namespace noctarbel {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string ToCharsOrEmpty(double value, std::chars_format format, int precision) {
  std::array<char, 400> buffer{};
  auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, format, precision);
  if (result.ec != std::errc()) return {};
  return std::string(buffer.data(), result.ptr);
}

}  // namespace

std::optional<std::int64_t> ParseInt64(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size() && IsBlank(text[pos])) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  if (pos >= text.size()) return std::nullopt;
  std::uint64_t magnitude = 0;
  auto result = std::from_chars(text.data() + pos, text.data() + text.size(), magnitude);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
  constexpr std::uint64_t kMaxPositive = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (negative) {
    if (magnitude > kMaxPositive + 1) return std::nullopt;
    if (magnitude == kMaxPositive + 1) return std::numeric_limits<std::int64_t>::min();
    return -static_cast<std::int64_t>(magnitude);
  }
  if (magnitude > kMaxPositive) return std::nullopt;
  return static_cast<std::int64_t>(magnitude);
}

std::optional<int> ParseInt(std::string_view text) {
  auto value = ParseInt64(text);
  if (!value || *value < std::numeric_limits<int>::min() || *value > std::numeric_limits<int>::max()) {
    return std::nullopt;
  }
  return static_cast<int>(*value);
}

std::optional<double> ParseFloat(std::string_view text) {
  text = TrimBlanks(text);
  if (text.empty()) return std::nullopt;
  size_t pos = 0;
  if (text[0] == '+') {
    // from_chars does not take a leading plus sign.
    pos = 1;
    if (text.size() == 1 || text[1] == '-' || text[1] == '+') return std::nullopt;
  }
  // Only digits, one ".", sign and exponent characters; rejects inf, nan and hex forms.
  for (size_t i = pos; i < text.size(); ++i) {
    char c = text[i];
    bool ok = (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E';
    if (!ok) return std::nullopt;
  }
  double value = 0;
  auto result = std::from_chars(text.data() + pos, text.data() + text.size(), value, std::chars_format::general);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

std::string FormatGeneral(double value, int significant) {
  if (value == 0) return std::signbit(value) ? "-0" : "0";
  return ToCharsOrEmpty(value, std::chars_format::general, significant);
}

std::string FormatFixed(double value, int decimals) {
  return ToCharsOrEmpty(value, std::chars_format::fixed, decimals);
}

std::string FormatFixedSignificant(double value, int significant, int decimals) {
  if (!std::isfinite(value) || significant < 1) return FormatFixed(value, decimals);
  double magnitude = std::fabs(value);
  if (magnitude >= 1) {
    int integerDigits = static_cast<int>(std::floor(std::log10(magnitude))) + 1;
    if (integerDigits > significant) return ToCharsOrEmpty(value, std::chars_format::scientific, significant - 1);
  }
  std::string rounded = ToCharsOrEmpty(value, std::chars_format::scientific, significant - 1);
  double back = value;
  std::from_chars(rounded.data(), rounded.data() + rounded.size(), back);
  // Rounding 99999.5 to 5 digits gives 1.0000e+05: one integer digit too many.
  if (std::fabs(back) >= 1 && static_cast<int>(std::floor(std::log10(std::fabs(back)))) + 1 > significant) {
    return ToCharsOrEmpty(back, std::chars_format::scientific, significant - 1);
  }
  return FormatFixed(back, decimals);
}

std::string FormatShortest(double value) {
  std::array<char, 64> buffer{};
  auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  if (result.ec != std::errc()) return {};
  return std::string(buffer.data(), result.ptr);
}

std::int64_t RoundHalfEven(double value) {
  // nearbyint honours the current rounding mode, which is round-to-nearest-even by default.
  return static_cast<std::int64_t>(std::nearbyint(value));
}

std::int64_t DivideRoundHalfEven(std::int64_t numerator, std::int64_t divisor) {
  std::int64_t q = numerator / divisor;
  std::int64_t rest = numerator % divisor;
  if (rest < 0) {
    --q;
    rest += divisor;
  }
  if (2 * rest > divisor || (2 * rest == divisor && (q & 1) != 0)) ++q;
  return q;
}

std::string_view TrimBlanks(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::string ToUpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string ToLowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace noctarbel
