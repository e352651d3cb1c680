#include "devices/device_registry.h"

#include <algorithm>

#include "common/number_text.h"
#include "devices/alpaca/alpaca_backend.h"
#include "devices/sim/sim_devices.h"

#ifdef NOCTARBEL_WITH_INDI
#include "devices/indi/indi_backend.h"
#endif

namespace noctarbel {

namespace {

[[noreturn]] void Refuse(const std::string& identifier, DeviceType type) {
  throw DeviceError("\"" + identifier + "\" is not a " + ToLowerAscii(DeviceTypeName(type)) + " driver");
}

}  // namespace

const char* DeviceTypeName(DeviceType type) {
  switch (type) {
    case DeviceType::Telescope:
      return "Telescope";
    case DeviceType::Camera:
      return "Camera";
    case DeviceType::Focuser:
      return "Focuser";
    case DeviceType::FilterWheel:
      return "Filterwheel";
  }
  return "";
}

std::optional<DeviceType> DeviceTypeFromName(std::string_view name) {
  for (DeviceType type : AllDeviceTypes()) {
    if (EqualsIgnoreCase(name, DeviceTypeName(type))) return type;
  }
  if (EqualsIgnoreCase(name, "FilterWheel") || EqualsIgnoreCase(name, "Filter wheel")) return DeviceType::FilterWheel;
  return std::nullopt;
}

const std::vector<DeviceType>& AllDeviceTypes() {
  static const std::vector<DeviceType> types = {DeviceType::Telescope, DeviceType::Camera, DeviceType::Focuser,
                                                DeviceType::FilterWheel};
  return types;
}

std::unique_ptr<ITelescope> DeviceBackend::CreateTelescope(const std::string& identifier, DeviceContext&) {
  Refuse(identifier, DeviceType::Telescope);
}
std::unique_ptr<ICamera> DeviceBackend::CreateCamera(const std::string& identifier, DeviceContext&) {
  Refuse(identifier, DeviceType::Camera);
}
std::unique_ptr<IFocuser> DeviceBackend::CreateFocuser(const std::string& identifier, DeviceContext&) {
  Refuse(identifier, DeviceType::Focuser);
}
std::unique_ptr<IFilterWheel> DeviceBackend::CreateFilterWheel(const std::string& identifier, DeviceContext&) {
  Refuse(identifier, DeviceType::FilterWheel);
}

std::string IdentifierScheme(std::string_view identifier) {
  identifier = TrimBlanks(identifier);
  const size_t colon = identifier.find(':');
  if (colon == std::string_view::npos || colon == 0) return {};
  return ToLowerAscii(identifier.substr(0, colon));
}

void DeviceRegistry::Add(std::unique_ptr<DeviceBackend> backend) {
  if (!backend) return;
  for (auto& existing : backends_) {
    if (existing->Scheme() == backend->Scheme()) {
      existing = std::move(backend);
      return;
    }
  }
  backends_.push_back(std::move(backend));
}

std::vector<DeviceChoice> DeviceRegistry::Choices(DeviceType type, const DeviceContext& context) const {
  std::vector<DeviceChoice> all;
  for (const auto& backend : backends_) {
    // A backend that cannot list its devices now (a server down) offers none.
    try {
      for (auto& choice : backend->Choices(type, context)) all.push_back(std::move(choice));
    } catch (const std::exception&) {
    }
  }
  return all;
}

std::vector<std::string> DeviceRegistry::Schemes() const {
  std::vector<std::string> schemes;
  for (const auto& backend : backends_) schemes.push_back(backend->Scheme());
  return schemes;
}

DeviceBackend* DeviceRegistry::Backend(const std::string& scheme) const {
  for (const auto& backend : backends_) {
    if (backend->Scheme() == scheme) return backend.get();
  }
  return nullptr;
}

DeviceBackend& DeviceRegistry::BackendFor(const std::string& identifier) const {
  const std::string scheme = IdentifierScheme(identifier);
  for (const auto& backend : backends_) {
    if (backend->Scheme() == scheme) return *backend;
  }
  if (TrimBlanks(identifier).empty()) throw DeviceError("No driver chosen");
  throw DeviceError("No driver for \"" + identifier + "\"");
}

std::unique_ptr<ITelescope> DeviceRegistry::CreateTelescope(const std::string& identifier,
                                                            DeviceContext& context) const {
  return BackendFor(identifier).CreateTelescope(identifier, context);
}

std::unique_ptr<ICamera> DeviceRegistry::CreateCamera(const std::string& identifier, DeviceContext& context) const {
  return BackendFor(identifier).CreateCamera(identifier, context);
}

std::unique_ptr<IFocuser> DeviceRegistry::CreateFocuser(const std::string& identifier, DeviceContext& context) const {
  return BackendFor(identifier).CreateFocuser(identifier, context);
}

std::unique_ptr<IFilterWheel> DeviceRegistry::CreateFilterWheel(const std::string& identifier,
                                                                DeviceContext& context) const {
  return BackendFor(identifier).CreateFilterWheel(identifier, context);
}

DeviceRegistry MakeDefaultDeviceRegistry() {
  DeviceRegistry registry;
  registry.Add(MakeSimulatorBackend());
#ifdef NOCTARBEL_WITH_INDI
  registry.Add(MakeIndiBackend());
#endif
  registry.Add(MakeAlpacaBackend());
  return registry;
}

}  // namespace noctarbel
