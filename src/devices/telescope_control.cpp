#include "devices/telescope_control.h"

#include <algorithm>
#include <cmath>

#include "app/astro_controls.h"
#include "app/station.h"
#include "astro/horizon.h"
#include "astro/transforms.h"
#include "common/number_text.h"
#include "devices/device_support.h"
#include "devices/observatory.h"

namespace noctarbel {

namespace {

constexpr double kDegToRad = 0.0174532925199433;
// Slewing time one wait of a park may take, in 100 ms steps. Per wait, not per park: a
// slow mount's approach and final slew may together take longer, and a park that fails for
// that would keep the roof from closing in rain.
constexpr int kParkTimeoutSteps = 600;
constexpr double kAlreadyParkedDeg = 0.1;
constexpr double kVerifyDeg = 0.3;
constexpr double kApproachAltitude = 30.0;

struct ParkPosition {
  double Azimuth = 0;
  double Altitude = 0;
  bool DriverPark = false;
  const char* Going = "";
  const char* Arrived = "";
};

double WrapRaHours(double hours) {
  double h = std::fmod(hours, 24.0);
  return h < 0 ? h + 24.0 : h;
}

std::shared_ptr<ITelescope> Scope(Station& station) {
  auto scope = station.Devices.Telescope;
  if (!scope) throw DeviceError("Telescope disconnected");
  return scope;
}

void StopTracking(ITelescope& scope) {
  if (scope.CanSetTracking()) scope.SetTracking(false);
}

void StartTracking(ITelescope& scope) {
  if (scope.CanSetTracking()) scope.SetTracking(true);
}

// Waits while the mount slews; false when a limit (in 100 ms steps) is given and exceeded.
bool WaitWhileSlewing(Station& station, ITelescope& scope, int limitSteps = 0) {
  for (int steps = 0; scope.Slewing();) {
    station.Clock.Pump();
    station.Clock.Sleep(100);
    if (limitSteps > 0 && ++steps > limitSteps) return false;
  }
  return true;
}

bool WithinDeg(double a, double b, double tolerance) { return std::abs(a - b) < tolerance; }

bool AzimuthWithin(double azimuth, double target, double tolerance) {
  return std::abs(AzimuthDifference(target, azimuth)) < tolerance;
}

bool VerifyPark(double azimuth, double altitude, const ParkPosition& park) {
  if (!WithinDeg(altitude, park.Altitude, kVerifyDeg)) return false;
  // At the zenith the azimuth means nothing.
  return park.Altitude > 89.0 || AzimuthWithin(azimuth, park.Azimuth, kVerifyDeg);
}

void ShowParkTimeout(Station& station) { station.SetStatus("Park position timeout error"); }

bool GotoPark(Station& station, const ParkPosition& park) {
  if (!TelescopeConnected(station)) return false;
  auto scope = Scope(station);
  station.SetStatus(park.Going);
  for (const char* field : {"RAEdit1", "DECEdit1", "PiersideEdit"}) station.Main.SetText(field, "..");

  if (park.DriverPark) {
    scope->Park();
    if (!WaitWhileSlewing(station, *scope, kParkTimeoutSteps)) return ShowParkTimeout(station), false;
    // Some mounts stop short on the first park command.
    if (std::abs(AzimuthDifference(park.Azimuth, scope->Azimuth())) > kAlreadyParkedDeg ||
        std::abs(scope->Altitude() - park.Altitude) > kAlreadyParkedDeg) {
      scope->Park();
      if (!WaitWhileSlewing(station, *scope, kParkTimeoutSteps)) return ShowParkTimeout(station), false;
    }
  } else if (AzimuthWithin(scope->Azimuth(), park.Azimuth, kAlreadyParkedDeg) &&
             WithinDeg(scope->Altitude(), park.Altitude, kAlreadyParkedDeg)) {
    StopTracking(*scope);
    station.SetStatus(park.Arrived);
    return true;
  } else {
    StopTracking(*scope);
    // Low park positions are reached from 30 degrees up at the park azimuth, so the tube
    // never sweeps low through the open roof's frame.
    if (std::abs(AzimuthDifference(park.Azimuth, scope->Azimuth())) > kVerifyDeg && park.Altitude < 20.0 &&
        GetRoofState(station) == 1) {
      scope->SlewToAltAz(park.Azimuth, kApproachAltitude);
      if (!WaitWhileSlewing(station, *scope, kParkTimeoutSteps)) return ShowParkTimeout(station), false;
    }
    scope->SlewToAltAz(park.Azimuth, park.Altitude);
    if (!WaitWhileSlewing(station, *scope, kParkTimeoutSteps)) return ShowParkTimeout(station), false;
    WaitPumping(station, 2000);
  }
  const double azimuth = scope->Azimuth();
  const double altitude = scope->Altitude();
  const bool ok = VerifyPark(azimuth, altitude, park);
  StopTracking(*scope);
  if (ok) {
    station.SetStatus(park.Arrived);
  } else {
    station.SetStatus("Error at park position: Az=" + FormatGeneral(azimuth) + " Alt=" + FormatGeneral(altitude));
  }
  return ok;
}

void ShowDisconnected(Station& station) {
  station.Main.SetColour("led1", kColourRed);
  station.Main.SetCaption("BtnConnect", "Connect");
}

void RunParkButton(Station& station, bool (*park)(Station&), const char* failure) {
  bool ok = false;
  try {
    ok = park(station);
  } catch (const std::exception& e) {
    station.SetStatus(std::string("Telescope error: ") + e.what());
    station.LogTimed(std::string(": Telescope error: ") + e.what());
  }
  if (!ok) station.UiPort.ShowMessage(failure);
}

std::string PierSideText(int side) {
  if (side == kPierEast) return "0-East";
  if (side == kPierWest) return "1-West";
  return "?";
}

}  // namespace

bool ConnectTelescope(Station& station) {
  const std::string& id = station.Settings.TelescopeObject;
  if (id.empty()) return false;
  if (station.Devices.Telescope) return TelescopeConnected(station);
  try {
    DeviceContext context = MakeDeviceContext(station);
    std::shared_ptr<ITelescope> scope = station.Devices.Registry.CreateTelescope(id, context);
    scope->SetConnected(true);
    station.Devices.Telescope = scope;
    station.Timer1.Start();
    station.Main.SetColour("led1", kColourGreen);
    station.Main.SetText("Memo1", scope->Description() + "\n" + scope->DriverInfo());
    station.Main.SetCaption("BtnConnect", "Disconnect");
    return true;
  } catch (const std::exception& e) {
    station.Devices.Telescope.reset();
    station.Timer1.Stop();
    ShowDisconnected(station);
    ReportDeviceProblem(station, std::string("Telescope could not be connected: ") + e.what());
    return false;
  }
}

void DisconnectTelescope(Station& station) {
  station.Timer1.Stop();
  auto scope = station.Devices.Telescope;
  station.Devices.Telescope.reset();
  if (scope) {
    try {
      scope->SetConnected(false);
    } catch (const std::exception&) {
      // The slot is emptied all the same: the driver is released.
    }
  }
  ShowDisconnected(station);
}

void BtnConnectClick(Station& station) {
  if (station.Settings.TelescopeObject.empty()) return;
  if (station.Devices.Telescope) {
    DisconnectTelescope(station);
  } else {
    ConnectTelescope(station);
  }
}

void Timer1Timer(Station& station) {
  auto scope = station.Devices.Telescope;
  if (!scope) {
    station.Timer1.Stop();
    return;
  }
  ShowUtcAndSiderealTime(station);
  Controls& main = station.Main;
  try {
    if (!scope->Connected()) {
      main.SetText("RAEdit1", "Not connected");
      main.SetText("DECEdit1", "");
      for (const char* field : {"PiersideEdit", "AltEdit", "AirmassEdit"}) main.SetText(field, "?");
      station.Timer1.Stop();
      return;
    }
    const double ra = scope->RightAscension();
    const double dec = scope->Declination();
    main.SetText("RAEdit1", FormatFixed(ra, 5));
    main.SetText("DECEdit1", FormatFixed(dec, 5));
    const double altitude = StationEquatorialToHorizontal(station, ra * 15.0, dec).Altitude;
    main.SetText("AltEdit", FormatFixed(altitude, 1));
    main.SetText("AirmassEdit", altitude >= 1.0 ? FormatFixed(Airmass(altitude), 2) : "-");
    if (station.Run.PierSideAvailable) {
      try {
        main.SetText("PiersideEdit", PierSideText(scope->SideOfPier()));
      } catch (const DeviceError&) {
        // A mount that cannot tell its pier side is not asked again this run.
        station.Run.PierSideAvailable = false;
        main.SetText("PiersideEdit", "");
      }
    }
    main.SetChecked("TrackCheckBox", scope->Tracking());
  } catch (const std::exception& e) {
    station.Timer1.Stop();
    station.Devices.Telescope.reset();
    ShowDisconnected(station);
    station.LogTimed(std::string(": Telescope status failed: ") + e.what());
    ReportDeviceProblem(station, "telescope error");
  }
}

void BtnGotoClick(Station& station) {
  if (!TelescopeConnected(station) || GetRoofState(station) != 1) return;
  const Controls& main = station.Main;
  double ra = main.IntValue("RAHourEdit") + main.IntValue("RAminEdit") / 60.0 + main.Value("RAsecEdit") / 3600.0;
  // The N/S box carries the sign of a declination between -1 and 0 degrees.
  double dec = MainWindowDeclination(station);
  const HorizontalPosition here = StationEquatorialToHorizontal(station, ra * 15.0, dec);
  if (HorizonAltitude(station.Horizon, here.Azimuth) > here.Altitude) {
    station.UiPort.ShowMessage("Object under horizon");
    return;
  }
  try {
    auto scope = Scope(station);
    if (scope->EquatorialSystem() == kEquatorialOfDate) {
      const EquatorialPosition ofDate = J2000ToDate(ra, dec, JulianCenturiesSince2000(station.Clock.LocalNow()), 0);
      ra = ofDate.Ra;
      dec = ofDate.Dec;
    }
    scope->SetTargetRightAscension(WrapRaHours(ra));
    scope->SetTargetDeclination(dec);
    StartTracking(*scope);
    scope->SlewToTargetAsync();
  } catch (const std::exception& e) {
    ReportDeviceProblem(station, std::string("Telescope error: ") + e.what());
  }
}

void MoveXY(Station& station, double x, double y) {
  if (!TelescopeConnected(station)) return;
  auto scope = Scope(station);
  const double ra = scope->RightAscension();
  const double dec = scope->Declination();
  const double dRa = std::abs(dec) < 89.0 ? x / 15.0 / std::cos(dec * kDegToRad) : 0.0;
  scope->SetTargetRightAscension(WrapRaHours(ra + dRa));
  scope->SetTargetDeclination(std::clamp(dec + y, -90.0, 90.0));
  StartTracking(*scope);
  scope->SlewToTarget();
}

void AbortSlewBtnClick(Station& station) {
  if (!TelescopeConnected(station)) return;
  try {
    Scope(station)->AbortSlew();
  } catch (const std::exception& e) {
    ReportDeviceProblem(station, std::string("Telescope error: ") + e.what());
  }
}

void TrackCheckBoxClick(Station& station) {
  if (!TelescopeConnected(station)) return;
  try {
    auto scope = Scope(station);
    if (scope->CanSetTracking()) scope->SetTracking(station.Main.Checked("TrackCheckBox"));
  } catch (const std::exception& e) {
    ReportDeviceProblem(station, std::string("Telescope error: ") + e.what());
  }
}

bool GotoParkPosition1(Station& station) {
  const SettingsRecord& s = station.Settings;
  return GotoPark(station, ParkPosition{s.Park1Az, s.Park1Alt, s.ParkMethod == 0, "Going into park position 1",
                                        "In park position"});
}

bool GotoParkPosition2(Station& station) {
  const SettingsRecord& s = station.Settings;
  return GotoPark(station,
                  ParkPosition{s.Park2Az, s.Park2Alt, false, "Going into park position 2", "In park position 2"});
}

bool AtParkPosition1(Station& station) {
  if (!TelescopeConnected(station)) return false;
  auto scope = Scope(station);
  const SettingsRecord& s = station.Settings;
  return VerifyPark(scope->Azimuth(), scope->Altitude(), ParkPosition{s.Park1Az, s.Park1Alt});
}

void ParkButtonClick(Station& station) { RunParkButton(station, GotoParkPosition1, "Error at parking P1"); }

void ParkButton2Click(Station& station) { RunParkButton(station, GotoParkPosition2, "Error at parking P2"); }

void HomeButtonClick(Station& station) {
  const int roof = GetRoofState(station);
  if (!TelescopeConnected(station) || roof != 1) {
    station.SetStatus(roof == 1 ? "Telescope not connected" : "Roof is not open!");
    WaitPumping(station, 3000);
    return;
  }
  try {
    auto scope = Scope(station);
    station.SetStatus("Fahre in Home-Position");
    StopTracking(*scope);
    scope->SlewToAltAz(station.Settings.HomeAz, station.Settings.HomeAlt);
    WaitWhileSlewing(station, *scope);
    if (scope->CanFindHome()) {
      station.SetStatus("Home calibration is performed");
      scope->FindHome();
      station.SetStatus("Home calibration finished");
    } else {
      station.SetStatus("Home calibration not possible");
      WaitPumping(station, 3000);
    }
  } catch (const std::exception& e) {
    ReportDeviceProblem(station, std::string("Telescope error: ") + e.what());
  }
}

}  // namespace noctarbel
