#pragma once
// The UniqueIDs a server gives its devices: made once per server and kept, so that a client
// finds the same devices again after a restart, while two servers on one computer (on two
// ports) are told apart. They are kept in FOLDER/unique-ids-PORT, one "TYPE UUID" line per
// device type; without a folder they are made afresh for the server's lifetime.

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "devices/device_registry.h"

namespace noctarbel::alpaca {

// A random (version 4) UUID, lower case.
std::string NewUuid();

// The IDs of the server on `port` for each type, read from the folder's file or made and
// stored there (a missing type is added). std::runtime_error naming the file when it cannot
// be read or written, or holds something else: it is never overwritten then.
std::map<DeviceType, std::string> ServerUniqueIds(const std::filesystem::path& folder, int port,
                                                  const std::vector<DeviceType>& types);

}  // namespace noctarbel::alpaca
