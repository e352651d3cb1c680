#include "devices/alpaca/server/unique_ids.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "devices/alpaca/alpaca_protocol.h"

namespace noctarbel::alpaca {

namespace {

bool IsUuid(const std::string& text) {
  if (text.size() != 36) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

std::map<DeviceType, std::string> ReadIds(const std::filesystem::path& file) {
  std::map<DeviceType, std::string> ids;
  std::ifstream in(file);
  if (!in) throw std::runtime_error(file.string() + ": cannot be read");
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    std::istringstream fields(line);
    std::string typeName;
    std::string id;
    std::string extra;
    fields >> typeName >> id >> extra;
    const auto type = DeviceTypeFromUrlName(typeName);
    if (!type || !IsUuid(id) || !extra.empty() || ids.count(*type)) {
      throw std::runtime_error(file.string() + ": line " + std::to_string(number) +
                               " is not \"TYPE UUID\" (remove the file to have new IDs made)");
    }
    ids[*type] = id;
  }
  return ids;
}

void WriteIds(const std::filesystem::path& file, const std::map<DeviceType, std::string>& ids) {
  const std::filesystem::path temporary = file.string() + ".tmp-" + std::to_string(::getpid());
  {
    std::ofstream out(temporary, std::ios::trunc);
    for (const auto& [type, id] : ids) out << UrlTypeName(type) << " " << id << "\n";
    out.flush();
    if (!out) {
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      throw std::runtime_error(file.string() + ": cannot be written");
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, file, error);
  if (error) {
    std::filesystem::remove(temporary, error);
    throw std::runtime_error(file.string() + ": cannot be written");
  }
}

}  // namespace

std::string NewUuid() {
  static thread_local std::mt19937_64 random{std::random_device{}() ^
                                             (static_cast<std::uint64_t>(std::random_device{}()) << 32)};
  unsigned char bytes[16];
  for (int i = 0; i < 16; i += 8) {
    const std::uint64_t value = random();
    for (int j = 0; j < 8; ++j) bytes[i + j] = static_cast<unsigned char>(value >> (8 * j));
  }
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // the RFC's variant
  char text[37];
  std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", bytes[0],
                bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8], bytes[9], bytes[10],
                bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
  return text;
}

std::map<DeviceType, std::string> ServerUniqueIds(const std::filesystem::path& folder, int port,
                                                  const std::vector<DeviceType>& types) {
  std::map<DeviceType, std::string> ids;
  if (folder.empty()) {
    for (DeviceType type : types) ids[type] = NewUuid();
    return ids;
  }
  const std::filesystem::path file = folder / ("unique-ids-" + std::to_string(port));
  std::error_code error;
  if (std::filesystem::exists(file, error)) ids = ReadIds(file);
  bool added = false;
  for (DeviceType type : types) {
    if (ids.count(type)) continue;
    ids[type] = NewUuid();
    added = true;
  }
  if (added) {
    std::filesystem::create_directories(folder, error);
    if (error) throw std::runtime_error(folder.string() + ": cannot be created (" + error.message() + ")");
    WriteIds(file, ids);
  }
  return ids;
}

}  // namespace noctarbel::alpaca
