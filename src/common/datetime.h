#pragma once
// Layer common (the lowest): number and date texts, text files, atomic replacement, the
// runtime (clock, waits, timers) and angle units. Uses nothing of ours.
//
// Date-time values as the rest of the system counts them: days since 1899-12-30 00:00,
// the fraction being the time of day.

#include <optional>
#include <string>
#include <string_view>

namespace noctarbel {

using DateTime = double;

inline constexpr double kSecondsPerDay = 86400.0;
inline constexpr double kMillisecondsPerDay = 86400000.0;

struct CivilDateTime {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

DateTime EncodeDate(int year, int month, int day);
DateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int millisecond = 0);
DateTime EncodeDateTime(const CivilDateTime& civil);
// Splits a value into calendar fields, rounded to the millisecond (23:59:59.9999 carries into
// the next day rather than giving hour 24).
CivilDateTime DecodeDateTime(DateTime value);

// Unix time (seconds since 1970-01-01 UTC) <-> date-time.
DateTime FromUnixSeconds(double seconds);
double ToUnixSeconds(DateTime value);

// "YYYY-MM-DD HH:MM:SS", midnight included (for output a program reads back).
std::string FormatDateTime(DateTime value);
// As FormatDateTime, but the time is left out when the value is exactly midnight (the log's
// time stamps).
std::string FormatLogTimestamp(DateTime value);
// "YYYY-MM-DD".
std::string FormatDate(DateTime value);
// "HH:MM:SS".
std::string FormatTime(DateTime value);
// Reads "YYYY-MM-DD HH:MM:SS", "YYYY-MM-DDTHH:MM:SS" (seconds may have decimals) or "YYYY-MM-DD".
std::optional<DateTime> ParseIsoDateTime(std::string_view text);

}  // namespace noctarbel
