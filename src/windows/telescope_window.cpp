#include "windows/telescope_window.h"

#include "windows/astro_window.h"
#include "windows/station.h"
#include "common/number_text.h"
#include "windows/window_support.h"

namespace noctarbel {

namespace {

void ShowDisconnected(Station& station) {
  station.Main.SetColour("led1", kColourRed);
  station.Main.SetCaption("BtnConnect", "Connect");
}

std::string PierSideText(PierSide side) {
  if (side == PierSide::East) return "0-East";
  if (side == PierSide::West) return "1-West";
  return "?";
}

using ParkProcedure = bool (MountOperations::*)(OperationContext&);

void RunParkButton(Station& station, ParkProcedure park, const char* failure) {
  OperationContext op = station.BeginOperation();
  if (!(station.Mount.*park)(op)) station.UiPort.ShowMessage(failure);
}

}  // namespace

bool ConnectTelescope(Station& station) {
  if (station.Settings.TelescopeObject.empty()) return false;
  if (station.Mount.HasDriver()) return station.Mount.Connected();
  std::string error;
  if (!station.StationCore::ConnectTelescope(&error)) {
    ShowDisconnected(station);
    ReportDeviceProblem(station, "Telescope could not be connected: " + error);
    return false;
  }
  station.Main.SetColour("led1", kColourGreen);
  try {
    station.Main.SetText("Memo1", station.Mount.DriverText());
  } catch (const std::exception& e) {
    station.Main.SetText("Memo1", e.what());
  }
  station.Main.SetCaption("BtnConnect", "Disconnect");
  return true;
}

void DisconnectTelescope(Station& station) {
  station.StationCore::DisconnectTelescope();
  ShowDisconnected(station);
}

void BtnConnectClick(Station& station) {
  if (station.Settings.TelescopeObject.empty()) return;
  if (station.Mount.HasDriver()) {
    DisconnectTelescope(station);
  } else {
    ConnectTelescope(station);
  }
}

void Timer1Timer(Station& station) { station.MountWatchTick(); }

void ShowMountTick(Station& station, const MountTick& tick) {
  ShowUtcAndSiderealTime(station);
  Controls& main = station.Main;
  if (!tick.Error.empty()) {
    ShowDisconnected(station);
    ReportDeviceProblem(station, "telescope error");
    return;
  }
  if (!tick.Status) {
    main.SetText("RAEdit1", "Not connected");
    main.SetText("DECEdit1", "");
    for (const char* field : {"PiersideEdit", "AltEdit", "AirmassEdit"}) main.SetText(field, "?");
    return;
  }
  const MountStatus& status = *tick.Status;
  main.SetText("RAEdit1", FormatFixed(status.RightAscension, 5));
  main.SetText("DECEdit1", FormatFixed(status.Declination, 5));
  main.SetText("AltEdit", FormatFixed(status.Altitude, 1));
  main.SetText("AirmassEdit", status.Altitude >= 1.0 ? FormatFixed(Airmass(status.Altitude), 2) : "-");
  if (status.Side) {
    main.SetText("PiersideEdit", PierSideText(*status.Side));
  } else if (!station.Run.PierSideAvailable) {
    main.SetText("PiersideEdit", "");
  }
  main.SetChecked("TrackCheckBox", status.Tracking);
}

void BtnGotoClick(Station& station) {
  const Controls& main = station.Main;
  const double ra = main.IntValue("RAHourEdit") + main.IntValue("RAminEdit") / 60.0 + main.Value("RAsecEdit") / 3600.0;
  // The N/S box carries the sign of a declination between -1 and 0 degrees.
  const double dec = MainWindowDeclination(station);
  if (station.Mount.GotoJ2000(ra, dec) == GotoOutcome::BelowHorizon) {
    station.UiPort.ShowMessage("Object under horizon");
  }
}

void AbortSlewBtnClick(Station& station) {
  try {
    station.Mount.AbortSlew();
  } catch (const std::exception& e) {
    ReportDeviceProblem(station, std::string("Telescope error: ") + e.what());
  }
}

void TrackCheckBoxClick(Station& station) {
  try {
    station.Mount.SetTracking(station.Main.Checked("TrackCheckBox"));
  } catch (const std::exception& e) {
    ReportDeviceProblem(station, std::string("Telescope error: ") + e.what());
  }
}

void ParkButtonClick(Station& station) {
  RunParkButton(station, &MountOperations::GotoParkPosition1, "Error at parking P1");
}

void ParkButton2Click(Station& station) {
  RunParkButton(station, &MountOperations::GotoParkPosition2, "Error at parking P2");
}

void HomeButtonClick(Station& station) {
  OperationContext op = station.BeginOperation();
  station.Mount.HomeCalibration(op);
}

}  // namespace noctarbel
