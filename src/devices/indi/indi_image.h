#pragma once
// Images as INDI cameras send them: a FITS file in a BLOB, 16-bit integers stored with
// BZERO 32768 (or 8-bit), one plane. Read here into ImageArrayData, 16-bit; a FITS file
// compressed by the driver (".fits.fz") is unpacked with cfitsio when the program has it,
// refused with a clear error otherwise. Anything else in the bytes is refused, never trusted:
// sizes are checked against what arrived.

#include <cstddef>
#include <cstdint>
#include <string>

#include "devices/device_interfaces.h"

namespace noctarbel {

// The image of a BLOB of the given format (".fits", ".fits.fz"). Throws DeviceError.
ImageArrayData DecodeIndiImage(const std::uint8_t* data, std::size_t size, const std::string& format);
// An uncompressed FITS image. Throws DeviceError.
ImageArrayData DecodeFitsImage(const std::uint8_t* data, std::size_t size);
// Whether compressed images (".fits.fz") can be read.
bool IndiCompressedImagesSupported();

}  // namespace noctarbel
