#include "devices/altaz_targets.h"

#include <cmath>

namespace noctarbel {

bool AltAzInRange(double azimuth, double altitude) {
  return azimuth >= 0 && azimuth <= 360 && altitude >= -90 && altitude <= 90;
}

EquatorialTarget EquatorialForAltAz(double azimuth, double altitude, DateTime utc, const SiteLocation& site) {
  const EquatorialPosition place = HorizontalToEquatorial(azimuth, altitude, utc, site);
  double hours = std::fmod(place.Ra / 15.0, 24.0);
  if (hours < 0) hours += 24.0;
  return {hours >= 24.0 ? 0.0 : hours, place.Dec};
}

}  // namespace noctarbel
