#pragma once
// Where a mount that slews only by right ascension and declination is sent for an alt/az
// position: the station's own transform for its site and clock (coordinates of the date, no
// refraction), the one the station checks a park position with, so the mount ends where the
// station looks for it. The INDI mount always slews this way; an Alpaca mount does when it
// has no alt/az slews.

#include "astro/transforms.h"
#include "common/datetime.h"

namespace noctarbel {

struct EquatorialTarget {
  double RaHours = 0;  // 0 <= RaHours < 24
  double DecDeg = 0;
};

// Azimuth 0..360, altitude -90..90.
bool AltAzInRange(double azimuth, double altitude);
EquatorialTarget EquatorialForAltAz(double azimuth, double altitude, DateTime utc, const SiteLocation& site);

}  // namespace noctarbel
