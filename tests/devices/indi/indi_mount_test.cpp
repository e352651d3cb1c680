// The INDI telescope simulator driven through the station's mount operations and the driver:
// goto with the horizon refusal and the J2000 -> date conversion, pier side, alt/az slews and
// both kinds of park, tracking, pulse guiding, guide rates, sync and abort.

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "windows/astro_window.h"
#include "astro/transforms.h"
#include "tests/devices/indi/indi_fixture.h"

namespace noctarbel::testing {
namespace {

constexpr double kSiderealDegPerSecond = 360.0 / 86164.0905;

double Gap(double raHours1, double dec1, double raHours2, double dec2) {
  const double c = SinDeg(dec1) * SinDeg(dec2) + CosDeg(dec1) * CosDeg(dec2) * CosDeg((raHours1 - raHours2) * 15.0);
  return std::acos(std::clamp(c, -1.0, 1.0)) * 180.0 / 3.14159265358979323846;
}

class IndiMountTest : public IndiStationTest {
 protected:
  void SetUp() override {
    core->Settings.TelescopeObject = Id(kTelescope);
    std::string error;
    ASSERT_TRUE(core->Mount.Connect(&error)) << error;
    scope = core->Devices.Telescope;
  }
  void TearDown() override { core->Mount.Disconnect(); }

  // The J2000 position that stands at the hour angle (hours) and declination now.
  EquatorialPosition AtHourAngle(double hourAngle, double dec) {
    const double lst = StationSiderealTime(*core);
    double ra = std::fmod(lst - hourAngle + 48.0, 24.0);
    return DateToJ2000(ra, dec, JulianCenturiesSince2000(clock->LocalNow()));
  }
  EquatorialPosition OfDate(const EquatorialPosition& j2000) {
    return J2000ToDate(j2000.Ra, j2000.Dec, JulianCenturiesSince2000(clock->LocalNow()), 0);
  }
  void Goto(const EquatorialPosition& j2000) {
    ASSERT_EQ(core->Mount.GotoJ2000(j2000.Ra, j2000.Dec), GotoOutcome::Sent) << core->Status();
    EXPECT_TRUE(scope->Slewing());
    WaitWhileSlewing(*scope);
  }
  void Sleep(int ms) { clock->Sleep(ms); }

  std::shared_ptr<ITelescope> scope;
};

TEST_F(IndiMountTest, ConnectsWithTheStationsSiteAndDescribesItself) {
  EXPECT_TRUE(core->Mount.Connected());
  const std::string text = core->Mount.DriverText();
  EXPECT_NE(text.find("Telescope Simulator"), std::string::npos) << text;
  EXPECT_NE(text.find("indi_simulator_telescope"), std::string::npos) << text;
  EXPECT_EQ(scope->EquatorialSystem(), kEquatorialOfDate);
  EXPECT_FALSE(scope->CanFindHome());
  EXPECT_THROW(scope->FindHome(), DeviceError);
  EXPECT_TRUE(scope->CanSetTracking());
  EXPECT_TRUE(scope->CanSetGuideRates());
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
  EXPECT_FALSE(scope->Connected());
  try {
    scope->RightAscension();
    ADD_FAILURE() << "read while disconnected";
  } catch (const DeviceError& e) {
    EXPECT_STREQ(e.what(), "Telescope Simulator: not connected");
  }
  scope->SetConnected(true);
  EXPECT_TRUE(scope->Connected());
  EXPECT_GE(scope->Declination(), -90.0);
}

TEST_F(IndiMountTest, GotoRefusesBelowTheHorizonAndSlewsToThePositionOfDate) {
  const double decBefore = scope->Declination();
  const EquatorialPosition low = AtHourAngle(0, -60);  // 20 degrees below the horizon
  EXPECT_EQ(core->Mount.GotoJ2000(low.Ra, low.Dec), GotoOutcome::BelowHorizon);
  Sleep(500);
  EXPECT_FALSE(scope->Slewing());
  EXPECT_NEAR(scope->Declination(), decBefore, 1e-6);

  // West of the meridian the tube stands east of the pier; the mount got the date's place.
  const EquatorialPosition west = AtHourAngle(1.5, 25);
  Goto(west);
  const EquatorialPosition wanted = OfDate(west);
  EXPECT_LT(Gap(scope->RightAscension(), scope->Declination(), wanted.Ra, wanted.Dec), 0.005);
  EXPECT_GT(Gap(wanted.Ra, wanted.Dec, west.Ra, west.Dec), 0.05);  // the conversion mattered
  EXPECT_TRUE(scope->Tracking());
  EXPECT_EQ(scope->SideOfPier(), PierSide::East);
  const auto status = core->Mount.ReadStatus();
  ASSERT_TRUE(status);
  EXPECT_EQ(status->Side, PierSide::East);

  Goto(AtHourAngle(-1.5, 25));
  EXPECT_EQ(scope->SideOfPier(), PierSide::West);
}

TEST_F(IndiMountTest, AltAzSlewsAndBothParksEndAtThePlacedPosition) {
  // The station's own park: an alt/az slew converted with the station's transforms.
  core->Settings.ParkMethod = 1;
  core->Settings.Park1Az = 120;
  core->Settings.Park1Alt = 35;
  OperationContext op = Op();
  ASSERT_TRUE(core->Mount.GotoParkPosition1(op)) << core->Status();
  auto [azimuth, altitude] = core->Mount.AzimuthAltitude();
  EXPECT_NEAR(azimuth, 120, 0.1);
  EXPECT_NEAR(altitude, 35, 0.1);
  EXPECT_FALSE(scope->Tracking());
  Sleep(2000);  // not tracking: it stays put in alt/az
  EXPECT_NEAR(scope->Altitude(), 35, 0.05);

  // The driver's park: the simulator parks on the celestial equator at the east horizon.
  core->Settings.ParkMethod = 0;
  core->Settings.Park1Az = 90;
  core->Settings.Park1Alt = 0;
  ASSERT_TRUE(core->Mount.GotoParkPosition1(op)) << core->Status();
  EXPECT_FALSE(scope->Tracking());

  // A goto unparks the parked mount (the station has no Unpark of its own).
  Goto(AtHourAngle(-2, 10));
  EXPECT_TRUE(scope->Tracking());
}

TEST_F(IndiMountTest, TrackingPulseGuidingAndGuideRates) {
  Goto(AtHourAngle(1, 10));

  const double rate = scope->GuideRateRightAscension();
  EXPECT_NEAR(rate, 0.5 * kSiderealDegPerSecond, 1e-6);  // the simulator's 0.5 x sidereal
  scope->SetGuideRateDeclination(0.003);
  EXPECT_NEAR(scope->GuideRateDeclination(), 0.003, 1e-6);
  EXPECT_THROW(scope->SetGuideRateRightAscension(1.0), DeviceError);  // 240 x sidereal
  scope->SetGuideRateDeclination(rate);

  // A 2 s pulse at 0.5 x sidereal moves the pointing by 15 arc seconds.
  const double step = 2.0 * rate;
  double dec = scope->Declination();
  scope->PulseGuide(kGuideNorth, 2000);
  Sleep(2600);
  const double moved = scope->Declination() - dec;
  EXPECT_NEAR(std::abs(moved), step, step * 0.25);
  scope->PulseGuide(kGuideSouth, 2000);
  Sleep(2600);
  EXPECT_NEAR(scope->Declination(), dec, step * 0.25);

  double ra = scope->RightAscension();
  scope->PulseGuide(kGuideWest, 2000);
  Sleep(2600);
  EXPECT_NEAR(std::abs(scope->RightAscension() - ra) * 15.0, step, step * 0.4);
  EXPECT_THROW(scope->PulseGuide(4, 100), DeviceError);

  // Not tracking, the pointing stays in the sky's frame no longer: right ascension runs on.
  scope->SetTracking(false);
  EXPECT_FALSE(scope->Tracking());
  ra = scope->RightAscension();
  Sleep(3000);
  EXPECT_NEAR((scope->RightAscension() - ra) * 3600.0, 3.0, 0.6);
  scope->SetTracking(true);
  EXPECT_TRUE(scope->Tracking());
  ra = scope->RightAscension();
  Sleep(2000);
  EXPECT_NEAR(scope->RightAscension(), ra, 0.2 / 3600.0);
}

TEST_F(IndiMountTest, SyncTakesThePositionAndTheNextGotoSlewsAgainUntilAborted) {
  const EquatorialPosition here = OfDate(AtHourAngle(1, 10));
  Goto(AtHourAngle(1, 10));
  scope->SyncToCoordinates(here.Ra + 0.05, here.Dec + 0.3);
  EXPECT_NEAR(scope->RightAscension(), here.Ra + 0.05, 0.001);
  EXPECT_NEAR(scope->Declination(), here.Dec + 0.3, 0.01);

  // After a sync the mount must not take the next target as another sync.
  const EquatorialPosition far = AtHourAngle(3, 40);
  ASSERT_EQ(core->Mount.GotoJ2000(far.Ra, far.Dec), GotoOutcome::Sent) << core->Status();
  EXPECT_TRUE(scope->Slewing());
  Sleep(1000);
  core->Mount.AbortSlew();
  EXPECT_TRUE(WaitUntil([&] { return !scope->Slewing(); }, 2000));
  const EquatorialPosition wanted = OfDate(far);
  EXPECT_GT(Gap(scope->RightAscension(), scope->Declination(), wanted.Ra, wanted.Dec), 5.0);
}

}  // namespace
}  // namespace noctarbel::testing
