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

// Every header card of the first HDU as cfitsio reads it (80-character records).
inline std::vector<std::string> CfitsioCards(const std::string& path) {
  std::vector<std::string> cards;
  fitsfile* f = nullptr;
  int status = 0;
  if (fits_open_file(&f, path.c_str(), READONLY, &status) != 0) return cards;
  int count = 0;
  fits_get_hdrspace(f, &count, nullptr, &status);
  char card[FLEN_CARD];
  for (int i = 1; i <= count && status == 0; ++i) {
    if (fits_read_record(f, i, card, &status) == 0) cards.emplace_back(card);
  }
  int closing = 0;
  fits_close_file(f, &closing);
  return cards;
}

// The value of a keyword as cfitsio reads it (strings without their quotes); empty when absent.
inline std::string CfitsioValue(const std::string& path, const std::string& key) {
  fitsfile* f = nullptr;
  int status = 0;
  if (fits_open_file(&f, path.c_str(), READONLY, &status) != 0) return {};
  char value[FLEN_VALUE] = "";
  fits_read_keyword(f, key.c_str(), value, nullptr, &status);
  int closing = 0;
  fits_close_file(f, &closing);
  if (status != 0) return {};
  std::string text = value;
  if (text.size() >= 2 && text.front() == '\'') {
    text = text.substr(1, text.size() - 2);
    for (size_t at = text.find("''"); at != std::string::npos; at = text.find("''", at + 1)) text.erase(at, 1);
    while (!text.empty() && text.back() == ' ') text.pop_back();
  }
  return text;
}

}  // namespace noctarbel::testing
