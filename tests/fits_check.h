#pragma once
// The reference peers' verdict on a FITS file we wrote: fitsverify finds no error and cfitsio
// reads its size and pixels.

#include <fitsio.h>

#include <cstdio>
#include <string>
#include <vector>

namespace noctarbel::testing {

// fitsverify's report; empty when it found nothing to complain about.
inline std::string FitsVerifyProblems(const std::string& path) {
  const std::string command = std::string(NOCTARBEL_FITSVERIFY) + " -q '" + path + "' 2>&1";
  std::FILE* pipe = popen(command.c_str(), "r");
  std::string output;
  char buffer[512];
  while (pipe != nullptr && std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  const int status = pipe != nullptr ? pclose(pipe) : -1;
  return status == 0 ? std::string() : output.empty() ? std::string("fitsverify failed") : output;
}

struct CfitsioImage {
  bool Read = false;
  long Width = 0;
  long Height = 0;
  int Bitpix = 0;
  std::vector<long long> Pixels;
};

inline CfitsioImage ReadWithCfitsio(const std::string& path) {
  CfitsioImage image;
  fitsfile* f = nullptr;
  int status = 0;
  if (fits_open_file(&f, path.c_str(), READONLY, &status) != 0) return image;
  int naxis = 0;
  long size[2] = {0, 0};
  fits_get_img_param(f, 2, &image.Bitpix, &naxis, size, &status);
  if (status == 0 && naxis == 2) {
    image.Width = size[0];
    image.Height = size[1];
    image.Pixels.resize(static_cast<size_t>(size[0] * size[1]));
    int anynul = 0;
    fits_read_img(f, TLONGLONG, 1, size[0] * size[1], nullptr, image.Pixels.data(), &anynul, &status);
    image.Read = status == 0;
  }
  int closing = 0;
  fits_close_file(f, &closing);
  return image;
}

}  // namespace noctarbel::testing
