#include "cli/commands.h"

namespace noctarbel::cli {

void RegisterDeviceCommands(CLI::App&, CliContext&) {}

}  // namespace noctarbel::cli
