#include "astro/coordinate_text.h"

#include <cmath>
#include <cstdlib>
#include <vector>

#include "common/number_text.h"
#include "common/text_file.h"

namespace noctarbel {

namespace {

// Added before each truncation so that stored values like 29.9 minutes survive rounding.
constexpr double kTruncationMargin = 0.001;

int TruncWithMargin(double value) { return static_cast<int>(std::trunc(value + kTruncationMargin)); }

// ---- Characters: the pasted text is handled as Unicode code points, so "°" is one
// character as the fixed character counts of the forms expect.

std::u32string DecodeUtf8(std::string_view valid) {
  std::u32string out;
  for (size_t i = 0; i < valid.size();) {
    auto c = static_cast<unsigned char>(valid[i]);
    int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    char32_t code = extra == 0 ? c : extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k <= extra && i + k < valid.size(); ++k) {
      code = (code << 6) | (static_cast<unsigned char>(valid[i + k]) & 0x3F);
    }
    out.push_back(code);
    i += 1 + extra;
  }
  return out;
}

std::string EncodeUtf8(std::u32string_view text) {
  std::string out;
  for (char32_t c : text) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

// 1-based position of the first occurrence, 0 when absent.
long Pos(std::u32string_view text, char32_t c) {
  size_t p = text.find(c);
  return p == std::u32string_view::npos ? 0 : static_cast<long>(p) + 1;
}

// `count` characters from the 1-based position `from`, cut at the end of the text. A field
// that would begin before the first character does not exist: empty, so its check fails.
std::u32string_view Copy(std::u32string_view text, long from, long count) {
  if (from < 1 || count <= 0 || from > static_cast<long>(text.size())) return {};
  return text.substr(static_cast<size_t>(from - 1), static_cast<size_t>(count));
}

bool IsTextBlank(char32_t c) { return c == U' ' || c == U'\t' || c == U'\r' || c == U'\n'; }

std::u32string_view TrimText(std::u32string_view text) {
  while (!text.empty() && IsTextBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsTextBlank(text.back())) text.remove_suffix(1);
  return text;
}

using Fields = std::array<std::u32string_view, 6>;

// 12h34m56.7s +41°16'09.5"
Fields ReadUnitsWithDegreeSign(std::u32string_view t) {
  const long h = Pos(t, U'h');
  const long m = Pos(t, U'm');
  const long s = Pos(t, U's');
  const long deg = Pos(t, U'\u00B0');
  const long quote = Pos(t, U'\'');
  const long doubleQuote = Pos(t, U'"');
  return {Copy(t, h - 2, 2),   Copy(t, m - 2, 2),   Copy(t, m + 1, s - m - 1),
          Copy(t, deg - 3, 3), Copy(t, deg + 1, 2), Copy(t, quote + 1, doubleQuote - quote - 1)};
}

// 12h34m56.7s +41d16m09s: the RA seconds are taken by their width, found from where the
// decimal point stands.
Fields ReadUnitLetters(std::u32string_view t) {
  const long h = Pos(t, U'h');
  const long m = Pos(t, U'm');
  const long s = Pos(t, U's');
  std::u32string_view four = Copy(t, s - 4, 4);
  std::u32string_view seconds;
  if (four.size() == 4 && four[2] == U'.') {
    seconds = four;
  } else if (four.size() == 4 && four[1] == U'.') {
    seconds = Copy(t, s - 5, 5);
  } else {
    seconds = Copy(t, s - 6, 6);
  }
  const std::u32string_view dec = Copy(t, Pos(t, U'd') - 3, 13);
  const long d = Pos(dec, U'd');
  const long dm = Pos(dec, U'm');
  const long ds = Pos(dec, U's');
  return {Copy(t, h - 2, 2),   Copy(t, m - 2, 2),   seconds,
          Copy(dec, d - 3, 3), Copy(dec, d + 1, 2), Copy(dec, dm + 1, ds - dm - 1)};
}

// 05 35 17.3 -05 23 28: single blanks separate, repeated blanks give empty fields that are
// skipped. Shorter than 18 characters: not a position.
std::optional<Fields> ReadBlankSeparated(std::u32string_view t) {
  t = TrimText(t);
  if (t.size() < 18) return std::nullopt;
  Fields fields;
  size_t count = 0;
  size_t begin = 0;
  while (begin <= t.size() && count < fields.size()) {
    size_t end = t.find(U' ', begin);
    if (end == std::u32string_view::npos) end = t.size();
    if (end > begin) fields[count++] = t.substr(begin, end - begin);
    begin = end + 1;
  }
  return fields;
}

// 12:34:56.78 +41:16:09.0 by fixed positions.
Fields ReadColonSeparated(std::u32string_view t) {
  t = TrimText(t);
  return {Copy(t, 1, 2), Copy(t, 4, 2), Copy(t, 7, 5), Copy(t, 13, 3), Copy(t, 17, 2), Copy(t, 20, 4)};
}

// The checks of the six cells. Beyond the number formats, values outside the sexagesimal
// ranges are refused too: a plan row must not carry 75 minutes into the night.
bool CellsAreValid(const std::array<std::string, 6>& cells) {
  auto hours = ParseInt(cells[0]);
  auto minutes = ParseInt(cells[1]);
  auto seconds = ParseFloat(cells[2]);
  auto degrees = ParseInt(cells[3]);
  auto arcminutes = ParseInt(cells[4]);
  auto arcseconds = ParseFloat(cells[5]);
  if (!hours || !minutes || !seconds || !degrees || !arcminutes || !arcseconds) return false;
  if (*hours < 0 || *hours > 23 || *minutes < 0 || *minutes > 59 || *seconds < 0 || *seconds >= 60) return false;
  if (*degrees < -90 || *degrees > 90 || *arcminutes < 0 || *arcminutes > 59 || *arcseconds < 0 || *arcseconds >= 60) {
    return false;
  }
  return std::abs(*degrees) + *arcminutes / 60.0 + *arcseconds / 3600.0 <= 90;
}

}  // namespace

SexagesimalPosition DecomposePosition(double raHours, double decDeg) {
  SexagesimalPosition p;
  p.RaHours = TruncWithMargin(raHours);
  p.RaMinutes = TruncWithMargin((raHours - p.RaHours) * 60);
  p.RaSeconds = TruncWithMargin(((raHours - p.RaHours) - p.RaMinutes / 60.0) * 3600);
  // By magnitude: adding the margin to a negative value would move it towards zero and turn
  // -6 degrees into -5 degrees 60 minutes.
  const double magnitude = std::fabs(decDeg);
  const int degrees = TruncWithMargin(magnitude);
  const double rest = std::fabs(magnitude - degrees);
  p.DecMinutes = TruncWithMargin(rest * 60);
  p.DecSeconds = TruncWithMargin((rest - p.DecMinutes / 60.0) * 3600);
  p.South = decDeg < 0;
  p.DecDegrees = p.South ? -degrees : degrees;
  return p;
}

std::string DeclinationDegreeCellText(const SexagesimalPosition& position) {
  if (position.South && position.DecDegrees == 0) return "-0";
  return std::to_string(position.DecDegrees);
}

double DeclinationFromFields(int degrees, int minutes, double seconds, bool southSelected) {
  const double magnitude = std::abs(degrees) + minutes / 60.0 + seconds / 3600.0;
  const bool negative = degrees < 0 || (degrees == 0 && southSelected);
  return negative ? -magnitude : magnitude;
}

std::optional<double> DeclinationFromCells(std::string_view degrees, std::string_view minutes,
                                           std::string_view seconds) {
  const std::string_view degreeText = TrimBlanks(degrees);
  auto d = ParseInt(degreeText);
  auto m = ParseInt(minutes);
  auto s = ParseFloat(seconds);
  if (!d || !m || !s) return std::nullopt;
  if (degreeText.front() == '-' || *d < 0) return *d - *m / 60.0 - *s / 3600.0;
  return *d + *m / 60.0 + *s / 3600.0;
}

std::optional<double> RightAscensionFromCells(std::string_view hours, std::string_view minutes,
                                              std::string_view seconds) {
  auto h = ParseInt(hours);
  auto m = ParseInt(minutes);
  auto s = ParseFloat(seconds);
  if (!h || !m || !s) return std::nullopt;
  return *h + *m / 60.0 + *s / 3600.0;
}

PastedPosition ParsePastedPosition(std::string_view clipboardText) {
  std::u32string text = DecodeUtf8(ToUtf8FromUtf8OrWindows1252(clipboardText));
  if (text.size() > kMaxPastedCharacters) text.resize(kMaxPastedCharacters);
  const std::u32string_view t = text;

  std::optional<Fields> fields;
  if (Pos(t, U'h') && Pos(t, U'\u00B0')) {
    fields = ReadUnitsWithDegreeSign(t);
  } else if (Pos(t, U'h') && Pos(t, U'd')) {
    fields = ReadUnitLetters(t);
  } else if (!Pos(t, U':')) {
    fields = ReadBlankSeparated(t);
  } else {
    fields = ReadColonSeparated(t);
  }

  PastedPosition result;
  result.Text = EncodeUtf8(t);
  if (!fields) return result;
  std::array<std::string, 6> cells;
  for (size_t i = 0; i < cells.size(); ++i) cells[i] = EncodeUtf8((*fields)[i]);
  if (!CellsAreValid(cells)) return result;
  result.Ok = true;
  result.Cells = std::move(cells);
  return result;
}

}  // namespace noctarbel
