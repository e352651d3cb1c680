#include "station/paths.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace noctarbel {

namespace {
std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}
}  // namespace

std::filesystem::path ResolveStationFolder(const std::string& homeOption) {
  if (!homeOption.empty()) return std::filesystem::absolute(homeOption);
  if (auto home = Env("NOCTARBEL_HOME"); !home.empty()) return std::filesystem::absolute(home);
  if (auto xdg = Env("XDG_CONFIG_HOME"); !xdg.empty()) return std::filesystem::path(xdg) / "noctarbel";
  if (auto home = Env("HOME"); !home.empty()) return std::filesystem::path(home) / ".config" / "noctarbel";
  return std::filesystem::absolute("noctarbel-station");
}

std::filesystem::path FindDataFolder() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    auto installed = exe.parent_path().parent_path() / "share" / "noctarbel";
    if (std::filesystem::is_directory(installed / "catalog", ec)) return installed;
  }
  return std::filesystem::path(NOCTARBEL_SOURCE_DATA_DIR);
}

bool EnsureFolder(const std::filesystem::path& folder, std::string* error) {
  std::error_code ec;
  if (std::filesystem::is_directory(folder, ec)) return true;
  std::filesystem::create_directories(folder, ec);
  if (ec || !std::filesystem::is_directory(folder)) {
    if (error) *error = "cannot create the station folder " + folder.string() + (ec ? ": " + ec.message() : "");
    return false;
  }
  return true;
}

std::string StationFolderProblem(const std::filesystem::path& folder) {
  std::error_code ec;
  if (std::filesystem::is_directory(folder, ec)) return {};
  const std::string name = "The station folder " + folder.string();
  if (std::filesystem::exists(folder, ec)) return name + " is not a folder";
  std::filesystem::path parent = folder.parent_path();
  while (!parent.empty() && parent != parent.root_path() && !std::filesystem::exists(parent, ec)) {
    parent = parent.parent_path();
  }
  if (parent.empty()) parent = ".";
  if (!std::filesystem::is_directory(parent, ec)) {
    return name + " cannot be created: " + parent.string() + " is not a folder";
  }
  if (::access(parent.c_str(), W_OK | X_OK) != 0) {
    return name + " cannot be created: no permission to write in " + parent.string();
  }
  return {};
}

StationPaths MakeStationPaths(const std::string& homeOption) {
  return StationPaths{ResolveStationFolder(homeOption), FindDataFolder()};
}

std::string NightFolderName(DateTime localStart) {
  const CivilDateTime day = DecodeDateTime(localStart);
  char text[32];
  std::snprintf(text, sizeof text, "%04d_%02d_%02d", day.year, day.month, day.day);
  return text;
}

std::filesystem::path NightImageFolder(const std::filesystem::path& root, DateTime localStart) {
  return root / NightFolderName(localStart);
}

}  // namespace noctarbel
