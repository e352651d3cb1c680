// The focuser's and the filter wheel's members over their simulators. The focuser reports
// degrees Celsius here (the simulator counts half kelvins) and has no temperature
// compensation; Halt stops it where it stands.

#include <cstdlib>

#include "devices/alpaca/server/member_table.h"
#include "devices/alpaca/server/sim_host.h"

namespace noctarbel::alpaca {

namespace {

IFocuser& Driver(SimDevices& d) {
  RequireConnected(d.Focuser->Link(), "focuser");
  return *d.Focuser;
}
FocuserModel& Focuser(SimDevices& d) {
  Driver(d);
  return d.World().Focuser;
}
IFilterWheel& WheelDriver(SimDevices& d) {
  RequireConnected(d.FilterWheel->Connected(), "filter wheel");
  return *d.FilterWheel;
}
FilterWheelModel& Wheel(SimDevices& d) {
  WheelDriver(d);
  return d.World().Wheel;
}

}  // namespace

MemberTable FocuserMembers() {
  MemberTable t;
  CommonInfo common;
  common.Connected = [](SimDevices& d) { return d.Focuser->Link(); };
  common.SetConnected = [](SimDevices& d, bool on) { d.Focuser->SetLink(on); };
  common.Name = [](SimDevices& d) { return d.World().Focuser.Config.Description; };
  common.Description = [](SimDevices& d) { return d.World().Focuser.Config.Description; };
  common.DriverInfo = [](SimDevices& d) {
    return d.World().Focuser.Config.Description + ", served by noctarbel-alpaca";
  };
  common.DriverVersion = [](SimDevices&) { return std::string("1.0"); };
  common.InterfaceVersion = 3;
  AddCommonMembers(t, common);

  t["absolute"].Get = Value([](SimDevices& d) { return Driver(d).Absolute(); });
  t["ismoving"].Get = Value([](SimDevices& d) { return Focuser(d).Moving(); });
  t["maxstep"].Get = Value([](SimDevices& d) { return Focuser(d).Config.MaxStep; });
  t["maxincrement"].Get = Value([](SimDevices& d) { return Focuser(d).Config.MaxStep; });
  t["position"].Get = Value([](SimDevices& d) { return Driver(d).Position(); });
  t["stepsize"].Get = NotImplementedGet("StepSize");
  t["tempcompavailable"].Get = Value([](SimDevices& d) {
    Driver(d);
    return false;
  });
  t["tempcomp"].Get = Value([](SimDevices& d) {
    Driver(d);
    return false;
  });
  t["tempcomp"].Put = [](SimDevices& d, const CallParams& p) {
    const bool on = p.Bool("TempComp");
    Driver(d);
    if (on) throw Fault(kNotImplemented, "This focuser has no temperature compensation");
  };
  t["temperature"].Get = Value([](SimDevices& d) { return Driver(d).Temperature() * 0.5 - 273.0; });
  t["halt"].Put = [](SimDevices& d, const CallParams&) {
    if (!Focuser(d).Moving()) return;
    Driver(d).Move(Driver(d).Absolute() ? Driver(d).Position() : 0);
  };
  t["move"].Put = [](SimDevices& d, const CallParams& p) {
    const int value = p.Int("Position");
    const int maxStep = Focuser(d).Config.MaxStep;
    if (Driver(d).Absolute()) {
      CheckRange(value, 0, maxStep, "Position");
    } else {
      CheckRange(value, -maxStep, maxStep, "Position");
    }
    Driver(d).Move(value);
  };
  return t;
}

MemberTable FilterWheelMembers() {
  MemberTable t;
  CommonInfo common;
  common.Connected = [](SimDevices& d) { return d.FilterWheel->Connected(); };
  common.SetConnected = [](SimDevices& d, bool on) { d.FilterWheel->SetConnected(on); };
  common.Name = [](SimDevices& d) { return d.World().Wheel.Config.Description; };
  common.Description = [](SimDevices& d) { return d.World().Wheel.Config.Description; };
  common.DriverInfo = [](SimDevices& d) { return d.World().Wheel.Config.Description + ", served by noctarbel-alpaca"; };
  common.DriverVersion = [](SimDevices&) { return std::string("1.0"); };
  common.InterfaceVersion = 2;
  AddCommonMembers(t, common);

  t["names"].Get = Value([](SimDevices& d) { return WheelDriver(d).Names(); });
  t["focusoffsets"].Get = Value([](SimDevices& d) { return WheelDriver(d).FocusOffsets(); });
  t["position"].Get = Value([](SimDevices& d) { return WheelDriver(d).Position(); });
  t["position"].Put = [](SimDevices& d, const CallParams& p) {
    const int slot = p.Int("Position");
    CheckRange(slot, 0, Wheel(d).SlotCount() - 1, "Position");
    WheelDriver(d).SetPosition(slot);
  };
  return t;
}

}  // namespace noctarbel::alpaca
