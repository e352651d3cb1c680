#include "operations/mount_operations.h"

#include <algorithm>
#include <cmath>

#include "common/angles.h"
#include "station/site_sky.h"
#include "station/station_state.h"
#include "operations/observatory_operations.h"
#include "astro/horizon.h"
#include "astro/transforms.h"
#include "common/number_text.h"
#include "guiding/pulse_guide.h"

namespace noctarbel {

namespace {

// Slewing time one wait of a park may take, in 100 ms steps. Per wait, not per park: a
// slow mount's approach and final slew may together take longer, and a park that fails for
// that would keep the roof from closing in rain.
constexpr int kParkTimeoutSteps = 600;
// Any other slew: a mount that never stops slewing must not hold the station for good.
constexpr int kSlewTimeoutSteps = 3000;
constexpr double kAlreadyParkedDeg = 0.1;
constexpr double kVerifyDeg = 0.3;
constexpr double kApproachAltitude = 30.0;
constexpr double kLowParkAltitude = 20.0;
constexpr double kZenithAltitude = 89.0;

double WrapRaHours(double hours) {
  double h = std::fmod(hours, 24.0);
  return h < 0 ? h + 24.0 : h;
}

void StopTracking(ITelescope& scope) {
  if (scope.CanSetTracking()) scope.SetTracking(false);
}

void StartTracking(ITelescope& scope) {
  if (scope.CanSetTracking()) scope.SetTracking(true);
}

bool WithinDeg(double a, double b, double tolerance) { return std::abs(a - b) < tolerance; }

bool AzimuthWithin(double azimuth, double target, double tolerance) {
  return std::abs(AzimuthDifference(target, azimuth)) < tolerance;
}

std::string LowerFirst(std::string text) {
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] - 'A' + 'a');
  return text;
}

}  // namespace

struct MountOperations::ParkPosition {
  const char* Name = "";
  double Azimuth = 0;
  double Altitude = 0;
  bool DriverPark = false;
  const char* Going = "";
  const char* Arrived = "";
};

double AzimuthDifference(double from, double to) {
  double d = std::fmod(to - from, 360.0);
  if (d <= -180.0) d += 360.0;
  if (d > 180.0) d -= 360.0;
  return d;
}

double NormalizeAzimuth(double azimuth) {
  double a = std::fmod(azimuth, 360.0);
  if (a < 0) a += 360.0;
  return a >= 360.0 ? 0.0 : a;
}

bool MountOperations::HasDriver() const { return core_.Devices.Telescope != nullptr; }

bool MountOperations::Connected() {
  auto scope = core_.Devices.Telescope;
  if (!scope) return false;
  try {
    return scope->Connected();
  } catch (const std::exception&) {
    return false;
  }
}

bool MountOperations::Connect(std::string* error) {
  const std::string& id = core_.Settings.TelescopeObject;
  if (id.empty()) return false;
  if (core_.Devices.Telescope) return Connected();
  try {
    DeviceContext context = core_.MakeDeviceContext();
    std::shared_ptr<ITelescope> scope = core_.Devices.Registry.CreateTelescope(id, context);
    scope->SetConnected(true);
    core_.Devices.Telescope = scope;
    return true;
  } catch (const std::exception& e) {
    core_.Devices.Telescope.reset();
    if (error) *error = e.what();
    return false;
  }
}

void MountOperations::Disconnect() {
  auto scope = core_.Devices.Telescope;
  core_.Devices.Telescope.reset();
  if (!scope) return;
  try {
    scope->SetConnected(false);
  } catch (const std::exception&) {
    // The slot is emptied all the same: the driver is released.
  }
}

std::string MountOperations::DriverText() {
  auto scope = core_.Devices.Telescope;
  if (!scope) return {};
  return scope->Description() + "\n" + scope->DriverInfo();
}

std::optional<MountStatus> MountOperations::ReadStatus() {
  auto scope = core_.Devices.Telescope;
  if (!scope) throw DeviceError("Telescope disconnected");
  if (!scope->Connected()) return std::nullopt;
  MountStatus status;
  status.RightAscension = scope->RightAscension();
  status.Declination = scope->Declination();
  status.Altitude = StationEquatorialToHorizontal(core_, status.RightAscension * 15.0, status.Declination).Altitude;
  if (core_.Run.PierSideAvailable) {
    try {
      status.Side = scope->SideOfPier();
    } catch (const DeviceError&) {
      // A mount that cannot tell its pier side is not asked again this run.
      core_.Run.PierSideAvailable = false;
    }
  }
  status.Tracking = scope->Tracking();
  return status;
}

std::optional<PierSide> MountOperations::ReadPierSide() {
  auto scope = core_.Devices.Telescope;
  if (!scope || !core_.Run.PierSideAvailable || !Connected()) return std::nullopt;
  try {
    const PierSide side = scope->SideOfPier();
    if (side == PierSide::Unknown) return std::nullopt;
    return side;
  } catch (const DeviceError&) {
    core_.Run.PierSideAvailable = false;
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

std::pair<double, double> MountOperations::AzimuthAltitude() {
  auto scope = core_.Devices.Telescope;
  if (!scope) throw DeviceError("Telescope disconnected");
  return {NormalizeAzimuth(scope->Azimuth()), scope->Altitude()};
}

void MountOperations::ReportFailure(const std::string& what, const std::exception& e) {
  core_.SetStatus(what + ": " + e.what());
  core_.LogTimed(": " + what + ": " + e.what());
}

bool MountOperations::Interrupted(OperationContext& op, const char* what) {
  const std::string text = std::string(what) + " " + LowerFirst(op.StopText());
  core_.SetStatus(text);
  core_.LogTimed(": " + text);
  return false;
}

bool MountOperations::WaitWhileSlewing(OperationContext& op, ITelescope& scope, int limitSteps) {
  for (int steps = 0; scope.Slewing();) {
    if (!op.Wait(100)) return false;
    if (limitSteps > 0 && ++steps > limitSteps) return false;
  }
  return op.MayContinue();
}

GotoOutcome MountOperations::GotoJ2000(double raHours, double decDeg) {
  if (!Connected()) return GotoOutcome::NotConnected;
  if (observatory_.GetRoofState() != RoofState::Open) return GotoOutcome::RoofNotOpen;
  const HorizontalPosition here = StationEquatorialToHorizontal(core_, raHours * 15.0, decDeg);
  if (HorizonAltitude(core_.Horizon, here.Azimuth) > here.Altitude) return GotoOutcome::BelowHorizon;
  try {
    auto scope = core_.Devices.Telescope;
    if (!scope) return GotoOutcome::NotConnected;
    if (scope->EquatorialSystem() == kEquatorialOfDate) {
      const EquatorialPosition ofDate =
          J2000ToDate(raHours, decDeg, JulianCenturiesSince2000(core_.Clock.LocalNow()), 0);
      raHours = ofDate.Ra;
      decDeg = ofDate.Dec;
    }
    scope->SetTargetRightAscension(WrapRaHours(raHours));
    scope->SetTargetDeclination(decDeg);
    StartTracking(*scope);
    scope->SlewToTargetAsync();
    return GotoOutcome::Sent;
  } catch (const std::exception& e) {
    ReportFailure("Telescope error", e);
    return GotoOutcome::Failed;
  }
}

bool MountOperations::SlewAndWait(OperationContext& op, double raHours, double decDeg) {
  auto scope = core_.Devices.Telescope;
  if (!scope || !Connected()) return false;
  if (!op.MayContinue()) return Interrupted(op, "Slew");
  // The tube must not sweep under a roof that is not open.
  if (observatory_.GetRoofState() != RoofState::Open) {
    core_.SetStatus("Roof is not open!");
    return false;
  }
  try {
    return TrackAndSlewTo(op, *scope, raHours, decDeg, "Slew");
  } catch (const std::exception& e) {
    ReportFailure("Telescope error", e);
    return false;
  }
}

bool MountOperations::TrackAndSlewTo(OperationContext& op, ITelescope& scope, double raHours, double decDeg,
                                     const char* what) {
  scope.SetTargetRightAscension(WrapRaHours(raHours));
  scope.SetTargetDeclination(std::clamp(decDeg, -90.0, 90.0));
  StartTracking(scope);
  scope.SlewToTargetAsync();
  if (!WaitWhileSlewing(op, scope, kSlewTimeoutSteps)) {
    if (!op.MayContinue()) return Interrupted(op, what);
    core_.SetStatus("Slew timeout error");
    return false;
  }
  return true;
}

bool MountOperations::MoveXY(OperationContext& op, double x, double y) {
  auto scope = core_.Devices.Telescope;
  if (!scope || !Connected()) return false;
  if (!op.MayContinue()) return Interrupted(op, "Move");
  try {
    const double ra = scope->RightAscension();
    const double dec = scope->Declination();
    const double dRa = std::abs(dec) < kZenithAltitude ? x / 15.0 / std::cos(dec * kDegToRad) : 0.0;
    return TrackAndSlewTo(op, *scope, ra + dRa, dec + y, "Move");
  } catch (const std::exception& e) {
    ReportFailure("Telescope error", e);
    return false;
  }
}

bool MountOperations::PulseGuideXY(OperationContext& op, double x, double y, int* longestPulseMs) {
  if (longestPulseMs) *longestPulseMs = 0;
  auto scope = core_.Devices.Telescope;
  if (!scope || !Connected()) return false;
  if (!op.MayContinue()) return false;
  const SettingsRecord& s = core_.Settings;
  try {
    const double dec = scope->Declination();
    bool west = false;
    if (core_.Run.PierSideAvailable) {
      try {
        west = scope->SideOfPier() == PierSide::West;
      } catch (const DeviceError&) {
        core_.Run.PierSideAvailable = false;
      }
    }
    const PulseGuideSettings settings{core_.PulseGuideSpeed(), s.InvertRAguiding, s.InvertDECguiding, s.InvertPiersideguiding,
                                      s.OvercorrectionGuiding};
    for (const PulseCommand& pulse : PulseGuidePlan(x, y, dec, west, settings)) {
      scope->PulseGuide(pulse.Direction, pulse.Milliseconds);
      if (longestPulseMs) *longestPulseMs = std::max(*longestPulseMs, pulse.Milliseconds);
    }
    return true;
  } catch (const std::exception& e) {
    ReportFailure("Telescope error", e);
    return false;
  }
}

bool MountOperations::SyncToCoordinates(double raHours, double decDeg) {
  auto scope = core_.Devices.Telescope;
  if (!scope || !Connected()) return false;
  try {
    scope->SyncToCoordinates(WrapRaHours(raHours), std::clamp(decDeg, -90.0, 90.0));
    return true;
  } catch (const std::exception& e) {
    ReportFailure("Telescope error", e);
    return false;
  }
}

std::optional<PierSide> MountOperations::SideOfPier() {
  auto scope = core_.Devices.Telescope;
  if (!scope || !core_.Run.PierSideAvailable) return std::nullopt;
  try {
    const PierSide side = scope->SideOfPier();
    if (side == PierSide::Unknown) return std::nullopt;
    return side;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

bool MountOperations::SetGuideRates(double degreesPerSecond) {
  auto scope = core_.Devices.Telescope;
  if (!scope || !Connected()) return false;
  try {
    if (!scope->CanSetGuideRates()) return false;
    scope->SetGuideRateRightAscension(degreesPerSecond);
    scope->SetGuideRateDeclination(degreesPerSecond);
    return true;
  } catch (const std::exception& e) {
    ReportFailure("Telescope error", e);
    return false;
  }
}

std::optional<std::pair<double, double>> MountOperations::GuideRates() {
  auto scope = core_.Devices.Telescope;
  if (!scope || !Connected()) return std::nullopt;
  try {
    return std::make_pair(scope->GuideRateRightAscension(), scope->GuideRateDeclination());
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

void MountOperations::AbortSlew() {
  auto scope = core_.Devices.Telescope;
  if (!scope || !Connected()) return;
  scope->AbortSlew();
}

void MountOperations::SetTracking(bool on) {
  auto scope = core_.Devices.Telescope;
  if (!scope || !Connected()) return;
  if (scope->CanSetTracking()) scope->SetTracking(on);
}

bool MountOperations::GotoParkPosition1(OperationContext& op) {
  const SettingsRecord& s = core_.Settings;
  return GotoPark(op, ParkPosition{"Park position 1", s.Park1Az, s.Park1Alt, s.ParkMethod == 0,
                                   "Going into park position 1", "In park position"});
}

bool MountOperations::GotoParkPosition2(OperationContext& op) {
  const SettingsRecord& s = core_.Settings;
  return GotoPark(op, ParkPosition{"Park position 2", s.Park2Az, s.Park2Alt, false, "Going into park position 2",
                                   "In park position 2"});
}

bool MountOperations::GotoPark(OperationContext& op, const ParkPosition& park) {
  auto scope = core_.Devices.Telescope;
  if (!scope || !Connected()) return false;
  if (!op.MayContinue()) return Interrupted(op, park.Name);
  core_.SetStatus(park.Going);
  if (OnParkStarted) OnParkStarted();
  try {
    return ParkSteps(op, *scope, park);
  } catch (const std::exception& e) {
    ReportFailure("Telescope error", e);
    return false;
  }
}

bool MountOperations::ApproachParkPosition1(OperationContext& op, const char* refused) {
  auto scope = core_.Devices.Telescope;
  if (!scope) return false;
  const SettingsRecord& s = core_.Settings;
  try {
    StopTracking(*scope);
    scope->SlewToAltAz(NormalizeAzimuth(s.Park1Az), s.Park1Alt);
    // Bounded like a park: a mount that never stops slewing must not hold the station.
    for (int step = 0; scope->Slewing(); ++step) {
      if (step >= kParkTimeoutSteps) {
        core_.SetStatus(std::string(refused) + ": park position 1 not reached (Park position timeout error)");
        return false;
      }
      if (!op.Wait(100)) {
        core_.SetStatus(std::string(refused) + ": " + op.StopText());
        return false;
      }
    }
    StopTracking(*scope);
    return true;
  } catch (const std::exception& e) {
    core_.SetStatus(std::string(refused) + ": telescope error: " + e.what());
    return false;
  }
}

bool MountOperations::ParkSteps(OperationContext& op, ITelescope& scope, const ParkPosition& park) {
  // A wait that ended early: either the operation lost the mount (nothing more is sent) or
  // the mount slewed for too long (tracking is left as it is, the park failed).
  auto waitFailed = [&] {
    if (!op.MayContinue()) return Interrupted(op, park.Name);
    core_.SetStatus("Park position timeout error");
    return false;
  };
  if (park.DriverPark) {
    scope.Park();
    if (!WaitWhileSlewing(op, scope, kParkTimeoutSteps)) return waitFailed();
    // Some mounts stop short on the first park command.
    if (std::abs(AzimuthDifference(park.Azimuth, scope.Azimuth())) > kAlreadyParkedDeg ||
        std::abs(scope.Altitude() - park.Altitude) > kAlreadyParkedDeg) {
      scope.Park();
      if (!WaitWhileSlewing(op, scope, kParkTimeoutSteps)) return waitFailed();
    }
  } else if (AzimuthWithin(scope.Azimuth(), park.Azimuth, kAlreadyParkedDeg) &&
             WithinDeg(scope.Altitude(), park.Altitude, kAlreadyParkedDeg)) {
    StopTracking(scope);
    core_.SetStatus(park.Arrived);
    return true;
  } else {
    StopTracking(scope);
    // Low park positions are reached from 30 degrees up at the park azimuth, so the tube
    // never sweeps low through the open roof's frame.
    if (std::abs(AzimuthDifference(park.Azimuth, scope.Azimuth())) > kVerifyDeg && park.Altitude < kLowParkAltitude &&
        observatory_.GetRoofState() == RoofState::Open) {
      if (!op.MayContinue()) return Interrupted(op, park.Name);
      scope.SlewToAltAz(NormalizeAzimuth(park.Azimuth), kApproachAltitude);
      if (!WaitWhileSlewing(op, scope, kParkTimeoutSteps)) return waitFailed();
    }
    scope.SlewToAltAz(NormalizeAzimuth(park.Azimuth), park.Altitude);
    if (!WaitWhileSlewing(op, scope, kParkTimeoutSteps)) return waitFailed();
    if (!op.Wait(2000)) return Interrupted(op, park.Name);
  }
  const double azimuth = scope.Azimuth();
  const double altitude = scope.Altitude();
  const bool ok = WithinDeg(altitude, park.Altitude, kVerifyDeg) &&
                  // At the zenith the azimuth means nothing.
                  (park.Altitude > kZenithAltitude || AzimuthWithin(azimuth, park.Azimuth, kVerifyDeg));
  StopTracking(scope);
  if (ok) {
    core_.SetStatus(park.Arrived);
  } else {
    core_.SetStatus("Error at park position: Az=" + FormatGeneral(NormalizeAzimuth(azimuth)) +
                    " Alt=" + FormatGeneral(altitude));
  }
  return ok;
}

bool MountOperations::AtParkPosition1() {
  auto scope = core_.Devices.Telescope;
  if (!scope || !Connected()) return false;
  const SettingsRecord& s = core_.Settings;
  try {
    const double altitude = scope->Altitude();
    if (!WithinDeg(altitude, s.Park1Alt, kVerifyDeg)) return false;
    return s.Park1Alt > kZenithAltitude || AzimuthWithin(scope->Azimuth(), s.Park1Az, kVerifyDeg);
  } catch (const std::exception&) {
    return false;
  }
}

bool MountOperations::CanFindHome() {
  auto scope = core_.Devices.Telescope;
  if (!scope) throw DeviceError("Telescope disconnected");
  return scope->CanFindHome();
}

bool MountOperations::WorksInCoordinatesOfDate() {
  auto scope = core_.Devices.Telescope;
  if (!scope) throw DeviceError("Telescope disconnected");
  return scope->EquatorialSystem() == kEquatorialOfDate;
}

bool MountOperations::FindHome(OperationContext& op) {
  auto scope = core_.Devices.Telescope;
  if (!scope || !Connected()) return false;
  if (!op.MayContinue()) return Interrupted(op, "Home calibration");
  try {
    scope->FindHome();
    if (!WaitWhileSlewing(op, *scope, 0)) return Interrupted(op, "Home calibration");
    return true;
  } catch (const std::exception& e) {
    ReportFailure("Telescope error", e);
    return false;
  }
}

ParkCheck MountOperations::CheckParkPosition1() {
  auto scope = core_.Devices.Telescope;
  if (!scope) return ParkCheck::Failed;
  const SettingsRecord& s = core_.Settings;
  try {
    if (core_.Run.PierSideAvailable) {
      std::optional<PierSide> side;
      try {
        side = scope->SideOfPier();
      } catch (const DeviceError&) {
        core_.Run.PierSideAvailable = false;
      }
      if (side && *side != PierSideFromInt(s.Park1Pierside)) return ParkCheck::WrongPierSide;
    }
    const EquatorialPosition park = StationHorizontalToEquatorial(core_, s.Park1Az, s.Park1Alt);
    double raDiff = std::fmod(scope->RightAscension() - park.Ra / 15.0, 24.0);
    if (raDiff > 12) raDiff -= 24;
    if (raDiff < -12) raDiff += 24;
    if (std::abs(raDiff) > 0.1 || std::abs(scope->Declination() - park.Dec) > 1.5) return ParkCheck::TooFar;
    return ParkCheck::Ok;
  } catch (const std::exception& e) {
    ReportFailure("Telescope error", e);
    return ParkCheck::Failed;
  }
}

HomeOutcome MountOperations::HomeCalibration(OperationContext& op) {
  const RoofState roof = observatory_.GetRoofState();
  auto scope = core_.Devices.Telescope;
  if (!scope || !Connected() || roof != RoofState::Open) {
    core_.SetStatus(roof == RoofState::Open ? "Telescope not connected" : "Roof is not open!");
    op.Wait(3000);
    return roof == RoofState::Open ? HomeOutcome::NotConnected : HomeOutcome::RoofNotOpen;
  }
  try {
    core_.SetStatus("Fahre in Home-Position");
    StopTracking(*scope);
    scope->SlewToAltAz(NormalizeAzimuth(core_.Settings.HomeAz), core_.Settings.HomeAlt);
    if (!WaitWhileSlewing(op, *scope, 0)) return Interrupted(op, "Home calibration"), HomeOutcome::Interrupted;
    if (!scope->CanFindHome()) {
      core_.SetStatus("Home calibration not possible");
      op.Wait(3000);
      return HomeOutcome::NotPossible;
    }
    core_.SetStatus("Home calibration is performed");
    scope->FindHome();
    if (!WaitWhileSlewing(op, *scope, 0)) return Interrupted(op, "Home calibration"), HomeOutcome::Interrupted;
    core_.SetStatus("Home calibration finished");
    return HomeOutcome::Done;
  } catch (const std::exception& e) {
    ReportFailure("Telescope error", e);
    return HomeOutcome::Failed;
  }
}

}  // namespace noctarbel
