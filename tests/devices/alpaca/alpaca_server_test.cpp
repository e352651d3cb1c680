// noctarbel-alpaca's server answering requests written by hand from the API reference:
// parameter casing, transaction IDs, HTTP 400 for what cannot be understood, the reference's
// error numbers, ImageBytes against the JSON array, management, setup pages and discovery.

#include <cmath>

#include <gtest/gtest.h>

#include "devices/alpaca/image_transfer.h"
#include "tests/devices/alpaca/alpaca_fixture.h"

namespace noctarbel::testing {
namespace {

constexpr const char* kScope = "/api/v1/telescope/0/";
constexpr const char* kCamera = "/api/v1/camera/0/";

std::string S(const char* base, const char* member) { return std::string(base) + member; }

TEST_F(AlpacaServerTest, ParameterNamesInAnyCaseAndTransactionIdsEchoed) {
  RawReply reply = Put(S(kScope, "connected"), "CONNECTED=True&clientid=9&CLIENTTRANSACTIONID=41&Unknown=1");
  ASSERT_EQ(reply.Status, 200) << reply.Body;
  EXPECT_NE(reply.ContentType.find("application/json"), std::string::npos);
  nlohmann::json answer = reply.Json();
  EXPECT_EQ(answer["ClientTransactionID"], 41);
  EXPECT_EQ(answer["ErrorNumber"], 0);
  EXPECT_EQ(answer["ErrorMessage"], "");
  EXPECT_FALSE(answer.contains("Value"));  // a method answers without one
  const auto first = answer["ServerTransactionID"].get<std::uint32_t>();
  EXPECT_GE(first, 1u);

  answer = Get(S(kScope, "connected?clienttransactionid=42&ClientID=9")).Json();
  EXPECT_EQ(answer["Value"], true);
  EXPECT_EQ(answer["ClientTransactionID"], 42);
  EXPECT_GT(answer["ServerTransactionID"].get<std::uint32_t>(), first);
  // None sent, or one that is not a number: echoed as 0, and no error.
  EXPECT_EQ(Get(S(kScope, "connected")).Json()["ClientTransactionID"], 0);
  answer = Get(S(kScope, "connected?ClientTransactionID=x")).Json();
  EXPECT_EQ(answer["ClientTransactionID"], 0);
  EXPECT_EQ(answer["ErrorNumber"], 0);
  // Numbers with "." only; booleans in any case.
  Do(S(kScope, "targetrightascension"), "targetrightascension=5.25");
  EXPECT_EQ(Get(S(kScope, "targetrightascension")).Json()["Value"], 5.25);
  Do(S(kScope, "tracking"), "Tracking=FALSE");
  EXPECT_EQ(Get(S(kScope, "tracking")).Json()["Value"], false);
}

TEST_F(AlpacaServerTest, WhatCannotBeUnderstoodIsHttp400WithAText) {
  Do(S(kScope, "connected"), "Connected=true");
  const std::pair<std::string, std::string> puts[] = {
      {S(kScope, "targetrightascension"), ""},                           // missing
      {S(kScope, "targetrightascension"), "TargetRightAscension=5,25"},  // malformed number
      {S(kScope, "tracking"), "Tracking=yes"},                           // malformed boolean
      {S(kScope, "slewtoaltazasync"), "Azimuth=10"},                     // one of two missing
      {S(kScope, "rightascension"), ""},                                 // read-only member
      {S(kScope, "connected"), "Connected=%zz"},                         // broken form encoding
      {"/api/v1/focuser/0/move", "Position=12.5"},                       // not an integer
  };
  for (const auto& [path, body] : puts) {
    const RawReply reply = Put(path, body);
    EXPECT_EQ(reply.Status, 400) << path << " " << body;
    EXPECT_FALSE(reply.Body.empty()) << path;
  }
  const char* gets[] = {
      "/api/v1/telescope/1/slewing",     "/api/v1/telescope/x/slewing", "/api/v1/dome/0/slewing",
      "/api/v1/telescope/0/Slewing",     "/api/v1/Telescope/0/slewing", "/api/v1/telescope/0/nosuchmember",
      "/api/v1/telescope/0/park",        "/api/v1/telescope/0",         "/api/v2/telescope/0/slewing",
      "/api/v1/telescope/0/canmoveaxis", "/api/v1/camera/0/binx/extra"};
  for (const char* path : gets) EXPECT_EQ(Get(path).Status, 400) << path;
  EXPECT_NE(Get("/api/v1/telescope/3/slewing").Body.find("no telescope number 3"), std::string::npos);
  // Other paths and methods are told why too, never with a bare status.
  const RawReply management = Get("/management/v2/configureddevices");
  EXPECT_EQ(management.Status, 400);
  EXPECT_NE(management.Body.find("Unknown management request"), std::string::npos) << management.Body;
  for (const char* path : {"/api/v1/telescope/0/park", "/nowhere"}) {
    const RawReply post = Raw(Port(), "POST", path, "x=1");
    EXPECT_GE(post.Status, 400) << path;
    EXPECT_NE(post.Body.find("Nothing answers POST"), std::string::npos) << path << ": " << post.Body;
  }
  // Understood but refused: 200 with the error number.
  EXPECT_EQ(Put(S(kScope, "targetdeclination"), "TargetDeclination=91").Status, 200);
}

TEST_F(AlpacaServerTest, RefusalsCarryTheReferencesErrorNumbers) {
  struct Refusal {
    const char* Method;
    std::string Path;
    const char* Body;
    int Number;
  };
  auto expect = [&](const std::vector<Refusal>& refusals) {
    for (const Refusal& r : refusals) {
      const RawReply reply = r.Method == std::string("GET") ? Get(r.Path) : Put(r.Path, r.Body);
      ASSERT_EQ(reply.Status, 200) << r.Path << ": " << reply.Body;
      const nlohmann::json answer = reply.Json();
      EXPECT_EQ(answer["ErrorNumber"].get<int>(), r.Number) << r.Path << " " << r.Body;
      EXPECT_FALSE(answer["ErrorMessage"].get<std::string>().empty()) << r.Path;
    }
  };
  expect({{"GET", S(kCamera, "cameraxsize"), "", 0x407},  // not connected
          {"PUT", S(kScope, "park"), "", 0x407}});
  Do(S(kScope, "connected"), "Connected=true");
  Do(S(kCamera, "connected"), "Connected=true");
  // The mount does not track yet, and the camera has taken nothing.
  expect({
      {"GET", S(kScope, "targetrightascension"), "", 0x402},  // value not set
      {"PUT", S(kScope, "slewtotargetasync"), "", 0x402},
      {"GET", S(kCamera, "lastexposureduration"), "", 0x402},
      {"GET", S(kCamera, "lastexposurestarttime"), "", 0x402},
      {"PUT", S(kScope, "targetdeclination"), "TargetDeclination=91", 0x401},  // invalid value
      {"PUT", S(kScope, "slewtoaltazasync"), "Azimuth=400&Altitude=10", 0x401},
      {"PUT", S(kCamera, "binx"), "BinX=9", 0x401},
      {"PUT", S(kScope, "moveaxis"), "Axis=0&Rate=1", 0x400},  // not implemented
      {"PUT", S(kScope, "sideofpier"), "SideOfPier=0", 0x400},
      {"PUT", S(kScope, "action"), "Action=open&Parameters=", 0x40C},  // action not implemented
      {"GET", S(kCamera, "imagearray"), "", 0x40B},                    // invalid operation
      // A slew to coordinates needs tracking, one to alt/az needs it off.
      {"PUT", S(kScope, "slewtocoordinatesasync"), "RightAscension=1&Declination=10", 0x40B},
  });
  Do(S(kScope, "tracking"), "Tracking=true");
  Do(S(kCamera, "startexposure"), "Duration=5&Light=true");
  expect({{"PUT", S(kScope, "slewtoaltazasync"), "Azimuth=90&Altitude=40", 0x40B},
          {"PUT", S(kCamera, "startexposure"), "Duration=1&Light=true", 0x40B}});
  Do(S(kScope, "tracking"), "Tracking=false");
  server.WithWorld([](SimWorld& w) { w.Mount.Config.CanSlewAltAz = false; });
  EXPECT_EQ(Get(S(kScope, "canslewaltazasync")).Json()["Value"], false);
  expect({{"PUT", S(kScope, "slewtoaltazasync"), "Azimuth=90&Altitude=40", 0x400}});
  server.WithWorld([](SimWorld& w) { w.Mount.Config.CanSlewAltAz = true; });

  Do(S(kScope, "park"));
  ASSERT_TRUE(WaitUntil([&] { return Get(S(kScope, "atpark")).Json()["Value"] == true; }));
  expect({{"PUT", S(kScope, "slewtoaltazasync"), "Azimuth=90&Altitude=40", 0x408},  // invalid while parked
          {"PUT", S(kScope, "pulseguide"), "Direction=0&Duration=100", 0x408}});
  Do(S(kScope, "unpark"));
  Do(S(kScope, "slewtoaltazasync"), "Azimuth=90&Altitude=40");
  EXPECT_EQ(Get(S(kScope, "slewing")).Json()["Value"], true);
}

// The side of the pier a slew will end on, and the side it did end on: west of the pier for a
// target east of the meridian, east of it for one west of the meridian.
TEST_F(AlpacaServerTest, TheMountTellsTheSideOfThePierBeforeAndAfterASlew) {
  Do(S(kScope, "connected"), "Connected=true");
  Do(S(kScope, "tracking"), "Tracking=true");
  for (const double hourAngle : {-1.0, 1.0}) {
    const double lst = Get(S(kScope, "siderealtime")).Json()["Value"].get<double>();
    const std::string target =
        "RightAscension=" + std::to_string(std::fmod(lst - hourAngle + 24, 24)) + "&Declination=30";
    const int side = hourAngle < 0 ? 1 : 0;
    EXPECT_EQ(Get(S(kScope, "destinationsideofpier?") + target).Json()["Value"], side) << hourAngle;
    Do(S(kScope, "slewtocoordinates"), target);
    EXPECT_EQ(Get(S(kScope, "sideofpier")).Json()["Value"], side) << hourAngle;
  }
}

TEST_F(AlpacaServerTest, SynchronousSlewsAnswerWhenTheMountHasArrived) {
  Do(S(kScope, "connected"), "Connected=true");
  Do(S(kScope, "slewtoaltaz"), "Azimuth=120&Altitude=45");
  EXPECT_EQ(Get(S(kScope, "slewing")).Json()["Value"], false);
  EXPECT_NEAR(Get(S(kScope, "altitude")).Json()["Value"].get<double>(), 45, 0.01);
  EXPECT_NEAR(Get(S(kScope, "azimuth")).Json()["Value"].get<double>(), 120, 0.01);
  // Park and FindHome start the movement and answer at once.
  Do(S(kScope, "findhome"));
  EXPECT_EQ(Get(S(kScope, "slewing")).Json()["Value"], true);
  EXPECT_EQ(Get(S(kScope, "athome")).Json()["Value"], false);
  ASSERT_TRUE(WaitUntil([&] { return Get(S(kScope, "athome")).Json()["Value"] == true; }));
}

TEST_F(AlpacaServerTest, ImageBytesHoldTheSameImageAsTheJsonArray) {
  Do(S(kCamera, "connected"), "Connected=true");
  Do(S(kCamera, "startexposure"), "Duration=0.01&Light=true");
  ASSERT_TRUE(WaitUntil([&] { return Get(S(kCamera, "imageready")).Json()["Value"] == true; }));
  EXPECT_EQ(Get(S(kCamera, "camerastate")).Json()["Value"], 0);
  EXPECT_EQ(Get(S(kCamera, "percentcompleted")).Json()["Value"], 100);
  EXPECT_EQ(Get(S(kCamera, "lastexposureduration")).Json()["Value"], 0.01);

  // The layout of either form is the protocol tests' (checked against bytes and texts written
  // by hand); here the server's part: the transaction numbers, the frame's size and the same
  // pixels in both.
  const RawReply bytes = Get(S(kCamera, "imagearray?ClientTransactionID=123"), {{"Accept", "application/imagebytes"}});
  ASSERT_EQ(bytes.Status, 200);
  EXPECT_EQ(bytes.ContentType, "application/imagebytes");
  const ImageBytesHeader h = ReadImageBytesHeader(bytes.Body);
  EXPECT_EQ(h.ClientTransactionID, 123u);
  EXPECT_GT(h.ServerTransactionID, 0u);
  EXPECT_EQ(h.TransmissionElementType, 8);  // UInt16: every value fits
  const RawReply json = Get(S(kCamera, "imagearray?ClientTransactionID=124"));
  ASSERT_EQ(json.Status, 200);
  EXPECT_EQ(json.Json()["ClientTransactionID"], 124);
  const ImageArrayData fromBytes = DecodeImageBytes(bytes.Body);
  EXPECT_EQ(fromBytes.Width, 64);
  EXPECT_EQ(fromBytes.Height, 48);
  EXPECT_TRUE(fromBytes.Pixels16 == DecodeImageJson(json.Body).Pixels16);
}

TEST_F(AlpacaServerTest, ImageBytesCarryAnErrorAsHeaderAndMessage) {
  Do(S(kCamera, "connected"), "Connected=true");
  const RawReply reply = Get(S(kCamera, "imagearray"), {{"Accept", "application/imagebytes"}});
  ASSERT_EQ(reply.Status, 200);
  EXPECT_EQ(reply.ContentType, "application/imagebytes");
  const ImageBytesHeader h = ReadImageBytesHeader(reply.Body);
  EXPECT_EQ(h.ErrorNumber, 0x40B);
  EXPECT_EQ(reply.Body.substr(static_cast<size_t>(h.DataStart)), "No image is ready");
}

TEST_F(AlpacaServerTest, APortInUseIsRefusedNotShared) {
  ServerOptions same = FreePorts();
  same.Port = Port();
  AlpacaServer second(same);
  EXPECT_THROW(second.Start(), std::runtime_error);
}

TEST_F(AlpacaServerTest, ManagementSetupPagesAndDiscovery) {
  nlohmann::json answer = Get("/management/apiversions?ClientTransactionID=3").Json();
  EXPECT_EQ(answer["Value"], nlohmann::json::array({1}));
  EXPECT_EQ(answer["ClientTransactionID"], 3);
  answer = Get("/management/v1/description").Json();
  for (const char* key : {"ServerName", "Manufacturer", "ManufacturerVersion", "Location"}) {
    EXPECT_TRUE(answer["Value"].contains(key)) << key;
  }
  const nlohmann::json devices = Get("/management/v1/configureddevices").Json()["Value"];
  ASSERT_EQ(devices.size(), 4u);
  std::set<std::string> types;
  for (const auto& device : devices) {
    types.insert(device["DeviceType"].get<std::string>());
    EXPECT_EQ(device["DeviceNumber"], 0);
    EXPECT_FALSE(device["DeviceName"].get<std::string>().empty());
    EXPECT_FALSE(device["UniqueID"].get<std::string>().empty());
  }
  EXPECT_EQ(types, (std::set<std::string>{"Telescope", "Camera", "Focuser", "FilterWheel"}));

  RawReply page = Get("/setup");
  EXPECT_EQ(page.Status, 200);
  EXPECT_NE(page.ContentType.find("text/html"), std::string::npos);
  EXPECT_NE(page.Body.find("/setup/v1/filterwheel/0/setup"), std::string::npos);
  EXPECT_EQ(Get("/setup/v1/filterwheel/0/setup").Status, 200);
  EXPECT_EQ(Get("/setup/v1/dome/0/setup").Status, 403);

  // The discovery message, by hand (our own discovery is the chooser's test).
  const int udp = ::socket(AF_INET, SOCK_DGRAM, 0);
  timeval wait{0, 300000};
  ::setsockopt(udp, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(server.DiscoveryPort()));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  char buffer[256] = {};
  ::sendto(udp, "hello", 5, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  EXPECT_LT(::recv(udp, buffer, sizeof buffer, 0), 0);  // not a discovery request: no answer
  ::sendto(udp, "alpacadiscovery1", 16, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  const ssize_t length = ::recv(udp, buffer, sizeof buffer, 0);
  ::close(udp);
  ASSERT_GT(length, 0);
  EXPECT_EQ(nlohmann::json::parse(std::string(buffer, static_cast<size_t>(length)))["AlpacaPort"], Port());
}

}  // namespace
}  // namespace noctarbel::testing
