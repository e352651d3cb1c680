#pragma once
// Small deterministic random numbers for the simulators: the same seed gives the same sky,
// hot pixels and noise on every machine.

#include <cmath>
#include <cstdint>

namespace noctarbel::sim {

inline std::uint64_t SplitMix64(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9e3779b97f4a7c15ull);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

inline std::uint64_t HashCombine(std::uint64_t seed, std::uint64_t value) {
  std::uint64_t state = seed ^ (value + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2));
  return SplitMix64(state);
}

class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() { return SplitMix64(state_); }
  // Uniform in [0, 1).
  double Uniform() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
  double Uniform(double low, double high) { return low + (high - low) * Uniform(); }

 private:
  std::uint64_t state_;
};

}  // namespace noctarbel::sim
