#pragma once
// Where a station keeps its files: the station folder holds the settings, tables, profiles,
// horizon, calibration configuration and (by default) the log; shipped read-only data
// (catalogue, examples) lives in the data folder.

#include <filesystem>
#include <string>

#include "common/datetime.h"

namespace noctarbel {

struct StationPaths {
  std::filesystem::path Home;  // the station folder
  std::filesystem::path Data;  // shipped data: catalog/, examples/
};

// --home DIR when given, else $NOCTARBEL_HOME, else $XDG_CONFIG_HOME/noctarbel, else
// ~/.config/noctarbel. The folder is not created here.
std::filesystem::path ResolveStationFolder(const std::string& homeOption);
// Next to the installed program (../share/noctarbel), else the source tree's data folder.
std::filesystem::path FindDataFolder();
// Creates the folder when missing; false with a reason when that fails or it is not a folder.
bool EnsureFolder(const std::filesystem::path& folder, std::string* error);
// Why the station folder cannot be used, without creating anything: it names a file, or it is
// missing and cannot be created (its nearest existing parent is no folder, or not writable).
// Empty when it is usable.
std::string StationFolderProblem(const std::filesystem::path& folder);
StationPaths MakeStationPaths(const std::string& homeOption);

// One folder per night below the root image folder (the setting RootImagePath): the local
// date of the night's start as YYYY_MM_DD, so that the next night of the same plan goes into
// a folder of its own.
std::string NightFolderName(DateTime localStart);
std::filesystem::path NightImageFolder(const std::filesystem::path& root, DateTime localStart);

}  // namespace noctarbel
