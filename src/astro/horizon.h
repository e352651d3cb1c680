#pragma once
// The local horizon: altitude over azimuth, at most 200 points.

#include <array>
#include <cstdint>

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

}  // namespace noctarbel
