#pragma once
// The driver contract: what the station needs of a mount, camera, focuser and filter wheel,
// whichever backend drives them. The same cases run over the built-in simulators, the
// simulators served over Alpaca and the INDI simulator drivers; each backend's fixture
// starts what it needs and says what its devices are (sensor size, names, rates), and the
// cases compare against that. What a backend alone has is tested beside its fixture.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "astro/horizon.h"
#include "common/angles.h"
#include "astro/transforms.h"
#include "common/runtime.h"
#include "station/site_sky.h"
#include "tests/test_support.h"
#include "windows/station.h"
#include "windows/ui.h"

namespace noctarbel::testing {

// What the devices of a backend are, as the cases expect them.
struct BackendFacts {
  std::string MountText;  // in the mount's driver text
  int EquatorialSystem = kEquatorialJ2000;
  bool CanFindHome = true;
  double GuideRate = 0;  // degrees per second, before any is set
  double DriverParkAzimuth = 0;
  std::string CameraName;
  int SensorWidth = 0;
  int SensorHeight = 0;
  double PixelSize = 0;
  int RefusedBinning = 0;
  std::string BinningRefusal;  // in the error's text
  bool StopKeepsImage = false;  // a stopped exposure is read out (else it is dropped)
  bool HasCoolerPower = true;
  double FocuserHalfKelvin = 0;
  std::vector<std::string> FilterNames;
  std::vector<std::string> FilterOffsets;
  // The camera's sky: its scale, its turn on the side of the pier the plan runs on, and
  // where its focuser has best focus.
  double ArcsecPerPixel = 0;
  int CameraRotation = 0;
  int BestFocus = 0;
  // The V calibration's range about best focus, the HFD the autofocus run aims its first
  // move at, and how far from best focus the run starts.
  int VRange = 0;
  float AutofocusHfdLow = 0;
  int AutofocusStartOffset = 0;
};

// The devices of one backend: started by the fixture, chosen in a station's settings.
class DeviceBackend {
 public:
  virtual ~DeviceBackend() = default;
  virtual Runtime& Clock() = 0;
  // Makes the backend known to the station and puts its devices' identifiers in the settings.
  virtual void Choose(Station& station) = 0;
  // Made quicker where the devices allow it once connected.
  virtual void Connected() {}
  BackendFacts Facts;
};

struct BackendMaker {
  std::string Name;
  std::function<std::unique_ptr<DeviceBackend>()> Make;
};
// The backends this test program runs the contract over (defined beside their fixtures).
std::vector<BackendMaker> ContractBackends();
inline void PrintTo(const BackendMaker& maker, std::ostream* out) { *out << maker.Name; }
inline std::string BackendName(const ::testing::TestParamInfo<BackendMaker>& info) { return info.param.Name; }

class DeviceContractTest : public ::testing::TestWithParam<BackendMaker> {
 protected:
  DeviceContractTest()
      : backend(GetParam().Make()),
        facts(backend->Facts),
        clock(backend->Clock()),
        station(std::make_unique<Station>(clock, ui, StationPaths{dir.Path(), NOCTARBEL_SOURCE_DATA_DIR})) {
    station->Horizon = DefaultHorizonTable();
  }
  ~DeviceContractTest() override { station.reset(); }
  // The backend's devices in the settings (after anything that reads the settings file).
  void SetUp() override { backend->Choose(*station); }

  OperationContext Op() { return station->BeginOperation(); }
  // Waits on the station's clock until the test holds; false after `ms` of that clock.
  bool WaitUntil(const std::function<bool()>& test, int ms = 60000) {
    const DateTime end = clock.UtcNow() + ms / kMillisecondsPerDay;
    while (!test()) {
      if (clock.UtcNow() > end) return false;
      clock.Sleep(50);
    }
    return true;
  }
  void WaitWhileSlewing() {
    ASSERT_TRUE(WaitUntil([&] { return !station->Devices.Telescope->Slewing(); })) << "still slewing";
  }

  // The J2000 position that stands at the hour angle (hours) and declination now, and that
  // position as the mount reports it (of date or J2000).
  EquatorialPosition AtHourAngle(double hourAngle, double dec) {
    const double ra = std::fmod(StationSiderealTime(*station) - hourAngle + 48.0, 24.0);
    return DateToJ2000(ra, dec, JulianCenturiesSince2000(clock.LocalNow()));
  }
  EquatorialPosition OfDate(const EquatorialPosition& j2000) {
    return J2000ToDate(j2000.Ra, j2000.Dec, JulianCenturiesSince2000(clock.LocalNow()), 0);
  }
  EquatorialPosition AsReported(const EquatorialPosition& j2000) {
    return facts.EquatorialSystem == kEquatorialJ2000 ? j2000 : OfDate(j2000);
  }

  TempDir dir;
  ScriptedUi ui;
  std::unique_ptr<DeviceBackend> backend;
  const BackendFacts& facts;
  Runtime& clock;
  std::unique_ptr<Station> station;
};

// Angular distance in degrees between two positions (right ascensions in hours).
inline double Gap(double ra1, double dec1, double ra2, double dec2) {
  const double c = SinDeg(dec1) * SinDeg(dec2) + CosDeg(dec1) * CosDeg(dec2) * CosDeg((ra1 - ra2) * 15.0);
  return std::acos(std::clamp(c, -1.0, 1.0)) / kDegToRad;
}

}  // namespace noctarbel::testing
