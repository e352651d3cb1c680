#pragma once
// The main window's astronomy: the horizon loaded at start-up, "Find", "insert RA/DEC",
// "Paste", the N/S sign box, and the site's sidereal time and horizontal frame.

#include <filesystem>
#include <string>

#include "astro/horizon.h"
#include "astro/transforms.h"
#include "common/datetime.h"

namespace noctarbel {

class Station;
class StationCore;

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
void LoadHorizon(Station& station);
// Registers Find, insert RA/DEC, Paste and the declination sign rules with the main window.
void InstallAstroHandlers(Station& station);

// The folder of the shipped catalogue files.
std::filesystem::path CatalogueFolder(const Station& station);

void KatalogButtonClick(Station& station);
void ObjektBtnClick(Station& station);
void PasteposBtnClick(Station& station);
void NSboxChange(Station& station);
void DECdegEditChange(Station& station);

// The declination the spin fields and NSbox stand for (what goto sends).
double MainWindowDeclination(const Station& station);

// A date-time value <= 0 means now (the station's UTC clock).
DateTime ResolveUtc(StationCore& station, DateTime utc);
SiteLocation StationSite(const StationCore& station);
double StationSiderealTime(StationCore& station, DateTime utc = 0);
HorizontalPosition StationEquatorialToHorizontal(StationCore& station, double raDeg, double decDeg, DateTime utc = 0);
EquatorialPosition StationHorizontalToEquatorial(StationCore& station, double azimuthDeg, double altitudeDeg,
                                                 DateTime utc = 0);

}  // namespace noctarbel
