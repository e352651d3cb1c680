#pragma once
// Which drivers can be chosen and how a driver is made from its identifier. An identifier
// names its backend before the first ":" ("sim:telescope", "indi://HOST:PORT/DEVICE NAME",
// "alpaca://HOST:PORT/TYPE/N"); each backend registers itself under that scheme, so callers
// never depend on a particular backend.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "astro/transforms.h"
#include "devices/device_interfaces.h"

namespace noctarbel {

class Runtime;

enum class DeviceType { Telescope, Camera, Focuser, FilterWheel };

// The chooser's device type names: "Telescope", "Camera", "Focuser", "Filterwheel".
const char* DeviceTypeName(DeviceType type);
// Case-insensitive; also accepts "FilterWheel".
std::optional<DeviceType> DeviceTypeFromName(std::string_view name);
const std::vector<DeviceType>& AllDeviceTypes();

struct DeviceChoice {
  std::string Identifier;
  std::string Description;
};

// Where the network backends look for devices: the station's "IndiServers" and
// "AlpacaHosts" settings as they stand.
struct DeviceServers {
  std::string IndiServers;
  std::string AlpacaHosts;
};

// What a backend gets when it lists or makes drivers: the station's clock, site and the
// servers to ask. Nothing of a particular backend: the simulated world belongs to the
// simulator backend.
struct DeviceContext {
  Runtime& Clock;
  SiteLocation Site;
  DeviceServers Servers;
};

// One family of drivers. A backend that has no driver of a type keeps the default, which
// refuses.
//
// The rules every backend keeps:
// - A driver call never blocks the station's thread without bound. The station runs its
//   timers (the rain emergency above all) between the calls of its waits, so a call that
//   hangs on a dead network device would hang the observatory's safety with it. Network
//   backends therefore answer reads from a cache their own thread keeps, or make each call
//   with a short time-out, and report a lost device as DeviceError within seconds.
// - A driver call does not pump the station's runtime while it waits (for a reply, or for a
//   property to be confirmed): the operations do their waiting between calls, under their
//   operation context. An emergency that ran inside a call would find the calling operation
//   in the middle of a command sequence whose next command then goes out regardless.
//   Long device activities (slews, exposures, moves) are started by one call and watched by
//   the operation through reads (Slewing, ImageReady, Position).
// - Drivers are called on the station's thread only; a backend's own threads hand their
//   data over under a lock.
class DeviceBackend {
 public:
  virtual ~DeviceBackend() = default;
  // The identifiers' prefix before ":", lower case ("sim", "indi", "alpaca").
  virtual std::string Scheme() const = 0;
  // The drivers of a type this backend can offer now (a network backend asks its servers).
  virtual std::vector<DeviceChoice> Choices(DeviceType type, const DeviceContext& context) const = 0;
  virtual std::unique_ptr<ITelescope> CreateTelescope(const std::string& identifier, DeviceContext& context);
  virtual std::unique_ptr<ICamera> CreateCamera(const std::string& identifier, DeviceContext& context);
  virtual std::unique_ptr<IFocuser> CreateFocuser(const std::string& identifier, DeviceContext& context);
  virtual std::unique_ptr<IFilterWheel> CreateFilterWheel(const std::string& identifier, DeviceContext& context);
};

// The scheme of an identifier, lower case; empty when it has none.
std::string IdentifierScheme(std::string_view identifier);

class DeviceRegistry {
 public:
  // A backend with the scheme of one already added replaces it.
  void Add(std::unique_ptr<DeviceBackend> backend);
  // Every backend's choices for the type, in the order the backends were added.
  std::vector<DeviceChoice> Choices(DeviceType type, const DeviceContext& context) const;
  std::vector<std::string> Schemes() const;
  // The backend registered for a scheme; nullptr when there is none.
  DeviceBackend* Backend(const std::string& scheme) const;

  // Throw DeviceError when no backend serves the identifier or the backend refuses it.
  std::unique_ptr<ITelescope> CreateTelescope(const std::string& identifier, DeviceContext& context) const;
  std::unique_ptr<ICamera> CreateCamera(const std::string& identifier, DeviceContext& context) const;
  std::unique_ptr<IFocuser> CreateFocuser(const std::string& identifier, DeviceContext& context) const;
  std::unique_ptr<IFilterWheel> CreateFilterWheel(const std::string& identifier, DeviceContext& context) const;

 private:
  DeviceBackend& BackendFor(const std::string& identifier) const;

  std::vector<std::unique_ptr<DeviceBackend>> backends_;
};

// The registry every station starts with, in this order: the built-in simulators ("sim"),
// INDI ("indi", in programs built with the INDI client library) and Alpaca ("alpaca"). A
// backend added later under one of these schemes replaces it (tests give Alpaca shorter
// time-outs and no discovery that way).
DeviceRegistry MakeDefaultDeviceRegistry();

}  // namespace noctarbel
