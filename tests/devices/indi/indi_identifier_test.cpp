// Identifiers and server lists: what the settings and the chooser hand to the backend.

#include <gtest/gtest.h>

#include "devices/device_interfaces.h"
#include "devices/indi/indi_address.h"

namespace noctarbel {
namespace {

TEST(IndiIdentifier, NamesServerAndDeviceWithItsBlanks) {
  IndiDeviceAddress a = ParseIndiIdentifier("  indi://localhost:7625/Telescope Simulator ");
  EXPECT_EQ(a.Server.Host, "localhost");
  EXPECT_EQ(a.Server.Port, 7625);
  EXPECT_EQ(a.Device, "Telescope Simulator");
  EXPECT_EQ(a.Identifier(), "indi://localhost:7625/Telescope Simulator");

  // Default port, scheme in any case, IPv6 in brackets, a slash inside the device name.
  a = ParseIndiIdentifier("INDI://obs.example.org/Atik 383L+ / Wheel");
  EXPECT_EQ(a.Server.Port, 7624);
  EXPECT_EQ(a.Device, "Atik 383L+ / Wheel");
  a = ParseIndiIdentifier("indi://[::1]:7700/CCD Simulator");
  EXPECT_EQ(a.Server.Host, "::1");
  EXPECT_EQ(a.Identifier(), "indi://[::1]:7700/CCD Simulator");
}

TEST(IndiIdentifier, MalformedIdentifiersAreRefusedWithTheReason) {
  for (const char* bad : {"sim:telescope", "indi://localhost:7624", "indi://localhost:7624/", "indi:///Device",
                          "indi://host:0/X", "indi://host:65536/X", "indi://host:76a/X", "indi://host:/X",
                          "indi://::1:7624/X", "indi://ho st/X", "indi://[::1/X"}) {
    try {
      ParseIndiIdentifier(bad);
      ADD_FAILURE() << bad << " accepted";
    } catch (const DeviceError& e) {
      EXPECT_NE(std::string(e.what()).find(bad), std::string::npos) << e.what();
    }
  }
}

TEST(IndiServerList, KeepsWellFormedServersOnceInOrder) {
  const auto servers = ParseIndiServerList(" localhost:7624, obs.local ,, bad:port, [fe80::1]:7000, localhost:7624");
  ASSERT_EQ(servers.size(), 3u);
  EXPECT_EQ(servers[0].Text(), "localhost:7624");
  EXPECT_EQ(servers[1].Text(), "obs.local:7624");
  EXPECT_EQ(servers[2].Text(), "[fe80::1]:7000");
  EXPECT_TRUE(ParseIndiServerList("").empty());
}

}  // namespace
}  // namespace noctarbel
