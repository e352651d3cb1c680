// The status page's server: loopback without a token, a token required everywhere once one
// is set, no serving beyond this computer without one, nothing that writes, and ordinary
// readers answered while slow clients and open event streams press on it.

#include <gtest/gtest.h>
#include <httplib.h>

#include <nlohmann/json.hpp>

#include "automation/status_page.h"
#include "common/event_runtime.h"
#include "operations/station_core.h"
#include "tests/http_flood.h"
#include "tests/test_support.h"

namespace noctarbel::testing {
namespace {

class StatusPageTest : public ::testing::Test {
 protected:
  httplib::Result Get(const std::string& path, const httplib::Headers& headers = {}) {
    httplib::Client http("127.0.0.1", page.Port());
    http.set_read_timeout(5);
    return http.Get(path, headers);
  }

  TempDir dir;
  std::unique_ptr<EventRuntime> clock = EventRuntime::WithVirtualClock(EncodeDateTime(2026, 12, 7, 18, 0, 0));
  StationCore core{*clock, StationPaths{dir.Path(), NOCTARBEL_SOURCE_DATA_DIR}};
  RunStatusBoard board{core};
  StatusPage page{board, HttpLimits{.RequestDeadlineMs = 500, .Workers = 4}};
};

TEST_F(StatusPageTest, ServesBeyondThisComputerOnlyWithAToken) {
  struct Case {
    const char* Address;
    const char* Token;
    bool Starts;
    const char* Says;
  };
  const Case cases[] = {
      {"0.0.0.0:0", "", false, "StatusToken"},
      {"192.168.1.20:8080", "", false, "StatusToken"},
      {"no-port", "", false, "HOST:PORT"},
      {"127.0.0.1:70000", "", false, "not a port"},
  };
  for (const Case& c : cases) {
    StatusPage refused(board);
    std::string error;
    EXPECT_FALSE(refused.Start(c.Address, c.Token, &error)) << c.Address;
    EXPECT_NE(error.find(c.Says), std::string::npos) << c.Address << ": " << error;
  }
}

TEST_F(StatusPageTest, ATokenOnceSetIsAskedOfEveryRequest) {
  std::string error;
  ASSERT_TRUE(page.Start("0.0.0.0:0", "s3cret", &error)) << error;
  struct Case {
    std::string Path;
    httplib::Headers Headers;
    int Status;
  };
  const Case cases[] = {
      {"/api/status", {}, 401},
      {"/", {}, 401},
      {"/api/status?token=wrong", {}, 401},
      {"/api/status", {{"Authorization", "Bearer s3cre"}}, 401},
      {"/api/status?token=s3cret", {}, 200},
      {"/api/status", {{"Authorization", "Bearer s3cret"}}, 200},
      {"/?token=s3cret", {}, 200},
  };
  for (const Case& c : cases) {
    const auto reply = Get(c.Path, c.Headers);
    ASSERT_TRUE(reply) << c.Path;
    EXPECT_EQ(reply->status, c.Status) << c.Path;
  }
}

TEST_F(StatusPageTest, NothingCanBeWritten) {
  std::string error;
  ASSERT_TRUE(page.Start("127.0.0.1:0", "", &error)) << error;
  httplib::Client http("127.0.0.1", page.Port());
  for (const char* path : {"/", "/api/status", "/api/events", "/image.jpg", "/settings"}) {
    for (const auto& reply : {http.Post(path, "x", "text/plain"), http.Put(path, "x", "text/plain"),
                              http.Delete(path), http.Patch(path, "x", "text/plain")}) {
      ASSERT_TRUE(reply) << path;
      EXPECT_EQ(reply->status, 405) << path;
    }
  }
  const auto status = Get("/api/status");
  ASSERT_TRUE(status);
  EXPECT_EQ(status->status, 200);
  const nlohmann::json json = nlohmann::json::parse(status->body);
  EXPECT_EQ(json["state"], "idle");
  EXPECT_EQ(Get("/image.jpg")->status, 404);  // no image yet
}

TEST_F(StatusPageTest, SlowClientsAndOpenStreamsDoNotKeepAReaderWaiting) {
  std::string error;
  page.SetStreamSeconds(60);
  ASSERT_TRUE(page.Start("127.0.0.1:0", "", &error)) << error;
  // As many event streams as there are workers, and clients trickling their headers.
  std::vector<std::thread> streams;
  for (int i = 0; i < 4; ++i) {
    streams.emplace_back([this] {
      httplib::Client http("127.0.0.1", page.Port());
      http.set_read_timeout(90);
      http.Get("/api/events", [](const char*, size_t) { return true; });
    });
  }
  {
    Flood flood(page.Port(), 40, "GET /api/status HTTP/1.1\r\n", "X-Slow: 1\r\n");
    for (int i = 0; i < 8; ++i) {
      const auto reply = Get("/api/status");
      ASSERT_TRUE(reply) << "request " << i;
      EXPECT_EQ(reply->status, 200);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  page.Stop();  // ends the streams still open
  for (auto& stream : streams) stream.join();
}

}  // namespace
}  // namespace noctarbel::testing
