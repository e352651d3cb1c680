#include "station/site_sky.h"

#include "astro/time.h"
#include "station/station_state.h"

namespace noctarbel {

HorizonLoadReport LoadHorizonSetting(const std::string& setting, const std::filesystem::path& stationFolder,
                                     HorizonTable& table) {
  HorizonLoadReport report;
  if (setting.empty()) {
    table = DefaultHorizonTable();
    report.Opened = true;
    report.Points = table.Count;
    return report;
  }
  std::filesystem::path file(setting);
  report.File = file.is_absolute() ? file : stationFolder / file;
  HorizonFileResult result = LoadHorizonFile(report.File, table);
  report.Opened = result.Opened;
  report.Points = result.Accepted;
  report.Ignored = result.Ignored;
  return report;
}

void LoadHorizon(StationState& station) {
  HorizonLoadReport report = LoadHorizonSetting(station.Settings.Horizontdatei, station.Paths.Home, station.Horizon);
  if (report.Ignored > 0) {
    station.LogTimed(": Horizon file " + report.File.string() + " has more than " + std::to_string(kMaxHorizonPoints) +
                     " points; the other " + std::to_string(report.Ignored) + " were ignored");
  }
}

std::filesystem::path CatalogueFolder(const StationState& station) { return station.Paths.Data / "catalog"; }

DateTime ResolveUtc(StationState& station, DateTime utc) { return utc > 0 ? utc : station.Clock.UtcNow(); }

SiteLocation StationSite(const StationState& station) { return station.Site(); }

double StationSiderealTime(StationState& station, DateTime utc) {
  return SiteSiderealTime(ResolveUtc(station, utc), station.Settings.Glaenge);
}

HorizontalPosition StationEquatorialToHorizontal(StationState& station, double raDeg, double decDeg, DateTime utc) {
  return EquatorialToHorizontal(raDeg, decDeg, ResolveUtc(station, utc), StationSite(station));
}

EquatorialPosition StationHorizontalToEquatorial(StationState& station, double azimuthDeg, double altitudeDeg,
                                                 DateTime utc) {
  return HorizontalToEquatorial(azimuthDeg, altitudeDeg, ResolveUtc(station, utc), StationSite(station));
}

}  // namespace noctarbel
