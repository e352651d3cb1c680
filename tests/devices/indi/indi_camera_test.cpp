// The INDI CCD simulator through the camera driver: exposures with stars from the stand-in
// catalogue, binning and sub-frames, a binning the driver refuses, abort, dark frames, the
// cooler, reconnecting, compressed images, and the decoded image against cfitsio's reading of
// the same BLOB.

#include <fitsio.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "devices/indi/indi_image.h"
#include "tests/devices/indi/indi_fixture.h"

namespace noctarbel::testing {
namespace {

int Brightest(const ImageArrayData& image) { return *std::max_element(image.Pixels16.begin(), image.Pixels16.end()); }

class IndiCameraTest : public IndiStationTest {
 protected:
  void SetUp() override {
    // The simulator polls once a second unless told otherwise: exposures then take seconds.
    SetDeviceNumbers(Server(), kCcd, "POLLING_PERIOD", {{"PERIOD_MS", 100}});
    camera = MakeIndiCamera(Address(kCcd));
    camera->SetConnected(true);
  }
  void TearDown() override {
    if (camera) camera->SetConnected(false);
  }

  // Starts an exposure and waits for its image, pumping the station's runtime meanwhile.
  ImageArrayData Expose(double seconds, bool light = true) {
    camera->StartExposure(seconds, light);
    EXPECT_TRUE(WaitUntil([&] { return camera->ImageReady(); }, 15000)) << "no image";
    return camera->ImageArray();
  }
  void FullFrame(int bin) {
    camera->SetBinX(bin);
    camera->SetBinY(bin);
    camera->SetStartX(0);
    camera->SetStartY(0);
    camera->SetNumX(camera->CameraXSize() / bin);
    camera->SetNumY(camera->CameraYSize() / bin);
  }

  std::unique_ptr<ICamera> camera;
};

TEST_F(IndiCameraTest, ReportsTheSensorAndTakesFullFramesWithStars) {
  EXPECT_TRUE(camera->Connected());
  EXPECT_EQ(camera->CameraXSize(), 1280);
  EXPECT_EQ(camera->CameraYSize(), 1024);
  EXPECT_EQ(camera->MaxBinX(), 4);
  EXPECT_NEAR(camera->PixelSizeX(), 5.2, 1e-4);
  EXPECT_EQ(camera->MaxADU(), 65535);
  EXPECT_EQ(camera->SensorType(), 0);
  EXPECT_EQ(camera->Name(), "CCD Simulator");
  EXPECT_NE(camera->Description().find("indi_simulator_ccd"), std::string::npos);
  EXPECT_THROW(camera->ElectronsPerAdu(), DeviceError);

  FullFrame(1);
  EXPECT_FALSE(camera->ImageReady());
  EXPECT_THROW(camera->ImageArray(), DeviceError);
  const ImageArrayData image = Expose(1);
  ASSERT_EQ(image.Width, 1280);
  ASSERT_EQ(image.Height, 1024);
  ASSERT_TRUE(image.Is16Bit());
  // Sky and noise stay below 30; the stand-in catalogue's stars stand far above them.
  EXPECT_GT(Brightest(image), 500);
}

TEST_F(IndiCameraTest, BinningAndSubFramesAndABinningTheDriverRefuses) {
  camera->SetBinX(2);
  camera->SetBinY(2);
  camera->SetStartX(100);
  camera->SetStartY(50);
  camera->SetNumX(200);
  camera->SetNumY(150);
  ImageArrayData image = Expose(0.2);
  EXPECT_EQ(image.Width, 200);
  EXPECT_EQ(image.Height, 150);
  EXPECT_EQ(camera->NumX(), 200);
  EXPECT_EQ(camera->BinX(), 2);

  // Outside the sensor: refused before anything is sent.
  camera->SetStartX(600);
  EXPECT_THROW(camera->StartExposure(0.2, true), DeviceError);

  // The simulator answers 3 x 3 with Alert and says why.
  FullFrame(3);
  try {
    camera->StartExposure(0.2, true);
    ADD_FAILURE() << "binning 3 accepted";
  } catch (const DeviceError& e) {
    EXPECT_NE(std::string(e.what()).find("3x3 binning is not supported"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(camera->ImageReady());

  FullFrame(4);
  image = Expose(0.2);
  EXPECT_EQ(image.Width, 320);
  EXPECT_EQ(image.Height, 256);
}

TEST_F(IndiCameraTest, StoppedExposuresGiveNoImageAndDarkFramesNoStars) {
  FullFrame(2);
  camera->StartExposure(5, true);
  clock->Sleep(500);
  camera->StopExposure();
  clock->Sleep(1500);
  EXPECT_FALSE(camera->ImageReady());
  EXPECT_THROW(camera->ImageArray(), DeviceError);

  const ImageArrayData dark = Expose(1, false);
  EXPECT_LT(Brightest(dark), 200);
  EXPECT_GT(Brightest(Expose(1, true)), 500);  // back to light frames
}

TEST_F(IndiCameraTest, CoolerSetPointAndUnknownCoolerPower) {
  ASSERT_TRUE(camera->CanSetCCDTemperature());
  const double start = camera->CCDTemperature();
  camera->SetCCDTemperature(start - 10);
  camera->SetCoolerOn(true);
  EXPECT_TRUE(camera->CoolerOn());
  // The simulator ramps at 0.5 C/s.
  EXPECT_TRUE(WaitUntil([&] { return camera->CCDTemperature() <= start - 1; }, 6000));
  EXPECT_THROW(camera->SetCCDTemperature(-300), DeviceError);
  try {
    camera->CoolerPower();
    ADD_FAILURE() << "cooler power without CCD_COOLER_POWER";
  } catch (const DeviceError& e) {
    EXPECT_NE(std::string(e.what()).find("not implemented"), std::string::npos) << e.what();
  }
  camera->SetCoolerOn(false);
  EXPECT_FALSE(camera->CoolerOn());
}

TEST_F(IndiCameraTest, ImagesStillArriveAfterReconnectingAndWhenCompressed) {
  FullFrame(2);
  camera->SetConnected(false);
  EXPECT_FALSE(camera->Connected());
  camera->SetConnected(true);
  FullFrame(2);
  EXPECT_EQ(Expose(0.2).Width, 640);

  SetDeviceSwitches(Server(), kCcd, "CCD_COMPRESSION", {{"INDI_ENABLED", true}, {"INDI_DISABLED", false}});
  const ImageArrayData packed = Expose(1);
  SetDeviceSwitches(Server(), kCcd, "CCD_COMPRESSION", {{"INDI_ENABLED", false}, {"INDI_DISABLED", true}});
  EXPECT_EQ(packed.Width, 640);
  EXPECT_EQ(packed.Height, 512);
  EXPECT_GT(Brightest(packed), 500);
}

// The decoder against cfitsio on the very bytes the driver sent.
TEST_F(IndiCameraTest, DecodedBlobEqualsCfitsiosReading) {
  IndiClient client(Address(kCcd).Server, kCcd, "CCD1");
  ASSERT_TRUE(client.WaitForProperty(kCcd, {"CCD1"}, 5000));
  client.WaitUntilQuiet(200, 3000);
  ASSERT_TRUE(client.SendNumbers(kCcd, "CCD_EXPOSURE", {{"CCD_EXPOSURE_VALUE", 0.5}}, IndiStarted, 5000));
  ASSERT_TRUE(WaitUntil([&] { return client.BlobSequence(kCcd) > 0; }, 10000));
  const IndiBlob blob = client.LatestBlob(kCcd);
  ASSERT_EQ(blob.Format, ".fits");
  const ImageArrayData ours = DecodeIndiImage(blob.Bytes->data(), blob.Bytes->size(), blob.Format);

  void* memory = const_cast<std::uint8_t*>(blob.Bytes->data());
  size_t size = blob.Bytes->size();
  fitsfile* file = nullptr;
  int status = 0;
  fits_open_memfile(&file, "blob.fits", READONLY, &memory, &size, 0, nullptr, &status);
  long axes[2] = {0, 0};
  fits_get_img_size(file, 2, axes, &status);
  std::vector<unsigned short> theirs(static_cast<size_t>(axes[0] * axes[1]));
  fits_read_img(file, TUSHORT, 1, static_cast<LONGLONG>(theirs.size()), nullptr, theirs.data(), nullptr, &status);
  fits_close_file(file, &status);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(ours.Width, axes[0]);
  ASSERT_EQ(ours.Height, axes[1]);
  EXPECT_TRUE(std::equal(theirs.begin(), theirs.end(), ours.Pixels16.begin()));
}

}  // namespace
}  // namespace noctarbel::testing
