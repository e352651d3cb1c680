#pragma once
// The states the devices report, as types. Their numbers are what settings, logs, JSON and
// the drivers use (roof 1 open, 0 closed, -1 undetermined; rain 1 wet, 0 dry, -1 unknown;
// pier side 0 east, 1 west, -1 unknown); inside the program only the names are compared.

namespace noctarbel {

enum class RoofState : int { Undetermined = -1, Closed = 0, Open = 1 };
enum class RainState : int { Unknown = -1, Dry = 0, Wet = 1 };
enum class PierSide : int { Unknown = -1, East = 0, West = 1 };

template <typename State>
constexpr int ToInt(State state) {
  return static_cast<int>(state);
}

// A pier-side number from a setting or a driver; anything but 0 and 1 is unknown.
constexpr PierSide PierSideFromInt(int value) {
  return value == 0 ? PierSide::East : value == 1 ? PierSide::West : PierSide::Unknown;
}

}  // namespace noctarbel
