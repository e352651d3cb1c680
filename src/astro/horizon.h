#pragma once
// The local horizon: altitude over azimuth, at most 200 points.

#include <array>
#include <cstdint>
#include <filesystem>

namespace noctarbel {

inline constexpr int kMaxHorizonPoints = 200;

struct HorizonPoint {
  double Altitude = 0;  // degrees
  double Azimuth = 0;   // degrees from north through east
};

struct HorizonTable {
  std::array<HorizonPoint, kMaxHorizonPoints> Points{};  // point k of the table is Points[k - 1]
  std::uint16_t Count = 0;
};

// 36 points, azimuth 0, 10, ..., 350, altitude 0.
HorizonTable DefaultHorizonTable();

struct HorizonFileResult {
  bool Opened = false;
  int Accepted = 0;  // points in the table
  int Ignored = 0;   // readable points after the first 200, not used
};

// Reads a horizon file ("azimuth altitude" per line; blanks and ";" each end a field, "#"
// starts a comment, unreadable lines are skipped) into the table, the last line of the file
// becoming point 1. A file that cannot be opened leaves the table empty.
HorizonFileResult LoadHorizonFile(const std::filesystem::path& path, HorizonTable& table);

// The horizon's altitude at an azimuth: linear between neighbouring points less than 30
// degrees apart. Where no such pair covers the azimuth, between the file's last and first
// point (the scan runs eastwards from north, so this closes the circle); 0 when the table
// has fewer than two points.
double HorizonAltitude(const HorizonTable& table, double azimuthDeg);
// A target exactly on the horizon counts as visible.
bool IsAboveHorizon(const HorizonTable& table, double azimuthDeg, double altitudeDeg);

}  // namespace noctarbel
