#include "imaging/card_format.h"

#include <array>
#include <charconv>
#include <cmath>

#include "common/number_text.h"

namespace noctarbel {

namespace {

std::string ToChars(double value, std::chars_format format, int precision) {
  std::array<char, 400> buffer{};
  auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, format, precision);
  return std::string(buffer.data(), result.ptr);
}

std::string UpperExponent(std::string text) {
  for (char& c : text) {
    if (c == 'e') c = 'E';
  }
  return text;
}

// "-0.000" reads as a negative number to some readers; a value that rounds to zero has no sign.
std::string WithoutNegativeZero(std::string text) {
  if (!text.empty() && text[0] == '-' && text.find_first_of("123456789") == std::string::npos) text.erase(0, 1);
  return text;
}

// At least two digits, a leading "0" below 10.
std::string TwoDigits(long long n) { return (n >= 0 && n < 10 ? "0" : "") + std::to_string(n); }

}  // namespace

std::optional<std::string> FixedCardText(double value, int significant, int decimals) {
  if (!std::isfinite(value)) return std::nullopt;
  if (significant < 1) significant = 1;
  if (decimals < 0) decimals = 0;
  if (value == 0) return ToChars(0.0, std::chars_format::fixed, decimals);
  // The exponent after rounding to `significant` digits (9.9996 to 4 digits is 10.00).
  std::string scientific = ToChars(value, std::chars_format::scientific, significant - 1);
  int exponent = std::stoi(scientific.substr(scientific.find('e') + 1));
  if (exponent + 1 > significant) return WithoutNegativeZero(UpperExponent(scientific));
  int kept = significant - 1 - exponent;  // decimals that the significant digits reach
  if (kept > decimals) return WithoutNegativeZero(ToChars(value, std::chars_format::fixed, decimals));
  std::string text = ToChars(value, std::chars_format::fixed, kept);
  if (decimals > kept) {
    if (kept == 0) text += '.';
    text.append(static_cast<size_t>(decimals - kept), '0');
  }
  return WithoutNegativeZero(text);
}

std::string ShortestCardText(double value) { return UpperExponent(FormatShortest(value)); }

std::string ObjectRaText(double raHours) {
  double h = std::trunc(raHours);
  double m = std::trunc((raHours - h) * 60);
  long long s = RoundHalfEven((raHours - h - m / 60) * 3600);
  return TwoDigits(static_cast<long long>(h)) + " " + TwoDigits(static_cast<long long>(m)) + " " + TwoDigits(s);
}

std::string ObjectDecText(double decDegrees) {
  double d = std::trunc(decDegrees);
  if (decDegrees >= 0) {
    double m = std::trunc((decDegrees - d) * 60 + 0.0001);
    long long s = RoundHalfEven((decDegrees - d - m / 60) * 3600);
    return "+" + TwoDigits(static_cast<long long>(d)) + " " + TwoDigits(static_cast<long long>(m)) + " " + TwoDigits(s);
  }
  double m = -std::trunc((decDegrees - d) * 60 - 0.0001);
  long long s = -RoundHalfEven((decDegrees - d + m / 60) * 3600);
  return "-" + TwoDigits(static_cast<long long>(-d)) + " " + TwoDigits(static_cast<long long>(m)) + " " + TwoDigits(s);
}

}  // namespace noctarbel
