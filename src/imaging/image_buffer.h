#pragma once
// Layer imaging: the image buffer and FITS, header cards, display levels and rendering,
// calibration and stacking, JPEG/PNG, the star search and HFD, the viewer's model. Uses
// common and astro.
//
// Timgbuffer: one monochrome image with its FITS header cards and the header values decoded
// from them. Pixel coordinates count from 1: pixel (x, y) is element (y - 1) * width + x - 1.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/fits_header.h"
#include "imaging/pixel_memory.h"

namespace noctarbel {

// Codes as in BITPIX/8. Unset counts as Bits16 for every pixel operation; the pixel operations
// take Float32, though the program itself makes no such image (float files load as rounded
// 32-bit integers); Float64 is never held as pixels.
enum class PixelType : std::int32_t { Unset = 0, Bits8 = 1, Bits16 = 2, Bits32 = 4, Float32 = -4, Float64 = -8 };

inline constexpr std::int64_t kMaxImagePixels = 100'000'000;

int ElementSize(PixelType type);
// BITPIX of a pixel type (16 for Unset).
int BitpixOf(PixelType type);

class Timgbuffer {
 public:
  Timgbuffer();
  Timgbuffer(Timgbuffer&&) noexcept = default;
  Timgbuffer& operator=(Timgbuffer&&) noexcept = default;
  Timgbuffer(const Timgbuffer&) = delete;
  Timgbuffer& operator=(const Timgbuffer&) = delete;

  // --- pixels
  // 0, or -1 when the memory cannot be had (or the size is not a valid image size); the
  // buffer then has no pixels. Writes the BITPIX card; new pixels are zero.
  int SetSize(int width, int height, PixelType type);
  // As SetSize, for a caller that overwrites every pixel: the pixels are not cleared, and the
  // pixel block of `donor` (which is left without pixels) is taken over and reused when it has
  // the size. A fresh block of a large frame costs more to touch than to fill.
  int SetSizeReusing(int width, int height, PixelType type, Timgbuffer& donor);
  int Width() const { return width_; }
  int Height() const { return height_; }
  PixelType Type() const { return type_; }
  int ElementBytes() const { return ElementSize(type_); }
  std::int64_t PixelCount() const { return static_cast<std::int64_t>(width_) * height_; }
  bool HasPixels() const { return memory_.Data() != nullptr; }
  void* RawData() { return memory_.Data(); }
  const void* RawData() const { return memory_.Data(); }
  template <typename T>
  T* PixelsAs() {
    return static_cast<T*>(memory_.Data());
  }
  template <typename T>
  const T* PixelsAs() const {
    return static_cast<const T*>(memory_.Data());
  }

  // 0 without pixels or outside the image; 16-bit read by the unsigned flag; float rounded
  // (0 beyond the 32-bit range).
  int GetPixel(int x, int y) const;
  // Clamps to 0..255 (8-bit) and 0..65535 (16-bit); nothing without pixels or outside.
  void SetPixel(int x, int y, int value);
  // One row (width elements) or column (height elements) of raw elements out or in. A row or
  // column outside the image is a programming error (std::out_of_range).
  void GetRow(int y, void* out) const;
  void PutRow(int y, const void* in);
  void GetColumn(int x, void* out) const;
  void PutColumn(int x, const void* in);

  int ComputeMax();
  void ComputeMinMax();
  std::unique_ptr<Timgbuffer> Clone() const;

  bool AddImage(const Timgbuffer& other);
  bool SubtractImage(const Timgbuffer& other);
  bool AddOffset(int d);
  bool ScaleBy(float factor);
  bool ScaleBelow(int limit, double factor);
  void ShiftToUnsigned(int d);
  void ShiftToSigned(int d);
  void SwapByteOrder();
  void FlipVertical();
  void FlipHorizontal();
  void Rotate180();
  void ShiftImage(int dx, int dy);

  // --- header
  bool SetKeyword(std::string_view key, std::string_view value, std::string_view comment = {}) {
    return header_.SetKeyword(key, value, comment);
  }
  bool SetStringKeyword(std::string_view key, std::string_view value, std::string_view comment = {}) {
    return header_.SetStringKeyword(key, value, comment);
  }
  // NAXIS1, NAXIS2, DATE-OBS, EXPTIME, INSTRUME, FILTER and (when set) ISOSPEED from the fields.
  bool SetStandardCards();
  const FitsHeader& Header() const { return header_; }
  FitsHeader& Header() { return header_; }

  // --- files
  // A header-only file (NAXIS = 0) loads with its header and without pixels, as does a colour
  // image (Planes).
  bool LoadFits(const std::string& fileName);
  // Writes a copy with the standard cards; the buffer itself stays unchanged. The file is
  // written under a temporary name and renamed over an earlier file only when complete.
  bool SaveFits(const std::string& fileName) const;
  // Why the last LoadFits or SaveFits failed, one printable line.
  const std::string& LastError() const { return lastError_; }
  // What the last SaveFits changed in the copied header to write a valid file (cards with bytes
  // that are not 7-bit ASCII, a third axis of which only the first plane is held), one line each.
  const std::vector<std::string>& LastSaveNotes() const { return lastSaveNotes_; }
  int CardCount() const { return cardCount_; }
  int DataOffset() const { return dataOffset_; }
  const std::string& FileName() const { return fileName_; }

  // --- decoded header values
  std::uint8_t Planes = 0;
  double JulianDay = 0;
  std::string ObservationDate;
  double Exposure = 0;
  float PixelWidth = 0;
  float PixelHeight = 0;
  std::string Instrument;  // at most 39 characters in a card
  std::string IsoSpeed;    // at most 6; the card is written only when not empty
  std::string CameraKind = "CCD";
  std::uint16_t XBinning = 0;
  std::uint16_t YBinning = 0;
  double Airmass = -1.0;
  double PixelScale = 0;
  int Maximum = -1;
  int Minimum = -1;
  double Bzero = 0.0;
  double Bscale = 1.0;
  bool Unsigned = true;
  int FilterCode = -1;
  std::string Filter;  // at most 39 characters in a card
  bool FlippedVertically = false;
  bool FlippedHorizontally = false;
  std::uint8_t QuarterTurns = 0;
  bool DarkSubtracted = false;
  bool FlatApplied = false;
  bool NormalizedFlat = false;  // a master flat held with its gains (ImageCalibration::LoadFlat)

 private:
  friend class FitsReader;
  friend class FitsWriter;

  static bool StandardCardsInto(FitsHeader& header, const Timgbuffer& image);
  void EnsureType();
  size_t Index(int x, int y) const;
  void CheckRow(int y) const;
  void CheckColumn(int x) const;
  // As SetSize, but the pixels are left as they are (the caller overwrites them all).
  int Allocate(int width, int height, PixelType type, bool zeroed);

  PixelMemory memory_;
  FitsHeader header_;
  int cardCount_ = 0;
  int width_ = 0;
  int height_ = 0;
  PixelType type_ = PixelType::Unset;
  int dataOffset_ = 0;
  std::string fileName_;
  // The loader raised negative 32-bit values by Bzero: the pixels already hold the shifted
  // values, so a saved copy must not announce that offset again.
  bool bzeroApplied_ = false;
  mutable std::string lastError_;
  mutable std::vector<std::string> lastSaveNotes_;
};

}  // namespace noctarbel
