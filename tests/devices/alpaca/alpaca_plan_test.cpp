// The whole station on Alpaca devices on the virtual clock: the simulators served by our
// Alpaca server in this process, on the station's own time (station_time.h), so a night runs
// in moments while every request crosses real HTTP on loopback. The same manual operation and
// the same plan run once on the built-in simulators and once on the served ones must come to
// the same: the same log, line by line and to the second, and the same images, pixel by
// pixel. The plan's FITS files are read back by cfitsio and fitsverify.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "station/event_log.h"
#include "windows/main_window.h"
#include "station/plan_columns.h"
#include "windows/station.h"
#include "automation/plan_run.h"
#include "windows/plan_window.h"
#include "windows/install_windows.h"
#include "operations/centring_operations.h"
#include "windows/device_windows.h"
#include "operations/manual_exposure.h"
#include "devices/sim/sim_devices.h"
#include "tests/devices/alpaca/alpaca_fixture.h"
#include "tests/devices/alpaca/station_time.h"
#include "tests/fits_check.h"

namespace noctarbel::testing {
namespace {

const DateTime kEvening = EncodeDateTime(2026, 12, 6, 19, 50, 0);

// M 45 from 20:05 UT, high in the east: focus, centre and sync, two images through each of
// two filters.
const std::vector<std::vector<std::string>> kPlan = {
    {"", "", "", "Open roof", "ZA", "", "", "", "", "", "", "", "", "", "", ""},
    {"20", "5", "0", "M 45 focus", "03", "47", "24", "24", "7", "0", "AF", "", "", "", "", ""},
    {"", "", "", "M 45 sync", "03", "47", "24", "24", "7", "0", "SY 1", "", "", "", "", ""},
    {"", "", "", "M 45", "03", "47", "24", "24", "7", "0", "2", "2", "12", "2", "m45", "0"},
    {"", "", "", "Close roof", "Z0", "", "", "", "", "", "", "", "", "", "", ""},
};

// The simulators' frames come without bias, as dark-subtracted frames do (the star
// measurements of focusing and centring count above the sky).
void BiasFree(SimWorld& world) { world.Camera.Config.BiasAdu = 0; }

enum class Devices { BuiltIn, OverAlpaca };

// A station with its windows' logic on the virtual clock, its devices either the built-in
// simulators or the same simulators served over Alpaca on the station's time.
class Observatory {
 public:
  explicit Observatory(Devices devices) : clock_(kEvening, 1.0) {
    station = std::make_unique<Station>(clock_, ui, StationPaths{home.Path(), NOCTARBEL_SOURCE_DATA_DIR});
    InstallHandlers(*station);
    CreateForms(*station);
    PilotFormShow(*station);
    SettingsRecord& s = station->Settings;
    if (devices == Devices::OverAlpaca) {
      ServerOptions options = FreePorts();
      options.Discovery = false;
      options.Site = station->Site();
      options.Time = clock_.Time();
      server_ = std::make_unique<AlpacaServer>(options);
      server_->WithWorld(BiasFree);
      server_->Start();
      BackendOptions backend;
      backend.Discover = false;
      backend.Calls = Timeouts{1000, 5000};
      station->Devices.Registry.Add(MakeAlpacaBackend(backend));
      const std::string base = "alpaca://127.0.0.1:" + std::to_string(server_->Port()) + "/";
      s.TelescopeObject = base + "telescope/0";
      s.CameraObject = base + "camera/0";
      s.FocuserObject = base + "focuser/0";
      s.FilterwheelObject = base + "filterwheel/0";
    } else {
      s.TelescopeObject = kSimTelescopeId;
      s.CameraObject = kSimCameraId;
      s.FocuserObject = kSimFocuserId;
      s.FilterwheelObject = kSimFilterWheelId;
      BiasFree(*SimulatedWorld(station->Devices.Registry));
    }
    // The simulated camera's V: best focus at 5000 plus the filter's offset.
    s.AFLslope = -0.03455f;
    s.AFLic = 172.23132f;
    s.AFRslope = 0.03455f;
    s.AFRic = -173.2555f;
    s.EnableObservatoryControl = true;
    ui.defaultAnswer = true;
  }
  ~Observatory() {
    station.reset();
    if (server_) server_->Stop();
  }

  // The simulated roof, then "Connect all" and the cooler, as a simulated night starts.
  void Connect() {
    station->Activate("SimulationButton");
    ASSERT_TRUE(station->Activate("ConnectAllBtn"));
    ASSERT_TRUE(station->Mount.Connected()) << station->Status();
    ASSERT_TRUE(station->Camera.Connected()) << station->Status();
    ASSERT_TRUE(station->Focuser.Linked()) << station->Status();
    ASSERT_TRUE(station->Devices.FilterWheel) << station->Status();
    station->Main.SetChecked("CoolerCheckBox", true);
    station->Activate("CoolerCheckBox");
  }

  // The plan's run, as "Start" does it; the log lines it wrote.
  std::vector<std::string> RunPlan(const std::vector<std::vector<std::string>>& rows) {
    StringGrid& grid = station->Planer1;
    grid.SetRowCount(static_cast<int>(rows.size()) + 1);
    for (size_t r = 0; r < rows.size(); ++r) {
      const int row = static_cast<int>(r) + 1;
      grid.SetCell(kColIndex, row, std::to_string(row));
      for (size_t c = 0; c < rows[r].size(); ++c) grid.SetCell(static_cast<int>(c) + 1, row, rows[r][c]);
    }
    station->Main.SetText("ImgPathEdit", Images().string());
    station->Main.SetChecked("DachzuCheckBox", true);
    const size_t first = station->Log.Size();
    PlanRun run(*station, RunOptionsFromWindow(*station));
    run.Events.FileSaved = [this](const std::string& file, bool) { saved.push_back(file); };
    if (!StartChecks(*station, run)) {
      ADD_FAILURE() << "the run did not start: " << ui.LastMessage();
      return {};
    }
    completed = noctarbel::RunPlan(*station, run);
    const auto& lines = station->Log.Lines();
    return std::vector<std::string>(lines.begin() + static_cast<long>(first), lines.end());
  }

  // What the operator does by hand: the roof opened, a goto and a relative move, a focuser move, an exposure through a
  // filter, the centring move on its star, a park.
  struct Manual {
    std::vector<std::uint16_t> Pixels;
    StarSearchResult Star;
    StarOffset Offset;
    double Ra = 0;
    double Dec = 0;
    int Focus = 0;
    bool Parked = false;
  };
  Manual OperateByHand() {
    Manual m;
    station->Activate("DachAufButton");
    OperationContext op = station->BeginOperation();
    auto whileSlewing = [&] {
      while (station->Devices.Telescope->Slewing()) {
        if (!op.Wait(200)) break;
      }
    };
    EXPECT_EQ(station->Mount.GotoJ2000(3.79, 24.12), GotoOutcome::Sent) << station->Status();
    whileSlewing();
    // The star the goto's target has is brought off the centre by a relative move.
    EXPECT_TRUE(station->Mount.MoveXY(op, 0.02, -0.01));
    EXPECT_TRUE(station->Focuser.MoveTo(op, 5300));
    ManualExposure request;
    request.Exposure = 2;
    request.Binning = 2;
    request.Filter = 2;
    Timgbuffer image;
    const ManualExposureResult taken = TakeManualExposure(*station, op, request, image);
    EXPECT_TRUE(taken.Exposure.HasImage()) << taken.Exposure.Error;
    if (!taken.Exposure.HasImage()) return m;
    const auto* pixels = image.PixelsAs<std::uint16_t>();
    m.Pixels.assign(pixels, pixels + static_cast<size_t>(image.Width()) * image.Height());
    m.Star = taken.Star;
    m.Offset = taken.Offset;
    const CentringResult centred = station->Centring.CenterOnBrightestStar(op, image, true);
    EXPECT_TRUE(centred.Moved);
    const auto status = station->Mount.ReadStatus();
    if (status) {
      m.Ra = status->RightAscension;
      m.Dec = status->Declination;
    }
    m.Focus = station->Focuser.Read().Position;
    m.Parked = station->Mount.GotoParkPosition1(op) && station->Mount.AtParkPosition1();
    return m;
  }

  std::filesystem::path Images() const { return home.Path() / "images"; }

  TempDir home;
  ScriptedUi ui;
  std::unique_ptr<Station> station;
  std::vector<std::string> saved;
  bool completed = false;

 private:
  PublishingRuntime clock_;
  std::unique_ptr<AlpacaServer> server_;
};

// The log's lines with the folder of each run's images taken out.
std::vector<std::string> WithoutFolder(std::vector<std::string> lines, const std::filesystem::path& folder) {
  const std::string prefix = folder.string() + "/";
  for (std::string& line : lines) {
    for (size_t at = line.find(prefix); at != std::string::npos; at = line.find(prefix)) line.erase(at, prefix.size());
  }
  return lines;
}

TEST(AlpacaPlanTest, ManualOperationOverAlpacaAsOnTheBuiltInSimulators) {
  Observatory builtIn(Devices::BuiltIn);
  ASSERT_NO_FATAL_FAILURE(builtIn.Connect());
  const Observatory::Manual expected = builtIn.OperateByHand();
  Observatory alpaca(Devices::OverAlpaca);
  ASSERT_NO_FATAL_FAILURE(alpaca.Connect());
  const Observatory::Manual manual = alpaca.OperateByHand();

  ASSERT_EQ(manual.Pixels.size(), 640u * 512u);
  EXPECT_TRUE(manual.Pixels == expected.Pixels);
  ASSERT_TRUE(manual.Star.Found);
  EXPECT_EQ(manual.Star.X, expected.Star.X);
  EXPECT_EQ(manual.Star.Y, expected.Star.Y);
  EXPECT_EQ(manual.Star.Peak, expected.Star.Peak);
  EXPECT_DOUBLE_EQ(manual.Offset.X, expected.Offset.X);
  EXPECT_DOUBLE_EQ(manual.Offset.Y, expected.Offset.Y);
  // The centring move, to the same place; the numbers cross HTTP as text.
  EXPECT_NEAR(manual.Ra, expected.Ra, 1e-9);
  EXPECT_NEAR(manual.Dec, expected.Dec, 1e-9);
  EXPECT_EQ(manual.Focus, 5300);
  EXPECT_EQ(expected.Focus, 5300);
  EXPECT_TRUE(manual.Parked);
  EXPECT_TRUE(expected.Parked);
}

TEST(AlpacaPlanTest, APlanRunsOverAlpacaAsOnTheBuiltInSimulators) {
  Observatory builtIn(Devices::BuiltIn);
  ASSERT_NO_FATAL_FAILURE(builtIn.Connect());
  const std::vector<std::string> expected = WithoutFolder(builtIn.RunPlan(kPlan), builtIn.Images());
  ASSERT_TRUE(builtIn.completed) << builtIn.station->Status();

  Observatory alpaca(Devices::OverAlpaca);
  ASSERT_NO_FATAL_FAILURE(alpaca.Connect());
  const std::vector<std::string> log = WithoutFolder(alpaca.RunPlan(kPlan), alpaca.Images());
  EXPECT_TRUE(alpaca.completed) << alpaca.station->Status();
  EXPECT_EQ(log, expected);

  // The night itself: the wait for 20:05, the slew, the autofocus, the centre and sync, two
  // images through each of two filters, the roof closed behind the parked mount, the log
  // saved beside the images.
  auto logged = [&](const std::string& text) {
    return std::any_of(log.begin(), log.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
  };
  EXPECT_TRUE(logged(": Pause until UT = 20:5:0"));
  EXPECT_TRUE(logged(": Positioning to object M 45 focus"));
  EXPECT_TRUE(logged(": Autofocus: focus=50"));
  EXPECT_TRUE(logged(": center&sync OK"));
  EXPECT_TRUE(logged(": Roof is closed"));
  const std::vector<std::string> files = {"m45-L-001.fit", "m45-R-001.fit", "m45-L-002.fit", "m45-R-002.fit"};
  ASSERT_EQ(alpaca.saved.size(), files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(files[i]);
    EXPECT_EQ(alpaca.saved[i], (alpaca.Images() / files[i]).string());
    const std::string path = alpaca.saved[i];
    EXPECT_EQ(FitsVerifyProblems(path), "");
    const CfitsioImage ours = ReadWithCfitsio(path);
    const CfitsioImage theirs = ReadWithCfitsio((builtIn.Images() / files[i]).string());
    ASSERT_TRUE(ours.Read);
    EXPECT_EQ(ours.Width, 640);
    EXPECT_EQ(ours.Height, 512);
    EXPECT_TRUE(ours.Pixels == theirs.Pixels);
  }
  EXPECT_NE(ReadFile(alpaca.Images() / kLogFileName).find("m45-R-002.fit"), std::string::npos);
  EXPECT_EQ(alpaca.station->Observatory.GetRoofState(), RoofState::Closed);
}

}  // namespace
}  // namespace noctarbel::testing
