#pragma once
// A station on the virtual clock with the roof controller (and the sensor) emulated on
// pseudo-terminals. The emulator's roof follows the virtual clock through a mirror the
// station's timers keep current, so a 16-second motor time-out costs no real time.

#include <atomic>
#include <memory>

#include "windows/observatory_window.h"
#include "roof_emulator.h"
#include "tests/operations/device_fixture.h"

namespace noctarbel::testing {

using roofsim::PtyEmulator;
using roofsim::RoofConfig;
using roofsim::RoofFault;

class ObservatoryTest : public DeviceFixture {
 protected:
  ObservatoryTest() {
    Settings().EnableObservatoryControl = true;
    mirror_ = clock->AddTimer(50, [this] { virtualSeconds_ = clock->NowMs() / 1000.0; });
    clock->SetTimerEnabled(mirror_, true);
  }
  ~ObservatoryTest() override {
    roof_.reset();
    sensor_.reset();
    clock->RemoveTimer(mirror_);
  }

  PtyEmulator& StartRoof(RoofConfig config) {
    roof_ = PtyEmulator::Roof(config, [this] { return virtualSeconds_.load(); });
    station->Observatory.ControllerPathOverride = roof_->Path();
    return *roof_;
  }

  PtyEmulator& StartSensor() {
    roofsim::SensorConfig config;
    config.IntervalSeconds = 0.05;
    sensor_ = PtyEmulator::Sensor(config);
    Settings().TempComport1 = 2;
    station->Observatory.SensorPathOverride = sensor_->Path();
    return *sensor_;
  }

  void StatusTick() { StatusTimerTimer(*station); }
  bool ConnectObservatoryNow() {
    OperationContext op = station->BeginOperation();
    return station->Observatory.ConnectObservatory(op);
  }

  std::atomic<double> virtualSeconds_{0};
  Runtime::TimerId mirror_ = 0;
  std::unique_ptr<PtyEmulator> roof_;
  std::unique_ptr<PtyEmulator> sensor_;
};

}  // namespace noctarbel::testing
