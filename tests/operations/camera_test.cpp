// The camera on the virtual clock with the simulators: connecting, the cooler's warm-up,
// TakeImage's time limit, stop and emergency, bad images from the driver, the manual
// exposure with its preview, star offset and "testbild.fits", stacking in the viewer and
// saving from it. Every FITS file written is checked with fitsverify and cfitsio.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "imaging/calibration_config.h"
#include "imaging/image_buffer.h"
#include "tests/cli_runner.h"
#include "tests/fits_check.h"
#include "tests/operations/device_fixture.h"
#include "windows/camera_window.h"
#include "windows/viewer_window.h"

namespace noctarbel::testing {
namespace {

class CameraTest : public DeviceFixture {
 protected:
  CameraTest() { Settings().CameraObject = "sim:camera"; }

  CameraModel& Cam() { return World().Camera; }
  Controls& Viewer() { return station->Form(kViewerForm); }

  void Connect() {
    ASSERT_TRUE(ConnectCamera(*station));
    ASSERT_TRUE(station->Camera.Connected());
  }

  ExposureResult Take(const ExposureRequest& request, Timgbuffer& image) {
    OperationContext op = station->Operations.Begin([this] { return station->Run.AbortRequested; });
    return station->Camera.TakeImage(op, request, image);
  }

  ExposureRequest Full(double seconds, int binning = 2) {
    ExposureRequest request = ExposureGeometry(Cam().Config.Width, Cam().Config.Height, binning, 1);
    request.Exposure = seconds;
    return request;
  }

  void ExpectValidFits(const std::string& path, long width, long height) {
    EXPECT_EQ(FitsVerifyProblems(path), "") << path;
    const CfitsioImage read = ReadWithCfitsio(path);
    ASSERT_TRUE(read.Read) << path;
    EXPECT_EQ(read.Width, width);
    EXPECT_EQ(read.Height, height);
  }
};

// The zoomed geometry and the time limit are checked on the camera below, the warm-up from -20.
TEST(CameraRules, WarmUpCapAndArrows) {
  EXPECT_DOUBLE_EQ(WarmUpTarget(10), 20);

  EXPECT_EQ(ExposureStepText("0.2", false), "0.1");
  EXPECT_EQ(ExposureStepText("0.02", false), "0.01");
  EXPECT_EQ(ExposureStepText("0.001", false), "0.001");  // down only from 0.002
  EXPECT_EQ(ExposureStepText("0.002", false), "0.001");
  EXPECT_EQ(ExposureStepText("0.3", false), "0.2");
  EXPECT_EQ(ExposureStepText("0.1", true), "0.11");
  EXPECT_EQ(ExposureStepText("0.9", true), "1");
  EXPECT_EQ(ExposureStepText("9", true), "10");
  EXPECT_EQ(ExposureStepText("10", true), "20");
  EXPECT_EQ(ExposureStepText("20", false), "10");
  EXPECT_EQ(ExposureStepText("seconds", true), "seconds");
}

TEST_F(CameraTest, ConnectingSetsUpTheControlsAndDisconnectingUndoesThem) {
  Settings().RootImagePath = (dir / "images").string();
  Main().SetValue("BinningEdit1", 4);
  Cam().Config.MaxBin = 3;
  station->Activate("CCDConnectBtn");
  EXPECT_TRUE(ui.messages.empty()) << ui.LastMessage();
  EXPECT_FALSE(Main().Enabled("CCDConnectBtn"));
  for (const char* name : {"CamDisconnectButton", "ExposeButton", "StackingButton", "CameraInfobutton",
                           "CoolerCheckBox", "setCoolerButton", "BinningEdit1", "FilterEdit"}) {
    EXPECT_TRUE(Main().Enabled(name)) << name;
  }
  EXPECT_EQ(Main().Value("BinningEdit1"), 3);  // lowered to the camera's largest binning
  EXPECT_EQ(Main().Text("FilternameEdit"), "L");
  EXPECT_EQ(Main().Text("ImgPathEdit"), (dir / "images").string() + "/2026_12_06");
  EXPECT_TRUE(Viewer().Enabled("ExpStartBtn"));
  clock->Sleep(2000);
  EXPECT_EQ(Main().Text("CamTempEdit"), "10");

  station->Activate("CamDisconnectButton");
  EXPECT_FALSE(station->Devices.Camera);
  EXPECT_TRUE(Main().Enabled("CCDConnectBtn"));
  EXPECT_FALSE(Main().Enabled("ExposeButton"));
  EXPECT_EQ(Main().Text("CamTempEdit"), "");
  EXPECT_FALSE(station->CameraTimer1.Enabled());

  Cam().Config.FailAll = true;
  station->Activate("CCDConnectBtn");
  EXPECT_EQ(ui.LastMessage(), "No connection to camera");
}

TEST_F(CameraTest, WarmUpRaisesTheSetPointThenSwitchesTheCoolerOff) {
  Main().SetValue("CoolerTempEdit", -20);
  Connect();
  Main().SetChecked("CoolerCheckBox", true);
  station->Activate("CoolerCheckBox");
  EXPECT_TRUE(Cam().CoolerOn());
  clock->Sleep(600000);
  EXPECT_LT(Cam().CCDTemperature(), -19);
  station->Activate("WarmUpBtn");
  clock->Sleep(2000);
  EXPECT_DOUBLE_EQ(Cam().SetPoint(), -5);  // 15 degrees up
  EXPECT_EQ(station->Status(), "Camera warming up");
  clock->Sleep(600000);
  EXPECT_FALSE(Cam().CoolerOn());
  EXPECT_FALSE(Main().Checked("CoolerCheckBox"));
  EXPECT_EQ(station->Status(), "Camera cooler off");
}

TEST_F(CameraTest, AnExposureWithoutAnImageEndsAtTheTimeLimit) {
  Settings().CameraTimeout = 30;
  Settings().CameraReadTime = 5;
  Connect();
  Cam().Config.NeverReady = true;
  Timgbuffer image;
  const double start = SecondsNow();
  const ExposureResult result = Take(Full(60, 2), image);
  const double waited = SecondsNow() - start;
  EXPECT_EQ(result.End, ExposureEnd::TimedOut);
  EXPECT_GT(waited, 92.5);
  EXPECT_LT(waited, 93.6);
  EXPECT_TRUE(station->Run.CameraErrorFlag);
  EXPECT_TRUE(station->Run.AbortRequested);
  EXPECT_EQ(Cam().StopsReceived(), 0);  // a camera that does not answer is not told to stop
  EXPECT_FALSE(image.HasPixels());
}

TEST_F(CameraTest, StopAndTheRainEmergencyStopTheExposure) {
  Connect();
  Timgbuffer image;
  At(5, [this] { station->Activate("StopButton"); });
  EXPECT_EQ(Take(Full(60), image).End, ExposureEnd::Stopped);
  EXPECT_EQ(Cam().StopsReceived(), 1);
  EXPECT_FALSE(image.HasPixels());
  EXPECT_FALSE(station->Run.CameraErrorFlag);

  // The emergency takes the devices over in the middle of an exposure.
  station->Run.AbortRequested = false;
  clock->Sleep(5000);  // the stopped frame is read out
  ConnectScope();
  At(5, [this] { station->Observatory.RainEmergency(); });
  const ExposureResult result = Take(Full(60), image);
  EXPECT_EQ(result.End, ExposureEnd::Interrupted);
  EXPECT_EQ(result.Error, "Interrupted by the rain emergency");
  EXPECT_EQ(Cam().StopsReceived(), 2);
  EXPECT_FALSE(image.HasPixels());
}

TEST_F(CameraTest, ABadImageFromTheDriverIsRefused) {
  Connect();
  Timgbuffer image;
  const std::pair<bool CameraConfig::*, const char*> faults[] = {
      {&CameraConfig::ImageArrayFails, "ImageArray: the camera did not deliver the image"},
      {&CameraConfig::ImageWrongSize, "image of 640 x 511 pixels, 640 x 512 expected"},
      {&CameraConfig::ImageOutOfRange, "values out of range (0 .. 70000)"}};
  for (const auto& [fault, reason] : faults) {
    Cam().Config.*fault = true;
    station->Run.AbortRequested = false;  // set by the failure before
    EXPECT_EQ(Take(Full(1), image).End, ExposureEnd::Failed);
    EXPECT_EQ(station->Status(), std::string("Error accessing ImageArray: ") + reason);
    EXPECT_TRUE(station->Run.CameraErrorFlag);
    EXPECT_FALSE(image.HasPixels());
    Cam().Config.*fault = false;
  }
}

TEST_F(CameraTest, TheImageCarriesItsFrameAndCaptureCards) {
  Cam().Config.Width = 1536;
  Cam().Config.Height = 1024;
  Connect();
  Timgbuffer image;
  ExposureRequest request = ExposureGeometry(1536, 1024, 2, 2);
  request.Exposure = 2;
  request.Filter = 1;
  ASSERT_TRUE(Take(request, image).HasImage());
  EXPECT_EQ(image.Width(), 384);
  EXPECT_EQ(image.Height(), 256);
  EXPECT_EQ(Cam().StartX, 192);
  EXPECT_EQ(Cam().StartY, 128);
  EXPECT_EQ(image.Filter, "R");
  EXPECT_EQ(image.XBinning, 2);
  EXPECT_DOUBLE_EQ(image.Exposure, 2);
  EXPECT_NE(image.Header().FindCard("GAIN"), 0);
  EXPECT_NE(image.Header().FindCard("CCD-TEMP"), 0);
  EXPECT_EQ(image.ObservationDate.substr(0, 10), "2026-12-06");
}

TEST_F(CameraTest, TheManualExposureShowsSavesAndMeasures) {
  ConnectScope();
  PlaceMount(190, 55);
  const EquatorialPosition target = PositionAt(200, 50);
  Scope()->SetTracking(true);
  Scope()->SetTargetRightAscension(target.Ra);
  Scope()->SetTargetDeclination(target.Dec);
  Scope()->SlewToTargetAsync();  // the target's star in the middle of the frame
  clock->Sleep(60000);
  Connect();
  Main().SetText("ExposeSecEdit", "1");
  station->Activate("ExposeButton");
  EXPECT_TRUE(Main().Enabled("ExposeButton"));
  EXPECT_FALSE(Main().Enabled("StopButton"));
  const std::string testImage = (dir / "testbild.fits").string();
  ExpectValidFits(testImage, 640, 512);
  // The star sits on the centre: the offset is (almost) nothing.
  EXPECT_EQ(Main().Text("ImageInfoEdit").rfind("Star to center dist. in \": (", 0), 0u) << Main().Text("ImageInfoEdit");
  EXPECT_LT(std::abs(station->StarOffsetArcsec.X), 3.1);
  EXPECT_LT(std::abs(station->StarOffsetArcsec.Y), 3.1);
  EXPECT_TRUE(Main().Enabled("Centerbutton"));
  EXPECT_GT(std::stoi(Main().Text("ImgMaxEdit")), 20000);  // the target star
  // The preview shows the star bright on a dark sky.
  ASSERT_EQ(station->Preview.Width, 640);
  const auto brightest = *std::max_element(station->Preview.Pixels.begin(), station->Preview.Pixels.end());
  EXPECT_EQ(brightest, 255);
  EXPECT_LT(station->Preview.Pixels[static_cast<size_t>(20 * station->Preview.Stride + 20)], 60);

  // Repeat: the next exposure follows by the timer until Stop.
  Main().SetChecked("RepeatExpCheckBox", true);
  const int before = Cam().ExposuresStarted();
  station->Activate("ExposeButton");
  clock->Sleep(10000);
  EXPECT_GE(Cam().ExposuresStarted() - before, 3);
  station->Activate("StopButton");
  clock->Sleep(5000);
  const int stopped = Cam().ExposuresStarted();
  clock->Sleep(5000);
  EXPECT_EQ(Cam().ExposuresStarted(), stopped);
  EXPECT_FALSE(Main().Checked("RepeatExpCheckBox"));
}

TEST_F(CameraTest, AStackOfThreeFramesShowsItsTotalExposure) {
  Connect();
  Timgbuffer frame;
  ASSERT_TRUE(Take(Full(60), frame).HasImage());
  ImageViewer& viewer = station->Viewer;
  viewer.StartStack();
  EXPECT_TRUE(viewer.ShowFrame(frame, StackTracking{}));
  viewer.ShowFrame(frame, StackTracking{});
  viewer.FinishStack();
  viewer.ShowFrame(frame, StackTracking{});
  EXPECT_EQ(viewer.FrameCount(), 3);
  EXPECT_EQ(viewer.ExposureText(true), "T=180.000s");
  EXPECT_EQ(viewer.ExposureText(false), "");
  ASSERT_TRUE(viewer.Stack());
  EXPECT_EQ(viewer.Stack()->Type(), PixelType::Bits32);
  EXPECT_EQ(viewer.Stack()->GetPixel(100, 100), 3 * frame.GetPixel(100, 100));

  // Saved under "test" with the first file type: test.fit, a 32-bit FITS file.
  station->Activate("PilotForm1", "ViewerButton");
  ui.files = {(dir / "test").string()};
  station->Activate(kViewerForm, "SaveButton");
  ExpectValidFits((dir / "test.fit").string(), 640, 512);
  EXPECT_EQ(ReadWithCfitsio((dir / "test.fit").string()).Bitpix, 32);
  EXPECT_EQ(ImageViewer::SaveFileName("m51", ViewerFileType::Jpeg), "m51.jpg");
  EXPECT_EQ(ImageViewer::SaveFileName("m51.fits", ViewerFileType::Fits), "m51.fits");

  // A plan's stack (two 3 s images) shows its own total.
  auto planStack = frame.Clone();
  planStack->Exposure = 6;
  viewer.ShowPlanStack(*planStack, "m31-L_stack.fit");
  EXPECT_EQ(viewer.ExposureText(true), "T=6.000s");
}

TEST_F(CameraTest, TheStackingLoopFollowsTheStarAndStopsOnRequest) {
  ConnectScope();
  PlaceMount(190, 55);
  Scope()->SetTracking(true);
  Mount().Config.DriftRaArcsecPerMin = 6;  // the star walks; the loop pulses it back
  Connect();
  Main().SetText("ExposeSecEdit", "5");
  Main().SetChecked("starguideCheckBox", true);
  At(40, [this] { station->Activate("StackingButton"); });  // "Stop stacking"
  station->Activate("StackingButton");
  const ImageViewer& viewer = station->Viewer;
  EXPECT_EQ(viewer.State(), StackState::Off);
  EXPECT_GE(viewer.FrameCount(), 4);
  EXPECT_TRUE(viewer.Tracking());
  EXPECT_GT(Mount().PulsesReceived(), 0);
  EXPECT_TRUE(Main().Enabled("ExposeButton"));
  EXPECT_EQ(Main().Caption("StackingButton"), "Start stacking");
  EXPECT_NE(station->Status().find("GuideX="), std::string::npos);
}

TEST_F(CameraTest, CameraInfoLinesAndShutDown) {
  Connect();
  station->Activate("CameraInfobutton");
  const std::string info = station->Form("CameraInfo").Text("CameraData");
  EXPECT_NE(info.find("Camera properties:\n------------------\n"), std::string::npos);
  EXPECT_NE(info.find("\nX size              1280\n"), std::string::npos);
  EXPECT_NE(info.find("\nX Pixel size        6.45\n"), std::string::npos);
  EXPECT_NE(info.find("\nelectrons/ADU       1.500\n"), std::string::npos);

  Main().SetChecked("CoolerCheckBox", true);
  station->Activate("CoolerCheckBox");
  ConnectScope();
  const double start = SecondsNow();
  OperationContext op = station->BeginOperation();
  EXPECT_TRUE(station->ShutDownCamera(op));
  EXPECT_GE(SecondsNow() - start, 180);
  EXPECT_FALSE(station->Camera.HasDriver());
  EXPECT_FALSE(station->Mount.HasDriver());
  EXPECT_FALSE(Main().Enabled("ExposeButton")) << "the window shows the camera let go";
  EXPECT_NE(station->Log.Last().find("Camera cooler is warming up..."), std::string::npos);
}

TEST(CameraCommands, ExposeAndCameraInfo) {
  TempDir home;
  TempDir scratch;
  auto run = [&](const std::string& args) {
    return RunCli(NOCTARBEL_CLI, "--home " + ShellQuote(home.Path().string()) + " " + args, scratch);
  };
  CliResult result = run("expose --seconds 0.2");
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "noctarbel-cli: No camera is chosen (CameraObject in the settings)\n");
  EXPECT_EQ(run("expose --bin 9").exitCode, 2);

  SettingsRecord settings;
  settings.CameraObject = "sim:camera?width=800&height=600";
  ASSERT_TRUE(SaveSettingsFile(home / "noctarbel.ini", settings));
  const std::string out = (scratch / "frame.fits").string();
  result = run("expose --seconds 0.2 --bin 1 --zoom 2 --json --out " + ShellQuote(out));
  ASSERT_EQ(result.exitCode, 0) << result.err;
  auto json = nlohmann::json::parse(result.out);
  EXPECT_EQ(json["file"], out);
  EXPECT_EQ(json["width"], 400);
  EXPECT_EQ(json["height"], 300);
  EXPECT_TRUE(json.contains("star_found"));
  EXPECT_EQ(FitsVerifyProblems(out), "");
  result = run("expose --seconds 0.2");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.out.find("file: " + (home / "testbild.fits").string()), std::string::npos);
  EXPECT_EQ(FitsVerifyProblems((home / "testbild.fits").string()), "");

  result = run("camera info --json");
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(nlohmann::json::parse(result.out)["x_size"], 800);

  // A calibration without masters: the image is saved, the exit status and one line say it
  // was not calibrated.
  ASSERT_TRUE(SaveCalibrationConfig(home / "imgcalib.cfg", CalibrationConfig{}, nullptr));
  std::filesystem::remove(out);
  result = run("expose --seconds 0.2 --calibrate --out " + ShellQuote(out));
  EXPECT_EQ(result.exitCode, 3);
  EXPECT_EQ(result.err,
            "noctarbel-cli: The image was saved uncalibrated, dark and flat not done: no dark for "
            "this binning; no flat ID for filter 1 at binning 2\n");
  EXPECT_TRUE(std::filesystem::exists(out));
}

}  // namespace
}  // namespace noctarbel::testing
