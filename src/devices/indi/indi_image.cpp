#include "devices/indi/indi_image.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string_view>

#include "common/number_text.h"

#ifdef NOCTARBEL_INDI_FITS_FZ
#include <fitsio.h>
#endif

namespace noctarbel {

namespace {

constexpr std::size_t kCard = 80;
constexpr std::size_t kBlock = 2880;
// As much as the image buffer takes.
constexpr std::int64_t kMaxPixels = 100'000'000;

[[noreturn]] void Refuse(const std::string& why) { throw DeviceError("Camera image not readable: " + why); }

struct FitsLayout {
  int Bitpix = 0;
  std::int64_t Width = 0;
  std::int64_t Height = 0;
  double Bzero = 0;
  double Bscale = 1;
  std::size_t DataOffset = 0;
};

std::string_view Keyword(std::string_view card) { return TrimBlanks(card.substr(0, 8)); }

// The value of a "KEY     = value / comment" card; nothing for cards without a value.
std::optional<double> NumberValue(std::string_view card) {
  if (card.size() < 10 || card.substr(8, 2) != "= ") return std::nullopt;
  std::string_view value = card.substr(10);
  const size_t slash = value.find('/');
  if (slash != std::string_view::npos) value = value.substr(0, slash);
  return ParseFloat(TrimBlanks(value));
}

std::int64_t WholeValue(std::string_view card, const char* key) {
  auto value = NumberValue(card);
  if (!value || *value != std::floor(*value) || std::abs(*value) > 1e12)
    Refuse(std::string(key) + " is not a whole number");
  return static_cast<std::int64_t>(*value);
}

FitsLayout ReadHeader(const std::uint8_t* data, std::size_t size) {
  FitsLayout layout;
  int axes = -1;
  std::int64_t extraAxes = 1;
  const char* text = reinterpret_cast<const char*>(data);
  if (size < kBlock || std::string_view(text, 9) != "SIMPLE  =") Refuse("not a FITS file");
  for (std::size_t at = 0; at + kCard <= size; at += kCard) {
    const std::string_view card(text + at, kCard);
    const std::string_view key = Keyword(card);
    if (key == "END") {
      layout.DataOffset = (at / kBlock + 1) * kBlock;
      if (layout.Bitpix == 0 || axes < 0) Refuse("the header lacks BITPIX or NAXIS");
      if (axes != 2 && !(axes == 3 && extraAxes == 1))
        Refuse("a " + std::to_string(axes) + "-axis image, one plane expected");
      return layout;
    }
    if (key == "BITPIX") layout.Bitpix = static_cast<int>(WholeValue(card, "BITPIX"));
    if (key == "NAXIS") axes = static_cast<int>(WholeValue(card, "NAXIS"));
    if (key == "NAXIS1") layout.Width = WholeValue(card, "NAXIS1");
    if (key == "NAXIS2") layout.Height = WholeValue(card, "NAXIS2");
    if (key == "NAXIS3") extraAxes = WholeValue(card, "NAXIS3");
    if (key == "BZERO" || key == "BSCALE") {
      auto value = NumberValue(card);
      if (!value) Refuse(std::string(key) + " is not a number");
      (key == "BZERO" ? layout.Bzero : layout.Bscale) = *value;
    }
  }
  Refuse("the header has no END card");
}

std::uint16_t Clamp16(double value) {
  if (!(value > 0)) return 0;
  if (value >= 65535) return 65535;
  return static_cast<std::uint16_t>(std::lround(value));
}

}  // namespace

ImageArrayData DecodeFitsImage(const std::uint8_t* data, std::size_t size) {
  const FitsLayout layout = ReadHeader(data, size);
  if (layout.Bitpix != 16 && layout.Bitpix != 8) {
    Refuse("BITPIX " + std::to_string(layout.Bitpix) + " (16-bit or 8-bit integer images expected)");
  }
  if (layout.Width < 1 || layout.Height < 1 || layout.Width * layout.Height > kMaxPixels) {
    Refuse("image size " + std::to_string(layout.Width) + " x " + std::to_string(layout.Height));
  }
  const std::size_t count = static_cast<std::size_t>(layout.Width * layout.Height);
  const std::size_t bytes = count * static_cast<std::size_t>(layout.Bitpix / 8);
  if (layout.DataOffset > size || size - layout.DataOffset < bytes) {
    Refuse("the data stop after " + std::to_string(size > layout.DataOffset ? size - layout.DataOffset : 0) + " of " +
           std::to_string(bytes) + " bytes");
  }
  ImageArrayData image;
  image.Width = static_cast<int>(layout.Width);
  image.Height = static_cast<int>(layout.Height);
  image.Pixels16.resize(count);
  const std::uint8_t* in = data + layout.DataOffset;
  std::uint16_t* out = image.Pixels16.data();
  if (layout.Bitpix == 16 && layout.Bzero == 32768 && layout.Bscale == 1) {
    // Unsigned 16-bit, as every INDI camera sends it: flipping the sign bit is the offset.
    for (std::size_t i = 0; i < count; ++i)
      out[i] = static_cast<std::uint16_t>(((in[2 * i] << 8) | in[2 * i + 1]) ^ 0x8000);
  } else if (layout.Bitpix == 16) {
    for (std::size_t i = 0; i < count; ++i) {
      const auto raw = static_cast<std::int16_t>((in[2 * i] << 8) | in[2 * i + 1]);
      out[i] = Clamp16(raw * layout.Bscale + layout.Bzero);
    }
  } else {
    for (std::size_t i = 0; i < count; ++i) out[i] = Clamp16(in[i] * layout.Bscale + layout.Bzero);
  }
  return image;
}

bool IndiCompressedImagesSupported() {
#ifdef NOCTARBEL_INDI_FITS_FZ
  return true;
#else
  return false;
#endif
}

namespace {

#ifdef NOCTARBEL_INDI_FITS_FZ
std::string FitsioText(int status) {
  char text[FLEN_STATUS] = {};
  fits_get_errstatus(status, text);
  return text;
}

// The first image HDU with pixels; cfitsio presents a tile-compressed table as an image.
ImageArrayData DecodeCompressed(const std::uint8_t* data, std::size_t size) {
  void* memory = const_cast<std::uint8_t*>(data);  // opened read-only
  size_t memorySize = size;
  fitsfile* file = nullptr;
  int status = 0;
  if (fits_open_memfile(&file, "image.fits.fz", READONLY, &memory, &memorySize, 0, nullptr, &status)) {
    Refuse("compressed FITS: " + FitsioText(status));
  }
  struct Closer {
    fitsfile* file;
    ~Closer() {
      int ignored = 0;
      fits_close_file(file, &ignored);
    }
  } closer{file};
  int hdus = 0;
  fits_get_num_hdus(file, &hdus, &status);
  for (int hdu = 1; hdu <= hdus && status == 0; ++hdu) {
    int type = 0;
    if (fits_movabs_hdu(file, hdu, &type, &status)) break;
    if (type != IMAGE_HDU) continue;
    int bitpix = 0;
    int axes = 0;
    long dims[3] = {0, 0, 0};
    if (fits_get_img_param(file, 3, &bitpix, &axes, dims, &status)) break;
    if (axes < 2 || dims[0] < 1 || dims[1] < 1) continue;
    if (axes > 3 || (axes == 3 && dims[2] != 1)) Refuse("compressed FITS with more than one plane");
    if (static_cast<std::int64_t>(dims[0]) * dims[1] > kMaxPixels) Refuse("compressed FITS too large");
    ImageArrayData image;
    image.Width = static_cast<int>(dims[0]);
    image.Height = static_cast<int>(dims[1]);
    std::vector<int> values(static_cast<size_t>(dims[0]) * static_cast<size_t>(dims[1]));
    long first[3] = {1, 1, 1};
    if (fits_read_pix(file, TINT, first, static_cast<LONGLONG>(values.size()), nullptr, values.data(), nullptr,
                      &status)) {
      break;
    }
    image.Pixels16.resize(values.size());
    std::transform(values.begin(), values.end(), image.Pixels16.begin(), [](int v) { return Clamp16(v); });
    return image;
  }
  if (status) Refuse("compressed FITS: " + FitsioText(status));
  Refuse("compressed FITS without an image");
}
#endif

}  // namespace

ImageArrayData DecodeIndiImage(const std::uint8_t* data, std::size_t size, const std::string& format) {
  const std::string kind = ToLowerAscii(TrimBlanks(format));
  if (kind == ".fits" || kind == ".fit" || kind == ".fts") return DecodeFitsImage(data, size);
  if (kind == ".fits.fz" || kind == ".fz") {
#ifdef NOCTARBEL_INDI_FITS_FZ
    return DecodeCompressed(data, size);
#else
    Refuse(
        "the driver sends compressed images (.fits.fz), which this build cannot unpack: switch off the driver's "
        "CCD_COMPRESSION");
#endif
  }
  Refuse("format \"" + format + "\" (set the driver's transfer format to FITS)");
}

}  // namespace noctarbel
