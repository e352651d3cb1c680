#pragma once
// One connection to an INDI server, on the INDI client library's own thread. The library's
// callbacks copy every property they report into a cache under a lock; the station's thread
// reads that cache and never waits on the network for a read. Commands are sent from the
// station's thread and confirmed by the property's next answers (Busy, then Ok; some answer
// Ok at once), each wait bounded by a few seconds. A server that closes the connection, stops
// answering its pings, or loses the device turns every later call into DeviceError.
//
// The library's headers stay inside indi_client.cpp.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "devices/indi/indi_address.h"

namespace noctarbel {

enum class IndiState { Idle, Ok, Busy, Alert };
enum class IndiKind { Number, Switch, Text, Light, Blob };

struct IndiElement {
  std::string Name;
  double Number = 0;  // numbers
  double Min = 0;
  double Max = 0;
  std::string Text;  // texts
  bool On = false;   // switches; lights that are Ok
};

// A copy of one property as the server last reported it.
struct IndiProperty {
  std::string Name;
  IndiKind Kind = IndiKind::Number;
  IndiState State = IndiState::Idle;
  bool Writable = false;
  std::vector<IndiElement> Elements;

  // nullptr when the property has no such element.
  const IndiElement* Element(const std::string& name) const;
};

// The latest image (BLOB) of the device, shared, never changed once stored.
struct IndiBlob {
  std::shared_ptr<const std::vector<std::uint8_t>> Bytes;
  std::string Format;          // ".fits", ".fits.fz", ...
  std::uint64_t Sequence = 0;  // counts the BLOBs received; 0: none yet
};

// What a device offers, as its DRIVER_INFO tells.
struct IndiDeviceInfo {
  std::string Name;
  std::string DriverName;
  std::string DriverExec;
  int Interface = 0;  // DRIVER_INTERFACE bits
};

// The answer a command waits for, judged on each update of the property after it was sent.
enum class IndiVerdict { Wait, Done, Refused };
using IndiAnswerTest = std::function<IndiVerdict(const IndiProperty&)>;

// The elements a command sets.
using IndiNumbers = std::vector<std::pair<std::string, double>>;
using IndiSwitches = std::vector<std::pair<std::string, bool>>;

struct IndiTimeouts {
  int ConnectMs = 3000;         // TCP connection to the server
  int DeviceMs = 3000;          // the device's properties after connecting to the server or the device
  int AnswerMs = 3000;          // a command's answer
  int ConnectDeviceMs = 15000;  // the driver connecting to its hardware (cameras may load firmware first)
  int IdleBeforePingMs = 1000;  // silence after which a read asks the server for a sign of life
  int PingAnswerMs = 3000;      // a server that does not answer its ping for this long counts as lost
};

class IndiClient {
 public:
  // Connects to the server and receives the properties of all its devices (a client that
  // knows only some devices has the library complain on standard error about the others'
  // deletions). Of BLOBs (images) only `blobDevice`'s `blobProperty` is received.
  // Throws DeviceError when the server cannot be reached.
  explicit IndiClient(IndiServerAddress server, std::string blobDevice = {}, std::string blobProperty = {},
                      IndiTimeouts timeouts = {});
  ~IndiClient();
  IndiClient(const IndiClient&) = delete;
  IndiClient& operator=(const IndiClient&) = delete;

  const IndiServerAddress& Server() const;
  const IndiTimeouts& Timeouts() const;

  // Waits until the device has told one of the properties. False after `timeoutMs`; throws
  // DeviceError when the server is lost meanwhile.
  bool WaitForProperty(const std::string& device, const std::vector<std::string>& anyOf, int timeoutMs);
  // Waits for the property's next report; false after `timeoutMs`.
  bool WaitForUpdate(const std::string& device, const std::string& property, int timeoutMs);
  // Waits until `milliseconds` have passed without a property being defined; at most
  // `limitMs`. A driver defines its properties in one burst: after it, all are there.
  void WaitUntilQuiet(int milliseconds, int limitMs);

  // ---- reads from the cache. They throw DeviceError when the server is lost or silent or
  // the device has gone.
  std::optional<IndiProperty> Find(const std::string& device, const std::string& property);
  IndiBlob LatestBlob(const std::string& device);
  std::uint64_t BlobSequence(const std::string& device);
  // The device's (or else the server's) last message, without its time stamp.
  std::string LastMessage(const std::string& device);
  // Every device seen, with its DRIVER_INFO; does not check the server.
  std::vector<IndiDeviceInfo> Devices();
  // Throws DeviceError when the server is lost or silent, or the device has gone.
  void CheckAlive(const std::string& device);
  // Extra time the server may take to answer a ping, for as long as a large BLOB may be on
  // its way (the answer comes after it); 0 again afterwards.
  void AllowSlowAnswer(int extraMs);

  // ---- commands: sent at once, then the property's answers are judged by `test` until it
  // says Done (true) or Refused (DeviceError with the device's message), for at most
  // `waitMs`; false when no verdict came in that time.
  bool SendNumbers(const std::string& device, const std::string& property, const IndiNumbers& values,
                   const IndiAnswerTest& test, int waitMs);
  bool SendSwitches(const std::string& device, const std::string& property, const IndiSwitches& states,
                    const IndiAnswerTest& test, int waitMs);

 private:
  struct State;
  class Client;
  bool Command(const std::string& device, const std::string& property, const std::function<void()>& send,
               const IndiAnswerTest& test, int waitMs);
  // With the state locked: throws when the server or the device cannot be used, asks a quiet
  // server for a sign of life (letting go of the lock while the ping goes out), and tells
  // when that must be looked at again, so that every wait ends once a ping goes unanswered.
  std::chrono::steady_clock::time_point Watchdog(std::unique_lock<std::mutex>& lock, const std::string& device);

  IndiServerAddress server_;
  IndiTimeouts timeouts_;
  std::shared_ptr<State> state_;
  std::unique_ptr<Client> client_;
};

// Answer tests shared by the drivers.
// Any answer but Alert.
IndiVerdict IndiAnswered(const IndiProperty& property);
// Ok or Idle (Busy: still working; Alert: refused).
IndiVerdict IndiCompleted(const IndiProperty& property);
// Busy (the device works on it) or Ok; Alert refused.
IndiVerdict IndiStarted(const IndiProperty& property);

// The devices of a server with their DRIVER_INFO; empty when the server does not answer
// within about `timeoutMs`.
std::vector<IndiDeviceInfo> ListIndiDevices(const IndiServerAddress& server, int timeoutMs);

}  // namespace noctarbel
