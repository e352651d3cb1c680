#pragma once
// The pixel work of a calibration, row by row and straight from the masters: the working dark
// (a copy of the master, or its cut at a sub-frame origin, scaled with the bias) is made one
// row at a time and never stored, and the masters stay as they are. Callers check sizes.

#include <cstdint>
#include <vector>

#include "imaging/image_buffer.h"

namespace noctarbel {

// How the working dark of an image is made from the masters.
struct WorkingDark {
  const Timgbuffer* Dark = nullptr;
  const Timgbuffer* Bias = nullptr;  // scaled with the dark; without one, BiasOffset is added
  int X0 = 0;                        // where the image's first pixel lies in the masters
  int Y0 = 0;
  // r x dark + (1 - r) x bias, dark pixels at or above HotPixelMax unscaled.
  bool Scaled = false;
  double Ratio = 1.0;
  int HotPixelMax = 50000;
  int BiasOffset = 0;  // round((1 - r) x bias constant)
};

// A master flat's gains: with its reference level R and low limit L, a flat pixel p gives the
// gain R / p when p > L, else R / L, each rounded to single precision.
struct FlatGains {
  std::int64_t Reference = 0;
  std::int64_t Low = 0;

  float Gain(std::int64_t p) const {
    const double r = static_cast<double>(Reference);
    return static_cast<float>(p > Low ? r / static_cast<double>(p) : r / static_cast<double>(Low));
  }
};

// The gain of every stored value of an 8- or 16-bit flat (16-bit read by its unsigned flag),
// indexed by the stored byte or word; empty for other flats, whose gains are worked out pixel
// by pixel.
std::vector<float> GainTable(const Timgbuffer& flat, const FlatGains& gains);

// The flat's gains for an image: the whole flat or its cut at the sub-frame origin.
struct FlatWindow {
  const Timgbuffer* Flat = nullptr;  // the flat's own (integer) pixels
  FlatGains Gains;
  const std::vector<float>* Table = nullptr;  // GainTable of the flat
  int X0 = 0;
  int Y0 = 0;
};

// n pixels of an integer image's row (0-based) from column x0 (0-based) as 32-bit integers.
void ReadRowAsInt32(const Timgbuffer& image, int row, int x0, int n, std::int32_t* out);

// image := max(image - working dark, 0) on rows [firstRow, endRow) (0-based).
void SubtractDarkRows(Timgbuffer& image, const WorkingDark& dark, int firstRow, int endRow);
// image := round(image x gain), capped to the pixel type, on rows [firstRow, endRow); the
// gains come from the flat's pixels as they are read.
void ApplyFlatRows(Timgbuffer& image, const FlatWindow& flat, int firstRow, int endRow);

}  // namespace noctarbel
