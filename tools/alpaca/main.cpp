// noctarbel-alpaca: the built-in simulators (telescope 0, camera 0, focuser 0, filter wheel
// 0) as an Alpaca server, for any Alpaca client. Listens on 127.0.0.1 unless --bind says
// otherwise, prints where, and serves until SIGINT or SIGTERM.

#include <CLI/CLI.hpp>

#include <signal.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include "devices/alpaca/alpaca_discovery.h"
#include "devices/alpaca/server/alpaca_server.h"
#include "devices/sim/sim_world.h"

namespace {

constexpr const char* kProgram = "noctarbel-alpaca";

int UsageError(const std::string& message) {
  std::cerr << kProgram << ": " << message << " (see --help)\n";
  return 2;
}

// $XDG_CONFIG_HOME/noctarbel-alpaca, else ~/.config/noctarbel-alpaca; none without either.
std::string DefaultConfigFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && *config) return std::string(config) + "/noctarbel-alpaca";
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.config/noctarbel-alpaca";
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  using noctarbel::alpaca::AlpacaServer;
  using noctarbel::alpaca::ServerOptions;

  CLI::App app{"Serve Noctarbel's device simulators over ASCOM Alpaca", kProgram};
  ServerOptions options;
  double longitudeEast = -options.Site.LongitudeWestDeg;
  bool noDiscovery = false;
  int cameraWidth = 0;
  int cameraHeight = 0;
  app.add_option("--bind", options.BindAddress, "Address to listen on (0.0.0.0: every interface)")
      ->capture_default_str();
  app.add_option("--port", options.Port, "HTTP port (0: any free port)")
      ->check(CLI::Range(0, 65535))
      ->capture_default_str();
  app.add_option("--discovery-port", options.DiscoveryPort, "UDP port of the discovery responder")
      ->check(CLI::Range(0, 65535))
      ->capture_default_str();
  app.add_flag("--no-discovery", noDiscovery, "Do not answer discovery requests");
  app.add_option("--latitude", options.Site.LatitudeDeg, "Site latitude of the simulated mount, degrees north")
      ->check(CLI::Range(-90.0, 90.0))
      ->capture_default_str();
  app.add_option("--longitude", longitudeEast, "Site longitude of the simulated mount, degrees east")
      ->check(CLI::Range(-180.0, 180.0))
      ->capture_default_str();
  app.add_option("--camera-width", cameraWidth, "Sensor width of the simulated camera, pixels")
      ->check(CLI::Range(16, 20000));
  app.add_option("--camera-height", cameraHeight, "Sensor height of the simulated camera, pixels")
      ->check(CLI::Range(16, 20000));
  app.add_option("--location", options.Location, "Location text of the management description");
  std::string configFolder = DefaultConfigFolder();
  app.add_option("--config-dir", configFolder, "Folder that keeps the devices' UniqueIDs (one file per port)")
      ->capture_default_str();
  bool noAltAzSlews = false;
  bool noSlews = false;
  app.add_flag("--no-altaz-slews", noAltAzSlews, "The simulated mount has no slews to altitude and azimuth");
  app.add_flag("--no-slews", noSlews, "The simulated mount has no slews at all (neither to coordinates nor alt/az)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return UsageError(e.what());
  }
  options.Site.LongitudeWestDeg = -longitudeEast;
  options.Discovery = !noDiscovery;

  // Every thread inherits the blocked signals; the main thread waits for them below.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  options.ConfigFolder = configFolder;

  AlpacaServer server(options);
  server.WithWorld([&](noctarbel::SimWorld& world) {
    if (cameraWidth > 0) world.Camera.Config.Width = cameraWidth;
    if (cameraHeight > 0) world.Camera.Config.Height = cameraHeight;
    world.Mount.Config.CanSlewAltAz = !noAltAzSlews && !noSlews;
    world.Mount.Config.CanSlew = !noSlews;
  });
  try {
    server.Start();
  } catch (const std::exception& e) {
    std::cerr << kProgram << ": " << e.what() << "\n";
    return 1;
  }
  const noctarbel::alpaca::Endpoint where{options.BindAddress, server.Port()};
  std::cout << kProgram << ": serving the simulators at http://" << where.Text()
            << (noctarbel::alpaca::IsLoopbackAddress(options.BindAddress)
                    ? " (this computer only; --bind 0.0.0.0 serves the network)"
                    : "")
            << "\n";
  if (server.DiscoveryPort() > 0) {
    std::cout << kProgram << ": answering discovery on UDP port " << server.DiscoveryPort() << "\n";
  }
  std::cout << std::flush;

  int signal = 0;
  sigwait(&stopSignals, &signal);
  server.Stop();
  std::cout << kProgram << ": stopped" << std::endl;
  return 0;
}
