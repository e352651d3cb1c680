// The telescope's members over the mount simulator. The simulator slews, parks, homes and
// pulse-guides; what the device API asks beyond that (the park state, targets, site) is kept
// in SimDevices::Mount. Park and FindHome return as soon as the mount moves, with Slewing
// true until it arrives, so a client never waits in one request for a whole park.

#include <cmath>

#include "astro/time.h"
#include "common/number_text.h"
#include "devices/alpaca/server/member_table.h"
#include "devices/alpaca/server/sim_host.h"

namespace noctarbel::alpaca {

namespace {

constexpr int kGermanPolar = 2;

ITelescope& Scope(SimDevices& d) {
  RequireConnected(d.Telescope->Connected(), "telescope");
  return *d.Telescope;
}
MountModel& Model(SimDevices& d) {
  Scope(d);
  return d.World().Mount;
}

void RefuseWhileParked(SimDevices& d, const char* what) {
  Scope(d);
  if (d.Mount.Parked)
    throw Fault(kInvalidWhileParked, std::string(what) + " is not possible while the mount is parked");
}

double CheckedRa(double hours, const char* name) {
  if (!(hours >= 0 && hours < 24)) {
    throw Fault(kInvalidValue, std::string(name) + " " + FormatGeneral(hours) + " is outside 0 to 24 hours");
  }
  return hours;
}

double CheckedDec(double degrees, const char* name) {
  CheckRange(degrees, -90, 90, name);
  return degrees;
}

void SetTargets(SimDevices& d, double ra, double dec) {
  Scope(d).SetTargetRightAscension(ra);
  Scope(d).SetTargetDeclination(dec);
  d.Mount.TargetRa = ra;
  d.Mount.TargetDec = dec;
}

// What a real mount refuses before it moves: a kind of slew it does not have (0x400), a
// slew while parked (0x408), and a slew to coordinates while not tracking or to alt/az
// while tracking (0x40B), as the device API asks.
void CheckSlewAllowed(SimDevices& d, bool altAz) {
  const MountConfig& config = Model(d).Config;
  if (altAz && !config.CanSlewAltAz)
    throw Fault(kNotImplemented, "Slews to altitude and azimuth are not supported by this mount");
  if (!altAz && !config.CanSlew) throw Fault(kNotImplemented, "Slews to coordinates are not supported by this mount");
  RefuseWhileParked(d, "A slew");
  const bool tracking = Scope(d).Tracking();
  if (altAz && tracking)
    throw Fault(kInvalidOperation, "A slew to altitude and azimuth is not possible while tracking");
  if (!altAz && !tracking) throw Fault(kInvalidOperation, "A slew to coordinates is not possible while not tracking");
}

void StartSlewToTarget(SimDevices& d) {
  Scope(d);
  const double ra = Known(d.Mount.TargetRa, "TargetRightAscension");
  const double dec = Known(d.Mount.TargetDec, "TargetDeclination");
  CheckSlewAllowed(d, false);
  SetTargets(d, ra, dec);
  d.Mount.HomeSearched = false;
  Scope(d).SlewToTargetAsync();
}

void SlewToCoordinates(SimDevices& d, const CallParams& p) {
  const double ra = CheckedRa(p.Double("RightAscension"), "RightAscension");
  const double dec = CheckedDec(p.Double("Declination"), "Declination");
  CheckSlewAllowed(d, false);
  SetTargets(d, ra, dec);
  StartSlewToTarget(d);
}

void SlewToAltAz(SimDevices& d, const CallParams& p) {
  const double azimuth = p.Double("Azimuth");
  const double altitude = p.Double("Altitude");
  CheckRange(azimuth, 0, 360, "Azimuth");
  CheckRange(altitude, -90, 90, "Altitude");
  CheckSlewAllowed(d, true);
  d.Mount.HomeSearched = false;
  Scope(d).SlewToAltAz(azimuth, altitude);
}

double CheckedGuideRate(SimDevices& d, double rate, const char* name) {
  if (!Model(d).Config.CanSetGuideRates)
    throw Fault(kNotImplemented, std::string(name) + " cannot be set on this mount");
  if (!(rate > 0 && rate <= 1)) {
    throw Fault(kInvalidValue,
                std::string(name) + " " + FormatGeneral(rate) + " is not above 0 and at most 1 degree/s");
  }
  return rate;
}

void MethodWithParkCheck(MemberTable& t, const char* member, const char* what, MemberPut action) {
  t[member].Put = [what, action](SimDevices& d, const CallParams& p) {
    RefuseWhileParked(d, what);
    action(d, p);
  };
}

}  // namespace

MemberTable TelescopeMembers() {
  MemberTable t;
  CommonInfo common;
  common.Connected = [](SimDevices& d) { return d.Telescope->Connected(); };
  common.SetConnected = [](SimDevices& d, bool on) { d.Telescope->SetConnected(on); };
  common.Name = [](SimDevices& d) { return d.World().Mount.Config.Description; };
  common.Description = [](SimDevices& d) { return d.Telescope->Description(); };
  common.DriverInfo = [](SimDevices& d) { return d.Telescope->DriverInfo(); };
  common.DriverVersion = [](SimDevices&) { return std::string("1.0"); };
  common.InterfaceVersion = 3;
  AddCommonMembers(t, common);

  // Capabilities.
  auto always = [](bool value) { return Value([value](SimDevices&) { return value; }); };
  t["canfindhome"].Get = Value([](SimDevices& d) { return Model(d).Config.CanFindHome; });
  t["canpark"].Get = always(true);
  t["canpulseguide"].Get = always(true);
  t["cansetdeclinationrate"].Get = always(false);
  t["cansetguiderates"].Get = Value([](SimDevices& d) { return Model(d).Config.CanSetGuideRates; });
  t["cansetpark"].Get = always(false);
  t["cansetpierside"].Get = always(false);
  t["cansetrightascensionrate"].Get = always(false);
  t["cansettracking"].Get = Value([](SimDevices& d) { return Model(d).Config.CanSetTracking; });
  const auto canSlew = Value([](SimDevices& d) { return d.World().Mount.Config.CanSlew; });
  const auto canSlewAltAz = Value([](SimDevices& d) { return d.World().Mount.Config.CanSlewAltAz; });
  t["canslew"].Get = canSlew;
  t["canslewasync"].Get = canSlew;
  t["canslewaltaz"].Get = canSlewAltAz;
  t["canslewaltazasync"].Get = canSlewAltAz;
  t["cansync"].Get = always(true);
  t["cansyncaltaz"].Get = always(false);
  t["canunpark"].Get = always(true);
  t["canmoveaxis"].Get = [](SimDevices&, const CallParams& p) {
    CheckRange(p.Int("Axis"), 0, 2, "Axis");
    return JsonValue(false);
  };
  t["axisrates"].Get = [](SimDevices&, const CallParams& p) {
    CheckRange(p.Int("Axis"), 0, 2, "Axis");
    return JsonValue::array();
  };

  // Where the mount is and what it does.
  t["alignmentmode"].Get = Value([](SimDevices&) { return kGermanPolar; });
  t["altitude"].Get = Value([](SimDevices& d) { return Scope(d).Altitude(); });
  t["azimuth"].Get = Value([](SimDevices& d) { return Scope(d).Azimuth(); });
  t["declination"].Get = Value([](SimDevices& d) { return Scope(d).Declination(); });
  t["rightascension"].Get = Value([](SimDevices& d) { return Scope(d).RightAscension(); });
  t["equatorialsystem"].Get = Value([](SimDevices& d) { return Scope(d).EquatorialSystem(); });
  t["slewing"].Get = Value([](SimDevices& d) { return Scope(d).Slewing(); });
  t["athome"].Get = Value([](SimDevices& d) { return d.Mount.HomeSearched && !Scope(d).Slewing(); });
  t["atpark"].Get = Value([](SimDevices& d) { return d.Mount.Parked && !Scope(d).Slewing(); });
  t["ispulseguiding"].Get = Value([](SimDevices& d) { return Model(d).PulseGuiding(); });
  t["sideofpier"].Get = Value([](SimDevices& d) {
    if (Model(d).Config.PierSide == PierSideMode::CannotReport) {
      throw Fault(kNotImplemented, "SideOfPier is not implemented by this mount");
    }
    return ToInt(Scope(d).SideOfPier());
  });
  t["sideofpier"].Put = NotImplementedPut("SideOfPier");
  t["destinationsideofpier"].Get = [](SimDevices& d, const CallParams& p) -> JsonValue {
    const double ra = CheckedRa(p.Double("RightAscension"), "RightAscension");
    const double dec = CheckedDec(p.Double("Declination"), "Declination");
    if (Model(d).Config.PierSide != PierSideMode::ByHourAngle) {
      throw Fault(kNotImplemented, "DestinationSideOfPier is not implemented by this mount");
    }
    return JsonValue(ToInt(Model(d).DestinationSideOfPier(ra, dec)));
  };
  t["siderealtime"].Get =
      Value([](SimDevices& d) { return SiteSiderealTime(d.Now(), d.World().Site.LongitudeWestDeg); });
  t["utcdate"].Get = Value([](SimDevices& d) { return UtcIsoText(d.Now(), true); });
  t["utcdate"].Put = NotImplementedPut("UTCDate");

  // Optics the simulator does not describe.
  t["aperturearea"].Get = NotImplementedGet("ApertureArea");
  t["aperturediameter"].Get = NotImplementedGet("ApertureDiameter");
  t["focallength"].Get = NotImplementedGet("FocalLength");
  t["doesrefraction"].Get = always(false);
  t["doesrefraction"].Put = NotImplementedPut("DoesRefraction");

  // Site.
  t["siteelevation"].Get = Value([](SimDevices& d) { return d.Mount.SiteElevation; });
  t["siteelevation"].Put = [](SimDevices& d, const CallParams& p) {
    const double metres = p.Double("SiteElevation");
    CheckRange(metres, -300, 10000, "SiteElevation");
    d.Mount.SiteElevation = metres;
  };
  t["sitelatitude"].Get = Value([](SimDevices& d) { return d.World().Site.LatitudeDeg; });
  t["sitelatitude"].Put = [](SimDevices& d, const CallParams& p) {
    const double latitude = p.Double("SiteLatitude");
    CheckRange(latitude, -90, 90, "SiteLatitude");
    d.World().Site.LatitudeDeg = latitude;
  };
  // East positive here, west positive in the simulated world.
  t["sitelongitude"].Get = Value([](SimDevices& d) { return -d.World().Site.LongitudeWestDeg; });
  t["sitelongitude"].Put = [](SimDevices& d, const CallParams& p) {
    const double longitude = p.Double("SiteLongitude");
    CheckRange(longitude, -180, 180, "SiteLongitude");
    d.World().Site.LongitudeWestDeg = -longitude;
  };

  // Rates and tracking.
  t["tracking"].Get = Value([](SimDevices& d) { return Scope(d).Tracking(); });
  t["tracking"].Put = [](SimDevices& d, const CallParams& p) {
    const bool on = p.Bool("Tracking");
    if (!Model(d).Config.CanSetTracking) throw Fault(kNotImplemented, "Tracking cannot be set on this mount");
    Scope(d).SetTracking(on);
  };
  t["trackingrate"].Get = Value([](SimDevices&) { return 0; });
  t["trackingrate"].Put = [](SimDevices& d, const CallParams& p) {
    const int rate = p.Int("TrackingRate");
    Scope(d);
    CheckRange(rate, 0, 0, "TrackingRate");  // sidereal only
  };
  t["trackingrates"].Get = Value([](SimDevices&) { return std::vector<int>{0}; });
  t["declinationrate"].Get = Value([](SimDevices&) { return 0.0; });
  t["declinationrate"].Put = NotImplementedPut("DeclinationRate");
  t["rightascensionrate"].Get = Value([](SimDevices&) { return 0.0; });
  t["rightascensionrate"].Put = NotImplementedPut("RightAscensionRate");
  t["guideratedeclination"].Get = Value([](SimDevices& d) { return Scope(d).GuideRateDeclination(); });
  t["guideratedeclination"].Put = [](SimDevices& d, const CallParams& p) {
    Scope(d).SetGuideRateDeclination(CheckedGuideRate(d, p.Double("GuideRateDeclination"), "GuideRateDeclination"));
  };
  t["guideraterightascension"].Get = Value([](SimDevices& d) { return Scope(d).GuideRateRightAscension(); });
  t["guideraterightascension"].Put = [](SimDevices& d, const CallParams& p) {
    Scope(d).SetGuideRateRightAscension(
        CheckedGuideRate(d, p.Double("GuideRateRightAscension"), "GuideRateRightAscension"));
  };
  t["slewsettletime"].Get =
      Value([](SimDevices& d) { return static_cast<int>(std::lround(Model(d).Config.SettleSeconds)); });
  t["slewsettletime"].Put = [](SimDevices& d, const CallParams& p) {
    const int seconds = p.Int("SlewSettleTime");
    CheckRange(seconds, 0, 3600, "SlewSettleTime");
    Model(d).Config.SettleSeconds = seconds;
  };

  // Targets.
  t["targetrightascension"].Get = Value([](SimDevices& d) { return Known(d.Mount.TargetRa, "TargetRightAscension"); });
  t["targetrightascension"].Put = [](SimDevices& d, const CallParams& p) {
    const double ra = CheckedRa(p.Double("TargetRightAscension"), "TargetRightAscension");
    Scope(d).SetTargetRightAscension(ra);
    d.Mount.TargetRa = ra;
  };
  t["targetdeclination"].Get = Value([](SimDevices& d) { return Known(d.Mount.TargetDec, "TargetDeclination"); });
  t["targetdeclination"].Put = [](SimDevices& d, const CallParams& p) {
    const double dec = CheckedDec(p.Double("TargetDeclination"), "TargetDeclination");
    Scope(d).SetTargetDeclination(dec);
    d.Mount.TargetDec = dec;
  };

  // Slews: the synchronous ones answer when the mount has arrived.
  t["slewtotargetasync"].Put = [](SimDevices& d, const CallParams&) { StartSlewToTarget(d); };
  t["slewtotarget"].Put = t["slewtotargetasync"].Put;
  t["slewtotarget"].AwaitsSlew = true;
  t["slewtocoordinatesasync"].Put = SlewToCoordinates;
  t["slewtocoordinates"].Put = SlewToCoordinates;
  t["slewtocoordinates"].AwaitsSlew = true;
  t["slewtoaltazasync"].Put = SlewToAltAz;
  t["slewtoaltaz"].Put = SlewToAltAz;
  t["slewtoaltaz"].AwaitsSlew = true;
  MethodWithParkCheck(t, "abortslew", "AbortSlew", [](SimDevices& d, const CallParams&) {
    d.Mount.HomeSearched = false;
    Scope(d).AbortSlew();
  });
  t["moveaxis"].Put = [](SimDevices&, const CallParams& p) {
    CheckRange(p.Int("Axis"), 0, 2, "Axis");
    p.Double("Rate");
    throw Fault(kNotImplemented, "MoveAxis is not implemented by this simulator");
  };

  // Syncs.
  t["synctocoordinates"].Put = [](SimDevices& d, const CallParams& p) {
    const double ra = CheckedRa(p.Double("RightAscension"), "RightAscension");
    const double dec = CheckedDec(p.Double("Declination"), "Declination");
    RefuseWhileParked(d, "A sync");
    SetTargets(d, ra, dec);
    Scope(d).SyncToCoordinates(ra, dec);
  };
  MethodWithParkCheck(t, "synctotarget", "A sync", [](SimDevices& d, const CallParams&) {
    Scope(d).SyncToCoordinates(Known(d.Mount.TargetRa, "TargetRightAscension"),
                               Known(d.Mount.TargetDec, "TargetDeclination"));
  });
  t["synctoaltaz"].Put = [](SimDevices&, const CallParams& p) {
    p.Double("Azimuth");
    p.Double("Altitude");
    throw Fault(kNotImplemented, "SyncToAltAz is not implemented by this simulator");
  };

  // Park, home and guiding.
  t["park"].Put = [](SimDevices& d, const CallParams&) {
    d.Mount.HomeSearched = false;
    Scope(d).Park();
    d.Mount.Parked = true;
  };
  t["unpark"].Put = [](SimDevices& d, const CallParams&) {
    Scope(d);
    d.Mount.Parked = false;
  };
  t["setpark"].Put = NotImplementedPut("The park position");
  t["findhome"].Put = [](SimDevices& d, const CallParams&) {
    if (!Model(d).Config.CanFindHome) throw Fault(kNotImplemented, "FindHome is not implemented by this mount");
    RefuseWhileParked(d, "FindHome");
    Scope(d).FindHome();
    d.Mount.HomeSearched = true;
  };
  t["pulseguide"].Put = [](SimDevices& d, const CallParams& p) {
    const int direction = p.Int("Direction");
    const int duration = p.Int("Duration");
    CheckRange(direction, kGuideNorth, kGuideWest, "Direction");
    CheckRange(duration, 0, 3600000, "Duration");
    RefuseWhileParked(d, "PulseGuide");
    if (Scope(d).Slewing()) throw Fault(kInvalidOperation, "PulseGuide is not possible while the mount slews");
    Scope(d).PulseGuide(direction, duration);
  };
  return t;
}

}  // namespace noctarbel::alpaca
