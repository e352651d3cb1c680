#pragma once
// One Alpaca device over HTTP. Every member is one request on a fresh connection with a
// connect and a read time-out, so a dead or hung device costs the caller at most those
// seconds and then a DeviceError; nothing here waits longer or pumps the station's runtime.
// A device's own errors (ErrorNumber) become AlpacaError with the device's text.

#include <atomic>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "devices/alpaca/alpaca_protocol.h"

namespace noctarbel::alpaca {

class ImageBytesReader;

struct Timeouts {
  int ConnectMs = 3000;
  // For the whole answer of an ordinary member; for an image, the longest silence.
  int ReadMs = 4000;
};

class DeviceClient {
 public:
  DeviceClient(DeviceAddress address, Timeouts timeouts);
  ~DeviceClient();
  DeviceClient(const DeviceClient&) = delete;
  DeviceClient& operator=(const DeviceClient&) = delete;

  const DeviceAddress& Address() const { return address_; }
  const Timeouts& Limits() const { return timeouts_; }

  // The member's Value (null when the answer has none).
  nlohmann::json Get(std::string_view member, const Params& query = {});
  // Parameters go into the form-encoded body, named as the device API writes them.
  void Put(std::string_view member, const Params& form = {});

  bool GetBool(std::string_view member);
  int GetInt(std::string_view member);
  double GetDouble(std::string_view member);
  std::string GetString(std::string_view member);
  std::vector<std::string> GetStrings(std::string_view member);
  std::vector<int> GetInts(std::string_view member);

  // The last image: asks for ImageBytes and reads the JSON array only from a server that
  // does not offer them. Only the longest silence is bounded here (a large frame over a slow
  // link takes what it takes), so the station calls it from a thread of its own; setting
  // *abandon ends the transfer at the next piece that arrives.
  ImageArrayData GetImageArray(const std::atomic<bool>* abandon = nullptr);

 private:
  struct Reply;
  // One request. An ImageBytes answer goes into `frame` as it arrives; any other answer is
  // kept in the reply.
  Reply Exchange(const std::string& method, std::string_view member, const Params& params,
                 ImageBytesReader* frame = nullptr, const std::atomic<bool>* abandon = nullptr);
  nlohmann::json ValueOf(const Reply& reply, std::string_view member, std::uint32_t transaction);
  DeviceError Failure(std::string_view member, const std::string& why) const;

  DeviceAddress address_;
  Timeouts timeouts_;
};

// The Value of a management request ("/management/v1/configureddevices"). DeviceError when
// the server does not answer within the time-outs or answers with something else.
nlohmann::json GetManagementValue(const Endpoint& server, std::string_view path, const Timeouts& timeouts);

// The ClientID this program sends (chosen once at random, 1..65535).
std::uint32_t ThisClientId();

}  // namespace noctarbel::alpaca
