// The whole station on the INDI simulators, on the real clock: a plan run with a centre and
// sync, images through two filters whose focus offsets move the focuser, a focus shift and
// the log, its FITS files read back by cfitsio and fitsverify; the manual exposure; the V
// calibration and the autofocus run on the CCD simulator's focus model.
//
// What the simulators give: the CCD simulator draws the stand-in catalogue's stars where the
// Telescope Simulator points, at 1.19"/pixel (5.2 um pixels, the mount's 900 mm focal length),
// turned by 90 degrees (CameraRotation 90 on the east side of the pier), and blurs them with
// the Focuser Simulator's distance from 36700 (HFD about 2 px there, 17 to 22 px 30 000 steps
// away, as bright as the star is). What they cannot do: the CCD simulator's images do not
// follow the Filter Simulator (no filter throughput, no focus offset of a filter of its own),
// and the Focuser Simulator's temperature is always 0 C.

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "station/event_log.h"
#include "windows/main_window.h"
#include "station/plan_columns.h"
#include "windows/station.h"
#include "astro/time.h"
#include "astro/transforms.h"
#include "automation/plan_row.h"
#include "automation/plan_run.h"
#include "windows/install_windows.h"
#include "windows/device_windows.h"
#include "operations/autofocus_operations.h"
#include "operations/manual_exposure.h"
#include "tests/devices/indi/indi_fixture.h"
#include "windows/plan_window.h"
#include "tests/fits_check.h"

namespace noctarbel::testing {
namespace {

// The CCD simulator's scale and orientation (found with the guiding test and centring).
constexpr double kArcsecPerPixel = 1.19;
constexpr int kCameraRotation = 90;
constexpr int kBestFocus = 36700;

// A J2000 position as the plan's cells: hours, minutes, seconds; degrees, minutes, seconds.
std::vector<std::string> PositionCells(double raHours, double decDeg) {
  const int totalRa = static_cast<int>(std::lround(raHours * 36000.0));
  const int totalDec = static_cast<int>(std::lround(std::abs(decDeg) * 3600.0));
  return {std::to_string(totalRa / 36000),
          std::to_string(totalRa / 600 % 60),
          std::to_string(totalRa % 600 / 10) + "." + std::to_string(totalRa % 10),
          (decDeg < 0 ? "-" : "") + std::to_string(totalDec / 3600),
          std::to_string(totalDec / 60 % 60),
          std::to_string(totalDec % 60)};
}

class IndiStationRunTest : public IndiStationTest {
 protected:
  void SetUp() override {
    SetDeviceNumbers(Server(), kCcd, "POLLING_PERIOD", {{"PERIOD_MS", 100}});
    station = std::make_unique<Station>(*clock, ui, StationPaths{dir.Path(), NOCTARBEL_SOURCE_DATA_DIR});
    InstallHandlers(*station);
    CreateForms(*station);
    PilotFormShow(*station);
    SettingsRecord& s = station->Settings;
    s.TelescopeObject = Id(kTelescope);
    s.CameraObject = Id(kCcd);
    s.FocuserObject = Id(kFocuser);
    s.FilterwheelObject = Id(kWheel);
    s.ArcsecX = s.ArcsecY = kArcsecPerPixel;
    s.CameraRotation = kCameraRotation;
    s.SyncBinning = 2;
    s.SyncRange = 10;
    // The station's own filter table: the Filter Simulator's first two slots, the second
    // focusing 300 steps further out.
    s.FilternamesFromFile = true;
    StringGrid& filters = station->Filters.Filtertable;
    filters.SetCell(1, 1, "Red");
    filters.SetCell(2, 1, "0");
    filters.SetCell(1, 2, "Green");
    filters.SetCell(2, 2, "300");
    ui.defaultAnswer = true;
  }
  void TearDown() override {
    if (station) DisconnectDevices(*station);
  }

  // Telescope, camera with its filter wheel, focuser: as "Connect all" does.
  void ConnectAll() {
    ASSERT_TRUE(station->Activate("ConnectAllBtn"));
    ASSERT_TRUE(station->Mount.Connected()) << station->Status();
    ASSERT_TRUE(station->Camera.Connected()) << station->Status();
    ASSERT_TRUE(station->Focuser.Linked()) << station->Status();
    ASSERT_TRUE(station->Devices.FilterWheel) << station->Status();
  }

  void AddRow(const std::vector<std::string>& cells) {
    StringGrid& grid = station->Planer1;
    const int row = rows_++;
    if (grid.RowCount() <= row) grid.SetRowCount(row + 1);
    grid.SetCell(kColIndex, row, std::to_string(row));
    for (size_t i = 0; i < cells.size(); ++i) grid.SetCell(static_cast<int>(i) + 1, row, cells[i]);
  }

  // A J2000 position some 2 arc minutes from the stand-in catalogue's 5th-magnitude star
  // nearest to half an hour west of the meridian at +40 degrees: high in the sky now, on the
  // side of the pier the camera's rotation was measured on, and with one star in the field
  // clearly the brightest (among the ordinary stars several saturate alike, and the centring
  // could take another one each time).
  TargetPosition TargetNearMeridian() {
    const DateTime now = clock->UtcNow();
    const double lst = SiteSiderealTime(now, station->Site().LongitudeWestDeg);
    const EquatorialPosition j2000 =
        DateToJ2000(std::fmod(lst - 0.5 + 24.0, 24.0), 40.0, JulianCenturiesSince2000(clock->LocalNow()));
    const double starRa = std::round(j2000.Ra * 4.0) / 4.0;
    const double raOffset = 2.0 / 60.0 / 15.0 / std::cos(40.0 * std::numbers::pi / 180.0);
    return TargetPosition{std::fmod(starRa + raOffset, 24.0), 40.0 + 1.5 / 60.0};
  }

  ScriptedUi ui;
  std::unique_ptr<Station> station;

 private:
  int rows_ = 1;
};

TEST_F(IndiStationRunTest, APlanRunsEndToEnd) {
  ASSERT_NO_FATAL_FAILURE(ConnectAll());
  const int base = station->Focuser.Read().Position;
  const std::filesystem::path images = dir / "images";
  station->Main.SetText("ImgPathEdit", images.string());

  const TargetPosition target = TargetNearMeridian();
  std::vector<std::string> sync = {"", "", "", "High field"};
  for (auto& cell : PositionCells(target.RaHours, target.DecDeg)) sync.push_back(cell);
  sync.insert(sync.end(), {"SY 1", "2", "", "", "", ""});
  AddRow(sync);
  AddRow({"", "", "", "Field A", "", "", "", "", "", "", "1", "2", "12", "1", "fielda", "0"});
  AddRow({"", "", "", "Focus shift", "", "", "", "", "", "", "FS", "", "", "40", "", ""});
  AddRow({"", "", "", "Field B", "", "", "", "", "", "", "1", "2", "21", "1", "fieldb", "0"});

  std::vector<std::string> saved;
  PlanRun run(*station, RunOptionsFromWindow(*station));
  run.Events.FileSaved = [&](const std::string& file, bool) { saved.push_back(file); };
  ASSERT_TRUE(StartChecks(*station, run)) << ui.LastMessage();
  EXPECT_TRUE(RunPlan(*station, run)) << station->Status();

  // The sync row centred the star and synced the mount to the target (of the date).
  const auto& lines = station->Log.Lines();
  auto logged = [&](const std::string& text) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
  };
  EXPECT_TRUE(logged(": Positioning to object High field"));
  EXPECT_TRUE(logged(": center&sync OK"));
  EXPECT_TRUE(logged("Focus shift = 40"));
  EXPECT_TRUE(logged(": focus position: " + std::to_string(base + 300)));
  EXPECT_TRUE(logged(": focus position: " + std::to_string(base + 340)));
  EXPECT_TRUE(logged(": focus position: " + std::to_string(base + 40)));
  const auto pointing = station->Mount.ReadStatus();
  ASSERT_TRUE(pointing);
  const EquatorialPosition ofDate =
      J2000ToDate(target.RaHours, target.DecDeg, JulianCenturiesSince2000(clock->LocalNow()), 0);
  EXPECT_NEAR(pointing->RightAscension, ofDate.Ra, 0.002);
  EXPECT_NEAR(pointing->Declination, ofDate.Dec, 0.01);

  // Each image through its filter at its focus position, read back by the reference peers.
  struct Expected {
    const char* file;
    const char* filter;
    int focus;
  };
  const Expected expected[] = {{"fielda-Red-001.fit", "Red", base},
                               {"fielda-Green-001.fit", "Green", base + 300},
                               {"fieldb-Green-001.fit", "Green", base + 340},
                               {"fieldb-Red-001.fit", "Red", base + 40}};
  ASSERT_EQ(saved.size(), 4u);
  for (size_t i = 0; i < saved.size(); ++i) {
    const Expected& e = expected[i];
    const std::string path = (images / e.file).string();
    EXPECT_EQ(saved[i], path);
    SCOPED_TRACE(path);
    ASSERT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(FitsVerifyProblems(path), "");
    const CfitsioImage image = ReadWithCfitsio(path);
    ASSERT_TRUE(image.Read);
    EXPECT_EQ(image.Width, 640);
    EXPECT_EQ(image.Height, 512);
    // The stand-in catalogue's stars stand far above the simulator's sky.
    EXPECT_GT(*std::max_element(image.Pixels.begin(), image.Pixels.end()), 500);
    EXPECT_EQ(CfitsioValue(path, "FILTER"), e.filter);
    EXPECT_EQ(CfitsioValue(path, "FOCUSPOS"), std::to_string(e.focus));
    EXPECT_EQ(CfitsioValue(path, "EXPTIME").substr(0, 3), "1.0");
  }
  EXPECT_EQ(CfitsioValue((images / "fielda-Red-001.fit").string(), "OBJECT"), "Field A");

  // The log is written beside the images, and the focuser went back to the base position.
  const std::string log = ReadFile(images / kLogFileName);
  EXPECT_NE(log.find("center&sync OK"), std::string::npos);
  EXPECT_NE(log.find("fieldb-Red-001.fit"), std::string::npos);
  EXPECT_TRUE(WaitUntil([&] { return station->Focuser.Read().Position == base; }, 5000));
}

// Manual operation: an exposure through the chosen filter with its star; the V of the CCD
// simulator, calibrated and then used by the autofocus run, both finding best focus where
// the simulator has it. Its V is flat at the tip (HFD 2.1 at 36700, 2.4 6000 steps off) and
// rounded on its flanks: the calibration's lines meet within 1500 steps of the simulator's
// focus, the run lands within 1000.
TEST_F(IndiStationRunTest, ManualExposureVCalibrationAndAutofocus) {
  ASSERT_NO_FATAL_FAILURE(ConnectAll());
  OperationContext op = station->BeginOperation();
  // The stand-in catalogue's 6th-magnitude star near the pole, high in the sky at any hour:
  // both the calibration and the run find it as the brightest (in an ordinary field several
  // stars are nearly as bright, and a run that focuses on another star than the calibration's
  // reads another V).
  ASSERT_EQ(station->Mount.GotoJ2000(0.0, 85.0), GotoOutcome::Sent) << station->Status();
  WaitWhileSlewing(*station->Devices.Telescope);
  ManualExposure exposure;
  exposure.Exposure = 0.5;
  exposure.Binning = 2;
  exposure.Filter = 2;
  Timgbuffer image;
  const ManualExposureResult taken = TakeManualExposure(*station, op, exposure, image);
  ASSERT_TRUE(taken.Exposure.HasImage()) << taken.Exposure.Error;
  EXPECT_EQ(image.Width(), 640);
  EXPECT_EQ(image.Height(), 512);
  EXPECT_EQ(station->Devices.FilterWheel->Position(), 1);
  EXPECT_EQ(image.Filter, "Green");
  EXPECT_DOUBLE_EQ(image.PixelScale, 2 * kArcsecPerPixel);
  ASSERT_TRUE(taken.Star.Found);
  EXPECT_GT(std::hypot(taken.Offset.X, taken.Offset.Y), 0);
  EXPECT_LT(std::hypot(taken.Offset.X, taken.Offset.Y), std::hypot(320.0, 256.0) * 2 * kArcsecPerPixel);

  // The simulator's focuser moves ten times faster than by default (the station waits for
  // whatever speed it has).
  SetDeviceNumbers(Server(), kFocuser, "DELAY", {{"DELAY_VALUE", 10}});
  SettingsRecord& s = station->Settings;
  s.AFexptime = 0.5f;
  // The simulator's V is rounded well up its flanks: the lines fitted to them meet some 7 px
  // below its tip. The run moves by the left line from its first measurement, so its target
  // HFD lies far out, where its second measurement then falls on the straight part.
  s.AFHFDlow = 20.0f;

  VCurveRequest request;
  request.MeanPosition = kBestFocus;
  request.Range = 30000;
  request.Count = 5;
  request.BothFlanks = true;
  const VCurveScan scan = station->Autofocus.CalibrateVCurve(op, request);
  ASSERT_TRUE(scan.Ok()) << scan.Error;
  ASSERT_TRUE(scan.Fitted);
  auto points = [&] {
    std::string text = "HFD(0) " + std::to_string(scan.TipHfd);
    for (const auto* flank : {&scan.Left, &scan.Right}) {
      for (const VCurvePoint& p : *flank) {
        text += "; " + std::to_string(p.Position) + ": " + std::to_string(p.Hfd) + (p.Saturated ? " saturated" : "");
      }
    }
    return text;
  };
  ASSERT_TRUE(scan.Fit.Usable()) << scan.Fit.Problem() << "\n" << points();
  EXPECT_NEAR(VTipPosition(scan.Fit.Lines()), kBestFocus, 1500);
  EXPECT_LT(scan.Fit.Left.Slope, 0);
  EXPECT_GT(scan.Fit.Right.Slope, 0);
  std::string error;
  ASSERT_TRUE(station->Autofocus.StoreLines(scan.Fit, &error)) << error;

  // From last night's focus, 1500 steps off, with the lines just stored.
  s.AFposition = kBestFocus - 1500;
  station->Run.BaseFocusPosition = -1;
  const AutofocusResult focus = station->Autofocus.RunAutofocus(op, 0);
  auto steps = [&] {
    return "HFD " + std::to_string(focus.HfdFirst) + " at " + std::to_string(focus.P0) + ", " +
           std::to_string(focus.HfdSecond) + " at " + std::to_string(focus.P1) + "; left slope " +
           std::to_string(scan.Fit.Left.Slope) + " residual " + std::to_string(scan.Fit.Left.Residual) + "\n" +
           points();
  };
  ASSERT_TRUE(focus.Ok) << focus.Error << "\n" << steps();
  // The run's precision is that of the straight line through a curved flank: a second
  // measurement one residual off the line moves the jump by residual / slope steps (some 450
  // here). Within three of them, and never less than 1000 steps.
  const double landing = std::max(1000.0, 3 * scan.Fit.Left.Residual / std::abs(scan.Fit.Left.Slope));
  EXPECT_NEAR(focus.BaseFocusPosition, kBestFocus, landing) << steps();
  EXPECT_EQ(station->Focuser.Read().Position, focus.Position);
  EXPECT_GT(focus.HfdSecond, focus.HfdFirst);  // the second measurement is on the flank
}

}  // namespace
}  // namespace noctarbel::testing
