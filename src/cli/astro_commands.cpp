#include "cli/commands.h"

namespace noctarbel::cli {

void RegisterAstroCommands(CLI::App&, CliContext&) {}

}  // namespace noctarbel::cli
