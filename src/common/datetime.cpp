#include "common/datetime.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "common/number_text.h"

namespace noctarbel {

namespace {

// Days from 1970-01-01 to the civil date (proleptic Gregorian), after H. Hinnant.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(y + (month <= 2));
}

// 1899-12-30 counted from 1970-01-01.
constexpr std::int64_t kEpochOffsetDays = -25569;

std::string TwoDigits(int n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", n);
  return buf;
}

std::string FourDigits(int n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d", n);
  return buf;
}

}  // namespace

DateTime EncodeDate(int year, int month, int day) {
  return static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
                             kEpochOffsetDays);
}

DateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int millisecond) {
  double ms = ((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond;
  return EncodeDate(year, month, day) + ms / kMillisecondsPerDay;
}

DateTime EncodeDateTime(const CivilDateTime& c) {
  return EncodeDateTime(c.year, c.month, c.day, c.hour, c.minute, c.second, c.millisecond);
}

CivilDateTime DecodeDateTime(DateTime value) {
  CivilDateTime out;
  if (!std::isfinite(value)) return out;
  const auto totalMs = static_cast<std::int64_t>(std::llround(value * kMillisecondsPerDay));
  const std::int64_t msPerDay = 86400000;
  std::int64_t days = totalMs / msPerDay;
  std::int64_t ms = totalMs % msPerDay;
  if (ms < 0) {
    ms += msPerDay;
    --days;
  }
  CivilFromDays(days + kEpochOffsetDays, out.year, out.month, out.day);
  out.hour = static_cast<int>(ms / 3600000);
  out.minute = static_cast<int>(ms / 60000 % 60);
  out.second = static_cast<int>(ms / 1000 % 60);
  out.millisecond = static_cast<int>(ms % 1000);
  return out;
}

DateTime FromUnixSeconds(double seconds) { return seconds / kSecondsPerDay - static_cast<double>(kEpochOffsetDays); }

double ToUnixSeconds(DateTime value) { return (value + static_cast<double>(kEpochOffsetDays)) * kSecondsPerDay; }

std::string FormatDate(DateTime value) {
  CivilDateTime c = DecodeDateTime(value);
  return FourDigits(c.year) + "-" + TwoDigits(c.month) + "-" + TwoDigits(c.day);
}

std::string FormatTime(DateTime value) {
  CivilDateTime c = DecodeDateTime(value);
  return TwoDigits(c.hour) + ":" + TwoDigits(c.minute) + ":" + TwoDigits(c.second);
}

std::string FormatDateTime(DateTime value) {
  CivilDateTime c = DecodeDateTime(value);
  return FourDigits(c.year) + "-" + TwoDigits(c.month) + "-" + TwoDigits(c.day) + " " + TwoDigits(c.hour) + ":" +
         TwoDigits(c.minute) + ":" + TwoDigits(c.second);
}

std::string FormatLogTimestamp(DateTime value) {
  CivilDateTime c = DecodeDateTime(value);
  if (c.hour == 0 && c.minute == 0 && c.second == 0 && c.millisecond == 0) return FormatDate(value);
  return FormatDateTime(value);
}

std::optional<DateTime> ParseIsoDateTime(std::string_view text) {
  text = TrimBlanks(text);
  if (text.size() < 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  auto year = ParseInt(text.substr(0, 4));
  auto month = ParseInt(text.substr(5, 2));
  auto day = ParseInt(text.substr(8, 2));
  if (!year || !month || !day || *month < 1 || *month > 12 || *day < 1 || *day > 31) return std::nullopt;
  // Reject dates that do not exist (2023-02-30).
  DateTime date = EncodeDate(*year, *month, *day);
  CivilDateTime check = DecodeDateTime(date);
  if (check.month != *month || check.day != *day) return std::nullopt;
  if (text.size() == 10) return date;
  if ((text[10] != ' ' && text[10] != 'T') || text.size() < 19 || text[13] != ':' || text[16] != ':') {
    return std::nullopt;
  }
  auto hour = ParseInt(text.substr(11, 2));
  auto minute = ParseInt(text.substr(14, 2));
  auto second = ParseFloat(text.substr(17));
  if (!hour || !minute || !second || text[11] == ' ' || text[14] == ' ' || text[17] == ' ' || *hour < 0 || *hour > 23 ||
      *minute < 0 || *minute > 59 || *second < 0 || *second >= 60) {
    return std::nullopt;
  }
  return date + ((*hour * 60.0 + *minute) * 60.0 + *second) / kSecondsPerDay;
}

}  // namespace noctarbel
