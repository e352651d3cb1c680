#include "astro/horizon.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/number_text.h"
#include "common/text_file.h"

namespace noctarbel {

namespace {

// Neighbouring points at least this far apart in azimuth are never interpolated between.
constexpr double kMaxPairWidth = 30;

double NormalizedAzimuth(double azimuth) {
  double a = std::fmod(azimuth, 360.0);
  if (a < 0) a += 360;
  // fmod(-1e-15, 360) + 360 is 360 in double precision.
  if (a >= 360) a -= 360;
  return a;
}

// Every blank and every ";" ends a field; runs of delimiters give empty fields.
std::string_view Field(std::string_view line, int index) {
  size_t begin = 0;
  for (int i = 0; i < index; ++i) {
    size_t end = line.find_first_of(" ;", begin);
    if (end == std::string_view::npos) return {};
    begin = end + 1;
  }
  size_t end = line.find_first_of(" ;", begin);
  return line.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin);
}

std::optional<HorizonPoint> ParseHorizonLine(std::string_view line) {
  if (line.empty() || line.front() == '#') return std::nullopt;
  auto azimuth = ParseFloat(Field(line, 0));
  auto altitude = ParseFloat(Field(line, 1));
  if (!azimuth || !altitude) return std::nullopt;
  return HorizonPoint{*altitude, *azimuth};
}

double Interpolate(double azimuth, const HorizonPoint& a, const HorizonPoint& b) {
  return ((azimuth - a.Azimuth) * b.Altitude + (b.Azimuth - azimuth) * a.Altitude) / (b.Azimuth - a.Azimuth);
}

int PointCount(const HorizonTable& table) { return std::min<int>(table.Count, kMaxHorizonPoints); }

std::optional<double> AltitudeFromPairs(const HorizonTable& table, double azimuth) {
  for (int k = 0; k + 1 < PointCount(table); ++k) {
    HorizonPoint a = table.Points[k];
    HorizonPoint b = table.Points[k + 1];
    if (b.Azimuth < a.Azimuth) {
      if (b.Azimuth - a.Azimuth + 360 < kMaxPairWidth) {
        a.Azimuth -= 360;  // the pair crosses north
      } else {
        std::swap(a, b);
      }
    }
    const double width = b.Azimuth - a.Azimuth;
    if (a.Azimuth <= azimuth && azimuth < b.Azimuth && width < kMaxPairWidth) return Interpolate(azimuth, a, b);
  }
  return std::nullopt;
}

// The stretch no pair covers: eastwards from the file's last point (table point 1) round to
// its first point (table point n), as the scan window records from north.
std::optional<double> AltitudeClosingTheCircle(const HorizonTable& table, double azimuth) {
  HorizonPoint last = table.Points[0];
  HorizonPoint first = table.Points[PointCount(table) - 1];
  last.Azimuth = NormalizedAzimuth(last.Azimuth);
  first.Azimuth = NormalizedAzimuth(first.Azimuth);
  if (first.Azimuth <= last.Azimuth) first.Azimuth += 360;
  double x = azimuth < last.Azimuth ? azimuth + 360 : azimuth;
  if (x > first.Azimuth) return std::nullopt;
  return Interpolate(x, last, first);
}

}  // namespace

HorizonTable DefaultHorizonTable() {
  HorizonTable table;
  table.Count = 36;
  for (int k = 0; k < 36; ++k) table.Points[k] = HorizonPoint{0, 10.0 * k};
  return table;
}

HorizonFileResult LoadHorizonFile(const std::filesystem::path& path, HorizonTable& table) {
  table.Count = 0;
  HorizonFileResult result;
  LineReader reader(path);
  if (!reader.IsOpen()) return result;
  result.Opened = true;
  std::vector<HorizonPoint> points;
  std::string line;
  while (reader.Next(line)) {
    auto point = ParseHorizonLine(line);
    if (!point) continue;
    if (points.size() < kMaxHorizonPoints) {
      points.push_back(*point);
    } else {
      ++result.Ignored;
    }
  }
  // Point 1 of the table is the last accepted line of the file.
  for (size_t i = 0; i < points.size(); ++i) table.Points[i] = points[points.size() - 1 - i];
  table.Count = static_cast<std::uint16_t>(points.size());
  result.Accepted = static_cast<int>(points.size());
  return result;
}

double HorizonAltitude(const HorizonTable& table, double azimuthDeg) {
  if (PointCount(table) < 2 || !std::isfinite(azimuthDeg)) return 0;
  const double azimuth = NormalizedAzimuth(azimuthDeg);
  if (auto altitude = AltitudeFromPairs(table, azimuth)) return *altitude;
  if (auto altitude = AltitudeClosingTheCircle(table, azimuth)) return *altitude;
  return 0;
}

bool IsAboveHorizon(const HorizonTable& table, double azimuthDeg, double altitudeDeg) {
  return altitudeDeg >= HorizonAltitude(table, azimuthDeg);
}

}  // namespace noctarbel
