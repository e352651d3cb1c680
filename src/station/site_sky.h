#pragma once
// The station's place on the sky: its horizon (loaded from the file the settings name), its
// sidereal time and the conversion between the sky and its horizontal frame at a UT.

#include <filesystem>
#include <string>

#include "astro/horizon.h"
#include "astro/transforms.h"
#include "common/datetime.h"

namespace noctarbel {

class StationState;

struct HorizonLoadReport {
  std::filesystem::path File;  // empty when the setting is empty (default table)
  bool Opened = false;
  int Points = 0;
  int Ignored = 0;  // points after the first 200
};

// The horizon named by a Horizontdatei setting: empty gives the default table, a relative
// name resolves against the station folder, a file that cannot be opened gives an empty
// table (no horizon: 0 degrees everywhere).
HorizonLoadReport LoadHorizonSetting(const std::string& setting, const std::filesystem::path& stationFolder,
                                     HorizonTable& table);
// Into station.Horizon; logs a line when points beyond the first 200 were ignored.
void LoadHorizon(StationState& station);

// The folder of the shipped catalogue files.
std::filesystem::path CatalogueFolder(const StationState& station);

// A date-time value <= 0 means now (the station's UTC clock).
DateTime ResolveUtc(StationState& station, DateTime utc);
SiteLocation StationSite(const StationState& station);
double StationSiderealTime(StationState& station, DateTime utc = 0);
HorizontalPosition StationEquatorialToHorizontal(StationState& station, double raDeg, double decDeg, DateTime utc = 0);
EquatorialPosition StationHorizontalToEquatorial(StationState& station, double azimuthDeg, double altitudeDeg,
                                                 DateTime utc = 0);

}  // namespace noctarbel
