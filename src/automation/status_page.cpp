#include "automation/status_page.h"

#include <arpa/inet.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "automation/night_timeline.h"
#include "automation/plan_run.h"
#include "common/number_text.h"
#include "imaging/png_codec.h"
#include "operations/station_core.h"

namespace noctarbel {

// The page itself (status_page_html.cpp).
extern const char* const kStatusPageHtml;

namespace {

constexpr auto kEventSpacing = std::chrono::milliseconds(250);

nlohmann::ordered_json Optional(const std::optional<double>& value) {
  return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json();
}

// Compares without stopping at the first difference: the time taken tells nothing of the token.
bool SameSecret(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  return difference == 0;
}

void NoStore(httplib::Response& response) {
  response.set_header("Cache-Control", "no-store");
  response.set_header("X-Content-Type-Options", "nosniff");
}

}  // namespace

std::optional<StatusPageAddress> ParseStatusPageAddress(const std::string& text, std::string* error) {
  const std::string trimmed(TrimBlanks(text));
  const std::size_t colon = trimmed.rfind(':');
  StatusPageAddress address;
  if (colon == std::string::npos || colon == 0) {
    if (error) *error = "\"" + text + "\" is not HOST:PORT (e.g. 127.0.0.1:8080)";
    return std::nullopt;
  }
  address.Host = trimmed.substr(0, colon);
  const auto port = ParseInt(trimmed.substr(colon + 1));
  if (!port || *port < 0 || *port > 65535) {
    if (error) *error = "\"" + trimmed.substr(colon + 1) + "\" is not a port (0 to 65535)";
    return std::nullopt;
  }
  address.Port = *port;
  return address;
}

bool IsLoopbackHost(const std::string& host) {
  if (host == "localhost" || host == "::1" || host == "[::1]") return true;
  in_addr v4{};
  return ::inet_pton(AF_INET, host.c_str(), &v4) == 1 && (ntohl(v4.s_addr) >> 24) == 127;
}

std::string StatusJson(const RunStatusBoard& board) {
  const RunStatus s = board.Status();
  nlohmann::ordered_json out = {
      {"ut", FormatDateTime(s.Ut)},
      {"state", RunPhaseName(s.Phase)},
      {"text", s.Text()},
      {"row", s.Row},
      {"object", s.Object},
      {"waitUntil", s.Phase == RunPhase::Waiting ? nlohmann::ordered_json(FormatDateTime(s.WaitUntil))
                                                 : nlohmann::ordered_json()},
      {"image", s.Image},
      {"images", s.Images},
      {"filter", s.Filter},
      {"emergency", s.Emergency},
      {"roof", s.Roof},
      {"rain", s.Rain},
      {"altitude", Optional(s.Altitude)},
      {"azimuth", Optional(s.Azimuth)},
      {"pierSide", s.PierSide},
      {"cameraTemperature", Optional(s.CameraTemperature)},
      {"lastHfd", Optional(s.LastHfd)},
      {"starOffset", s.LastOffset ? nlohmann::ordered_json{{"x", s.LastOffset->X}, {"y", s.LastOffset->Y}}
                                  : nlohmann::ordered_json()},
      {"lastImage", s.LastImage},
      {"imagesSaved", s.ImagesSaved},
      {"imagesTaken", board.Images().size()},
      {"message", s.Message},
      {"version", board.Version()},
      {"timeline", nlohmann::ordered_json::array()},
      {"log", board.LogTail()},
  };
  for (const RowSpan& span : board.Timeline()) {
    out["timeline"].push_back({{"row", span.Row},
                               {"object", span.Name},
                               {"start", FormatDateTime(span.Start)},
                               {"end", FormatDateTime(span.End)},
                               {"outcome", RowOutcomeName(span.Outcome)},
                               {"why", span.Note}});
  }
  return out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

StatusPage::StatusPage(const RunStatusBoard& board, HttpLimits limits) : board_(board), http_(limits) { Route(); }

StatusPage::~StatusPage() { Stop(); }

bool StatusPage::Authorized(const httplib::Request& request) const {
  if (token_.empty()) return true;
  const std::string header = request.get_header_value("Authorization");
  const std::string bearer = "Bearer ";
  if (header.rfind(bearer, 0) == 0 && SameSecret(header.substr(bearer.size()), token_)) return true;
  return request.has_param("token") && SameSecret(request.get_param_value("token"), token_);
}

void StatusPage::Route() {
  http_.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
    NoStore(response);
    if (request.method != "GET" && request.method != "HEAD") {
      response.status = 405;
      response.set_header("Allow", "GET, HEAD");
      response.set_content("The status page is read-only\n", "text/plain; charset=utf-8");
      return httplib::Server::HandlerResponse::Handled;
    }
    if (!Authorized(request)) {
      response.status = 401;
      response.set_header("WWW-Authenticate", "Bearer");
      response.set_content("A token is needed (Authorization: Bearer TOKEN, or ?token=TOKEN)\n",
                           "text/plain; charset=utf-8");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  http_.Get("/", [](const httplib::Request&, httplib::Response& response) {
    // Nothing from elsewhere: scripts, styles and pictures come from this page and this server.
    response.set_header("Content-Security-Policy",
                        "default-src 'self'; img-src 'self' data:; style-src 'unsafe-inline'; "
                        "script-src 'unsafe-inline'; connect-src 'self'");
    response.set_content(kStatusPageHtml, "text/html; charset=utf-8");
  });
  http_.Get("/api/status", [this](const httplib::Request&, httplib::Response& response) {
    response.set_content(StatusJson(board_), "application/json");
  });
  http_.Get("/image.jpg", [this](const httplib::Request&, httplib::Response& response) {
    const std::vector<std::uint8_t> jpeg = board_.LatestJpeg();
    if (jpeg.empty()) {
      response.status = 404;
      response.set_content("No image yet\n", "text/plain; charset=utf-8");
      return;
    }
    response.set_content(std::string(jpeg.begin(), jpeg.end()), "image/jpeg");
  });
  http_.Get("/timeline.png", [this](const httplib::Request&, httplib::Response& response) {
    std::vector<std::uint8_t> png;
    std::string error;
    if (!EncodePng(RenderNightTimeline(board_.Timeline(), 900), png, &error)) {
      response.status = 500;
      response.set_content(error + "\n", "text/plain; charset=utf-8");
      return;
    }
    response.set_content(std::string(png.begin(), png.end()), "image/png");
  });
  http_.Get("/api/events", [this](const httplib::Request&, httplib::Response& response) {
    // A stream holds a worker while it lasts: half of them stay for everything else.
    const int most = std::max(1, http_.Limits().Workers / 2);
    if (streams_.fetch_add(1) >= most) {
      streams_.fetch_sub(1);
      response.status = 503;
      response.set_header("Retry-After", "10");
      response.set_content("Too many pages follow the station now; /api/status answers\n", "text/plain; charset=utf-8");
      return;
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(streamSeconds_);
    auto seen = std::make_shared<long>(-1);
    response.set_header("X-Accel-Buffering", "no");
    response.set_chunked_content_provider("text/event-stream",
                                          [this, until, seen](std::size_t, httplib::DataSink& sink) {
                                            const long now = board_.WaitForChange(*seen, 1000);
                                            if (stopping_ || std::chrono::steady_clock::now() >= until) {
                                              sink.done();
                                              return true;
                                            }
                                            if (now == *seen) {
                                              static const std::string keepAlive = ": still here\n\n";
                                              return sink.write(keepAlive.data(), keepAlive.size());
                                            }
                                            *seen = now;
                                            const std::string event =
                                                "retry: 1000\ndata: " + StatusJson(board_) + "\n\n";
                                            if (!sink.write(event.data(), event.size())) return false;
                                            // A fast simulated night changes all the time: a few
                                            // events a second are all a reader can follow.
                                            std::this_thread::sleep_for(kEventSpacing);
                                            return true;
                                          },
                                          [this](bool) { streams_.fetch_sub(1); });
  });
}

bool StatusPage::Start(const std::string& address, const std::string& token, std::string* error) {
  const auto where = ParseStatusPageAddress(address, error);
  if (!where) return false;
  if (!IsLoopbackHost(where->Host) && token.empty()) {
    if (error) {
      *error = "the status page would serve " + where->Host +
               " beyond this computer without a token: set StatusToken, or serve on 127.0.0.1";
    }
    return false;
  }
  token_ = token;
  port_ = http_.Bind(where->Host, where->Port);
  if (port_ < 0) {
    if (error) *error = "cannot listen at " + address;
    return false;
  }
  http_.ListenOnThread();
  return true;
}

void StatusPage::Stop() {
  stopping_ = true;
  http_.Shutdown();
}

namespace {

// The page takes no bodies: a request with more than a line of one is refused as it starts.
HttpLimits StatusPageLimits() {
  HttpLimits limits;
  limits.MaxBodyBytes = 1024;
  return limits;
}

}  // namespace

StatusService::StatusService(StationCore& core) : core_(core), board_(core), page_(board_, StatusPageLimits()) {}

bool StatusService::Start(const std::string& address, std::string* error) {
  const std::string where = address.empty() ? core_.Settings.StatusPage : address;
  if (!page_.Start(where, core_.Settings.StatusToken, error)) return false;
  core_.LogTimed(": status page at http://" + where.substr(0, where.rfind(':')) + ":" + std::to_string(page_.Port()) + "/");
  return true;
}

}  // namespace noctarbel
