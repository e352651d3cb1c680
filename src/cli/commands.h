#pragma once
// Layer cli: noctarbel-cli. Builds the station core only (operations and automation),
// never the windows or the gui.
//
// The subcommands of noctarbel-cli, one registration function per subsystem.

namespace CLI {
class App;
}

namespace noctarbel::cli {

struct CliContext;

void RegisterSettingsCommands(CLI::App& app, CliContext& context);
void RegisterPlanCommands(CLI::App& app, CliContext& context);
void RegisterAstroCommands(CLI::App& app, CliContext& context);
void RegisterImageCommands(CLI::App& app, CliContext& context);
void RegisterDeviceCommands(CLI::App& app, CliContext& context);
void RegisterCameraCommands(CLI::App& app, CliContext& context);
void RegisterRunCommands(CLI::App& app, CliContext& context);
void RegisterCalibrationCommands(CLI::App& app, CliContext& context);
void RegisterFocusCommands(CLI::App& app, CliContext& context);
void RegisterWatchCommands(CLI::App& app, CliContext& context);

}  // namespace noctarbel::cli
