#include "astro/time.h"

#include <cmath>

#include "common/number_text.h"

namespace noctarbel {

namespace {

// Frac as the system defines it: x - Trunc(x).
double Frac(double x) { return x - std::trunc(x); }

// Characters from..to (1-based, inclusive) of a text; shorter when the text ends earlier.
std::string_view Chars(std::string_view text, size_t from, size_t to) {
  if (from > text.size()) return {};
  return text.substr(from - 1, to - from + 1);
}

}  // namespace

double ModifiedJulianDate(int day, int month, int year, double hours) {
  const double a = 10000.0 * year + 100.0 * month + day;
  double y = year;
  double m = month;
  if (month <= 2) {
    m += 12;
    y -= 1;
  }
  double b = 0;
  if (a <= 15821004.1) {
    b = -2 + std::trunc((y + 4716) / 4) - 1179;
  } else {
    b = std::trunc(y / 400) - std::trunc(y / 100) + std::trunc(y / 4);
  }
  return (365 * y - 679004) + b + std::trunc(30.6001 * (m + 1)) + day + hours / 24;
}

double JulianDate(int day, int month, int year, double hours) {
  return ModifiedJulianDate(day, month, year, hours) + 2400000.5;
}

double LocalMeanSiderealTime(double mjd, double longitudeWest) {
  const double mjd0 = std::trunc(mjd);
  const double ut = (mjd - mjd0) * 24;
  const double t = (mjd0 - 51544.5) / 36525;
  const double gmst = 6.697374558 + 1.0027379093 * ut + (8640184.812866 + (0.093104 - 6.2e-6 * t) * t) * t / 3600;
  double f = Frac((gmst - longitudeWest / 15) / 24);
  if (f < 0) f += 1;
  // -1e-17 + 1 is 1 in double precision; the result must stay below 24.
  if (f >= 1) f = 0;
  return 24 * f;
}

double SiteSiderealTime(DateTime utc, double longitudeWest) {
  CivilDateTime c = DecodeDateTime(utc);
  double hours = c.hour + c.minute / 60.0 + c.second / 3600.0;
  return LocalMeanSiderealTime(ModifiedJulianDate(c.day, c.month, c.year, hours), longitudeWest);
}

std::string TwoDigitText(int n) {
  if (n < 0) return "**";
  if (n < 10) return "0" + std::to_string(n);
  return std::to_string(n);
}

std::string SecondsText(double seconds) {
  if (!(seconds >= 0)) return "**";
  // Adding 0.0 turns -0.0 into 0.0, which would otherwise be written "-0.000".
  std::string text = FormatFixedSignificant(seconds + 0.0, 6, 3);
  // The leading zero goes by the written text: 9.9996 is written "10.000", not "010.000".
  return text.find('.') == 1 ? "0" + text : text;
}

std::string IsoDateTimeText(int year, int month, int day, int hour, int minute, float seconds) {
  return std::to_string(year) + "-" + TwoDigitText(month) + "-" + TwoDigitText(day) + "T" + TwoDigitText(hour) + ":" +
         TwoDigitText(minute) + ":" + SecondsText(seconds);
}

std::string UtcTimestampText(DateTime utc) {
  CivilDateTime c = DecodeDateTime(utc);
  // Tenths are cut, not rounded, so 950 ms and more stay one digit and never need a carry.
  return std::to_string(c.year) + "-" + TwoDigitText(c.month) + "-" + TwoDigitText(c.day) + "T" + TwoDigitText(c.hour) +
         ":" + TwoDigitText(c.minute) + ":" + TwoDigitText(c.second) + "." + std::to_string(c.millisecond / 100);
}

int ParseDateText(std::string_view text, int& day, int& month, int& year) {
  if (text.size() < 8) return -1;
  auto read = [&](int& out, size_t from, size_t to) {
    auto value = ParseInt(Chars(text, from, to));
    if (!value) return false;
    out = *value;
    return true;
  };
  if (text[4] == '-' || text[4] == '/') {
    if (!read(year, 1, 4) || !read(month, 6, 7) || !read(day, 9, 10)) return -1;
    return 0;
  }
  if (text[2] == '/') {
    if (!read(day, 1, 2) || !read(month, 4, 5) || !read(year, 7, 8)) return -1;
    year += year >= 21 ? 1900 : 2000;
    return 0;
  }
  if (text[2] == '.') {
    if (!read(day, 1, 2) || !read(month, 4, 5)) return -1;
    if (month > 12) return -1;
    if (!read(year, 7, 10)) return -1;
    return 0;
  }
  return -1;
}

int ParseTimeText(std::string_view text, int& hour, int& minute, float& seconds) {
  if (text.size() < 5 || text[2] != ':') return -1;
  auto h = ParseInt(Chars(text, 1, 2));
  if (!h) return -1;
  hour = *h;
  auto m = ParseInt(Chars(text, 4, 5));
  if (!m) return -1;
  minute = *m;
  if (text.size() == 5) {
    seconds = 0;
    return 0;
  }
  if (text[5] != ':') return -1;
  std::string rest;
  for (char c : text.substr(6)) {
    if (c != ' ') rest.push_back(c);
  }
  auto s = ParseFloat(rest);
  if (!s) return -1;
  if (std::fabs(*s) > 1e6) return -1;  // no second count of a time of day; keeps the float defined
  seconds = static_cast<float>(*s);
  return 0;
}

}  // namespace noctarbel
