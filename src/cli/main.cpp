// noctarbel-cli: the station without a window.

#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>

#include "cli/cli_context.h"
#include "cli/commands.h"

namespace noctarbel::cli {

bool CliContext::EnsureStationFolder() {
  std::string error;
  if (EnsureFolder(Paths().Home, &error)) return true;
  Fail(error);
  return false;
}

void CliContext::Fail(const std::string& message, int code) {
  std::cerr << "noctarbel-cli: " << message << "\n";
  exitCode = code;
}

}  // namespace noctarbel::cli

int main(int argc, char** argv) {
  using namespace noctarbel::cli;
  CliContext context;
  CLI::App app{"Noctarbel: unattended controller for a small robotic observatory (command line)", "noctarbel-cli"};
  app.set_version_flag("--version", "Noctarbel V. 1.212.1");
  app.add_option("--home", context.homeOption,
                 "Station folder (default: $NOCTARBEL_HOME, else $XDG_CONFIG_HOME/noctarbel)");
  app.require_subcommand(1);
  RegisterSettingsCommands(app, context);
  RegisterPlanCommands(app, context);
  RegisterAstroCommands(app, context);
  RegisterImageCommands(app, context);
  RegisterDeviceCommands(app, context);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  } catch (const std::exception& e) {
    std::cerr << "noctarbel-cli: " << e.what() << "\n";
    return 1;
  }
  return context.exitCode;
}
