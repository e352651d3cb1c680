// The contract's INDI backend: the shared indiserver with the simulator drivers, made quick
// (the CCD polls every 100 ms; once connected, the focuser steps ten times faster), on the real clock.

#include "common/event_runtime.h"
#include "tests/devices/contract/device_contract.h"
#include "tests/devices/indi/indi_fixture.h"

namespace noctarbel::testing {
namespace {

class IndiSimulators : public DeviceBackend {
 public:
  IndiSimulators() {
    BackendFacts& f = Facts;
    f.MountText = "indi_simulator_telescope";
    f.EquatorialSystem = kEquatorialOfDate;
    f.CanFindHome = false;
    f.GuideRate = 0.5 * 360.0 / 86164.0905;  // half the sidereal rate
    f.DriverParkAzimuth = 90;  // on the celestial equator at the east horizon
    f.CameraName = kCcd;
    f.SensorWidth = 1280;
    f.SensorHeight = 1024;
    f.PixelSize = 5.2;
    f.RefusedBinning = 3;
    f.BinningRefusal = "3x3 binning is not supported";
    f.HasCoolerPower = false;
    f.FocuserHalfKelvin = 546;  // 0 C
    f.FilterNames = {"Red", "Green", "Blue", "H_Alpha", "SII", "OIII", "LPR", "Luminance"};
    f.FilterOffsets = std::vector<std::string>(8, "0");
    // Found with the guiding test and centring; turned on the east side of the pier.
    f.ArcsecPerPixel = 1.19;
    f.CameraRotation = 90;
    // The simulator's V is flat at the tip (HFD 2.1 at 36700, 2.4 6000 steps off) and
    // rounded well up its flanks: the lines fitted to them meet some 7 px below its tip. The
    // run moves by the left line from its first measurement, so its target HFD lies out on
    // the flank, where its second measurement falls on the straight part; but within the
    // calibrated range, as beyond it the flank bends up again (HFD 20 measured 22.1 at some
    // hours, when the star field turns the brightest star into another).
    f.BestFocus = 36700;
    f.VRange = 30000;
    f.AutofocusHfdLow = 14;
    f.AutofocusStartOffset = 1500;
  }
  Runtime& Clock() override { return *clock_; }
  void Connected() override {
    SetDeviceNumbers(SharedIndiServer(), kFocuser, "DELAY", {{"DELAY_VALUE", 10}});
  }
  void Choose(Station& station) override {
    IndiTestServer& server = SharedIndiServer();
    SetDeviceNumbers(server, kCcd, "POLLING_PERIOD", {{"PERIOD_MS", 100}});
    SettingsRecord& s = station.Settings;
    s.TelescopeObject = AddressOn(server, kTelescope).Identifier();
    s.CameraObject = AddressOn(server, kCcd).Identifier();
    s.FocuserObject = AddressOn(server, kFocuser).Identifier();
    s.FilterwheelObject = AddressOn(server, kWheel).Identifier();
  }

 private:
  std::unique_ptr<EventRuntime> clock_ = EventRuntime::WithRealClock();
};

}  // namespace

std::vector<BackendMaker> ContractBackends() {
  return {{"Indi", [] { return std::make_unique<IndiSimulators>(); }}};
}

}  // namespace noctarbel::testing
