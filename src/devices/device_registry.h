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
struct SimWorld;

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

// What a driver gets when it is made: the station's clock and site, and the simulated world
// the built-in simulators share.
struct DeviceContext {
  Runtime& Clock;
  SimWorld& World;
  SiteLocation Site;
};

// One family of drivers. A backend that has no driver of a type keeps the default, which
// refuses.
class DeviceBackend {
 public:
  virtual ~DeviceBackend() = default;
  // The identifiers' prefix before ":", lower case ("sim", "indi", "alpaca").
  virtual std::string Scheme() const = 0;
  virtual std::vector<DeviceChoice> Choices(DeviceType type) const = 0;
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
  std::vector<DeviceChoice> Choices(DeviceType type) const;
  std::vector<std::string> Schemes() const;

  // Throw DeviceError when no backend serves the identifier or the backend refuses it.
  std::unique_ptr<ITelescope> CreateTelescope(const std::string& identifier, DeviceContext& context) const;
  std::unique_ptr<ICamera> CreateCamera(const std::string& identifier, DeviceContext& context) const;
  std::unique_ptr<IFocuser> CreateFocuser(const std::string& identifier, DeviceContext& context) const;
  std::unique_ptr<IFilterWheel> CreateFilterWheel(const std::string& identifier, DeviceContext& context) const;

 private:
  DeviceBackend& BackendFor(const std::string& identifier) const;

  std::vector<std::unique_ptr<DeviceBackend>> backends_;
};

// The registry every station starts with: the built-in simulators. Network backends add
// themselves with Add().
DeviceRegistry MakeDefaultDeviceRegistry();

}  // namespace noctarbel
