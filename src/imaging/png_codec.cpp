#include "imaging/png_codec.h"

#include <png.h>

namespace noctarbel {

namespace {

void AppendBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

void NoFlush(png_structp) {}

}  // namespace

bool EncodePng(const Picture& picture, std::vector<std::uint8_t>& out, std::string* error) {
  const bool grey = picture.Channels == 1;
  if ((!grey && picture.Channels != 3) || picture.Width <= 0 || picture.Height <= 0 ||
      picture.Pixels.size() < static_cast<size_t>(picture.Width) * picture.Height * picture.Channels) {
    if (error) *error = "not a grey or RGB picture";
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    if (error) *error = "out of memory";
    return false;
  }
  out.clear();
  // libpng reports its errors by a long jump back here.
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    if (error) *error = "PNG encoding failed";
    return false;
  }
  png_set_write_fn(png, &out, AppendBytes, NoFlush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(picture.Width), static_cast<png_uint_32>(picture.Height), 8,
               grey ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  const size_t rowBytes = static_cast<size_t>(picture.Width) * picture.Channels;
  for (int y = 0; y < picture.Height; ++y) {
    png_write_row(png, const_cast<png_bytep>(picture.Pixels.data() + static_cast<size_t>(y) * rowBytes));
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace noctarbel
