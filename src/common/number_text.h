#pragma once
// Number <-> text conversions. Always "." as decimal separator, whatever the process locale
// (Qt sets LC_NUMERIC from the environment, so nothing here goes through the C locale).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace noctarbel {

// Strict integer: optional leading blanks, optional sign, decimal digits, nothing after.
std::optional<std::int64_t> ParseInt64(std::string_view text);
// As ParseInt64, and the value must fit a 32-bit int.
std::optional<int> ParseInt(std::string_view text);
// Strict decimal number: blanks allowed around it, optional sign, digits with an optional
// "." and an optional exponent. No "," and no inf/nan.
std::optional<double> ParseFloat(std::string_view text);

// General format with up to `significant` significant digits ("%.15g" style, "." separator).
std::string FormatGeneral(double value, int significant = 15);
// Fixed notation with `decimals` decimals.
std::string FormatFixed(double value, int decimals);
// The value rounded to `significant` significant digits, then written in fixed notation with
// `decimals` decimals (so 123.456 with 5 and 3 gives "123.460"). A value whose integer part
// has more digits than `significant` is written in scientific notation instead.
std::string FormatFixedSignificant(double value, int significant, int decimals);
// Shortest text that reads back to the same double.
std::string FormatShortest(double value);

// Round to the nearest integer, halves to the even neighbour.
std::int64_t RoundHalfEven(double value);
// numerator / divisor rounded the same way, in exact integer arithmetic (divisor > 0).
std::int64_t DivideRoundHalfEven(std::int64_t numerator, std::int64_t divisor);

std::string_view TrimBlanks(std::string_view text);
std::string ToUpperAscii(std::string_view text);
std::string ToLowerAscii(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace noctarbel
