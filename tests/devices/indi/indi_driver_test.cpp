// What only the INDI drivers have, beside the contract the INDI test program runs over them:
// the site sent to the mount, the refused synchronous slew, the device's name in errors, the
// camera's reconnect and compressed images, the decoded BLOB against cfitsio's reading of
// the same bytes, the focuser's range and its relative (step) mode, the wheel's slots
// counted from 1 on the wire.

#include <fitsio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "devices/indi/indi_image.h"
#include "tests/devices/indi/indi_fixture.h"

namespace noctarbel::testing {
namespace {

int Brightest(const ImageArrayData& image) { return *std::max_element(image.Pixels16.begin(), image.Pixels16.end()); }

TEST_F(IndiStationTest, TheMountGetsTheSiteAndRefusesWhatWouldHoldTheStation) {
  core->Settings.TelescopeObject = Id(kTelescope);
  std::string error;
  ASSERT_TRUE(core->Mount.Connect(&error)) << error;
  auto scope = core->Devices.Telescope;
  EXPECT_THROW(scope->FindHome(), DeviceError);
  // A synchronous slew would hold the station's thread for the whole slew.
  scope->SetTargetRightAscension(1);
  scope->SetTargetDeclination(1);
  EXPECT_THROW(scope->SlewToTarget(), DeviceError);
  // The mount got the station's site, so its pier side agrees with the station's sky.
  IndiClient look(Address(kTelescope).Server, kTelescope);
  ASSERT_TRUE(look.WaitForProperty(kTelescope, {"GEOGRAPHIC_COORD"}, 5000));
  const auto site = look.Find(kTelescope, "GEOGRAPHIC_COORD");
  EXPECT_NEAR(site->Element("LAT")->Number, core->Settings.Gbreite, 1e-6);
  EXPECT_NEAR(site->Element("LONG")->Number, std::fmod(360.0 - core->Settings.Glaenge, 360.0), 1e-6);
  scope->SetConnected(false);
  try {
    scope->RightAscension();
    ADD_FAILURE() << "read while disconnected";
  } catch (const DeviceError& e) {
    EXPECT_STREQ(e.what(), "Telescope Simulator: not connected");
  }
  core->Mount.Disconnect();
}

TEST_F(IndiStationTest, CameraImagesStillArriveAfterReconnectingAndWhenCompressed) {
  SetDeviceNumbers(Server(), kCcd, "POLLING_PERIOD", {{"PERIOD_MS", 100}});
  auto camera = MakeIndiCamera(Address(kCcd));
  camera->SetConnected(true);
  EXPECT_NE(camera->Description().find("indi_simulator_ccd"), std::string::npos);
  EXPECT_THROW(camera->ElectronsPerAdu(), DeviceError);
  auto expose = [&](double seconds) {
    camera->SetBinX(2);
    camera->SetBinY(2);
    camera->SetNumX(640);
    camera->SetNumY(512);
    camera->StartExposure(seconds, true);
    EXPECT_TRUE(WaitUntil([&] { return camera->ImageReady(); }, 15000)) << "no image";
    return camera->ImageArray();
  };
  camera->SetConnected(false);
  EXPECT_FALSE(camera->Connected());
  camera->SetConnected(true);
  EXPECT_EQ(expose(0.2).Width, 640);

  SetDeviceSwitches(Server(), kCcd, "CCD_COMPRESSION", {{"INDI_ENABLED", true}, {"INDI_DISABLED", false}});
  const ImageArrayData packed = expose(1);
  SetDeviceSwitches(Server(), kCcd, "CCD_COMPRESSION", {{"INDI_ENABLED", false}, {"INDI_DISABLED", true}});
  EXPECT_EQ(packed.Width, 640);
  EXPECT_EQ(packed.Height, 512);
  EXPECT_GT(Brightest(packed), 500);
  camera->SetConnected(false);
}

// The decoder against cfitsio on the very bytes the driver sent.
TEST_F(IndiStationTest, DecodedBlobEqualsCfitsiosReading) {
  auto camera = MakeIndiCamera(Address(kCcd));
  camera->SetConnected(true);
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
  camera->SetConnected(false);
}

TEST_F(IndiStationTest, TheFocuserRefusesBeyondItsRangeAndMovesBySteps) {
  core->Settings.FocuserObject = Id(kFocuser);
  std::string error;
  ASSERT_TRUE(core->Focuser.Connect(&error)) << error;
  auto focuser = core->Devices.Focuser;
  OperationContext op = Op();
  ASSERT_TRUE(core->Focuser.MoveTo(op, 40000)) << core->Status();
  EXPECT_FALSE(core->Focuser.MoveTo(op, 100001));
  EXPECT_NE(core->Status().find("outside 0..100000"), std::string::npos) << core->Status();
  EXPECT_EQ(focuser->Position(), 40000);

  auto stepper = MakeIndiFocuser(Address(kFocuser), true);
  stepper->SetLink(true);
  EXPECT_FALSE(stepper->Absolute());
  stepper->Move(-1500);  // inward
  EXPECT_TRUE(WaitUntil([&] { return focuser->Position() == 38500; }, 5000)) << focuser->Position();
  stepper->Move(700);
  EXPECT_TRUE(WaitUntil([&] { return focuser->Position() == 39200; }, 5000)) << focuser->Position();
  // The station's move of a relative focuser: the difference to the target, from where the
  // stepper's own connection has the focuser (each connection hears the server on its own,
  // and the driver answers the move a moment before it reports the new position).
  ASSERT_TRUE(WaitUntil([&] { return stepper->Position() == 39200; }, 5000)) << stepper->Position();
  core->Devices.Focuser = std::move(stepper);
  ASSERT_TRUE(core->Focuser.MoveTo(op, 37000)) << core->Status();
  EXPECT_EQ(focuser->Position(), 37000);
  core->Focuser.Disconnect();
}

TEST_F(IndiStationTest, TheWheelCountsFromOneOnTheWire) {
  core->Settings.FilterwheelObject = Id(kWheel);
  OperationContext op = Op();
  std::string error;
  ASSERT_GE(core->FilterWheel.Connect(op, &error), 0) << error;
  ASSERT_TRUE(core->FilterWheel.Select(op, 3)) << core->Status();
  IndiClient look(Address(kWheel).Server, kWheel);
  ASSERT_TRUE(look.WaitForProperty(kWheel, {"FILTER_SLOT"}, 5000));
  EXPECT_EQ(look.Find(kWheel, "FILTER_SLOT")->Element("FILTER_SLOT_VALUE")->Number, 4);
  core->FilterWheel.Disconnect();
}

}  // namespace
}  // namespace noctarbel::testing
