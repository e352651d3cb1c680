// noctarbel-cli: the station without a window.

#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>

#include "cli/cli_context.h"
#include "cli/commands.h"
#include "common/text_file.h"

namespace noctarbel::cli {

std::string ErrorLine(const std::string& message) {
  std::string text = PrintableText(message);
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
  return "noctarbel-cli: " + text;
}

bool CliContext::EnsureStationFolder() {
  std::string error;
  if (EnsureFolder(Paths().Home, &error)) return true;
  Fail(error);
  return false;
}

void CliContext::Fail(const std::string& message, int code) {
  std::cerr << ErrorLine(message) << "\n";
  exitCode = code;
}

void CliContext::Note(const std::string& message) const { std::cerr << ErrorLine(message) << "\n"; }

namespace {

// Every command works in the station folder; one that names a file or cannot be created is a
// usage error before any command runs.
void CheckStationFolder(const CliContext& context) {
  if (std::string problem = StationFolderProblem(context.Paths().Home); !problem.empty()) {
    throw CLI::ValidationError(problem);
  }
}

// CLI11 says "A subcommand is required" when the word it got names no command; say which.
std::string UsageErrorText(const CLI::App& app, const CLI::ParseError& error) {
  if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr) {
    const std::vector<std::string> rest = app.remaining(true);
    if (!rest.empty() && !rest.front().empty() && rest.front()[0] != '-') return "Unknown command " + rest.front();
  }
  return error.what();
}

}  // namespace

}  // namespace noctarbel::cli

int main(int argc, char** argv) {
  using namespace noctarbel::cli;
  CliContext context;
  CLI::App app{"Noctarbel: unattended controller for a small robotic observatory (command line)", "noctarbel-cli"};
  app.set_version_flag("--version", "Noctarbel V. 1.212.1");
  app.add_option("--home", context.homeOption,
                 "Station folder (default: $NOCTARBEL_HOME, else $XDG_CONFIG_HOME/noctarbel)");
  app.require_subcommand(1);
  // Runs after the options are parsed and before any command's own callback.
  app.parse_complete_callback([&context] { CheckStationFolder(context); });
  RegisterSettingsCommands(app, context);
  RegisterPlanCommands(app, context);
  RegisterAstroCommands(app, context);
  RegisterImageCommands(app, context);
  RegisterDeviceCommands(app, context);
  RegisterCameraCommands(app, context);
  RegisterRunCommands(app, context);
  RegisterCalibrationCommands(app, context);
  RegisterFocusCommands(app, context);
  RegisterWatchCommands(app, context);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version end parsing with exit code 0 and print to standard output.
    if (e.get_exit_code() == 0) return app.exit(e);
    // Any other parse error of any command, present or future: one line, exit code 2.
    context.UsageError(UsageErrorText(app, e));
    return kUsageExitCode;
  } catch (const std::exception& e) {
    context.Fail(e.what());
    return 1;
  }
  return context.exitCode;
}
