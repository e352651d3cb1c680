#pragma once
// Number and coordinate texts of header card values.

#include <optional>
#include <string>

namespace noctarbel {

// fixed(w, d): the value rounded to w significant digits and written with d decimals
// ("123.460" for 123.456 with 5 and 3). A value whose integer part needs more than w digits is
// written in scientific notation with w significant digits ("1.2346E+05"). Rounding is done
// once, on the exact value, halves to even. No text for infinities and NaN.
std::optional<std::string> FixedCardText(double value, int significant, int decimals);
// The shortest decimal text that reads back as the same double ("32768", "0", "1E+21").
std::string ShortestCardText(double value);

// OBJCTRA text "HH MM SS" of a right ascension in hours; seconds are rounded but never carried
// into the minutes (a rounded 60 stays 60).
std::string ObjectRaText(double raHours);
// OBJCTDEC text "+DD MM SS" or "-DD MM SS" of a declination in degrees.
std::string ObjectDecText(double decDegrees);

}  // namespace noctarbel
