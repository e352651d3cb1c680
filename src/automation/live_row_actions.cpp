#include "automation/live_row_actions.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "common/angles.h"
#include "station/site_sky.h"
#include "station/plan_columns.h"
#include "automation/plan_run.h"
#include "operations/station_core.h"
#include "astro/horizon.h"
#include "astro/transforms.h"
#include "automation/exposure_sequence.h"
#include "automation/test_row_actions.h"
#include "common/number_text.h"

namespace noctarbel {

namespace {

constexpr int kStartPollMs = 2000;
constexpr int kSettleTicks = 5;
constexpr int kSettlePollMs = 300;

// "1:02:03": what is left of a wait.
std::string CountdownText(double days) {
  const long seconds = std::lround(std::max(days, 0.0) * kSecondsPerDay);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return text;
}

}  // namespace

LiveRowActions::LiveRowActions(PlanRun& run) : run_(run), station_(run.Core) {}

DateTime LiveRowActions::Now() { return station_.Clock.UtcNow(); }

bool LiveRowActions::RainEndsRow() {
  ObservatoryOperations& obs = station_.Observatory;
  if (obs.GetRainState() != RainState::Wet || obs.GetRoofState() == RoofState::Closed) return false;
  obs.RainEmergency();
  return true;
}

bool LiveRowActions::WaitForStart(const StartTime& start) {
  station_.LogTimed(": Pause until UT = " + StartTimeText(start));
  OperationContext op = station_.BeginRunOperation();
  const int row = station_.Planer1.CurrentRow();
  const std::string& object = station_.Planer1.Cell(kColObject, row);
  char at[16];
  std::snprintf(at, sizeof at, "%02d:%02d:%02d", start.Hour % 100, start.Minute % 100, start.Second % 100);
  const std::string waiting =
      "Waiting for row " + std::to_string(row) + (object.empty() ? "" : " (" + object + ")") + " at " + at + " UT: ";
  for (double left; (left = DaysUntil(start, station_.Clock.UtcNow())) > 0;) {
    station_.SetStatus(waiting + CountdownText(left) + " to go");
    if (!op.Wait(kStartPollMs)) return false;
  }
  return true;
}

void LiveRowActions::Park(int position, const char* message) {
  station_.SetStatus(message);
  if (station_.Mount.Connected()) {
    OperationContext op = station_.BeginRunOperation();
    if (position == 1) {
      station_.Mount.GotoParkPosition1(op);
    } else {
      station_.Mount.GotoParkPosition2(op);
    }
  }
  station_.LogTimed(message);
}

void LiveRowActions::HomeCalibration() {
  MountOperations& mount = station_.Mount;
  station_.SetStatus(CommandMessage(RowCommand::Home));
  const bool open = station_.Observatory.GetRoofState() == RoofState::Open;
  if (!mount.Connected() || !open) {
    station_.LogTimed(open ? ": Telescope not connected" : ": Observatory is not open!");
    station_.Run.AbortRequested = true;
    return;
  }
  OperationContext op = station_.BeginRunOperation();
  station_.SetStatus("Going to home position");
  const SettingsRecord& s = station_.Settings;
  const EquatorialPosition home = StationHorizontalToEquatorial(station_, s.HomeAz, s.HomeAlt);
  if (!mount.SlewAndWait(op, home.Ra / 15.0, home.Dec)) return;
  try {
    mount.SetTracking(false);
    if (mount.CanFindHome()) {
      station_.SetStatus("Home calibration is executed");
      station_.LogTimed(": Home calibration is executed");
      mount.FindHome(op);
    } else {
      station_.SetStatus("Home calibration not possible");
      station_.LogTimed(": Home calibration not possible!");
      station_.SetStatus("");
    }
  } catch (const std::exception& e) {
    station_.LogTimed(std::string(": Telescope error: ") + e.what());
  }
}

void LiveRowActions::OpenRoof() {
  station_.SetStatus(CommandMessage(RowCommand::OpenRoof));
  if (!station_.Mount.Connected()) {
    station_.Run.AbortRequested = true;
    return;
  }
  station_.LogTimed(": Going to park position");
  OperationContext op = station_.BeginRunOperation();
  if (station_.Observatory.OpenRoof(op).Ok) {
    station_.LogTimed(": Roof is opened");
  } else {
    station_.LogTimed(": Error opening!");
    station_.LogTimed(": " + station_.Status());
    station_.Run.AbortRequested = true;
  }
}

void LiveRowActions::CloseRoof() {
  station_.SetStatus(CommandMessage(RowCommand::CloseRoof));
  station_.LogTimed(": Going to park position");
  OperationContext op = station_.BeginRunOperation();
  if (station_.Mount.Connected() && !station_.Mount.GotoParkPosition1(op)) {
    station_.Run.AbortRequested = true;
    return;
  }
  if (station_.Observatory.CloseRoof(op).Ok) {
    station_.LogTimed(": Roof is closed");
  } else {
    station_.LogTimed(": Error closing roof!");
    station_.Run.AbortRequested = true;
  }
}

void LiveRowActions::ShutDown() {
  RunState& run = station_.Run;
  station_.SetStatus(CommandMessage(RowCommand::ShutDown));
  // The night's end goes through even after Stop: parking and closing are what keeps the
  // telescope safe. Only an emergency (which does the same) interrupts it.
  OperationContext op = station_.BeginOperation();
  if (station_.Mount.Connected()) {
    station_.LogTimed(": Going to park position");
    if (!station_.Mount.GotoParkPosition1(op)) {
      run.RoofErrorState = RoofAlarm::CloseFailed;
      station_.LogTimed(":  Error park position, cannot close roof!");
    }
  }
  if (run.RoofErrorState == RoofAlarm::None) {
    station_.SetStatus(" Roof is closed, Shutdown");
    std::string message = " Roof is closed!";
    if (!station_.Observatory.CloseRoof(op).Ok) {
      run.RoofErrorState = RoofAlarm::CloseFailed;
      message = " Error closing roof!";
    }
    station_.SetStatus(message);
    station_.LogTimed(": " + message);
  }
  if (run.RoofErrorState != RoofAlarm::None) {
    // An alarm (also one left from earlier) keeps the computer on and stops the run.
    run.AbortRequested = true;
    return;
  }
  // The camera's warm-up is no safety step: Stop ends it, and the computer stays on then.
  OperationContext warmUp = station_.BeginRunOperation();
  if (!station_.ShutDownCamera(warmUp)) {
    run.AbortRequested = true;
    return;
  }
  station_.LogTimed(": Shutdown");
  station_.SaveLogFile();
  if (run_.Options.ShutdownAllowed && !station_.Clock.IsVirtual() && !station_.Settings.ShutdownCommand.empty()) {
    if (std::system(station_.Settings.ShutdownCommand.c_str()) != 0) {
      station_.LogTimed(": Shutdown command failed: " + station_.Settings.ShutdownCommand);
    }
  }
  station_.SetStatus("Now comes shutdown");
}

void LiveRowActions::CoolerOn() {
  station_.LogTimed(CommandMessage(RowCommand::CoolerOn));
  CameraOperations& camera = station_.Camera;
  try {
    if (!camera.Connected() || camera.CoolerOn()) return;
  } catch (const std::exception& e) {
    station_.LogTimed(std::string(": Camera error: ") + e.what());
    return;
  }
  std::string error;
  if (!camera.SwitchCoolerOn(run_.Options.CoolerSetPoint, &error)) {
    station_.LogTimed(": Camera error: " + error);
    station_.SetStatus("Camera error: " + error);
    return;
  }
  if (run_.Events.CoolerSwitchedOn) run_.Events.CoolerSwitchedOn();
}

void LiveRowActions::RunCommand(RowCommand command, int) {
  switch (command) {
    case RowCommand::Park1:
      return Park(1, CommandMessage(command));
    case RowCommand::Park2:
      return Park(2, CommandMessage(command));
    case RowCommand::Home:
      return HomeCalibration();
    case RowCommand::TrackingOff:
    case RowCommand::TrackingOn:
      try {
        station_.Mount.SetTracking(command == RowCommand::TrackingOn);
      } catch (const std::exception& e) {
        station_.LogTimed(std::string(": Telescope error: ") + e.what());
      }
      return;
    case RowCommand::OpenRoof:
      return OpenRoof();
    case RowCommand::CloseRoof:
      return CloseRoof();
    case RowCommand::ShutDown:
      return ShutDown();
    case RowCommand::DarkFrames:
      station_.LogTimed(CommandMessage(command));
      station_.LogTimed(": Dark frames not implemented");
      return;
    case RowCommand::CoolerOn:
      return CoolerOn();
    case RowCommand::NoSlew:
    case RowCommand::Target:
      return;
  }
}

TargetOutcome LiveRowActions::GoToTarget(const std::string& name, const TargetPosition& target, const RowCells& cells,
                                         std::optional<TargetPosition>& lastTarget) {
  MountOperations& mount = station_.Mount;
  // Without a telescope the row exposes where the telescope stands.
  if (!mount.Connected()) return TargetOutcome::Reached;
  RunState& run = station_.Run;
  double ra = target.RaHours;
  double dec = target.DecDeg;
  try {
    if (mount.WorksInCoordinatesOfDate()) {
      const EquatorialPosition ofDate = J2000ToDate(ra, dec, JulianCenturiesSince2000(station_.Clock.LocalNow()), 0);
      ra = ofDate.Ra;
      dec = ofDate.Dec;
    }
  } catch (const std::exception& e) {
    station_.LogTimed(std::string(": Telescope error: ") + e.what());
    run.AbortRequested = true;
    return TargetOutcome::Stopped;
  }
  if (station_.Observatory.GetRoofState() != RoofState::Open) {
    station_.LogTimed(": Roof not open. Telescope cannot be moved" + name);
    run.AbortRequested = true;
    return TargetOutcome::Stopped;
  }
  const HorizontalPosition here = StationEquatorialToHorizontal(station_, ra * 15.0, dec);
  if (HorizonAltitude(station_.Horizon, here.Azimuth) > here.Altitude) {
    station_.LogTimed(": Object " + name + " not visible");
    return TargetOutcome::NotVisible;
  }
  station_.LogTimed(": Positioning to object " + name);
  station_.LogUntimed("Altitude=" + FormatFixed(here.Altitude, 3));

  const SettingsRecord& s = station_.Settings;
  if (cells[kColFilter] == std::to_string(s.SpectrumFilt) && std::abs(dec) < 89) {
    // A spectrograph's slit sits beside the optical axis: the mount aims that far off.
    const double offset = s.SpectrumRA / 900.0 / std::cos(dec * kDegToRad);
    const auto side = mount.ReadPierSide();
    ra += !side || *side == PierSide::East ? offset : -offset;
  }
  OperationContext op = station_.BeginRunOperation();
  if (!mount.SlewAndWait(op, ra, dec)) {
    if (op.MayContinue()) station_.LogTimed(": Slew to " + name + " failed: " + station_.Status());
    run.AbortRequested = true;
    return TargetOutcome::Stopped;
  }
  slewed_ = SyncTarget{std::fmod(ra + 24.0, 24.0), dec};
  centred_.reset();
  lastTarget = target;
  return TargetOutcome::Reached;
}

bool LiveRowActions::Settle() {
  RunState& run = station_.Run;
  run.WaitTicks = kSettleTicks;
  station_.WaitTimer.Start();
  OperationContext op = station_.BeginRunOperation();
  while (run.WaitTicks > 0) {
    if (!op.Wait(kSettlePollMs)) {
      station_.WaitTimer.Stop();
      run.WaitTicks = 0;
      return false;
    }
  }
  return true;
}

void LiveRowActions::RunExposures(int row, const std::string& name, const std::optional<TargetPosition>& position, bool,
                                  const RowExposure& exposure, const RowCells& cells) {
  if (exposure.Kind == ExposureKind::Sync && run_.Events.SyncExposure) {
    run_.Events.SyncExposure(exposure.Seconds, exposure.Filters.front(), exposure.Binning);
  }
  OperationContext op = station_.BeginRunOperation();
  ExposureSequence sequence(run_, op);
  ExposureSequenceRow what;
  what.Row = row;
  what.Name = name;
  what.Position = position;
  what.Exposure = &exposure;
  what.Cells = &cells;
  what.Slewed = slewed_;
  what.Centring = centred_;
  sequence.Run(what);
  if (exposure.Kind == ExposureKind::Sync && slewed_) {
    centred_ = SyncExposure{exposure.Seconds, exposure.Binning, exposure.Filters.front()};
  }
}

}  // namespace noctarbel
