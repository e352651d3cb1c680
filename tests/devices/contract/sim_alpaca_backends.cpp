// The contract's backends without outside programs: the built-in simulators, and the same
// simulators served over Alpaca by our server in this process on the station's own time
// (station_time.h), so every request crosses real HTTP on loopback while the night runs on
// the virtual clock. And the interop test: the same manual operation and the same night on
// both must come to the same log, line by line and to the second, and the same images,
// pixel by pixel.

#include "automation/plan_run.h"
#include "common/event_runtime.h"
#include "operations/centring_operations.h"
#include "operations/manual_exposure.h"
#include "station/event_log.h"
#include "station/plan_columns.h"
#include "tests/fits_check.h"
#include "windows/device_windows.h"
#include "windows/install_windows.h"
#include "windows/main_window.h"
#include "windows/plan_window.h"
#include "devices/alpaca/alpaca_backend.h"
#include "devices/alpaca/server/alpaca_server.h"
#include "devices/sim/sim_devices.h"
#include "devices/sim/sim_world.h"
#include "tests/devices/alpaca/station_time.h"
#include "tests/devices/contract/device_contract.h"

namespace noctarbel::testing {
namespace {

const DateTime kEvening = EncodeDateTime(2026, 12, 6, 19, 50, 0);

BackendFacts SimulatorFacts() {
  BackendFacts f;
  f.MountText = "Noctarbel mount simulator";
  f.GuideRate = 5.0 / 3600;
  f.CameraName = "Noctarbel camera simulator";
  f.SensorWidth = 1280;
  f.SensorHeight = 1024;
  f.PixelSize = 6.45;
  f.RefusedBinning = 5;
  f.StopKeepsImage = true;
  f.FocuserHalfKelvin = 566;  // 10 C
  f.FilterNames = {"L", "R", "G", "B", "Ha"};
  f.FilterOffsets = {"0", "15", "10", "25", "-40"};
  f.ArcsecPerPixel = 1.5;
  f.BestFocus = 5000;
  return f;
}

// A backend whose simulated world a test may change.
class SimulatorBackend : public DeviceBackend {
 public:
  SimulatorBackend() { Facts = SimulatorFacts(); }
  virtual void WithWorld(const std::function<void(SimWorld&)>& change) = 0;
};

class BuiltInSimulators : public SimulatorBackend {
 public:
  Runtime& Clock() override { return *clock_; }
  void WithWorld(const std::function<void(SimWorld&)>& change) override {
    change(*SimulatedWorld(station_->Devices.Registry));
  }
  void Choose(Station& station) override {
    station_ = &station;
    SettingsRecord& s = station.Settings;
    s.TelescopeObject = kSimTelescopeId;
    s.CameraObject = kSimCameraId;
    s.FocuserObject = kSimFocuserId;
    s.FilterwheelObject = kSimFilterWheelId;
  }

 private:
  std::unique_ptr<EventRuntime> clock_ = EventRuntime::WithVirtualClock(kEvening, 1.0);
  Station* station_ = nullptr;
};

class ServedOverAlpaca : public SimulatorBackend {
 public:
  ~ServedOverAlpaca() override {
    if (server_) server_->Stop();
  }
  Runtime& Clock() override { return clock_; }
  void WithWorld(const std::function<void(SimWorld&)>& change) override { server_->WithWorld(change); }
  void Choose(Station& station) override {
    alpaca::ServerOptions options;
    options.Port = 0;
    options.Discovery = false;
    options.Site = station.Site();
    options.Time = clock_.Time();
    server_ = std::make_unique<alpaca::AlpacaServer>(options);
    server_->Start();
    alpaca::BackendOptions backend;
    backend.Discover = false;
    backend.Calls = alpaca::Timeouts{1000, 5000};
    station.Devices.Registry.Add(MakeAlpacaBackend(backend));
    const std::string base = "alpaca://127.0.0.1:" + std::to_string(server_->Port()) + "/";
    SettingsRecord& s = station.Settings;
    s.TelescopeObject = base + "telescope/0";
    s.CameraObject = base + "camera/0";
    s.FocuserObject = base + "focuser/0";
    s.FilterwheelObject = base + "filterwheel/0";
  }

 private:
  PublishingRuntime clock_{kEvening, 1.0};
  std::unique_ptr<alpaca::AlpacaServer> server_;
};

// M 45 from 20:05 UT, high in the east: focus, centre and sync, two images through each of
// two filters.
const std::vector<std::vector<std::string>> kPlan = {
    {"", "", "", "Open roof", "ZA", "", "", "", "", "", "", "", "", "", "", ""},
    {"20", "5", "0", "M 45 focus", "03", "47", "24", "24", "7", "0", "AF", "", "", "", "", ""},
    {"", "", "", "M 45 sync", "03", "47", "24", "24", "7", "0", "SY 1", "", "", "", "", ""},
    {"", "", "", "M 45", "03", "47", "24", "24", "7", "0", "2", "2", "12", "2", "m45", "0"},
    {"", "", "", "Close roof", "Z0", "", "", "", "", "", "", "", "", "", "", ""},
};

// A station with its windows' logic on one of the two backends, as a simulated night starts:
// frames without bias (as dark-subtracted frames are: focusing and centring count above the
// sky), the simulated camera's V (best focus at 5000 plus the filter's offset), the
// simulated roof, "Connect all" and the cooler.
class Night {
 public:
  explicit Night(std::unique_ptr<SimulatorBackend> devices) : backend(std::move(devices)) {
    station = std::make_unique<Station>(backend->Clock(), ui, StationPaths{home.Path(), NOCTARBEL_SOURCE_DATA_DIR});
    InstallHandlers(*station);
    CreateForms(*station);
    PilotFormShow(*station);
    backend->Choose(*station);
    backend->WithWorld([](SimWorld& world) { world.Camera.Config.BiasAdu = 0; });
    SettingsRecord& s = station->Settings;
    s.AFLslope = -0.03455f;
    s.AFLic = 172.23132f;
    s.AFRslope = 0.03455f;
    s.AFRic = -173.2555f;
    s.EnableObservatoryControl = true;
    ui.defaultAnswer = true;
    station->Activate("SimulationButton");
    EXPECT_TRUE(station->Activate("ConnectAllBtn"));
    EXPECT_TRUE(station->Mount.Connected() && station->Camera.Connected()) << station->Status();
    station->Main.SetChecked("CoolerCheckBox", true);
    station->Activate("CoolerCheckBox");
  }
  ~Night() { station.reset(); }

  // The plan's run, as "Start" does it; the log lines it wrote, without the images' folder.
  std::vector<std::string> RunPlan() {
    StringGrid& grid = station->Planer1;
    grid.SetRowCount(static_cast<int>(kPlan.size()) + 1);
    for (size_t r = 0; r < kPlan.size(); ++r) {
      const int row = static_cast<int>(r) + 1;
      grid.SetCell(kColIndex, row, std::to_string(row));
      for (size_t c = 0; c < kPlan[r].size(); ++c) grid.SetCell(static_cast<int>(c) + 1, row, kPlan[r][c]);
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
    std::vector<std::string> lines(station->Log.Lines().begin() + static_cast<long>(first), station->Log.Lines().end());
    const std::string prefix = Images().string() + "/";
    for (std::string& line : lines) {
      for (size_t at = line.find(prefix); at != std::string::npos; at = line.find(prefix)) line.erase(at, prefix.size());
    }
    return lines;
  }

  // What the operator does by hand: the roof opened, a goto and a relative move (bringing
  // the target's star off the centre), a focuser move, an exposure through a filter, the
  // centring move on its star, a park.
  struct Manual {
    std::vector<std::uint16_t> Pixels;
    StarSearchResult Star;
    StarOffset Offset;
    double Ra = 0;
    double Dec = 0;
    bool Parked = false;
  };
  Manual OperateByHand() {
    Manual m;
    station->Activate("DachAufButton");
    OperationContext op = station->BeginOperation();
    EXPECT_EQ(station->Mount.GotoJ2000(3.79, 24.12), GotoOutcome::Sent) << station->Status();
    while (station->Devices.Telescope->Slewing() && op.Wait(200)) {
    }
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
    EXPECT_TRUE(station->Centring.CenterOnBrightestStar(op, image, true).Moved);
    const auto status = station->Mount.ReadStatus();
    if (status) {
      m.Ra = status->RightAscension;
      m.Dec = status->Declination;
    }
    m.Parked = station->Mount.GotoParkPosition1(op) && station->Mount.AtParkPosition1();
    return m;
  }

  std::filesystem::path Images() const { return home.Path() / "images"; }

  std::unique_ptr<SimulatorBackend> backend;
  TempDir home;
  ScriptedUi ui;
  std::unique_ptr<Station> station;
  std::vector<std::string> saved;
  bool completed = false;
};

TEST(AlpacaInterop, ManualOperationAndANightOverAlpacaAsOnTheBuiltInSimulators) {
  Night builtIn(std::make_unique<BuiltInSimulators>());
  Night alpaca(std::make_unique<ServedOverAlpaca>());
  const Night::Manual expected = builtIn.OperateByHand();
  const Night::Manual manual = alpaca.OperateByHand();
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
  EXPECT_EQ(alpaca.station->Focuser.Read().Position, 5300);
  EXPECT_TRUE(manual.Parked);
  EXPECT_TRUE(expected.Parked);

  // The night: the wait for 20:05, the slew, the autofocus, the centre and sync, two images
  // through each of two filters, the roof closed behind the parked mount.
  const std::vector<std::string> log = alpaca.RunPlan();
  EXPECT_EQ(log, builtIn.RunPlan());
  ASSERT_TRUE(builtIn.completed) << builtIn.station->Status();
  EXPECT_TRUE(alpaca.completed) << alpaca.station->Status();
  auto logged = [&](const std::string& text) {
    return std::any_of(log.begin(), log.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
  };
  EXPECT_TRUE(logged(": Pause until UT = 20:5:0"));
  EXPECT_TRUE(logged(": Autofocus: focus=50"));
  EXPECT_TRUE(logged(": center&sync OK"));
  EXPECT_TRUE(logged(": Roof is closed"));
  const std::vector<std::string> files = {"m45-L-001.fit", "m45-R-001.fit", "m45-L-002.fit", "m45-R-002.fit"};
  ASSERT_EQ(alpaca.saved.size(), files.size());
  for (const std::string& file : files) {
    const CfitsioImage ours = ReadWithCfitsio((alpaca.Images() / file).string());
    ASSERT_TRUE(ours.Read) << file;
    EXPECT_TRUE(ours.Pixels == ReadWithCfitsio((builtIn.Images() / file).string()).Pixels) << file;
  }
  EXPECT_EQ(alpaca.station->Observatory.GetRoofState(), RoofState::Closed);
}

}  // namespace

std::vector<BackendMaker> ContractBackends() {
  return {{"Simulators", [] { return std::make_unique<BuiltInSimulators>(); }},
          {"Alpaca", [] { return std::make_unique<ServedOverAlpaca>(); }}};
}

}  // namespace noctarbel::testing
