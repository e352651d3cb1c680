#include <CLI/CLI.hpp>

#include <cmath>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>

#include "station/site_sky.h"
#include "common/event_runtime.h"
#include "station/settings.h"
#include "astro/catalogue.h"
#include "astro/horizon.h"
#include "astro/time.h"
#include "astro/transforms.h"
#include "cli/cli_context.h"
#include "cli/commands.h"
#include "common/datetime.h"
#include "common/number_text.h"

namespace noctarbel::cli {

namespace {

// Option values are read as text and converted here, always with "." as the decimal point.
struct AstroOptions {
  std::string name;
  std::string at;
  std::string longitude;
  std::string ra;
  std::string dec;
  std::string az;
  bool toJ2000 = false;
  bool json = false;
};

std::string Signed(const std::string& text) { return text.empty() || text[0] == '-' ? text : "+" + text; }

std::string TwoDigits(long long n) { return (n < 10 ? "0" : "") + std::to_string(n); }

// The catalogue's own precision: 0.1 minute of time and whole arcminutes.
std::string CatalogueRaText(double hours) {
  const long long tenths = RoundHalfEven(hours * 600) % (24 * 600);
  return std::to_string(tenths / 600) + " h " + TwoDigits(tenths % 600 / 10) + "." + std::to_string(tenths % 10) + " m";
}

std::string CatalogueDecText(double degrees) {
  const long long arcminutes = RoundHalfEven(std::fabs(degrees) * 60);
  return std::string(degrees < 0 && arcminutes != 0 ? "-" : "+") + TwoDigits(arcminutes / 60) + "° " +
         TwoDigits(arcminutes % 60) + "′";
}

// hh:mm:ss.s with a carry into the minutes and hours.
std::string ClockText(double hours) {
  const long long tenths = RoundHalfEven(hours * 36000) % (24LL * 36000);
  return TwoDigits(tenths / 36000) + ":" + TwoDigits(tenths / 600 % 60) + ":" + TwoDigits(tenths / 10 % 60) + "." +
         std::to_string(tenths % 10);
}

std::string RaHmsText(double hours) {
  const long long hundredths = RoundHalfEven(hours * 360000) % (24LL * 360000);
  return std::to_string(hundredths / 360000) + " h " + TwoDigits(hundredths / 6000 % 60) + " m " +
         TwoDigits(hundredths / 100 % 60) + "." + TwoDigits(hundredths % 100) + " s";
}

std::string DecDmsText(double degrees) {
  const long long tenths = RoundHalfEven(std::fabs(degrees) * 36000);
  return std::string(degrees < 0 && tenths != 0 ? "-" : "+") + TwoDigits(tenths / 36000) + "° " +
         TwoDigits(tenths / 600 % 60) + "′ " + TwoDigits(tenths / 10 % 60) + "." + std::to_string(tenths % 10) + "″";
}

std::optional<double> NumberOption(CliContext& context, const std::string& option, const std::string& text,
                                   double minimum, double maximum, bool maximumIncluded = true) {
  auto value = ParseFloat(text);
  if (!value || *value < minimum || *value > maximum || (!maximumIncluded && *value == maximum)) {
    context.UsageError(option + " needs a number from " + FormatGeneral(minimum) + " to " + FormatGeneral(maximum) +
                       (maximumIncluded ? "" : " (exclusive)") + ", got \"" + text + "\"");
    return std::nullopt;
  }
  return value;
}

// --at, or now from the system's UTC clock.
std::optional<DateTime> Instant(CliContext& context, const std::string& at) {
  if (at.empty()) return EventRuntime::WithRealClock()->UtcNow();
  auto value = ParseIsoDateTime(at);
  if (!value || *value <= 0) {
    context.UsageError("--at needs a UT time \"YYYY-MM-DD HH:MM:SS\" (or with \"T\"), got \"" + at + "\"");
    return std::nullopt;
  }
  return value;
}

SettingsRecord StationSettings(const CliContext& context) {
  return LoadSettingsFile(context.Paths().Home / kSettingsFileName);
}

// The station's horizon as the main window loads it; notes on stderr what was not used.
HorizonTable StationHorizon(const CliContext& context, const SettingsRecord& settings, HorizonLoadReport& report) {
  HorizonTable table;
  report = LoadHorizonSetting(settings.Horizontdatei, context.Paths().Home, table);
  if (!report.Opened) {
    context.Note("Horizon file " + report.File.string() + " cannot be opened; no horizon (0 degrees) is used");
  } else if (report.Ignored > 0) {
    context.Note("Horizon file " + report.File.string() + " has more than " + std::to_string(kMaxHorizonPoints) +
                 " points; the other " + std::to_string(report.Ignored) + " were ignored");
  }
  return table;
}

void RunLookup(CliContext& context, const AstroOptions& options) {
  const std::string name(TrimBlanks(options.name));
  auto object = ParseObjectName(name);
  CatalogueLookup lookup;
  if (object) lookup = LookupCatalogue(context.Paths().Data / "catalog", object->Catalogue, object->Number);
  if (lookup.Status == LookupStatus::FileError) return context.Fail(lookup.Error);
  if (lookup.Status != LookupStatus::Found) return context.Fail("Object not found");
  std::string label = NormalisedObjectName(*object);
  if (auto messier = object->Catalogue == kMessier ? MessierObject(object->Number) : std::nullopt) {
    label += " (" + NormalisedObjectName(*messier) + ")";
  }
  if (options.json) {
    nlohmann::json out = {{"name", label},
                          {"ra_hours", lookup.Ra},
                          {"dec_deg", lookup.Dec},
                          {"ra", CatalogueRaText(lookup.Ra)},
                          {"dec", CatalogueDecText(lookup.Dec)}};
    std::cout << out.dump(2) << "\n";
    return;
  }
  std::cout << label << ": RA " << CatalogueRaText(lookup.Ra) << ", Dec " << CatalogueDecText(lookup.Dec) << " (RA "
            << FormatFixed(lookup.Ra, 6) << " h, Dec " << Signed(FormatFixed(lookup.Dec, 5)) << "°)\n";
}

void RunLst(CliContext& context, const AstroOptions& options) {
  auto utc = Instant(context, options.at);
  if (!utc) return;
  double longitude = StationSettings(context).Glaenge;
  if (!options.longitude.empty()) {
    auto value = NumberOption(context, "--longitude", options.longitude, -180, 180);
    if (!value) return;
    longitude = *value;
  }
  const double lst = SiteSiderealTime(*utc, longitude);
  if (options.json) {
    nlohmann::json out = {{"lst_hours", lst}, {"utc", FormatDateTime(*utc)}, {"longitude_deg", longitude}};
    std::cout << out.dump(2) << "\n";
    return;
  }
  std::cout << "LST " << FormatFixed(lst, 6) << " h (" << ClockText(lst) << ") at " << FormatDateTime(*utc)
            << " UT, longitude " << FormatGeneral(longitude) << "° (west positive)\n";
}

struct Position {
  double Ra = 0;
  double Dec = 0;
};

std::optional<Position> PositionOptions(CliContext& context, const AstroOptions& options) {
  auto ra = NumberOption(context, "--ra", options.ra, 0, 24, false);
  if (!ra) return std::nullopt;
  auto dec = NumberOption(context, "--dec", options.dec, -90, 90);
  if (!dec) return std::nullopt;
  return Position{*ra, *dec};
}

void RunAltAz(CliContext& context, const AstroOptions& options) {
  auto position = PositionOptions(context, options);
  if (!position) return;
  auto utc = Instant(context, options.at);
  if (!utc) return;
  const SettingsRecord settings = StationSettings(context);
  HorizonLoadReport report;
  const HorizonTable horizon = StationHorizon(context, settings, report);
  // The position is J2000; the site sees it at its place of date.
  const EquatorialPosition ofDate = J2000ToDate(position->Ra, position->Dec, JulianCenturiesSince2000(*utc));
  const HorizontalPosition h =
      EquatorialToHorizontal(ofDate.Ra * 15, ofDate.Dec, *utc, SiteLocation{settings.Gbreite, settings.Glaenge});
  const double horizonAltitude = HorizonAltitude(horizon, h.Azimuth);
  const bool visible = IsAboveHorizon(horizon, h.Azimuth, h.Altitude);
  // As the telescope display: no airmass below 1 degree of altitude.
  const bool hasAirmass = h.Altitude >= 1;
  const double airmass = Airmass(h.Altitude);
  if (options.json) {
    nlohmann::json out = {{"az_deg", h.Azimuth},        {"alt_deg", h.Altitude},
                          {"airmass", nullptr},         {"horizon_deg", horizonAltitude},
                          {"visible", visible},         {"utc", FormatDateTime(*utc)},
                          {"ra_date_hours", ofDate.Ra}, {"dec_date_deg", ofDate.Dec}};
    if (hasAirmass) out["airmass"] = airmass;
    std::cout << out.dump(2) << "\n";
    return;
  }
  std::cout << "Az " << FormatFixed(h.Azimuth, 2) << "°, Alt " << FormatFixed(h.Altitude, 2) << "°, airmass "
            << (hasAirmass ? FormatFixed(airmass, 2) : std::string("-")) << ", horizon "
            << FormatFixed(horizonAltitude, 2) << "°: " << (visible ? "visible" : "below the horizon") << " at "
            << FormatDateTime(*utc) << " UT\n";
}

void RunPrecess(CliContext& context, const AstroOptions& options) {
  auto position = PositionOptions(context, options);
  if (!position) return;
  auto utc = Instant(context, options.at);
  if (!utc) return;
  const double t = JulianCenturiesSince2000(*utc);
  const EquatorialPosition result =
      options.toJ2000 ? DateToJ2000(position->Ra, position->Dec, t) : J2000ToDate(position->Ra, position->Dec, t);
  if (options.json) {
    nlohmann::json out = {{"ra_hours", result.Ra},
                          {"dec_deg", result.Dec},
                          {"ra", RaHmsText(result.Ra)},
                          {"dec", DecDmsText(result.Dec)},
                          {"to", options.toJ2000 ? "J2000" : "date"},
                          {"utc", FormatDateTime(*utc)},
                          {"t_centuries", t}};
    std::cout << out.dump(2) << "\n";
    return;
  }
  std::cout << (options.toJ2000 ? "J2000" : "Of date") << ": RA " << FormatFixed(result.Ra, 6) << " h ("
            << RaHmsText(result.Ra) << "), Dec " << Signed(FormatFixed(result.Dec, 5)) << "° ("
            << DecDmsText(result.Dec) << ") at " << FormatDateTime(*utc) << " UT\n";
}

void RunHorizon(CliContext& context, const AstroOptions& options) {
  std::optional<double> azimuth;
  if (!options.az.empty()) {
    azimuth = NumberOption(context, "--az", options.az, -360, 360);
    if (!azimuth) return;
  }
  HorizonLoadReport report;
  const HorizonTable horizon = StationHorizon(context, StationSettings(context), report);
  if (azimuth) {
    const double altitude = HorizonAltitude(horizon, *azimuth);
    if (options.json) {
      std::cout << nlohmann::json({{"az_deg", *azimuth}, {"horizon_deg", altitude}}).dump(2) << "\n";
    } else {
      std::cout << FormatGeneral(altitude) << "\n";
    }
    return;
  }
  if (options.json) {
    nlohmann::json points = nlohmann::json::array();
    for (int k = 0; k < horizon.Count; ++k) {
      points.push_back({{"az_deg", horizon.Points[k].Azimuth}, {"alt_deg", horizon.Points[k].Altitude}});
    }
    nlohmann::json out = {
        {"file", report.File.empty() ? nlohmann::json(nullptr) : nlohmann::json(report.File.string())},
        {"points", points},
        {"ignored", report.Ignored}};
    std::cout << out.dump(2) << "\n";
    return;
  }
  std::cout << (report.File.empty() ? std::string("default horizon") : report.File.string()) << ": " << horizon.Count
            << " points (azimuth altitude, in table order)\n";
  for (int k = 0; k < horizon.Count; ++k) {
    std::cout << FormatGeneral(horizon.Points[k].Azimuth) << " " << FormatGeneral(horizon.Points[k].Altitude) << "\n";
  }
}

}  // namespace

void RegisterAstroCommands(CLI::App& app, CliContext& context) {
  auto options = std::make_shared<AstroOptions>();
  const std::string atHelp = "UT instant \"YYYY-MM-DD HH:MM:SS\" or \"YYYY-MM-DDTHH:MM:SS\" (default: now)";

  CLI::App* lookup =
      app.add_subcommand("lookup", "J2000 position of an NGC, IC or Messier object (M51, NGC224, IC434)");
  lookup->add_option("NAME", options->name, "Object name")->required();
  lookup->add_flag("--json", options->json, "JSON with ra_hours and dec_deg");
  lookup->callback([&context, options] { RunLookup(context, *options); });

  CLI::App* lst = app.add_subcommand("lst", "Local mean sidereal time of the station");
  lst->add_option("--at", options->at, atHelp);
  lst->add_option("--longitude", options->longitude, "Degrees, west positive (default: the setting Glaenge)");
  lst->add_flag("--json", options->json, "JSON with lst_hours");
  lst->callback([&context, options] { RunLst(context, *options); });

  CLI::App* altaz = app.add_subcommand("altaz", "Azimuth, altitude and airmass of a J2000 position at the station");
  altaz->add_option("--ra", options->ra, "Right ascension J2000, hours")->required();
  altaz->add_option("--dec", options->dec, "Declination J2000, degrees")->required();
  altaz->add_option("--at", options->at, atHelp);
  altaz->add_flag("--json", options->json, "JSON with az_deg, alt_deg, airmass, horizon_deg, visible");
  altaz->callback([&context, options] { RunAltAz(context, *options); });

  CLI::App* precess = app.add_subcommand("precess", "J2000 to the apparent place of date, or back");
  precess->add_option("--ra", options->ra, "Right ascension, hours")->required();
  precess->add_option("--dec", options->dec, "Declination, degrees")->required();
  precess->add_option("--at", options->at, atHelp);
  precess->add_flag("--to-j2000", options->toJ2000, "From the place of date back to J2000");
  precess->add_flag("--json", options->json, "JSON with ra_hours and dec_deg");
  precess->callback([&context, options] { RunPrecess(context, *options); });

  CLI::App* horizon = app.add_subcommand("horizon", "The station's local horizon (setting Horizontdatei)");
  horizon->add_option("--az", options->az, "Azimuth, degrees from north through east: the horizon's altitude there");
  horizon->add_flag("--json", options->json, "JSON: horizon_deg, or the table's points");
  horizon->callback([&context, options] { RunHorizon(context, *options); });
}

}  // namespace noctarbel::cli
