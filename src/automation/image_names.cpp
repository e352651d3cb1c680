#include "automation/image_names.h"

#include <cstdio>
#include <filesystem>

namespace noctarbel {

namespace {

std::string ThreeDigits(int n) {
  char text[16];
  std::snprintf(text, sizeof text, "%03d", n);
  return text;
}

bool Taken(const std::string& file) {
  std::error_code ec;
  return std::filesystem::symlink_status(file, ec).type() != std::filesystem::file_type::not_found;
}

}  // namespace

std::string ImageFileName(const std::string& folder, const std::string& base, const std::string& filter, int number) {
  return folder + "/" + base + "-" + filter + "-" + ThreeDigits(number) + ".fit";
}

int FreeImageNumber(const std::string& folder, const std::string& base, const std::string& filter, int from) {
  int number = from < 1 ? 1 : from;
  while (Taken(ImageFileName(folder, base, filter, number))) ++number;
  return number;
}

std::string FreeStackFileName(const std::string& folder, const std::string& base, const std::string& filter) {
  const std::string stem = folder + "/" + base + "-" + filter + "_stack";
  std::string file = stem + ".fit";
  for (int number = 2; Taken(file); ++number) file = stem + "-" + ThreeDigits(number) + ".fit";
  return file;
}

std::string FileBaseProblem(const std::string& base) {
  if (base.find('/') != std::string::npos || base.find('\\') != std::string::npos) {
    return "the file name '" + base + "' holds a folder separator";
  }
  if (base.find("..") != std::string::npos) return "the file name '" + base + "' holds '..'";
  return {};
}

}  // namespace noctarbel
