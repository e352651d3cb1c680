// Our Alpaca drivers against our server over HTTP on loopback, member by member as the
// station uses them; the chooser's listing; and the faults a network device brings: dead,
// hung, garbage-answering and killed servers, each a DeviceError within the call's bound.

#include <gtest/gtest.h>

#include "common/event_runtime.h"
#include "devices/alpaca/image_transfer.h"
#include "station/settings.h"
#include "tests/cli_runner.h"
#include "tests/devices/alpaca/alpaca_fixture.h"

namespace noctarbel::testing {
namespace {

class AlpacaClientTest : public AlpacaServerTest {
 protected:
  AlpacaClientTest() : backend(Options()) {}
  static BackendOptions Options() {
    BackendOptions options;
    options.Calls = Timeouts{1000, 5000};
    options.Discover = false;
    return options;
  }
  DeviceContext Context() { return DeviceContext{*clock, SiteLocation{}, servers}; }

  std::unique_ptr<EventRuntime> clock = EventRuntime::WithRealClock();
  DeviceServers servers;
  AlpacaBackend backend;
};

// What the driver contract leaves out: the members only an Alpaca mount has (home,
// synchronous slews), the camera's descriptive members and the length of a stopped exposure.
// (The frames themselves are the interop test's, pixel by pixel.)
TEST_F(AlpacaClientTest, AlpacaOnlyMembers) {
  DeviceContext context = Context();
  auto scope = backend.CreateTelescope(Id("telescope"), context);
  EXPECT_FALSE(scope->Connected());
  scope->SetConnected(true);
  EXPECT_NE(scope->DriverInfo().find("German equatorial"), std::string::npos);
  scope->FindHome();
  EXPECT_TRUE(scope->Slewing());
  ASSERT_TRUE(WaitUntil([&] { return !scope->Slewing(); }));
  scope->SetTracking(true);
  scope->SetTargetRightAscension(std::fmod(scope->RightAscension() + 1.0, 24.0));
  scope->SetTargetDeclination(scope->Declination() + 5);
  scope->SlewToTarget();  // synchronous: answers on arrival
  EXPECT_FALSE(scope->Slewing());

  auto camera = backend.CreateCamera(Id("camera"), context);
  camera->SetConnected(true);
  EXPECT_EQ(camera->Description(), "Simulated cooled monochrome CCD camera");
  EXPECT_EQ(camera->DriverVersion(), "1.0");
  EXPECT_EQ(camera->SensorName(), "SIM1280");
  EXPECT_DOUBLE_EQ(camera->PixelSizeY(), 6.45);
  EXPECT_DOUBLE_EQ(camera->ElectronsPerAdu(), 1.5);
  EXPECT_EQ(camera->Gain(), 100);
  camera->StartExposure(5, false);
  camera->StopExposure();
  ASSERT_TRUE(WaitUntil([&] { return camera->ImageReady(); }));
  EXPECT_LT(Get("/api/v1/camera/0/lastexposureduration").Json()["Value"].get<double>(), 5);
  camera->Dispose();
}

TEST_F(AlpacaClientTest, OptionalMembersReportNotImplementedWithTheDevicesText) {
  server.WithWorld([](SimWorld& w) {
    w.Camera.Config.CanSetCCDTemperature = false;
    w.Mount.Config.PierSide = PierSideMode::CannotReport;
    w.Mount.Config.CanSetTracking = false;
  });
  DeviceContext context = Context();
  auto camera = backend.CreateCamera(Id("camera"), context);
  camera->SetConnected(true);
  auto scope = backend.CreateTelescope(Id("telescope"), context);
  scope->SetConnected(true);
  auto notImplemented = [](const std::function<void()>& call, const std::string& text) {
    try {
      call();
      ADD_FAILURE() << "no error";
    } catch (const AlpacaError& e) {
      EXPECT_TRUE(e.NotImplemented());
      EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("(not implemented)"), std::string::npos) << e.what();
    }
  };
  notImplemented([&] { camera->CoolerPower(); }, "CoolerPower is not available on this camera");
  notImplemented([&] { camera->SetCoolerOn(true); }, "Cooler control is not available");
  notImplemented([&] { scope->SideOfPier(); }, "SideOfPier is not implemented by this mount");
  notImplemented([&] { scope->SetTracking(true); }, "Tracking cannot be set on this mount");
  EXPECT_FALSE(scope->CanSetTracking());
}

TEST_F(AlpacaClientTest, ChooserListsConfiguredHostsAndDiscoveredServers) {
  servers.AlpacaHosts = "127.0.0.1:" + std::to_string(DeadPort()) + ", 127.0.0.1:" + std::to_string(Port());
  const DeviceContext context = Context();
  const auto cameras = backend.Choices(DeviceType::Camera, context);
  ASSERT_EQ(cameras.size(), 1u);
  EXPECT_EQ(cameras[0].Identifier, Id("camera"));
  EXPECT_NE(cameras[0].Description.find("Noctarbel camera simulator"), std::string::npos);
  EXPECT_EQ(backend.Choices(DeviceType::FilterWheel, context)[0].Identifier, Id("filterwheel"));

  BackendOptions discovering = Options();
  discovering.Discover = true;
  discovering.Discovery = DiscoveryOptions{server.DiscoveryPort(), {"127.0.0.1"}, 300};
  servers.AlpacaHosts.clear();
  const auto scopes = AlpacaBackend(discovering).Choices(DeviceType::Telescope, Context());
  ASSERT_EQ(scopes.size(), 1u);
  EXPECT_EQ(scopes[0].Identifier, Id("telescope"));

  // Identifiers that do not fit are refused when the driver is made.
  DeviceContext mutableContext = Context();
  EXPECT_THROW(backend.CreateCamera(Id("telescope"), mutableContext), DeviceError);
  try {
    backend.CreateFocuser(Id("focuser", 4), mutableContext);
    ADD_FAILURE() << "no error";
  } catch (const DeviceError& e) {
    EXPECT_NE(std::string(e.what()).find("HTTP 400: This server has no focuser number 4"), std::string::npos)
        << e.what();
  }
}

// Two servers on one computer give their devices UniqueIDs of their own, so both are listed.
TEST_F(AlpacaClientTest, CommandLineDevicesListsTheAlpacaHosts) {
  AlpacaServer second(FreePorts());
  second.Start();
  TempDir home;
  SettingsRecord stationSettings;
  stationSettings.AlpacaHosts = "127.0.0.1:" + std::to_string(Port()) + ",127.0.0.1:" + std::to_string(second.Port());
  ASSERT_TRUE(SaveSettingsFile(home / "noctarbel.ini", stationSettings));
  TempDir scratch;
  const CliResult result =
      RunCli(NOCTARBEL_CLI, "--home " + ShellQuote(home.Path().string()) + " devices --json", scratch);
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const nlohmann::json listed = nlohmann::json::parse(result.out);
  EXPECT_EQ(listed["Telescope"][0]["id"], "sim:telescope");
  ASSERT_EQ(listed["Telescope"].size(), 3u) << result.out;
  EXPECT_EQ(listed["Telescope"][1]["id"], Id("telescope"));
  EXPECT_EQ(listed["Telescope"][2]["id"], LoopbackId(second.Port(), "telescope"));
  EXPECT_EQ(listed["Filterwheel"][1]["id"], Id("filterwheel"));
}

// ---- faults

// A camera on a server of this computer, with calls that give up quickly.
std::shared_ptr<ICamera> QuickCamera(int port) {
  return MakeCamera(ParseIdentifier(LoopbackId(port, "camera")), QuickTimeouts());
}

TEST(AlpacaFaults, DeadHungAndGarbageServersGiveDeviceErrorWithinTheBound) {
  const Timeouts limits = QuickTimeouts();
  const auto bound = std::chrono::milliseconds(limits.ConnectMs + limits.ReadMs + 1000);
  auto failsWithin = [&](int port, const std::string& text) {
    auto scope = MakeTelescope(ParseIdentifier(LoopbackId(port, "telescope")), limits);
    const auto start = std::chrono::steady_clock::now();
    try {
      scope->Slewing();
      ADD_FAILURE() << "no error for " << text;
    } catch (const DeviceError& e) {
      EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
    }
    EXPECT_LT(Since(start), bound) << text;
  };
  failsWithin(DeadPort(), "cannot connect");
  HungServer hung;
  failsWithin(hung.Port(), "no answer within 1 s");
  // A dropped connection is told as such (it comes at once, long before a read time-out).
  ClosingServer closing;
  try {
    MakeTelescope(ParseIdentifier(LoopbackId(closing.Port(), "telescope")), Timeouts{1000, 20000})->Slewing();
    ADD_FAILURE() << "no error from a dropped connection";
  } catch (const DeviceError& e) {
    EXPECT_NE(std::string(e.what()).find("connection closed by 127.0.0.1:" + std::to_string(closing.Port())),
              std::string::npos)
        << e.what();
  }

  int call = 0;
  ScriptedServer garbage([&call](httplib::Server& http) {
    http.Get("/api/v1/telescope/0/slewing", [&call](const httplib::Request& q, httplib::Response& r) {
      const std::string id = q.get_param_value("ClientTransactionID");
      switch (call++) {
        case 0:
          r.set_content("<html>busy</html>", "text/html");
          break;
        case 1:
          r.set_content(R"({"ErrorNumber":0,"Value":"yes"})", "application/json");
          break;
        case 2:
          r.set_content(R"({"ErrorNumber":0,"ClientTransactionID":)" + std::to_string(std::stoul(id) + 1000) +
                            R"(,"Value":true})",
                        "application/json");
          break;
        case 3:
          r.status = 500;
          r.set_content("internal trouble", "text/plain");
          break;
        default:
          r.set_content(std::string(6u << 20, ' '), "application/json");
      }
    });
  });
  failsWithin(garbage.Port(), "not a JSON object");
  failsWithin(garbage.Port(), "Value is not true or false");
  failsWithin(garbage.Port(), "belongs to another request");
  failsWithin(garbage.Port(), "HTTP 500: internal trouble");
  failsWithin(garbage.Port(), "larger than 4 MB");
}

TEST(AlpacaFaults, AServerWithoutImageBytesIsReadAsJson) {
  std::string accept;
  ScriptedServer jsonOnly([&](httplib::Server& http) {
    http.Get("/api/v1/camera/0/imagearray", [&](const httplib::Request& q, httplib::Response& r) {
      accept = q.get_header_value("Accept");
      r.set_content(R"({"Type":2,"Rank":2,"ClientTransactionID":)" + q.get_param_value("ClientTransactionID") +
                        R"(,"ErrorNumber":0,"ErrorMessage":"","Value":[[1,2],[3,4],[5,70000]]})",
                    "application/json");
    });
  });
  const ImageArrayData image = QuickCamera(jsonOnly.Port())->ImageArray();
  EXPECT_EQ(accept, "application/imagebytes");
  ASSERT_EQ(image.Width, 3);
  ASSERT_EQ(image.Height, 2);
  EXPECT_EQ(image.At(2, 1), 70000);
  EXPECT_EQ(image.At(1, 0), 3);
}

// A frame answered with another request's transaction number is somebody else's picture:
// in either encoding it is refused and never handed on as the current frame.
TEST(AlpacaFaults, AnImageOfAnotherRequestIsRefusedInEitherEncoding) {
  for (const bool asImageBytes : {true, false}) {
    ScriptedServer stranger([asImageBytes](httplib::Server& http) {
      http.Get("/api/v1/camera/0/imagearray", [asImageBytes](const httplib::Request& q, httplib::Response& r) {
        const std::uint32_t other =
            static_cast<std::uint32_t>(std::stoul(q.get_param_value("ClientTransactionID"))) + 7;
        ImageArrayData frame;
        frame.Width = 2;
        frame.Height = 2;
        frame.Pixels16 = {1, 2, 3, 4};
        if (asImageBytes) {
          r.set_content(EncodeImageBytes(frame, other, 1), "application/imagebytes");
        } else {
          r.set_content(EncodeImageJson(frame, other, 1), "application/json");
        }
      });
    });
    try {
      QuickCamera(stranger.Port())->ImageArray();
      ADD_FAILURE() << "a foreign frame was accepted, image bytes: " << asImageBytes;
    } catch (const DeviceError& e) {
      EXPECT_NE(std::string(e.what()).find("belongs to another request"), std::string::npos) << e.what();
    }
  }
}

// A frame that trickles in over a slow link is fetched beside the station; a new exposure
// abandons it at once instead of waiting for the rest.
TEST(AlpacaFaults, ASlowFrameNeverHoldsTheStation) {
  ScriptedServer slow([](httplib::Server& http) {
    http.Get("/api/v1/camera/0/imageready", [](const httplib::Request&, httplib::Response& r) {
      r.set_content(R"({"ErrorNumber":0,"ErrorMessage":"","Value":true})", "application/json");
    });
    http.Put("/api/v1/camera/0/startexposure", [](const httplib::Request&, httplib::Response& r) {
      r.set_content(R"({"ErrorNumber":0,"ErrorMessage":""})", "application/json");
    });
    http.Get("/api/v1/camera/0/imagearray", [](const httplib::Request&, httplib::Response& r) {
      ImageArrayData frame;
      frame.Width = 100;
      frame.Height = 100;
      frame.Pixels16.assign(10000, 7);
      auto bytes = std::make_shared<std::string>(EncodeImageBytes(frame, 0, 1));
      r.set_content_provider(bytes->size(), "application/imagebytes",
                             [bytes](size_t offset, size_t, httplib::DataSink& sink) {
                               // 200 bytes every 50 ms: some 10 s for the frame.
                               std::this_thread::sleep_for(std::chrono::milliseconds(50));
                               return sink.write(bytes->data() + offset, std::min<size_t>(200, bytes->size() - offset));
                             });
    });
  });
  auto camera = QuickCamera(slow.Port());
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(camera->ImageReady());  // the camera is ready, the frame is not here yet
  EXPECT_FALSE(camera->ImageReady());
  EXPECT_LT(Since(start), std::chrono::milliseconds(2500));
  start = std::chrono::steady_clock::now();
  camera->StartExposure(1, true);
  EXPECT_LT(Since(start), std::chrono::milliseconds(1500));
}

TEST(AlpacaFaults, AServerKilledMidExposureIsADeviceErrorAtTheNextCall) {
  ServerProcess program;
  ASSERT_GT(program.Port(), 0);
  auto camera = QuickCamera(program.Port());
  camera->SetConnected(true);
  camera->StartExposure(30, true);
  EXPECT_FALSE(camera->ImageReady());
  program.Kill(SIGKILL);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(camera->ImageReady(), DeviceError);
  EXPECT_THROW(camera->ImageArray(), DeviceError);
  EXPECT_LT(Since(start), std::chrono::milliseconds(3000));
}

// The switches other programs' tests start a mount without slews with; the program stops
// cleanly on SIGTERM.
TEST(AlpacaFaults, TheServerProgramsMountCanLackSlewsAndStopsOnSigterm) {
  const struct {
    const char* Option;
    bool Slews;
    bool AltAzSlews;
  } cases[] = {{"--no-altaz-slews", true, false}, {"--no-slews", false, false}};
  for (const auto& c : cases) {
    ServerProcess program({c.Option});
    ASSERT_GT(program.Port(), 0) << c.Option;
    const std::string base = "/api/v1/telescope/0/";
    EXPECT_EQ(Raw(program.Port(), "GET", base + "canslewasync").Json()["Value"], c.Slews) << c.Option;
    EXPECT_EQ(Raw(program.Port(), "GET", base + "canslewaltazasync").Json()["Value"], c.AltAzSlews) << c.Option;
    EXPECT_EQ(program.Kill(SIGTERM), 0) << c.Option;
    EXPECT_EQ(Raw(program.Port(), "GET", "/management/apiversions").Status, 0) << c.Option;
  }
}

}  // namespace
}  // namespace noctarbel::testing
