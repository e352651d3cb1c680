#pragma once
// Turning an image into an 8-bit grey picture: histogram, black and white levels (the preview
// rule for files, the viewer's automatic and manual rules), rendering with gamma, and the
// geometry of the main window's preview. Plain functions returning plain data.

#include <array>
#include <cstdint>
#include <vector>

#include "imaging/image_buffer.h"

namespace noctarbel {

// 256 bins; bin = floor(p * Scale), Scale = 255 / w for a reference white w >= 256, else 1.
// Pixels outside 0..255 after scaling count in the first or last bin.
struct Histogram {
  std::array<std::int64_t, 256> Counts{};
  double Scale = 1.0;
  std::int64_t PixelCount = 0;
};

// whiteLevel <= 0: the image's stored maximum, or 255 when that is not positive.
Histogram ComputeHistogram(const Timgbuffer& image, int whiteLevel);

struct DisplayLevels {
  int Low = 0;
  int High = 0;
};

// Levels of an image loaded from a file into the main window's preview (computes the maximum).
DisplayLevels PreviewFileLevels(Timgbuffer& image);

struct ViewerLevels {
  int Low = 0;
  int High = 0;
  int LowerBar = 0;  // level bars 0..1000
  int UpperBar = 0;
};

inline constexpr double kDefaultHistogramMaxLevel = 0.99;

// The viewer's "Auto" levels (computes the maximum). `planet` puts the white level at the
// image maximum.
ViewerLevels ViewerAutomaticLevels(Timgbuffer& image, double histogramMaxLevel, bool planet);
// The viewer's manual levels from its two bars (0..1000) and the image maximum.
DisplayLevels ViewerManualLevels(int lowerBar, int upperBar, int maximum);
// The viewer's adjustment before rendering an image marked unsigned: a negative level -q means
// q percent of the maximum; then a white level at or below the black level becomes black + 1.
DisplayLevels AdjustViewerLevels(DisplayLevels levels, int maximum, bool isUnsigned);

// Palettes: 256 entries (index i is grey i) or, on a 256-colour display, 128 (grey 2i).
int HighestIndex(int paletteEntries);
std::vector<std::uint8_t> GreyPalette(int paletteEntries);

// Palette indices, one byte per pixel, rows padded to a multiple of 4 bytes; row 0 is image
// row 1.
struct Bitmap8 {
  int Width = 0;
  int Height = 0;
  int Stride = 0;
  std::vector<std::uint8_t> Pixels;
};

// Index of a pixel value between levels lo and hi with exponent g, highest index L: 0 at or
// below lo, else min(round((p - lo)^g * L / (hi - lo)^g), L). A white level at or below the
// black level counts as black + 1.
int RenderIndex(std::int64_t p, int lo, int hi, double g, int highestIndex);
// The whole image (16-bit read by its unsigned flag). When the image maximum (computed here)
// exceeds lo by 1 or less, every index is 0. `out` is reused when it already has the size.
void RenderBitmap(const Timgbuffer& image, int lo, int hi, double g, int paletteEntries, Bitmap8& out);
// Indices replaced by their grey values (for pictures written to files).
void IndicesToGrey(Bitmap8& bitmap, int paletteEntries);

// The main window's preview box and what is drawn in it.
inline constexpr int kPreviewWidth = 241;
inline constexpr int kPreviewHeight = 153;

struct PreviewRect {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
};

// The image stretched into the box with its aspect ratio kept, centred.
PreviewRect FitPreview(int boxWidth, int boxHeight, int imageWidth, int imageHeight);

// A horizontal and a vertical line through the centre, each reaching HalfLength to both sides.
struct Crosshair {
  int CenterX = 0;
  int CenterY = 0;
  int HalfLength = 0;
};

Crosshair PreviewCrosshair(const PreviewRect& drawn);

}  // namespace noctarbel
