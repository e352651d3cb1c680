#include "devices/indi/indi_client.h"

#include <libindi/baseclient.h>
#include <libindi/basedevice.h>
#include <libindi/indiproperty.h>
#include <libindi/indipropertynumber.h>
#include <libindi/indipropertyswitch.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>

#include "common/number_text.h"
#include "devices/device_interfaces.h"

// The client library writes its diagnostics ("creating new connection...", protocol
// complaints) straight to standard error, which belongs to the station's own one-line
// messages. Defining the library's logging function here takes the place of its own (the
// dynamic linker binds the library's calls to the program's definition); what matters to the
// station arrives as device messages and property states.
extern "C" void IDLog(const char*, ...) {}

namespace noctarbel {

namespace {

using SteadyClock = std::chrono::steady_clock;

IndiState StateOf(IPState state) {
  switch (state) {
    case IPS_OK:
      return IndiState::Ok;
    case IPS_BUSY:
      return IndiState::Busy;
    case IPS_ALERT:
      return IndiState::Alert;
    case IPS_IDLE:
      break;
  }
  return IndiState::Idle;
}

// A copy of everything the station may read of a property; BLOB contents are kept apart.
IndiProperty Snapshot(const INDI::Property& property) {
  IndiProperty copy;
  copy.Name = property.getName();
  copy.State = StateOf(property.getState());
  copy.Writable = property.getPermission() != IP_RO;
  switch (property.getType()) {
    case INDI_NUMBER:
      copy.Kind = IndiKind::Number;
      for (const auto& e : *property.getNumber()) {
        IndiElement element;
        element.Name = e.getName();
        element.Number = e.getValue();
        element.Min = e.getMin();
        element.Max = e.getMax();
        copy.Elements.push_back(std::move(element));
      }
      break;
    case INDI_SWITCH:
      copy.Kind = IndiKind::Switch;
      for (const auto& e : *property.getSwitch()) {
        IndiElement element;
        element.Name = e.getName();
        element.On = e.getState() == ISS_ON;
        copy.Elements.push_back(std::move(element));
      }
      break;
    case INDI_TEXT:
      copy.Kind = IndiKind::Text;
      for (const auto& e : *property.getText()) {
        IndiElement element;
        element.Name = e.getName();
        element.Text = e.getText() ? e.getText() : "";
        copy.Elements.push_back(std::move(element));
      }
      break;
    case INDI_LIGHT:
      copy.Kind = IndiKind::Light;
      for (const auto& e : *property.getLight()) {
        IndiElement element;
        element.Name = e.getName();
        element.On = e.getState() == IPS_OK;
        copy.Elements.push_back(std::move(element));
      }
      break;
    case INDI_BLOB:
    case INDI_UNKNOWN:
      copy.Kind = IndiKind::Blob;
      break;
  }
  return copy;
}

// Device messages come as "2026-12-06T21:19:38: [ERROR] text "; the time stamp is the
// server's and says nothing the station's log does not.
std::string WithoutTimestamp(const std::string& message) {
  std::string_view text = message;
  const size_t mark = text.find(": ");
  if (mark == 19 && text.size() > 21 && text[4] == '-' && text[10] == 'T') text.remove_prefix(21);
  return std::string(TrimBlanks(text));
}

std::string MessageSuffix(const std::string& message) {
  return message.empty() ? std::string() : " (last message: " + message + ")";
}

}  // namespace

const IndiElement* IndiProperty::Element(const std::string& name) const {
  for (const auto& element : Elements) {
    if (element.Name == name) return &element;
  }
  return nullptr;
}

IndiVerdict IndiAnswered(const IndiProperty& property) {
  return property.State == IndiState::Alert ? IndiVerdict::Refused : IndiVerdict::Done;
}

IndiVerdict IndiCompleted(const IndiProperty& property) {
  switch (property.State) {
    case IndiState::Alert:
      return IndiVerdict::Refused;
    case IndiState::Busy:
      return IndiVerdict::Wait;
    case IndiState::Ok:
    case IndiState::Idle:
      break;
  }
  return IndiVerdict::Done;
}

IndiVerdict IndiStarted(const IndiProperty& property) {
  switch (property.State) {
    case IndiState::Alert:
      return IndiVerdict::Refused;
    case IndiState::Busy:
    case IndiState::Ok:
      return IndiVerdict::Done;
    case IndiState::Idle:
      break;
  }
  return IndiVerdict::Wait;
}

// Everything the library's thread hands to the station's thread, under one lock.
struct IndiClient::State {
  struct Device {
    std::map<std::string, IndiProperty> Properties;
    IndiBlob Blob;
    std::string LastMessage;
    std::uint64_t Messages = 0;
    bool Gone = false;
  };
  // A command in flight: every update of its property is queued here for the waiting thread,
  // so that a quick Busy -> Ok is not seen as Ok alone.
  struct Watch {
    std::string Device;
    std::string Property;
    std::deque<IndiProperty> Updates;
  };

  std::mutex Mutex;
  std::condition_variable Changed;
  // The library writes a message to the server in many pieces and guards none of its
  // writers: the library's thread (BLOB modes) and the station's (commands, pings) take this
  // for every message, or their pieces interleave and the server reads garbage (a CONNECT
  // sent while the library turned a deleted BLOB off was lost that way).
  std::mutex Sending;
  std::string BlobDevice;
  std::string BlobProperty;
  std::map<std::string, Device> Devices;
  std::string ServerMessage;
  bool Lost = false;
  SteadyClock::time_point LastHeard = SteadyClock::now();
  SteadyClock::time_point LastDefinition = SteadyClock::now();
  std::optional<SteadyClock::time_point> PingSent;
  std::uint64_t Pings = 0;
  int ExtraPingAnswerMs = 0;
  std::vector<Watch*> Watches;

  void Heard() { LastHeard = SteadyClock::now(); }
};

// The library's client: its callbacks run on the library's thread and only copy into State.
class IndiClient::Client : public INDI::BaseClient {
 public:
  explicit Client(std::shared_ptr<State> state) : state_(std::move(state)) {}

 protected:
  void newProperty(INDI::Property property) override {
    Store(property, true);
    // Images are asked for only once the server has told the BLOB property, and from this
    // thread, which is the one that reads the library's BLOB settings.
    if (IsTheBlob(property)) SetBlobMode(B_ALSO, property);
  }

  void updateProperty(INDI::Property property) override {
    if (IsTheBlob(property)) StoreBlob(property);
    Store(property, false);
  }

  void removeProperty(INDI::Property property) override {
    {
      std::lock_guard lock(state_->Mutex);
      state_->Heard();
      state_->Devices[property.getDeviceName()].Properties.erase(property.getName());
    }
    state_->Changed.notify_all();
    // A property defined again after a reconnection must be asked for again.
    if (IsTheBlob(property)) SetBlobMode(B_NEVER, property);
  }

  void removeDevice(INDI::BaseDevice device) override {
    {
      std::lock_guard lock(state_->Mutex);
      state_->Heard();
      State::Device& gone = state_->Devices[device.getDeviceName()];
      gone.Gone = true;
      gone.Properties.clear();
    }
    state_->Changed.notify_all();
  }

  void newMessage(INDI::BaseDevice device, int messageId) override {
    std::string text = WithoutTimestamp(device.messageQueue(static_cast<size_t>(messageId)));
    {
      std::lock_guard lock(state_->Mutex);
      state_->Heard();
      State::Device& target = state_->Devices[device.getDeviceName()];
      target.LastMessage = std::move(text);
      ++target.Messages;
    }
    state_->Changed.notify_all();
  }

  void newUniversalMessage(std::string message) override {
    {
      std::lock_guard lock(state_->Mutex);
      state_->Heard();
      state_->ServerMessage = WithoutTimestamp(message);
    }
    state_->Changed.notify_all();
  }

  void serverDisconnected(int) override {
    {
      std::lock_guard lock(state_->Mutex);
      state_->Lost = true;
    }
    state_->Changed.notify_all();
  }

  void newPingReply(std::string) override {
    {
      std::lock_guard lock(state_->Mutex);
      state_->Heard();
      state_->PingSent.reset();
    }
    state_->Changed.notify_all();
  }

 private:
  void SetBlobMode(BLOBHandling mode, const INDI::Property& property) {
    std::lock_guard sending(state_->Sending);
    setBLOBMode(mode, property.getDeviceName(), property.getName());
  }

  bool IsTheBlob(const INDI::Property& property) const {
    return property.getType() == INDI_BLOB && !state_->BlobProperty.empty() &&
           state_->BlobDevice == property.getDeviceName() && state_->BlobProperty == property.getName();
  }

  void Store(const INDI::Property& property, bool definition) {
    IndiProperty copy = Snapshot(property);
    {
      std::lock_guard lock(state_->Mutex);
      state_->Heard();
      if (definition) state_->LastDefinition = state_->LastHeard;
      const std::string device = property.getDeviceName();
      for (State::Watch* watch : state_->Watches) {
        if (watch->Device == device && watch->Property == copy.Name) watch->Updates.push_back(copy);
      }
      State::Device& target = state_->Devices[device];
      target.Gone = false;
      target.Properties[copy.Name] = std::move(copy);
    }
    state_->Changed.notify_all();
  }

  // The BLOB's buffer belongs to the library once this callback returns: copy it.
  void StoreBlob(const INDI::Property& property) {
    for (const auto& element : *property.getBLOB()) {
      const auto* data = static_cast<const std::uint8_t*>(element.getBlob());
      const int length = element.getBlobLen();
      if (!data || length <= 0) continue;
      auto bytes = std::make_shared<const std::vector<std::uint8_t>>(data, data + length);
      std::lock_guard lock(state_->Mutex);
      IndiBlob& blob = state_->Devices[property.getDeviceName()].Blob;
      blob.Bytes = std::move(bytes);
      blob.Format = element.getFormat() ? element.getFormat() : "";
      ++blob.Sequence;
      break;
    }
  }

  std::shared_ptr<State> state_;
};

IndiClient::IndiClient(IndiServerAddress server, std::string blobDevice, std::string blobProperty,
                       IndiTimeouts timeouts)
    : server_(std::move(server)), timeouts_(timeouts), state_(std::make_shared<State>()) {
  state_->BlobDevice = std::move(blobDevice);
  state_->BlobProperty = std::move(blobProperty);
  client_ = std::make_unique<Client>(state_);
  client_->setServer(server_.Host.c_str(), static_cast<unsigned int>(server_.Port));
  client_->setConnectionTimeout(static_cast<uint32_t>(timeouts_.ConnectMs / 1000),
                                static_cast<uint32_t>(timeouts_.ConnectMs % 1000) * 1000);
  if (!client_->connectServer()) throw DeviceError("INDI server " + server_.Text() + " cannot be reached");
}

IndiClient::~IndiClient() {
  // Returns promptly also when the server is stopped; the state outlives late callbacks.
  client_->disconnectServer();
}

const IndiServerAddress& IndiClient::Server() const { return server_; }
const IndiTimeouts& IndiClient::Timeouts() const { return timeouts_; }

namespace {

// Throws when the server or the device cannot be used; called with the state locked.
template <typename State>
void ThrowIfUnusable(const State& state, const IndiServerAddress& server, const std::string& device,
                     const IndiTimeouts& timeouts) {
  auto it = state.Devices.find(device);
  const std::string message =
      it != state.Devices.end() && !it->second.LastMessage.empty() ? it->second.LastMessage : state.ServerMessage;
  if (state.Lost) throw DeviceError("INDI server " + server.Text() + " closed the connection" + MessageSuffix(message));
  if (state.PingSent && SteadyClock::now() - *state.PingSent >
                            std::chrono::milliseconds(timeouts.PingAnswerMs + state.ExtraPingAnswerMs)) {
    throw DeviceError("INDI server " + server.Text() + " does not answer" + MessageSuffix(message));
  }
  if (!device.empty() && it != state.Devices.end() && it->second.Gone) {
    throw DeviceError("INDI device \"" + device + "\" has gone from the server " + server.Text() +
                      MessageSuffix(message));
  }
}

}  // namespace

void IndiClient::CheckAlive(const std::string& device) {
  std::unique_lock lock(state_->Mutex);
  Watchdog(lock, device);
}

SteadyClock::time_point IndiClient::Watchdog(std::unique_lock<std::mutex>& lock, const std::string& device) {
  ThrowIfUnusable(*state_, server_, device, timeouts_);
  const auto now = SteadyClock::now();
  // A quiet server is asked for a sign of life; its answer (or its silence) tells a server
  // that has nothing to say from one that stopped.
  if (!state_->PingSent && now - state_->LastHeard > std::chrono::milliseconds(timeouts_.IdleBeforePingMs)) {
    state_->PingSent = now;
    const std::string ping = "noctarbel-" + std::to_string(++state_->Pings);
    lock.unlock();
    {
      std::lock_guard sending(state_->Sending);
      client_->sendPingRequest(ping.c_str());
    }
    lock.lock();
  }
  const auto margin = std::chrono::milliseconds(1);
  if (state_->PingSent) {
    return *state_->PingSent + std::chrono::milliseconds(timeouts_.PingAnswerMs + state_->ExtraPingAnswerMs) + margin;
  }
  return state_->LastHeard + std::chrono::milliseconds(timeouts_.IdleBeforePingMs) + margin;
}

void IndiClient::AllowSlowAnswer(int extraMs) {
  std::lock_guard lock(state_->Mutex);
  state_->ExtraPingAnswerMs = std::max(0, extraMs);
}

bool IndiClient::WaitForProperty(const std::string& device, const std::vector<std::string>& anyOf, int timeoutMs) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock lock(state_->Mutex);
  const auto told = [&] {
    auto it = state_->Devices.find(device);
    if (it == state_->Devices.end()) return false;
    return std::any_of(anyOf.begin(), anyOf.end(),
                       [&](const std::string& name) { return it->second.Properties.count(name) > 0; });
  };
  for (;;) {
    const auto recheck = Watchdog(lock, device);
    if (told()) return true;
    if (SteadyClock::now() >= deadline) return false;
    state_->Changed.wait_until(lock, std::min(deadline, recheck));
  }
}

bool IndiClient::WaitForUpdate(const std::string& device, const std::string& property, int timeoutMs) {
  return Command(
      device, property, [] {}, [](const IndiProperty&) { return IndiVerdict::Done; }, timeoutMs);
}

void IndiClient::WaitUntilQuiet(int milliseconds, int limitMs) {
  const auto limit = SteadyClock::now() + std::chrono::milliseconds(limitMs);
  const auto quiet = std::chrono::milliseconds(milliseconds);
  std::unique_lock lock(state_->Mutex);
  for (;;) {
    const auto now = SteadyClock::now();
    if (state_->Lost || now >= limit) return;
    const auto until = state_->LastDefinition + quiet;
    if (now >= until && !state_->Devices.empty()) return;
    state_->Changed.wait_until(lock, std::min(limit, std::max(until, now + quiet / 4)));
  }
}

std::optional<IndiProperty> IndiClient::Find(const std::string& device, const std::string& property) {
  CheckAlive(device);
  std::lock_guard lock(state_->Mutex);
  auto it = state_->Devices.find(device);
  if (it == state_->Devices.end()) return std::nullopt;
  auto found = it->second.Properties.find(property);
  if (found == it->second.Properties.end()) return std::nullopt;
  return found->second;
}

IndiBlob IndiClient::LatestBlob(const std::string& device) {
  CheckAlive(device);
  std::lock_guard lock(state_->Mutex);
  auto it = state_->Devices.find(device);
  return it == state_->Devices.end() ? IndiBlob{} : it->second.Blob;
}

std::uint64_t IndiClient::BlobSequence(const std::string& device) { return LatestBlob(device).Sequence; }

std::string IndiClient::LastMessage(const std::string& device) {
  std::lock_guard lock(state_->Mutex);
  auto it = state_->Devices.find(device);
  if (it != state_->Devices.end() && !it->second.LastMessage.empty()) return it->second.LastMessage;
  return state_->ServerMessage;
}

std::vector<IndiDeviceInfo> IndiClient::Devices() {
  std::lock_guard lock(state_->Mutex);
  std::vector<IndiDeviceInfo> devices;
  for (const auto& [name, device] : state_->Devices) {
    if (device.Gone) continue;
    IndiDeviceInfo info;
    info.Name = name;
    auto driver = device.Properties.find("DRIVER_INFO");
    if (driver != device.Properties.end()) {
      if (const auto* e = driver->second.Element("DRIVER_NAME")) info.DriverName = e->Text;
      if (const auto* e = driver->second.Element("DRIVER_EXEC")) info.DriverExec = e->Text;
      if (const auto* e = driver->second.Element("DRIVER_INTERFACE")) info.Interface = ParseInt(e->Text).value_or(0);
    }
    devices.push_back(std::move(info));
  }
  return devices;
}

bool IndiClient::Command(const std::string& device, const std::string& property, const std::function<void()>& send,
                         const IndiAnswerTest& test, int waitMs) {
  State::Watch watch{device, property, {}};
  std::uint64_t messagesBefore = 0;
  bool alertBefore = false;
  {
    std::lock_guard lock(state_->Mutex);
    ThrowIfUnusable(*state_, server_, device, timeouts_);
    State::Device& target = state_->Devices[device];
    messagesBefore = target.Messages;
    auto known = target.Properties.find(property);
    alertBefore = known != target.Properties.end() && known->second.State == IndiState::Alert;
    state_->Watches.push_back(&watch);
  }
  struct Unwatch {
    State& state;
    State::Watch* watch;
    ~Unwatch() {
      std::lock_guard lock(state.Mutex);
      state.Watches.erase(std::remove(state.Watches.begin(), state.Watches.end(), watch), state.Watches.end());
    }
  } unwatch{*state_, &watch};

  send();

  const auto refusal = [&] {
    const State::Device& target = state_->Devices[device];
    const std::string reason =
        target.Messages > messagesBefore && !target.LastMessage.empty() ? ": " + target.LastMessage : "";
    return DeviceError(device + ": " + property + " refused by the driver" + reason);
  };
  // A property left in Alert by an earlier command may be reported once more in Alert on the
  // way to Ok: such an Alert refuses only when the driver said why, or nothing follows it.
  bool staleAlert = false;
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(waitMs);
  std::unique_lock lock(state_->Mutex);
  for (;;) {
    while (!watch.Updates.empty()) {
      const IndiProperty update = std::move(watch.Updates.front());
      watch.Updates.pop_front();
      staleAlert = false;
      switch (test(update)) {
        case IndiVerdict::Done:
          return true;
        case IndiVerdict::Refused:
          if (!alertBefore || state_->Devices[device].Messages > messagesBefore) throw refusal();
          staleAlert = true;
          break;
        case IndiVerdict::Wait:
          break;
      }
    }
    // A server that stops answering ends the wait within the ping's bound, not the
    // command's (a device may take 15 s to connect).
    const auto recheck = Watchdog(lock, device);
    if (!watch.Updates.empty()) continue;
    if (SteadyClock::now() >= deadline) {
      if (staleAlert) throw refusal();
      return false;
    }
    state_->Changed.wait_until(lock, std::min(deadline, recheck));
  }
}

bool IndiClient::SendNumbers(const std::string& device, const std::string& property, const IndiNumbers& values,
                             const IndiAnswerTest& test, int waitMs) {
  return Command(
      device, property,
      [&] {
        std::lock_guard sending(state_->Sending);
        INDI::PropertyNumber command(values.size());
        command.setDeviceName(device.c_str());
        command.setName(property.c_str());
        for (size_t i = 0; i < values.size(); ++i) {
          command[i].setName(values[i].first.c_str());
          command[i].setValue(values[i].second);
        }
        client_->sendNewNumber(command);
      },
      test, waitMs);
}

bool IndiClient::SendSwitches(const std::string& device, const std::string& property, const IndiSwitches& states,
                              const IndiAnswerTest& test, int waitMs) {
  return Command(
      device, property,
      [&] {
        std::lock_guard sending(state_->Sending);
        INDI::PropertySwitch command(states.size());
        command.setDeviceName(device.c_str());
        command.setName(property.c_str());
        for (size_t i = 0; i < states.size(); ++i) {
          command[i].setName(states[i].first.c_str());
          command[i].setState(states[i].second ? ISS_ON : ISS_OFF);
        }
        client_->sendNewSwitch(command);
      },
      test, waitMs);
}

std::vector<IndiDeviceInfo> ListIndiDevices(const IndiServerAddress& server, int timeoutMs) {
  IndiTimeouts timeouts;
  timeouts.ConnectMs = std::max(100, timeoutMs / 2);
  try {
    IndiClient client(server, {}, {}, timeouts);
    // The drivers answer the server's request for their properties within milliseconds on
    // one machine; a short quiet spell means every device has spoken.
    client.WaitUntilQuiet(300, timeoutMs);
    std::vector<IndiDeviceInfo> devices = client.Devices();
    devices.erase(
        std::remove_if(devices.begin(), devices.end(), [](const IndiDeviceInfo& d) { return d.Interface == 0; }),
        devices.end());
    return devices;
  } catch (const DeviceError&) {
    return {};
  }
}

}  // namespace noctarbel
