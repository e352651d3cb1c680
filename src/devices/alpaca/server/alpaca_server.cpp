#include "devices/alpaca/server/alpaca_server.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <limits>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "common/html_text.h"
#include "common/number_text.h"
#include "devices/alpaca/alpaca_discovery.h"
#include "devices/alpaca/image_transfer.h"
#include "devices/alpaca/server/member_table.h"
#include "devices/alpaca/server/sim_host.h"
#include "devices/alpaca/server/unique_ids.h"

namespace noctarbel::alpaca {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kServerName = "Noctarbel Alpaca simulators";
constexpr const char* kVersion = "1.212.1";
// A synchronous slew that has not ended by then is reported as failed.
constexpr auto kLongestSyncSlew = std::chrono::minutes(10);

const std::vector<DeviceType> kDevices = {DeviceType::Telescope, DeviceType::Camera, DeviceType::Focuser,
                                          DeviceType::FilterWheel};

// What a member call came to, carried back from the simulators' thread.
struct Outcome {
  Json Value;
  bool HasValue = false;
  int ErrorNumber = 0;
  std::string ErrorMessage;
};

bool IsLowerPathElement(const std::string& text) {
  for (char c : text) {
    if (c >= 'A' && c <= 'Z') return false;
  }
  return !text.empty();
}

std::string Dump(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

std::string Page(const std::string& title, const std::string& body) {
  return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + HtmlEscaped(title) +
         "</title></head><body><h1>" + HtmlEscaped(title) + "</h1>\n" + body + "</body></html>\n";
}

// Echoed as sent; a missing or unreadable one counts as none (0), which is no error.
std::uint32_t TransactionOf(const std::map<std::string, std::string>& params, const char* key) {
  const auto it = params.find(key);
  if (it == params.end()) return 0;
  const auto value = ParseInt64(it->second);
  return value && *value >= 0 && *value <= std::numeric_limits<std::uint32_t>::max()
             ? static_cast<std::uint32_t>(*value)
             : 0;
}

// PUT parameters come in the form-encoded body; the query is read too (body first), and
// GET parameters come in the query. Keys are lower-cased.
std::map<std::string, std::string> Parameters(const httplib::Request& request, bool put) {
  std::map<std::string, std::string> params;
  if (put) {
    auto body = FormDecode(request.body);
    if (!body) throw BadRequest("The request body is not valid form encoding");
    params = std::move(*body);
  }
  for (const auto& [key, value] : request.params) params.emplace(ToLowerAscii(key), value);
  return params;
}

bool AcceptsImageBytes(const httplib::Request& request) {
  return ToLowerAscii(request.get_header_value("Accept")).find(kImageBytesType) != std::string::npos;
}

void SendText(httplib::Response& response, int status, const std::string& text) {
  response.status = status;
  response.set_content(text + "\n", "text/plain; charset=utf-8");
}

// The frame as ImageBytes, encoded band by band as it goes out.
void SendImageBytes(httplib::Response& response, std::shared_ptr<const ImageArrayData> image, std::uint32_t clientTx,
                    std::uint32_t serverTx) {
  auto writer = std::make_shared<ImageBytesWriter>(*image, clientTx, serverTx);
  response.status = 200;
  response.set_content_provider(writer->Size(), kImageBytesType,
                                [image, writer](size_t offset, size_t, httplib::DataSink& sink) {
                                  // Written in one go; a write that failed half-way cannot resume.
                                  if (offset != 0) return false;
                                  return writer->WriteTo([&](const char* d, size_t n) { return sink.write(d, n); });
                                });
}

// The frame as the JSON array, written piece by piece (its length is not known before).
void SendImageJson(httplib::Response& response, std::shared_ptr<const ImageArrayData> image, std::uint32_t clientTx,
                   std::uint32_t serverTx) {
  response.status = 200;
  response.set_chunked_content_provider(
      "application/json; charset=utf-8", [image, clientTx, serverTx](size_t offset, httplib::DataSink& sink) {
        if (offset != 0) return false;
        if (!WriteImageJson(*image, clientTx, serverTx, [&](const char* d, size_t n) { return sink.write(d, n); })) {
          return false;
        }
        sink.done();
        return true;
      });
}

}  // namespace

struct AlpacaServer::Impl {
  explicit Impl(ServerOptions o) : options(std::move(o)), host(options.Site, options.Time), http(options.Http) {
    tables[DeviceType::Telescope] = TelescopeMembers();
    tables[DeviceType::Camera] = CameraMembers();
    tables[DeviceType::Focuser] = FocuserMembers();
    tables[DeviceType::FilterWheel] = FilterWheelMembers();
    AddRoutes();
  }

  std::uint32_t NextTransaction() {
    std::uint32_t id = ++transactions;
    while (id == 0) id = ++transactions;
    return id;
  }

  Json Envelope(std::uint32_t clientTx, int errorNumber = 0, const std::string& message = {}) {
    return Json{{"ClientTransactionID", clientTx},
                {"ServerTransactionID", NextTransaction()},
                {"ErrorNumber", errorNumber},
                {"ErrorMessage", message}};
  }

  void SendJson(httplib::Response& response, const Json& body) {
    response.status = 200;
    response.set_content(Dump(body), "application/json; charset=utf-8");
  }

  void AddRoutes();
  void HandleDevice(const httplib::Request& request, httplib::Response& response, bool put);
  void HandleImage(const MemberEntry& entry, std::uint32_t clientTx, const httplib::Request& request,
                   httplib::Response& response);
  Outcome AwaitSlewEnd();
  std::string DeviceName(DeviceType type);
  std::string SetupPage();

  ServerOptions options;
  SimulatorHost host;
  std::map<DeviceType, MemberTable> tables;
  GuardedHttpServer http;
  std::map<DeviceType, std::string> uniqueIds;
  std::unique_ptr<DiscoveryResponder> responder;
  std::atomic<std::uint32_t> transactions{0};
  std::atomic<bool> stopping{false};
  std::mutex lifecycle;
  int port = 0;
  bool started = false;
  bool stopped = false;
};

Outcome Perform(const MemberEntry& entry, bool put, SimDevices& devices, const CallParams& params) {
  Outcome outcome;
  try {
    if (put) {
      entry.Put(devices, params);
    } else {
      outcome.Value = entry.Get(devices, params);
      outcome.HasValue = true;
    }
  } catch (const Fault& fault) {
    outcome.ErrorNumber = fault.Number();
    outcome.ErrorMessage = fault.what();
  } catch (const BadRequest&) {
    throw;
  } catch (const std::exception& e) {
    // What the simulator itself refuses is its own (driver-specific) error.
    outcome.ErrorNumber = kDriverError;
    outcome.ErrorMessage = e.what();
  }
  return outcome;
}

Outcome AlpacaServer::Impl::AwaitSlewEnd() {
  const auto giveUp = std::chrono::steady_clock::now() + kLongestSyncSlew;
  Outcome outcome;
  try {
    while (host.Run([](SimDevices& d) { return d.Telescope->Slewing(); })) {
      if (stopping || std::chrono::steady_clock::now() > giveUp) {
        outcome.ErrorNumber = kInvalidOperation;
        outcome.ErrorMessage = stopping ? "The server is stopping; the slew goes on" : "The slew did not end";
        return outcome;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  } catch (const std::exception& e) {
    outcome.ErrorNumber = kDriverError;
    outcome.ErrorMessage = e.what();
  }
  return outcome;
}

void AlpacaServer::Impl::HandleImage(const MemberEntry& entry, std::uint32_t clientTx, const httplib::Request& request,
                                     httplib::Response& response) {
  std::shared_ptr<const ImageArrayData> image;
  Outcome failure;
  try {
    image = host.Run([&](SimDevices& d) { return entry.Image(d); });
  } catch (const Fault& fault) {
    failure.ErrorNumber = fault.Number();
    failure.ErrorMessage = fault.what();
  } catch (const std::exception& e) {
    failure.ErrorNumber = kDriverError;
    failure.ErrorMessage = e.what();
  }
  const std::uint32_t serverTx = NextTransaction();
  if (AcceptsImageBytes(request)) {
    if (image) {
      SendImageBytes(response, image, clientTx, serverTx);
    } else {
      response.set_content(EncodeImageBytesError(failure.ErrorNumber, failure.ErrorMessage, clientTx, serverTx),
                           kImageBytesType);
    }
    return;
  }
  if (!image) {
    SendJson(response, Json{{"ClientTransactionID", clientTx},
                            {"ServerTransactionID", serverTx},
                            {"ErrorNumber", failure.ErrorNumber},
                            {"ErrorMessage", failure.ErrorMessage}});
    return;
  }
  SendImageJson(response, image, clientTx, serverTx);
}

void AlpacaServer::Impl::HandleDevice(const httplib::Request& request, httplib::Response& response, bool put) {
  const std::string typeText = request.matches[1];
  const std::string numberText = request.matches[2];
  const std::string member = request.matches[3];
  const MemberEntry* entry = nullptr;
  std::map<std::string, std::string> params;
  try {
    if (!IsLowerPathElement(typeText) || !IsLowerPathElement(member)) {
      throw BadRequest("Device types and member names are written in lower case");
    }
    const auto type = DeviceTypeFromUrlName(typeText);
    if (!type) throw BadRequest("Unknown device type \"" + typeText + "\"");
    if (numberText != "0") throw BadRequest("This server has no " + typeText + " number " + numberText);
    const MemberTable& table = tables.at(*type);
    const auto found = table.find(member);
    if (found == table.end()) throw BadRequest("A " + typeText + " has no member \"" + member + "\"");
    entry = &found->second;
    if (put && !entry->Put) throw BadRequest(member + " cannot be written (it is read with GET)");
    if (!put && !entry->Get && !entry->Image) throw BadRequest(member + " is a method (call it with PUT)");
    params = Parameters(request, put);
  } catch (const BadRequest& e) {
    SendText(response, 400, e.what());
    return;
  }
  const std::uint32_t clientTx = TransactionOf(params, "clienttransactionid");
  if (entry->Image) {
    HandleImage(*entry, clientTx, request, response);
    return;
  }
  const CallParams call(params);
  Outcome outcome;
  try {
    outcome = host.Run([&](SimDevices& d) { return Perform(*entry, put, d, call); });
  } catch (const BadRequest& e) {
    SendText(response, 400, e.what());
    return;
  } catch (const std::exception& e) {
    SendText(response, 500, e.what());
    return;
  }
  if (entry->AwaitsSlew && outcome.ErrorNumber == 0) outcome = AwaitSlewEnd();
  Json body = Envelope(clientTx, outcome.ErrorNumber, outcome.ErrorMessage);
  if (outcome.HasValue) body["Value"] = outcome.Value;
  SendJson(response, body);
}

std::string AlpacaServer::Impl::DeviceName(DeviceType type) {
  return host.Run([&](SimDevices& d) -> std::string {
    switch (type) {
      case DeviceType::Telescope:
        return d.World().Mount.Config.Description;
      case DeviceType::Camera:
        return d.World().Camera.Config.Name;
      case DeviceType::Focuser:
        return d.World().Focuser.Config.Description;
      case DeviceType::FilterWheel:
        return d.World().Wheel.Config.Description;
    }
    return {};
  });
}

std::string AlpacaServer::Impl::SetupPage() {
  std::string body = "<p>" + std::string(kServerName) + " " + kVersion + ", listening on " +
                     HtmlEscaped(Endpoint{options.BindAddress, port}.Text()) + ".</p>\n<ul>\n";
  for (DeviceType type : kDevices) {
    const std::string path = std::string("/setup/v1/") + UrlTypeName(type) + "/0/setup";
    body += "<li><a href=\"" + path + "\">" + ManagementTypeName(type) + " 0: " + HtmlEscaped(DeviceName(type)) +
            "</a></li>\n";
  }
  body +=
      "</ul>\n<p>The address, ports and site are chosen on the noctarbel-alpaca command line; nothing is "
      "set here.</p>\n";
  return Page(kServerName, body);
}

void AlpacaServer::Impl::AddRoutes() {
  const char* kMemberPath = R"(/api/v1/([^/]+)/([^/]+)/([^/]+))";
  http.Get(kMemberPath, [this](const httplib::Request& q, httplib::Response& r) { HandleDevice(q, r, false); });
  http.Put(kMemberPath, [this](const httplib::Request& q, httplib::Response& r) { HandleDevice(q, r, true); });
  auto unknown = [](const httplib::Request& q, httplib::Response& r) {
    SendText(r, 400, "Not a device API path: " + q.path + " (expected /api/v1/TYPE/NUMBER/MEMBER)");
  };
  http.Get("/api/.*", unknown);
  http.Put("/api/.*", unknown);

  auto management = [this](const char* path, std::function<Json()> value) {
    http.Get(path, [this, value](const httplib::Request& q, httplib::Response& r) {
      std::map<std::string, std::string> params;
      for (const auto& [key, v] : q.params) params.emplace(ToLowerAscii(key), v);
      Json body = Envelope(TransactionOf(params, "clienttransactionid"));
      body["Value"] = value();
      SendJson(r, body);
    });
  };
  management("/management/apiversions", [] { return Json::array({1}); });
  management("/management/v1/description", [this] {
    return Json{{"ServerName", kServerName},
                {"Manufacturer", "Noctarbel"},
                {"ManufacturerVersion", kVersion},
                {"Location", options.Location}};
  });
  management("/management/v1/configureddevices", [this] {
    Json list = Json::array();
    for (DeviceType type : kDevices) {
      list.push_back(Json{{"DeviceName", DeviceName(type)},
                          {"DeviceType", ManagementTypeName(type)},
                          {"DeviceNumber", 0},
                          {"UniqueID", uniqueIds.at(type)}});
    }
    return list;
  });
  // Anything else under /management is a request that cannot be understood.
  http.Get("/management/.*", [](const httplib::Request& q, httplib::Response& r) {
    SendText(r, 400,
             "Unknown management request: " + q.path +
                 " (there are /management/apiversions, /management/v1/description and "
                 "/management/v1/configureddevices)");
  });
  http.Put("/management/.*", [](const httplib::Request& q, httplib::Response& r) {
    SendText(r, 400, "The management API is read with GET, not written: " + q.path);
  });

  http.Get("/setup", [this](const httplib::Request&, httplib::Response& r) {
    r.set_content(SetupPage(), "text/html; charset=utf-8");
  });
  http.Get(R"(/setup/v1/([^/]+)/([^/]+)/setup)", [this](const httplib::Request& q, httplib::Response& r) {
    const auto type = DeviceTypeFromUrlName(q.matches[1].str());
    if (!type || q.matches[2] != "0") {
      r.status = 403;
      r.set_content(Page("Not available", "<p>This server has no such device.</p>\n"), "text/html; charset=utf-8");
      return;
    }
    const std::string title = std::string(ManagementTypeName(*type)) + " 0: " + DeviceName(*type);
    r.set_content(Page(title,
                       "<p>A simulator of Noctarbel. It has no settings to change here; its site is chosen on "
                       "the noctarbel-alpaca command line.</p>\n<p><a href=\"/setup\">All devices</a></p>\n"),
                  "text/html; charset=utf-8");
  });

  // What no route answers (another path, another method such as POST) says why.
  http.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request& q, httplib::Response& r) {
    if (!r.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
    SendText(r, r.status,
             "Nothing answers " + q.method + " " + q.path +
                 " here: the device API is GET and PUT on /api/v1/TYPE/NUMBER/MEMBER, the management API GET on "
                 "/management/..., the setup pages GET on /setup");
    return httplib::Server::HandlerResponse::Handled;
  }));
}

AlpacaServer::AlpacaServer(ServerOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

AlpacaServer::~AlpacaServer() { Stop(); }

void AlpacaServer::Start() {
  std::lock_guard<std::mutex> lock(impl_->lifecycle);
  Impl& s = *impl_;
  if (s.started) return;
  // Not SO_REUSEPORT (the library's default): a second server on a port in use must fail
  // rather than share the connections with the first.
  s.http.set_socket_options([](socket_t sock) {
    const int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  const ServerOptions& o = s.options;
  s.port = s.http.Bind(o.BindAddress, o.Port);
  if (s.port <= 0) {
    throw std::runtime_error("cannot listen on " + Endpoint{o.BindAddress, o.Port}.Text() +
                             " (address in use or not available)");
  }
  try {
    // A server on whatever port was free is a passing one: its IDs are not kept.
    s.uniqueIds = ServerUniqueIds(o.Port == 0 ? std::filesystem::path() : o.ConfigFolder, s.port, kDevices);
  } catch (...) {
    s.http.Shutdown();
    throw;
  }
  s.http.ListenOnThread();
  s.started = true;
  if (o.Discovery) {
    try {
      s.responder = std::make_unique<DiscoveryResponder>(o.BindAddress, o.DiscoveryPort, s.port);
    } catch (...) {
      s.http.Shutdown();
      s.started = false;
      throw;
    }
  }
}

void AlpacaServer::Stop() {
  std::lock_guard<std::mutex> lock(impl_->lifecycle);
  Impl& s = *impl_;
  if (s.stopped) return;
  s.stopped = true;
  s.stopping = true;
  s.responder.reset();
  if (s.started) {
    s.http.Shutdown();
  }
  s.host.Stop();
}

int AlpacaServer::Port() const { return impl_->port; }

int AlpacaServer::DiscoveryPort() const { return impl_->responder ? impl_->responder->Port() : 0; }

const ServerOptions& AlpacaServer::Options() const { return impl_->options; }

std::uint32_t AlpacaServer::Transactions() const { return impl_->transactions.load(); }

void AlpacaServer::WithWorld(const std::function<void(SimWorld&)>& f) {
  impl_->host.Run([&](SimDevices& d) { f(d.World()); });
}

}  // namespace noctarbel::alpaca
