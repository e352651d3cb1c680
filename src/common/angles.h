#pragma once
// Degrees and radians: the one conversion every layer uses.

#include <numbers>

namespace noctarbel {

inline constexpr double kDegToRad = std::numbers::pi / 180.0;
inline constexpr double kRadToDeg = 180.0 / std::numbers::pi;

}  // namespace noctarbel
