// The server against clients that are slow, idle or send too much: an ordinary request is
// still answered while floods of them last longer than the server's request deadline, an
// oversized body is refused as it starts without being read into memory, and the devices'
// UniqueIDs are made once per server and kept.

#include <gtest/gtest.h>
#include <poll.h>

#include <fstream>
#include <vector>

#include "devices/alpaca/server/unique_ids.h"
#include "tests/devices/alpaca/alpaca_fixture.h"
#include "tests/http_flood.h"

namespace noctarbel::testing {
namespace {

long ResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

TEST_F(AlpacaServerTest, SlowAndIdleClientsNeverKeepAnOrdinaryRequestWaiting) {
  struct Case {
    const char* Name;
    int Connections;
    std::string Opening;
    std::string Trickle;
    bool OverDeadline;  // the server must close them
  };
  const Case cases[] = {
      {"a header line now and then", 60, "GET /api/v1/telescope/0/connected HTTP/1.1\r\n", "X-Slow: 1\r\n", true},
      {"a body byte now and then", 40, "PUT /api/v1/telescope/0/connected HTTP/1.1\r\nContent-Length: 1000\r\n\r\n",
       "a", true},
      {"idle connections", 1000, "", "", false},
  };
  const auto lasting = std::chrono::milliseconds(server.Options().Http.RequestDeadlineMs + 1500);
  for (const Case& c : cases) {
    Flood flood(Port(), c.Connections, c.Opening, c.Trickle);
    const auto start = std::chrono::steady_clock::now();
    while (Since(start) < lasting) {
      const auto asked = std::chrono::steady_clock::now();
      EXPECT_EQ(Get("/api/v1/telescope/0/connected").Status, 200) << c.Name;
      // Answered in milliseconds; the bound only says that it was not held up.
      EXPECT_LT(Since(asked), std::chrono::seconds(5)) << c.Name;
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    if (c.OverDeadline) {
      EXPECT_TRUE(WaitUntil([&] { return flood.Closed() >= c.Connections; })) << c.Name;
    }
  }
}

// Streamed by the test as a client would send it, never built in memory.
TEST_F(AlpacaServerTest, AnOversizedBodyIsRefusedAsItStartsWithoutBeingRead) {
  constexpr size_t kBodyBytes = 300u << 20;
  const struct {
    std::string Framing;
    const char* Answer;
  } cases[] = {
      {"Content-Length: " + std::to_string(kBodyBytes) + "\r\n", "HTTP/1.1 413"},
      {"Transfer-Encoding: chunked\r\n", "HTTP/1.1 411"},
  };
  const std::string piece(64 * 1024, 'a');
  for (const auto& c : cases) {
    const long before = ResidentKb();
    const int fd = Connect(Port());
    ASSERT_GE(fd, 0);
    const std::string head = "PUT /api/v1/telescope/0/connected HTTP/1.1\r\nHost: 127.0.0.1\r\n" + c.Framing +
                             "Content-Type: application/x-www-form-urlencoded\r\n\r\n";
    ASSERT_EQ(::send(fd, head.data(), head.size(), MSG_NOSIGNAL), static_cast<ssize_t>(head.size()));
    std::string answer;
    for (size_t sent = 0; sent < kBodyBytes;) {
      pollfd p{fd, POLLIN | POLLOUT, 0};
      if (::poll(&p, 1, 10000) <= 0) break;
      if (p.revents & POLLIN) break;  // answered before the body is through
      const ssize_t n = ::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && errno != EAGAIN) break;  // the server has closed
      sent += n > 0 ? static_cast<size_t>(n) : 0;
    }
    char buffer[1024];
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 10000) > 0) {
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n > 0) answer.assign(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    EXPECT_EQ(answer.substr(0, 12), c.Answer) << answer;
    EXPECT_NE(answer.find("\r\n\r\n"), answer.size() - 4) << "no reason given: " << answer;
    EXPECT_LT(ResidentKb() - before, 16 * 1024) << c.Framing;
  }
  // Still serving.
  EXPECT_EQ(Get("/api/v1/telescope/0/connected").Status, 200);
}

TEST(AlpacaUniqueIds, MadeOncePerServerAndKept) {
  TempDir folder;
  const std::vector<DeviceType> types = {DeviceType::Telescope, DeviceType::Camera};
  const auto first = ServerUniqueIds(folder.Path(), 11111, types);
  ASSERT_EQ(first.size(), 2u);
  EXPECT_NE(first.at(DeviceType::Telescope), first.at(DeviceType::Camera));
  EXPECT_EQ(ServerUniqueIds(folder.Path(), 11111, types), first);   // a restart finds them
  const auto other = ServerUniqueIds(folder.Path(), 11112, types);  // another server beside it
  EXPECT_NE(other.at(DeviceType::Telescope), first.at(DeviceType::Telescope));
  EXPECT_NE(ServerUniqueIds({}, 11111, types), first);  // none kept without a folder

  // A damaged file is named and left as it is.
  const auto file = folder.Path() / "unique-ids-11111";
  std::ofstream(file) << "telescope not-a-uuid\n";
  try {
    ServerUniqueIds(folder.Path(), 11111, types);
    ADD_FAILURE() << "a damaged file was accepted";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("unique-ids-11111: line 1"), std::string::npos) << e.what();
  }
  std::ifstream in(file);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "telescope not-a-uuid\n");
}

}  // namespace
}  // namespace noctarbel::testing
