#pragma once
// PNG encoding (libpng) for pictures of lines and text — charts, time lines — which JPEG
// would blur.

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/jpeg_codec.h"

namespace noctarbel {

// Grey or RGB pictures; `out` receives the file bytes.
bool EncodePng(const Picture& picture, std::vector<std::uint8_t>& out, std::string* error = nullptr);

}  // namespace noctarbel
